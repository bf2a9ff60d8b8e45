#include "engine/keypress.h"

#include <algorithm>

#include <allegro.h>

#include "engine/timer.h"

namespace GameEngine {

void reset_press_state(int32_t mode, bool &pressed, bool &held, bool *artificial, Timer *timer)
{
    pressed = false;
    held = false;
    if (artificial) {
        *artificial = false;
    }
    if (mode == Keypress_Watcher_Impl::repeat) {
        timer->disable();
    }
}

void watch_press(bool down, int32_t mode, bool &pressed, bool &held, bool *artificial,
                 Timer *timer, int32_t initial_delay, int32_t repeat_delay)
{
    bool ignored = false;
    bool &repeated = artificial ? *artificial : ignored;
    if (!down) {
        if (held) {
            reset_press_state(mode, pressed, held, artificial, timer);
        }
        return;
    }
    switch (mode) {
    case Keypress_Watcher_Impl::continuous:
        pressed = true;
        if (held) {
            repeated = true;
        }
        break;
    case Keypress_Watcher_Impl::one_time:
        pressed = !held;
        break;
    case Keypress_Watcher_Impl::repeat:
        if (!held) {
            pressed = true;
            repeated = false;
            timer->set(static_cast<unsigned int>(initial_delay));
        } else if (timer->expired()) {
            pressed = true;
            repeated = true;
            timer->set(static_cast<unsigned int>(repeat_delay));
        } else {
            pressed = false;
            repeated = false;
        }
        break;
    default:
        break;
    }
    held = true;
}

Keypress_Watcher_Impl::Keypress_Watcher_Impl(Keypress_Manager *manager, Timer *timer)
    : m_timer(timer), m_manager(manager)
{
}

Keypress_Watcher_Impl::~Keypress_Watcher_Impl()
{
    delete m_timer;
    m_manager->delete_keypress_watcher(this);
}

void Keypress_Watcher_Impl::set_scancode(int scancode)
{
    m_scancode = scancode;
}

bool Keypress_Watcher_Impl::is_pressed()
{
    return m_pressed;
}

bool Keypress_Watcher_Impl::is_artificial()
{
    return m_artificial;
}

bool Keypress_Watcher_Impl::is_physically_pressed()
{
    // A code outside the library's table is never down.
    return m_scancode >= 0 && m_scancode < KEY_MAX && key[m_scancode] != 0;
}

void Keypress_Watcher_Impl::reset_state()
{
    reset_press_state(m_mode, m_pressed, m_held, &m_artificial, m_timer);
}

void Keypress_Watcher_Impl::set_repeat(int initial_ms, int repeat_ms)
{
    reset_state();
    m_initial_delay = initial_ms;
    m_repeat_delay = repeat_ms;
    m_mode = repeat;
}

void Keypress_Watcher_Impl::set_continuous()
{
    reset_state();
    m_mode = continuous;
}

void Keypress_Watcher_Impl::set_one_time()
{
    reset_state();
    m_mode = one_time;
}

void Keypress_Watcher_Impl::watch()
{
    watch_press(is_physically_pressed(), m_mode, m_pressed, m_held, &m_artificial, m_timer,
                m_initial_delay, m_repeat_delay);
}

Keypress_Manager::Keypress_Manager(Engine *engine) : m_engine(engine)
{
}

Keypress_Watcher *Keypress_Manager::create_keypress_watcher(int scancode)
{
    Timer *timer = m_engine->get_timer_factory()->create_timer();
    auto *watcher = new Keypress_Watcher_Impl(this, timer);
    watcher->set_scancode(scancode);
    m_watchers.push_back(watcher);
    return watcher;
}

void Keypress_Manager::delete_keypress_watcher(Keypress_Watcher *watcher)
{
    auto it = std::find(m_watchers.begin(), m_watchers.end(), watcher);
    if (it != m_watchers.end()) {
        m_watchers.erase(it);
    }
}

bool Keypress_Manager::update()
{
    for (Keypress_Watcher_Impl *watcher : m_watchers) {
        watcher->watch();
    }
    return false;
}

} // namespace GameEngine
