// Makes JPEG files with libjpeg from known pixels, for the loader's tests
// and benchmark.
#ifndef MARVO_TESTS_SUPPORT_JPEG_ENCODE_H
#define MARVO_TESTS_SUPPORT_JPEG_ENCODE_H

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

struct Jpeg_Options {
  int quality = 75;
  int h_samp = 1, v_samp = 1;  // luma sampling; chroma is always 1 x 1
  bool restart_each_row = false;
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

#endif
