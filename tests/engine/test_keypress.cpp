// Key watchers in their three modes, pressed by writing the library's key
// state between update cycles, and the overlay's hot keys.
#include <vector>

#include <allegro.h>
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/keypress.h"
#include "engine/timer.h"

using namespace GameEngine;

namespace {

struct Keys : ::testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(allegro_init(), 0);
        engine = Engine::get_instance();
        timers = dynamic_cast<Timer_Manager *>(engine->get_timer_factory());
        keys = dynamic_cast<Keypress_Manager *>(engine->get_keypress_factory());
        ASSERT_NE(timers, nullptr);
        ASSERT_NE(keys, nullptr);
        key[KEY_A] = 0;
    }
    void TearDown() override { delete engine; }

    // One update cycle as the engine's system container runs it.
    void cycle()
    {
        timers->update();
        keys->update();
    }

    // Holds A for the given cycles; returns the cycles (from 1) in which
    // the watcher was pressed, and those in which it was artificial.
    void hold(Keypress_Watcher &w, int cycles, std::vector<int> &pressed,
              std::vector<int> *artificial = nullptr)
    {
        key[KEY_A] = 1;
        for (int i = 1; i <= cycles; ++i) {
            cycle();
            if (w.is_pressed()) {
                pressed.push_back(i);
            }
            if (artificial && w.is_artificial()) {
                artificial->push_back(i);
            }
        }
    }

    Engine *engine = nullptr;
    Timer_Manager *timers = nullptr;
    Keypress_Manager *keys = nullptr;
};

TEST_F(Keys, ContinuousIsPressedWhileHeldAndArtificialAfterTheFirstCycle)
{
    Keypress_Watcher *w = keys->create_keypress_watcher(KEY_A);
    cycle();
    EXPECT_FALSE(w->is_pressed());
    std::vector<int> pressed, artificial;
    hold(*w, 5, pressed, &artificial);
    EXPECT_EQ(pressed, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(artificial, (std::vector<int>{2, 3, 4, 5}));

    key[KEY_A] = 0;
    cycle();
    EXPECT_FALSE(w->is_pressed());
    EXPECT_FALSE(w->is_artificial());
    delete w;
}

TEST_F(Keys, OneTimeIsPressedOncePerPhysicalPress)
{
    Keypress_Watcher *w = keys->create_keypress_watcher(KEY_A);
    w->set_one_time();
    std::vector<int> pressed;
    hold(*w, 30, pressed);
    EXPECT_EQ(pressed, (std::vector<int>{1}));

    key[KEY_A] = 0;
    cycle();
    pressed.clear();
    hold(*w, 30, pressed);
    EXPECT_EQ(pressed, (std::vector<int>{1}));
    delete w;
}

TEST_F(Keys, RepeatFollowsTheInitialThenTheRepeatDelay)
{
    Keypress_Watcher *w = keys->create_keypress_watcher(KEY_A);
    w->set_repeat(250, 125);
    std::vector<int> pressed, artificial;
    hold(*w, 45, pressed, &artificial);
    EXPECT_EQ(pressed, (std::vector<int>{1, 16, 23, 30, 37, 44}));
    EXPECT_EQ(artificial, (std::vector<int>{16, 23, 30, 37, 44}));

    // Released and pressed again: the delays start over.
    key[KEY_A] = 0;
    cycle();
    EXPECT_FALSE(w->is_pressed());
    pressed.clear();
    hold(*w, 16, pressed);
    EXPECT_EQ(pressed, (std::vector<int>{1, 16}));
    delete w;
}

TEST_F(Keys, RepeatDelaysShorterThanACycle)
{
    Keypress_Watcher *never = keys->create_keypress_watcher(KEY_A);
    Keypress_Watcher *once = keys->create_keypress_watcher(KEY_A);
    never->set_repeat(0, 125);
    once->set_repeat(250, 10);
    std::vector<int> never_pressed, once_pressed;
    key[KEY_A] = 1;
    for (int i = 1; i <= 200; ++i) {
        cycle();
        if (never->is_pressed()) {
            never_pressed.push_back(i);
        }
        if (once->is_pressed()) {
            once_pressed.push_back(i);
        }
    }
    EXPECT_EQ(never_pressed, (std::vector<int>{1}));
    EXPECT_EQ(once_pressed, (std::vector<int>{1, 16}));
    delete once;
    delete never;
}

TEST_F(Keys, ChangingTheModeWhileHeldCountsAsAFreshPress)
{
    Keypress_Watcher *w = keys->create_keypress_watcher(KEY_A);
    w->set_one_time();
    std::vector<int> pressed;
    hold(*w, 3, pressed);
    w->set_repeat(250, 125);
    EXPECT_FALSE(w->is_pressed());
    cycle();
    EXPECT_TRUE(w->is_pressed());
    EXPECT_FALSE(w->is_artificial());
    w->set_continuous();
    cycle();
    EXPECT_TRUE(w->is_pressed());
    EXPECT_FALSE(w->is_artificial());
    delete w;
}

TEST_F(Keys, PhysicalStateIsReadAtTheCallAndOddCodesAreNeverDown)
{
    Keypress_Watcher *w = keys->create_keypress_watcher(KEY_A);
    key[KEY_A] = 1;
    EXPECT_TRUE(w->is_physically_pressed());
    EXPECT_FALSE(w->is_pressed());  // not until the next cycle
    w->set_scancode(-5);
    EXPECT_FALSE(w->is_physically_pressed());
    w->set_scancode(100000);
    EXPECT_FALSE(w->is_physically_pressed());
    cycle();
    EXPECT_FALSE(w->is_pressed());
    delete w;
}

TEST_F(Keys, DeletedWatchersLeaveTheManager)
{
    Keypress_Watcher *a = keys->create_keypress_watcher(KEY_A);
    Keypress_Watcher *b = keys->create_keypress_watcher(KEY_A);
    delete a;
    key[KEY_A] = 1;
    cycle();  // the sanitizer build catches a stale entry here
    EXPECT_TRUE(b->is_pressed());
    delete b;
    cycle();
}

// The overlay's F11 and F10 are one-time watchers; update reports only F11.
TEST_F(Keys, OverlayTogglesOnOneTimePresses)
{
    Engine_Manager overlay(engine);
    key[KEY_F11] = 1;
    cycle();
    EXPECT_TRUE(overlay.update());
    cycle();
    EXPECT_FALSE(overlay.update());  // still held: no second flip
    key[KEY_F11] = 0;
    key[KEY_F10] = 1;
    cycle();
    EXPECT_FALSE(overlay.update());
    key[KEY_F10] = 0;
    cycle();
    EXPECT_FALSE(overlay.update());
}

bool same_pixels(BITMAP *a, BITMAP *b)
{
    for (int y = 0; y < a->h; ++y) {
        for (int x = 0; x < a->w; ++x) {
            if (getpixel(a, x, y) != getpixel(b, x, y)) {
                return false;
            }
        }
    }
    return true;
}

// The overlay's lines: top left, white on black, one font height apart,
// the frame rate right-aligned in two columns.
TEST_F(Keys, OverlayDrawsItsLinesOnTopLeft)
{
    set_color_depth(16);
    BITMAP *frame = create_bitmap(160, 40);
    BITMAP *expected = create_bitmap(160, 40);
    ASSERT_TRUE(frame && expected);
    const int red = makecol(255, 0, 0), white = makecol(255, 255, 255), black = makecol(0, 0, 0);
    Engine_Manager overlay(engine);
    auto press = [&](int code) {
        key[code] = 1;
        cycle();
        overlay.update();
        key[code] = 0;
        cycle();
        overlay.update();
    };
    auto draw_and_compare = [&](const char *first, const char *second) {
        clear_to_color(frame, red);
        overlay.draw(frame);
        clear_to_color(expected, red);
        int y = 0;
        for (const char *line : {first, second}) {
            if (line) {
                textout_ex(expected, font, line, 0, y, white, black);
                y += text_height(font);
            }
        }
        return same_pixels(frame, expected);
    };

    remove_int(Engine_one_second_timer);
    Engine_last_fps = 7;
    Engine_idle_seconds = 12;
    EXPECT_TRUE(draw_and_compare(nullptr, nullptr));
    press(KEY_F11);
    EXPECT_TRUE(draw_and_compare("FPS:  7", nullptr));
    press(KEY_F10);
    EXPECT_TRUE(draw_and_compare("FPS:  7", "Idle time: 12"));
    press(KEY_F11);
    EXPECT_TRUE(draw_and_compare("Idle time: 12", nullptr));
    destroy_bitmap(expected);
    destroy_bitmap(frame);
}

} // namespace
