// The JPEG loader against libjpeg: pictures are encoded from known pixels
// with libjpeg and our decoding is compared with libjpeg's own.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "support/jpeg.h"
#include "tests/support/jpeg_encode.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Picture : Jpeg_Options {
  int width = 64, height = 48;
  int components = 3;
};

// Smooth shading with some edges, so that blocks carry AC coefficients.
unsigned char sample(int x, int y, int channel) {
  const int base = channel == 0 ? x * 5 + y * 2 : channel == 1 ? 255 - y * 4 + x : x * y / 3;
  const int edge = ((x / 5 + y / 7) % 3 == 0) ? 60 : 0;
  return static_cast<unsigned char>((base + edge) & 255);
}

Bytes encode(const Picture &p) {
  Bytes pixels(static_cast<std::size_t>(p.width) * p.height * p.components);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      for (int ch = 0; ch < p.components; ++ch)
        pixels[(static_cast<std::size_t>(y) * p.width + x) * p.components + ch] = sample(x, y, ch);
  return encode_jpeg(pixels.data(), p.width, p.height, p.components, p);
}

// libjpeg's decoding: accurate integer transform, plain upsampling, RGB out.
Bytes reference(const Bytes &file, int &width, int &height) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  jpeg_read_header(&d, TRUE);
  d.dct_method = JDCT_ISLOW;
  d.do_fancy_upsampling = FALSE;
  d.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d);
  width = d.output_width;
  height = d.output_height;
  Bytes pixels(static_cast<std::size_t>(width) * height * 3);
  while (d.output_scanline < d.output_height) {
    JSAMPROW rows[1] = {pixels.data() + static_cast<std::size_t>(d.output_scanline) * width * 3};
    jpeg_read_scanlines(&d, rows, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return pixels;
}

BITMAP *load(const Bytes &file, RGB *pal = nullptr) { return load_memory_jpg(file.data(), file.size(), pal); }

// Largest difference per channel between bmp and libjpeg's decoding of file,
// over the rows [from, to).
int largest_difference(BITMAP *bmp, const Bytes &file, int from = 0, int to = -1) {
  int w = 0, h = 0;
  const Bytes want = reference(file, w, h);
  EXPECT_EQ(bmp->w, w);
  EXPECT_EQ(bmp->h, h);
  if (to < 0) to = h;
  int worst = 0;
  for (int y = from; y < to; ++y)
    for (int x = 0; x < w; ++x) {
      const int c = getpixel(bmp, x, y);
      const unsigned char *r = &want[(static_cast<std::size_t>(y) * w + x) * 3];
      worst = std::max({worst, std::abs(getr24(c) - r[0]), std::abs(getg24(c) - r[1]),
                        std::abs(getb24(c) - r[2])});
    }
  return worst;
}

// Offset of the first segment with the given marker code, or -1.
long find_marker(const Bytes &file, int code) {
  std::size_t i = 2;
  while (i + 3 < file.size() && file[i] == 0xFF) {
    if (file[i + 1] == code) return static_cast<long>(i);
    if (file[i + 1] == 0xDA) return -1;
    i += 2 + ((file[i + 2] << 8) | file[i + 3]);
  }
  return -1;
}

class Jpeg : public ::testing::Test {
 protected:
  void SetUp() override {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(24);  // keep the loader's own 24-bit bitmap
  }
};

// ---- decoding like libjpeg ------------------------------------------------

struct Layout_Case {
  const char *name;
  Picture picture;
};

void PrintTo(const Layout_Case &c, std::ostream *out) { *out << c.name; }

class Jpeg_Layout : public Jpeg, public ::testing::WithParamInterface<Layout_Case> {};

TEST_P(Jpeg_Layout, MatchesLibjpegWithinOne) {
  const Bytes file = encode(GetParam().picture);
  BITMAP *bmp = load(file);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bitmap_color_depth(bmp), 24);
  // Grey samples come from the very transform libjpeg uses; only the colour
  // conversion (which libjpeg rounds where we cut) may differ, by one.
  EXPECT_LE(largest_difference(bmp, file), GetParam().picture.components == 1 ? 0 : 1);
  destroy_bitmap(bmp);
}

Picture picture(int w, int h, int components, int hs, int vs, bool restart = false) {
  Picture p;
  p.width = w;
  p.height = h;
  p.components = components;
  p.h_samp = hs;
  p.v_samp = vs;
  p.restart_each_row = restart;
  return p;
}

Picture restarting(Picture p, int units) {
  p.restart_units = units;
  return p;
}

Picture tuned(Picture p, int quality, bool optimise) {
  p.quality = quality;
  p.optimise = optimise;
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Jpeg_Layout,
    ::testing::Values(
        Layout_Case{"Grey", picture(64, 48, 1, 1, 1)},
        Layout_Case{"GreyOddSize", picture(61, 35, 1, 1, 1)},
        Layout_Case{"Colour444", picture(64, 48, 3, 1, 1)},
        Layout_Case{"Colour444OddSize", picture(45, 23, 3, 1, 1)},
        Layout_Case{"Colour2x1", picture(64, 48, 3, 2, 1)},
        Layout_Case{"Colour2x1OddSize", picture(53, 19, 3, 2, 1)},
        Layout_Case{"Colour2x2", picture(64, 48, 3, 2, 2)},
        Layout_Case{"Colour2x2OddSize", picture(71, 41, 3, 2, 2)},
        Layout_Case{"Colour1x2OddSize", picture(45, 37, 3, 1, 2)},
        Layout_Case{"Colour4x1OddSize", picture(75, 19, 3, 4, 1)},
        Layout_Case{"Colour1x4OddSize", picture(29, 70, 3, 1, 4)},
        Layout_Case{"Colour4x2OddSize", picture(83, 35, 3, 4, 2)},
        Layout_Case{"Colour3x1OddSize", picture(61, 21, 3, 3, 1)},
        Layout_Case{"Colour2x3OddSize", picture(37, 53, 3, 2, 3)},
        Layout_Case{"OnePixel", picture(1, 1, 3, 2, 2)},
        Layout_Case{"GreyRestartEachRow", picture(61, 35, 1, 1, 1, true)},
        Layout_Case{"Colour444RestartEachRow", picture(45, 23, 3, 1, 1, true)},
        Layout_Case{"Colour2x1RestartEachRow", picture(53, 19, 3, 2, 1, true)},
        Layout_Case{"Colour2x2RestartEachRow", picture(150, 70, 3, 2, 2, true)},
        Layout_Case{"GreyRestartEvery5Units", restarting(picture(61, 35, 1, 1, 1), 5)},
        Layout_Case{"Colour2x2RestartEvery2Units", restarting(picture(150, 70, 3, 2, 2), 2)},
        Layout_Case{"Colour1x2RestartEvery3Units", restarting(picture(53, 40, 3, 1, 2), 3)},
        Layout_Case{"OptimisedTablesBestQuality", tuned(picture(80, 64, 3, 2, 2), 100, true)},
        Layout_Case{"OptimisedTablesLowQuality", tuned(picture(80, 64, 3, 2, 1), 5, true)},
        Layout_Case{"StandardTablesBestQuality", tuned(picture(80, 64, 1, 1, 1), 100, false)}),
    [](const ::testing::TestParamInfo<Layout_Case> &info) { return std::string(info.param.name); });

TEST_F(Jpeg, FileLoadsLikeMemoryAndFillsThe332Palette) {
  const Bytes file = encode(picture(400, 300, 3, 2, 2));
  const std::string path = std::string(MARVO_BINARY_DIR) + "/test_jpeg_" + std::to_string(getpid()) + ".jpg";
  FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  PALETTE pal, want;
  std::memset(pal, 0x3F, sizeof pal);
  BITMAP *bmp = load_jpg(path.c_str(), pal);
  f = std::fopen(path.c_str(), "r+b");  // past what its picture can take
  std::fseek(f, 4 << 20, SEEK_END);
  std::fputc(0, f);
  std::fclose(f);
  EXPECT_EQ(load_jpg(path.c_str(), nullptr), nullptr) << "padded to 4 MiB";
  std::remove(path.c_str());
  ASSERT_NE(bmp, nullptr);
  EXPECT_LE(largest_difference(bmp, file), 2);
  generate_332_palette(want);
  for (int i = 0; i < PAL_SIZE; ++i) {
    EXPECT_EQ(pal[i].r, want[i].r) << i;
    EXPECT_EQ(pal[i].g, want[i].g) << i;
    EXPECT_EQ(pal[i].b, want[i].b) << i;
  }
  destroy_bitmap(bmp);
  EXPECT_EQ(load_jpg(path.c_str(), nullptr), nullptr);  // gone
}

TEST_F(Jpeg, ConvertsToTheRequestedColourDepth) {
  set_color_depth(16);
  set_color_conversion(COLORCONV_TOTAL);
  const Bytes file = encode(picture(24, 16, 3, 1, 1));
  BITMAP *bmp = load(file);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bitmap_color_depth(bmp), 16);
  destroy_bitmap(bmp);
}

// ---- rejected files -------------------------------------------------------

TEST_F(Jpeg, RejectsWhatABaselineJfifFileDoesNotCarry) {
  Picture exif = picture(16, 16, 3, 1, 1);
  exif.app1 = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42};
  EXPECT_EQ(load(encode(exif)), nullptr) << "APP1";

  Picture progressive = picture(16, 16, 3, 1, 1);
  progressive.progressive = true;
  EXPECT_EQ(load(encode(progressive)), nullptr) << "SOF2";

  Bytes rst = encode(picture(16, 16, 3, 1, 1));
  const long sos = find_marker(rst, 0xDA);
  ASSERT_GT(sos, 0);
  const unsigned char marker[] = {0xFF, 0xD0};
  rst.insert(rst.begin() + sos, marker, marker + 2);
  EXPECT_EQ(load(rst), nullptr) << "RST before the scan";

  Picture no_jfif = picture(16, 16, 1, 1, 1);
  no_jfif.jfif = false;
  EXPECT_EQ(load(encode(no_jfif)), nullptr) << "no APP0";

  EXPECT_EQ(load(Bytes{}), nullptr) << "empty";
  EXPECT_EQ(load_jpg("/nonexistent/picture.jpg", nullptr), nullptr);
}

// Patches one byte of a segment (offset counted from its 0xFF) and expects
// the file to be refused.
void expect_rejected_with(int marker, int offset, unsigned char value, const char *what) {
  Bytes file = encode(picture(16, 16, 3, 2, 2));
  const long at = find_marker(file, marker);
  ASSERT_GT(at, 0) << what;
  file[at + offset] = value;
  BITMAP *bmp = load(file);
  EXPECT_EQ(bmp, nullptr) << what;
  if (bmp) destroy_bitmap(bmp);
}

TEST_F(Jpeg, RejectsBadHeaderFields) {
  expect_rejected_with(0xE0, 9, 2, "JFIF major version 2");
  expect_rejected_with(0xE0, 4, 'X', "not JFIF");
  expect_rejected_with(0xC0, 4, 12, "12-bit precision");
  expect_rejected_with(0xDB, 4, 0x10, "16-bit quantisation table");
  expect_rejected_with(0xDB, 4, 0x02, "quantisation table 2");
  expect_rejected_with(0xC0, 12, 2, "component 1 names quantisation table 2");
  expect_rejected_with(0xC0, 5, 0x50, "height above 16384");
  expect_rejected_with(0xDA, 4, 2, "scan of 2 components");
  expect_rejected_with(0xDA, 5, 4, "scan component id 4");
  expect_rejected_with(0xDA, 6, 0x20, "DC table 2");
  expect_rejected_with(0xDA, 6, 0x02, "AC table 2");
  expect_rejected_with(0xDA, 4, 1, "colour frame, luma scanned alone");
  expect_rejected_with(0xC0, 14, 0x21, "Cb sampled 2x1");
  expect_rejected_with(0xC0, 18, 0, "Cr quantised unlike Cb");
  expect_rejected_with(0xDA, 10, 0x00, "Cr coded unlike Cb");
}

// Sets the size that the SOF segment at `sof` declares.
void declare_size(Bytes &file, long sof, int width, int height) {
  file[sof + 5] = static_cast<unsigned char>(height >> 8);
  file[sof + 6] = static_cast<unsigned char>(height);
  file[sof + 7] = static_cast<unsigned char>(width >> 8);
  file[sof + 8] = static_cast<unsigned char>(width);
}

TEST_F(Jpeg, RefusesZeroAndOversizedDimensions) {
  for (int side : {0, 16385, 65535}) {
    Bytes file = encode(picture(16, 16, 1, 1, 1));
    const long sof = find_marker(file, 0xC0);
    file[sof + 5] = static_cast<unsigned char>(side >> 8);
    file[sof + 6] = static_cast<unsigned char>(side);
    EXPECT_EQ(load(file), nullptr) << side;
  }
  // More pixels than any screen shot needs are refused before the bitmap is
  // made; 4096 x 4096 is the most that loads.
  const struct {
    int width, height;
    bool loads;
  } sizes[] = {{4097, 4096, false}, {4096, 4097, false}, {16384, 16384, false},
               {16384, 1024, true}, {4096, 4096, true}};
  for (const auto &size : sizes) {
    Bytes file = encode(picture(16, 16, 3, 1, 1));
    declare_size(file, find_marker(file, 0xC0), size.width, size.height);
    BITMAP *bmp = load(file);
    EXPECT_EQ(bmp != nullptr, size.loads) << size.width << " x " << size.height;
    if (bmp) destroy_bitmap(bmp);
  }
}

// A picture has one frame header. A second one would otherwise replace the
// size of the first, which callers may have checked already.
TEST_F(Jpeg, RefusesASecondFrameHeader) {
  const Bytes file = encode(picture(64, 48, 3, 2, 2));
  const long sof = find_marker(file, 0xC0);
  ASSERT_GT(sof, 0);
  const Bytes segment(file.begin() + sof, file.begin() + sof + 2 + ((file[sof + 2] << 8) | file[sof + 3]));
  for (const int side : {48, 16384}) {
    Bytes twice = file;
    Bytes second = segment;
    declare_size(second, 0, side, side);
    twice.insert(twice.begin() + sof + static_cast<long>(segment.size()), second.begin(), second.end());
    BITMAP *bmp = load(twice);
    EXPECT_EQ(bmp, nullptr) << "second SOF of " << side << " x " << side;
    if (bmp) destroy_bitmap(bmp);
  }
}

// ---- damaged scans ----------------------------------------------------------

// Offsets of the restart markers in the scan of file.
std::vector<std::size_t> restart_markers(const Bytes &file) {
  std::vector<std::size_t> markers;
  for (std::size_t i = static_cast<std::size_t>(find_marker(file, 0xDA)); i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] >= 0xD0 && file[i + 1] <= 0xD7) markers.push_back(i);
  return markers;
}

TEST_F(Jpeg, CorruptBlockShowsAnXAndLaterRowsStillDecode) {
  Picture p = picture(64, 40, 1, 1, 1, true);
  const Bytes good = encode(p);
  Bytes bad = good;
  // Row of units 2 lies between the second and third restart markers; fill
  // its middle with one bits, which no code of libjpeg's tables matches.
  const std::vector<std::size_t> markers = restart_markers(good);
  ASSERT_GE(markers.size(), 3u);
  const std::size_t from = markers[1] + 2, to = markers[2];
  ASSERT_GT(to - from, 24u);
  for (std::size_t i = from + (to - from) / 2 - 10, n = 0; n < 10; ++n, i += 2) {
    bad[i] = 0xFF;
    bad[i + 1] = 0x00;
  }
  BITMAP *bmp = load(bad);
  ASSERT_NE(bmp, nullptr);
  bool found = false;
  for (int bx = 0; bx < 64 && !found; bx += 8) {
    bool x_shape = true;
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) {
        const int want = (r == c || r == 7 - c) ? 255 : 0;
        x_shape = x_shape && getr24(getpixel(bmp, bx + c, 16 + r)) == want;
      }
    found = x_shape;
  }
  EXPECT_TRUE(found) << "no X in row of units 2";
  EXPECT_LE(largest_difference(bmp, good, 0, 16), 2);
  EXPECT_LE(largest_difference(bmp, good, 24, 40), 2);
  destroy_bitmap(bmp);
}

// A row of units whose data was cut short runs into the restart marker that
// ends it; the reader must stop there, so that the rows below are decoded
// from their own data and stay in place.
TEST_F(Jpeg, ARowCutShortDoesNotShiftTheRowsBelow) {
  Picture p = picture(64, 40, 1, 1, 1, true);
  const Bytes good = encode(p);
  const std::vector<std::size_t> markers = restart_markers(good);
  ASSERT_GE(markers.size(), 3u);
  // Row of units 2 lies between the second and third markers: keep only
  // the first bytes of its data, every count of them in turn.
  const std::size_t from = markers[1] + 2, to = markers[2];
  ASSERT_GT(to - from, 24u);
  for (std::size_t keep = 1; keep < to - from; ++keep) {
    Bytes bad = good;
    bad.erase(bad.begin() + static_cast<long>(from + keep), bad.begin() + static_cast<long>(to));
    BITMAP *bmp = load(bad);
    ASSERT_NE(bmp, nullptr);
    EXPECT_LE(largest_difference(bmp, good, 0, 16), 2) << keep;
    EXPECT_LE(largest_difference(bmp, good, 24, 40), 2) << keep << " of " << to - from << " bytes kept";
    destroy_bitmap(bmp);
  }
}

TEST_F(Jpeg, TruncatedFilesNeverReadPastTheData) {
  const Bytes file = encode(picture(48, 32, 3, 2, 2));
  const long scan = find_marker(file, 0xDA);
  for (std::size_t n = 1; n < file.size(); ++n) {
    // An exact-size copy lets the sanitizer build catch any read past it.
    std::vector<unsigned char> cut(file.begin(), file.begin() + n);
    BITMAP *bmp = load_memory_jpg(cut.data(), n, nullptr);
    if (static_cast<long>(n) <= scan + 13) {
      EXPECT_EQ(bmp, nullptr) << "header cut at " << n;
    } else {
      ASSERT_NE(bmp, nullptr) << "scan cut at " << n;
      if (n < file.size() / 2) {
        EXPECT_EQ(getpixel(bmp, 47, 31), 0) << "undecoded part is black";
      }
    }
    if (bmp) destroy_bitmap(bmp);
  }
}

// A DHT segment whose counts add up to more than 256 codes.
TEST_F(Jpeg, OverfullHuffmanTableStaysInsideTheTable) {
  Bytes file = encode(picture(16, 16, 1, 1, 1));
  const long dht = find_marker(file, 0xC4);
  Bytes segment = {0xFF, 0xC4, 0, 0, 0x10};
  for (int i = 0; i < 16; ++i) segment.push_back(i < 8 ? 0 : 100);
  for (int i = 0; i < 800; ++i) segment.push_back(static_cast<unsigned char>(i));
  const std::size_t length = segment.size() - 2;
  segment[2] = static_cast<unsigned char>(length >> 8);
  segment[3] = static_cast<unsigned char>(length);
  file.insert(file.begin() + dht, segment.begin(), segment.end());
  BITMAP *bmp = load(file);  // the file's own tables come later and replace it
  ASSERT_NE(bmp, nullptr);
  EXPECT_LE(largest_difference(bmp, encode(picture(16, 16, 1, 1, 1))), 2);
  destroy_bitmap(bmp);
}

// ---- exact arithmetic --------------------------------------------------------

// What one coefficient of frequency u gives at position x in one pass of the
// integer transform, scaled by 2^13, worked out from its butterflies: e.g.
// frequency 1 alone gives 12299 - 7373 + (9633 - 3196) = 11363 at x = 0,
// 9633 at 1, 9633 - 3196 = 6437 at 2 and 9633 - 7373 = 2260 at 3; frequency
// 6 gives 4433 at 0 and 4433 - 15137 = -10704 at 1.
constexpr int idct_gain[8][8] = {
    {8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192},
    {11363, 9633, 6437, 2260, -2260, -6437, -9633, -11363},
    {10703, 4433, -4433, -10703, -10703, -4433, 4433, 10703},
    {9633, -2259, -11362, -6436, 6436, 11362, 2259, -9633},
    {8192, -8192, -8192, 8192, 8192, -8192, -8192, 8192},
    {6437, -11362, 2261, 9633, -9633, -2261, 11362, -6437},
    {4433, -10704, 10704, -4433, -4433, 10704, -10704, 4433},
    {2260, -6436, 9633, -11363, 11363, -9633, 6436, -2260},
};

TEST(Jpeg_Transform, OneCoefficientGivesExactSamples) {
  std::int32_t quant[64];
  std::fill(quant, quant + 64, 1);
  // Only a DC: every sample is 128 + floor((DC x quantisation + 4) / 8).
  const struct {
    int coefficient, quantisation, sample;
  } flat[] = {{1, 3, 128}, {1, 4, 129}, {-1, 4, 128}, {-1, 5, 127}, {-13, 1, 126}, {125, 8, 253}, {-125, 8, 3}};
  for (const auto &f : flat) {
    std::int32_t block[64] = {f.coefficient};
    quant[0] = f.quantisation;
    do_idct(block, quant);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], f.sample) << f.coefficient << " x " << f.quantisation;
  }
  quant[0] = 1;
  // 100 at horizontal frequency 1: every row is 128 + floor((100 x gain +
  // 2^15) / 2^16), e.g. (-226000 + 32768) / 65536 = -2.95 gives 125.
  std::int32_t block[64] = {0, 100};
  do_idct(block, quant);
  const std::vector<int> row = {145, 143, 138, 131, 125, 118, 113, 111};
  for (int y = 0; y < 8; ++y) EXPECT_EQ(std::vector<int>(block + 8 * y, block + 8 * y + 8), row) << y;

  // Every position: the columns give (value x gain + 2^10) >> 11, the rows
  // ((that x gain + 2^17) >> 18) + 128, nothing clamped.
  for (int at = 0; at < 64; ++at) {
    const int fy = at / 8, fx = at % 8;
    for (const int value : {1, -1, 5, -7, 100, -333, 1023, 1024, -3072, 4000, -12345, 29999, -30000}) {
      std::int32_t b[64] = {};
      b[at] = value;
      do_idct(b, quant);
      for (int y = 0; y < 8; ++y) {
        const std::int64_t column = (std::int64_t{value} * idct_gain[fy][y] + 1024) >> 11;
        for (int x = 0; x < 8; ++x)
          ASSERT_EQ(b[y * 8 + x], ((column * idct_gain[fx][x] + 0x20000) >> 18) + 128)
              << "coefficient " << at << " = " << value << ", sample (" << x << ", " << y << ")";
      }
    }
  }
}

// red = Y + 1.402 Cr', green = Y - 0.34414 Cb' - 0.71414 Cr', blue = Y +
// 1.772 Cb', each cut toward zero and then clamped; rounding would give one
// level more in most rows.
struct Ycc_Case {
  int y, cb, cr;
  int red, green, blue;
};
constexpr Ycc_Case ycc_cases[] = {
    {100, 128, 130, 102, 98, 100},   // 102.804, 98.57172
    {100, 130, 128, 100, 99, 103},   // 99.31172, 103.544
    {50, 100, 200, 150, 8, 0},       // 150.944, 8.21784, 0.384
    {200, 60, 90, 146, 250, 79},     // 146.724, 250.53884, 79.504
    {250, 200, 20, 98, 255, 255},    // 98.584, 302.34904, 377.584
    {77, 141, 117, 61, 80, 100},     // 61.578, 80.38172, 100.036
    {255, 255, 255, 255, 120, 255},  // 433.054, 120.59844, 480.044
    {0, 0, 0, 0, 135, 0},            // -179.456, 135.45984, -226.816
    {128, 228, 28, 0, 165, 255},     // -12.2, 165, 305.2
    // Green is 63, but in double precision the sum comes to just below it.
    {100, 28, 228, 240, 62, 0},
};

// The pixel at (x, y) as red, green, blue.
std::vector<int> rgb_at(BITMAP *bmp, int x, int y) {
  const int c = getpixel(bmp, x, y);
  return {getr24(c), getg24(c), getb24(c)};
}

TEST_F(Jpeg, ColourConversionCutsTowardZeroInEveryLayout) {
  const int n = static_cast<int>(std::size(ycc_cases));
  for (const auto &[hs, vs] : {std::pair{1, 1}, {2, 1}, {2, 2}}) {
    const int unit_w = 8 * hs, unit_h = 8 * vs;
    std::vector<int> samples;
    for (const Ycc_Case &c : ycc_cases) {
      samples.insert(samples.end(), static_cast<std::size_t>(hs * vs), c.y);
      samples.insert(samples.end(), {c.cb, c.cr});
    }
    BITMAP *bmp = load(encode_flat_jpeg(n * unit_w, unit_h, 3, hs, vs, samples));
    ASSERT_NE(bmp, nullptr);
    for (int i = 0; i < n; ++i) {
      const Ycc_Case &c = ycc_cases[i];
      const std::vector<int> want = {c.red, c.green, c.blue};
      for (int y = 0; y < unit_h; ++y)
        for (int x = i * unit_w; x < (i + 1) * unit_w; ++x)
          ASSERT_EQ(rgb_at(bmp, x, y), want)
              << hs << "x" << vs << " Y " << c.y << " Cb " << c.cb << " Cr " << c.cr;
    }
    destroy_bitmap(bmp);
  }
}

// A unit's luma blocks lie in rows of the horizontal factor, as many rows
// as the vertical one; factors that give a unit of more than ten blocks, or
// none, are refused.
TEST_F(Jpeg, LumaBlocksArePlacedByTheirFactors) {
  for (const auto &[hs, vs] : {std::pair{1, 2}, {2, 1}, {4, 1}, {2, 2}, {1, 4}, {3, 1}, {2, 3}, {4, 2}}) {
    const int blocks = hs * vs, across = hs, down = vs;
    // Two rows of two units; each block its own grey, the chroma neutral.
    std::vector<int> samples;
    for (int unit = 0; unit < 4; ++unit) {
      for (int b = 0; b < blocks; ++b) samples.push_back(10 + 7 * (unit * blocks + b));
      samples.insert(samples.end(), {128, 128});
    }
    const Bytes file = encode_flat_jpeg(2 * 8 * across, 2 * 8 * down, 3, hs, vs, samples);
    BITMAP *bmp = load(file);
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(largest_difference(bmp, file), 0) << hs << "x" << vs;
    for (int y = 0; y < bmp->h; ++y)
      for (int x = 0; x < bmp->w; ++x) {
        const int unit = (y / (8 * down)) * 2 + x / (8 * across);
        const int b = (y / 8 % down) * across + x / 8 % across;
        const int grey = 10 + 7 * (unit * blocks + b);
        ASSERT_EQ(rgb_at(bmp, x, y), (std::vector<int>{grey, grey, grey}))
            << hs << "x" << vs << " at " << x << ", " << y;
      }
    destroy_bitmap(bmp);
  }
  for (const auto &[hs, vs] : {std::pair{3, 3}, {0, 2}}) {
    BITMAP *bmp = load(encode_flat_jpeg(24, 16, 3, hs, vs, std::vector<int>(20, 200)));
    EXPECT_EQ(bmp, nullptr) << hs << "x" << vs;
    if (bmp) destroy_bitmap(bmp);
  }
}

// ---- Huffman decoding -------------------------------------------------------

// The plain search: one bit more per length, first entry of that length
// whose code equals the bits read.
int search(const Jpg_Huffman_Table &t, const Bytes &data, std::size_t &bit) {
  int code = 0;
  for (int len = 1; len <= 16; ++len) {
    code = (code << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1);
    ++bit;
    for (int i = 0; i < 256; ++i) {
      const Jpg_Huffman_Entry &e = t.entry[i];
      if (e.length < len) continue;
      if (e.length > len) break;
      if (e.code == code) return e.value;
    }
  }
  return -1;
}

TEST(Jpeg_Huffman, LookupGivesTheSameSymbolsAsTheSearch) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    // Random counts, sometimes more codes than lengths can hold.
    Bytes dht = {0xC4, 0, 0, static_cast<unsigned char>(round & 1 ? 0x11 : 0x00)};
    std::size_t total = 0;
    for (int len = 1; len <= 16; ++len) {
      const int most = round % 5 == 0 ? 40 : (len < 4 ? 2 : 12);
      const int n = static_cast<int>(random() % (most + 1));
      dht.push_back(static_cast<unsigned char>(n));
      total += n;
    }
    for (std::size_t i = 0; i < total; ++i) dht.push_back(static_cast<unsigned char>(random()));
    dht[1] = static_cast<unsigned char>((dht.size() - 1) >> 8);
    dht[2] = static_cast<unsigned char>(dht.size() - 1);

    Bytes data(400);
    for (auto &b : data) b = static_cast<unsigned char>(random() % 0xFF);  // no stuffing
    data.push_back(0x55);  // ensure 16 bits of look-ahead for the last symbols

    Jpg_Decoder d{};
    d.start = d.pos = dht.data();
    d.end = dht.data() + dht.size();
    ASSERT_EQ(read_dht(d), 0);
    const Jpg_Huffman_Table &t = d.huffman[(round & 1) ? 3 : 0];
    d.start = d.pos = data.data();
    d.end = data.data() + data.size();
    jpg_start_bits(d);
    std::size_t bit = 0;
    while (bit < 8 * 398) {
      const int want = search(t, data, bit);
      const int got = huffman_decode(d, t);
      ASSERT_EQ(got, want) << "round " << round << " bit " << bit;
    }
  }
}

// ---- progress ---------------------------------------------------------------

struct Progress_Log {
  std::vector<int> rows;
  int height = -1;
  void *data = nullptr;
};

void record(void *data, int rows, int height) {
  Progress_Log *log = static_cast<Progress_Log *>(data);
  log->rows.push_back(rows);
  log->height = height;
  log->data = data;
}

TEST_F(Jpeg, ProgressIsReportedOncePerRowOfUnitsAndEndsAtTheHeight) {
  Progress_Log log;
  jpg_register_progress_monitor(&log, record);
  BITMAP *bmp = load(encode(picture(40, 37, 3, 2, 2)));
  ASSERT_NE(bmp, nullptr);
  destroy_bitmap(bmp);
  EXPECT_EQ(log.rows, (std::vector<int>{16, 32, 37}));
  EXPECT_EQ(log.height, 37);
  EXPECT_EQ(log.data, &log);

  log.rows.clear();
  bmp = load(encode(picture(40, 17, 1, 1, 1)));
  destroy_bitmap(bmp);
  EXPECT_EQ(log.rows, (std::vector<int>{8, 16, 17}));

  log.rows.clear();
  jpg_register_progress_monitor(&log, nullptr);
  bmp = load(encode(picture(40, 37, 3, 2, 2)));
  ASSERT_NE(bmp, nullptr);
  destroy_bitmap(bmp);
  EXPECT_TRUE(log.rows.empty());
}

}  // namespace
