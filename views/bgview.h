// Watches the two music keys (skip to the next song, start the song over)
// and reports their presses.
#ifndef MARVO_VIEWS_BGVIEW_H
#define MARVO_VIEWS_BGVIEW_H

#include "engine/engine.h"
#include "engine/keypress.h"

namespace Marvane {

class Background_Music_Event {};

class Background_Music_Listener {
public:
    virtual ~Background_Music_Listener() = default;
    virtual void skip_to_next_song(const Background_Music_Event* event) = 0;
    virtual void start_song_over(const Background_Music_Event* event) = 0;
};

class Null_Background_Music_Listener : public Background_Music_Listener {
public:
    void skip_to_next_song(const Background_Music_Event*) override {}
    void start_song_over(const Background_Music_Event*) override {}
};

class Background_Music_VC : public GameEngine::Updatable {
public:
    explicit Background_Music_VC(GameEngine::Engine* engine);
    ~Background_Music_VC() override;
    Background_Music_VC(const Background_Music_VC&) = delete;
    Background_Music_VC& operator=(const Background_Music_VC&) = delete;

    // Allegro key codes.
    void set_skip_key(int key);
    void set_start_over_key(int key);
    // Null restores the do-nothing listener.
    void set_listener(Background_Music_Listener* listener);
    bool update() override;

private:
    GameEngine::Keypress_Watcher* skip_key;
    GameEngine::Keypress_Watcher* start_over_key;
    Background_Music_Listener* listener;
    Null_Background_Music_Listener* null_listener;
};

}  // namespace Marvane

#endif
