#include "views/outline.h"

namespace Outline {

namespace {
// Palette entry that carries the outline colour into the 8-bit mask.
constexpr int OUTLINE_INDEX = 254;
}  // namespace

const Offset outline_offsets[OUTLINE_STAMPS] = {
    {2, 1},  {2, 0},  {2, -1},  {-2, 1}, {-2, 0}, {-2, -1}, {1, 2},
    {0, 2},  {-1, 2}, {1, -2},  {0, -2}, {-1, -2}, {0, 0},
};

int outline_text_height(const FONT* font) { return text_height(font) + 4; }

int outline_text_length(const FONT* font, const std::string& s) {
    return text_length(font, s.c_str()) + 8;
}

void outline_textout(BITMAP* bmp, const FONT* font, const std::string& s, int foreground,
                     int outline) {
    int w = outline_text_length(font, s);
    int h = outline_text_height(font);
    RGB rgb = {static_cast<unsigned char>(getr(outline) / 4),
               static_cast<unsigned char>(getg(outline) / 4),
               static_cast<unsigned char>(getb(outline) / 4), 0};
    set_color(OUTLINE_INDEX, &rgb);
    // The glyphs go once into an 8-bit mask, which is then stamped around
    // the text; 8-bit sprites draw through the palette with 0 transparent.
    BITMAP* mask = create_bitmap_ex(8, w, h);
    if (mask) {
        clear_to_color(mask, 0);
        textout_centre_ex(mask, font, s.c_str(), w / 2, 2, OUTLINE_INDEX, -1);
        for (const Offset& offset : outline_offsets)
            draw_sprite(bmp, mask, offset.dx, offset.dy);
        destroy_bitmap(mask);
    }
    textout_centre_ex(bmp, font, s.c_str(), w / 2, 2, foreground, -1);
}

}  // namespace Outline
