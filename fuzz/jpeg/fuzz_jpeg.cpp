// Arbitrary bytes through the JPEG loader: it must never crash nor read or
// write outside the data, its tables or the bitmap.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "support/jpeg.h"

namespace {

int rows_reported = 0;

void count_rows(void *, int rows, int height) {
  if (rows < 0 || rows > height) std::abort();
  ++rows_reported;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(24);
    jpg_register_progress_monitor(nullptr, count_rows);
    return true;
  }();
  (void)ready;
  if (size > (1u << 20)) return 0;
  BITMAP *bmp = load_memory_jpg(data, size, nullptr);
  if (bmp) destroy_bitmap(bmp);
  return 0;
}
