// Text with a two-pixel outline around every glyph.
#ifndef MARVO_VIEWS_OUTLINE_H
#define MARVO_VIEWS_OUTLINE_H

#include <string>

#include <allegro.h>

namespace Outline {

// Offsets at which the outline mask is stamped; the last entry (0, 0)
// closes the table and is stamped too.
struct Offset {
    int dx, dy;
};
constexpr int OUTLINE_STAMPS = 13;
extern const Offset outline_offsets[OUTLINE_STAMPS];

// Height and length of the box that outline_textout fills.
int outline_text_height(const FONT* font);
int outline_text_length(const FONT* font, const std::string& s);

// Draws s with a two-pixel outline into bmp, the box's top-left corner at
// (0, 0). Changes palette entry 254 to the outline colour.
void outline_textout(BITMAP* bmp, const FONT* font, const std::string& s, int foreground,
                     int outline);

}  // namespace Outline

#endif
