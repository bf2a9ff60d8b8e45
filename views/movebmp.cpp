#include "views/movebmp.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "support/logfile.h"

namespace Marvane {

namespace {

void log_info(const char* message) {
    if (LogFile::vx_log)
        LogFile::vx_log->info(message);
}

// Masked blits from video memory pay off only when the hardware does them.
BITMAP* make_bitmap(GameEngine::Engine* engine, int width, int height) {
    int w = std::max(1, width), h = std::max(1, height);
    bool want_vram = engine && engine->use_vram && engine->animation_method == 1 &&
                     (gfx_capabilities & GFX_HW_VRAM_BLIT_MASKED);
    if (want_vram) {
        if (BITMAP* bitmap = create_video_bitmap(w, h)) {
            log_info("VRAM bitmap for movable bitmap");
            return bitmap;
        }
        log_info("No VRAM: memory bitmap for moveable bitmap");
    } else {
        log_info("No HW blit: memory bitmap for movable bitmap");
    }
    return create_bitmap(w, h);
}

fixed clamp_fixed(int64_t value) {
    return static_cast<fixed>(std::clamp<int64_t>(value, std::numeric_limits<fixed>::min(),
                                                  std::numeric_limits<fixed>::max()));
}

// One axis of a move: lands on the target once the next step would reach
// or pass it, so a truncated step never overshoots. A step truncated to
// nothing (less than a 65536th of a pixel per update left to go, as after
// an interrupted move) lands at once rather than never.
fixed advance(fixed current, fixed step, fixed target) {
    if (step == 0)
        return target;
    int64_t next = static_cast<int64_t>(current) + step;
    if (step > 0 ? next >= target : next <= target)
        return target;
    return static_cast<fixed>(next);
}

}  // namespace

Movable_Bitmap::Movable_Bitmap(GameEngine::Engine* engine, int width, int height)
    : engine(engine),
      bitmap(make_bitmap(engine, width, height)),
      width(width),
      height(height),
      x(0),
      y(0),
      step_x(0),
      step_y(0),
      target_x(0),
      target_y(0),
      clip_x1(0),
      clip_y1(0),
      clip_x2(itofix(SCREEN_W)),
      clip_y2(itofix(SCREEN_H)),
      state(STATE_STOPPED) {}

Movable_Bitmap::~Movable_Bitmap() {
    if (bitmap)
        destroy_bitmap(bitmap);
}

void Movable_Bitmap::move_to(int to_x, int to_y, int ms) {
    if (ms <= 0) {
        x = itofix(to_x);
        y = itofix(to_y);
        state = STATE_STOPPED;
        return;
    }
    unsigned int steps =
        static_cast<unsigned int>(ms) * static_cast<unsigned int>(engine->updates_per_second()) / 1000u;
    target_x = to_x;
    target_y = to_y;
    // Dividing the 16.16 distance by the step count truncates toward zero,
    // so the last update clamps: a move lasts steps or steps + 1 updates.
    // No steps at all (a very short move) covers the distance in one.
    int64_t divisor = steps == 0 ? 1 : steps;
    step_x = clamp_fixed((static_cast<int64_t>(itofix(to_x)) - x) / divisor);
    step_y = clamp_fixed((static_cast<int64_t>(itofix(to_y)) - y) / divisor);
    state = (step_x == 0 && step_y == 0) ? STATE_STOPPED : STATE_MOVING;
}

bool Movable_Bitmap::is_stopped() const { return state == STATE_STOPPED; }

void Movable_Bitmap::set_clip(int x1, int y1, int x2, int y2) {
    clip_x1 = itofix(x1);
    clip_y1 = itofix(y1);
    clip_x2 = itofix(x2);
    clip_y2 = itofix(y2);
}

BITMAP* Movable_Bitmap::get_bitmap() const { return bitmap; }

bool Movable_Bitmap::update() {
    if (state == STATE_STOPPED)
        return false;
    fixed tx = itofix(target_x), ty = itofix(target_y);
    x = advance(x, step_x, tx);
    y = advance(y, step_y, ty);
    if (x == tx && y == ty)
        state = STATE_STOPPED;
    return true;
}

void Movable_Bitmap::draw(BITMAP* target) {
    if (!bitmap)
        return;
    int64_t top = std::max<int64_t>(y, clip_y1);
    int64_t bottom = std::min<int64_t>(static_cast<int64_t>(y) + itofix(height - 1), clip_y2);
    int64_t left = std::max<int64_t>(x, clip_x1);
    int64_t right = std::min<int64_t>(static_cast<int64_t>(x) + itofix(width - 1), clip_x2);
    int rows = fixtoi(clamp_fixed(bottom - top + itofix(1)));
    int columns = fixtoi(clamp_fixed(right - left + itofix(1)));
    if (rows <= 0 || columns <= 0)
        return;
    masked_blit(bitmap, target, fixtoi(clamp_fixed(left - x)), fixtoi(clamp_fixed(top - y)),
                fixtoi(clamp_fixed(left)), fixtoi(clamp_fixed(top)), columns, rows);
}

}  // namespace Marvane
