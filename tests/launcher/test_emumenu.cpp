// The game-menu controller on a real engine driven cycle by cycle: the
// settings it reads and clamps, the turbo threshold against the number of
// games, and its states from browsing to the final choice.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "addons/sound_capture.h"
#include "catalogue/emulator.h"
#include "catalogue/emumgr.h"
#include "launcher/emumenu.h"
#include "launcher/launcher.h"
#include "support/fileutil.h"
#include "support/vx_key.h"
#include "views/engine_driver.h"
#include "views/movetext.h"

using Marvane::Emu_Menu_Controller;
using Marvane::Scrollable_List_VC;
using views_test::Engine_Driver;

namespace {

namespace fs = std::filesystem;

// Reads the settings the controller handed to the menu's list.
struct List_Peek : Scrollable_List_VC {
    static const Scrollable_List_VC* of(const Marvane::Menu_View* menu);
    static int turbo(const Scrollable_List_VC* l) { return l->*(&List_Peek::turbo_scroll_threshold); }
    static int selected_fg_of(const Scrollable_List_VC* l) { return l->*(&List_Peek::selected_fg); }
    static int unselected_outline_of(const Scrollable_List_VC* l) { return l->*(&List_Peek::unselected_outline); }
    static int axis(const Scrollable_List_VC* l) { return l->*(&List_Peek::mouse_input_axis); }
    static int mouse_threshold(const Scrollable_List_VC* l) { return l->*(&List_Peek::mouse_input_threshold); }
    static std::size_t count(const Scrollable_List_VC* l) { return (l->*(&List_Peek::items)).size(); }
};
struct Menu_Peek : Marvane::Menu_View {
    static const Scrollable_List_VC* list_of(const Marvane::Menu_View* m) { return m->*(&Menu_Peek::list); }
    static bool ready(const Marvane::Menu_View* m) { return m->*(&Menu_Peek::state) == READY; }
    static std::string title_of(const Marvane::Menu_View* m) { return (m->*(&Menu_Peek::title))->get_contents(); }
    static std::string subtitle_of(const Marvane::Menu_View* m)
    {
        return (m->*(&Menu_Peek::subtitle))->get_contents();
    }
};
const Scrollable_List_VC* List_Peek::of(const Marvane::Menu_View* menu) { return Menu_Peek::list_of(menu); }

struct Recorder : Marvane::Emu_Menu_Listener {
    void game_selected(Marvane::Emulator* emulator, Marvane::Game* game) override
    {
        chosen.push_back(emulator->config_name() + ":" + game->get_rom_name());
    }
    void quit_selected() override { ++quits; }
    std::vector<std::string> chosen;
    int quits = 0;
};

class Emu_Menu_Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = make_scratch_dir("emumenu");
        ASSERT_EQ(chdir(dir.c_str()), 0);
        fs::create_directories("config");
        fs::create_directories("snaps");
        driver = std::make_unique<Engine_Driver>();
        font = views_test::make_font_16();
    }

    void TearDown() override
    {
        controller.reset();
        manager.reset();
        destroy_font(font);
        driver.reset();
        fs::remove_all(dir);
    }

    // An emulator fed from a ROM list of the given games ("g000", ...).
    static void write_emulator(const std::string& name, int games)
    {
        std::ofstream cfg("config/" + name + ".cfg");
        cfg << "[Emulator]\nname = " << name << " games\ndescription = test\nexecutable = emu\n"
            << "use_rom_file = yes\nscreen_shot_directory = snaps\n";
        std::ofstream rom("config/" + name + ".rom");
        for (int i = 0; i < games; ++i) {
            char game[16];
            std::snprintf(game, sizeof game, "g%03d ", i);
            rom << game;
        }
    }

    // Builds the controller over marvo.cfg with these lines in [Main].
    void build(const std::string& main_lines, const std::string& emulators = "Many",
               Marvane::DataFile* data = nullptr)
    {
        controller.reset();
        manager.reset();
        {
            std::ofstream cfg("marvo.cfg");
            cfg << "[Main]\nemulators = " << emulators << "\n" << main_lines;
        }
        config = std::make_unique<Config_File>("marvo.cfg");
        state = std::make_unique<Config_File>("marvo.sta");
        manager = std::make_unique<Marvane::Emulator_Manager>(config.get(), state.get());
        controller = std::make_unique<Emu_Menu_Controller>(driver->engine, font, 200, 0, 399, 600,
                                                           Marvane::MENU_TYPE_HORIZONTAL, manager.get());
        controller->set_listener(&recorder);
        controller->load_state(data, config.get());
    }

    const Scrollable_List_VC* list() const { return List_Peek::of(controller->get_menu()); }

    // Runs cycles until the controller reaches state (at most limit cycles).
    bool run_until_state(int wanted, int limit = 300)
    {
        for (int i = 0; i < limit && controller->get_state() != wanted; ++i)
            driver->run_cycles(1);
        return controller->get_state() == wanted;
    }

    // Runs cycles until the menu takes keys again.
    void settle()
    {
        for (int i = 0; i < 300 && !Menu_Peek::ready(controller->get_menu()); ++i)
            driver->run_cycles(1);
        driver->run_cycles(2);
    }

    void start_browsing()
    {
        controller->start();
        ASSERT_TRUE(run_until_state(2));
        settle();
    }

    std::string dir;
    std::unique_ptr<Engine_Driver> driver;
    FONT* font = nullptr;
    std::unique_ptr<Config_File> config, state;
    std::unique_ptr<Marvane::Emulator_Manager> manager;
    std::unique_ptr<Emu_Menu_Controller> controller;
    Recorder recorder;
};

TEST_F(Emu_Menu_Test, SettingsAreReadWithTheirDefaultsAndLimits)
{
    write_emulator("Many", 5);
    build("");
    EXPECT_EQ(controller->get_effect_volume(), 255);
    EXPECT_EQ(controller->get_mouse_input_threshold(), 250);
    EXPECT_EQ(controller->get_screen_shot_brightness(), 0);
    EXPECT_EQ(controller->get_menu_animation_time(), 500);
    EXPECT_EQ(List_Peek::selected_fg_of(list()), makecol(0, 0, 0));
    EXPECT_EQ(List_Peek::unselected_outline_of(list()), makecol(0, 0, 0));

    struct Case {
        const char* lines;
        int volume, threshold, axis;
    };
    const Case cases[] = {
        {"sound_effect_volume = 2000\nmouse_input_threshold = 0\nmouse_input_axis = 7\n", 255, 1, 0},
        {"sound_effect_volume = -3\nmouse_input_threshold = -5\nmouse_input_axis = 3\n", 0, 1, 3},
        {"sound_effect_volume = 500\nmouse_input_threshold = 1\nmouse_input_axis = 4\n", 127, 1, 4},
        {"sound_effect_volume = 1000\nmouse_input_threshold = 40\nmouse_input_axis = -1\n", 255, 40, 0},
    };
    for (const Case& c : cases) {
        build(c.lines);
        EXPECT_EQ(controller->get_effect_volume(), c.volume) << c.lines;
        EXPECT_EQ(controller->get_mouse_input_threshold(), c.threshold) << c.lines;
        EXPECT_EQ(List_Peek::mouse_threshold(list()), c.threshold) << c.lines;
        EXPECT_EQ(List_Peek::axis(list()), c.axis) << c.lines;
    }

    build("selected_fg_color = 10 20\nunselected_outline_color = 10 20 30\nuse_animations = no\n");
    EXPECT_EQ(List_Peek::selected_fg_of(list()), makecol(0, 0, 0)) << "two numbers keep the default";
    EXPECT_EQ(List_Peek::unselected_outline_of(list()), makecol(10, 20, 30));
    EXPECT_EQ(controller->get_menu_animation_time(), 0);
    build("selected_fg_color = 1 2 3 4\nunselected_outline_color = red green blue\n");
    EXPECT_EQ(List_Peek::selected_fg_of(list()), makecol(0, 0, 0)) << "four numbers keep the default";
    EXPECT_EQ(List_Peek::unselected_outline_of(list()), makecol(0, 0, 0)) << "words read as 0";
}

TEST_F(Emu_Menu_Test, TurboScrollingOnlyAboveTheLargeMenuThreshold)
{
    write_emulator("Hundred", 100);
    write_emulator("Hundred_And_One", 101);
    build("large_menu_threshold = 100\nturbo_scroll_threshold = 3\n", "Hundred");
    EXPECT_EQ(List_Peek::turbo(list()), -1);
    build("large_menu_threshold = 100\nturbo_scroll_threshold = 3\n", "Hundred_And_One");
    EXPECT_EQ(List_Peek::turbo(list()), 3);
    EXPECT_EQ(controller->get_turbo_scroll_threshold(), 3);
    EXPECT_EQ(controller->get_large_menu_threshold(), 100);
}

TEST_F(Emu_Menu_Test, QuitIsReportedOnceAfterTheMenuHasLeft)
{
    write_emulator("Many", 5);
    build("");
    start_browsing();
    driver->tap(KEY_ESC);
    EXPECT_EQ(controller->get_state(), 5);
    EXPECT_EQ(recorder.quits, 0) << "not before the menu has left";
    ASSERT_TRUE(run_until_state(8));
    driver->run_cycles(60);
    EXPECT_EQ(recorder.quits, 1);
    EXPECT_TRUE(recorder.chosen.empty());
}

TEST_F(Emu_Menu_Test, ChoosingReportsTheGameAtTheStoredSelection)
{
    write_emulator("Many", 5);
    build("");
    start_browsing();
    for (int i = 0; i < 2; ++i) {
        driver->tap(KEY_DOWN);
        settle();
    }
    driver->tap(KEY_1);
    EXPECT_EQ(controller->get_state(), 6);
    EXPECT_EQ(manager->get_current_emulator()->get_selected_index(), 2u);
    ASSERT_TRUE(run_until_state(8));
    driver->run_cycles(60);
    EXPECT_EQ(recorder.chosen, std::vector<std::string>{"Many:g002"});
    EXPECT_EQ(recorder.quits, 0);
}

TEST_F(Emu_Menu_Test, SwitchingEmulatorsKeepsEachOnesSelection)
{
    write_emulator("First", 5);
    write_emulator("Second", 7);
    build("", "First Second");
    start_browsing();
    driver->tap(KEY_DOWN);
    settle();
    // Next emulator (the default Alt), down twice there, then back (Control).
    driver->tap(vx_key_to_allegro_key(100));
    ASSERT_TRUE(run_until_state(2));
    settle();
    EXPECT_EQ(manager->get_current_emulator()->config_name(), "Second");
    driver->tap(KEY_DOWN);
    settle();
    driver->tap(KEY_DOWN);
    settle();
    driver->tap(vx_key_to_allegro_key(98));
    ASSERT_TRUE(run_until_state(2));
    settle();
    EXPECT_EQ(manager->get_current_emulator()->config_name(), "First");
    EXPECT_EQ(controller->get_menu()->get_selected_index(), 1u);
    // And the previous key wraps round to the last emulator.
    driver->tap(vx_key_to_allegro_key(98));
    ASSERT_TRUE(run_until_state(2));
    settle();
    EXPECT_EQ(manager->get_current_emulator()->config_name(), "Second");
    EXPECT_EQ(controller->get_menu()->get_selected_index(), 2u);
}

TEST_F(Emu_Menu_Test, NextEmulatorWithOnlyOneComesBackToTheSameGame)
{
    write_emulator("Only", 6);
    build("", "Only");
    EXPECT_EQ(Menu_Peek::title_of(controller->get_menu()), "Only games");
    EXPECT_EQ(Menu_Peek::subtitle_of(controller->get_menu()), "test");
    EXPECT_EQ(List_Peek::count(list()), 6u);
    start_browsing();
    for (int i = 0; i < 2; ++i) {
        driver->tap(KEY_DOWN);
        settle();
    }
    driver->tap(vx_key_to_allegro_key(100));
    EXPECT_EQ(controller->get_state(), 3);
    ASSERT_TRUE(run_until_state(1));
    ASSERT_TRUE(run_until_state(2));
    settle();
    EXPECT_EQ(manager->get_current_emulator()->config_name(), "Only");
    EXPECT_EQ(List_Peek::count(list()), 6u) << "refilled, not appended to";
    EXPECT_EQ(controller->get_menu()->get_selected_index(), 2u);
    driver->tap(KEY_1);
    ASSERT_TRUE(run_until_state(8));
    EXPECT_EQ(recorder.chosen, std::vector<std::string>{"Only:g002"});
}

TEST_F(Emu_Menu_Test, ScreenShotKeyNeedsAPicture)
{
    write_emulator("Many", 3);
    std::ofstream("snaps/g001.bmp").close();  // found by name; its contents do not matter here
    build("");
    start_browsing();
    driver->tap(KEY_SPACE);
    EXPECT_EQ(controller->get_state(), 2) << "the first game has no picture";
    driver->tap(KEY_DOWN);
    settle();
    driver->tap(KEY_SPACE);
    EXPECT_EQ(controller->get_state(), 7);
    // The menu is out of the root container: its keys are dead.
    driver->tap(KEY_ESC);
    driver->run_cycles(60);
    EXPECT_EQ(recorder.quits, 0);
    driver->tap(KEY_SPACE);
    EXPECT_EQ(controller->get_state(), 2);
    // A screen saver starting in state 7 takes both views; only the picture
    // comes back with it.
    driver->tap(KEY_SPACE);
    ASSERT_EQ(controller->get_state(), 7);
    controller->set_views_hidden(true);
    controller->set_views_hidden(false);
    driver->tap(KEY_ESC);
    driver->run_cycles(60);
    EXPECT_EQ(recorder.quits, 0);
    driver->tap(KEY_SPACE);
    EXPECT_EQ(controller->get_state(), 2);
    settle();
    driver->tap(KEY_ESC);
    ASSERT_TRUE(run_until_state(8));
    EXPECT_EQ(recorder.quits, 1);
}

// Seven entries as in "marvo.dat": a sample at every index but the icon's.
struct Data_File {
    Data_File()
    {
        for (int i = 0; i < 7; ++i) {
            entries[i].type = i == Emu_Menu_Controller::DATA_ICON ? DAT_BITMAP : DAT_SAMPLE;
            if (i == Emu_Menu_Controller::DATA_ICON)
                entries[i].dat = create_bitmap(8, 8);
            else
                entries[i].dat = create_sample(8, 0, 11025, 11025 * 10);
        }
        entries[7].type = DAT_END;
    }
    ~Data_File()
    {
        file.data = nullptr;
        for (int i = 0; i < 7; ++i) {
            if (i == Emu_Menu_Controller::DATA_ICON)
                destroy_bitmap(static_cast<BITMAP*>(entries[i].dat));
            else
                destroy_sample(static_cast<SAMPLE*>(entries[i].dat));
        }
    }
    // The entries the mixer plays now, by index.
    std::set<int> playing() const
    {
        std::set<int> out;
        for (int v = 0; v < 256; ++v)
            for (int i = 0; i < 7; ++i)
                if (voice_check(v) != nullptr && voice_check(v) == entries[i].dat)
                    out.insert(i);
        return out;
    }
    void stop_all()
    {
        for (int i = 0; i < 7; ++i)
            if (i != Emu_Menu_Controller::DATA_ICON)
                stop_sample(static_cast<SAMPLE*>(entries[i].dat));
    }
    DATAFILE entries[8] = {};
    Marvane::DataFile file{entries};
};

TEST_F(Emu_Menu_Test, EachMoveSoundsTheEntryOfTheDataFileMadeForIt)
{
    // The sound plays into a file in the scratch directory.
    sound_test::capture_sound_into(dir);
    remove_sound();
    ASSERT_EQ(install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr), 0);
    Data_File data;
    write_emulator("First", 5);
    write_emulator("Second", 5);
    build("", "First Second", &data.file);
    start_browsing();
    auto sounds = [&](int scancode) {
        data.stop_all();
        driver->tap(scancode);
        return data.playing();
    };
    std::vector<std::set<int>> heard;
    for (int scancode : {int(KEY_DOWN), vx_key_to_allegro_key(100), vx_key_to_allegro_key(98)}) {
        heard.push_back(sounds(scancode));
        EXPECT_TRUE(run_until_state(2));
        settle();
    }
    heard.push_back(sounds(KEY_1));
    EXPECT_TRUE(run_until_state(8));
    build("", "First Second", &data.file);
    start_browsing();
    heard.push_back(sounds(KEY_ESC));
    EXPECT_TRUE(run_until_state(8));
    remove_sound();
    // The selection, next and previous emulator (one sound), the game, quit.
    EXPECT_EQ(heard, (std::vector<std::set<int>>{{4}, {0}, {0}, {6}, {3}}));
    EXPECT_EQ(recorder.chosen, std::vector<std::string>{"First:g001"});
    EXPECT_EQ(recorder.quits, 1);
}

TEST_F(Emu_Menu_Test, WithoutEmulatorsOnlyQuitWorks)
{
    build("", "");
    EXPECT_EQ(manager->get_current_emulator(), nullptr);
    EXPECT_EQ(Menu_Peek::title_of(controller->get_menu()), "No Emulators Loaded");
    EXPECT_EQ(Menu_Peek::subtitle_of(controller->get_menu()), "(Please Reconfigure)");
    EXPECT_EQ(List_Peek::count(list()), 0u);
    start_browsing();
    driver->tap(KEY_1);
    driver->tap(vx_key_to_allegro_key(100));
    driver->tap(vx_key_to_allegro_key(98));
    driver->run_cycles(60);
    EXPECT_EQ(controller->get_state(), 2);
    EXPECT_EQ(controller->get_current_screen_shot_file(), "");
    driver->tap(KEY_ESC);
    ASSERT_TRUE(run_until_state(8));
    EXPECT_EQ(recorder.quits, 1);
    EXPECT_TRUE(recorder.chosen.empty());
}

}  // namespace
