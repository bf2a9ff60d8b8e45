#include "views/sshot.h"

#include <algorithm>

#include "engine/keypress.h"
#include "engine/timer.h"
#include "support/jpeg.h"
#include "support/logfile.h"

namespace Marvane {

void jpeg_progress_monitor(void* data, int, int)
{
    static_cast<GameEngine::Engine*>(data)->poll_background_task();
}

static void log_info(const char* message)
{
    if (LogFile::vx_log)
        LogFile::vx_log->info(message);
}

Screen_Shot::Screen_Shot(GameEngine::Engine* engine)
    : brightness(0)
{
    width = SCREEN_W;
    height = SCREEN_H;
    x = 0;
    y = 0;
    has_image = false;
    state = IDLE;

    jpg_register_progress_monitor(engine, jpeg_progress_monitor);

    const bool want_vram = engine->use_vram && engine->animation_method == GameEngine::Engine::page_flipping &&
                           (gfx_capabilities & GFX_HW_VRAM_BLIT);
    if (want_vram)
        display = create_video_bitmap(width, height);
    if (display) {
        log_info("VRAM bitmap for screen shot");
    } else {
        log_info(want_vram ? "No VRAM: memory bitmap for screen shot" : "No HW blit: memory bitmap for screen shot");
        // Without a screen there is nothing to prepare; the view then only
        // clears its target.
        if (width > 0 && height > 0)
            display = create_bitmap(width, height);
    }
    if (display)
        clear_bitmap(display);

    null_listener = new Null_Screen_Shot_Listener;
    listener = null_listener;
    toggle_key = engine->get_keypress_factory()->create_keypress_watcher(0);
    toggle_key->set_one_time();
    load_timer = engine->get_timer_factory()->create_timer();
}

Screen_Shot::~Screen_Shot()
{
    // The monitor's data is the engine, which outlives this view only
    // briefly; later loads must not poll through it.
    jpg_register_progress_monitor(nullptr, nullptr);
    if (display)
        destroy_bitmap(display);
    if (picture)
        destroy_bitmap(picture);
    delete null_listener;
    delete toggle_key;
    delete load_timer;
}

void Screen_Shot::set_bitmap(const std::string& file, fix new_brightness, int delay_ms)
{
    requested_file = file;
    brightness = new_brightness;
    if (delay_ms == 0) {
        load_timer->disable();
        update_bitmap();
        state = IDLE;
    } else {
        load_timer->set(unsigned(delay_ms));
        state = PENDING;
    }
}

void Screen_Shot::cancel_set_bitmap()
{
    if (state != PENDING)
        return;
    requested_file = loaded_file;
    load_timer->disable();
    state = IDLE;
}

void Screen_Shot::update_bitmap()
{
    if (requested_file.empty() || brightness == fix(0)) {
        has_image = false;
        return;
    }
    if (requested_file != loaded_file) {
        if (picture)
            destroy_bitmap(picture);
        picture = nullptr;
        loaded_file = requested_file;
        PALETTE scratch;
        picture = load_bitmap(loaded_file.c_str(), scratch);
        if (!picture) {
            has_image = false;
            return;
        }
    }
    if (!picture || !display || picture->w <= 0 || picture->h <= 0) {
        has_image = false;
        return;
    }

    const int pw = picture->w, ph = picture->h;
    int scaled_w = 0, scaled_h = 0;
    const int k = std::min(width / pw, height / ph);
    if (prefer_integer_scaling && k >= 1) {
        scaled_w = k * pw;
        scaled_h = k * ph;
    } else {
        const long double f = std::min((long double)width / pw, (long double)height / ph);
        scaled_w = int(pw * f);
        scaled_h = int(ph * f);
    }
    const int left = (width - scaled_w) / 2;
    const int top = (height - scaled_h) / 2;

    BITMAP* source = picture;
    BITMAP* darkened = nullptr;
    if (brightness != fix(100)) {
        // Percentages outside 0 to 100 would give alphas the blender cannot
        // take; they show the picture black or unchanged instead.
        const int alpha =
            std::clamp(fixtoi(fixdiv(fixmul(brightness.v, itofix(255)), itofix(100))), 0, 255);
        darkened = create_bitmap(pw, ph);
        if (!darkened)
            return;
        clear_to_color(darkened, 0);
        set_trans_blender(0, 0, 0, alpha);
        draw_trans_sprite(darkened, picture, 0, 0);
        source = darkened;
    } else if (bitmap_color_depth(picture) != bitmap_color_depth(display)) {
        // stretch_blit copies between equal depths only.
        darkened = create_bitmap(pw, ph);
        if (!darkened)
            return;
        blit(picture, darkened, 0, 0, 0, 0, pw, ph);
        source = darkened;
    }
    clear_bitmap(display);
    stretch_blit(source, display, 0, 0, pw, ph, left, top, scaled_w, scaled_h);
    if (darkened)
        destroy_bitmap(darkened);
    has_image = true;
}

void Screen_Shot::draw(BITMAP* target)
{
    if (has_image)
        blit(display, target, 0, 0, x, y, display->w, display->h);
    else
        clear_bitmap(target);
}

bool Screen_Shot::update()
{
    if (toggle_key->is_pressed())
        listener->toggle_screen_shot();
    if (state == PENDING && load_timer->expired()) {
        update_bitmap();
        state = IDLE;
        return true;
    }
    return false;
}

void Screen_Shot::set_listener(Screen_Shot_Listener* new_listener)
{
    listener = new_listener ? new_listener : null_listener;
}

void Screen_Shot::set_toggle_key(int scancode)
{
    toggle_key->set_scancode(scancode);
}

void Screen_Shot::set_prefer_integer_scaling(bool prefer)
{
    prefer_integer_scaling = prefer;
}

}  // namespace Marvane
