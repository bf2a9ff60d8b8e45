#include "engine/timer.h"

#include <algorithm>
#include <cstdint>

namespace GameEngine {

namespace {

// Milliseconds to cycles; the product wraps in 32 bits as the counters do.
uint32_t to_cycles(unsigned int ms, int32_t frequency)
{
    return static_cast<uint32_t>(ms * static_cast<uint32_t>(frequency)) / 1000u;
}

// Rescales a cycle count from one rate to another through the whole
// milliseconds it stands for, rounded to the nearest cycle. Exact integer
// arithmetic in 64 bits, so long timers neither wrap nor saturate.
uint32_t rescale(uint32_t count, int32_t old_frequency, uint32_t new_frequency)
{
    if (old_frequency <= 0) {
        return count;
    }
    uint64_t ms = static_cast<uint64_t>(count) * 1000u / static_cast<uint64_t>(old_frequency);
    uint64_t cycles = (ms * new_frequency + 500u) / 1000u;
    return cycles > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(cycles);
}

} // namespace

Timer_Impl::Timer_Impl(Timer_Manager *manager, int frequency)
    : m_manager(manager), m_frequency(frequency)
{
}

Timer_Impl::~Timer_Impl()
{
    m_manager->delete_timer(this);
}

void Timer_Impl::set(unsigned int ms)
{
    m_remaining = to_cycles(ms, m_frequency);
    m_interval = 0;
    m_running = 1;
}

void Timer_Impl::set_interval(unsigned int ms)
{
    m_remaining = m_interval = to_cycles(ms, m_frequency);
    m_running = 1;
}

void Timer_Impl::disable()
{
    m_remaining = 0;
    m_interval = 0;
    m_running = 0;
}

bool Timer_Impl::expired()
{
    return m_running == 1 && m_remaining == 0;
}

bool Timer_Impl::stopped()
{
    return m_running == 0;
}

void Timer_Impl::tick_tock()
{
    if (m_running != 1) {
        return;
    }
    if (m_remaining == 0) {
        if (m_interval == 0) {
            m_running = 0;
        } else {
            m_remaining = m_interval;
        }
    }
    --m_remaining;
}

void Timer_Impl::adjust_frequency(unsigned int frequency)
{
    if (m_running == 1) {
        m_remaining = rescale(m_remaining, m_frequency, frequency);
        m_interval = rescale(m_interval, m_frequency, frequency);
    }
    m_frequency = static_cast<int32_t>(frequency);
}

bool Timer_Manager::update()
{
    for (Timer_Impl *timer : m_timers) {
        timer->tick_tock();
    }
    return false;
}

Timer *Timer_Manager::create_timer()
{
    auto *timer = new Timer_Impl(this, static_cast<int>(m_frequency));
    m_timers.push_back(timer);
    return timer;
}

void Timer_Manager::delete_timer(Timer *timer)
{
    auto it = std::find(m_timers.begin(), m_timers.end(), timer);
    if (it != m_timers.end()) {
        m_timers.erase(it);
    }
}

void Timer_Manager::adjust_frequency(unsigned int frequency)
{
    m_frequency = frequency;
    for (Timer_Impl *timer : m_timers) {
        timer->adjust_frequency(frequency);
    }
}

} // namespace GameEngine
