// Joystick watchers: a button or one end of a digital axis, watched like a
// key in continuous, one-time or auto-repeat mode.
#ifndef MARVO_ENGINE_JOYSTICK_H
#define MARVO_ENGINE_JOYSTICK_H

#include <cstdint>
#include <list>

#include "engine/engine.h"

namespace GameEngine {

class Timer;

class Joystick_Event {
public:
    virtual ~Joystick_Event() = default;
    virtual bool is_triggered() = 0;
};

class Joystick_Button_Event : public Joystick_Event {
public:
    // Indices above what the hardware has are lowered to the last one.
    Joystick_Button_Event(int joystick, int button);
    bool is_triggered() override;

private:
    int32_t m_joystick;
    int32_t m_button;
};

class Joystick_Digital_Axis_Event : public Joystick_Event {
public:
    // Negative end is left or up, positive end right or down.
    enum Position : int32_t { negative = 0, positive = 1 };

    Joystick_Digital_Axis_Event(int joystick, int stick, int axis, Position position);
    bool is_triggered() override;

private:
    int32_t m_joystick;
    int32_t m_stick;
    int32_t m_axis;
    Position m_position;
};

class Joystick_Watcher {
public:
    virtual ~Joystick_Watcher() = default;
    // Takes ownership of the event.
    virtual void set_joystick_event(Joystick_Event *event) = 0;
    virtual bool is_pressed() = 0;
    virtual void set_repeat(int initial_ms, int repeat_ms) = 0;
    virtual void set_continuous() = 0;
    virtual void set_one_time() = 0;
};

class Joystick_Factory {
public:
    // Takes ownership of the event (may be null: a watcher never pressed).
    // The caller owns the watcher and deletes it.
    virtual Joystick_Watcher *create_joystick_watcher(Joystick_Event *event) = 0;
    virtual bool is_joystick_detected() = 0;

protected:
    ~Joystick_Factory() = default;
};

class Joystick_Manager;

class Joystick_Watcher_Impl : public Joystick_Watcher {
public:
    enum Mode : int32_t { repeat = 0, continuous = 1, one_time = 2 };

    Joystick_Watcher_Impl(Joystick_Manager *manager, Timer *timer, Joystick_Event *event);
    ~Joystick_Watcher_Impl() override;
    Joystick_Watcher_Impl(const Joystick_Watcher_Impl &) = delete;
    Joystick_Watcher_Impl &operator=(const Joystick_Watcher_Impl &) = delete;

    void set_joystick_event(Joystick_Event *event) override;
    bool is_pressed() override;
    void set_repeat(int initial_ms, int repeat_ms) override;
    void set_continuous() override;
    void set_one_time() override;

    // Brings the watcher up to date; once per update cycle, by the manager.
    void watch();

private:
    void reset_state();

    int32_t m_mode = continuous;
    Joystick_Event *m_event;
    bool m_pressed = false;
    bool m_held = false;
    int32_t m_initial_delay = 0;
    int32_t m_repeat_delay = 0;
    Timer *m_timer;
    Joystick_Manager *m_manager;
};

// Stands in for a watcher without an event: never pressed.
class Null_Joystick_Watcher_Impl : public Joystick_Watcher {
public:
    void set_joystick_event(Joystick_Event *event) override;
    bool is_pressed() override { return false; }
    void set_repeat(int, int) override {}
    void set_continuous() override {}
    void set_one_time() override {}
};

class Joystick_Manager : public Joystick_Factory, public Updatable {
public:
    explicit Joystick_Manager(Engine *engine);
    ~Joystick_Manager() override = default;
    Joystick_Manager(const Joystick_Manager &) = delete;
    Joystick_Manager &operator=(const Joystick_Manager &) = delete;

    Joystick_Watcher *create_joystick_watcher(Joystick_Event *event) override;
    bool is_joystick_detected() override;
    void delete_joystick_watcher(Joystick_Watcher *watcher);
    bool update() override;

private:
    std::list<Joystick_Watcher_Impl *> m_watchers;
    Engine *m_engine;
};

} // namespace GameEngine

#endif
