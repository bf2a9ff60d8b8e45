// The real engine under the test display: the main loop's passes, polls and
// frames, the hot keys, statistics and start-up.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>

#include <sys/resource.h>

#include <allegro.h>
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/timer.h"
#include "engine_env.h"

using namespace GameEngine;

namespace {

struct Real_Loop : ::testing::Test {
    void SetUp() override
    {
        engine = engine_test::start_engine_on_screen();
        ASSERT_NE(engine, nullptr);
    }
    void TearDown() override { delete engine; }
    std::string log() const { return dir.log(); }

    engine_test::Scratch_Log_Dir dir;
    Engine *engine = nullptr;
};

// Counts frames, polls and cycles and checks every pass as it ends.
struct Pass_Checker : Drawable, Updatable, Background_Task {
    explicit Pass_Checker(Engine *engine) : engine(engine) {}

    void poll() override { ++polls; }
    void resume() override { ++resumes; }
    void suspend() override { ++suspends; }

    bool update() override
    {
        ++cycles;
        if (engine->get_catchup() == 0) {
            ++passes;
        }
        if (cycles == stop_at) {
            engine->stop();
        }
        if (cycles == f12_at) {
            key[KEY_F12] = 1;
        }
        return false;
    }

    void draw(BITMAP *target) override
    {
        // The hot keys are read before the frame is drawn: F12 held now has
        // been seen by this pass, however many cycles it ran. Each pass
        // while it is held grabs anew; the last grab is kept.
        if (key[KEY_F12]) {
            ++grabbing_frames;
            if (std::FILE *shot = std::fopen("shot.png", "rb")) {
                std::fclose(shot);
                ++grabs;
            }
            if (grabbing_frames == f12_frames) {
                key[KEY_F12] = 0;
                engine->stop();
            } else {
                std::remove("shot.png");
            }
        }
        clear_to_color(target, makecol(255, 0, 0));
        ++frames;
        int pass_cycles = cycles - cycles_at_frame;
        long long pass_polls = polls - polls_at_frame;
        // One poll while waiting plus one before every cycle but the first.
        if (pass_cycles < 1 || pass_polls < pass_cycles) {
            ++bad_passes;
        }
        cycles_at_frame = cycles;
        polls_at_frame = polls;
    }

    Engine *engine;
    int stop_at = 300;
    int f12_at = -10;
    int f12_frames = 3;
    // The busy wait polls billions of times in a few seconds.
    long long polls = 0, polls_at_frame = 0;
    int resumes = 0, suspends = 0, cycles = 0, passes = 0, frames = 0;
    int cycles_at_frame = 0, bad_passes = 0, grabbing_frames = 0, grabs = 0;
};

TEST_F(Real_Loop, EveryPassPollsRunsCyclesAndDrawsOneFrame)
{
    Pass_Checker checker(engine);
    engine->set_background_task(&checker);
    engine->get_root_container()->add_updatable(&checker, 0);
    engine->get_root_container()->add_drawable(&checker, 0);
    engine->run();

    // The pass that stops the loop still runs every cycle due by then.
    EXPECT_GE(checker.cycles, 300);
    EXPECT_GT(checker.passes, 0);
    EXPECT_EQ(checker.frames, checker.passes);
    EXPECT_EQ(checker.bad_passes, 0);
    EXPECT_GE(checker.polls, checker.passes);
    EXPECT_EQ(checker.resumes, 1);
    EXPECT_EQ(checker.suspends, 1);

    std::string text = log();
    EXPECT_NE(text.find("Using double buffering"), std::string::npos);
    EXPECT_NE(text.find("Vsync is disabled"), std::string::npos);
    EXPECT_NE(text.find("OS type: Linux"), std::string::npos);
    EXPECT_NE(text.find(std::string("Platform: ") + ALLEGRO_PLATFORM_STR), std::string::npos);
    size_t start = text.find("Starting engine loop");
    size_t average = text.find("Average FPS: ");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(average, std::string::npos);
    EXPECT_LT(start, average);
    // About five seconds ran: whole seconds were measured.
    // About five whole seconds were measured; the 1 Hz interrupt goes on
    // after the loop, so the logged value is checked against the frames.
    double fps = std::atof(text.c_str() + average + 13);
    EXPECT_GT(fps, 0.0);
    EXPECT_LE(fps, checker.frames);
    char expected[80];
    std::snprintf(expected, sizeof expected, "Average FPS: %g\n", fps);
    EXPECT_NE(text.find(expected), std::string::npos) << expected;

    engine->get_root_container()->remove_updatable(&checker);
    engine->get_root_container()->remove_drawable(&checker);
    engine->set_background_task(nullptr);
}

TEST_F(Real_Loop, F12WritesAScreenGrabOfTheScreenSize)
{
    // Holds F12 from cycle 30 for the given frames (the last one stops the
    // loop; 6000 cycles are a bound); gives the frames that grabbed.
    const auto grab_for = [&](int frames, rlim_t size_limit) {
        Pass_Checker checker(engine);
        checker.stop_at = 6000;
        checker.f12_at = 30;
        checker.f12_frames = frames;
        engine->get_root_container()->add_updatable(&checker, 0);
        engine->get_root_container()->add_drawable(&checker, 0);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = size_limit;
        setrlimit(RLIMIT_FSIZE, &limited);
        engine->run();
        setrlimit(RLIMIT_FSIZE, &saved);
        engine->get_root_container()->remove_updatable(&checker);
        engine->get_root_container()->remove_drawable(&checker);
        return std::make_pair(checker.grabbing_frames, checker.grabs);
    };
    std::remove("shot.png");
    EXPECT_EQ(grab_for(3, RLIM_INFINITY), std::make_pair(3, 3));

    PALETTE palette;
    BITMAP *shot = load_bitmap("shot.png", palette);
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(shot->w, SCREEN_W);
    EXPECT_EQ(shot->h, SCREEN_H);
    EXPECT_EQ(shot->w, 800);
    EXPECT_EQ(shot->h, 600);
    // The grab shows the frame the drawable painted.
    int pixel = getpixel(shot, 400, 300);
    int depth = bitmap_color_depth(shot);
    EXPECT_GT(getr_depth(depth, pixel), 200);
    EXPECT_LT(getg_depth(depth, pixel), 50);
    EXPECT_LT(getb_depth(depth, pixel), 50);
    destroy_bitmap(shot);

    // A grab that cannot be written whole (a file-size limit) keeps the old
    // one, and leaves no temporary file.
    std::ofstream("shot.png") << "the old grab";
    std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(grab_for(1, 256).first, 1);
    EXPECT_EQ(read_file("shot.png"), "the old grab");
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(".")) {
        files += entry.path().filename().string().find("shot.png") == 0;
    }
    EXPECT_EQ(files, 1);
}

// A background task that drives the cycle counter itself (the 60 Hz
// interrupt is removed) and writes what happens, in order: P poll,
// U update, D draw.
struct Scripted : Drawable, Updatable, Background_Task {
    explicit Scripted(Engine *engine) : engine(engine)
    {
        remove_int(Engine_cycle_incrementor);
        remove_int(Engine_one_second_timer);
    }

    void poll() override
    {
        ++polls;
        record('P');
        if (on_poll) {
            on_poll(polls);
        }
    }
    void resume() override { ++resumes; }
    void suspend() override { ++suspends; }
    bool update() override
    {
        ++updates;
        record('U');
        if (on_update) {
            on_update(updates);
        }
        return false;
    }
    void draw(BITMAP *target) override
    {
        record('D');
        catchups += std::to_string(engine->get_catchup());
        // As the application's lowest layer, it paints the whole frame.
        clear_to_color(target, makecol(255, 0, 0));
        frame = target;
    }
    void record(char c)
    {
        if (trace.size() < 200) {
            trace += c;
        }
    }
    void attach()
    {
        engine->set_background_task(this);
        engine->get_root_container()->add_updatable(this, 0);
        engine->get_root_container()->add_drawable(this, 0);
    }
    void detach()
    {
        engine->set_background_task(nullptr);
        engine->get_root_container()->remove_updatable(this);
        engine->get_root_container()->remove_drawable(this);
    }
    static void due(uint32_t cycles) { Engine_cycle_counter += cycles; }

    Engine *engine;
    std::function<void(int)> on_poll;
    std::function<void(int)> on_update;
    std::string trace;
    std::string catchups;
    BITMAP *frame = nullptr;
    int polls = 0, updates = 0, resumes = 0, suspends = 0;
};

// Stands in for the X11 mouse driver's report of the movement since the
// last read, which the test makes up.
struct Mouse_Movement {
    Mouse_Movement() : real(mouse_driver), driver(*mouse_driver)
    {
        driver.get_mickeys = report;
        mouse_driver = &driver;
    }
    ~Mouse_Movement() { mouse_driver = real; }
    static void move(int x, int y)
    {
        dx += x;
        dy += y;
    }
    static void report(int *x, int *y)
    {
        *x = dx;
        *y = dy;
        dx = dy = 0;
    }
    static inline int dx = 0, dy = 0;
    MOUSE_DRIVER *real;
    MOUSE_DRIVER driver;
};

TEST_F(Real_Loop, DueCyclesRunBackToBackWithPollsBetweenThem)
{
    Scripted s(engine);
    s.on_poll = [](int n) {
        if (n == 1) Scripted::due(1);
        if (n == 2) Scripted::due(3);
        if (n == 7) Scripted::due(1);
    };
    s.on_update = [&](int n) {
        if (n == 5) engine->stop();
    };
    s.attach();
    engine->run();
    s.detach();
    EXPECT_EQ(s.trace, "PUD" "PUPUPUD" "PPPUD");
    EXPECT_EQ(s.catchups, "131");
}

TEST_F(Real_Loop, CatchupDropsTheCyclesThatAreDue)
{
    Scripted s(engine);
    s.on_poll = [&](int n) {
        if (n == 1) Scripted::due(1);
        if (n == 2) {
            Scripted::due(3);
            engine->catchup();
        }
        if (n == 3) Scripted::due(1);
    };
    s.on_update = [&](int n) {
        if (n == 2) engine->stop();
    };
    s.attach();
    engine->run();
    s.detach();
    EXPECT_EQ(s.trace, "PUD" "PPUD");
}

TEST_F(Real_Loop, HoldingPStopsUpdatesButNotFramesNorTheMouse)
{
    Scripted s(engine);
    Mouse_Movement mouse;
    engine->set_infinite_mouse_x(100);
    engine->set_infinite_mouse_y(0);
    Timer *timer = engine->get_timer_factory()->create_timer();
    timer->set(20);  // expires after one cycle, stops in the next
    bool expired_after_pause = false;
    int x_after_pause = 0;
    s.on_poll = [&](int n) {
        if (n == 3) {
            expired_after_pause = timer->expired();
            x_after_pause = engine->get_infinite_mouse_x();
        }
        Scripted::due(1);
        Mouse_Movement::move(3, -2);
        if (n == 1) key[KEY_P] = 1;
        if (n == 2) key[KEY_P] = 0;
    };
    s.on_update = [&](int n) {
        if (n == 2) engine->stop();
    };
    s.attach();
    engine->run();
    s.detach();
    // The pause is read once per pass, after the cycles: the second pass
    // runs paused, the third no longer. The paused cycle did not count
    // the timer down.
    EXPECT_EQ(s.trace, "PUD" "PD" "PUD");
    EXPECT_TRUE(expired_after_pause);
    EXPECT_TRUE(timer->stopped());
    // Every cycle adds the movement, the paused one too.
    EXPECT_EQ(x_after_pause, 106);
    EXPECT_EQ(engine->get_infinite_mouse_x(), 109);
    EXPECT_EQ(engine->get_infinite_mouse_y(), -6);
    delete timer;
}

TEST_F(Real_Loop, ExitChordEndsTheLoopAfterThisPassesFrame)
{
    Scripted s(engine);
    // Passes 1 to 3 hold two of the three keys each, pass 4 all three.
    s.on_poll = [&](int n) {
        Scripted::due(1);
        for (int i = 0; i < 3; ++i) {
            key[Engine_exit_chord[i]] = n >= 4 || i != n - 1;
        }
        if (n > 10) {
            engine->stop();
        }
    };
    s.attach();
    engine->run();
    s.detach();
    for (int code : Engine_exit_chord) {
        key[code] = 0;
    }
    EXPECT_EQ(s.trace, "PUD" "PUD" "PUD" "PUD");
    EXPECT_NE(log().find("Backdoor exit!"), std::string::npos);
    // Before the first whole second there is no rate to report.
    EXPECT_NE(log().find("Average FPS: 0\n"), std::string::npos);
}

// The overlay sees a hot key in the cycle it goes down (the key watchers
// are refreshed first) and draws its line over the views.
TEST_F(Real_Loop, OverlayReactsInTheCycleOfThePressAndLiesOnTopOfTheViews)
{
    Scripted s(engine);
    s.on_poll = [&](int n) {
        if (n == 1) {
            Scripted::due(1);
            key[KEY_F11] = 1;
        }
    };
    s.on_update = [&](int) { engine->stop(); };
    s.attach();
    engine->run();
    s.detach();
    key[KEY_F11] = 0;
    ASSERT_EQ(s.trace, "PUD");
    ASSERT_NE(s.frame, nullptr);

    // "FPS:  0" in white on black at the top left; the views' red below.
    const int red = makecol(255, 0, 0), white = makecol(255, 255, 255);
    int reds = 0, whites = 0;
    for (int y = 0; y < text_height(font); ++y) {
        for (int x = 0; x < text_length(font, "FPS:  0"); ++x) {
            int pixel = getpixel(s.frame, x, y);
            reds += pixel == red;
            whites += pixel == white;
        }
    }
    EXPECT_EQ(reds, 0);
    EXPECT_GT(whites, 0);
    EXPECT_EQ(getpixel(s.frame, 0, text_height(font)), red);
}

TEST_F(Real_Loop, TaskChangesDuringTheLoopTakeEffectAtOnce)
{
    Scripted first(engine), second(engine);
    first.on_poll = [](int n) {
        if (n == 1) Scripted::due(1);
    };
    second.on_poll = [](int n) {
        if (n == 1) Scripted::due(1);
    };
    first.on_update = [&](int n) {
        if (n == 1) engine->set_background_task(&second);
        if (n == 2) engine->stop();
    };
    engine->get_root_container()->add_updatable(&first, 0);
    engine->set_background_task(&first);
    engine->run();
    engine->get_root_container()->remove_updatable(&first);

    EXPECT_EQ(first.polls, 1);
    EXPECT_EQ(second.polls, 1);
    EXPECT_EQ(first.resumes, 1);
    EXPECT_EQ(first.suspends, 0);
    EXPECT_EQ(second.resumes, 0);
    EXPECT_EQ(second.suspends, 1);

    // A null task restores the do-nothing one.
    engine->set_background_task(nullptr);
    engine->poll_background_task();
    EXPECT_EQ(second.polls, 1);
}

// The X11 window offers no second video page of the screen's size.
TEST(Animation, PageFlippingFallsBackToDoubleBufferingUnderX11)
{
    engine_test::Scratch_Log_Dir dir;
    ASSERT_EQ(allegro_init(), 0);
    Engine *engine = Engine::get_instance();
    engine->set_graphics_mode(800, 600, 16, false);
    engine->set_animation_mode(Engine::page_flipping, true, true);
    std::string text = dir.log();
    EXPECT_EQ(engine->animation_method, Engine::double_buffering);
    EXPECT_NE(text.find("Using double buffering"), std::string::npos);
    EXPECT_NE(text.find("Vsync is enabled"), std::string::npos);
    EXPECT_EQ(text.find("Using page flipping"), std::string::npos);
    EXPECT_TRUE(engine->use_vram);
    delete engine;
}

TEST(Statistics, SecondsCloseWithTheFramesDrawnInThem)
{
    ASSERT_EQ(allegro_init(), 0);
    Engine *engine = Engine::get_instance();
    remove_int(Engine_one_second_timer);
    remove_int(Engine_cycle_incrementor);

    Engine_frame_counter = 0;
    Engine_total_frames = 0;
    Engine_seconds = 0;
    Engine_idle_seconds = 0;
    EXPECT_EQ(engine->get_average_frames_per_second(), 0.0);
    const uint32_t frames[] = {60, 59, 60, 60, 60, 60};
    for (uint32_t f : frames) {
        Engine_frame_counter = f;
        Engine_one_second_timer();
    }
    EXPECT_EQ(Engine_frame_counter.load(), 0u);
    EXPECT_EQ(engine->get_frames_per_second(), 60);
    EXPECT_EQ(engine->elapsed_seconds(), 6);
    EXPECT_EQ(engine->get_idle_timer(), 6);
    EXPECT_DOUBLE_EQ(engine->get_average_frames_per_second(), 359.0 / 6.0);
    char text[32];
    std::snprintf(text, sizeof text, "%g", engine->get_average_frames_per_second());
    EXPECT_STREQ(text, "59.8333");

    // Through the hooks the library calls on input: any key event, press
    // or release, and mouse events with flags reset the idle time; a mouse
    // event without flags does not.
    ASSERT_NE(mouse_callback, nullptr);
    ASSERT_NE(keyboard_lowlevel_callback, nullptr);
    mouse_callback(0);
    EXPECT_EQ(engine->get_idle_timer(), 6);
    mouse_callback(MOUSE_FLAG_MOVE);
    EXPECT_EQ(engine->get_idle_timer(), 0);
    Engine_one_second_timer();
    keyboard_lowlevel_callback(KEY_A);
    EXPECT_EQ(engine->get_idle_timer(), 0);
    Engine_one_second_timer();
    keyboard_lowlevel_callback(0x80 | KEY_A);
    EXPECT_EQ(engine->get_idle_timer(), 0);
    Engine_one_second_timer();
    engine->reset_idle_timer();
    EXPECT_EQ(engine->get_idle_timer(), 0);

    engine->set_infinite_mouse_x(-7);
    engine->set_infinite_mouse_y(9);
    EXPECT_EQ(engine->get_infinite_mouse_x(), -7);
    EXPECT_EQ(engine->get_infinite_mouse_y(), 9);
    EXPECT_EQ(engine->updates_per_second(), 60);
    EXPECT_EQ(Engine::get_instance(), engine);
    delete engine;
}

std::string graphics_mode_error(Engine *engine, int width, int height, int depth, bool fullscreen = false)
{
    try {
        engine->set_graphics_mode(width, height, depth, fullscreen);
    } catch (const InitError &e) {
        return e.error_string();
    }
    return "no InitError";
}

TEST(StartUp, AGraphicsModeThatCannotBeSetRaisesInitError)
{
    engine_test::Scratch_Log_Dir dir;
    ASSERT_EQ(allegro_init(), 0);
    Engine *engine = Engine::get_instance();

    // A failing depth other than 16 raises at once, without a retry.
    EXPECT_EQ(graphics_mode_error(engine, 800, 800, 12).rfind("Could not change graphics mode: ", 0), 0u);
    // A side below 1, a side no X screen holds or a screen beyond a sane
    // memory bound is refused before the library sees it (its X11 driver
    // aborts or corrupts its heap on such sizes), at 16 bits too, without a
    // retry.
    const struct {
        int width, height;
        const char *size;
    } unusable[] = {{800, 0, "800x0 has a side below 1"},
                    {0, 600, "0x600 has a side below 1"},
                    {800, -1, "800x-1 has a side below 1"},
                    {-5, -5, "-5x-5 has a side below 1"},
                    {16385, 600, "16385x600 has a side above 16384"},
                    {800, 32768, "800x32768 has a side above 16384"},
                    {46341, 46341, "46341x46341 has a side above 16384"},
                    {65536, 65536, "65536x65536 has a side above 16384"},
                    {16384, 4097, "16384x4097 has more than 67108864 pixels"}};
    for (const auto &mode : unusable) {
        EXPECT_EQ(graphics_mode_error(engine, mode.width, mode.height, 16),
                  std::string("Could not change graphics mode: screen size ") + mode.size);
    }
    EXPECT_EQ(dir.log().find("Trying 15 BPP"), std::string::npos);

#ifndef __SANITIZE_ADDRESS__
    // A screen too large for the memory left fails at 16 and at 15 bits.
    // (The address sanitizer reserves more address space than the limit.)
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_DATA, &saved), 0);
    const std::string status = read_file("/proc/self/status");
    const rlim_t in_use = std::stoull(status.substr(status.find("VmData:") + 7)) * 1024;
    rlimit tight = saved;
    tight.rlim_cur = in_use + 16 * 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &tight), 0);
    const std::string error = graphics_mode_error(engine, 8192, 8192, 16);
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &saved), 0);
    EXPECT_EQ(error.rfind("Could not change graphics mode: ", 0), 0u) << error;
    EXPECT_NE(dir.log().find("Trying 15 BPP color depth, 16 BPP failed: "),
              std::string::npos);
#endif
    EXPECT_EQ(dir.log().find("Graphics driver: "), std::string::npos);

    engine->set_graphics_mode(640, 480, 16, false);
    std::string log = dir.log();
    EXPECT_NE(log.find("Graphics driver: "), std::string::npos);
    EXPECT_NE(log.find("Description: "), std::string::npos);
    EXPECT_EQ(SCREEN_W, 640);
    delete engine;
}

} // namespace
