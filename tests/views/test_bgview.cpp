// The music-key view: one report per press of each key, skip first, and the
// do-nothing listener when none is set.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine_driver.h"
#include "views/bgview.h"

namespace {

struct Recorder : Marvane::Background_Music_Listener {
    std::vector<std::string> heard;
    void skip_to_next_song(const Marvane::Background_Music_Event* event) override {
        heard.push_back(event ? "skip" : "skip without event");
    }
    void start_song_over(const Marvane::Background_Music_Event* event) override {
        heard.push_back(event ? "over" : "over without event");
    }
};

struct Music_Keys : ::testing::Test {
    views_test::Engine_Driver driver;
    Recorder listener;
    Marvane::Background_Music_VC view{driver.engine};
    Music_Keys() {
        view.set_skip_key(KEY_S);
        view.set_start_over_key(KEY_O);
        view.set_listener(&listener);
        driver.engine->get_root_container()->add_updatable(&view, 50);
    }
    ~Music_Keys() override {
        key[KEY_S] = 0;
        key[KEY_O] = 0;
        driver.engine->get_root_container()->remove_updatable(&view);
    }
    void hold(int scancode, int cycles) {
        key[scancode] = 1;
        driver.run_cycles(cycles);
        key[scancode] = 0;
        driver.run_cycles(2);
    }
};

TEST_F(Music_Keys, EachPressReportsOnceHoweverLongItIsHeld) {
    hold(KEY_S, 90);
    EXPECT_EQ(listener.heard, (std::vector<std::string>{"skip"}));
    hold(KEY_S, 1);
    hold(KEY_O, 40);
    hold(KEY_A, 10);  // not one of the music keys
    EXPECT_EQ(listener.heard, (std::vector<std::string>{"skip", "skip", "over"}));
    EXPECT_FALSE(view.update());
}

TEST_F(Music_Keys, BothInOneCycleSkipFirst) {
    key[KEY_O] = 1;
    key[KEY_S] = 1;
    driver.run_cycles(1);
    EXPECT_EQ(listener.heard, (std::vector<std::string>{"skip", "over"}));
}

TEST_F(Music_Keys, WithoutAListenerPressesGoNowhere) {
    view.set_listener(nullptr);
    hold(KEY_S, 3);
    hold(KEY_O, 3);
    EXPECT_TRUE(listener.heard.empty());
    view.set_listener(&listener);
    hold(KEY_O, 3);
    EXPECT_EQ(listener.heard, (std::vector<std::string>{"over"}));
}

}  // namespace
