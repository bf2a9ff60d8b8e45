// Writes baseline JFIF pictures with libjpeg (4:2:0), for the screen-shot
// tests and the views benchmark.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace views_test {

// colour(x, y, rgb) fills the three bytes of one pixel.
inline bool write_jpeg(const std::string& file, int w, int h,
                       const std::function<void(int, int, unsigned char*)>& colour, int quality = 90)
{
    std::vector<unsigned char> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            colour(x, y, &rgb[(size_t(y) * w + x) * 3]);
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out)
        return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, out);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[size_t(c.next_scanline) * w * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(out) == 0;
}

}  // namespace views_test
