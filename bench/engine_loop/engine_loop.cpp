// One pass of the engine's main loop at 800x600x16 with double buffering
// and empty containers, split into the loop's own work (polls, update and
// draw walks, counters) and the library's blit of the back buffer to the
// window. Both are given as shares of one 16.7 ms frame.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <allegro.h>

#include "engine/engine.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int warm_up_passes = 50;
constexpr int measured_passes = 3000;
constexpr double frame_ns = 1e9 / 60.0;

// The blit is timed inside the pass by wrapping the screen's own method.
void (*library_blit)(BITMAP *, BITMAP *, int, int, int, int, int, int) = nullptr;
int64_t blit_ns = 0;
int blits = 0;

void timed_blit(BITMAP *source, BITMAP *dest, int sx, int sy, int dx, int dy, int w, int h)
{
    Clock::time_point start = Clock::now();
    library_blit(source, dest, sx, sy, dx, dy, w, h);
    blit_ns += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    ++blits;
}

// Starts each pass: makes one cycle due at once (the 60 Hz interrupt is
// removed, so no pass waits) and closes the previous pass's record.
struct Pass_Clock : GameEngine::Background_Task {
    explicit Pass_Clock(GameEngine::Engine *engine) : engine(engine) {}

    void poll() override
    {
        Clock::time_point now = Clock::now();
        if (passes > 0) {
            int64_t pass = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start).count();
            if (passes > warm_up_passes) {
                own.push_back(pass - blit_ns);
                blit.push_back(blit_ns);
                blit_counts += blits;
            }
        }
        if (passes == warm_up_passes + measured_passes) {
            engine->stop();
        }
        ++passes;
        blit_ns = 0;
        blits = 0;
        GameEngine::Engine_cycle_counter.fetch_add(1);
        start = Clock::now();
    }
    void resume() override {}
    void suspend() override {}

    GameEngine::Engine *engine;
    Clock::time_point start;
    int passes = 0;
    int blit_counts = 0;
    std::vector<int64_t> own;
    std::vector<int64_t> blit;
};

double median(std::vector<int64_t> v)
{
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[v.size() / 2]);
}

double mean(const std::vector<int64_t> &v)
{
    double sum = 0;
    for (int64_t x : v) {
        sum += static_cast<double>(x);
    }
    return sum / static_cast<double>(v.size());
}

} // namespace

int main()
{
    if (allegro_init() != 0) {
        std::fprintf(stderr, "engine_loop: no library\n");
        return 1;
    }
    GameEngine::Engine *engine = GameEngine::Engine::get_instance();
    try {
        engine->set_graphics_mode(800, 600, 16, false);
        engine->set_animation_mode(GameEngine::Engine::double_buffering, false, false);
    } catch (const GameEngine::InitError &e) {
        std::fprintf(stderr, "engine_loop: %s\n", e.error_string().c_str());
        return 1;
    }
    remove_int(GameEngine::Engine_cycle_incrementor);

    static GFX_VTABLE wrapped;
    wrapped = *screen->vtable;
    library_blit = wrapped.blit_from_memory;
    wrapped.blit_from_memory = timed_blit;
    screen->vtable = &wrapped;

    Pass_Clock clock(engine);
    clock.own.reserve(measured_passes);
    clock.blit.reserve(measured_passes);
    engine->set_background_task(&clock);
    engine->run();
    engine->set_background_task(nullptr);

    const size_t n = clock.own.size();
    if (n == 0 || clock.blit_counts != static_cast<int>(n)) {
        std::fprintf(stderr, "engine_loop: %zu passes, %d timed blits; cannot split the pass\n", n,
                     clock.blit_counts);
        return 1;
    }
    double own_median = median(clock.own);
    double blit_median = median(clock.blit);
    std::printf("engine_loop: %zu passes at %dx%dx%d, double buffering, empty containers\n", n,
                SCREEN_W, SCREEN_H, bitmap_color_depth(screen));
    std::printf("loop's own work per pass: median %.2f us, mean %.2f us; share of a 16.7 ms frame %.6f\n",
                own_median / 1e3, mean(clock.own) / 1e3, mean(clock.own) / frame_ns);
    std::printf("blit to the window per pass: median %.2f us, mean %.2f us; share of a 16.7 ms frame %.6f\n",
                blit_median / 1e3, mean(clock.blit) / 1e3, mean(clock.blit) / frame_ns);
    // The goal takes the mean, so rare slow passes count too.
    std::printf("GOAL engine_pass_share_of_frame %.6f <= 0.01\n", mean(clock.own) / frame_ns);
    delete engine;
    return 0;
}
