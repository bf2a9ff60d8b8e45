// Decoding speed of the MP3 stream layer against libmpg123's own read loop,
// and the longest single poll.
//
// The layer is driven as the player drives it: the file comes in chunks of
// 32768 bytes whenever the decoder asks, and each poll fills one Allegro
// buffer of 24576 bytes. Allegro's side of a poll (handing out and taking
// back its buffer) is left out: a real sound card asks for buffers only in
// real time, which would measure the clock rather than the decoder.
#include <mpg123.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "addons/almp3.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of this thread: what a poll costs, without the moments the
// machine gave the processor to someone else.
double thread_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

constexpr std::size_t CHUNK = 32768;
constexpr std::size_t BUFFER_BYTES = 24576;

struct Layer_Run {
  double seconds = 0;
  std::vector<double> poll_ms;     // thread CPU time of each poll
  double longest_poll_wall_ms = 0; // wall clock, preemption included
  std::size_t frames = 0;
};

Layer_Run run_layer(const std::vector<unsigned char> &data) {
  Layer_Run run;
  const auto start = Clock::now();
  Mp3_Feed_Decoder dec;
  std::size_t off = std::min(CHUNK, data.size());
  dec.feed(data.data(), off, off < CHUNK);
  dec.find_format();
  std::vector<std::uint16_t> buffer(BUFFER_BYTES / 2);
  const std::size_t buffer_frames = BUFFER_BYTES / 4;
  std::size_t filled = 0;
  bool wants_data = false;
  for (bool done = false; !done;) {
    const auto poll_start = Clock::now();
    const double cpu_start = thread_ms();
    // One poll: a chunk when the decoder asked for one, then decoding on
    // into the buffer until it is full or the input runs out.
    if (wants_data && !dec.all_fed()) {
      const std::size_t n = std::min(CHUNK, data.size() - off);
      dec.feed(data.data() + off, n, n < CHUNK);
      off += n;
      wants_data = false;
    }
    std::size_t frames = 0;
    const auto r = dec.decode(buffer.data() + filled * 2, buffer_frames - filled, frames);
    filled += frames;
    run.frames += frames;
    if (r == Mp3_Feed_Decoder::NEED_MORE)
      wants_data = true;
    if (filled == buffer_frames || dec.done())
      filled = 0;
    done = dec.done() || r == Mp3_Feed_Decoder::FAILED;
    run.poll_ms.push_back(thread_ms() - cpu_start);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - poll_start).count();
    run.longest_poll_wall_ms = std::max(run.longest_poll_wall_ms, ms);
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return run;
}

double run_peer(const std::string &path, std::size_t &frames) {
  const auto start = Clock::now();
  int err = 0;
  mpg123_handle *mh = mpg123_new(nullptr, &err);
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_format_none(mh);
  mpg123_format(mh, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
  frames = 0;
  if (mpg123_open(mh, path.c_str()) == MPG123_OK) {
    std::vector<unsigned char> out(BUFFER_BYTES);
    for (;;) {
      std::size_t done = 0;
      const int r = mpg123_read(mh, out.data(), out.size(), &done);
      frames += done / 4;
      if (r != MPG123_OK && r != MPG123_NEW_FORMAT)
        break;
    }
    mpg123_close(mh);
  }
  mpg123_delete(mh);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main() {
  mpg123_init();
  const std::string path = std::string(MARVO_BINARY_DIR) + "/fixtures/bench/three_minutes.mp3";
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.empty()) {
    std::fprintf(stderr, "missing %s\n", path.c_str());
    return 1;
  }
  // Best of five for each, taken in turns so that both see the same machine.
  // The polls are the same in every round, so each poll's cost is the least
  // it took in any round: a busy machine's hiccups are not the decoder's.
  double layer_best = 1e9, peer_best = 1e9, longest_wall = 0;
  std::vector<double> poll_ms;
  std::size_t layer_frames = 0, peer_frames = 0;
  for (int round = 0; round < 5; ++round) {
    const Layer_Run run = run_layer(data);
    layer_best = std::min(layer_best, run.seconds);
    if (poll_ms.empty())
      poll_ms = run.poll_ms;
    for (std::size_t i = 0; i < std::min(poll_ms.size(), run.poll_ms.size()); ++i)
      poll_ms[i] = std::min(poll_ms[i], run.poll_ms[i]);
    longest_wall = std::max(longest_wall, run.longest_poll_wall_ms);
    layer_frames = run.frames;
    peer_best = std::min(peer_best, run_peer(path, peer_frames));
  }
  const double longest_poll = poll_ms.empty() ? 0 : *std::max_element(poll_ms.begin(), poll_ms.end());
  std::printf("file: %zu bytes, layer %zu frames, mpg123 %zu frames\n", data.size(), layer_frames, peer_frames);
  std::printf("layer (32768-byte chunks, 24576-byte buffers): %.3f s\n", layer_best);
  std::printf("mpg123_read on the whole file: %.3f s\n", peer_best);
  std::printf("polls: %zu; longest %.3f ms of processor time (%.3f ms by the wall clock, any round)\n",
              poll_ms.size(), longest_poll, longest_wall);
  if (layer_frames + 44100 < peer_frames || peer_frames + 44100 < layer_frames) {
    std::fprintf(stderr, "the two decoded different amounts of sound\n");
    return 1;
  }
  std::printf("GOAL mp3_vs_mpg123 %.3f <= 1.15\n", layer_best / peer_best);
  std::printf("GOAL mp3_longest_poll_ms %.3f <= 2\n", longest_poll);
  return 0;
}
