// Shared set-up of the music tests: a scratch working directory, removed
// after the test, with the log in it, ALSA's default device captured into a
// file, Allegro sound, and copies of the MP3 fixtures under short names.
#ifndef MARVO_TESTS_LAUNCHER_MUSIC_ENV_H
#define MARVO_TESTS_LAUNCHER_MUSIC_ENV_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "addons/sound_capture.h"
#include "support/logfile.h"

namespace music_test {

inline std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline int count_lines_ending(const std::string &text, const std::string &tail) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
      ++n;
  return n;
}

class Music_Test : public ::testing::Test {
protected:
  void SetUp() override {
    sound_test::capture_sound_into(dir);
    LogFile::open_log_file(dir + "/marvo.log");
    for (const char *name : {"low.mp3", "mid.mp3", "high.mp3", "long.mp3", "tone440.mp3"})
      std::filesystem::copy_file(sound_test::fixture(name), dir + "/" + name);
  }

  void start_sound() { ASSERT_TRUE(sound_test::start_allegro_sound()); }

  std::string log() const { return read_text(dir + "/marvo.log"); }

  int open_warnings(const std::string &name) const {
    return count_lines_ending(log(), "[Warn] An error occured while opening " + name);
  }

  // Calls step until it returns true or the time runs out.
  static bool within(double seconds, const std::function<bool()> &step) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end)
      if (step())
        return true;
    return false;
  }

  Entered_Scratch_Dir scratch{"sound"};
  const std::string &dir = scratch.path();
};

} // namespace music_test

#endif
