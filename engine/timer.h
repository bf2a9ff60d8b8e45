// Timers counted in update cycles of the main loop, not in wall-clock time.
#ifndef MARVO_ENGINE_TIMER_H
#define MARVO_ENGINE_TIMER_H

#include <cstdint>
#include <list>

#include "engine/engine.h"

namespace GameEngine {

class Timer {
public:
    virtual ~Timer() = default;
    // One-shot: expired after ms converted to cycles.
    virtual void set(unsigned int ms) = 0;
    // Periodic: expired every ms converted to cycles.
    virtual void set_interval(unsigned int ms) = 0;
    virtual void disable() = 0;
    virtual bool expired() = 0;
    virtual bool stopped() = 0;
};

class Timer_Factory {
public:
    virtual ~Timer_Factory() = default;
    // The caller owns the timer and deletes it before the engine goes.
    virtual Timer *create_timer() = 0;
};

class Timer_Manager;

class Timer_Impl : public Timer {
public:
    Timer_Impl(Timer_Manager *manager, int frequency);
    ~Timer_Impl() override;
    Timer_Impl(const Timer_Impl &) = delete;
    Timer_Impl &operator=(const Timer_Impl &) = delete;

    void set(unsigned int ms) override;
    void set_interval(unsigned int ms) override;
    void disable() override;
    bool expired() override;
    bool stopped() override;

    void tick_tock();
    void adjust_frequency(unsigned int frequency);

private:
    Timer_Manager *m_manager;
    uint32_t m_interval = 0;
    uint32_t m_remaining = 0;
    int32_t m_frequency;
    int32_t m_running = 0;
};

class Timer_Manager : public Updatable, public Timer_Factory {
public:
    Timer_Manager() = default;
    ~Timer_Manager() override = default;
    Timer_Manager(const Timer_Manager &) = delete;
    Timer_Manager &operator=(const Timer_Manager &) = delete;

    bool update() override;
    Timer *create_timer() override;
    void delete_timer(Timer *timer);
    void adjust_frequency(unsigned int frequency);

private:
    uint32_t m_frequency = 1;
    std::list<Timer_Impl *> m_timers;
};

} // namespace GameEngine

#endif
