// Emulator manager: lazy creation, wrap-around switching, notifications and
// the state it restores and saves.
#include <memory>

#include "catalogue/emumgr.h"
#include "catalogue_fixture.h"
#include "support/fileutil.h"
#include "support/logfile.h"

using Marvane::Emulator_Manager;

namespace {

struct Recording_Listener : Marvane::Emulator_Manager_Listener {
    explicit Recording_Listener(Emulator_Manager* m = nullptr) : manager(m) {}
    void emulator_manager_changed() override
    {
        ++changes;
        if (manager)
            indices.push_back(manager->get_current_emulator_index());
    }
    void poll_emulator_manager() override { ++polls; }
    Emulator_Manager* manager;
    int changes = 0;
    int polls = 0;
    std::vector<unsigned> indices;
};

class Manager_Test : public Catalogue_Test {
protected:
    // marvo.cfg listing the names, and a valid ROM-list emulator for each
    // name given in `valid` with one game.
    std::unique_ptr<Emulator_Manager> make(const std::string& emulators, const std::vector<std::string>& valid,
                                           const std::string& state = "")
    {
        write_file("marvo.cfg", "[Main]\nemulators=" + emulators + "\npath_prefix=pre/\n");
        for (const std::string& name : valid) {
            write_emulator(name, "name=Title " + name + "\nexecutable=emu\nuse_rom_file=yes\n");
            write_file("config/" + name + ".rom", "game\n");
        }
        if (!state.empty())
            write_file("marvo.sta", state);
        config = std::make_unique<Config_File>("marvo.cfg");
        state_file = std::make_unique<Config_File>("marvo.sta");
        return std::make_unique<Emulator_Manager>(config.get(), state_file.get());
    }

    std::unique_ptr<Config_File> config;
    std::unique_ptr<Config_File> state_file;
};

}  // namespace

TEST_F(Manager_Test, SwitchingWrapsAroundThreeEmulators)
{
    auto mgr = make("A B C", {"A", "B", "C"}, "[Main]\ncurrent_emu=2\n");
    Recording_Listener listener(mgr.get());
    mgr->set_listener(&listener);
    mgr->restore_state();
    mgr->increment_emulator_index();
    mgr->decrement_emulator_index();
    mgr->decrement_emulator_index();
    EXPECT_EQ(listener.indices, (std::vector<unsigned>{0, 2, 0, 2, 1}));
    EXPECT_EQ(mgr->get_number_of_emulators(), 3u);
    EXPECT_EQ(mgr->get_current_emulator()->name(), "Title B");
}

TEST_F(Manager_Test, OneEmulatorStaysCurrentAndStillNotifies)
{
    auto mgr = make("A", {"A"});
    Recording_Listener listener(mgr.get());
    mgr->set_listener(&listener);
    mgr->increment_emulator_index();
    mgr->decrement_emulator_index();
    EXPECT_EQ(listener.indices, (std::vector<unsigned>{0, 0, 0}));
}

TEST_F(Manager_Test, NoEmulatorsMeansNoCurrentAndNoNotifications)
{
    auto mgr = make("", {}, "[Main]\ncurrent_emu=3\n");
    EXPECT_EQ(mgr->get_number_of_emulators(), 0u);
    EXPECT_EQ(mgr->get_current_emulator(), nullptr);
    Recording_Listener listener(mgr.get());
    mgr->set_listener(&listener);
    listener.changes = 0;
    mgr->increment_emulator_index();
    mgr->decrement_emulator_index();
    EXPECT_EQ(listener.changes, 0);
    mgr->save_state();
    mgr.reset();
    Config_File state("marvo.sta");
    std::unique_ptr<Config_Section> main(state.get_section("Main"));
    EXPECT_EQ(main->get_int("current_emu", -7), 0);
}

TEST_F(Manager_Test, OutOfRangeCurrentEmuKeepsIndexZeroAndNotifiesOnce)
{
    for (const char* value : {"3", "5", "-1", "junk"}) {
        auto mgr = make("A B C", {"A", "B", "C"}, std::string("[Main]\ncurrent_emu=") + value + "\n");
        Recording_Listener listener(mgr.get());
        mgr->set_listener(&listener);
        listener.indices.clear();
        mgr->restore_state();
        EXPECT_EQ(listener.indices, (std::vector<unsigned>{0})) << value;
    }
}

TEST_F(Manager_Test, AtMostSixteenNamesAndQuotedNamesKeepTheirBlanks)
{
    auto many = make("A B C D E F G H I J K L M N O P Q", {});
    EXPECT_EQ(many->get_number_of_emulators(), 16u);
    // A generated category name keeps the blank before its dot.
    auto mgr = make("\"Maze \" A", {"Maze ", "A"});
    ASSERT_EQ(mgr->get_number_of_emulators(), 2u);
    ASSERT_NE(mgr->get_current_emulator(), nullptr);
    EXPECT_EQ(mgr->get_current_emulator()->name(), "Title Maze");  // found config/Maze .cfg
    EXPECT_EQ(mgr->get_current_emulator()->config_name(), "Maze ");
}

TEST_F(Manager_Test, NullListenerIsAcceptedAndEmulatorsAreCreatedLazily)
{
    auto mgr = make("A B", {"A", "B"});
    mgr->set_listener(nullptr);
    mgr->increment_emulator_index();
    Marvane::Emulator* b = mgr->get_current_emulator();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name(), "Title B");
    EXPECT_EQ(b->directory(), "pre/.");  // the path prefix reaches the emulator
    EXPECT_EQ(mgr->get_current_emulator(), b);
}

TEST_F(Manager_Test, LoadingPollsArePassedToTheListener)
{
    auto mgr = make("A", {"A"});
    Recording_Listener listener;
    mgr->set_listener(&listener);
    ASSERT_NE(mgr->get_current_emulator(), nullptr);
    EXPECT_EQ(listener.polls, 2);  // after the settings, after the one game
}

TEST_F(Manager_Test, InvalidConfigurationIsLoggedOnceAndShownAsInvalid)
{
    std::filesystem::create_directory("logs");
    LogFile::open_log_file("logs/marvo.log");
    auto mgr = make("A Bad Gone", {"A"});  // config/Gone.cfg does not exist
    write_emulator("Bad", "executable=emu\n");
    ASSERT_NE(mgr->get_current_emulator(), nullptr);
    mgr->increment_emulator_index();
    Marvane::Emulator* bad = mgr->get_current_emulator();
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->name(), "Invalid Configuration");
    EXPECT_EQ(bad->description(), "(Bad)");
    const std::string gone_line = "[Info] Invalid emulator config for Gone\n";
    EXPECT_EQ(read_file("logs/marvo.log").find(gone_line), std::string::npos) << "made before it became current";
    mgr->increment_emulator_index();
    EXPECT_EQ(mgr->get_current_emulator()->name(), "Invalid Configuration");
    EXPECT_NE(read_file("logs/marvo.log").find(gone_line), std::string::npos);
    mgr->increment_emulator_index();
    mgr->get_current_emulator();
    mgr->increment_emulator_index();
    EXPECT_EQ(mgr->get_current_emulator(), bad);
    const std::string log = read_file("logs/marvo.log");
    const std::string line = "[Info] Invalid emulator config for Bad\n";
    ASSERT_NE(log.find(line), std::string::npos);
    EXPECT_EQ(log.find(line, log.find(line) + 1), std::string::npos);
    mgr->save_state();  // the invalid slot writes nothing
    EXPECT_EQ(read_file("marvo.sta").find("selected_index"), read_file("marvo.sta").rfind("selected_index"));
}

TEST_F(Manager_Test, SavingLeavesEmulatorsNotVisitedAlone)
{
    auto mgr = make("A B C", {"A", "B", "C"},
                    "[Main]\ncurrent_emu=0\n[B]\nselected_index=7\nfirst_shown_index=4\n");
    mgr->set_listener(nullptr);
    mgr->restore_state();
    mgr->get_current_emulator()->set_selected_index(1);
    mgr->decrement_emulator_index();
    Marvane::Emulator* c = mgr->get_current_emulator();
    c->set_selected_index(9);
    c->set_first_shown_index(8);
    mgr->save_state();
    mgr.reset();
    Config_File state("marvo.sta");
    auto get = [&](const std::string& section, const std::string& key) {
        std::unique_ptr<Config_Section> s(state.get_section(section));
        return s->get_int(key, -1);
    };
    EXPECT_EQ(get("Main", "current_emu"), 2);
    EXPECT_EQ(get("A", "selected_index"), 1);
    EXPECT_EQ(get("A", "first_shown_index"), 0);
    EXPECT_EQ(get("B", "selected_index"), 7);
    EXPECT_EQ(get("B", "first_shown_index"), 4);
    EXPECT_EQ(get("C", "selected_index"), 9);
    EXPECT_EQ(get("C", "first_shown_index"), 8);
}

TEST_F(Manager_Test, NamesDifferingInCaseShareOneStateSection)
{
    auto mgr = make("Neo NEO", {"Neo"}, "[neo]\nselected_index=3\n");
    mgr->set_listener(nullptr);
    EXPECT_EQ(mgr->get_current_emulator()->get_selected_index(), 3u);
    mgr->get_current_emulator()->set_selected_index(4);
    mgr->increment_emulator_index();
    // "NEO" finds config/Neo.cfg ignoring case and reads the same section.
    EXPECT_EQ(mgr->get_current_emulator()->get_selected_index(), 3u);
    mgr->get_current_emulator()->set_selected_index(6);
    mgr->save_state();
    mgr.reset();
    Config_File state("marvo.sta");
    std::unique_ptr<Config_Section> s(state.get_section("NEO"));
    EXPECT_EQ(s->get_int("selected_index", -1), 6);  // the later slot wins
}
