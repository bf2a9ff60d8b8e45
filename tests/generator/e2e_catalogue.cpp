// What a run writes is what the front-end's catalogue reads: the generated
// output directory serves as the front-end's "config" directory. One run goes
// through the main window against the MAME that Debian packages.

#include <FL/Fl.H>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "catalogue/emulator.h"
#include "generator/Unit1.h"
#include "own_display.h"
#include "run_fixture.h"

// Xlib last: its macros would otherwise clash with the test framework.
#include <FL/x.H>

using namespace generator_test;
using Marvane::Run_Option;
using Marvane::Run_Text;

namespace {

// An X server of the test's own for the window, closed with the window's
// connection to it when the test ends, however it ends.
class Window_Display {
public:
    Window_Display() { start_own_display(xvfb_); }
    ~Window_Display()
    {
        if (fl_display != nullptr)
            fl_close_display();
        stop_own_display(xvfb_);
    }
    Window_Display(const Window_Display&) = delete;
    Window_Display& operator=(const Window_Display&) = delete;
    bool started() const { return xvfb_.started(); }

private:
    X_Server xvfb_;
};

// The main window with its message boxes recorded instead of shown.
class Recording_Main : public TMain {
public:
    using TMain::TMain;
    std::vector<std::string> messages;

    void show_message(const std::string& text, const std::string& caption) override
    {
        messages.push_back(text + "|" + caption);
    }
};

struct Machine {
    std::string name;
    std::string description;
};

// The machines MAME lists, each line a name, blanks and a quoted description.
std::vector<Machine> machines_listed_by(const std::string& mame)
{
    std::vector<Machine> machines;
    FILE* list = popen(("'" + mame + "' -listfull 2>/dev/null").c_str(), "r");
    if (list == nullptr)
        return machines;
    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, list)) > 0;)
        text.append(buffer, n);
    pclose(list);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        const std::size_t open = line.find('"');
        machines.push_back({line.substr(0, line.find(' ')),
                            line.substr(open + 1, line.size() - open - 2)});
    }
    return machines;
}

// A description of 7-bit text without double quotes.
bool plain(const std::string& description)
{
    return std::all_of(description.begin(), description.end(),
                       [](char c) { return c != '"' && c > 0; });
}

// A to Z for a to z, as the front-end orders names.
std::string upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::vector<std::string> games_of(const Marvane::Emulator& emulator)
{
    std::vector<Marvane::Game*> games;
    emulator.get_game_list(games);
    std::vector<std::string> lines;
    for (const Marvane::Game* game : games)
        lines.push_back(game->get_rom_name() + "=" + game->get_full_name());
    return lines;
}

}  // namespace

TEST_F(Generator_Run, FrontEndReadsTheGeneratedCatalogue)
{
    const fs::path config = root / "config";
    fs::create_directory(config);
    host.fields[Run_Text::TXT_OUTPUT] = config.string();
    set(Run_Option::Chk_Cat);
    // Quotes inside a description and UTF-8 text, as a current MAME lists them.
    write_file(mame / "fixture-listfull.txt",
               std::string(default_full_list()) +
                   "cc10      \"Chess Challenger \"10\" (model CCX, rev. B)\"\n"
                   "cc7       \"Chess Challenger \"7\" (model BCC, rev. B)\"\n"
                   "attache   \"Attach\xC3\xA9\"\n");
    write_file(root / "catver.ini", "[Category]\npacman=Maze / Collect\nmrdo=Maze / Collect\n"
                                    "galaga=Shooter\ncc10=Maze / Collect\n");
    run();
    ASSERT_EQ(host.messages, std::vector<std::string>{"Completed!!|Tovan Marvane tools"});
    ASSERT_EQ(::chdir(root.c_str()), 0);

    // "MAME.cfg" names "mame.map"; its ROM list "MAME.rom" is found as
    // "mame.rom", since file names meet ignoring case.
    Marvane::Emulator all("MAME", "", nullptr);
    EXPECT_EQ(all.name(), "Mame Arcade Games");
    EXPECT_EQ(all.description(), "All Games");
    EXPECT_EQ(all.executable(), "mame");
    EXPECT_TRUE(fs::equivalent(all.directory(), mame));
    EXPECT_TRUE(fs::equivalent(all.rom_directory(), roms));
    EXPECT_TRUE(fs::equivalent(all.screen_shot_directory(), snap));
    EXPECT_TRUE(all.use_rom_file());
    EXPECT_EQ(games_of(all),
              (std::vector<std::string>{"attache=Attach\xE9",
                                        "cc10=Chess Challenger '10' (model CCX, rev. B)",
                                        "cc7=Chess Challenger '7' (model BCC, rev. B)",
                                        "galaga=Galaga (Namco rev. B)", "mrdo=Mr. Do!",
                                        "pacman=Pac-Man (Midway)",
                                        "puckman=PuckMan (Japan set 1)",
                                        "sf2=Street Fighter II: The World Warrior"}));

    // A category keeps its blank before the dot, in the name listed too.
    Marvane::Emulator maze("Maze ", "", nullptr);
    EXPECT_EQ(maze.description(), "Maze  Games");
    EXPECT_EQ(games_of(maze),
              (std::vector<std::string>{"cc10=Chess Challenger '10' (model CCX, rev. B)",
                                        "mrdo=Mr. Do!", "pacman=Pac-Man (Midway)"}));
}

TEST_F(Generator_Run, EveryMachineOfDebiansMameReachesTheFrontEnd)
{
    const std::string real_mame = "/usr/games/mame";
    if (!fs::exists(real_mame))
        GTEST_SKIP() << "MAME is not installed (scripts/setup installs it)";
    const std::vector<Machine> machines = machines_listed_by(real_mame);
    ASSERT_GT(machines.size(), 40000u);

    const auto names_in = [](const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> mame_folder = names_in("/usr/games");

    const fs::path config = root / "config";
    fs::create_directory(config);
    Window_Display display;
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(display.started());
    Recording_Main window((root / "Config.ini").string());
    Marvane::Generator_Settings settings = Marvane::default_settings();
    settings.rom_path = roms.string();
    settings.snap_path = snap.string();
    settings.mame_exe = real_mame;
    settings.output_dir = config.string();
    window.show_settings(settings);
    window.show();
    Fl::check();
    window.Command1->do_callback();
    ASSERT_EQ(window.messages, std::vector<std::string>{"Completed!!|Tovan Marvane tools"});
    // MAME's folder is left as it was; the lists went to the run's own.
    EXPECT_EQ(names_in("/usr/games"), mame_folder);
    EXPECT_EQ(temp_left(), std::vector<std::string>{});

    // Both lists hold every machine in MAME's order; a map line holds the
    // description as MAME gives it unless that has quotes or 8-bit text.
    std::string rom_list;
    for (const Machine& machine : machines)
        rom_list += machine.name + "\r\n";
    EXPECT_EQ(read_file(config / "mame.rom"), rom_list);
    const std::string map = read_file(config / "mame.map");
    std::size_t line_start = 0;
    for (const Machine& machine : machines) {
        const std::size_t line_end = map.find("\r\n", line_start);
        ASSERT_NE(line_end, std::string::npos) << machine.name;
        const std::string line = map.substr(line_start, line_end - line_start);
        line_start = line_end + 2;
        if (plain(machine.description))
            EXPECT_EQ(line, machine.name + " \"" + machine.description + "\"");
        else
            EXPECT_EQ(line.rfind(machine.name + " \"", 0), 0u) << line;
    }
    EXPECT_EQ(line_start, map.size());

    ASSERT_EQ(::chdir(root.c_str()), 0);
    Marvane::Emulator all("MAME", "", nullptr);
    std::vector<Marvane::Game*> games;
    all.get_game_list(games);
    std::map<std::string, std::string> shown;  // ROM name to the name shown
    for (const Marvane::Game* game : games)
        shown[game->get_rom_name()] = game->get_full_name();

    // Games whose whole names differ only in letter case are one entry of
    // the front-end, the later one; no other machine is lost.
    std::map<std::string, std::string> last_of_name;
    for (const Machine& machine : machines)
        last_of_name[upper(machine.description)] = machine.name;
    EXPECT_EQ(all.number_of_games(), last_of_name.size());
    for (const auto& entry : last_of_name)
        EXPECT_EQ(shown.count(entry.second), 1u) << entry.second;
    for (const Machine& machine : machines) {
        const auto found = shown.find(machine.name);
        if (found == shown.end())
            continue;
        EXPECT_EQ(found->second.find('"'), std::string::npos) << machine.name;
        if (plain(machine.description)) {
            EXPECT_EQ(found->second, machine.description) << machine.name;
        }
    }
    EXPECT_EQ(shown["cc10"], "Chess Challenger '10' (model CCX, rev. B)");
    EXPECT_EQ(shown["attache"], "Attach\xE9");
}
