// Joystick watchers, the null watcher and the limits of event indices,
// with the library's joystick table written by the test.
#include <allegro.h>
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/joystick.h"
#include "engine/timer.h"

using namespace GameEngine;

namespace {

struct Joysticks : ::testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(allegro_init(), 0);
        engine = Engine::get_instance();
        timers = dynamic_cast<Timer_Manager *>(engine->get_timer_factory());
        factory = engine->get_joystick_factory();
        ASSERT_NE(timers, nullptr);
        ASSERT_NE(factory, nullptr);
    }
    void TearDown() override
    {
        num_joysticks = 0;
        delete engine;
    }

    // A fake pad: one joystick, 8 buttons, one stick with two axes.
    void plug_in_pad()
    {
        num_joysticks = 1;
        joy[0] = JOYSTICK_INFO{};
        joy[0].num_buttons = 8;
        joy[0].num_sticks = 1;
        joy[0].stick[0].num_axis = 2;
    }

    // One cycle without polling the hardware, which would overwrite the
    // table the test writes.
    void cycle(Joystick_Watcher_Impl &w)
    {
        timers->update();
        w.watch();
    }

    Engine *engine = nullptr;
    Timer_Manager *timers = nullptr;
    Joystick_Factory *factory = nullptr;
};

TEST_F(Joysticks, NullEventWatcherIsNeverPressedAndIgnoresSettings)
{
    Joystick_Watcher *w = factory->create_joystick_watcher(nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(dynamic_cast<Joystick_Watcher_Impl *>(w), nullptr);
    w->set_repeat(0, 0);
    w->set_one_time();
    w->set_continuous();
    // The event handed over is taken (and freed), but never watched.
    w->set_joystick_event(new Joystick_Button_Event(0, 0));
    EXPECT_FALSE(w->is_pressed());
    // Not registered: updates of the manager leave it alone.
    dynamic_cast<Joystick_Manager *>(factory)->update();
    EXPECT_FALSE(w->is_pressed());
    delete w;
}

TEST_F(Joysticks, NoJoystickIsDetectedUnderTheTestDisplay)
{
    EXPECT_FALSE(factory->is_joystick_detected());
    // Events made without hardware read as never triggered.
    Joystick_Button_Event button(0, 3);
    Joystick_Digital_Axis_Event axis(2, 1, 1, Joystick_Digital_Axis_Event::positive);
    EXPECT_FALSE(button.is_triggered());
    EXPECT_FALSE(axis.is_triggered());
}

TEST_F(Joysticks, IndicesAboveTheHardwareAreLoweredToTheLastOne)
{
    plug_in_pad();
    Joystick_Button_Event button(3, 40);
    joy[0].button[7].b = 1;
    EXPECT_TRUE(button.is_triggered());
    joy[0].button[7].b = 0;
    EXPECT_FALSE(button.is_triggered());

    Joystick_Digital_Axis_Event left(0, 5, 0, Joystick_Digital_Axis_Event::negative);
    Joystick_Digital_Axis_Event down(0, 0, 9, Joystick_Digital_Axis_Event::positive);
    joy[0].stick[0].axis[0].d1 = 1;
    joy[0].stick[0].axis[1].d2 = 1;
    EXPECT_TRUE(left.is_triggered());
    EXPECT_TRUE(down.is_triggered());
    joy[0].stick[0].axis[0].d1 = 0;
    EXPECT_FALSE(left.is_triggered());

    Joystick_Digital_Axis_Event odd(0, 0, 1, static_cast<Joystick_Digital_Axis_Event::Position>(2));
    EXPECT_FALSE(odd.is_triggered());
}

TEST_F(Joysticks, WatcherModesFollowTheEvent)
{
    plug_in_pad();
    Joystick_Watcher *w = factory->create_joystick_watcher(new Joystick_Button_Event(0, 2));
    auto *impl = dynamic_cast<Joystick_Watcher_Impl *>(w);
    ASSERT_NE(impl, nullptr);

    joy[0].button[2].b = 1;
    int pressed = 0;
    for (int i = 0; i < 10; ++i) {
        cycle(*impl);
        pressed += w->is_pressed();
    }
    EXPECT_EQ(pressed, 10);  // continuous

    w->set_one_time();
    pressed = 0;
    for (int i = 0; i < 10; ++i) {
        cycle(*impl);
        pressed += w->is_pressed();
    }
    EXPECT_EQ(pressed, 1);

    w->set_repeat(250, 125);
    int first_repeat = 0;
    pressed = 0;
    for (int i = 1; i <= 23; ++i) {
        cycle(*impl);
        if (w->is_pressed()) {
            ++pressed;
            if (i > 1 && !first_repeat) {
                first_repeat = i;
            }
        }
    }
    EXPECT_EQ(pressed, 3);  // cycles 1, 16, 23
    EXPECT_EQ(first_repeat, 16);

    joy[0].button[2].b = 0;
    cycle(*impl);
    EXPECT_FALSE(w->is_pressed());

    // A new event replaces the old one, which the watcher frees.
    w->set_joystick_event(new Joystick_Button_Event(0, 5));
    joy[0].button[5].b = 1;
    cycle(*impl);
    EXPECT_TRUE(w->is_pressed());
    delete w;
}

} // namespace
