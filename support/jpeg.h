// Small decoder for baseline JFIF pictures, registered with Allegro as the
// "jpg" bitmap file type. Progress is reported after every row of units so
// that a long decode can keep background work (the music) going.
#ifndef MARVO_SUPPORT_JPEG_H
#define MARVO_SUPPORT_JPEG_H

#include <cstddef>

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

#endif
