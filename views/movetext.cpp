#include "views/movetext.h"

#include <algorithm>
#include <cstring>

#include "addons/alttf.h"
#include "views/outline.h"

namespace Marvane {

namespace {

bool colour_machinery_ready = false;

// The outline mask and the antialiased font draw 8-bit pictures through
// the palette; the first text view sets that up for all.
void prepare_colour_machinery() {
    static PALETTE palette;
    static RGB_MAP table;
    generate_332_palette(palette);
    palette[0].r = palette[0].g = palette[0].b = 0;
    set_palette(palette);
    create_rgb_table(&table, palette, nullptr);
    rgb_map = &table;
    antialias_init(palette);
}

int magenta() { return makecol(255, 0, 255); }

// A square of the given side, cleared to magenta, holding bmp turned a
// quarter turn counter-clockwise about its top-right corner, so that text
// reads upward.
BITMAP* rotated_square(BITMAP* bmp, int side) {
    BITMAP* square = create_bitmap(side, side);
    if (!square)
        return nullptr;
    clear_to_color(square, magenta());
    pivot_scaled_sprite(square, bmp, 1, -1, bmp->w, 0, itofix(192), itofix(1));
    return square;
}

}  // namespace

Text_VC::Text_VC(GameEngine::Engine* engine, int width, int height, FONT* font)
    : Movable_Bitmap(engine, width, height),
      contents{},
      icon(nullptr),
      font(font),
      foreground_color(makecol(255, 255, 255)),
      outline_color(makecol(0, 0, 0)),
      extent(0) {
    if (!colour_machinery_ready) {
        colour_machinery_ready = true;
        prepare_colour_machinery();
    }
}

void Text_VC::set_colors(int foreground, int outline) {
    foreground_color = foreground;
    outline_color = outline;
    update_bitmap();
}

void Text_VC::set_contents(const std::string& text, BITMAP* new_icon) {
    icon = new_icon;
    std::strncpy(contents, text.c_str(), CONTENTS_SIZE - 1);
    contents[CONTENTS_SIZE - 1] = '\0';
    int available = extent - (icon ? icon->w : 0);
    while (contents[0] != '\0' && text_length(font, contents) + 4 > available)
        uremove(contents, -1);
    update_bitmap();
}

BITMAP* Text_VC::get_outline_bmp() const {
    std::string text(contents);
    BITMAP* t = create_bitmap(Outline::outline_text_length(font, text), Outline::outline_text_height(font));
    if (!t)
        return nullptr;
    clear_to_color(t, magenta());
    Outline::outline_textout(t, font, text, foreground_color, outline_color);
    return t;
}

HText_VC::HText_VC(GameEngine::Engine* engine, int width, int height, FONT* font)
    : Text_VC(engine, width, height, font) {
    extent = width;
}

BITMAP* Text_VC::begin_redraw() {
    if (!bitmap)
        return nullptr;
    clear_to_color(bitmap, magenta());
    return get_outline_bmp();
}

void HText_VC::update_bitmap() {
    BITMAP* t = begin_redraw();
    if (!t)
        return;
    int left = icon ? bitmap->w / 2 - (icon->w + t->w) / 2 : bitmap->w / 2 - t->w / 2;
    draw_sprite(bitmap, t, left, 0);
    if (icon)
        draw_sprite(bitmap, icon, left + t->w, bitmap->h / 2 - icon->h / 2);
    destroy_bitmap(t);
}

VText_VC::VText_VC(GameEngine::Engine* engine, int width, int height, FONT* font)
    : Text_VC(engine, width, height, font) {
    extent = height;
}

void VText_VC::update_bitmap() {
    BITMAP* t = begin_redraw();
    if (!t)
        return;
    int length = t->w;
    int centre = (icon ? (length + icon->w) / 2 : length / 2) + bitmap->h / 2;
    if (BITMAP* square = rotated_square(t, length)) {
        blit(square, bitmap, 0, 0, 0, centre - length, length, length);
        destroy_bitmap(square);
    }
    if (icon) {
        if (BITMAP* square = rotated_square(icon, std::max(icon->w, icon->h))) {
            blit(square, bitmap, 0, 0, bitmap->w / 2 - icon->h / 2, centre - length - icon->w, square->w,
                 square->h);
            destroy_bitmap(square);
        }
    }
    destroy_bitmap(t);
}

}  // namespace Marvane
