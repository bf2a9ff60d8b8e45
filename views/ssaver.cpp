#include "views/ssaver.h"

#include <cstdlib>

namespace Marvane {

namespace {
// A spot in [0, free) when there is free room; a text as wide (or high) as
// the screen or more starts at the screen's edge so that its beginning
// shows.
int random_spot(int free_room) { return free_room > 0 ? std::rand() % free_room : 0; }
}  // namespace

Screen_Saver_VC::Screen_Saver_VC(GameEngine::Engine* engine, FONT* font)
    : engine(engine),
      active(false),
      start_after(0),
      listener(nullptr),
      font(font),
      timer(engine->get_timer_factory()->create_timer()),
      x(0),
      y(0) {}

Screen_Saver_VC::~Screen_Saver_VC() { delete timer; }

void Screen_Saver_VC::set_screen_saver_listener(Screen_Saver_Listener* new_listener) {
    listener = new_listener;
}

void Screen_Saver_VC::set_start_after(unsigned int seconds) { start_after = seconds; }

void Screen_Saver_VC::set_text(const std::string& new_text) { text = new_text; }

bool Screen_Saver_VC::update() {
    if (start_after == 0)
        return false;
    unsigned int idle = static_cast<unsigned int>(engine->get_idle_timer());
    if (!active) {
        if (idle >= start_after) {
            active = true;
            fire_changed_state_event(true);
            set_random_text_location();
            timer->set_interval(MOVE_INTERVAL_MS);
        }
    } else if (idle < start_after) {
        timer->disable();
        active = false;
        fire_changed_state_event(false);
    } else if (timer->expired()) {
        set_random_text_location();
    }
    return false;
}

void Screen_Saver_VC::draw(BITMAP* target) {
    clear_bitmap(target);
    textout_ex(target, font, text.c_str(), x, y, makecol(255, 255, 255), makecol(0, 0, 0));
}

void Screen_Saver_VC::set_random_text_location() {
    x = random_spot(SCREEN_W - text_length(font, text.c_str()));
    y = random_spot(SCREEN_H - text_height(font));
}

void Screen_Saver_VC::fire_changed_state_event(bool now_active) {
    if (!listener)
        return;
    Screen_Saver_Event event(now_active);
    listener->screen_saver_changed_state(&event);
}

}  // namespace Marvane
