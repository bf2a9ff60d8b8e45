// Runs the real engine loop for the view tests, one update cycle per pass
// and without waiting for the 60 Hz tick, so that tests count cycles rather
// than time. Keys are pressed by writing Allegro's key[] between cycles.
#pragma once

#include <allegro.h>
#include <allegro/internal/aintern.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "engine/engine.h"

namespace views_test {

// Allegro cannot open its display a second time in one process, so the
// engine and its display are made once, before the first test, and every
// test of the binary shares them: the binary runs whole or filtered as well
// as one test per process.
class Engine_Environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        // The program's text format: names are 8-bit text, one byte a character.
        set_uformat(U_ASCII);
        if (allegro_init() != 0)
            FAIL() << "allegro_init failed";
        try {
            GameEngine::Engine* engine = GameEngine::Engine::get_instance();
            engine->set_graphics_mode(800, 600, 16, false);
            engine->set_animation_mode(GameEngine::Engine::double_buffering, false, false);
        } catch (const GameEngine::InitError& e) {
            FAIL() << e.error_string();
        }
        // Cycles become due only through Engine_Driver::poll().
        remove_int(GameEngine::Engine_cycle_incrementor);
        ready = true;
    }
    static inline bool ready = false;
};

inline ::testing::Environment* const engine_environment =
    ::testing::AddGlobalTestEnvironment(new Engine_Environment);

class Engine_Driver : public GameEngine::Updatable, public GameEngine::Background_Task {
public:
    Engine_Driver()
    {
        if (!Engine_Environment::ready)
            throw GameEngine::InitError("the engine could not be set up");
        ++drivers_made;
        engine = GameEngine::Engine::get_instance();
        // Nothing a test leaves behind reaches the next one.
        for (int i = 0; i < KEY_MAX; ++i)
            key[i] = 0;
        engine->set_infinite_mouse_x(0);
        engine->set_infinite_mouse_y(0);
        engine->set_background_task(this);
        engine->get_root_container()->add_updatable(this, INT_MAX);
    }

    ~Engine_Driver() override
    {
        engine->get_root_container()->remove_updatable(this);
        engine->set_background_task(nullptr);
    }

    // Runs n update cycles; after_cycle (if any) runs at the end of each,
    // after every view, with the number of the cycle within this call.
    void run_cycles(int n, std::function<void(int)> after_cycle = {})
    {
        if (n <= 0)
            return;
        remaining = n;
        done = 0;
        cycle_pending = false;
        hook = std::move(after_cycle);
        engine->run();
        hook = nullptr;
    }

    // Lets the key up for one cycle (so that the watchers see a new press),
    // then holds it down for one cycle, in which the views see it pressed.
    void tap(int scancode)
    {
        key[scancode] = 0;
        run_cycles(1);
        key[scancode] = 1;
        run_cycles(1);
        key[scancode] = 0;
    }

    // Polls of the background task made from inside update cycles (by the
    // views), as opposed to the loop's own waiting.
    int polls_in_cycles = 0;
    int polls_total = 0;
    GameEngine::Engine* engine = nullptr;
    // Drivers made in this process so far, this one included.
    static inline int drivers_made = 0;

    bool update() override
    {
        // The last updatable of the root container: the cycle ends here.
        cycle_pending = false;
        ++done;
        if (hook)
            hook(done);
        if (done >= remaining)
            engine->stop();
        return false;
    }
    void poll() override
    {
        ++polls_total;
        if (cycle_pending) {
            ++polls_in_cycles;
            return;
        }
        cycle_pending = true;
        ++GameEngine::Engine_cycle_counter;
    }
    void resume() override {}
    void suspend() override {}

private:
    int remaining = 0;
    int done = 0;
    bool cycle_pending = false;
    std::function<void(int)> hook;
};

// A copy of Allegro's 8x8 font that reports a height of 16 pixels, for
// exact geometry.
inline FONT* make_font_16()
{
    FONT* f = extract_font_range(::font, -1, -1);
    f->height = 16;
    return f;
}

inline std::string output_dir()
{
    const std::string dir = std::string(MARVO_BINARY_DIR) + "/tests/views/output";
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace views_test
