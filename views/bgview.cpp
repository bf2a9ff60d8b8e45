#include "views/bgview.h"

namespace Marvane {

namespace {
GameEngine::Keypress_Watcher* one_time_watcher(GameEngine::Engine* engine) {
    GameEngine::Keypress_Watcher* watcher = engine->get_keypress_factory()->create_keypress_watcher(0);
    watcher->set_one_time();
    return watcher;
}
}  // namespace

Background_Music_VC::Background_Music_VC(GameEngine::Engine* engine)
    : skip_key(one_time_watcher(engine)),
      start_over_key(one_time_watcher(engine)),
      listener(nullptr),
      null_listener(new Null_Background_Music_Listener) {
    listener = null_listener;
}

Background_Music_VC::~Background_Music_VC() {
    delete skip_key;
    delete start_over_key;
    delete null_listener;
}

void Background_Music_VC::set_skip_key(int key) { skip_key->set_scancode(key); }

void Background_Music_VC::set_start_over_key(int key) { start_over_key->set_scancode(key); }

void Background_Music_VC::set_listener(Background_Music_Listener* new_listener) {
    listener = new_listener ? new_listener : null_listener;
}

bool Background_Music_VC::update() {
    Background_Music_Event event;
    if (skip_key->is_pressed())
        listener->skip_to_next_song(&event);
    if (start_over_key->is_pressed())
        listener->start_song_over(&event);
    return false;
}

}  // namespace Marvane
