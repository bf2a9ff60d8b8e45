// The delay view: one call per delay, at the converted cycle, re-armable
// from inside its own call.
#include <vector>

#include <gtest/gtest.h>

#include "engine_driver.h"
#include "views/delay.h"

namespace {

struct Cycle_Counter : GameEngine::Updatable {
    int now = 0;
    bool update() override {
        ++now;
        return false;
    }
};

struct Recorder : Marvane::Delay_VC_Listener {
    const Cycle_Counter* clock = nullptr;
    Marvane::Delay_VC* view = nullptr;
    int rearm_ms = -1;  // re-arm once with this many ms, when >= 0
    std::vector<int> calls;
    void delay_vc_expired() override {
        calls.push_back(clock->now);
        if (rearm_ms >= 0) {
            view->delay(rearm_ms);
            rearm_ms = -1;
        }
    }
};

struct Delay : ::testing::Test {
    views_test::Engine_Driver driver;
    Cycle_Counter clock;
    Recorder listener;
    Marvane::Delay_VC view{driver.engine, &listener};
    Delay() {
        listener.clock = &clock;
        listener.view = &view;
        driver.engine->get_root_container()->add_updatable(&clock, 0);
        driver.engine->get_root_container()->add_updatable(&view, 50);
    }
    ~Delay() override {
        driver.engine->get_root_container()->remove_updatable(&view);
        driver.engine->get_root_container()->remove_updatable(&clock);
    }
};

TEST_F(Delay, ExpiresOncePerDelayAtTheConvertedCycle) {
    driver.run_cycles(100);
    EXPECT_TRUE(listener.calls.empty()) << "idle until armed";
    view.delay(1000);
    driver.run_cycles(300);
    EXPECT_EQ(listener.calls, (std::vector<int>{100 + 60}));
    EXPECT_FALSE(view.update());
}

TEST_F(Delay, ReArmingFromInsideTheCallGivesOneMoreCall) {
    listener.rearm_ms = 250;
    view.delay(1000);
    driver.run_cycles(300);
    EXPECT_EQ(listener.calls, (std::vector<int>{60, 75}));
}

TEST_F(Delay, ReArmingReplacesARunningDelay) {
    view.delay(1000);
    driver.run_cycles(30);
    view.delay(250);
    driver.run_cycles(300);
    EXPECT_EQ(listener.calls, (std::vector<int>{45}));
    // Shorter than a cycle: due at once, told in the next update.
    view.delay(0);
    driver.run_cycles(5);
    EXPECT_EQ(listener.calls, (std::vector<int>{45, 331}));
}

}  // namespace
