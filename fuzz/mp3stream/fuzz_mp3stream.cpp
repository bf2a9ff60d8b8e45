// Arbitrary bytes through the MP3 stream layer, fed in chunks as the player
// feeds a file. The first byte picks the chunk size so that chunk borders
// fall everywhere.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "addons/almp3.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  const std::size_t chunk = 64 + static_cast<std::size_t>(data[0]) * 128;
  ++data;
  --size;
  if (almp3_id3v2_tag_length(data, static_cast<int>(size)) < 0)
    __builtin_trap();
  Mp3_Feed_Decoder dec;
  std::size_t off = 0;
  auto feed_next = [&] {
    const std::size_t n = size - off < chunk ? size - off : chunk;
    dec.feed(data + off, n, n < chunk);
    off += n;
  };
  feed_next();
  dec.find_format();
  std::vector<std::uint16_t> out(6144 * 2);
  for (int polls = 0; polls < 100000 && !dec.done(); ++polls) {
    std::size_t frames = 0;
    const auto r = dec.decode(out.data(), 6144, frames);
    if (frames > 6144)
      __builtin_trap();
    if (dec.consumed_bytes() > static_cast<long>(off))
      __builtin_trap();
    dec.take_rate_change();
    dec.take_corrupt_frame();
    if (r == Mp3_Feed_Decoder::FAILED)
      break;
    if (r == Mp3_Feed_Decoder::NEED_MORE) {
      if (dec.all_fed())
        __builtin_trap(); // would wait for data that never comes
      feed_next();
    }
  }
  // The stream calls short of Allegro's output: creation, the chunk
  // hand-over and the position. A WAV file is never taken for MP3.
  std::vector<std::uint8_t> first(data, data + (size < chunk ? size : chunk));
  const bool wave = first.size() >= 12 && std::memcmp(first.data(), "RIFF", 4) == 0 &&
                    std::memcmp(first.data() + 8, "WAVE", 4) == 0;
  if (ALMP3_MP3STREAM *s = almp3_create_mp3stream(first.data(), static_cast<int>(first.size()), size < chunk)) {
    if (wave)
      __builtin_trap();
    for (std::size_t o = first.size(); o < size;) {
      void *b = almp3_get_mp3stream_buffer(s);
      if (!b)
        break;
      const std::size_t n = size - o < chunk ? size - o : chunk;
      std::copy(data + o, data + o + n, static_cast<std::uint8_t *>(b));
      o += n;
      almp3_free_mp3stream_buffer(s, n == chunk ? -1 : static_cast<int>(n));
    }
    if (almp3_get_pos_bytes_mp3stream(s) != 0)
      __builtin_trap(); // nothing was played
    almp3_destroy_mp3stream(s);
  }
  return 0;
}
