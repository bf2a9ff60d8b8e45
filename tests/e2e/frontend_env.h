// Drives the built front-end and starter in a scratch copy of the demo
// cabinet: spawning them there, waiting (always bounded) for log lines,
// files and exit codes, and pressing keys with xdotool on the X display the
// suite runs under.
#ifndef MARVO_TESTS_E2E_FRONTEND_ENV_H
#define MARVO_TESTS_E2E_FRONTEND_ENV_H

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Calls done until it holds or the time runs out; short pauses between
// (shorter ones where the moment it holds is measured).
inline bool within(double seconds, const std::function<bool()>& done,
                   std::chrono::microseconds pause = std::chrono::milliseconds(20))
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(pause);
    }
}

// Runs a shell command line; its exit status.
inline int shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string shell_output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process()
    {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    // Spawns argv in directory dir with extra environment entries; output
    // and errors are appended to output_file.
    bool start(const std::vector<std::string>& argv, const std::string& dir, const std::string& output_file,
               const std::map<std::string, std::string>& extra_env = {})
    {
        std::map<std::string, std::string> extra = extra_env;
        // Under the sanitizers: Allegro's sound modules and the ALSA library
        // they load are unloaded again at exit, which leaves their lifetime
        // allocations without a name to suppress them by. Keeping them
        // loaded from the start gives them their names (the modules need the
        // library's own symbols, so it comes first; the shell and the other
        // programs the front-end starts load them harmlessly).
        if (const char* asan = std::getenv("ASAN_OPTIONS"); asan && !extra.count("ASAN_OPTIONS")) {
            extra["ASAN_OPTIONS"] = std::string(asan) + ":verify_asan_link_order=0";
            std::string preload = "liballeg.so.4.4 libasound.so.2";
            for (const char* module : {"/usr/lib/x86_64-linux-gnu/allegro/4.4.3/alleg-alsadigi.so",
                                       "/usr/lib/x86_64-linux-gnu/allegro/4.4.3/alleg-alsamidi.so"})
                if (fs::exists(module))
                    preload.append(" ").append(module);
            // A library the test preloads itself comes after them.
            if (extra.count("LD_PRELOAD"))
                preload.append(" ").append(extra["LD_PRELOAD"]);
            extra["LD_PRELOAD"] = preload;
        }
        std::vector<std::string> env_text;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            const std::string name = entry.substr(0, entry.find('='));
            if (!extra.count(name))
                env_text.push_back(entry);
        }
        for (const auto& [name, value] : extra)
            env_text.push_back(name + "=" + value);
        std::vector<char*> args, env;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env_text)
            env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        // SIGTERM held from the child's start, when asked.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t held;
        sigemptyset(&held);
        if (start_held)
            sigaddset(&held, SIGTERM);
        posix_spawnattr_setsigmask(&attributes, &held);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        const int rc = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), env.data());
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0;
    }

    // The exit code, or -1 when it has not ended within the time (it is
    // killed then) or did not end normally (killed_by then names the signal).
    int wait(double seconds)
    {
        int status = 0;
        const bool ended = within(seconds, [&] { return waitpid(pid, &status, WNOHANG) == pid; });
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            exited = true;
            return -1;
        }
        exited = true;
        if (WIFSIGNALED(status))
            killed_by = WTERMSIG(status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool running() { return !exited && waitpid(pid, nullptr, WNOHANG) == 0; }

    pid_t pid = -1;
    bool exited = false;
    int killed_by = 0;
    // Set before start: SIGTERM held from the start (sent then, it waits
    // for the program to unblock it).
    bool start_held = false;
};

inline std::string frontend_program() { return std::string(MARVO_BINARY_DIR) + "/bin/marvo-frontend"; }
inline std::string starter_program() { return std::string(MARVO_BINARY_DIR) + "/bin/marvo"; }

// A scratch copy of the demo cabinet, made quick and quiet: no music, no
// screen saver, no picture delay unless a test asks for them.
class Cabinet {
public:
    explicit Cabinet(const std::string& subdirectory = "")
    {
        top = make_scratch_dir("e2e");
        dir = fs::path(top) / subdirectory;
        fs::create_directories(dir);
        dir = fs::canonical(dir);
        fs::copy(fs::path(MARVO_BINARY_DIR) / "cabinet", dir, fs::copy_options::recursive);
        std::string cfg = read_file(dir / "marvo.cfg");
        const std::string placeholder = "@CABINET@";
        cfg.replace(cfg.find(placeholder), placeholder.size(), dir.string());
        write_file(dir / "marvo.cfg", cfg);
        set("background_music", "0");
        set("screen_saver_time", "0");
        set("screen_shot_delay", "0");
    }

    ~Cabinet()
    {
        if (top.empty())
            return;
        if (::testing::Test::HasFailure())
            std::cerr << "cabinet kept for a look: " << dir << "\n";
        else
            fs::remove_all(top);
    }

    // Sets a key of section Main of marvo.cfg, replacing an earlier value.
    void set(const std::string& key, const std::string& value)
    {
        std::vector<std::string> out;
        bool in_main = false, done = false;
        for (const std::string& line : lines_of(read_file(dir / "marvo.cfg"))) {
            if (!line.empty() && line[0] == '[')
                in_main = line == "[Main]";
            if (in_main && line.rfind(key, 0) == 0 && line.find('=') != std::string::npos &&
                line.substr(0, line.find('=')).find_last_not_of(' ') + 1 == key.size()) {
                if (!done)
                    out.push_back(key + " = " + value);
                done = true;
                continue;
            }
            out.push_back(line);
            if (line == "[Main]" && !done) {
                out.push_back(key + " = " + value);
                done = true;
            }
        }
        std::string text;
        for (const std::string& line : out)
            text += line + "\n";
        write_file(dir / "marvo.cfg", text);
    }

    std::string read(const std::string& name) const { return read_file(dir / name); }
    bool exists(const std::string& name) const { return fs::exists(dir / name); }
    std::string log() const { return read("logs/marvo.log"); }
    std::string output() const { return read("output.txt"); }

    bool wait_for_log(const std::string& text, double seconds = 20) const
    {
        return within(seconds, [&] { return log().find(text) != std::string::npos; });
    }

    // Starts the front-end here with the given arguments (the starter's
    // no-fade pair by default).
    bool start(Process& process, std::vector<std::string> args = {"0x6D61", "0x766F"},
               const std::map<std::string, std::string>& env = {}) const
    {
        args.insert(args.begin(), frontend_program());
        return process.start(args, dir.string(), (dir / "output.txt").string(), env);
    }

    std::string top;
    fs::path dir;
};

// The front-end's window, focused, so that key presses reach it.
class Window {
public:
    // Waits for the (one) front-end window to show up and focuses it.
    bool find(double seconds = 15)
    {
        const bool found = within(seconds, [&] {
            const std::string out =
                shell_output("timeout 5 xdotool search --onlyvisible --name '^marvo-frontend$' 2>/dev/null");
            const std::vector<std::string> ids = lines_of(out);
            if (ids.empty())
                return false;
            id = ids.back();
            return true;
        });
        return found && shell("timeout 5 xdotool windowfocus " + id) == 0;
    }

    // Presses a key (an X key name) long enough for an update cycle to see it.
    bool press(const std::string& key_name)
    {
        return shell("timeout 5 xdotool keydown " + key_name + " sleep 0.1 keyup " + key_name + " sleep 0.05") == 0;
    }

    // The picture the front-end grabs into shot.png on F12, once written
    // whole; empty when none came.
    std::string grab(const Cabinet& cabinet)
    {
        const fs::path shot = cabinet.dir / "shot.png";
        fs::remove(shot);
        shell("timeout 5 xdotool keydown F12");
        const bool written = within(10, [&] { return fs::exists(shot) && fs::file_size(shot) > 0; });
        shell("timeout 5 xdotool keyup F12");
        if (!written)
            return "";
        // The grab repeats while the key is held: wait for the last one to
        // be complete (the size stays put for a while).
        std::uintmax_t size = 0;
        int steady = 0;
        within(5, [&] {
            std::error_code error;
            const std::uintmax_t now = fs::file_size(shot, error);
            steady = (!error && now == size && now > 0) ? steady + 1 : 0;
            size = now;
            return steady >= 8;
        });
        return read_file(shot);
    }

    // The window's picture as the X server shows it (PNG), taken without a
    // key press, which the front-end would count as activity.
    std::string look(const Cabinet& cabinet)
    {
        const fs::path file = cabinet.dir / "look.png";
        fs::remove(file);
        shell("timeout 10 import -window \"$(timeout 5 xdotool search --onlyvisible --name '^marvo-frontend$' "
              "2>/dev/null | tail -1)\" '" + file.string() + "' 2>/dev/null");
        return read_file(file);
    }

    // The mean and the highest brightness (0 to 1) of a picture.
    static std::pair<double, double> brightness(const Cabinet& cabinet, const std::string& png)
    {
        const fs::path copy = cabinet.dir / "brightness-check.png";
        write_file(copy, png);
        std::istringstream out(
            shell_output("convert '" + copy.string() + "' -colorspace Gray -format '%[fx:mean] %[fx:maxima]' info:"));
        fs::remove(copy);
        std::pair<double, double> result{-1, -1};
        out >> result.first >> result.second;
        return result;
    }

    // True when the picture holds no text (the menu has not appeared): the
    // antialiased menu text brings many shades, the empty screen one or two.
    static bool is_blank(const Cabinet& cabinet, const std::string& png)
    {
        const fs::path copy = cabinet.dir / "grab-check.png";
        write_file(copy, png);
        const std::string colours = shell_output("identify -format '%k' '" + copy.string() + "'");
        fs::remove(copy);
        return std::atoi(colours.c_str()) <= 8;
    }

    // Waits until two grabs in a row are the same and show something: the
    // menu has appeared and come to rest.
    std::string wait_until_still(const Cabinet& cabinet, double seconds = 20)
    {
        std::string previous = grab(cabinet), still;
        within(seconds, [&] {
            const std::string next = grab(cabinet);
            if (!next.empty() && next == previous && !is_blank(cabinet, next)) {
                still = next;
                return true;
            }
            previous = next;
            return false;
        });
        return still;
    }

    std::string id;
};

}  // namespace e2e

#endif
