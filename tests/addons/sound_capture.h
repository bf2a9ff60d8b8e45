// Shared by the sound tests: a scratch HOME (a Scratch_Dir) whose ALSA
// default device writes everything played into a raw file, Allegro started
// on it, the MP3 fixtures and a look at the captured sound.
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
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_dir.h"

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

// Quiet 16-bit stereo noise at 44100 Hz, such as a quiet recording holds:
// MPEG decoders find false frame headers in it. A WAV file when wav is set.
inline std::vector<unsigned char> quiet_noise_pcm(double seconds, bool wav) {
  std::vector<unsigned char> out;
  auto put = [&out](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
      out.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  const auto samples = static_cast<std::uint32_t>(seconds * 44100) * 2;
  if (wav) {
    out = {'R', 'I', 'F', 'F'};
    put(36 + samples * 2, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    for (auto [v, bytes] : {std::pair{16u, 4}, {1u, 2}, {2u, 2}, {44100u, 4}, {44100u * 4, 4}, {4u, 2}, {16u, 2}})
      put(v, bytes);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(samples * 2, 4);
  }
  std::mt19937 rng(1);
  for (std::uint32_t i = 0; i < samples; ++i)
    put(static_cast<std::uint32_t>(static_cast<int>(rng() % 2001) - 1000), 2);
  return out;
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
// raw file in dir, named by ALSA after the sample format and the number of
// channels the device was opened with. Must run before install_sound.
inline void capture_sound_into(const std::string &dir) {
  std::ofstream rc(dir + "/.asoundrc");
  rc << "pcm.!default { type file; slave.pcm \"null\"; file \"" << dir
     << "/captured.%f.%c.raw\"; format \"raw\" }\n";
  rc.close();
  setenv("HOME", dir.c_str(), 1);
  keep_sound_modules_loaded();
}

// The file the device writes into, once it is open; empty before.
inline std::string captured_file(const std::string &dir) {
  std::string path;
  glob_t found{};
  if (glob((dir + "/captured.*.raw").c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0)
    path = found.gl_pathv[0];
  globfree(&found);
  return path;
}

// Allegro with its timer and the given digital driver. Allegro starts once
// per process (a second allegro_init breaks it); the sound starts afresh, and
// ALSA reads its configuration again, so that each test of a process plays
// into the file of its own HOME.
inline bool start_allegro_sound(int driver = DIGI_AUTODETECT) {
  if ((!system_driver && allegro_init() != 0) || install_timer() != 0)
    return false;
  remove_sound();
  if (void *alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD)) {
    if (void *forget = dlsym(alsa, "snd_config_update_free_global"))
      reinterpret_cast<int (*)()>(forget)();
    dlclose(alsa);
  }
  return install_sound(driver, MIDI_NONE, nullptr) == 0;
}

// The first channel of what the device took, read in the sample format it
// was opened with, as signed values around zero. Empty for a format other
// than 16-bit little-endian.
inline std::vector<double> left_channel(const std::string &captured) {
  const std::string name = captured.substr(captured.rfind('/') + 1);
  const std::size_t format_at = name.find('.') + 1, channels_at = name.find('.', format_at) + 1;
  const std::string format = name.substr(format_at, channels_at - 1 - format_at);
  const int channels = std::atoi(name.c_str() + channels_at);
  std::vector<double> out;
  if ((format != "S16_LE" && format != "U16_LE") || channels < 1)
    return out;
  const std::vector<unsigned char> raw = read_bytes(captured);
  const std::size_t frame = 2 * static_cast<std::size_t>(channels);
  out.reserve(raw.size() / frame);
  for (std::size_t i = 0; i + frame <= raw.size(); i += frame) {
    const auto v = static_cast<std::uint16_t>(raw[i] | (raw[i + 1] << 8));
    out.push_back(format[0] == 'U' ? v - 32768.0 : static_cast<std::int16_t>(v));
  }
  return out;
}

// A peak below this is silence, whatever faint noise the mixer adds.
constexpr double AUDIBLE_PEAK = 2000;

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
