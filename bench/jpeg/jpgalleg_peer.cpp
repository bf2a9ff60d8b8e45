// jpgalleg declares its own load_jpg, so it lives in a unit of its own.
#include <allegro.h>
#include <jpgalleg.h>

void jpgalleg_start() { jpgalleg_init(); }

BITMAP *jpgalleg_decode(const void *data, int size) {
  return load_memory_jpg(const_cast<void *>(data), size, nullptr);
}
