#include "views/sshot.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "engine/keypress.h"
#include "engine/timer.h"
#include "support/jpeg.h"
#include "support/logfile.h"

namespace Marvane {

void jpeg_progress_monitor(void* data, int, int)
{
    static_cast<GameEngine::Engine*>(data)->poll_background_task();
}

static uint32_t be32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
static unsigned le16(const unsigned char* p)
{
    return p[0] | unsigned(p[1]) << 8;
}
static int32_t le32(const unsigned char* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

bool picture_size_from_header(const unsigned char* h, size_t n, uint64_t* w, uint64_t* ht)
{
    if (n >= 24 && h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G') {
        *w = be32(&h[16]);
        *ht = be32(&h[20]);
        return true;
    }
    if (n >= 26 && h[0] == 'B' && h[1] == 'M') {
        if (le32(&h[14]) == 12) {
            *w = le16(&h[18]);
            *ht = le16(&h[20]);
        } else {
            const int64_t width = le32(&h[18]), height = le32(&h[22]);
            *w = uint64_t(width < 0 ? -width : width);
            *ht = uint64_t(height < 0 ? -height : height);
        }
        return true;
    }
    if (n >= 12 && h[0] == 0x0A) {
        const int width = int(le16(&h[8])) - int(le16(&h[4])) + 1;
        const int height = int(le16(&h[10])) - int(le16(&h[6])) + 1;
        *w = uint64_t(std::max(width, 0));
        *ht = uint64_t(std::max(height, 0));
        return true;
    }
    return false;
}

// The library's PNG, BMP and PCX loaders take any size a header declares, so
// the size is peeked first and held to the limit that the JPEG loader keeps
// itself. Their sizes stand in the first 26 bytes.
static bool too_large_to_load(const std::string& file)
{
    unsigned char head[26];
    FILE* in = std::fopen(file.c_str(), "rb");
    if (!in)
        return false;
    const size_t got = std::fread(head, 1, sizeof head, in);
    std::fclose(in);
    uint64_t w = 0, h = 0;
    return picture_size_from_header(head, got, &w, &h) && w != 0 && h > MAX_PICTURE_PIXELS / w;
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
    // A negative delay (from the configuration) would wrap into an endless
    // one; it loads at once like 0.
    if (delay_ms <= 0) {
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
        if (!too_large_to_load(loaded_file))
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
    // A one-shot timer is expired for one cycle only, and a delay shorter
    // than a cycle is over before any: asked for after this update, its
    // expiry is never seen, but the timer has stopped by the next update.
    if (state == PENDING && (load_timer->expired() || load_timer->stopped())) {
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
