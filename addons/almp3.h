// MP3 stream playback over libmpg123 and Allegro audio streams.
//
// A stream is created from the first chunk of a file and then fed chunk by
// chunk: whenever almp3_get_mp3stream_buffer hands out a buffer, the caller
// fills it (at most the length of the first chunk) and gives it back with
// almp3_free_mp3stream_buffer. almp3_poll_mp3stream decodes what has been fed
// into the Allegro audio stream; it never waits for Allegro or for data.
//
// Output is unsigned 16-bit stereo at the file's own sample rate; a change of
// rate in the middle of a stream gets a new Allegro stream once the old one has
// played out. Data counts as MPEG audio only where several frame headers in a
// row agree and each stands where the one before says its frame ends; junk and
// ID3v2 tags before that are skipped, RIFF/WAVE data is refused (also behind
// a tag). Corrupt frames later on are skipped by resynchronising on the next
// frame.
#ifndef MARVO_ADDONS_ALMP3_H
#define MARVO_ADDONS_ALMP3_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct AUDIOSTREAM;
struct mpg123_handle_struct;

// Results of almp3_poll_mp3stream.
enum {
  ALMP3_POLL_OK = 0,
  ALMP3_POLL_JUST_FINISHED = 1,   // the last sample has been handed to Allegro
  ALMP3_POLL_NOT_PLAYING = -1,    // never started, or finished earlier
  ALMP3_POLL_CORRUPT_FRAME = -2,  // a frame was dropped; decoding goes on
  ALMP3_POLL_INTERNAL_ERROR = -4  // the decoder failed; the stream has stopped
};

// Results of almp3_play_ex_mp3stream.
enum {
  ALMP3_OK = 0,
  ALMP3_PLAY_BUFFER_TOO_SMALL = -1,
  ALMP3_PLAY_NO_AUDIO_STREAM = -2  // no sound driver, or no voice free
};

// The decoding half of a stream, without any Allegro calls: fed MP3 bytes in
// chunks, it produces interleaved unsigned 16-bit stereo samples.
class Mp3_Feed_Decoder {
public:
  enum Result { PRODUCED, NEED_MORE, FINISHED, FAILED };

  Mp3_Feed_Decoder();
  ~Mp3_Feed_Decoder();
  Mp3_Feed_Decoder(const Mp3_Feed_Decoder &) = delete;
  Mp3_Feed_Decoder &operator=(const Mp3_Feed_Decoder &) = delete;

  bool ok() const { return handle != nullptr; }
  // Hands MP3 bytes to the decoder; last marks the end of the data.
  void feed(const void *data, std::size_t len, bool last);
  bool all_fed() const { return last_fed; }
  // True once the data fed so far has shown that it is no MPEG audio.
  bool not_mpeg() const { return sync == NOT_MPEG; }
  // True once everything fed up to the last chunk has been decoded.
  bool done() const { return finished; }
  // Decodes until the sample rate is known. False when the data fed so far
  // holds no frame and no more will come, or the decoder failed.
  bool find_format();
  // Decodes up to frames stereo frames into out. FINISHED only once all fed
  // data has been decoded after the last chunk; NEED_MORE when more input is
  // required first. frames_out tells how many frames were written either way.
  Result decode(std::uint16_t *out, std::size_t frames, std::size_t &frames_out);
  // Bytes of MP3 data the decoder has consumed, counted from the first chunk.
  long consumed_bytes() const;
  long rate() const { return sample_rate; }
  // True once after the decoder met a new sample rate.
  bool take_rate_change();
  // True once after a frame was dropped as corrupt.
  bool take_corrupt_frame();

private:
  enum Sync { SEARCHING, FOUND, NOT_MPEG };
  // decode() with the samples left signed.
  Result decode_signed(std::uint16_t *out, std::size_t frames, std::size_t &frames_out);
  // Looks for the first run of agreeing frames in the bytes held back.
  void search_frames();

  mpg123_handle_struct *handle;
  // Until the first frames are found the data is held back here; only what
  // starts at a real frame reaches the decoder.
  Sync sync;
  std::vector<unsigned char> held;
  std::size_t search_pos;   // next candidate frame start in held
  std::size_t tag_left;     // bytes of an ID3v2 tag still to be passed over
  long sample_rate;
  long fed_bytes; // passed to the decoder or passed over; not those held back
  bool last_fed;
  bool rate_changed;
  bool corrupt;
  bool finished;
};

struct ALMP3_MP3STREAM;

// Creates a stream from the first chunk (copied); last_block is non-zero when
// the chunk is the whole file. Null when the data holds no playable frame.
ALMP3_MP3STREAM *almp3_create_mp3stream(void *first_data_buffer, int data_buffer_len, int last_block);
// Stops playing and frees everything; null is allowed.
void almp3_destroy_mp3stream(ALMP3_MP3STREAM *mp3);
// Starts playing into an Allegro audio stream whose buffer holds buffer_len
// bytes of output; vol and pan 0..255, speed in thousandths (1000 normal).
int almp3_play_ex_mp3stream(ALMP3_MP3STREAM *mp3, int buffer_len, int vol, int pan, int speed);
// Moves decoded samples on to Allegro; one of the ALMP3_POLL_ results.
int almp3_poll_mp3stream(ALMP3_MP3STREAM *mp3);
// Changes volume, pan and speed while playing.
void almp3_adjust_mp3stream(ALMP3_MP3STREAM *mp3, int vol, int pan, int speed);
// A buffer of the first chunk's length to fill with the next chunk, or null
// when the decoder needs none now (or the last chunk was already given).
void *almp3_get_mp3stream_buffer(ALMP3_MP3STREAM *mp3);
// Gives the buffer back: -1 when it was filled completely, otherwise the
// number of bytes in it, which marks the last chunk.
void almp3_free_mp3stream_buffer(ALMP3_MP3STREAM *mp3, int bytes_used);
// Bytes of MP3 data whose sound has been handed to Allegro, counted from the
// start of the first chunk.
int almp3_get_pos_bytes_mp3stream(ALMP3_MP3STREAM *mp3);
// Length of the ID3v2 tag that data of len bytes starts with (header, body
// and footer, as its header gives it), or 0 when it starts with none.
int almp3_id3v2_tag_length(const void *data, int len);

#endif
