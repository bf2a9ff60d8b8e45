// The built marvolist on the test's X display, driven with xdotool: Go runs
// against the fake MAME and ends with the "Completed!!" box, a failed check
// shows its own box, Enter opens About, and Exit saves "Config.ini".

#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <cstdio>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "generator/settings.h"
#include "own_display.h"
#include "run_fixture.h"

extern char** environ;

using namespace generator_test;

namespace {

// Standard output of a shell command line.
std::string shell(const std::string& command)
{
    std::string text;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// The visible window whose title is exactly `title`, other than `besides`, or "".
std::string window_titled(const std::string& title, const std::string& besides = "")
{
    std::istringstream ids(shell("xdotool search --onlyvisible --name ."));
    for (std::string id; ids >> id;) {
        std::string name = shell("xdotool getwindowname " + id);
        while (!name.empty() && name.back() == '\n')
            name.pop_back();
        if (name == title && id != besides)
            return id;
    }
    return "";
}

// A window's width and height.
std::pair<int, int> window_size(const std::string& window)
{
    std::istringstream size(shell("xdotool getwindowgeometry --shell " + window));
    std::pair<int, int> found{0, 0};
    for (std::string line; std::getline(size, line);) {
        if (line.rfind("WIDTH=", 0) == 0)
            found.first = std::stoi(line.substr(6));
        if (line.rfind("HEIGHT=", 0) == 0)
            found.second = std::stoi(line.substr(7));
    }
    return found;
}

class Marvolist : public Generator_Run {
protected:
    void SetUp() override
    {
        Generator_Run::SetUp();
        start_display();
        // Config.ini lives beside the executable, so the program gets a copy of its own.
        program = root / "bin" / "marvolist";
        fs::create_directories(program.parent_path());
        fs::copy_file(fs::path(MARVO_BINARY_DIR) / "bin" / "marvolist", program);
        ini = program.parent_path() / "Config.ini";
    }

    void TearDown() override
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        stop_own_display(xvfb);
        Generator_Run::TearDown();
    }

    // An X server of this test's own, so that no other window on a shared
    // display can take the clicks and keys meant for marvolist.
    void start_display() { start_own_display(xvfb); }

    // Starts the copy; `directory` is its working directory when not empty,
    // `home` its HOME when not empty.
    void start(const fs::path& directory = {}, const fs::path& home = {})
    {
        const std::string path = program.string();
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        std::vector<std::string> variables;
        for (char** v = environ; *v != nullptr; ++v)
            if (home.empty() || std::strncmp(*v, "HOME=", 5) != 0)
                variables.emplace_back(*v);
        if (!home.empty())
            variables.push_back("HOME=" + home.string());
        std::vector<char*> envp;
        for (std::string& v : variables)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!directory.empty())
            posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
        const std::string log = (root / "marvolist.log").string();
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        rlimit saved{}, limit{file_size_limit, RLIM_INFINITY};
        getrlimit(RLIMIT_FSIZE, &saved);
        limit.rlim_max = saved.rlim_max;
        setrlimit(RLIMIT_FSIZE, &limit);
        const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data());
        setrlimit(RLIMIT_FSIZE, &saved);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(started, 0);
        ASSERT_TRUE(wait_for([&] { return !(main_window = window_titled("Tovan Marvane Tools")).empty(); }))
            << "alive " << (kill(pid, 0) == 0) << " display " << std::getenv("DISPLAY") << " log "
            << read_file(log) << " windows " << shell("xdotool search --name .");
    }

    // A click at a point of a window, in the window's own coordinates.
    void click(const std::string& window, int x, int y)
    {
        shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
              std::to_string(y) + " click 1");
    }

    void key(const std::string& window, const char* name)
    {
        shell("xdotool windowfocus --sync " + window + " key " + name);
    }

    // Waits for a window by its caption.
    std::string await(const std::string& caption)
    {
        std::string window;
        EXPECT_TRUE(wait_for([&] { return !(window = window_titled(caption)).empty(); }))
            << caption;
        return window;
    }

    void await_gone(const std::string& caption)
    {
        EXPECT_TRUE(wait_for([&] { return window_titled(caption).empty(); })) << caption;
    }

    // Waits for a message box by its caption, then answers it with Escape.
    void answer_box(const std::string& caption)
    {
        const std::string box = await(caption);
        ASSERT_FALSE(box.empty());
        key(box, "Escape");
        await_gone(caption);
    }

    // Exit, and the program's end; when the save is `refused`, its box
    // (captioned as the main window) is answered first.
    void exit_program(bool refused = false)
    {
        click(main_window, 8 + 44, 376 + 16);
        std::string box;
        if (refused) {
            EXPECT_TRUE(wait_for([&] { return !(box = window_titled("Tovan Marvane Tools", main_window)).empty(); }));
            key(box, "Escape");
        }
        int status = -1;
        ASSERT_TRUE(wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
        pid = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    fs::path program, ini;
    rlim_t file_size_limit = RLIM_INFINITY;
    std::string main_window;
    pid_t pid = -1;
    X_Server xvfb;
};

}  // namespace

TEST_F(Marvolist, GoCompletesAFailedCheckIsShownAndExitSaves)
{
    write_file(ini, "[CONFIG]\r\nROMPath=" + roms.string() + "\r\nSNAPPath=" + snap.string() +
                        "\r\nMAMEEXE=" + exe.string() + "\r\nOutputDir=" + out.string() +
                        "\r\nButtons=0\r\n");
    start();
    // A picture of the window for whoever checks its layout by eye.
    const fs::path picture = fs::path(MARVO_BINARY_DIR) / "marvolist-window.png";
    fs::remove(picture);
    shell("import -window root " + picture.string());
    EXPECT_TRUE(fs::exists(picture));

    click(main_window, 392 + 44, 376 + 16);  // Go
    answer_box("Tovan Marvane tools");       // "Completed!!"
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "puckman", "galaga", "sf2", "mrdo"}));
    EXPECT_EQ(output_names(), (std::vector<std::string>{"MAME.cfg", "mame.map", "mame.rom"}));

    fs::remove_all(snap);
    click(main_window, 392 + 44, 376 + 16);
    answer_box("Folder not found");  // "Error: Can't find SNAP Folder."

    // Enter opens the About box; its Close button closes it.
    key(main_window, "Return");
    std::string about;
    ASSERT_TRUE(wait_for([&] { return !(about = window_titled("About")).empty(); }));
    shell("import -window root " + (fs::path(MARVO_BINARY_DIR) / "marvolist-about.png").string());
    click(about, 224 + 32, 72 + 12);
    ASSERT_TRUE(wait_for([&] { return window_titled("About").empty(); }));
    // So it does with the focus in a field and the pointer over the option panel.
    click(main_window, 120 + 100, 64 + 136 + 10);
    key(main_window, "Return");
    ASSERT_TRUE(wait_for([&] { return !(about = window_titled("About")).empty(); }));
    click(about, 224 + 32, 72 + 12);
    ASSERT_TRUE(wait_for([&] { return window_titled("About").empty(); }));

    // MAME's megabyte line, and words of wide letters, make a box that
    // fits a small screen, and the program goes on.
    fs::create_directories(snap);
    for (const char* said :
         {"head -c 1000000 /dev/zero | tr '\\0' x", "yes WWWWWWWWW | head -n 40"}) {
        SCOPED_TRACE(said);
        write_file(exe, "#!/bin/sh\n" + std::string(said) + " | tr '\\n' ' ' >&2\nexit 3\n");
        click(main_window, 392 + 44, 376 + 16);
        std::string box;
        ASSERT_TRUE(wait_for([&] { return !(box = window_titled("Tovan Marvane Tools", main_window)).empty(); }))
            << "alive " << (kill(pid, 0) == 0);
        const auto [width, height] = window_size(box);
        EXPECT_LE(width, 1024);
        EXPECT_LE(height, 768);
        key(box, "Escape");
        ASSERT_TRUE(wait_for([&] { return window_titled("Tovan Marvane Tools", main_window).empty(); }));
    }

    exit_program();
    EXPECT_EQ(temp_left(), std::vector<std::string>{});
    const std::string saved = read_file(ini);
    EXPECT_NE(saved.find("\r\nButtons=0\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\r\nVerify=0\r\n"), std::string::npos) << saved;
    EXPECT_EQ(Marvane::read_settings(ini.string()).mame_exe, exe.string());
}

TEST_F(Marvolist, ClickingTheBannerOpensTheReadme)
{
    // The desktop's opener stands in on PATH, writing down what it is asked.
    const fs::path opener = root / "opener";
    fs::create_directories(opener);
    write_file(opener / "xdg-open", "#!/bin/sh\necho \"$@\" > \"$0.part\"\nmv \"$0.part\" \"$0.asked\"\n");
    fs::permissions(opener / "xdg-open", fs::perms::owner_all, fs::perm_options::add);
    write_file(root / "README.md", "");  // the program is in root/bin
    const std::string path = std::getenv("PATH");
    setenv("PATH", (opener.string() + ":" + path).c_str(), 1);
    start();
    setenv("PATH", path.c_str(), 1);
    click(main_window, 300, 40);
    EXPECT_TRUE(wait_for([&] { return fs::exists(opener / "xdg-open.asked"); }));
    EXPECT_EQ(read_file(opener / "xdg-open.asked"), "file://" + root.string() + "/README.md\n");
    exit_program();
}

TEST_F(Marvolist, DamagedConfigOpensWithWhatCanBeRead)
{
    std::string junk(10 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string bytes = junk + "\n[CONFIG]\nOutputDir=/" + std::string(99999, 'o') + "\nVerify=1\n";
    write_file(ini, bytes);
    start();
    // It answers: Exit saves what it read and ends.
    exit_program();
    const Marvane::Generator_Settings s = Marvane::read_settings(ini.string());
    EXPECT_EQ(s.output_dir, "/" + std::string(99999, 'o'));
    EXPECT_TRUE(s.verify);
    EXPECT_EQ(s.filter, Marvane::default_filter);
    // The bytes it could not read are still there.
    EXPECT_TRUE(read_file(ini).compare(0, junk.size(), junk) == 0);
    // Past a file-size limit the save fails as on a full disk: told, the file whole.
    const std::string saved = read_file(ini);
    file_size_limit = 4 << 20;
    start();
    exit_program(true);
    EXPECT_TRUE(read_file(ini) == saved);
}

// The dialogs, in FLTK's own chooser (the desktop's one takes no keys from
// xdotool without a window manager): the folder browser opens on its field's
// folder and writes the chosen path; a cancelled dialog leaves its field.
TEST_F(Marvolist, DialogsWriteTheChoiceAndCancelChangesNothing)
{
    const fs::path home = root / "home";
    fs::create_directories(home / ".fltk" / "fltk.org");
    write_file(home / ".fltk" / "fltk.org" / "fltk.prefs",
               "; FLTK preferences file format 1.0\n; vendor: fltk.org\n; application: fltk\n\n"
               "[.]\n\n\n[./options]\n\nFNFCUsesGTK:0\n");
    fs::create_directories(roms / "pick");
    write_file(ini, "[CONFIG]\r\nROMPath=" + roms.string() +
                        "\r\nSNAPPath=/keep/snap\r\nMAMEEXE=/keep/mame\r\nCatverPath=/keep/cat\r\n");
    start(mame, home);

    // Types a name into a chooser and presses its OK button.
    const auto choose = [&](int button_x, int button_y, const char* title, const std::string& name) {
        click(main_window, button_x, button_y);
        const std::string dialog = await(title);
        ASSERT_FALSE(dialog.empty());
        shell("xdotool mousemove --window " + dialog + " 10 10 type " + name);
        const auto [width, height] = window_size(dialog);
        click(dialog, width - 148, height - 24);  // OK
        await_gone(title);
    };
    const auto cancel = [&](int button_x, int button_y, const char* title) {
        click(main_window, button_x, button_y);
        const std::string dialog = await(title);
        ASSERT_FALSE(dialog.empty());
        shell("xdotool mousemove --window " + dialog + " 10 10 key Escape");
        await_gone(title);
    };
    choose(448 + 12, 64 + 8 + 10, "Select MAME ROM Directory", "pick");
    cancel(448 + 12, 64 + 40 + 10, "Select MAME SNAP Directory");
    cancel(448 + 12, 64 + 72 + 10, "Select MAME.EXE");
    cancel(368 + 12, 64 + 104 + 10, "Select Catver.ini");
    exit_program();

    const Marvane::Generator_Settings s = Marvane::read_settings(ini.string());
    EXPECT_EQ(fs::path(s.rom_path), roms / "pick");
    EXPECT_EQ(s.snap_path, "/keep/snap");
    EXPECT_EQ(s.mame_exe, "/keep/mame");
    EXPECT_EQ(s.catver_path, "/keep/cat");
}
