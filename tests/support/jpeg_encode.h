// Makes JPEG files with libjpeg from known pixels, for the loader's tests
// and benchmark.
#ifndef MARVO_TESTS_SUPPORT_JPEG_ENCODE_H
#define MARVO_TESTS_SUPPORT_JPEG_ENCODE_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

struct Jpeg_Options {
  int quality = 75;
  int h_samp = 1, v_samp = 1;  // luma sampling; chroma is always 1 x 1
  bool restart_each_row = false;
  int restart_units = 0;  // restart interval in units, when not 0
  bool optimise = false;
  bool progressive = false;
  bool jfif = true;
  std::vector<unsigned char> app1;  // payload of an APP1 segment, when not empty
};

// pixels: width x height samples of `components` (1 grey, 3 RGB) bytes.
inline std::vector<unsigned char> encode_jpeg(const unsigned char *pixels, int width, int height,
                                              int components, const Jpeg_Options &o) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char *out = nullptr;
  unsigned long out_size = 0;
  jpeg_mem_dest(&c, &out, &out_size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, o.quality, TRUE);
  c.write_JFIF_header = o.jfif ? TRUE : FALSE;
  c.optimize_coding = o.optimise ? TRUE : FALSE;
  if (o.restart_each_row) c.restart_in_rows = 1;
  if (o.restart_units) c.restart_interval = static_cast<unsigned>(o.restart_units);
  if (components == 3) {
    c.comp_info[0].h_samp_factor = o.h_samp;
    c.comp_info[0].v_samp_factor = o.v_samp;
    for (int i = 1; i < 3; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  }
  if (o.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  if (!o.app1.empty())
    jpeg_write_marker(&c, JPEG_APP0 + 1, o.app1.data(), static_cast<unsigned>(o.app1.size()));
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<unsigned char *>(pixels) +
                   static_cast<std::size_t>(c.next_scanline) * width * components;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<unsigned char> file(out, out + out_size);
  std::free(out);
  jpeg_destroy_compress(&c);
  return file;
}

// A baseline JFIF file of flat blocks, written by hand where libjpeg cannot
// say what is wanted (sampling layouts it places otherwise). Each block
// carries only its DC coefficient and every quantisation value is 8, so a
// block decodes to the sample given for it exactly. samples: one per block
// in scan order; per unit of a colour picture the luma blocks, then Cb and
// Cr. Component 1 declares the sampling h_samp x v_samp, the chroma ones
// 1 x 1.
inline std::vector<unsigned char> encode_flat_jpeg(int width, int height, int components, int h_samp,
                                                   int v_samp, const std::vector<int> &samples) {
  std::vector<unsigned char> f = {0xFF, 0xD8};
  const auto segment = [&f](unsigned char marker, const std::vector<unsigned char> &body) {
    const std::size_t length = body.size() + 2;
    f.insert(f.end(), {0xFF, marker, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)});
    f.insert(f.end(), body.begin(), body.end());
  };
  segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  std::vector<unsigned char> dqt(65, 8);
  dqt[0] = 0x00;
  segment(0xDB, dqt);
  std::vector<unsigned char> sof = {8, static_cast<unsigned char>(height >> 8), static_cast<unsigned char>(height),
                                    static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(width),
                                    static_cast<unsigned char>(components)};
  for (int c = 1; c <= components; ++c)
    sof.insert(sof.end(), {static_cast<unsigned char>(c),
                           static_cast<unsigned char>(c == 1 ? h_samp << 4 | v_samp : 0x11), 0});
  segment(0xC0, sof);
  // DC sizes 0 to 11 have the four-bit codes 0000 to 1011; the only AC
  // symbol is the end of block, code 0.
  std::vector<unsigned char> dht = {0x00, 0, 0, 0, 12};
  dht.resize(17, 0);
  for (unsigned char size = 0; size < 12; ++size) dht.push_back(size);
  dht.insert(dht.end(), {0x10, 1});
  dht.resize(dht.size() + 15, 0);
  dht.push_back(0x00);
  segment(0xC4, dht);
  std::vector<unsigned char> sos = {static_cast<unsigned char>(components)};
  for (int c = 1; c <= components; ++c) sos.insert(sos.end(), {static_cast<unsigned char>(c), 0x00});
  sos.insert(sos.end(), {0, 63, 0});
  segment(0xDA, sos);

  unsigned byte = 0;
  int filled = 0;
  const auto put = [&](unsigned bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
      byte = byte << 1 | ((bits >> i) & 1);
      if (++filled == 8) {
        f.push_back(static_cast<unsigned char>(byte));
        if (byte == 0xFF) f.push_back(0x00);
        byte = 0;
        filled = 0;
      }
    }
  };
  const std::size_t luma_blocks = static_cast<std::size_t>(h_samp * v_samp);
  const std::size_t per_unit = components == 3 ? luma_blocks + 2 : 1;
  int prediction[3] = {0, 0, 0};
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::size_t k = i % per_unit;
    const int component = components == 1 || k < luma_blocks ? 0 : static_cast<int>(k - luma_blocks) + 1;
    // DC d with quantisation 8 gives the sample 128 + d.
    const int dc = samples[i] - 128, diff = dc - prediction[component];
    prediction[component] = dc;
    int size = 0;
    while ((1 << size) <= std::abs(diff)) ++size;
    put(static_cast<unsigned>(size), 4);
    put(static_cast<unsigned>(diff < 0 ? diff + (1 << size) - 1 : diff), size);
    put(0, 1);  // end of block
  }
  put(0xFF, (8 - filled) % 8);  // fill with one bits
  f.insert(f.end(), {0xFF, 0xD9});
  return f;
}

#endif
