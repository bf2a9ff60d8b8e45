// The engine singleton, its fixed-rate main loop, the interfaces everything
// registered with it implements, its containers and its own overlay.
#ifndef MARVO_ENGINE_ENGINE_H
#define MARVO_ENGINE_ENGINE_H

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

struct BITMAP;

namespace GameEngine {

class Timer_Factory;
class Timer_Manager;
class Keypress_Factory;
class Keypress_Manager;
class Keypress_Watcher;
class Joystick_Factory;
class Joystick_Manager;

// Something that paints itself into the frame being drawn.
class Drawable {
public:
    virtual ~Drawable() = default;
    virtual void draw(BITMAP *target) = 0;
};

// Something advanced once per update cycle; true when its state changed.
class Updatable {
public:
    virtual ~Updatable() = default;
    virtual bool update() = 0;
};

// Work that must be given time often and irregularly (the music decoder).
class Background_Task {
public:
    virtual ~Background_Task() = default;
    virtual void poll() = 0;
    virtual void resume() = 0;
    virtual void suspend() = 0;
};

// Thrown by value when the engine cannot start.
class InitError {
public:
    explicit InitError(const std::string &message) : m_message(message) {}
    const std::string &error_string() const { return m_message; }

private:
    std::string m_message;
};

// Holds drawables and updatables by priority and visits them in ascending
// priority, equal priorities in order of addition. Holds, never owns.
// Entries may add or remove entries of the container visiting them.
class GEContainer : public Drawable, public Updatable {
public:
    GEContainer();
    ~GEContainer() override;
    GEContainer(const GEContainer &) = delete;
    GEContainer &operator=(const GEContainer &) = delete;

    void draw(BITMAP *target) override;
    bool update() override;

    void add_drawable(Drawable *drawable, int priority);
    void remove_drawable(Drawable *drawable);
    void add_updatable(Updatable *updatable, int priority);
    void remove_updatable(Updatable *updatable);

    // The walks in progress over one of the maps. While any runs, a removal
    // only blanks its entries (no walk's place is lost); the blanks are
    // erased when the last walk ends.
    struct Walks {
        int depth = 0;
        bool blanks = false;
    };

private:
    std::multimap<int32_t, Drawable *> m_drawables;
    std::multimap<int32_t, Updatable *> m_updatables;
    Walks m_draw_walks;
    Walks m_update_walks;
};

// The task the engine holds when no other is set.
class Null_Background_Task : public Background_Task {
public:
    ~Null_Background_Task() override = default;
    void poll() override {}
    void resume() override {}
    void suspend() override {}
};

class Engine_Manager;

// Counters shared with the library's timer and input threads. Only these are
// touched by the callbacks; every access is atomic.
extern std::atomic<uint32_t> Engine_cycle_counter;
extern std::atomic<uint32_t> Engine_frame_counter;
extern std::atomic<uint32_t> Engine_last_fps;
extern std::atomic<uint32_t> Engine_total_frames;
extern std::atomic<uint32_t> Engine_seconds;
extern std::atomic<uint32_t> Engine_idle_seconds;

void Engine_cycle_incrementor();
void Engine_one_second_timer();
void Engine_keyboard_callback(int scancode);
void Engine_mouse_callback(int flags);

// The letter keys that, held together, end the main loop at once.
extern const int Engine_exit_chord[3];

class Engine {
public:
    enum Animation_Method : int32_t {
        double_buffering = 0,
        page_flipping = 1
    };

    static Engine *get_instance();
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    void initialize_sound(bool use_software_mixer);
    void set_graphics_mode(int width, int height, int depth, bool fullscreen);
    void set_animation_mode(Animation_Method method, bool use_vram, bool vsync);
    void run();
    void stop();
    void catchup();
    void poll_background_task();
    void set_background_task(Background_Task *task);
    GEContainer *get_root_container();
    int updates_per_second() const { return 60; }
    int get_frames_per_second() const;
    double get_average_frames_per_second() const;
    int elapsed_seconds() const;
    int get_catchup() const;
    int get_idle_timer() const;
    void reset_idle_timer();
    Timer_Factory *get_timer_factory();
    Keypress_Factory *get_keypress_factory();
    Joystick_Factory *get_joystick_factory();
    int get_infinite_mouse_x() const;
    int get_infinite_mouse_y() const;
    void set_infinite_mouse_x(int x);
    void set_infinite_mouse_y(int y);

    static Engine *s_instance;

private:
    Engine();
    void log_os_type();
    void log_digi_card();
    void do_one_cycle();
    void get_keyboard_input();
    void draw_one_frame();
    void grab_screen();

    GEContainer *m_system_container = nullptr;
    GEContainer *m_root_container = nullptr;
    Background_Task *m_background_task = nullptr;
    Null_Background_Task *m_null_task = nullptr;
    BITMAP *m_target = nullptr;
    BITMAP *m_page0 = nullptr;
    BITMAP *m_page1 = nullptr;
    bool m_stop = false;
    bool m_pause = false;

public:
    // Read by the views; set only by set_animation_mode.
    int32_t animation_method = double_buffering;
    bool use_vram = false;

private:
    bool m_vsync = false;
    bool m_mouse_installed = false;
    int32_t m_mouse_x = 0;
    int32_t m_mouse_y = 0;
    int32_t m_page_index = 0;
    uint32_t m_last_cycle = 0;
    int32_t m_catchup = 0;
    Engine_Manager *m_overlay = nullptr;
    Timer_Manager *m_timer_manager = nullptr;
    Keypress_Manager *m_keypress_manager = nullptr;
    Joystick_Manager *m_joystick_manager = nullptr;
};

// The engine's own overlay: F11 shows the frame rate, F10 the idle time.
class Engine_Manager : public Updatable, public Drawable {
public:
    explicit Engine_Manager(Engine *engine);
    ~Engine_Manager() override;
    Engine_Manager(const Engine_Manager &) = delete;
    Engine_Manager &operator=(const Engine_Manager &) = delete;

    void toggle_flag(bool &flag);
    bool update() override;
    void draw(BITMAP *target) override;

private:
    Engine *m_engine;
    Keypress_Watcher *m_fps_key;
    Keypress_Watcher *m_idle_key;
    bool m_show_fps = false;
    bool m_show_idle = false;
};

} // namespace GameEngine

#endif
