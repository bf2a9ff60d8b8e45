// Shared by the sound tests: a scratch HOME whose ALSA default device writes
// everything played into a raw file, Allegro started on it, the MP3 fixtures
// and a look at the captured sound.
#ifndef MARVO_TESTS_ADDONS_SOUND_CAPTURE_H
#define MARVO_TESTS_ADDONS_SOUND_CAPTURE_H

#include <allegro.h>
#include <dlfcn.h>
#include <glob.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace sound_test {

inline std::string fixture(const std::string &name) {
  return std::string(MARVO_BINARY_DIR) + "/fixtures/mp3/" + name;
}

inline std::vector<unsigned char> read_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string &path, const std::vector<unsigned char> &data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::string make_scratch_dir() {
  char pattern[] = "/tmp/marvo-sound-XXXXXX";
  const char *dir = mkdtemp(pattern);
  return dir ? dir : "";
}

// Allegro unloads its driver modules and with them ALSA at exit; keeping
// them loaded lets the leak checker name (and pass over) what they keep.
inline void keep_sound_modules_loaded() {
  dlopen("libasound.so.2", RTLD_NOW | RTLD_NODELETE);
  glob_t found{};
  if (glob("/usr/lib/*/allegro/*/alleg-alsa*.so", 0, nullptr, &found) == 0)
    for (std::size_t i = 0; i < found.gl_pathc; ++i)
      dlopen(found.gl_pathv[i], RTLD_NOW | RTLD_NODELETE);
  globfree(&found);
}

// Points HOME at dir with an .asoundrc that sends the default device to a
// file; returns that file's path. Must run before install_sound.
inline std::string capture_sound_into(const std::string &dir) {
  const std::string raw = dir + "/captured.raw";
  std::ofstream rc(dir + "/.asoundrc");
  rc << "pcm.!default { type file; slave.pcm \"null\"; file \"" << raw << "\"; format \"raw\" }\n";
  rc.close();
  setenv("HOME", dir.c_str(), 1);
  keep_sound_modules_loaded();
  return raw;
}

// Allegro with its timer and the given digital driver.
inline bool start_allegro_sound(int driver = DIGI_AUTODETECT) {
  if (allegro_init() != 0 || install_timer() != 0)
    return false;
  return install_sound(driver, MIDI_NONE, nullptr) == 0;
}

// Left channel of interleaved signed 16-bit stereo.
inline std::vector<double> left_channel(const std::vector<unsigned char> &raw) {
  std::vector<double> out;
  out.reserve(raw.size() / 4);
  for (std::size_t i = 0; i + 3 < raw.size(); i += 4)
    out.push_back(static_cast<std::int16_t>(raw[i] | (raw[i + 1] << 8)));
  return out;
}

inline double peak(const std::vector<double> &samples) {
  double p = 0;
  for (double s : samples)
    p = std::max(p, std::fabs(s));
  return p;
}

// The strongest frequency between lo and hi Hz (1 Hz steps) in a window of
// the loud part of the signal.
inline double dominant_frequency(const std::vector<double> &samples, double rate, double lo = 50,
                                 double hi = 3000) {
  const double threshold = peak(samples) / 4;
  std::size_t start = 0;
  while (start < samples.size() && std::fabs(samples[start]) < threshold)
    ++start;
  // Skip the attack, then take up to half a second.
  start = std::min(samples.size(), start + static_cast<std::size_t>(rate / 50));
  const std::size_t len = std::min(samples.size() - start, static_cast<std::size_t>(rate / 2));
  double best = 0, best_power = -1;
  for (double f = lo; f <= hi; f += 1) {
    // Goertzel
    const double w = 2 * std::numbers::pi * f / rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < len; ++i) {
      const double s0 = samples[start + i] + c * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    if (power > best_power) {
      best_power = power;
      best = f;
    }
  }
  return best;
}

} // namespace sound_test

#endif
