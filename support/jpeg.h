// Small decoder for baseline JFIF pictures, registered with Allegro as the
// "jpg" bitmap file type. Progress is reported after every row of units so
// that a long decode can keep background work (the music) going.
#ifndef MARVO_SUPPORT_JPEG_H
#define MARVO_SUPPORT_JPEG_H

#include <cstddef>
#include <cstdint>

#include <allegro.h>

// Called with the registered data pointer, the rows decoded so far and the
// picture height.
typedef void (*Jpg_Progress_Monitor)(void *data, int rows_done, int height);

// Loads a JPEG file; usable as Allegro's loader for the "jpg" file type.
// The palette (may be null) receives the 3-3-2 palette. Null on failure.
BITMAP *load_jpg(const char *filename, RGB *pal);

// Decodes a JPEG file held in memory. The size bounds every read, so a
// truncated or damaged file never reads past the buffer.
BITMAP *load_memory_jpg(const void *data, std::size_t size, RGB *pal);

// One monitor serves every load; a later call replaces an earlier one and a
// null callback switches reporting off.
void jpg_register_progress_monitor(void *data, Jpg_Progress_Monitor callback);

// ---------------------------------------------------------------------------
// The decoder's steps, open to the tests. A Jpg_Decoder lives for one call of
// load_memory_jpg and starts all zero.

// Pictures larger than this on a side are refused.
constexpr int JPG_MAX_SIDE = 16384;

// The most pixels a picture may have to be loaded: a small compressed file
// can declare a picture that would take gigabytes and many seconds to
// unpack while the menu and the music stand still. Larger ones are refused
// before any pixel memory is taken; the screen-shot view holds its other
// picture types to the same limit.
constexpr std::uint64_t MAX_PICTURE_PIXELS = std::uint64_t{4096} * 4096;

// Marker flags of Jpg_Decoder::flags.
enum : std::uint32_t {
  JPG_SOF = 1, JPG_DHT = 2, JPG_SOI = 4, JPG_SOS = 8, JPG_DQT = 16, JPG_APP0 = 32, JPG_DRI = 64
};

struct Jpg_Huffman_Entry {
  std::int32_t code;
  std::int32_t value;
  std::int32_t length;  // 0 for an empty entry
};

struct Jpg_Huffman_Table {
  Jpg_Huffman_Entry entry[256];
  // Lookup built from the entries by read_dht, so that decoding does not
  // search the table bit by bit. fast[] maps the next JPG_FAST_BITS bits to
  // (length << 8 | symbol), 0 when no code that short matches; longer codes
  // of one length are consecutive: first[] code at index[] in entry[].
  static constexpr int JPG_FAST_BITS = 9;
  std::uint16_t fast[1 << JPG_FAST_BITS];
  // The same with the value bits that follow the code, where code and value
  // fit: (value << 16 | symbol << 8 | bits used), 0 otherwise.
  std::int32_t fast_value[1 << JPG_FAST_BITS];
  std::int32_t first[17];
  std::int32_t count[17];
  std::int32_t index[17];
};

struct Jpg_Decoder {
  const std::uint8_t *start;
  const std::uint8_t *pos;
  const std::uint8_t *end;  // one past the last byte of the data
  // Bit reader: up to 64 unread bits, most significant first. `blocked`
  // means filling stopped at a restart marker (pos at its 0xFF); `exhausted`
  // that bits past the end of the data were used (they read as 0).
  std::uint64_t bits;
  int bit_count;
  bool blocked;
  bool exhausted;
  int width;
  int height;
  int components;                // of the frame; every scan must carry them all
  Jpg_Huffman_Table huffman[4];  // DC 0, DC 1, AC 0, AC 1
  std::int32_t quant[2][64];     // natural order
  int luma_h, luma_v;            // sampling factors of component 1
  int restart_interval;          // units between restart markers, 0 for none
  int luma_quant;
  int chroma_quant;
  int luma_ac, luma_dc;
  int chroma_ac, chroma_dc;
  std::uint32_t flags;
};

// Each takes the position of the marker's code byte in d.pos and leaves d.pos
// where the header scan goes on. 0 on success, non-zero rejects the file.
int read_sof0(Jpg_Decoder &d);
int read_dht(Jpg_Decoder &d);
int read_dqt(Jpg_Decoder &d);
int read_sos(Jpg_Decoder &d);

// Starts the bit reader on the byte at d.pos.
void jpg_start_bits(Jpg_Decoder &d);

// The symbol; -1 when no code of up to 16 bits matches (16 bits are used);
// -2 at the fill bits before a restart marker (nothing is used).
int huffman_decode(Jpg_Decoder &d, const Jpg_Huffman_Table &table);

// Decodes one block and transforms it into 64 samples (row by row, clamped
// to 0..255). 0, or 1 when a Huffman code did not match and the block
// became an X.
int decode_block(Jpg_Decoder &d, std::int32_t *block, int dc_table, int ac_table, int quant_table,
                 std::int32_t *prediction);

// Accurate integer inverse DCT; block holds 64 coefficients in natural order
// and receives 64 samples (level shifted, not clamped).
void do_idct(std::int32_t *block, const std::int32_t *quant);

#endif
