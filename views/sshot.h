// The full-screen picture behind the game menu: loaded (optionally after a
// delay), scaled to the screen, darkened and centred once per request.
#pragma once

#include <allegro.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/engine.h"

namespace GameEngine {
class Timer;
class Keypress_Watcher;
}  // namespace GameEngine

namespace Marvane {

// Told of presses of the screen-shot key. Never deleted through this
// interface.
class Screen_Shot_Listener {
public:
    virtual void toggle_screen_shot() = 0;

protected:
    ~Screen_Shot_Listener() = default;
};

class Null_Screen_Shot_Listener final : public Screen_Shot_Listener {
public:
    void toggle_screen_shot() override {}
};

// Progress callback for the JPEG loader: keeps the engine's background task
// (the music) going during long decodes. data is the engine.
void jpeg_progress_monitor(void* data, int rows_done, int image_height);

// The picture size that the start of a PNG, BMP or PCX file declares; false
// when the bytes do not say. Pictures declaring more than 4096 x 4096 pixels
// are not loaded (the JPEG loader refuses them itself).
bool picture_size_from_header(const unsigned char* data, std::size_t size, uint64_t* width, uint64_t* height);

class Screen_Shot : public GameEngine::Drawable, public GameEngine::Updatable {
public:
    explicit Screen_Shot(GameEngine::Engine* engine);
    ~Screen_Shot() override;
    Screen_Shot(const Screen_Shot&) = delete;
    Screen_Shot& operator=(const Screen_Shot&) = delete;

    // Ask for file at brightness percent (16.16), now (delay 0) or after
    // delay_ms; a later request while pending replaces this one.
    void set_bitmap(const std::string& file, fix brightness, int delay_ms);
    void cancel_set_bitmap();
    void update_bitmap();

    void draw(BITMAP* target) override;
    bool update() override;

    void set_listener(Screen_Shot_Listener* listener);
    void set_toggle_key(int scancode);
    void set_prefer_integer_scaling(bool prefer);

protected:
    enum State { IDLE = 0, PENDING = 1 };

    BITMAP* picture = nullptr;
    BITMAP* display = nullptr;
    bool has_image = false;
    int state = IDLE;
    std::string loaded_file;
    std::string requested_file;
    fix brightness;
    GameEngine::Timer* load_timer = nullptr;
    bool prefer_integer_scaling = true;
    int width = 0, height = 0;
    int x = 0, y = 0;
    GameEngine::Keypress_Watcher* toggle_key = nullptr;
    Screen_Shot_Listener* listener = nullptr;
    Null_Screen_Shot_Listener* null_listener = nullptr;
};

}  // namespace Marvane
