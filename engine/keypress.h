// Key watchers: whether a key counts as pressed in this update cycle, in
// continuous, one-time or auto-repeat mode.
#ifndef MARVO_ENGINE_KEYPRESS_H
#define MARVO_ENGINE_KEYPRESS_H

#include <cstdint>
#include <list>

#include "engine/engine.h"

namespace GameEngine {

class Timer;

// The watching steps that key and joystick watchers share. Joystick
// watchers have no artificial flag and pass null for it.
void reset_press_state(int32_t mode, bool &pressed, bool &held, bool *artificial, Timer *timer);
void watch_press(bool down, int32_t mode, bool &pressed, bool &held, bool *artificial,
                 Timer *timer, int32_t initial_delay, int32_t repeat_delay);

class Keypress_Watcher {
public:
    virtual ~Keypress_Watcher() = default;
    virtual void set_scancode(int scancode) = 0;
    virtual bool is_pressed() = 0;
    // The current press is a repeat, not a physical press.
    virtual bool is_artificial() = 0;
    // The key state right now, not as of this cycle.
    virtual bool is_physically_pressed() = 0;
    virtual void set_repeat(int initial_ms, int repeat_ms) = 0;
    virtual void set_continuous() = 0;
    virtual void set_one_time() = 0;
};

class Keypress_Factory {
public:
    // The caller owns the watcher (continuous mode) and deletes it.
    virtual Keypress_Watcher *create_keypress_watcher(int scancode) = 0;

protected:
    ~Keypress_Factory() = default;
};

class Keypress_Manager;

class Keypress_Watcher_Impl : public Keypress_Watcher {
public:
    enum Mode : int32_t { repeat = 0, continuous = 1, one_time = 2 };

    Keypress_Watcher_Impl(Keypress_Manager *manager, Timer *timer);
    ~Keypress_Watcher_Impl() override;
    Keypress_Watcher_Impl(const Keypress_Watcher_Impl &) = delete;
    Keypress_Watcher_Impl &operator=(const Keypress_Watcher_Impl &) = delete;

    void set_scancode(int scancode) override;
    bool is_pressed() override;
    bool is_artificial() override;
    bool is_physically_pressed() override;
    void set_repeat(int initial_ms, int repeat_ms) override;
    void set_continuous() override;
    void set_one_time() override;

    // Brings the watcher up to date; once per update cycle, by the manager.
    void watch();

private:
    void reset_state();

    int32_t m_mode = continuous;
    int32_t m_scancode = 0;
    bool m_artificial = false;
    bool m_pressed = false;
    bool m_held = false;
    int32_t m_initial_delay = 0;
    int32_t m_repeat_delay = 0;
    Timer *m_timer;
    Keypress_Manager *m_manager;
};

class Keypress_Manager : public Keypress_Factory, public Updatable {
public:
    explicit Keypress_Manager(Engine *engine);
    ~Keypress_Manager() override = default;
    Keypress_Manager(const Keypress_Manager &) = delete;
    Keypress_Manager &operator=(const Keypress_Manager &) = delete;

    Keypress_Watcher *create_keypress_watcher(int scancode) override;
    void delete_keypress_watcher(Keypress_Watcher *watcher);
    bool update() override;

private:
    std::list<Keypress_Watcher_Impl *> m_watchers;
    Engine *m_engine;
};

} // namespace GameEngine

#endif
