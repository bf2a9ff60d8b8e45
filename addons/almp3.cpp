#include "addons/almp3.h"

#include <allegro.h>
#include <mpg123.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t BYTES_PER_FRAME = 4; // 16-bit stereo
constexpr std::uint16_t SILENCE = 0x8000;  // unsigned 16-bit zero level
// A decoder that keeps failing without making progress is given up.
constexpr int MAX_ERRORS_IN_A_ROW = 64;

bool library_ready() {
  static const bool ready = mpg123_init() == MPG123_OK;
  return ready;
}

// Finding the first frame. PCM and other data hold false frame headers now
// and then, so a start counts only when FRAMES_TO_AGREE headers in a row
// agree, each where the frame before it ends. A file that ends (or reaches
// its ID3v1 tag) after fewer frames counts too.
constexpr int FRAMES_TO_AGREE = 4;
// How far past the tags junk may reach before the first frame. With the
// longest frames the run still ends within the player's first chunk, so
// data that is no MPEG audio is refused when the stream is made.
constexpr std::size_t JUNK_LIMIT = 16384;
// Free-format frames say nothing of their length: a later header tells, no
// farther away than the longest frame the decoder takes.
constexpr std::size_t MAX_FREE_FRAME = 3456;
constexpr int FREE_CANDIDATES = 4;
constexpr std::size_t ID3V2_HEADER = 10;
constexpr std::size_t RIFF_HEADER = 12;

struct Frame_Header {
  unsigned version = 0; // header bits: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  unsigned layer = 0;   // header bits: 3 layer I, 2 layer II, 1 layer III
  unsigned rate = 0;    // sample-rate bits
  bool mono = false;
  bool padded = false;
  std::size_t length = 0; // whole frame in bytes; 0 for free format

  bool agrees_with(const Frame_Header &o) const {
    return version == o.version && layer == o.layer && rate == o.rate && mono == o.mono &&
           (length == 0) == (o.length == 0);
  }
  // Padding adds one slot: four bytes in layer I, one otherwise.
  std::size_t padding() const { return padded ? (layer == 3 ? 4 : 1) : 0; }
};

bool parse_frame_header(const unsigned char *h, Frame_Header &f) {
  if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0)
    return false;
  f.version = (h[1] >> 3) & 3;
  f.layer = (h[1] >> 1) & 3;
  const unsigned bitrate = h[2] >> 4;
  f.rate = (h[2] >> 2) & 3;
  f.padded = (h[2] >> 1) & 1;
  f.mono = (h[3] >> 6) == 3;
  if (f.version == 1 || f.layer == 0 || bitrate == 15 || f.rate == 3 || (h[3] & 3) == 2)
    return false;
  static constexpr unsigned short KBPS[2][3][15] = {
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},      // MPEG-1 layer II
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},       // layer III
       {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},  // layer I
      {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},           // MPEG-2/2.5 layer II
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},           // layer III
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}}};    // layer I
  static constexpr unsigned long RATES[3] = {44100, 48000, 32000};
  const bool mpeg1 = f.version == 3;
  const unsigned long hz = RATES[f.rate] >> (mpeg1 ? 0 : f.version == 2 ? 1 : 2);
  const unsigned long bps = 1000UL * KBPS[mpeg1 ? 0 : 1][f.layer == 3 ? 2 : f.layer == 2 ? 0 : 1][bitrate];
  if (bps == 0)
    f.length = 0;
  else if (f.layer == 3)
    f.length = 4 * (12 * bps / hz) + f.padding();
  else
    f.length = (f.layer == 1 && !mpeg1 ? 72 : 144) * bps / hz + f.padding();
  return true;
}

enum class Run { FOUND, BROKEN, NEED_MORE };

// Whether frames agreeing with first follow one another from p in d[0, n);
// free_length is the length of free-format frames without their padding.
// complete says that no more bytes follow.
Run frames_follow(const unsigned char *d, std::size_t n, std::size_t p, bool complete, const Frame_Header &first,
                  std::size_t free_length) {
  Frame_Header frame = first;
  for (int frames = 1;; ++frames) {
    const std::size_t end = p + (frame.length ? frame.length : free_length + frame.padding());
    if (frames == FRAMES_TO_AGREE)
      return Run::FOUND;
    if (end + 4 > n) {
      if (!complete)
        return Run::NEED_MORE;
      const bool tag = end + 3 <= n && std::memcmp(d + end, "TAG", 3) == 0;
      return end == n || tag ? Run::FOUND : Run::BROKEN;
    }
    if (!parse_frame_header(d + end, frame) || !frame.agrees_with(first))
      return Run::BROKEN;
    p = end;
  }
}

// Whether a run of agreeing frames starts at p in d[0, n).
Run frame_run_at(const unsigned char *d, std::size_t n, std::size_t p, bool complete) {
  if (n - p < 4)
    return complete ? Run::BROKEN : Run::NEED_MORE;
  Frame_Header first;
  if (!parse_frame_header(d + p, first))
    return Run::BROKEN;
  if (first.length != 0)
    return frames_follow(d, n, p, complete, first, 0);
  // Free format: the frame may end at any later header that agrees; the
  // first few such headers are tried.
  bool wait = false;
  int candidates = 0;
  std::size_t q = p + 4;
  for (; q + 4 <= n && q - p <= MAX_FREE_FRAME && candidates < FREE_CANDIDATES; ++q) {
    Frame_Header next;
    if (d[q] != 0xff || d[q + 1] != d[p + 1] || !parse_frame_header(d + q, next) || !next.agrees_with(first))
      continue;
    ++candidates;
    const Run run = frames_follow(d, n, p, complete, first, q - p - first.padding());
    if (run == Run::FOUND)
      return run;
    wait |= run == Run::NEED_MORE;
  }
  wait |= !complete && q + 4 > n && q - p <= MAX_FREE_FRAME && candidates < FREE_CANDIDATES;
  return wait ? Run::NEED_MORE : Run::BROKEN;
}

// Length of the ID3v2 tag at d (header, body and footer), or 0 for none.
std::size_t id3v2_length(const unsigned char *d) {
  if (std::memcmp(d, "ID3", 3) != 0 || d[3] == 0xff || d[4] == 0xff || (d[6] | d[7] | d[8] | d[9]) & 0x80)
    return 0;
  const std::size_t body = (std::size_t{d[6]} << 21) | (std::size_t{d[7]} << 14) | (std::size_t{d[8]} << 7) | d[9];
  return ID3V2_HEADER + body + ((d[5] & 0x10) ? ID3V2_HEADER : 0);
}

bool is_riff_wave(const unsigned char *d) {
  return std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WAVE", 4) == 0;
}

} // namespace

Mp3_Feed_Decoder::Mp3_Feed_Decoder()
    : handle(nullptr), sync(SEARCHING), search_pos(0), tag_left(0), sample_rate(0), fed_bytes(0), last_fed(false),
      rate_changed(false), corrupt(false), finished(false) {
  if (!library_ready())
    return;
  int err = MPG123_OK;
  mpg123_handle *mh = mpg123_new(nullptr, &err);
  if (!mh)
    return;
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Every rate in 16-bit stereo: mono files are doubled up and the rate is
  // left as the file has it. Signed, as the decoder makes it: its own turn to
  // unsigned goes sample by sample and costs a tenth of the decoding, so
  // decode() flips the sign bits itself.
  mpg123_format_none(mh);
  const long *rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  bool any = false;
  for (std::size_t i = 0; i < count; ++i)
    any |= mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16) == MPG123_OK;
  if (!any || mpg123_open_feed(mh) != MPG123_OK) {
    mpg123_delete(mh);
    return;
  }
  handle = mh;
}

Mp3_Feed_Decoder::~Mp3_Feed_Decoder() {
  if (handle)
    mpg123_delete(handle);
}

void Mp3_Feed_Decoder::feed(const void *data, std::size_t len, bool last) {
  if (last_fed)
    return;
  last_fed = last;
  const auto *bytes = static_cast<const unsigned char *>(data);
  if (!handle || sync == NOT_MPEG)
    return;
  if (sync == FOUND) {
    if (len > 0 && mpg123_feed(handle, bytes, len) == MPG123_OK)
      fed_bytes += static_cast<long>(len);
    return;
  }
  const std::size_t skipped = std::min(tag_left, len);
  tag_left -= skipped;
  fed_bytes += static_cast<long>(skipped);
  held.insert(held.end(), bytes + skipped, bytes + len);
  search_frames();
}

void Mp3_Feed_Decoder::search_frames() {
  for (std::size_t p = search_pos;; ++p) {
    const unsigned char *d = held.data();
    const std::size_t n = held.size();
    search_pos = p;
    if (p >= JUNK_LIMIT || (p >= n && last_fed)) {
      sync = NOT_MPEG;
      break;
    }
    if (n - p < ID3V2_HEADER && !last_fed)
      return; // could be the start of a tag
    if (const std::size_t tag = n - p >= ID3V2_HEADER ? id3v2_length(d + p) : 0) {
      // Pass over the tag and look for frames after it afresh.
      const std::size_t drop = std::min(p + tag, n);
      tag_left = p + tag - drop;
      fed_bytes += static_cast<long>(drop);
      held.erase(held.begin(), held.begin() + static_cast<long>(drop));
      p = static_cast<std::size_t>(-1);
      continue;
    }
    // Held data starts where the data does or where a tag ended: a WAV
    // header there refuses the file, as it would without the tag.
    if (p == 0) {
      if (n < RIFF_HEADER && !last_fed)
        return;
      if (n >= RIFF_HEADER && is_riff_wave(d)) {
        sync = NOT_MPEG;
        break;
      }
    }
    const Run run = frame_run_at(d, n, p, last_fed);
    if (run == Run::NEED_MORE)
      return;
    if (run == Run::FOUND) {
      fed_bytes += static_cast<long>(p);
      if (mpg123_feed(handle, d + p, n - p) == MPG123_OK)
        fed_bytes += static_cast<long>(n - p);
      sync = FOUND;
      break;
    }
  }
  std::vector<unsigned char>().swap(held);
}

bool Mp3_Feed_Decoder::find_format() {
  if (!handle || sync != FOUND)
    return false;
  if (sample_rate != 0)
    return true;
  for (int errors = 0; errors < MAX_ERRORS_IN_A_ROW;) {
    std::size_t done = 0;
    unsigned char none = 0;
    int r = mpg123_read(handle, &none, 0, &done);
    if (r == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0, encoding = 0;
      if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0)
        return false;
      sample_rate = rate;
      rate_changed = true;
      // Once the first frame is found, junk between frames of any length is
      // skipped rather than ending the stream.
      mpg123_param(handle, MPG123_RESYNC_LIMIT, -1, 0);
      return true;
    }
    if (r == MPG123_NEED_MORE || r == MPG123_DONE)
      return false;
    if (r != MPG123_OK)
      ++errors;
  }
  return false;
}

Mp3_Feed_Decoder::Result Mp3_Feed_Decoder::decode(std::uint16_t *out, std::size_t frames,
                                                  std::size_t &frames_out) {
  const Result r = decode_signed(out, frames, frames_out);
  // Signed to unsigned: adding 0x8000 is flipping the top bit.
  for (std::size_t i = 0; i < frames_out * 2; ++i)
    out[i] ^= 0x8000;
  return r;
}

Mp3_Feed_Decoder::Result Mp3_Feed_Decoder::decode_signed(std::uint16_t *out, std::size_t frames,
                                                         std::size_t &frames_out) {
  frames_out = 0;
  if (!handle)
    return FAILED;
  if (finished)
    return FINISHED;
  if (sample_rate == 0 && !find_format())
    return last_fed || sync == NOT_MPEG ? (finished = true, FINISHED) : NEED_MORE;
  unsigned char *dst = reinterpret_cast<unsigned char *>(out);
  const std::size_t want = frames * BYTES_PER_FRAME;
  std::size_t got = 0;
  int errors = 0;
  while (got < want) {
    std::size_t done = 0;
    int r = mpg123_read(handle, dst + got, want - got, &done);
    got += done;
    if (r == MPG123_OK) {
      if (done == 0 && ++errors >= MAX_ERRORS_IN_A_ROW)
        break;
      continue;
    }
    if (r == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0, encoding = 0;
      if (mpg123_getformat(handle, &rate, &channels, &encoding) == MPG123_OK && rate > 0 && rate != sample_rate) {
        sample_rate = rate;
        rate_changed = true;
        break; // the caller needs a new output stream before going on
      }
      continue;
    }
    if (r == MPG123_NEED_MORE || r == MPG123_DONE) {
      frames_out = got / BYTES_PER_FRAME;
      if (!last_fed && r == MPG123_NEED_MORE)
        return NEED_MORE;
      finished = true;
      return frames_out > 0 ? PRODUCED : FINISHED;
    }
    // A broken frame: note it and let the decoder resynchronise.
    corrupt = true;
    if (done == 0 && ++errors >= MAX_ERRORS_IN_A_ROW) {
      frames_out = got / BYTES_PER_FRAME;
      return FAILED;
    }
  }
  frames_out = got / BYTES_PER_FRAME;
  return PRODUCED;
}

long Mp3_Feed_Decoder::consumed_bytes() const {
  if (!handle)
    return 0;
  long buffered = 0;
  double ignored = 0;
  if (mpg123_getstate(handle, MPG123_BUFFERFILL, &buffered, &ignored) != MPG123_OK)
    buffered = 0;
  return std::clamp(fed_bytes - buffered, 0L, fed_bytes);
}

bool Mp3_Feed_Decoder::take_rate_change() {
  bool changed = rate_changed;
  rate_changed = false;
  return changed;
}

bool Mp3_Feed_Decoder::take_corrupt_frame() {
  bool was = corrupt;
  corrupt = false;
  return was;
}

struct ALMP3_MP3STREAM {
  Mp3_Feed_Decoder decoder;
  std::vector<unsigned char> chunk; // handed out for the next piece of the file
  bool chunk_out = false;
  bool wants_data = false;

  AUDIOSTREAM *audio = nullptr;
  std::size_t buffer_frames = 0;
  std::uint16_t *out = nullptr; // Allegro's buffer while it is being filled
  std::size_t out_frames = 0;
  long audio_rate = 0;

  int vol = 255, pan = 127, speed = 1000;
  bool playing = false;
  // After the last sample of the song, or of a sample rate: silent buffers
  // handed over so far. What the stream held has been heard once Allegro
  // asks past the first of them; only then may it stop.
  int tail_buffers = -1;
  int position = 0;

  int output_frequency() const {
    long f = audio_rate * std::max(speed, 1) / 1000;
    return static_cast<int>(std::clamp(f, 1L, static_cast<long>(INT_MAX)));
  }

  void close_audio() {
    if (audio) {
      if (out)
        free_audio_stream_buffer(audio);
      stop_audio_stream(audio);
    }
    audio = nullptr;
    out = nullptr;
    out_frames = 0;
  }

  bool open_audio() {
    close_audio();
    audio_rate = decoder.rate();
    audio = play_audio_stream(static_cast<int>(buffer_frames), 16, TRUE, static_cast<int>(audio_rate), vol, pan);
    if (!audio)
      return false;
    if (speed != 1000)
      voice_set_frequency(audio->voice, output_frequency());
    return true;
  }

  void hand_over() {
    std::fill(out + out_frames * 2, out + buffer_frames * 2, SILENCE);
    free_audio_stream_buffer(audio);
    out = nullptr;
    out_frames = 0;
  }

  void finish() {
    close_audio();
    playing = false;
  }
};

ALMP3_MP3STREAM *almp3_create_mp3stream(void *first_data_buffer, int data_buffer_len, int last_block) {
  // No bytes at all is only playable as the very end of a file: a stream
  // that finishes at once.
  if (!first_data_buffer || data_buffer_len < 0 || (data_buffer_len == 0 && !last_block))
    return nullptr;
  auto *mp3 = new ALMP3_MP3STREAM;
  if (!mp3->decoder.ok()) {
    delete mp3;
    return nullptr;
  }
  mp3->chunk.resize(static_cast<std::size_t>(std::max(data_buffer_len, 1)));
  mp3->decoder.feed(first_data_buffer, static_cast<std::size_t>(data_buffer_len), last_block != 0);
  if (data_buffer_len == 0)
    return mp3;
  // An ID3v2 tag (cover pictures) may fill the whole first chunk, with the
  // first frame in the next one; then the next chunk has to tell.
  if (!mp3->decoder.find_format()) {
    if (mp3->decoder.not_mpeg() || mp3->decoder.all_fed()) {
      delete mp3;
      return nullptr;
    }
    mp3->wants_data = true;
  }
  return mp3;
}

void almp3_destroy_mp3stream(ALMP3_MP3STREAM *mp3) {
  if (!mp3)
    return;
  mp3->close_audio();
  delete mp3;
}

int almp3_play_ex_mp3stream(ALMP3_MP3STREAM *mp3, int buffer_len, int vol, int pan, int speed) {
  if (!mp3)
    return ALMP3_PLAY_NO_AUDIO_STREAM;
  if (buffer_len < static_cast<int>(BYTES_PER_FRAME))
    return ALMP3_PLAY_BUFFER_TOO_SMALL;
  mp3->close_audio();
  mp3->buffer_frames = static_cast<std::size_t>(buffer_len) / BYTES_PER_FRAME;
  mp3->vol = std::clamp(vol, 0, 255);
  mp3->pan = std::clamp(pan, 0, 255);
  mp3->speed = std::max(speed, 1);
  mp3->tail_buffers = -1;
  // The output stream opens as soon as the rate is known, which may take
  // another chunk when the file starts with a large tag.
  if (mp3->decoder.rate() != 0) {
    mp3->decoder.take_rate_change();
    if (!mp3->open_audio())
      return ALMP3_PLAY_NO_AUDIO_STREAM;
  }
  mp3->playing = true;
  return ALMP3_OK;
}

int almp3_poll_mp3stream(ALMP3_MP3STREAM *mp3) {
  if (!mp3 || !mp3->playing)
    return ALMP3_POLL_NOT_PLAYING;
  Mp3_Feed_Decoder &dec = mp3->decoder;
  if (!mp3->audio) {
    if (!dec.find_format()) {
      if (dec.all_fed() || dec.not_mpeg()) {
        mp3->finish();
        return ALMP3_POLL_JUST_FINISHED;
      }
      mp3->wants_data = true;
      return ALMP3_POLL_OK;
    }
    dec.take_rate_change();
    if (!mp3->open_audio()) {
      mp3->finish();
      return ALMP3_POLL_INTERNAL_ERROR;
    }
  }
  if (!mp3->out) {
    mp3->out = static_cast<std::uint16_t *>(get_audio_stream_buffer(mp3->audio));
    if (!mp3->out)
      return ALMP3_POLL_OK;
    mp3->out_frames = 0;
  }
  if (mp3->tail_buffers >= 0) {
    // Allegro asks again: the buffer before is playing out.
    if (++mp3->tail_buffers < 2) {
      mp3->hand_over();
      return ALMP3_POLL_OK;
    }
    mp3->tail_buffers = -1;
    if (dec.done()) {
      mp3->finish();
      return ALMP3_POLL_JUST_FINISHED;
    }
    // The old rate has played out; the new one needs a stream of its own.
    if (!mp3->open_audio()) {
      mp3->finish();
      return ALMP3_POLL_INTERNAL_ERROR;
    }
    return ALMP3_POLL_OK;
  }
  std::size_t frames = 0;
  Mp3_Feed_Decoder::Result r =
      dec.decode(mp3->out + mp3->out_frames * 2, mp3->buffer_frames - mp3->out_frames, frames);
  mp3->out_frames += frames;
  int result = dec.take_corrupt_frame() ? ALMP3_POLL_CORRUPT_FRAME : ALMP3_POLL_OK;
  switch (r) {
  case Mp3_Feed_Decoder::NEED_MORE:
    mp3->wants_data = true;
    break;
  case Mp3_Feed_Decoder::FAILED:
    mp3->position = static_cast<int>(std::min(dec.consumed_bytes(), static_cast<long>(INT_MAX)));
    mp3->finish();
    return ALMP3_POLL_INTERNAL_ERROR;
  case Mp3_Feed_Decoder::FINISHED:
  case Mp3_Feed_Decoder::PRODUCED: {
    const bool new_rate = dec.take_rate_change();
    if (!new_rate && !dec.done() && mp3->out_frames < mp3->buffer_frames)
      break; // room left: fill on at the next poll
    mp3->position = static_cast<int>(std::min(dec.consumed_bytes(), static_cast<long>(INT_MAX)));
    mp3->hand_over();
    if (dec.done() || new_rate)
      mp3->tail_buffers = 0;
    break;
  }
  }
  return result;
}

void almp3_adjust_mp3stream(ALMP3_MP3STREAM *mp3, int vol, int pan, int speed) {
  if (!mp3)
    return;
  mp3->vol = std::clamp(vol, 0, 255);
  mp3->pan = std::clamp(pan, 0, 255);
  mp3->speed = std::max(speed, 1);
  if (mp3->audio) {
    voice_set_volume(mp3->audio->voice, mp3->vol);
    voice_set_pan(mp3->audio->voice, mp3->pan);
    voice_set_frequency(mp3->audio->voice, mp3->output_frequency());
  }
}

void *almp3_get_mp3stream_buffer(ALMP3_MP3STREAM *mp3) {
  if (!mp3 || mp3->chunk_out || !mp3->wants_data || mp3->decoder.all_fed())
    return nullptr;
  mp3->chunk_out = true;
  return mp3->chunk.data();
}

void almp3_free_mp3stream_buffer(ALMP3_MP3STREAM *mp3, int bytes_used) {
  if (!mp3 || !mp3->chunk_out)
    return;
  mp3->chunk_out = false;
  mp3->wants_data = false;
  const int size = static_cast<int>(mp3->chunk.size());
  const bool last = bytes_used != -1;
  const int len = last ? std::clamp(bytes_used, 0, size) : size;
  mp3->decoder.feed(mp3->chunk.data(), static_cast<std::size_t>(len), last);
}

int almp3_get_pos_bytes_mp3stream(ALMP3_MP3STREAM *mp3) {
  return mp3 ? mp3->position : 0;
}

int almp3_id3v2_tag_length(const void *data, int len) {
  if (!data || len < static_cast<int>(ID3V2_HEADER))
    return 0;
  return static_cast<int>(id3v2_length(static_cast<const unsigned char *>(data)));
}
