// TrueType fonts as Allegro fonts. FreeType renders every Latin-1 glyph once,
// at load, into a coverage map (0 to 255); drawing then only stamps those
// maps in the caller's colour, blending partial coverage with the target.
#include "addons/alttf.h"

#include <allegro/internal/aintern.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int FIRST_CHAR = 32;
constexpr int LAST_CHAR = 255;
constexpr int MAX_POINTS = 512;

struct Glyph {
    bool present = false;
    int advance = 0;
    int left = 0;  // from the pen position to the map's left column
    int top = 0;   // from the top of the line box to the map's first row
    int width = 0;
    int rows = 0;
    std::vector<unsigned char> coverage;  // width * rows, row by row
};

struct Ttf_Data {
    Glyph glyphs[LAST_CHAR - FIRST_CHAR + 1];
};

// What antialias_init prepared for 8-bit targets.
struct Palette_Blend {
    RGB_MAP map;
};
std::unique_ptr<Palette_Blend> palette_blend;

const Ttf_Data* data_of(const FONT* f) { return static_cast<const Ttf_Data*>(f->data); }

// The glyph drawn for ch: its own, else the library's "missing" character.
const Glyph* find_glyph(const FONT* f, int ch) {
    const Ttf_Data* data = data_of(f);
    if (ch >= FIRST_CHAR && ch <= LAST_CHAR && data->glyphs[ch - FIRST_CHAR].present)
        return &data->glyphs[ch - FIRST_CHAR];
    int missing = allegro_404_char;
    if (missing >= FIRST_CHAR && missing <= LAST_CHAR && data->glyphs[missing - FIRST_CHAR].present)
        return &data->glyphs[missing - FIRST_CHAR];
    return nullptr;
}

int blend_channel(int over, int under, int alpha) {
    return (over * alpha + under * (255 - alpha) + 127) / 255;
}

// One pixel of partial coverage: the colour over what lies under it.
void blend_pixel(BITMAP* bmp, int depth, int px, int py, int color, int alpha) {
    if (depth == 8) {
        if (!palette_blend) {
            if (alpha >= 128)
                _putpixel(bmp, px, py, color);
            return;
        }
        const RGB& over = _current_palette[color & 0xFF];
        const RGB& under = _current_palette[_getpixel(bmp, px, py)];
        int r = blend_channel(over.r, under.r, alpha);
        int g = blend_channel(over.g, under.g, alpha);
        int b = blend_channel(over.b, under.b, alpha);
        _putpixel(bmp, px, py, palette_blend->map.data[r >> 1][g >> 1][b >> 1]);
        return;
    }
    int under = getpixel(bmp, px, py);
    int r = blend_channel(getr_depth(depth, color), getr_depth(depth, under), alpha);
    int g = blend_channel(getg_depth(depth, color), getg_depth(depth, under), alpha);
    int b = blend_channel(getb_depth(depth, color), getb_depth(depth, under), alpha);
    putpixel(bmp, px, py, makecol_depth(depth, r, g, b));
}

void solid_pixel(BITMAP* bmp, int depth, int px, int py, int color) {
    switch (depth) {
    case 8: _putpixel(bmp, px, py, color); break;
    case 15: _putpixel15(bmp, px, py, color); break;
    case 16: _putpixel16(bmp, px, py, color); break;
    case 24: _putpixel24(bmp, px, py, color); break;
    default: _putpixel32(bmp, px, py, color); break;
    }
}

void draw_glyph(BITMAP* bmp, const Glyph& glyph, int x, int y, int color) {
    int x0 = x + glyph.left;
    int y0 = y + glyph.top;
    int cl = 0, ct = 0, cr = bmp->w, cb = bmp->h;
    if (bmp->clip) {
        cl = bmp->cl;
        ct = bmp->ct;
        cr = bmp->cr;
        cb = bmp->cb;
    }
    int col_from = std::max(0, cl - x0), col_to = std::min(glyph.width, cr - x0);
    int row_from = std::max(0, ct - y0), row_to = std::min(glyph.rows, cb - y0);
    if (col_from >= col_to || row_from >= row_to)
        return;
    int depth = bitmap_color_depth(bmp);
    acquire_bitmap(bmp);
    for (int row = row_from; row < row_to; ++row) {
        const unsigned char* cov = glyph.coverage.data() + static_cast<std::size_t>(row) * glyph.width;
        for (int col = col_from; col < col_to; ++col) {
            int alpha = cov[col];
            if (alpha == 255)
                solid_pixel(bmp, depth, x0 + col, y0 + row, color);
            else if (alpha != 0)
                blend_pixel(bmp, depth, x0 + col, y0 + row, color, alpha);
        }
    }
    release_bitmap(bmp);
}

int ttf_font_height(const FONT* f) { return f->height; }

int ttf_char_length(const FONT* f, int ch) {
    const Glyph* glyph = find_glyph(f, ch);
    return glyph ? glyph->advance : 0;
}

int ttf_text_length(const FONT* f, const char* text) {
    int length = 0;
    const char* p = text;
    for (int ch = ugetxc(&p); ch != 0; ch = ugetxc(&p))
        length += ttf_char_length(f, ch);
    return length;
}

int ttf_render_char(const FONT* f, int ch, int fg, int bg, BITMAP* bmp, int x, int y) {
    const Glyph* glyph = find_glyph(f, ch);
    if (!glyph)
        return 0;
    if (bg >= 0 && glyph->advance > 0)
        rectfill(bmp, x, y, x + glyph->advance - 1, y + f->height - 1, bg);
    draw_glyph(bmp, *glyph, x, y, fg);
    return glyph->advance;
}

void ttf_render(const FONT* f, const char* text, int fg, int bg, BITMAP* bmp, int x, int y) {
    const char* p = text;
    for (int ch = ugetxc(&p); ch != 0; ch = ugetxc(&p))
        x += ttf_render_char(f, ch, fg, bg, bmp, x, y);
}

void ttf_destroy(FONT* f) {
    if (!f)
        return;
    delete static_cast<Ttf_Data*>(f->data);
    delete f;
}

int ttf_get_font_ranges(FONT*) { return 1; }
int ttf_get_font_range_begin(FONT*, int range) { return range <= 0 ? FIRST_CHAR : -1; }
int ttf_get_font_range_end(FONT*, int range) { return range <= 0 ? LAST_CHAR : -1; }
FONT* ttf_extract_font_range(FONT*, int, int) { return nullptr; }
FONT* ttf_merge_fonts(FONT*, FONT*) { return nullptr; }
int ttf_transpose_font(FONT*, int) { return -1; }

FONT_VTABLE ttf_vtable = {
    ttf_font_height,     ttf_char_length,          ttf_text_length,        ttf_render_char,
    ttf_render,          ttf_destroy,              ttf_get_font_ranges,    ttf_get_font_range_begin,
    ttf_get_font_range_end, ttf_extract_font_range, ttf_merge_fonts,       ttf_transpose_font,
};

// Copies FreeType's rendered bitmap (8-bit grey or 1-bit mono) into the
// glyph's coverage map. Anything else leaves the glyph blank.
void take_bitmap(Glyph& glyph, const FT_Bitmap& bitmap) {
    if (bitmap.pitch <= 0 || !bitmap.buffer)
        return;
    bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    if (!mono && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY)
        return;
    glyph.width = static_cast<int>(bitmap.width);
    glyph.rows = static_cast<int>(bitmap.rows);
    glyph.coverage.assign(static_cast<std::size_t>(glyph.width) * glyph.rows, 0);
    int grays = bitmap.num_grays > 1 ? bitmap.num_grays : 256;
    for (int row = 0; row < glyph.rows; ++row) {
        const unsigned char* src = bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch;
        unsigned char* dst = glyph.coverage.data() + static_cast<std::size_t>(row) * glyph.width;
        for (int col = 0; col < glyph.width; ++col) {
            if (mono)
                dst[col] = (src[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
            else
                dst[col] = static_cast<unsigned char>(src[col] * 255 / (grays - 1));
        }
    }
}

struct Face_Closer {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~Face_Closer() {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }
};

// Renders every glyph of the range; returns null when the face cannot be
// sized. Glyphs are first measured from the baseline, then moved so that
// their tops count from the top of the line box.
FONT* build_font(FT_Face face, int points, bool smooth) {
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);  // else keep the face's own map
    if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(points) * 64, 72, 72) != 0)
        return nullptr;
    auto data = std::make_unique<Ttf_Data>();
    // A broken font may claim a line or draw glyphs far outside its em; the
    // line box stays within this many pixels of the baseline either way, and
    // such glyphs stay blank, so a font never makes huge text bitmaps.
    int max_side = points * 8 + 64;
    int ascent = static_cast<int>(std::clamp<FT_Pos>((face->size->metrics.ascender + 63) >> 6, 0, max_side));
    int descent = static_cast<int>(std::clamp<FT_Pos>((-face->size->metrics.descender + 63) >> 6, 0, max_side));
    FT_Int32 flags = FT_LOAD_RENDER | (smooth ? FT_LOAD_TARGET_NORMAL : (FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME));
    for (int ch = FIRST_CHAR; ch <= LAST_CHAR; ++ch) {
        FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(ch));
        if (index == 0 || FT_Load_Glyph(face, index, flags) != 0)
            continue;
        FT_GlyphSlot slot = face->glyph;
        Glyph& glyph = data->glyphs[ch - FIRST_CHAR];
        glyph.present = true;
        glyph.advance = std::clamp(static_cast<int>((slot->advance.x + 32) >> 6), 0, max_side);
        if (static_cast<int>(slot->bitmap.width) > max_side || static_cast<int>(slot->bitmap.rows) > max_side ||
            std::abs(slot->bitmap_left) > max_side || std::abs(slot->bitmap_top) > max_side ||
            std::abs(slot->bitmap_top - static_cast<int>(slot->bitmap.rows)) > max_side)
            continue;
        take_bitmap(glyph, slot->bitmap);
        if (glyph.coverage.empty())
            continue;
        glyph.left = slot->bitmap_left;
        glyph.top = slot->bitmap_top;  // above the baseline, for now
        ascent = std::max(ascent, glyph.top);
        descent = std::max(descent, glyph.rows - glyph.top);
    }
    for (Glyph& glyph : data->glyphs)
        glyph.top = ascent - glyph.top;
    FONT* f = new FONT;
    f->data = data.release();
    f->height = std::max(1, ascent + descent);
    f->vtable = &ttf_vtable;
    return f;
}

}  // namespace

FONT* load_ttf_font(const char* filename, int points, int smooth) {
    if (!filename || points <= 0 || points > MAX_POINTS)
        return nullptr;
    try {
        Face_Closer ft;
        if (FT_Init_FreeType(&ft.library) != 0)
            return nullptr;
        if (FT_New_Face(ft.library, filename, 0, &ft.face) != 0)
            return nullptr;
        return build_font(ft.face, points, smooth != 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void antialias_init(const PALETTE pal) {
    if (!palette_blend)
        palette_blend = std::make_unique<Palette_Blend>();
    create_rgb_table(&palette_blend->map, pal, nullptr);
}

void antialias_exit() { palette_blend.reset(); }
