// Decodes baseline 2x2-sampled pictures from memory with our loader,
// jpgalleg and libjpeg-turbo, and prints the times and ratios.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <turbojpeg.h>

#include "support/jpeg.h"
#include "tests/support/jpeg_encode.h"

void jpgalleg_start();
BITMAP *jpgalleg_decode(const void *data, int size);

namespace {

using Bytes = std::vector<unsigned char>;

// Something like a photograph: shading, texture and hard edges.
Bytes make_picture(int width, int height) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  unsigned seed = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      seed = seed * 1103515245u + 12345u;
      const int noise = static_cast<int>((seed >> 16) % 24) - 12;
      const double fx = x / static_cast<double>(width), fy = y / static_cast<double>(height);
      const int edge = ((x / 37 + y / 29) % 4 == 0) ? 70 : 0;
      unsigned char *p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      const int v[3] = {static_cast<int>(128 + 100 * std::sin(fx * 9 + fy * 3)) + noise + edge,
                        static_cast<int>(200 * fy) + noise / 2,
                        static_cast<int>(128 + 90 * std::cos(fx * fy * 20)) + noise - edge};
      for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(std::clamp(v[c], 0, 255));
    }
  Jpeg_Options options;
  options.quality = 85;
  options.h_samp = options.v_samp = 2;
  return encode_jpeg(rgb.data(), width, height, 3, options);
}

double elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

struct Result {
  double ours = 1e30, jpgalleg = 1e30, turbo = 1e30;
};

// Best time of each decoder over several rounds; the three take turns in
// every round so that a busy moment of the machine hits them alike.
Result measure(int width, int height, int rounds) {
  const Bytes file = make_picture(width, height);
  tjhandle tj = tjInitDecompress();
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  Result r;
  for (int i = 0; i < rounds; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    BITMAP *bmp = load_memory_jpg(file.data(), file.size(), nullptr);
    r.ours = std::min(r.ours, elapsed_ms(t0));
    if (!bmp) std::abort();
    destroy_bitmap(bmp);

    t0 = std::chrono::steady_clock::now();
    bmp = jpgalleg_decode(file.data(), static_cast<int>(file.size()));
    r.jpgalleg = std::min(r.jpgalleg, elapsed_ms(t0));
    if (!bmp) std::abort();
    destroy_bitmap(bmp);

    t0 = std::chrono::steady_clock::now();
    if (tjDecompress2(tj, file.data(), file.size(), rgb.data(), width, 0, height, TJPF_RGB, 0) != 0)
      std::abort();
    r.turbo = std::min(r.turbo, elapsed_ms(t0));
  }
  tjDestroy(tj);
  std::printf("%dx%d (%zu bytes): ours %.2f ms, jpgalleg %.2f ms, libjpeg-turbo %.2f ms; "
              "ours/jpgalleg %.2f, ours/turbo %.2f\n",
              width, height, file.size(), r.ours, r.jpgalleg, r.turbo, r.ours / r.jpgalleg,
              r.ours / r.turbo);
  return r;
}

}  // namespace

int main() {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  set_color_depth(24);
  jpgalleg_start();
  measure(640, 480, 60);
  const Result big = measure(1920, 1080, 30);
  std::printf("GOAL jpeg_vs_jpgalleg %.2f <= 1.0\n", big.ours / big.jpgalleg);
  std::printf("GOAL jpeg_vs_turbojpeg %.2f <= 2.5\n", big.ours / big.turbo);
  return 0;
}
