// The main loop's passes allocate nothing: every operator new on the main
// thread is counted across a few hundred passes.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <allegro.h>
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/keypress.h"
#include "engine/timer.h"
#include "engine_env.h"

namespace {

thread_local bool counting = false;
std::atomic<long> allocations{0};

void *counted_alloc(std::size_t size)
{
    if (counting) {
        allocations.fetch_add(1);
    }
    if (void *p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

void *operator new(std::size_t size) { return counted_alloc(size); }
void *operator new[](std::size_t size) { return counted_alloc(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return counted_alloc(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace GameEngine;

// Paints the screen and opens and closes the counting window.
struct Window : Drawable, Updatable {
    explicit Window(Engine *engine) : engine(engine) {}
    bool update() override { return true; }
    void draw(BITMAP *target) override
    {
        clear_to_color(target, makecol(0, 0, 64));
        ++frames;
        if (frames == 20) {
            counting = true;
        }
        if (frames == 320) {
            counting = false;
            engine->stop();
        }
    }
    Engine *engine;
    int frames = 0;
};

TEST(EngineAllocations, TheProbeSeesAllocationsOfThisThreadOnly)
{
    counting = true;
    auto *text = new std::string(100, 'x');
    counting = false;
    EXPECT_GE(allocations.exchange(0), 1);
    EXPECT_EQ(text->size(), 100u);
    delete text;
}

TEST(EngineAllocations, PassesAllocateNothing)
{
    engine_test::Scratch_Log_Dir dir;
    Engine *engine = engine_test::start_engine_on_screen();
    ASSERT_NE(engine, nullptr);

    // Timers, watchers in every mode and the overlay's lines all run.
    Timer *periodic = engine->get_timer_factory()->create_timer();
    periodic->set_interval(100);
    Keypress_Watcher *held = engine->get_keypress_factory()->create_keypress_watcher(KEY_A);
    held->set_repeat(100, 50);
    key[KEY_A] = 1;
    key[KEY_F11] = 1;
    key[KEY_F10] = 1;

    Window window(engine);
    GEContainer child;
    engine->get_root_container()->add_drawable(&window, 0);
    engine->get_root_container()->add_updatable(&window, 0);
    engine->get_root_container()->add_updatable(&child, 5);
    engine->get_root_container()->add_drawable(&child, 5);
    engine->run();

    EXPECT_EQ(window.frames, 320);
    EXPECT_EQ(allocations.load(), 0);

    engine->get_root_container()->remove_drawable(&window);
    engine->get_root_container()->remove_updatable(&window);
    engine->get_root_container()->remove_updatable(&child);
    engine->get_root_container()->remove_drawable(&child);
    key[KEY_A] = 0;
    key[KEY_F11] = 0;
    key[KEY_F10] = 0;
    delete held;
    delete periodic;
    delete engine;
}

} // namespace
