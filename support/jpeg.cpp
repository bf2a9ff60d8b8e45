#include "support/jpeg.h"

#include <allegro/internal/aintern.h>

#include <cstdlib>
#include <cstring>

namespace {

Jpg_Progress_Monitor progress_monitor = nullptr;
void *progress_monitor_data = nullptr;

// For each coefficient in natural order, its place in the zigzag sequence.
constexpr std::uint8_t zigzag[64] = {
   0,  1,  5,  6, 14, 15, 27, 28,
   2,  4,  7, 13, 16, 26, 29, 42,
   3,  8, 12, 17, 25, 30, 41, 43,
   9, 11, 18, 24, 31, 40, 44, 53,
  10, 19, 23, 32, 39, 45, 52, 54,
  20, 22, 33, 38, 46, 51, 55, 60,
  21, 34, 37, 47, 50, 56, 59, 61,
  35, 36, 48, 49, 57, 58, 62, 63,
};

// The inverse: for each place in the zigzag sequence, the natural index.
struct Natural_Order {
  std::uint8_t at[64];
  constexpr Natural_Order() : at() {
    for (int i = 0; i < 64; ++i) at[zigzag[i]] = static_cast<std::uint8_t>(i);
  }
};
constexpr Natural_Order natural;

// Dequantised coefficients are held within this bound so that the transform
// never overflows on damaged data; real pictures stay far below it.
constexpr std::int64_t COEFFICIENT_LIMIT = 1 << 23;

bool has(const Jpg_Decoder &d, std::size_t bytes) {
  return d.pos <= d.end && static_cast<std::size_t>(d.end - d.pos) >= bytes;
}

int read16(const std::uint8_t *p) { return (p[0] << 8) | p[1]; }

// ---- bit reader ------------------------------------------------------------

// Tops the reader up to at least 57 bits, stopping at a restart marker or at
// the end of the data. A 0xFF byte is data and the byte after it is passed
// over as its stuffing.
void fill(Jpg_Decoder &d) {
  while (d.bit_count <= 56 && d.pos < d.end) {
    const std::uint8_t b = *d.pos;
    if (b == 0xFF) {
      if (d.end - d.pos >= 2 && d.pos[1] >= 0xD0 && d.pos[1] <= 0xD7) {
        d.blocked = true;
        return;
      }
      d.pos += (d.end - d.pos >= 2) ? 2 : 1;
    } else {
      ++d.pos;
    }
    d.bits |= static_cast<std::uint64_t>(b) << (56 - d.bit_count);
    d.bit_count += 8;
  }
}

// Makes at least n bits available, reading through a restart marker (its
// 0xFF gives eight one bits, its code byte is passed over) or, past the end
// of the data, supplying zero bits and noting that the data ran out.
void need_bits(Jpg_Decoder &d, int n) {
  while (d.bit_count < n) {
    fill(d);
    if (d.bit_count >= n) return;
    if (d.blocked) {
      d.blocked = false;
      d.pos += 2;
      d.bits |= std::uint64_t{0xFF} << (56 - d.bit_count);
      d.bit_count += 8;
    } else {
      d.exhausted = true;
      d.bit_count = n;
    }
  }
}

inline void consume(Jpg_Decoder &d, int n) {
  d.bits <<= n;
  d.bit_count -= n;
}

inline int receive_extend(Jpg_Decoder &d, int s) {
  if (s == 0) return 0;
  if (d.bit_count < s) need_bits(d, s);
  const int v = static_cast<int>(d.bits >> (64 - s));
  consume(d, s);
  return v < (1 << (s - 1)) ? v + 1 - (1 << s) : v;
}

int huffman_decode_slow(Jpg_Decoder &d, const Jpg_Huffman_Table &t) {
  for (int len = 1; len <= 16; ++len) {
    if (d.bit_count < len) need_bits(d, len);
    const std::int32_t code = static_cast<std::int32_t>(d.bits >> (64 - len));
    const std::uint32_t offset = static_cast<std::uint32_t>(code - t.first[len]);
    if (offset < static_cast<std::uint32_t>(t.count[len])) {
      consume(d, len);
      return t.entry[t.index[len] + offset].value;
    }
  }
  consume(d, 16);
  return -1;
}

// ---- transform -------------------------------------------------------------

constexpr int CONST_BITS = 13;
constexpr int PASS1_BITS = 2;

// One 1-D pass of the accurate integer inverse DCT over eight values
// (stride apart); the results are left scaled by 2^13 in out[].
template <typename T>
inline void idct_1d(const T *in, int stride, std::int64_t out[8]) {
  std::int64_t z2 = in[2 * stride], z3 = in[6 * stride];
  std::int64_t z1 = (z2 + z3) * 4433;
  const std::int64_t tmp2 = z1 + z3 * -15137;
  const std::int64_t tmp3 = z1 + z2 * 6270;
  z2 = in[0];
  z3 = in[4 * stride];
  const std::int64_t tmp0 = (z2 + z3) << CONST_BITS;
  const std::int64_t tmp1 = (z2 - z3) << CONST_BITS;
  const std::int64_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
  const std::int64_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

  std::int64_t o0 = in[7 * stride], o1 = in[5 * stride], o2 = in[3 * stride], o3 = in[stride];
  z1 = o0 + o3;
  z2 = o1 + o2;
  z3 = o0 + o2;
  std::int64_t z4 = o1 + o3;
  const std::int64_t z5 = (z3 + z4) * 9633;
  o0 *= 2446;
  o1 *= 16819;
  o2 *= 25172;
  o3 *= 12299;
  z1 *= -7373;
  z2 *= -20995;
  z3 = z3 * -16069 + z5;
  z4 = z4 * -3196 + z5;
  o0 += z1 + z3;
  o1 += z2 + z4;
  o2 += z2 + z3;
  o3 += z1 + z4;

  out[0] = tmp10 + o3;
  out[7] = tmp10 - o3;
  out[1] = tmp11 + o2;
  out[6] = tmp11 - o2;
  out[2] = tmp12 + o1;
  out[5] = tmp12 - o1;
  out[3] = tmp13 + o0;
  out[4] = tmp13 - o0;
}

inline std::int64_t dequantise(std::int32_t coefficient, std::int32_t q) {
  const std::int64_t v = static_cast<std::int64_t>(coefficient) * q;
  return v > COEFFICIENT_LIMIT ? COEFFICIENT_LIMIT : (v < -COEFFICIENT_LIMIT ? -COEFFICIENT_LIMIT : v);
}

// The transform; ac_zero tells that every coefficient but the DC is zero,
// which makes all 64 samples equal (the same value the passes would give).
void idct(std::int32_t *block, const std::int32_t *quant, bool ac_zero) {
  if (ac_zero) {
    const std::int64_t dc = dequantise(block[0], quant[0]) << PASS1_BITS;
    const std::int32_t v =
        static_cast<std::int32_t>(((dc << CONST_BITS) + (1 << 17)) >> 18) + 128;
    for (int i = 0; i < 64; ++i) block[i] = v;
    return;
  }
  std::int64_t work[64];
  for (int c = 0; c < 8; ++c) {
    std::int64_t in[8];
    bool odd_zero = true;
    for (int r = 0; r < 8; ++r) {
      in[r] = block[r * 8 + c] == 0 ? 0 : dequantise(block[r * 8 + c], quant[r * 8 + c]);
      if (r > 0 && in[r] != 0) odd_zero = false;
    }
    if (odd_zero) {
      for (int r = 0; r < 8; ++r) work[r * 8 + c] = in[0] << PASS1_BITS;
      continue;
    }
    std::int64_t out[8];
    idct_1d(in, 1, out);
    for (int r = 0; r < 8; ++r)
      work[r * 8 + c] = (out[r] + (1 << (CONST_BITS - PASS1_BITS - 1))) >> (CONST_BITS - PASS1_BITS);
  }
  for (int r = 0; r < 8; ++r) {
    const std::int64_t *row = work + r * 8;
    std::int64_t out[8];
    idct_1d(row, 1, out);
    for (int c = 0; c < 8; ++c)
      block[r * 8 + c] = static_cast<std::int32_t>((out[c] + 0x20000) >> 18) + 128;
  }
}

// ---- output ----------------------------------------------------------------

struct Pixel_Layout {
  int red, green, blue;  // byte offsets within a 24-bit pixel
};

inline int clamp_sample(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Colour conversion in double precision; each result is cut toward zero and
// clamped.
inline void put_colour(std::uint8_t *p, const Pixel_Layout &layout, int y, double cr_red,
                       double cb_green, double cr_green, double cb_blue) {
  const double luma = y;
  p[layout.red] = static_cast<std::uint8_t>(clamp_sample(static_cast<int>(luma + cr_red)));
  p[layout.green] = static_cast<std::uint8_t>(clamp_sample(static_cast<int>(luma - cb_green - cr_green)));
  p[layout.blue] = static_cast<std::uint8_t>(clamp_sample(static_cast<int>(luma + cb_blue)));
}

struct Unit_Blocks {
  std::int32_t luma[4][64];
  std::int32_t cb[64];
  std::int32_t cr[64];
};

// Writes one unit at (x, y): `across` luma blocks wide, `down` high, the
// chroma blocks spread over the whole unit. Pixels outside the bitmap are
// dropped.
void put_colour_unit(BITMAP *bmp, const Pixel_Layout &layout, const Unit_Blocks &u, int x, int y,
                     int across, int down) {
  const int unit_w = 8 * across, unit_h = 8 * down;
  const int w = (bmp->w - x < unit_w) ? bmp->w - x : unit_w;
  const int h = (bmp->h - y < unit_h) ? bmp->h - y : unit_h;
  for (int r = 0; r < h; ++r) {
    std::uint8_t *line = bmp->line[y + r] + 3 * x;
    const int chroma_row = (r * 8 / unit_h) * 8;
    for (int c = 0; c < w; ++c) {
      const int block = (r >> 3) * across + (c >> 3);
      const int luma = clamp_sample(u.luma[block][(r & 7) * 8 + (c & 7)]);
      const int ci = chroma_row + c * 8 / unit_w;
      const double cb = clamp_sample(u.cb[ci]) - 128, cr = clamp_sample(u.cr[ci]) - 128;
      put_colour(line + 3 * c, layout, luma, 1.402 * cr, 0.34414 * cb, 0.71414 * cr, 1.772 * cb);
    }
  }
}

void put_grey_unit(BITMAP *bmp, const Pixel_Layout &layout, const std::int32_t *block, int x, int y) {
  const int w = (bmp->w - x < 8) ? bmp->w - x : 8;
  const int h = (bmp->h - y < 8) ? bmp->h - y : 8;
  for (int r = 0; r < h; ++r) {
    std::uint8_t *p = bmp->line[y + r] + 3 * x;
    for (int c = 0; c < w; ++c, p += 3) {
      const std::uint8_t v = static_cast<std::uint8_t>(clamp_sample(block[r * 8 + c]));
      p[layout.red] = v;
      p[layout.green] = v;
      p[layout.blue] = v;
    }
  }
}

// After a row of units when a DRI segment was present: the rest of the
// current byte and the restart marker are passed over. When damaged data
// left the reader short of the marker, it goes on after the next marker, so
// that the rows below still decode.
void restart(Jpg_Decoder &d) {
  consume(d, d.bit_count & 7);
  if (d.bit_count != 0 || !d.blocked) {
    d.bits = 0;
    d.bit_count = 0;
    while (d.end - d.pos >= 2 && !(d.pos[0] == 0xFF && d.pos[1] >= 0xD0 && d.pos[1] <= 0xD7)) ++d.pos;
    if (d.end - d.pos < 2) {
      d.pos = d.end;
      return;
    }
  }
  d.blocked = false;
  d.pos += 2;
}

// Decodes the scan into bmp. False when the data ran out before the end.
bool decode_scan(Jpg_Decoder &d, BITMAP *bmp) {
  Pixel_Layout layout{_rgb_r_shift_24 / 8, _rgb_g_shift_24 / 8, _rgb_b_shift_24 / 8};
  Unit_Blocks u;
  std::int32_t prediction[3] = {0, 0, 0};
  int across = 1, down = 1;
  if (d.components == 3) {
    if (d.luma_sampling == 2) {
      across = 2;
    } else if (d.luma_sampling == 4) {
      across = 2;
      down = 2;
    } else if (d.luma_sampling != 1) {
      clear_bitmap(bmp);  // unsupported layout: nothing to draw
      return true;
    }
  }
  const int unit_w = 8 * across, unit_h = 8 * down;
  jpg_start_bits(d);
  for (int y = 0; y < d.height; y += unit_h) {
    for (int x = 0; x < d.width; x += unit_w) {
      if (d.components == 1) {
        decode_block(d, u.luma[0], d.luma_dc, d.luma_ac, d.luma_quant, &prediction[0]);
        put_grey_unit(bmp, layout, u.luma[0], x, y);
      } else {
        for (int b = 0; b < across * down; ++b)
          decode_block(d, u.luma[b], d.luma_dc, d.luma_ac, d.luma_quant, &prediction[0]);
        decode_block(d, u.cb, d.chroma_dc, d.chroma_ac, d.chroma_quant, &prediction[1]);
        decode_block(d, u.cr, d.chroma_dc, d.chroma_ac, d.chroma_quant, &prediction[2]);
        put_colour_unit(bmp, layout, u, x, y, across, down);
      }
      if (d.exhausted) {
        // Truncated: what was not decoded stays black.
        rectfill(bmp, x, y, bmp->w - 1, y + unit_h - 1, 0);
        rectfill(bmp, 0, y + unit_h, bmp->w - 1, bmp->h - 1, 0);
        return false;
      }
    }
    if (d.flags & JPG_DRI) {
      prediction[0] = prediction[1] = prediction[2] = 0;
      restart(d);
    }
    if (progress_monitor) {
      const int done = y + unit_h < d.height ? y + unit_h : d.height;
      progress_monitor(progress_monitor_data, done, d.height);
    }
  }
  return true;
}

// Header scan up to the start of the entropy-coded data. 0 when the picture
// can be decoded.
int read_headers(Jpg_Decoder &d) {
  while (!(d.flags & JPG_SOS) && d.pos - d.start <= 10000) {
    if (!has(d, 2)) return 1;
    if (*d.pos != 0xFF) {
      ++d.pos;
      continue;
    }
    ++d.pos;
    const std::uint8_t *code = d.pos;
    switch (*code) {
      case 0xC0:
      case 0xC1:
        d.flags |= JPG_SOF;
        if (read_sof0(d)) return 1;
        break;
      case 0xC4:
        d.flags |= JPG_DHT;
        if (read_dht(d)) return 1;
        break;
      case 0xD8:
        d.flags |= JPG_SOI;
        ++d.pos;
        break;
      case 0xDA:
        d.flags |= JPG_SOS;
        if (read_sos(d)) return 1;
        break;
      case 0xDB:
        d.flags |= JPG_DQT;
        if (read_dqt(d)) return 1;
        break;
      case 0xDD:
        d.flags |= JPG_DRI;
        if (!has(d, 5)) return 1;
        d.pos += 5;
        break;
      case 0xE0: {
        d.flags |= JPG_APP0;
        if (!has(d, 17)) return 1;
        if (read16(code + 1) < 16 || std::memcmp(code + 3, "JFIF", 5) != 0 || code[8] != 1) return 1;
        const std::size_t skip = 17 + 3u * code[15] * code[16];
        if (!has(d, skip)) return 1;
        d.pos += skip;
        break;
      }
      case 0xFE: {
        if (!has(d, 3)) return 1;
        const std::size_t skip = 1 + static_cast<std::size_t>(read16(code + 1));
        if (!has(d, skip)) return 1;
        d.pos += skip;
        break;
      }
      default:
        return 1;
    }
  }
  const std::uint32_t needed = JPG_SOF | JPG_DHT | JPG_SOI | JPG_SOS | JPG_DQT | JPG_APP0;
  if ((d.flags & needed) != needed) return 1;
  if (d.width <= 0 || d.height <= 0 || d.width > JPG_MAX_SIDE || d.height > JPG_MAX_SIDE) return 1;
  return 0;
}

}  // namespace

// ---- public ----------------------------------------------------------------

void jpg_register_progress_monitor(void *data, Jpg_Progress_Monitor callback) {
  progress_monitor_data = data;
  progress_monitor = callback;
}

int read_sof0(Jpg_Decoder &d) {
  const std::uint8_t *code = d.pos;
  if (!has(d, 9)) return 1;
  if (code[3] != 8) return 1;
  d.height = read16(code + 4);
  d.width = read16(code + 6);
  const int count = code[8];
  d.pos = code + 9;
  for (int i = 0; i < count; ++i) {
    if (!has(d, 3)) return 1;
    const int id = d.pos[0];
    const int quant = d.pos[2];
    if (id == 1) {
      d.luma_sampling = (d.pos[1] >> 4) * (d.pos[1] & 15);
      d.luma_quant = quant;
    } else if (id == 2 || id == 3) {
      d.chroma_quant = quant;
    } else {
      return 0;  // the header scan goes on from this entry
    }
    // Only two quantisation tables are kept.
    if (quant > 1) return 1;
    d.pos += 3;
  }
  return 0;
}

int read_dht(Jpg_Decoder &d) {
  if (!has(d, 3)) return 1;
  const int length = read16(d.pos + 1);
  const std::uint8_t *segment = d.pos + 1;
  d.pos += 3;
  while (d.pos - segment < length) {
    if (!has(d, 17)) return 1;
    const int selector = d.pos[0];
    Jpg_Huffman_Table &t = d.huffman[((selector & 0x10) ? 2 : 0) + (selector & 1)];
    const std::uint8_t *counts = d.pos + 1;
    std::size_t total = 0;
    for (int i = 0; i < 16; ++i) total += counts[i];
    if (!has(d, 17 + total)) return 1;
    const std::uint8_t *symbols = d.pos + 17;
    d.pos += 17 + total;

    // A later table replaces the earlier one entirely.
    std::memset(&t, 0, sizeof t);
    std::uint64_t code = 0;
    int stored = 0;
    for (int len = 1; len <= 16; ++len) {
      const int first_stored = stored;
      const std::uint64_t first_code = code;
      for (int i = 0; i < counts[len - 1]; ++i, ++code, ++symbols) {
        if (stored < 256) {
          const std::int32_t c = static_cast<std::int32_t>(code < (1u << 24) ? code : (1u << 24));
          t.entry[stored++] = Jpg_Huffman_Entry{c, *symbols, len};
        }
      }
      // Codes that do not fit in len bits can never match.
      const std::uint64_t limit = std::uint64_t{1} << len;
      std::uint64_t usable = static_cast<std::uint64_t>(stored - first_stored);
      if (first_code >= limit) usable = 0;
      else if (first_code + usable > limit) usable = limit - first_code;
      t.first[len] = static_cast<std::int32_t>(first_code < limit ? first_code : 0);
      t.count[len] = static_cast<std::int32_t>(usable);
      t.index[len] = first_stored;
      if (len <= Jpg_Huffman_Table::JPG_FAST_BITS) {
        const int spread = Jpg_Huffman_Table::JPG_FAST_BITS - len;
        for (std::uint64_t k = 0; k < usable; ++k) {
          const std::uint16_t value =
              static_cast<std::uint16_t>((len << 8) | t.entry[first_stored + k].value);
          const std::size_t base = static_cast<std::size_t>(first_code + k) << spread;
          for (std::size_t s = 0; s < (std::size_t{1} << spread); ++s) t.fast[base + s] = value;
        }
      }
      code = (code < (1u << 24) ? code : (1u << 24)) << 1;
    }
  }
  return 0;
}

int read_dqt(Jpg_Decoder &d) {
  if (!has(d, 3)) return 1;
  const int length = read16(d.pos + 1);
  const std::uint8_t *segment = d.pos + 1;
  d.pos += 3;
  while (d.pos - segment < length) {
    if (!has(d, 65)) return 1;
    const int info = d.pos[0];
    if ((info >> 4) != 0 || (info & 15) > 1) return 1;
    std::int32_t *table = d.quant[info & 15];
    for (int i = 0; i < 64; ++i) table[i] = d.pos[1 + zigzag[i]];
    d.pos += 65;
  }
  return 0;
}

int read_sos(Jpg_Decoder &d) {
  if (!has(d, 4)) return 1;
  const int count = d.pos[3];
  if (count != 1 && count != 3) return 1;
  d.components = count;
  d.pos += 4;
  for (int i = 0; i < count; ++i) {
    if (!has(d, 2)) return 1;
    const int id = d.pos[0];
    const int dc = d.pos[1] >> 4, ac = d.pos[1] & 15;
    // Only two tables of each class are kept.
    if (dc > 1 || ac > 1) return 1;
    if (id == 1) {
      d.luma_dc = dc;
      d.luma_ac = ac;
    } else if (id == 2 || id == 3) {
      d.chroma_dc = dc;
      d.chroma_ac = ac;
    } else {
      return 1;
    }
    d.pos += 2;
  }
  if (!has(d, 3)) return 1;
  d.pos += 3;
  return 0;
}

void jpg_start_bits(Jpg_Decoder &d) {
  d.bits = 0;
  d.bit_count = 0;
  d.blocked = false;
  d.exhausted = false;
}

int huffman_decode(Jpg_Decoder &d, const Jpg_Huffman_Table &t) {
  if (d.bit_count < 16) {
    fill(d);
    // Only one bits left before a restart marker: the encoder's fill bits.
    if (d.blocked && d.bit_count < 8 &&
        (d.bit_count == 0 || (d.bits >> (64 - d.bit_count)) == (std::uint64_t{1} << d.bit_count) - 1))
      return -2;
  }
  const std::uint16_t e = t.fast[d.bits >> (64 - Jpg_Huffman_Table::JPG_FAST_BITS)];
  const int len = e >> 8;
  if (e != 0 && len <= d.bit_count) {
    consume(d, len);
    return e & 0xFF;
  }
  return huffman_decode_slow(d, t);
}

namespace {

// The mark of a block whose Huffman code did not match.
int put_x(std::int32_t *block) {
  std::memset(block, 0, 64 * sizeof *block);
  for (int i = 0; i < 8; ++i) {
    block[i * 8 + i] = 255;
    block[i * 8 + 7 - i] = 255;
  }
  return 1;
}

}  // namespace

int decode_block(Jpg_Decoder &d, std::int32_t *block, int dc_table, int ac_table, int quant_table,
                 std::int32_t *prediction) {
  std::memset(block, 0, 64 * sizeof *block);
  // A DC code that does not match makes an X like an AC one; at the fill
  // bits before a restart marker the block stays flat rather than reading
  // through the marker.
  const int dc_symbol = huffman_decode(d, d.huffman[dc_table & 1]);
  if (dc_symbol == -1) return put_x(block);
  const int diff = dc_symbol == -2 ? 0 : receive_extend(d, dc_symbol & 15);
  *prediction = static_cast<std::int32_t>(static_cast<std::uint32_t>(*prediction) +
                                          static_cast<std::uint32_t>(diff));
  block[0] = *prediction;
  const Jpg_Huffman_Table &ac = d.huffman[2 + (ac_table & 1)];
  bool ac_zero = true;
  for (int k = 1; k < 64;) {
    const int symbol = huffman_decode(d, ac);
    if (symbol == -2) break;
    if (symbol == -1) return put_x(block);
    const int run = symbol >> 4;
    const int value = receive_extend(d, symbol & 15);
    if (symbol == 0x00) break;
    if (symbol == 0xF0) {
      k += 16;
      continue;
    }
    k += run;
    if (k > 63) break;
    if (value != 0) {
      block[natural.at[k]] = value;
      ac_zero = false;
    }
    ++k;
  }
  idct(block, d.quant[quant_table & 1], ac_zero);
  return 0;
}

void do_idct(std::int32_t *block, const std::int32_t *quant) {
  bool ac_zero = true;
  for (int i = 1; i < 64; ++i) ac_zero = ac_zero && block[i] == 0;
  idct(block, quant, ac_zero);
}

BITMAP *load_memory_jpg(const void *data, std::size_t size, RGB *pal) {
  if (!data || size == 0) return nullptr;
  Jpg_Decoder *d = static_cast<Jpg_Decoder *>(std::calloc(1, sizeof(Jpg_Decoder)));
  if (!d) return nullptr;
  d->start = d->pos = static_cast<const std::uint8_t *>(data);
  d->end = d->start + size;
  BITMAP *bmp = nullptr;
  if (read_headers(*d) == 0) {
    bmp = create_bitmap_ex(24, d->width, d->height);
    if (bmp) decode_scan(*d, bmp);
  }
  std::free(d);
  if (!bmp) return nullptr;

  PALETTE local;
  if (!pal) pal = local;
  generate_332_palette(pal);
  const int depth = _color_load_depth(24, FALSE);
  if (depth != 24) bmp = _fixup_loaded_bitmap(bmp, pal, depth);
  return bmp;
}

BITMAP *load_jpg(const char *filename, RGB *pal) {
  const std::uint64_t size = file_size_ex(filename);
  if (size == 0) return nullptr;
  std::uint8_t *buffer = static_cast<std::uint8_t *>(std::malloc(size));
  if (!buffer) return nullptr;
  PACKFILE *f = pack_fopen(filename, F_READ);
  if (!f) {
    std::free(buffer);
    return nullptr;
  }
  // Decode only what was really read: a file that shrank meanwhile must not
  // expose unread memory.
  const long got = pack_fread(buffer, static_cast<long>(size), f);
  pack_fclose(f);
  BITMAP *bmp = got > 0 ? load_memory_jpg(buffer, static_cast<std::size_t>(got), pal) : nullptr;
  std::free(buffer);
  return bmp;
}
