// marvo-frontend: started only by the starter `marvo`, with one of two
// argument pairs; the exit code tells the starter what to do next.
#include <allegro.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/engine.h"
#include "launcher/launcher.h"
#include "support/fileutil.h"
#include "support/logfile.h"

namespace {

// The pairs the starter passes: the first asks for a fade-out first.
const char* const FADE_PAIR[2] = {"0x6D61", "0x7276"};
const char* const NO_FADE_PAIR[2] = {"0x6D61", "0x766F"};

bool is_pair(int argc, char** argv, const char* const pair[2])
{
    return argc == 3 && std::strcmp(argv[1], pair[0]) == 0 && std::strcmp(argv[2], pair[1]) == 0;
}

// A refusal to start, told to the console the starter runs in, so that the
// owner sees why no menu came.
void tell_refusal(std::string message)
{
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    std::fprintf(stderr, "marvo-frontend: %s\n", message.c_str());
}

// Run as root in a cabinet that belongs to another user, the owner's files
// (the emulators' command lines, runit.bat, links in the folder) would be
// obeyed as root, so the run is refused, as trusted tools refuse another
// user's folders. Gives the line that says so, or "" to go on: for an
// ordinary user, and for root in root's own cabinet.
std::string foreign_cabinet(const char* program)
{
    struct stat cabinet {};
    if (::geteuid() != 0 || ::stat(".", &cabinet) != 0 || cabinet.st_uid == 0)
        return "";
    std::string starter = program;
    const std::size_t slash = starter.rfind('/');
    starter = slash == std::string::npos ? "marvo" : starter.substr(0, slash + 1) + "marvo";
    const passwd* owner = ::getpwuid(cabinet.st_uid);
    const std::string as_owner =
        owner ? std::string(owner->pw_name) + ", not root; run it as its owner: runuser -u " + owner->pw_name + " -- "
              : "user " + std::to_string(cabinet.st_uid) + ", not root; run it as its owner: setpriv --reuid=" +
                    std::to_string(cabinet.st_uid) + " --regid=" + std::to_string(cabinet.st_gid) + " --clear-groups -- ";
    return "refused: this cabinet belongs to " + as_owner + starter;
}

}  // namespace

bool quietly_create_directory(const std::string& path)
{
    if (directory_exists(path))
        return true;
    return create_directory(path) && directory_exists(path);
}

int main(int argc, char** argv)
{
    Marvane::hold_termination_signals();
    // A file-size limit makes a write fail as a full disk does, and the
    // program goes on: a game chosen is still handed over.
    std::signal(SIGXFSZ, SIG_IGN);
    bool accepted = true;
    bool fade = false;
    if (is_pair(argc, argv, FADE_PAIR))
        fade = true;
    else if (!is_pair(argc, argv, NO_FADE_PAIR))
        accepted = false;
    // Before anything of the cabinet is read, made or removed.
    if (const std::string refusal = foreign_cabinet(argv[0]); !refusal.empty()) {
        tell_refusal(refusal);
        return 3;
    }

    // Game names and file names are 8-bit text (Latin-1 in the map files),
    // not UTF-8: every byte is one character.
    set_uformat(U_ASCII);
    install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
    // From here on a shutdown of the cabinet ends the run like the quit key.
    // Before anything else: allegro_message may start a program, which
    // would inherit the signals held.
    Marvane::catch_termination_signals();

    if (!accepted) {
        allegro_message("Use marvo.exe.\n");
        return 3;
    }
    // The starter tells the owner what code 4 means.
    if (!quietly_create_directory("logs"))
        return 4;

    int result = 3;
    Marvane::Launcher_Controller* controller = nullptr;
    try {
        LogFile::open_log_file("logs/marvo.log");
        LogFile::vx_log->info(Marvane::Launcher_Controller::get_version_string());
        LogFile::vx_log->info(allegro_id);
        controller = new Marvane::Launcher_Controller(fade);
        result = controller->launch_game();
    } catch (const GameEngine::InitError& error) {
        if (LogFile::vx_log)
            LogFile::vx_log->error(error.error_string());
        tell_refusal(error.error_string());
        result = 3;
    } catch (const std::exception& error) {
        tell_refusal(std::string("Stopped by an error: ") + error.what());
        result = 3;
    } catch (...) {
        tell_refusal("Stopped by an unknown error");
        result = 3;
    }
    delete controller;
    return result;
}
END_OF_MAIN()
