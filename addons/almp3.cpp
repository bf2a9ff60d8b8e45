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

} // namespace

Mp3_Feed_Decoder::Mp3_Feed_Decoder()
    : handle(nullptr), sample_rate(0), fed_bytes(0), last_fed(false), rate_changed(false), corrupt(false),
      finished(false) {
  if (!library_ready())
    return;
  int err = MPG123_OK;
  mpg123_handle *mh = mpg123_new(nullptr, &err);
  if (!mh)
    return;
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Every rate in unsigned 16-bit stereo: mono files are doubled up and the
  // rate is left as the file has it.
  mpg123_format_none(mh);
  const long *rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  bool any = false;
  for (std::size_t i = 0; i < count; ++i)
    any |= mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_UNSIGNED_16) == MPG123_OK;
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
  if (handle && len > 0 && mpg123_feed(handle, static_cast<const unsigned char *>(data), len) == MPG123_OK)
    fed_bytes += static_cast<long>(len);
  last_fed = last;
}

bool Mp3_Feed_Decoder::find_format() {
  if (!handle)
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
  frames_out = 0;
  if (!handle)
    return FAILED;
  if (finished)
    return FINISHED;
  if (sample_rate == 0 && !find_format())
    return last_fed ? (finished = true, FINISHED) : NEED_MORE;
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
  // first frame in the next one. Anything else must show a frame now.
  if (!mp3->decoder.find_format()) {
    const auto *bytes = static_cast<const unsigned char *>(first_data_buffer);
    const bool tag = data_buffer_len >= 3 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
    if (!tag || mp3->decoder.all_fed()) {
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
      if (dec.all_fed()) {
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
