#ifndef MARVO_TESTS_GENERATOR_OWN_DISPLAY_H
#define MARVO_TESTS_GENERATOR_OWN_DISPLAY_H

// An X server of the test's own. On a display shared with other tests a
// window can lose the keyboard focus, get input meant for another window or
// be refused a connection under load; a server per test leaves a window test
// nothing to share.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
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

// Starts Xvfb and points DISPLAY at it; `xvfb` is its process id, -1 when it
// did not start. Call through ASSERT_NO_FATAL_FAILURE.
inline void start_own_display(pid_t& xvfb)
{
    xvfb = -1;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                          "-nolisten", "tcp", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int started = posix_spawnp(&xvfb, "Xvfb", &actions, nullptr,
                                     const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (started != 0)
        xvfb = -1;
    ASSERT_EQ(started, 0) << "Xvfb";
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb gave no display";
    setenv("DISPLAY", (":" + number).c_str(), 1);
    // The number comes when the server listens; clients get in a moment later.
    ASSERT_TRUE(wait_for([] { return std::system("xdotool getdisplaygeometry >/dev/null 2>&1") == 0; }))
        << "no client gets into display :" << number;
}

inline void stop_own_display(pid_t& xvfb)
{
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    xvfb = -1;
}

}  // namespace generator_test

#endif
