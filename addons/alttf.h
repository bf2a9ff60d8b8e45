// TrueType fonts as Allegro fonts, rendered by FreeType 2.
//
// A font loaded here is an ordinary Allegro FONT*: text_length, text_height,
// textout_ex, textout_centre_ex (and the old text_mode/textout calls) and
// destroy_font all work on it, into 8-bit and 15/16/24/32-bit bitmaps, in
// whatever colour the caller passes. The glyphs of Latin-1 (32 to 255) are
// rendered once, when the font is loaded.
//
// Size rule: the size is given in points at 72 dots per inch, so one point
// is one pixel of the em square (a 16-point font has a 16-pixel em). The
// font's height (text_height) is the line box that holds every loaded
// glyph: from the highest glyph top (at least the font's ascender) down to
// the lowest glyph bottom (at least the font's descender). A broken font
// cannot stretch it beyond 8 ems + 64 pixels on either side of the
// baseline: glyphs drawn farther out stay blank.
#ifndef MARVO_ADDONS_ALTTF_H
#define MARVO_ADDONS_ALTTF_H

#include <allegro.h>

// Smoothing modes for load_ttf_font.
constexpr int TTF_SMOOTH_NONE = 0;  // hard, one-bit glyph edges
constexpr int TTF_SMOOTH_FULL = 2;  // antialiased edges blended with what lies under them

// Loads a TrueType (or any FreeType-readable) font file. smooth is
// TTF_SMOOTH_NONE or TTF_SMOOTH_FULL (any other non-zero value smooths too).
// Returns null when the file is missing, unreadable, not a font, or points
// is not positive; never throws. The caller frees the font with destroy_font.
FONT* load_ttf_font(const char* filename, int points, int smooth);

// Prepares antialiased drawing into 8-bit bitmaps: smooth edges are blended
// in RGB and mapped back to the nearest entry of this palette. Until it is
// called (and after antialias_exit), smooth glyphs drawn into 8-bit bitmaps
// come out hard. Calling it again replaces the palette.
void antialias_init(const PALETTE pal);

// Releases what antialias_init prepared. Safe to call without antialias_init.
void antialias_exit();

#endif
