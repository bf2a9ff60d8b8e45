// The screen saver: after a set idle time it becomes active, says so, and
// shows its text on a black screen at a random spot that moves every
// 3000 ms; any keyboard or mouse activity ends it.
#ifndef MARVO_VIEWS_SSAVER_H
#define MARVO_VIEWS_SSAVER_H

#include <string>

#include <allegro.h>

#include "engine/engine.h"
#include "engine/timer.h"

namespace Marvane {

class Screen_Saver_Event {
public:
    explicit Screen_Saver_Event(bool active) : active(active) {}
    bool is_active() const { return active; }

private:
    bool active;
};

class Screen_Saver_Listener {
public:
    virtual ~Screen_Saver_Listener() = default;
    virtual void screen_saver_changed_state(const Screen_Saver_Event* event) = 0;
};

class Screen_Saver_VC : public GameEngine::Updatable, public GameEngine::Drawable {
public:
    static constexpr unsigned int MOVE_INTERVAL_MS = 3000;

    Screen_Saver_VC(GameEngine::Engine* engine, FONT* font);
    ~Screen_Saver_VC() override;
    Screen_Saver_VC(const Screen_Saver_VC&) = delete;
    Screen_Saver_VC& operator=(const Screen_Saver_VC&) = delete;

    // Null allowed: then nobody is told.
    void set_screen_saver_listener(Screen_Saver_Listener* listener);
    // Idle seconds after which the saver starts; 0 switches it off.
    void set_start_after(unsigned int seconds);
    void set_text(const std::string& text);

    bool update() override;
    void draw(BITMAP* target) override;

    void set_random_text_location();
    void fire_changed_state_event(bool active);

    bool is_active() const { return active; }
    int get_text_x() const { return x; }
    int get_text_y() const { return y; }

private:
    GameEngine::Engine* engine;
    bool active;
    unsigned int start_after;
    Screen_Saver_Listener* listener;
    FONT* font;
    std::string text;
    GameEngine::Timer* timer;
    int x, y;
};

}  // namespace Marvane

#endif
