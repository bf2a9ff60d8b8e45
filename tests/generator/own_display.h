#ifndef MARVO_TESTS_GENERATOR_OWN_DISPLAY_H
#define MARVO_TESTS_GENERATOR_OWN_DISPLAY_H

// An X server of the test's own. On a display shared with other tests a
// window can lose the keyboard focus, get input meant for another window or
// be refused a connection under load; a server per test leaves a window test
// nothing to share.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace generator_test {

// Polls until the condition holds or the time is up.
inline bool wait_for(const std::function<bool()>& condition, int seconds = 30)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

// The server runs under a shell that stops it as soon as the test program
// has gone, however it went: an exit inside FLTK, a crash or a kill runs no
// clean-up of ours. The watchdog reads a pipe whose one writer is the test
// program and sees its end when the program's descriptors close; a death
// signal would follow the thread that started the server, not the program.
// Neither holds the program's output, which ctest reads to its end.
struct X_Server {
    pid_t watchdog = -1;  // -1 when none started
    int lifeline = -1;    // closing it stops the server
    bool started() const { return watchdog > 0; }
};

// Starts Xvfb and points DISPLAY at it. Call through ASSERT_NO_FATAL_FAILURE.
inline void start_own_display(X_Server& server)
{
    server = X_Server{};
    // Both pipes kept clear of the descriptors the watchdog gets, and out of
    // every other program the test starts.
    const auto pipe_above_stdio = [](int (&ends)[2]) {
        if (pipe2(ends, O_CLOEXEC) != 0)
            return false;
        for (int& end : ends) {
            const int moved = fcntl(end, F_DUPFD_CLOEXEC, 10);
            close(end);
            end = moved;
        }
        return ends[0] >= 0 && ends[1] >= 0;
    };
    int life[2], number_pipe[2];
    ASSERT_TRUE(pipe_above_stdio(life));
    ASSERT_TRUE(pipe_above_stdio(number_pipe));
    // Descriptor 3 is the lifeline, 4 takes the display number.
    const char* argv[] = {"sh", "-c",
                          "Xvfb \"$@\" 3<&- & x=$!; exec 4>&-; trap '' INT HUP TERM;"
                          " read -r line <&3; kill $x; wait $x",
                          "sh", "-displayfd", "4", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                          nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, life[0], 3);
    posix_spawn_file_actions_adddup2(&actions, number_pipe[1], 4);
    posix_spawn_file_actions_addclosefrom_np(&actions, 5);
    const int started = posix_spawn(&server.watchdog, "/bin/sh", &actions, nullptr,
                                    const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(life[0]);
    close(number_pipe[1]);
    if (started != 0) {
        server.watchdog = -1;
        close(life[1]);
        close(number_pipe[0]);
    }
    ASSERT_EQ(started, 0) << "Xvfb";
    server.lifeline = life[1];
    std::string number;
    pollfd ready{number_pipe[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 20000) == 1 && read(number_pipe[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(number_pipe[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb gave no display";
    setenv("DISPLAY", (":" + number).c_str(), 1);
    // The number comes when the server listens; clients get in a moment later.
    ASSERT_TRUE(wait_for([] { return std::system("xdotool getdisplaygeometry >/dev/null 2>&1") == 0; }))
        << "no client gets into display :" << number;
}

inline void stop_own_display(X_Server& server)
{
    if (server.lifeline >= 0)
        close(server.lifeline);
    if (server.watchdog > 0)
        waitpid(server.watchdog, nullptr, 0);
    server = X_Server{};
}

}  // namespace generator_test

#endif
