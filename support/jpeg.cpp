#include "support/jpeg.h"

#include <allegro/internal/aintern.h>

#include <algorithm>
#include <cmath>
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
      // A damaged 0xFF right before a restart marker must not take the
      // marker's own 0xFF as its stuffing.
      const bool marker_next = d.end - d.pos >= 3 && d.pos[1] == 0xFF && d.pos[2] >= 0xD0 && d.pos[2] <= 0xD7;
      d.pos += (d.end - d.pos >= 2 && !marker_next) ? 2 : 1;
    } else {
      ++d.pos;
    }
    d.bits |= static_cast<std::uint64_t>(b) << (56 - d.bit_count);
    d.bit_count += 8;
  }
}

// Makes at least n bits available, reading through a restart marker (its
// 0xFF gives eight one bits, its code byte is passed over) or, past the end
// of the data, supplying zero bits and noting that the data ran out. With a
// restart interval a marker ends the interval: damaged data short of it gets
// zero bits and the reader stays before the marker, so that the next
// interval starts on its own data.
void need_bits(Jpg_Decoder &d, int n) {
  while (d.bit_count < n) {
    fill(d);
    if (d.bit_count >= n) return;
    if (d.blocked && d.restart_interval) {
      d.bit_count = n;
    } else if (d.blocked) {
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

// The accurate integer inverse DCT: 13 fractional bits, 2 extra bits between
// the passes. The sums are formed in wrapping 32-bit arithmetic: for the
// coefficients of real 8-bit pictures they never leave the 32-bit range (as
// in the usual 32-bit builds of this transform), and damaged data merely
// gives wrong samples instead of undefined behaviour.
using U32 = std::uint32_t;

inline std::int32_t signed32(U32 v) { return static_cast<std::int32_t>(v); }

// One 1-D pass over eight values; results scaled by 2^13. V is a 32-bit
// unsigned integer or a vector of four, so that four columns go at once.
template <typename V>
inline void idct_1d(const V in[8], V out[8]) {
  V z2 = in[2], z3 = in[6];
  V z1 = (z2 + z3) * 4433u;
  const V tmp2 = z1 - z3 * 15137u;
  const V tmp3 = z1 + z2 * 6270u;
  z2 = in[0];
  z3 = in[4];
  const V tmp0 = (z2 + z3) << 13;
  const V tmp1 = (z2 - z3) << 13;
  const V tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
  const V tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

  V o0 = in[7], o1 = in[5], o2 = in[3], o3 = in[1];
  z1 = o0 + o3;
  z2 = o1 + o2;
  z3 = o0 + o2;
  V z4 = o1 + o3;
  const V z5 = (z3 + z4) * 9633u;
  o0 *= 2446u;
  o1 *= 16819u;
  o2 *= 25172u;
  o3 *= 12299u;
  z1 = 0u - z1 * 7373u;
  z2 = 0u - z2 * 20995u;
  z3 = z5 - z3 * 16069u;
  z4 = z5 - z4 * 3196u;
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

typedef std::uint32_t U32x4 __attribute__((vector_size(16)));
typedef std::int32_t S32x4 __attribute__((vector_size(16)));

inline int clamp_sample(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Row output: ((sum + 2^17) >> 18) + 128, clamped to 0..255 when CLAMP.
template <bool CLAMP>
inline std::int32_t row_sample(U32 sum) {
  const std::int32_t v = (signed32(sum + 0x20000u) >> 18) + 128;
  return CLAMP ? clamp_sample(v) : v;
}

// Transforms dequantised coefficients (natural order) into 8 rows of 8
// samples at out (rows `stride` apart; out may be the coefficients). ac_zero:
// every coefficient but the DC is zero, so all 64 samples are equal, exactly
// what the two passes would give.
template <bool CLAMP, typename T>
void idct_dequantised(const std::int32_t *block, bool ac_zero, T *out, int stride) {
  if (ac_zero) {
    const T v = static_cast<T>(row_sample<CLAMP>(static_cast<U32>(block[0]) << 15));
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) out[r * stride + c] = v;
    return;
  }
  // Columns, four at a time; the results are stored transposed so that the
  // row pass can also take four rows at a time.
  std::int32_t work[64];
  for (int half = 0; half < 8; half += 4) {
    U32x4 in[8], sums[8];
    for (int r = 0; r < 8; ++r) std::memcpy(&in[r], block + r * 8 + half, sizeof in[r]);
    idct_1d(in, sums);
    for (int r = 0; r < 8; ++r) {
      const S32x4 v = __builtin_convertvector(sums[r] + 1024u, S32x4) >> 11;
      for (int i = 0; i < 4; ++i) work[(half + i) * 8 + r] = v[i];
    }
  }
  // Rows: ((sum + 2^17) >> 18) + 128.
  for (int half = 0; half < 8; half += 4) {
    U32x4 in[8], sums[8];
    for (int c = 0; c < 8; ++c) std::memcpy(&in[c], work + c * 8 + half, sizeof in[c]);
    idct_1d(in, sums);
    for (int c = 0; c < 8; ++c) {
      S32x4 v = (__builtin_convertvector(sums[c] + 0x20000u, S32x4) >> 18) + 128;
      if (CLAMP) {
        v &= v > 0;
        v = (v | (v > 255)) & 255;
      }
      for (int i = 0; i < 4; ++i) out[(half + i) * stride + c] = static_cast<T>(v[i]);
    }
  }
}

// Dequantised coefficients are held within this bound (real pictures stay
// far below it), so that a runaway DC prediction cannot overflow.
constexpr std::int64_t COEFFICIENT_LIMIT = 1 << 23;

inline std::int32_t dequantise(std::int32_t coefficient, std::int32_t q) {
  const std::int64_t v = static_cast<std::int64_t>(coefficient) * q;
  return static_cast<std::int32_t>(v > COEFFICIENT_LIMIT ? COEFFICIENT_LIMIT
                                                        : (v < -COEFFICIENT_LIMIT ? -COEFFICIENT_LIMIT : v));
}

// ---- output ----------------------------------------------------------------

struct Pixel_Layout {
  int red, green, blue;  // byte offsets within a 24-bit pixel
};

// Colour conversion: red = Y + 1.402 Cr', green = Y - 0.34414 Cb' -
// 0.71414 Cr', blue = Y + 1.772 Cb' in double precision, each cut toward
// zero and clamped. With samples of 0..255 the double result is never within
// rounding distance of an integer except where the exact value is one, so
// Y + floor(offset) gives the same bytes; the few chroma pairs that make the
// green offset an exact integer are worked out in double as written.
struct Colour_Tables {
  std::int16_t red[256], blue[256];   // floor(1.402 Cr'), floor(1.772 Cb')
  std::int32_t green_cb[256], green_cr[256];  // 34414 Cb', 71414 Cr'
  std::uint8_t clip[768];             // clip[v + 256] = v clamped to 0..255
  Colour_Tables() {
    for (int i = 0; i < 256; ++i) {
      red[i] = static_cast<std::int16_t>(std::floor(1.402 * (i - 128)));
      blue[i] = static_cast<std::int16_t>(std::floor(1.772 * (i - 128)));
      green_cb[i] = 34414 * (i - 128);
      green_cr[i] = 71414 * (i - 128);
    }
    for (int i = 0; i < 768; ++i) clip[i] = static_cast<std::uint8_t>(clamp_sample(i - 256));
  }
};

const Colour_Tables &colour_tables() {
  static const Colour_Tables tables;
  return tables;
}

inline void put_colour_exact(std::uint8_t *p, const Pixel_Layout &layout, int y, int cb, int cr) {
  const double luma = y, b = cb - 128, r = cr - 128;
  p[layout.red] = static_cast<std::uint8_t>(clamp_sample(static_cast<int>(luma + 1.402 * r)));
  p[layout.green] =
      static_cast<std::uint8_t>(clamp_sample(static_cast<int>(luma - 0.34414 * b - 0.71414 * r)));
  p[layout.blue] = static_cast<std::uint8_t>(clamp_sample(static_cast<int>(luma + 1.772 * b)));
}

// Samples of one row of units, 0..255: luma `unit_h` lines, Cb and Cr 8
// lines each, and the colour offsets of one chroma line.
struct Row_Buffers {
  int luma_stride = 0, chroma_stride = 0;
  std::uint8_t *luma = nullptr, *cb = nullptr, *cr = nullptr;
  std::int32_t *red = nullptr, *green = nullptr, *blue = nullptr;
  std::uint8_t *exact = nullptr;
  void *memory = nullptr;

  bool allocate(int units, int unit_w, int unit_h) {
    luma_stride = units * unit_w;
    chroma_stride = units * 8;
    const std::size_t luma_size = static_cast<std::size_t>(luma_stride) * unit_h;
    const std::size_t chroma_size = static_cast<std::size_t>(chroma_stride) * 8;
    const std::size_t offsets = 3 * sizeof(std::int32_t) * static_cast<std::size_t>(chroma_stride);
    memory = std::malloc(offsets + luma_size + 2 * chroma_size + chroma_stride);
    if (!memory) return false;
    red = static_cast<std::int32_t *>(memory);
    green = red + chroma_stride;
    blue = green + chroma_stride;
    luma = reinterpret_cast<std::uint8_t *>(blue + chroma_stride);
    cb = luma + luma_size;
    cr = cb + chroma_size;
    exact = cr + chroma_size;
    return true;
  }
  ~Row_Buffers() { std::free(memory); }
};

// Works out the offsets of `count` chroma samples; true when some of them
// must be converted in double precision.
bool chroma_offsets(Row_Buffers &b, const std::uint8_t *cb, const std::uint8_t *cr, int count) {
  const Colour_Tables &t = colour_tables();
  bool any_exact = false;
  for (int i = 0; i < count; ++i) {
    b.red[i] = t.red[cr[i]] + 256;
    b.blue[i] = t.blue[cb[i]] + 256;
    // floor(-(34414 Cb' + 71414 Cr') / 100000), kept positive for the division.
    const std::int32_t n = 20000000 - t.green_cb[cb[i]] - t.green_cr[cr[i]];
    b.green[i] = n / 100000 - 200 + 256;
    b.exact[i] = n % 100000 == 0 && n != 20000000;
    any_exact = any_exact || b.exact[i];
  }
  return any_exact;
}

// One line of pixels; each chroma sample serves ACROSS pixels.
template <int ACROSS>
void put_colour_line(std::uint8_t *p, const Pixel_Layout &layout, const std::uint8_t *luma,
                     const Row_Buffers &b, const std::uint8_t *cb, const std::uint8_t *cr, int width,
                     bool any_exact) {
  const std::uint8_t *clip = colour_tables().clip;
  if (any_exact) {
    for (int x = 0; x < width; ++x, p += 3) {
      const int ci = x / ACROSS;
      if (b.exact[ci]) {
        put_colour_exact(p, layout, luma[x], cb[ci], cr[ci]);
      } else {
        p[layout.red] = clip[luma[x] + b.red[ci]];
        p[layout.green] = clip[luma[x] + b.green[ci]];
        p[layout.blue] = clip[luma[x] + b.blue[ci]];
      }
    }
    return;
  }
  const int ro = layout.red, go = layout.green, bo = layout.blue;
  const int rs = 8 * ro, gs = 8 * go, bs = 8 * bo;
  int x = 0;
  // Whole pixels stored as four bytes, the fourth overwritten by the next
  // pixel; the last pixel of the line is stored byte by byte.
  for (int ci = 0; x + ACROSS < width; ++ci) {
    const int red = b.red[ci], green = b.green[ci], blue = b.blue[ci];
    for (int k = 0; k < ACROSS; ++k, ++x, p += 3) {
      const int y = luma[x];
      const std::uint32_t pixel = static_cast<std::uint32_t>(clip[y + red]) << rs |
                                  static_cast<std::uint32_t>(clip[y + green]) << gs |
                                  static_cast<std::uint32_t>(clip[y + blue]) << bs;
      std::memcpy(p, &pixel, 4);
    }
  }
  for (; x < width; ++x, p += 3) {
    const int ci = x / ACROSS, y = luma[x];
    p[ro] = clip[y + b.red[ci]];
    p[go] = clip[y + b.green[ci]];
    p[bo] = clip[y + b.blue[ci]];
  }
}

void put_grey_line(std::uint8_t *p, const Pixel_Layout &layout, const std::uint8_t *luma, int width) {
  for (int x = 0; x < width; ++x, p += 3) {
    p[layout.red] = luma[x];
    p[layout.green] = luma[x];
    p[layout.blue] = luma[x];
  }
}

// Between two restart intervals: the rest of the current byte and the
// restart marker are passed over. When damaged data left the reader short of
// the marker, it goes on after the next marker, so that the units after it
// still decode.
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

template <typename T>
int decode_block_to(Jpg_Decoder &d, std::int32_t *coefficients, int dc_table, int ac_table,
                    int quant_table, std::int32_t *prediction, T *out, int stride);

// Decodes the scan into bmp, a row of units at a time. False only when
// memory ran short; when the data runs out, the rows of units not decoded
// are left black.
bool decode_scan(Jpg_Decoder &d, BITMAP *bmp) {
  const Pixel_Layout layout{_rgb_r_shift_24 / 8, _rgb_g_shift_24 / 8, _rgb_b_shift_24 / 8};
  std::int32_t prediction[3] = {0, 0, 0};
  // Chroma is sampled once per unit, so each chroma sample serves `across`
  // pixels and `down` lines; a grey scan's unit is a single block.
  const int across = d.components == 3 ? d.luma_h : 1, down = d.components == 3 ? d.luma_v : 1;
  const int unit_w = 8 * across, unit_h = 8 * down;
  const int units = (d.width + unit_w - 1) / unit_w;
  Row_Buffers rows;
  if (!rows.allocate(units, unit_w, unit_h)) return false;
  std::int32_t coefficients[64] = {};
  jpg_start_bits(d);
  int since_restart = 0;
  for (int y = 0; y < d.height; y += unit_h) {
    for (int u = 0; u < units; ++u, ++since_restart) {
      // Each restart interval starts after its marker, predicting from zero.
      if (since_restart == d.restart_interval && since_restart != 0) {
        since_restart = 0;
        prediction[0] = prediction[1] = prediction[2] = 0;
        restart(d);
      }
      std::uint8_t *luma = rows.luma + u * unit_w;
      for (int b = 0; b < across * down; ++b)
        decode_block_to(d, coefficients, d.luma_dc, d.luma_ac, d.luma_quant, &prediction[0],
                        luma + (b / across) * 8 * rows.luma_stride + (b % across) * 8, rows.luma_stride);
      if (d.components == 3) {
        decode_block_to(d, coefficients, d.chroma_dc, d.chroma_ac, d.chroma_quant, &prediction[1],
                        rows.cb + u * 8, rows.chroma_stride);
        decode_block_to(d, coefficients, d.chroma_dc, d.chroma_ac, d.chroma_quant, &prediction[2],
                        rows.cr + u * 8, rows.chroma_stride);
      }
    }
    if (d.exhausted) {
      // Truncated: what was not decoded stays black.
      rectfill(bmp, 0, y, bmp->w - 1, bmp->h - 1, 0);
      return true;
    }
    const int lines = d.height - y < unit_h ? d.height - y : unit_h;
    bool any_exact = false;
    for (int r = 0; r < lines; ++r) {
      std::uint8_t *line = bmp->line[y + r];
      const std::uint8_t *luma = rows.luma + r * rows.luma_stride;
      if (d.components == 1) {
        put_grey_line(line, layout, luma, d.width);
        continue;
      }
      const int chroma_line = r / down;
      const std::uint8_t *cb = rows.cb + chroma_line * rows.chroma_stride;
      const std::uint8_t *cr = rows.cr + chroma_line * rows.chroma_stride;
      if (r % down == 0) any_exact = chroma_offsets(rows, cb, cr, (d.width + across - 1) / across);
      switch (across) {
        case 1: put_colour_line<1>(line, layout, luma, rows, cb, cr, d.width, any_exact); break;
        case 2: put_colour_line<2>(line, layout, luma, rows, cb, cr, d.width, any_exact); break;
        case 3: put_colour_line<3>(line, layout, luma, rows, cb, cr, d.width, any_exact); break;
        default: put_colour_line<4>(line, layout, luma, rows, cb, cr, d.width, any_exact); break;
      }
    }
    if (progress_monitor) {
      const int done = y + unit_h < d.height ? y + unit_h : d.height;
      progress_monitor(progress_monitor_data, done, d.height);
    }
  }
  return true;
}

// Segments are looked for only this far into a file. The scan header,
// the last thing read, then ends within HEADER_BYTES.
constexpr std::ptrdiff_t HEADER_SCAN = 10000;
constexpr std::size_t HEADER_BYTES = HEADER_SCAN + 64;

// Header scan up to the start of the entropy-coded data. 0 when the picture
// can be decoded.
int read_headers(Jpg_Decoder &d) {
  while (!(d.flags & JPG_SOS) && d.pos - d.start <= HEADER_SCAN) {
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
        // A second frame header would replace the size of the first.
        if (d.flags & JPG_SOF) return 1;
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
        d.restart_interval = read16(code + 3);
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
  if (static_cast<std::uint64_t>(d.width) * static_cast<std::uint64_t>(d.height) > MAX_PICTURE_PIXELS) return 1;
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
  d.components = code[8];
  d.pos = code + 9;
  if ((d.components != 1 && d.components != 3) || !has(d, 3 * d.components)) return 1;
  for (int i = 0; i < d.components; ++i, d.pos += 3) {
    const int h = d.pos[1] >> 4, v = d.pos[1] & 15, quant = d.pos[2];
    // Components are numbered 1, 2, 3 in order; only two quantisation
    // tables are kept.
    if (d.pos[0] != i + 1 || h < 1 || h > 4 || v < 1 || v > 4 || quant > 1) return 1;
    if (i == 0) {
      d.luma_h = h;
      d.luma_v = v;
      d.luma_quant = quant;
    } else if (h != 1 || v != 1 || (i == 2 && quant != d.chroma_quant)) {
      return 1;  // Cb and Cr are placed and dequantised alike, once per unit
    } else {
      d.chroma_quant = quant;
    }
  }
  // A unit holds at most ten blocks.
  return d.components == 3 && d.luma_h * d.luma_v > 8;
}

namespace {

void build_fast_values(Jpg_Huffman_Table &t) {
  constexpr int BITS = Jpg_Huffman_Table::JPG_FAST_BITS;
  for (int i = 0; i < (1 << BITS); ++i) {
    const int e = t.fast[i];
    const int len = e >> 8, symbol = e & 0xFF, size = symbol & 15;
    if (e == 0 || len + size > BITS) continue;
    int value = 0;
    if (size > 0) {
      value = (i >> (BITS - len - size)) & ((1 << size) - 1);
      if (value < (1 << (size - 1))) value += 1 - (1 << size);
    }
    t.fast_value[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 16) |
                      (symbol << 8) | (len + size);
  }
}

}  // namespace

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
    build_fast_values(t);
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
  // The frame's components all come in this one scan: the blocks of a scan
  // of its own per component are not kept for the next.
  const int count = d.pos[3];
  if (count != d.components) return 1;
  d.pos += 4;
  for (int i = 0; i < count; ++i) {
    if (!has(d, 2)) return 1;
    const int dc = d.pos[1] >> 4, ac = d.pos[1] & 15;
    // Only two tables of each class are kept.
    if (d.pos[0] != i + 1 || dc > 1 || ac > 1) return 1;
    if (i == 0) {
      d.luma_dc = dc;
      d.luma_ac = ac;
    } else if (i == 2 && (dc != d.chroma_dc || ac != d.chroma_ac)) {
      return 1;  // Cb and Cr share their tables
    } else {
      d.chroma_dc = dc;
      d.chroma_ac = ac;
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

namespace {

// Tops the reader up; true at the fill bits before a restart marker (only
// one bits left before it), where a decode gives -2.
inline bool at_fill_bits(Jpg_Decoder &d) {
  if (d.bit_count >= 16) return false;
  fill(d);
  return d.blocked && d.bit_count < 8 &&
         (d.bit_count == 0 || (d.bits >> (64 - d.bit_count)) == (std::uint64_t{1} << d.bit_count) - 1);
}

inline int lookup_symbol(Jpg_Decoder &d, const Jpg_Huffman_Table &t) {
  const std::uint16_t e = t.fast[d.bits >> (64 - Jpg_Huffman_Table::JPG_FAST_BITS)];
  const int len = e >> 8;
  if (e != 0 && len <= d.bit_count) {
    consume(d, len);
    return e & 0xFF;
  }
  return huffman_decode_slow(d, t);
}

inline int decode_symbol(Jpg_Decoder &d, const Jpg_Huffman_Table &t) {
  if (at_fill_bits(d)) return -2;
  return lookup_symbol(d, t);
}

// A symbol and the value that follows it. False when the code did not
// match; symbol -2 at the fill bits before a restart marker.
[[gnu::always_inline]] inline bool decode_symbol_value(Jpg_Decoder &d, const Jpg_Huffman_Table &t, int &symbol, int &value) {
  if (at_fill_bits(d)) {
    symbol = -2;
    value = 0;
    return true;
  }
  const std::int32_t e = t.fast_value[d.bits >> (64 - Jpg_Huffman_Table::JPG_FAST_BITS)];
  const int used = e & 0xFF;
  if (used != 0 && used <= d.bit_count) {
    consume(d, used);
    symbol = (e >> 8) & 0xFF;
    value = e >> 16;
    return true;
  }
  symbol = lookup_symbol(d, t);
  if (symbol < 0) return false;
  value = receive_extend(d, symbol & 15);
  return true;
}

// The mark of a block whose Huffman code did not match.
template <typename T>
int put_x(T *out, int stride) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) out[r * stride + c] = static_cast<T>((r == c || r == 7 - c) ? 255 : 0);
  return 1;
}

// decode_block with the samples written to out (rows `stride` apart),
// clamped to 0..255 as every user of them clamps anyway. The coefficients
// come in all zero and are left so: only the places written are cleared.
template <typename T>
int decode_block_to(Jpg_Decoder &d, std::int32_t *coefficients, int dc_table, int ac_table,
                    int quant_table, std::int32_t *prediction, T *out, int stride) {
  std::int32_t *block = coefficients;
  std::uint8_t written[64];
  int count = 0;
  const auto clear = [&] {
    block[0] = 0;
    for (int i = 0; i < count; ++i) block[written[i]] = 0;
  };
  // A DC code that does not match makes an X like an AC one; at the fill
  // bits before a restart marker the block stays flat rather than reading
  // through the marker.
  int dc_symbol, diff;
  if (!decode_symbol_value(d, d.huffman[dc_table & 1], dc_symbol, diff)) return put_x(out, stride);
  *prediction = static_cast<std::int32_t>(static_cast<std::uint32_t>(*prediction) +
                                          static_cast<std::uint32_t>(diff));
  const std::int32_t *quant = d.quant[quant_table & 1];
  block[0] = dequantise(*prediction, quant[0]);
  const Jpg_Huffman_Table &ac = d.huffman[2 + (ac_table & 1)];
  bool ac_zero = true;
  for (int k = 1; k < 64;) {
    int symbol, value;
    if (!decode_symbol_value(d, ac, symbol, value)) {
      clear();
      return put_x(out, stride);
    }
    if (symbol == -2 || symbol == 0x00) break;  // end of block
    // A run of 15 with no value (0xF0) passes over 16 zeros like this too.
    k += symbol >> 4;
    if (k > 63) break;
    if (value != 0) {
      const int at = natural.at[k];
      block[at] = value * quant[at];  // |value| < 2^15, quant < 2^8
      written[count++] = static_cast<std::uint8_t>(at);
      ac_zero = false;
    }
    ++k;
  }
  idct_dequantised<true>(block, ac_zero, out, stride);
  clear();
  return 0;
}

}  // namespace

int huffman_decode(Jpg_Decoder &d, const Jpg_Huffman_Table &t) { return decode_symbol(d, t); }

int decode_block(Jpg_Decoder &d, std::int32_t *block, int dc_table, int ac_table, int quant_table,
                 std::int32_t *prediction) {
  std::int32_t coefficients[64] = {};
  return decode_block_to(d, coefficients, dc_table, ac_table, quant_table, prediction, block, 8);
}

void do_idct(std::int32_t *block, const std::int32_t *quant) {
  bool ac_zero = true;
  for (int i = 0; i < 64; ++i) {
    block[i] = dequantise(block[i], quant[i]);
    if (i > 0 && block[i] != 0) ac_zero = false;
  }
  idct_dequantised<false>(block, ac_zero, block, 8);
}

namespace {

// The decoder with the header of data read; null when the picture is refused.
Jpg_Decoder *read_header_of(const void *data, std::size_t size) {
  Jpg_Decoder *d = static_cast<Jpg_Decoder *>(std::calloc(1, sizeof(Jpg_Decoder)));
  if (!d) return nullptr;
  d->start = d->pos = static_cast<const std::uint8_t *>(data);
  d->end = d->start + size;
  if (read_headers(*d) == 0) return d;
  std::free(d);
  return nullptr;
}

// The most bytes a file of the picture whose header d has read can take:
// the header, then per block a DC code and value of at most 16 + 11 bits
// and 63 AC ones of at most 16 + 10 bits (209 bytes), each byte doubled by
// stuffing at worst, and per unit a restart marker after its fill bits,
// then the end marker. The decoder never looks further.
std::uint64_t largest_file(const Jpg_Decoder &d) {
  const int unit_w = 8 * (d.components == 3 ? d.luma_h : 1), unit_h = 8 * (d.components == 3 ? d.luma_v : 1);
  const std::uint64_t units = static_cast<std::uint64_t>((d.width + unit_w - 1) / unit_w) *
                              static_cast<std::uint64_t>((d.height + unit_h - 1) / unit_h);
  const int blocks = d.components == 3 ? d.luma_h * d.luma_v + 2 : 1;
  return static_cast<std::uint64_t>(d.pos - d.start) + units * (blocks * 2 * 209 + 3) + 2;
}

}  // namespace

BITMAP *load_memory_jpg(const void *data, std::size_t size, RGB *pal) {
  if (!data || size == 0) return nullptr;
  Jpg_Decoder *d = read_header_of(data, size);
  BITMAP *bmp = nullptr;
  if (d) {
    bmp = create_bitmap_ex(24, d->width, d->height);
    if (bmp && !decode_scan(*d, bmp)) {
      destroy_bitmap(bmp);
      bmp = nullptr;
    }
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
  PACKFILE *f = pack_fopen(filename, F_READ);
  if (!f) return nullptr;
  // The header is read and checked first: a file that is no picture this
  // loader shows, or is larger than its picture can need, costs no more
  // than its first bytes.
  std::size_t got = 0;
  std::uint8_t *buffer = static_cast<std::uint8_t *>(std::malloc(HEADER_BYTES));
  if (buffer) got = static_cast<std::size_t>(std::max(0L, pack_fread(buffer, HEADER_BYTES, f)));
  Jpg_Decoder *d = got > 0 ? read_header_of(buffer, got) : nullptr;
  bool wanted = d && size <= largest_file(*d);
  std::free(d);
  if (wanted && size > got) {
    std::uint8_t *whole = static_cast<std::uint8_t *>(std::realloc(buffer, size));
    wanted = whole != nullptr;
    if (whole) {
      buffer = whole;
      // Decode only what was really read: a file that shrank meanwhile must
      // not expose unread memory.
      got += static_cast<std::size_t>(std::max(0L, pack_fread(buffer + got, static_cast<long>(size - got), f)));
    }
  }
  pack_fclose(f);
  BITMAP *bmp = wanted ? load_memory_jpg(buffer, got, pal) : nullptr;
  std::free(buffer);
  return bmp;
}
