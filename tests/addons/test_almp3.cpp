#include "addons/almp3.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "addons/sound_capture.h"

using namespace sound_test;

namespace {

constexpr std::size_t CHUNK = 32768;

struct Decoded {
  long rate = 0;
  std::vector<std::uint16_t> pcm; // unsigned stereo
  bool failed = false;
  bool rate_changed_later = false;
};

// Feeds data in chunks as the player does and decodes everything.
Decoded decode_all(const std::vector<unsigned char> &data, std::size_t buffer_frames = 6144) {
  Decoded out;
  Mp3_Feed_Decoder dec;
  std::size_t off = 0;
  auto feed_next = [&] {
    const std::size_t n = std::min(CHUNK, data.size() - off);
    dec.feed(data.data() + off, n, n < CHUNK);
    off += n;
  };
  feed_next();
  std::vector<std::uint16_t> buf(buffer_frames * 2);
  bool first_format = true;
  for (int guard = 0; guard < 100000; ++guard) {
    std::size_t frames = 0;
    auto r = dec.decode(buf.data(), buffer_frames, frames);
    out.pcm.insert(out.pcm.end(), buf.begin(), buf.begin() + static_cast<long>(frames * 2));
    if (dec.take_rate_change()) {
      if (!first_format)
        out.rate_changed_later = true;
      first_format = false;
    }
    out.rate = dec.rate();
    if (r == Mp3_Feed_Decoder::NEED_MORE)
      feed_next();
    else if (r == Mp3_Feed_Decoder::FAILED)
      return out.failed = true, out;
    else if (r == Mp3_Feed_Decoder::FINISHED || (r == Mp3_Feed_Decoder::PRODUCED && dec.done()))
      break;
  }
  return out;
}

std::vector<double> left_of(const std::vector<std::uint16_t> &pcm) {
  std::vector<double> out;
  for (std::size_t i = 0; i < pcm.size(); i += 2)
    out.push_back(static_cast<double>(pcm[i]) - 32768.0);
  return out;
}

struct Stream_Run {
  bool created = false;
  bool finished = false;
  int just_finished = 0;
  int position = 0;
  int chunks = 0;
  int last_poll = 0;
};

// Plays data through the stream calls exactly as the player drives them.
Stream_Run play_stream(const std::vector<unsigned char> &data, double max_seconds, long max_polls = -1) {
  Stream_Run run;
  std::vector<unsigned char> first(data.begin(), data.begin() + static_cast<long>(std::min(CHUNK, data.size())));
  std::size_t off = first.size();
  ALMP3_MP3STREAM *s =
      almp3_create_mp3stream(first.data(), static_cast<int>(first.size()), first.size() < CHUNK ? -1 : 0);
  if (!s)
    return run;
  run.created = true;
  EXPECT_EQ(almp3_play_ex_mp3stream(s, 24576, 255, 127, 1000), ALMP3_OK);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(max_seconds);
  for (long polls = 0; std::chrono::steady_clock::now() < deadline && polls != max_polls; ++polls) {
    if (void *b = almp3_get_mp3stream_buffer(s)) {
      const std::size_t n = std::min(CHUNK, data.size() - off);
      std::copy(data.begin() + static_cast<long>(off), data.begin() + static_cast<long>(off + n),
                static_cast<unsigned char *>(b));
      off += n;
      ++run.chunks;
      almp3_free_mp3stream_buffer(s, n == CHUNK ? -1 : static_cast<int>(n));
    }
    run.last_poll = almp3_poll_mp3stream(s);
    if (run.last_poll == ALMP3_POLL_JUST_FINISHED)
      ++run.just_finished;
    if (run.last_poll == ALMP3_POLL_NOT_PLAYING) {
      run.finished = true;
      break;
    }
  }
  run.position = almp3_get_pos_bytes_mp3stream(s);
  almp3_destroy_mp3stream(s);
  return run;
}

// Whether a stream is made of the first chunk of data, as the player makes it.
bool stream_accepts(const std::vector<unsigned char> &data) {
  std::vector<unsigned char> first(data.begin(), data.begin() + static_cast<long>(std::min(CHUNK, data.size())));
  ALMP3_MP3STREAM *s =
      almp3_create_mp3stream(first.data(), static_cast<int>(first.size()), first.size() < CHUNK ? -1 : 0);
  almp3_destroy_mp3stream(s);
  return s != nullptr;
}

class Stream_Test : public ::testing::Test {
protected:
  void SetUp() override {
    capture_sound_into(dir);
    ASSERT_TRUE(start_allegro_sound());
    raw = captured_file(dir);
    ASSERT_FALSE(raw.empty()) << "sound went to " << digi_driver->name << ", not to the capture";
  }

  // Waits for the device to take another quarter of a second: what was
  // played before has then reached the capture.
  void let_the_capture_catch_up() const {
    const auto bytes = [&] { return std::filesystem::file_size(raw); };
    // A quarter of a second of 16-bit stereo is as many bytes as the rate.
    const auto target = bytes() + static_cast<std::uintmax_t>(get_mixer_frequency());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (bytes() < target && std::chrono::steady_clock::now() < deadline)
      rest(10);
    ASSERT_GE(bytes(), target) << "the device stopped taking sound";
  }

  // Seconds of the capture in which something is heard, in 10 ms steps.
  double heard_seconds() const {
    const std::vector<double> left = left_channel(raw);
    const std::size_t step = static_cast<std::size_t>(get_mixer_frequency()) / 100;
    int heard = 0;
    for (std::size_t i = 0; i + step <= left.size(); i += step)
      heard += peak({left.begin() + static_cast<long>(i), left.begin() + static_cast<long>(i + step)}) > AUDIBLE_PEAK;
    return heard / 100.0;
  }

  Scratch_Dir scratch{"sound"};
  const std::string &dir = scratch.path();
  std::string raw;
};

} // namespace

// Every sample rate of MPEG 1, 2 and 2.5 layer III decodes at its own rate,
// as stereo, to about one second of the 1 kHz tone it was made from.
TEST(Mp3_Feed_Decoder, DecodesEveryRateOfEveryMpegVersion) {
  for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L}) {
    SCOPED_TRACE(rate);
    Decoded d = decode_all(read_bytes(fixture("rate" + std::to_string(rate) + ".mp3")));
    ASSERT_FALSE(d.failed);
    EXPECT_EQ(d.rate, rate);
    const double seconds = static_cast<double>(d.pcm.size() / 2) / static_cast<double>(rate);
    EXPECT_NEAR(seconds, 1.0, 0.1);
    EXPECT_NEAR(dominant_frequency(left_of(d.pcm), static_cast<double>(rate), 200, 3000), 1000.0, 20.0);
  }
}

TEST(Mp3_Feed_Decoder, MonoComesOutAsEqualStereoChannels) {
  Decoded d = decode_all(read_bytes(fixture("mid.mp3")));
  ASSERT_FALSE(d.failed);
  EXPECT_EQ(d.rate, 22050);
  ASSERT_GT(d.pcm.size(), 22050u);
  for (std::size_t i = 0; i < d.pcm.size(); i += 2)
    ASSERT_EQ(d.pcm[i], d.pcm[i + 1]) << "frame " << i / 2;
  // Unsigned output: silence sits at 0x8000, not at 0, and the tone passes
  // through it smoothly; signed samples would jump from end to end there.
  double mean = 0;
  int jump = 0;
  for (std::size_t i = 0; i < d.pcm.size(); ++i) {
    mean += d.pcm[i];
    if (i >= 2)
      jump = std::max(jump, std::abs(d.pcm[i] - d.pcm[i - 2]));
  }
  mean /= static_cast<double>(d.pcm.size());
  EXPECT_NEAR(mean, 32768.0, 200.0);
  EXPECT_LT(jump, 16384);
}

// Buffers that end in the middle of a frame lose and alter no sample.
TEST(Mp3_Feed_Decoder, BufferSizeDoesNotChangeTheSamples) {
  const auto data = read_bytes(fixture("vbr.mp3"));
  const Decoded whole = decode_all(data);
  ASSERT_GT(whole.pcm.size(), 0u);
  EXPECT_EQ(decode_all(data, 1153).pcm, whole.pcm);
}

TEST(Mp3_Feed_Decoder, ConsumedBytesReachTheEndOfTheData) {
  auto data = read_bytes(fixture("tone440.mp3"));
  Mp3_Feed_Decoder dec;
  dec.feed(data.data(), data.size(), true);
  EXPECT_EQ(dec.consumed_bytes(), 0);
  std::vector<std::uint16_t> buf(4096 * 2);
  std::size_t frames = 0;
  while (dec.decode(buf.data(), 4096, frames) == Mp3_Feed_Decoder::PRODUCED && !dec.done()) {
    EXPECT_GT(dec.consumed_bytes(), 0);
    EXPECT_LE(dec.consumed_bytes(), static_cast<long>(data.size()));
  }
  EXPECT_EQ(dec.consumed_bytes(), static_cast<long>(data.size()));
}

TEST(Mp3_Feed_Decoder, ARateChangeInTheMiddleIsReported) {
  auto a = read_bytes(fixture("rate44100.mp3"));
  auto b = read_bytes(fixture("rate22050.mp3"));
  a.insert(a.end(), b.begin(), b.end());
  Decoded d = decode_all(a);
  ASSERT_FALSE(d.failed);
  EXPECT_TRUE(d.rate_changed_later);
  EXPECT_EQ(d.rate, 22050);
}

// Damaged data is decoded past: junk between frames, bytes overwritten in
// frames and a file cut short all still give most of the sound.
TEST(Mp3_Feed_Decoder, SkipsJunkCorruptFramesAndTruncation) {
  const auto clean = read_bytes(fixture("long.mp3"));
  const std::size_t clean_frames = decode_all(clean).pcm.size() / 2;
  std::mt19937 rng(7);

  auto junk = clean;
  std::vector<unsigned char> noise(5000);
  for (auto &c : noise)
    c = static_cast<unsigned char>(rng() & 0xfe); // no 0xff: no false sync words
  junk.insert(junk.begin() + 40000, noise.begin(), noise.end());
  Decoded dj = decode_all(junk);
  EXPECT_FALSE(dj.failed);
  EXPECT_GT(dj.pcm.size() / 2, clean_frames * 9 / 10);

  auto corrupt = clean;
  for (std::size_t i = 20000; i < corrupt.size(); i += 3001)
    for (int k = 0; k < 40; ++k)
      corrupt[i + static_cast<std::size_t>(k) < corrupt.size() ? i + static_cast<std::size_t>(k) : i] =
          static_cast<unsigned char>(rng());
  Decoded dc = decode_all(corrupt);
  EXPECT_GT(dc.pcm.size() / 2, clean_frames / 2);

  auto cut = clean;
  cut.resize(clean.size() / 2 + 77);
  Decoded dt = decode_all(cut);
  EXPECT_FALSE(dt.failed);
  EXPECT_NEAR(static_cast<double>(dt.pcm.size() / 2), static_cast<double>(clean_frames) / 2,
              static_cast<double>(clean_frames) / 10);
}

TEST(Almp3_Create, RefusesDataWithoutAFrame) {
  std::vector<unsigned char> text(CHUNK, 'a');
  EXPECT_EQ(almp3_create_mp3stream(text.data(), static_cast<int>(text.size()), 0), nullptr);
  EXPECT_EQ(almp3_create_mp3stream(text.data(), 1000, -1), nullptr);
  EXPECT_EQ(almp3_create_mp3stream(text.data(), 0, 0), nullptr);
  EXPECT_EQ(almp3_create_mp3stream(nullptr, 100, 0), nullptr);
  // PCM holds false frame headers now and then: a WAV file is known by its
  // header, bare PCM by headers that do not follow one another.
  for (bool wav : {true, false}) {
    const auto pcm = quiet_noise_pcm(2, wav);
    EXPECT_FALSE(stream_accepts(pcm)) << (wav ? "WAV" : "bare PCM");
    EXPECT_TRUE(decode_all(pcm).pcm.empty()) << (wav ? "WAV" : "bare PCM");
  }
  // Also behind a tag that leaves too little of the WAV for frames to tell.
  std::vector<unsigned char> tagged_wav = {'I', 'D', '3', 3, 0, 0, 0, 1, 0x40, 0}; // 24576-byte body
  const auto wav = quiet_noise_pcm(2, true);
  tagged_wav.resize(10 + 24576);
  tagged_wav.insert(tagged_wav.end(), wav.begin(), wav.end());
  EXPECT_FALSE(stream_accepts(tagged_wav));
  // A tag that fills the whole first chunk may be followed by frames.
  auto tagged = read_bytes(fixture("bigtag.mp3"));
  ALMP3_MP3STREAM *s = almp3_create_mp3stream(tagged.data(), static_cast<int>(CHUNK), 0);
  ASSERT_NE(s, nullptr);
  EXPECT_NE(almp3_get_mp3stream_buffer(s), nullptr);
  almp3_destroy_mp3stream(s);
}

// Real files still play: a large cover picture in the tag, junk before the
// first frame, variable and free-format bit rates, and a start in the middle
// of a file as a restored position gives.
TEST(Almp3_Create, AcceptsRealFilesBehindTagsAndJunk) {
  std::mt19937 rng(3);
  auto random_bytes = [&](std::size_t n) {
    std::vector<unsigned char> out(n);
    for (auto &c : out)
      c = static_cast<unsigned char>(rng());
    return out;
  };
  const auto tone = read_bytes(fixture("tone440.mp3"));
  const std::size_t picture = 300000;
  std::vector<unsigned char> tagged = {'I', 'D', '3', 3, 0, 0};
  for (int shift : {21, 14, 7, 0})
    tagged.push_back(static_cast<unsigned char>((picture >> shift) & 0x7f));
  const auto body = random_bytes(picture);
  tagged.insert(tagged.end(), body.begin(), body.end());
  tagged.insert(tagged.end(), tone.begin(), tone.end());

  auto junk = random_bytes(4000);
  junk.insert(junk.end(), tone.begin(), tone.end());

  const auto long_file = read_bytes(fixture("long.mp3"));
  const std::vector<unsigned char> middle(long_file.begin() + 12345, long_file.end());

  const struct {
    const char *what;
    std::vector<unsigned char> data;
    double seconds;
  } rows[] = {{"cover picture", tagged, 1.0},
              {"junk first", junk, 1.0},
              {"VBR MPEG-2", read_bytes(fixture("vbr.mp3")), 2.0},
              {"free format", read_bytes(fixture("free.mp3")), 1.0},
              {"from the middle", middle, 8.0 * static_cast<double>(middle.size()) / static_cast<double>(long_file.size())}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_TRUE(stream_accepts(row.data));
    const Decoded d = decode_all(row.data);
    EXPECT_NEAR(static_cast<double>(d.pcm.size() / 2) / static_cast<double>(d.rate), row.seconds, 0.1);
  }
}

TEST_F(Stream_Test, PlaysToTheEndCountingEveryByteOnce) {
  auto data = read_bytes(fixture("long.mp3"));
  Stream_Run run = play_stream(data, 30);
  ASSERT_TRUE(run.created);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.just_finished, 1);
  EXPECT_EQ(run.position, static_cast<int>(data.size()));
  EXPECT_EQ(run.chunks, static_cast<int>((data.size() - CHUNK + CHUNK - 1) / CHUNK));
}

TEST_F(Stream_Test, PositionGrowsWithThePlayingAndNoChunkIsAskedAfterTheLast) {
  auto data = read_bytes(fixture("long.mp3"));
  ALMP3_MP3STREAM *s = almp3_create_mp3stream(data.data(), static_cast<int>(CHUNK), 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(almp3_get_pos_bytes_mp3stream(s), 0);
  ASSERT_EQ(almp3_play_ex_mp3stream(s, 24576, 200, 127, 1000), ALMP3_OK);
  std::size_t off = CHUNK;
  int last = 0;
  bool rose = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (void *b = almp3_get_mp3stream_buffer(s)) {
      ASSERT_LT(off, data.size()) << "a chunk was asked for after the last one";
      EXPECT_EQ(almp3_get_mp3stream_buffer(s), nullptr) << "only one chunk may be out at a time";
      const std::size_t n = std::min(CHUNK, data.size() - off);
      std::copy(data.begin() + static_cast<long>(off), data.begin() + static_cast<long>(off + n),
                static_cast<unsigned char *>(b));
      off += n;
      almp3_free_mp3stream_buffer(s, n == CHUNK ? -1 : static_cast<int>(n));
    }
    const int r = almp3_poll_mp3stream(s);
    const int pos = almp3_get_pos_bytes_mp3stream(s);
    EXPECT_GE(pos, last);
    EXPECT_LE(pos, static_cast<int>(off));
    rose |= pos > last && last > 0;
    last = pos;
    almp3_adjust_mp3stream(s, 100, 60, 1000);
    if (r == ALMP3_POLL_JUST_FINISHED)
      break;
  }
  EXPECT_TRUE(rose);
  EXPECT_EQ(almp3_poll_mp3stream(s), ALMP3_POLL_NOT_PLAYING);
  EXPECT_EQ(almp3_get_mp3stream_buffer(s), nullptr);
  almp3_destroy_mp3stream(s);
}

TEST_F(Stream_Test, TagLargerThanTheFirstChunkAndRateChangePlay) {
  auto tagged = read_bytes(fixture("bigtag.mp3"));
  Stream_Run run = play_stream(tagged, 30);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.position, static_cast<int>(tagged.size()));

  auto a = read_bytes(fixture("rate44100.mp3"));
  auto b = read_bytes(fixture("rate8000.mp3"));
  a.insert(a.end(), b.begin(), b.end());
  run = play_stream(a, 30);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.position, static_cast<int>(a.size()));
}

TEST_F(Stream_Test, NothingPlayedIsNotHeard) {
  let_the_capture_catch_up();
  EXPECT_GE(left_channel(raw).size(), static_cast<std::size_t>(get_mixer_frequency()) / 4);
  EXPECT_LT(peak(left_channel(raw)), AUDIBLE_PEAK);
}

// Where the rate changes, what the old output stream still holds plays out
// before the new stream starts: two seconds of tone are heard as two.
TEST_F(Stream_Test, ARateChangeLosesNoSound) {
  auto a = read_bytes(fixture("rate22050.mp3"));
  const auto b = read_bytes(fixture("rate44100.mp3"));
  a.insert(a.end(), b.begin(), b.end());
  ASSERT_TRUE(play_stream(a, 30).finished);
  let_the_capture_catch_up();
  EXPECT_NEAR(heard_seconds(), 2.0, 0.1);
}

TEST_F(Stream_Test, EmptyLastChunkFinishesAtOnceAndNullIsHarmless) {
  unsigned char none = 0;
  ALMP3_MP3STREAM *s = almp3_create_mp3stream(&none, 0, -1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(almp3_poll_mp3stream(s), ALMP3_POLL_NOT_PLAYING) << "not started yet";
  EXPECT_EQ(almp3_play_ex_mp3stream(s, 24576, 255, 127, 1000), ALMP3_OK);
  EXPECT_EQ(almp3_poll_mp3stream(s), ALMP3_POLL_JUST_FINISHED);
  EXPECT_EQ(almp3_poll_mp3stream(s), ALMP3_POLL_NOT_PLAYING);
  EXPECT_EQ(almp3_get_pos_bytes_mp3stream(s), 0);
  almp3_destroy_mp3stream(s);

  EXPECT_EQ(almp3_poll_mp3stream(nullptr), ALMP3_POLL_NOT_PLAYING);
  EXPECT_EQ(almp3_get_mp3stream_buffer(nullptr), nullptr);
  almp3_free_mp3stream_buffer(nullptr, -1);
  almp3_adjust_mp3stream(nullptr, 1, 2, 3);
  almp3_destroy_mp3stream(nullptr);
}

TEST_F(Stream_Test, ArbitraryBytesInChunksNeverBreakTheStream) {
  std::mt19937 rng(99);
  auto base = read_bytes(fixture("low.mp3"));
  for (int round = 0; round < 20; ++round) {
    auto data = base;
    for (int k = 0; k < 200; ++k)
      data[rng() % data.size()] = static_cast<unsigned char>(rng());
    data.resize(rng() % data.size() + 1);
    Stream_Run run = play_stream(data, 10);
    if (run.created) {
      EXPECT_TRUE(run.finished);
      EXPECT_LE(run.position, static_cast<int>(data.size()));
    }
  }
}

// Allegro's silent driver never asks an audio stream for data: the stream
// then stands still. Polling stays cheap and harmless, the position stays at
// what went into the first buffer, and no more chunks are asked for once
// the decoder holds enough.
TEST(Almp3_Silent, StreamStandsStillWithoutASoundCard) {
  ASSERT_TRUE(start_allegro_sound(DIGI_NONE));
  auto data = read_bytes(fixture("long.mp3"));
  Stream_Run run = play_stream(data, 20, 200000);
  ASSERT_TRUE(run.created);
  EXPECT_FALSE(run.finished);
  EXPECT_EQ(run.last_poll, ALMP3_POLL_OK);
  EXPECT_LE(run.chunks, 1);
  EXPECT_LT(run.position, static_cast<int>(CHUNK));
}
