// The screen saver: start and end on the idle time, the text moving every
// 180 cycles, where the text may lie, and what a frame shows.
#include <cstdlib>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "addons/alttf.h"
#include "engine_driver.h"
#include "views/ssaver.h"

namespace {

using Marvane::Screen_Saver_VC;

const char* const TEST_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Stands in for the engine's 1 Hz clock and input callbacks: the idle time
// the saver reads in each cycle is the one set here.
struct Idle_Clock : GameEngine::Updatable {
    uint32_t seconds = 0;
    bool update() override {
        GameEngine::Engine_idle_seconds = seconds;
        return false;
    }
};

struct Recorder : Marvane::Screen_Saver_Listener {
    const Screen_Saver_VC* saver = nullptr;
    std::vector<bool> events;
    std::vector<std::pair<int, int>> places;  // where the text was when told
    void screen_saver_changed_state(const Marvane::Screen_Saver_Event* event) override {
        events.push_back(event->is_active());
        places.emplace_back(saver->get_text_x(), saver->get_text_y());
    }
};

struct Saver : ::testing::Test {
    views_test::Engine_Driver driver;
    FONT* f = load_ttf_font(TEST_FONT, 20, TTF_SMOOTH_FULL);
    Idle_Clock idle;
    Recorder listener;
    Screen_Saver_VC saver{driver.engine, f};

    Saver() {
        // Only the clock above moves the idle time.
        remove_int(GameEngine::Engine_one_second_timer);
        std::srand(7);
        listener.saver = &saver;
        saver.set_screen_saver_listener(&listener);
        saver.set_text("Insert coin");
        driver.engine->get_root_container()->add_updatable(&idle, 0);
        driver.engine->get_root_container()->add_updatable(&saver, 51);
    }
    ~Saver() override {
        driver.engine->get_root_container()->remove_updatable(&saver);
        driver.engine->get_root_container()->remove_updatable(&idle);
        destroy_font(f);
    }
    std::pair<int, int> place() const { return {saver.get_text_x(), saver.get_text_y()}; }
};

TEST_F(Saver, StartAfterZeroNeverStarts) {
    idle.seconds = 1000000;
    driver.run_cycles(20);
    saver.set_start_after(300);
    saver.set_start_after(0);
    driver.run_cycles(20);
    EXPECT_FALSE(saver.is_active());
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(Saver, StartsAtTheIdleTimeMovesEvery180CyclesAndEndsOnActivity) {
    saver.set_start_after(300);
    idle.seconds = 299;
    driver.run_cycles(30);
    EXPECT_FALSE(saver.is_active());
    EXPECT_TRUE(listener.events.empty());

    idle.seconds = 300;
    driver.run_cycles(1);
    ASSERT_TRUE(saver.is_active());
    EXPECT_EQ(listener.events, std::vector<bool>{true});
    // Told before the text was placed.
    EXPECT_EQ(listener.places.front(), std::make_pair(0, 0));
    EXPECT_NE(place(), std::make_pair(0, 0));

    std::vector<int> moves;
    auto last = place();
    driver.run_cycles(600, [&](int cycle) {
        if (place() != last) {
            moves.push_back(cycle);
            last = place();
        }
    });
    EXPECT_EQ(moves, (std::vector<int>{180, 360, 540}));
    EXPECT_EQ(listener.events, std::vector<bool>{true});

    // A key press sets the idle time to 0: the saver ends in that update.
    idle.seconds = 0;
    driver.run_cycles(1);
    EXPECT_FALSE(saver.is_active());
    EXPECT_EQ(listener.events, (std::vector<bool>{true, false}));
    last = place();
    driver.run_cycles(400);
    EXPECT_EQ(place(), last) << "no moves while waiting";

    // And starts again, with a fresh interval.
    idle.seconds = 301;
    driver.run_cycles(1);
    EXPECT_EQ(listener.events, (std::vector<bool>{true, false, true}));
    moves.clear();
    last = place();
    driver.run_cycles(200, [&](int cycle) {
        if (place() != last) {
            moves.push_back(cycle);
            last = place();
        }
    });
    EXPECT_EQ(moves, std::vector<int>{180});
}

TEST_F(Saver, WorksWithoutAListener) {
    saver.set_screen_saver_listener(nullptr);
    saver.set_start_after(5);
    idle.seconds = 5;
    driver.run_cycles(1);
    EXPECT_TRUE(saver.is_active());
    idle.seconds = 0;
    driver.run_cycles(1);
    EXPECT_FALSE(saver.is_active());
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(Saver, TextAlwaysLiesOnTheScreenWhenItFits) {
    int len = text_length(f, "Insert coin");
    for (int i = 0; i < 500; ++i) {
        saver.set_random_text_location();
        ASSERT_GE(saver.get_text_x(), 0);
        ASSERT_GE(saver.get_text_y(), 0);
        ASSERT_LT(saver.get_text_x() + len, SCREEN_W);
        ASSERT_LT(saver.get_text_y() + text_height(f), SCREEN_H);
    }
}

TEST_F(Saver, OversizedTextStartsAtTheScreenEdge) {
    // Wider than the screen: the beginning shows at the left edge.
    saver.set_text(std::string(300, 'W'));
    for (int i = 0; i < 50; ++i) {
        saver.set_random_text_location();
        ASSERT_EQ(saver.get_text_x(), 0);
        ASSERT_GE(saver.get_text_y(), 0);
        ASSERT_LT(saver.get_text_y(), SCREEN_H);
    }
    // Exactly as wide as the screen leaves no free room either.
    FONT* fixed_width = extract_font_range(font, -1, -1);
    Screen_Saver_VC exact(driver.engine, fixed_width);
    exact.set_text(std::string(SCREEN_W / text_length(fixed_width, "W"), 'W'));
    ASSERT_EQ(text_length(fixed_width, std::string(SCREEN_W / 8, 'W').c_str()), SCREEN_W);
    exact.set_random_text_location();
    EXPECT_EQ(exact.get_text_x(), 0);
    // Higher than the screen: the top shows.
    fixed_width->height = SCREEN_H + 50;
    exact.set_random_text_location();
    EXPECT_EQ(exact.get_text_y(), 0);
    // Empty text: anywhere across.
    saver.set_text("");
    saver.set_random_text_location();
    EXPECT_LT(saver.get_text_x(), SCREEN_W);
    destroy_font(fixed_width);
}

TEST_F(Saver, DrawsWhiteTextOnABlackScreen) {
    saver.set_start_after(1);
    idle.seconds = 1;
    driver.run_cycles(1);
    BITMAP* frame = create_bitmap(SCREEN_W, SCREEN_H);
    clear_to_color(frame, makecol(0, 0, 200));
    saver.draw(frame);
    int x = saver.get_text_x(), y = saver.get_text_y();
    int w = text_length(f, "Insert coin"), h = text_height(f);
    int black = makecol(0, 0, 0), white = makecol(255, 255, 255), whites = 0;
    for (int py = 0; py < frame->h; ++py)
        for (int px = 0; px < frame->w; ++px) {
            int c = getpixel(frame, px, py);
            bool inside = px >= x && px < x + w && py >= y && py < y + h;
            if (!inside)
                ASSERT_EQ(c, black) << px << "," << py;
            else if (c == white)
                ++whites;
            else  // antialiased edges over the solid black background: greys
                ASSERT_TRUE(getr(c) == getb(c) && std::abs(getg(c) - getr(c)) <= 8) << px << "," << py;
        }
    EXPECT_GT(whites, 40);
    destroy_bitmap(frame);
}

}  // namespace
