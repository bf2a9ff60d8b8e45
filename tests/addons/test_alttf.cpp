// The TrueType layer: sizes, colours and antialiasing at every colour depth,
// the old text-mode calls, and fonts or texts that are not what they claim.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "addons/alttf.h"

namespace {

const char* const TEST_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A TrueType font of our own making: 1000 units to the em, ascender 800,
// descender -200, and one glyph, for 'A': a solid rectangle from (100, 0)
// to (500, 700) with an advance of 600. Every size it renders at is known.
// A broken variant lifts the rectangle by `lift` units or claims another
// ascender.
std::string mini_font(int lift = 0, int ascender = 800) {
    std::string out;
    auto u16 = [](std::string& s, int v) {
        s += static_cast<char>((v >> 8) & 0xFF);
        s += static_cast<char>(v & 0xFF);
    };
    auto u32 = [&](std::string& s, uint32_t v) {
        u16(s, static_cast<int>(v >> 16));
        u16(s, static_cast<int>(v & 0xFFFF));
    };
    std::string head, hhea, maxp, hmtx, glyf, loca, cmap;
    u32(head, 0x00010000); u32(head, 0x00010000); u32(head, 0); u32(head, 0x5F0F3CF5);
    u16(head, 0x000B); u16(head, 1000);
    for (int i = 0; i < 4; ++i) u32(head, 0);  // created, modified
    u16(head, 100); u16(head, lift); u16(head, 500); u16(head, lift + 700);
    u16(head, 0); u16(head, 8); u16(head, 2); u16(head, 0); u16(head, 0);
    u32(hhea, 0x00010000); u16(hhea, ascender); u16(hhea, 0x10000 - 200); u16(hhea, 0);
    u16(hhea, 600); u16(hhea, 0); u16(hhea, 0); u16(hhea, 500); u16(hhea, 1); u16(hhea, 0);
    for (int i = 0; i < 5; ++i) u16(hhea, 0);
    u16(hhea, 0); u16(hhea, 2);
    u32(maxp, 0x00010000); u16(maxp, 2); u16(maxp, 4); u16(maxp, 1);
    u16(maxp, 0); u16(maxp, 0); u16(maxp, 2);
    for (int i = 0; i < 8; ++i) u16(maxp, 0);
    u16(hmtx, 500); u16(hmtx, 0); u16(hmtx, 600); u16(hmtx, 100);
    u16(glyf, 1); u16(glyf, 100); u16(glyf, lift); u16(glyf, 500); u16(glyf, lift + 700);
    u16(glyf, 3); u16(glyf, 0);
    glyf += std::string(4, '\x01');  // on-curve points, 16-bit deltas
    for (int dx : {100, 0, 400, 0}) u16(glyf, dx);
    for (int dy : {lift, 700, 0, 0x10000 - 700}) u16(glyf, dy);
    if (glyf.size() % 2) glyf += '\0';
    u16(loca, 0); u16(loca, 0); u16(loca, static_cast<int>(glyf.size() / 2));
    std::string sub;
    u16(sub, 4); u16(sub, 32); u16(sub, 0); u16(sub, 4); u16(sub, 4); u16(sub, 1); u16(sub, 0);
    u16(sub, 'A'); u16(sub, 0xFFFF); u16(sub, 0); u16(sub, 'A'); u16(sub, 0xFFFF);
    u16(sub, (1 - 'A') & 0xFFFF); u16(sub, 1); u16(sub, 0); u16(sub, 0);
    u16(cmap, 0); u16(cmap, 1); u16(cmap, 3); u16(cmap, 1); u32(cmap, 12);
    cmap += sub;
    const std::pair<const char*, std::string*> tables[] = {
        {"cmap", &cmap}, {"glyf", &glyf}, {"head", &head}, {"hhea", &hhea},
        {"hmtx", &hmtx}, {"loca", &loca}, {"maxp", &maxp}};
    u32(out, 0x00010000); u16(out, 7); u16(out, 64); u16(out, 2); u16(out, 48);
    uint32_t offset = 12 + 16 * 7;
    std::string body;
    for (auto [tag, data] : tables) {
        out += tag;
        u32(out, 0);
        u32(out, offset + static_cast<uint32_t>(body.size()));
        u32(out, static_cast<uint32_t>(data->size()));
        body += *data;
        while (body.size() % 4) body += '\0';
    }
    return out + body;
}

struct Ttf : ::testing::Test {
    void SetUp() override { ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0); }

    // A file in the build tree, for the bad-input cases.
    static std::string scratch(const std::string& name, const std::string& bytes) {
        std::string path = std::string(MARVO_BINARY_DIR) + "/alttf_" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Every distinct pixel value of bmp.
    static std::set<int> colours(BITMAP* bmp) {
        std::set<int> seen;
        for (int y = 0; y < bmp->h; ++y)
            for (int x = 0; x < bmp->w; ++x)
                seen.insert(getpixel(bmp, x, y));
        return seen;
    }

    // Bounding box of the pixels that differ from background.
    struct Box {
        int x1 = 1 << 30, y1 = 1 << 30, x2 = -1, y2 = -1;
    };
    static Box ink(BITMAP* bmp, int background) {
        Box box;
        for (int y = 0; y < bmp->h; ++y)
            for (int x = 0; x < bmp->w; ++x)
                if (getpixel(bmp, x, y) != background) {
                    box.x1 = std::min(box.x1, x);
                    box.y1 = std::min(box.y1, y);
                    box.x2 = std::max(box.x2, x);
                    box.y2 = std::max(box.y2, y);
                }
        return box;
    }
};

TEST_F(Ttf, SizeFollowsPointsAndLengthsAddUp) {
    FONT* small = load_ttf_font(TEST_FONT, 16, TTF_SMOOTH_FULL);
    FONT* large = load_ttf_font(TEST_FONT, 32, TTF_SMOOTH_FULL);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    // One point is one pixel of the em; the line box holds ascender and
    // descender, so it is a little taller than the em.
    EXPECT_GE(text_height(small), 16);
    EXPECT_LE(text_height(small), 24);
    EXPECT_NEAR(text_height(large), 2 * text_height(small), 3);
    EXPECT_NEAR(text_length(large, "Marvane"), 2 * text_length(small, "Marvane"), 4);
    EXPECT_EQ(text_length(small, "AB"), text_length(small, "A") + text_length(small, "B"));
    EXPECT_GT(text_length(small, " "), 0);
    EXPECT_EQ(text_length(small, ""), 0);
    destroy_font(small);
    destroy_font(large);
}

TEST_F(Ttf, OnePointIsOnePixelOfTheEm) {
    std::string path = scratch("mini.ttf", mini_font());
    FONT* f = load_ttf_font(path.c_str(), 10, TTF_SMOOTH_NONE);
    ASSERT_NE(f, nullptr);
    // 10 points: a 10-pixel em, 8 above the baseline and 2 below.
    EXPECT_EQ(text_height(f), 10);
    EXPECT_EQ(text_length(f, "A"), 6);
    EXPECT_EQ(text_length(f, "AAA"), 18);
    EXPECT_EQ(text_length(f, "BAB"), 6) << "no glyph and no '^' to stand in: no room";
    BITMAP* bmp = create_bitmap_ex(32, 40, 20);
    clear_to_color(bmp, 0);
    int blue = makecol32(0, 0, 255);
    textout_ex(bmp, f, "AA", 3, 4, blue, -1);
    // Each rectangle: x 1 to 5 of the em, y 0 to 7 above the baseline,
    // the baseline 8 pixels below the top of the line box.
    for (int y = 0; y < bmp->h; ++y)
        for (int x = 0; x < bmp->w; ++x) {
            int cx = (x - 3) % 6;
            bool in = x >= 3 && x < 15 && cx >= 1 && cx < 5 && y >= 4 + 1 && y < 4 + 8;
            ASSERT_EQ(getpixel(bmp, x, y), in ? blue : 0) << x << "," << y;
        }
    destroy_bitmap(bmp);
    destroy_font(f);
    // Twice the points, twice the sizes.
    f = load_ttf_font(path.c_str(), 20, TTF_SMOOTH_FULL);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(text_height(f), 20);
    EXPECT_EQ(text_length(f, "A"), 12);
    destroy_font(f);
}

TEST_F(Ttf, FontsClaimingHugeHeightsStayNearTheirSize) {
    // A glyph drawn far above its em, or an ascender of 32 ems, would make
    // every text view a bitmap thousands of pixels high.
    for (auto [lift, ascender] : {std::pair{30000, 800}, std::pair{0, 32000}}) {
        std::string path = scratch("tall.ttf", mini_font(lift, ascender));
        FONT* f = load_ttf_font(path.c_str(), 16, TTF_SMOOTH_FULL);
        ASSERT_NE(f, nullptr) << lift << " " << ascender;
        EXPECT_LE(text_height(f), 2 * (16 * 8 + 64)) << lift << " " << ascender;
        EXPECT_GE(text_height(f), 16);
        EXPECT_EQ(text_length(f, "A"), 10);
        BITMAP* bmp = create_bitmap_ex(16, 64, 64);
        textout_ex(bmp, f, "AA", 0, 0, makecol16(255, 255, 255), 0);
        destroy_bitmap(bmp);
        destroy_font(f);
    }
}

TEST_F(Ttf, GlyphsStayInsideTheLineBox) {
    FONT* f = load_ttf_font(TEST_FONT, 20, TTF_SMOOTH_FULL);
    ASSERT_NE(f, nullptr);
    set_uformat(U_ASCII);
    // Accented capitals reach highest, g/y/p lowest.
    const char* text = "\xC5\xC9\xD1gypjQ|";
    int w = text_length(f, text);
    BITMAP* bmp = create_bitmap_ex(32, w + 20, text_height(f) + 20);
    clear_to_color(bmp, 0);
    textout_ex(bmp, f, text, 10, 10, makecol32(255, 255, 255), -1);
    Box box = ink(bmp, 0);
    EXPECT_GE(box.y1, 10);
    EXPECT_LT(box.y2, 10 + text_height(f));
    EXPECT_LE(box.y1, 12) << "the tallest glyph should touch the top of the box";
    destroy_bitmap(bmp);
    destroy_font(f);
}

TEST_F(Ttf, SmoothEdgesHoldIntermediateColoursAtEveryTrueColourDepth) {
    FONT* smooth = load_ttf_font(TEST_FONT, 18, TTF_SMOOTH_FULL);
    FONT* hard = load_ttf_font(TEST_FONT, 18, TTF_SMOOTH_NONE);
    ASSERT_NE(smooth, nullptr);
    ASSERT_NE(hard, nullptr);
    for (int depth : {15, 16, 24, 32}) {
        SCOPED_TRACE(depth);
        int fg = makecol_depth(depth, 255, 255, 0);
        int bg = makecol_depth(depth, 0, 0, 255);
        BITMAP* bmp = create_bitmap_ex(depth, 200, 40);

        clear_to_color(bmp, bg);
        textout_ex(bmp, hard, "Quickly", 2, 2, fg, -1);
        EXPECT_EQ(colours(bmp), (std::set<int>{fg, bg}));

        clear_to_color(bmp, bg);
        textout_ex(bmp, smooth, "Quickly", 2, 2, fg, -1);
        std::set<int> seen = colours(bmp);
        EXPECT_TRUE(seen.count(fg));
        EXPECT_GT(seen.size(), 4u);
        // Edges are a mix of the colour and what lay under it: yellow over
        // blue has red and green rising together as blue falls.
        for (int c : seen) {
            int r = getr_depth(depth, c), g = getg_depth(depth, c), b = getb_depth(depth, c);
            EXPECT_NEAR(r, g, 10);
            EXPECT_NEAR(r + b, 255, 12);
        }
        destroy_bitmap(bmp);
    }
    destroy_font(smooth);
    destroy_font(hard);
}

TEST_F(Ttf, EightBitBlendsThroughThePaletteOnlyAfterInit) {
    FONT* smooth = load_ttf_font(TEST_FONT, 18, TTF_SMOOTH_FULL);
    ASSERT_NE(smooth, nullptr);
    PALETTE pal;
    generate_332_palette(pal);
    pal[0].r = pal[0].g = pal[0].b = 0;
    set_palette(pal);
    int white = 255;  // 3-3-2: all bits set
    ASSERT_EQ(pal[white].r, 63);
    BITMAP* bmp = create_bitmap_ex(8, 200, 40);

    clear_to_color(bmp, 0);
    textout_ex(bmp, smooth, "Quickly", 2, 2, white, -1);
    EXPECT_EQ(colours(bmp), (std::set<int>{0, white})) << "without a palette map edges stay hard";

    antialias_init(pal);
    clear_to_color(bmp, 0);
    textout_ex(bmp, smooth, "Quickly", 2, 2, white, -1);
    std::set<int> seen = colours(bmp);
    EXPECT_GT(seen.size(), 3u);
    for (int c : seen)  // greys between black and white
        EXPECT_NEAR(pal[c].r, pal[c].g, 12) << c;

    antialias_exit();
    clear_to_color(bmp, 0);
    textout_ex(bmp, smooth, "Quickly", 2, 2, white, -1);
    EXPECT_EQ(colours(bmp), (std::set<int>{0, white}));
    antialias_exit();  // twice is harmless
    destroy_bitmap(bmp);
    destroy_font(smooth);
}

TEST_F(Ttf, OldTextModeFillsTheCellsAndCentringCentres) {
    FONT* f = load_ttf_font(TEST_FONT, 16, TTF_SMOOTH_NONE);
    ASSERT_NE(f, nullptr);
    set_color_depth(16);
    BITMAP* bmp = create_bitmap_ex(16, 300, 60);
    int red = makecol16(255, 0, 0), blue = makecol16(0, 0, 255);
    int w = text_length(f, "Centre");
    int h = text_height(f);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    clear_to_color(bmp, 0);
    text_mode(blue);
    textout(bmp, f, "Centre", 10, 10, red);
    Box box = ink(bmp, 0);
    EXPECT_EQ(box.x1, 10);
    EXPECT_EQ(box.y1, 10);
    EXPECT_EQ(box.x2, 10 + w - 1);
    EXPECT_EQ(box.y2, 10 + h - 1);
    EXPECT_EQ(colours(bmp), (std::set<int>{0, red, blue}));

    clear_to_color(bmp, 0);
    text_mode(-1);
    textout_centre(bmp, f, "Centre", 150, 10, red);
    EXPECT_EQ(colours(bmp), (std::set<int>{0, red}));
#pragma GCC diagnostic pop
    box = ink(bmp, 0);
    EXPECT_NEAR((box.x1 + box.x2) / 2, 150, 2);
    destroy_bitmap(bmp);
    destroy_font(f);
}

TEST_F(Ttf, DrawingRespectsTheClipRectangle) {
    FONT* f = load_ttf_font(TEST_FONT, 24, TTF_SMOOTH_FULL);
    ASSERT_NE(f, nullptr);
    BITMAP* bmp = create_bitmap_ex(32, 100, 50);
    clear_to_color(bmp, 0);
    set_clip_rect(bmp, 20, 10, 59, 29);
    int white = makecol32(255, 255, 255);
    textout_ex(bmp, f, "WWWWWWWWWW", -15, -5, white, -1);
    textout_ex(bmp, f, "WWWWWWWWWW", 30, 20, white, -1);
    textout_ex(bmp, f, "W", -1000000, 1000000, white, -1);
    Box box = ink(bmp, 0);
    EXPECT_GE(box.x1, 20);
    EXPECT_GE(box.y1, 10);
    EXPECT_LE(box.x2, 59);
    EXPECT_LE(box.y2, 29);
    EXPECT_GE(box.x2, box.x1);
    destroy_bitmap(bmp);
    destroy_font(f);
}

TEST_F(Ttf, LatinOneCharactersHaveTheirOwnGlyphs) {
    set_uformat(U_ASCII);
    FONT* f = load_ttf_font(TEST_FONT, 16, TTF_SMOOTH_NONE);
    ASSERT_NE(f, nullptr);
    BITMAP* plain = create_bitmap_ex(32, 40, 40);
    BITMAP* accented = create_bitmap_ex(32, 40, 40);
    clear_to_color(plain, 0);
    clear_to_color(accented, 0);
    textout_ex(plain, f, "e", 5, 5, makecol32(255, 255, 255), -1);
    textout_ex(accented, f, "\xE9", 5, 5, makecol32(255, 255, 255), -1);  // é
    Box p = ink(plain, 0), a = ink(accented, 0);
    EXPECT_EQ(p.y2, a.y2);
    EXPECT_LT(a.y1, p.y1) << "the accent stands above the e";
    EXPECT_GT(text_length(f, "\xFF\xDF\xC6"), 0);
    destroy_bitmap(plain);
    destroy_bitmap(accented);
    destroy_font(f);
}

TEST_F(Ttf, BadFontFilesGiveNull) {
    EXPECT_EQ(load_ttf_font("/nonexistent/font.ttf", 16, TTF_SMOOTH_FULL), nullptr);
    EXPECT_EQ(load_ttf_font(nullptr, 16, TTF_SMOOTH_FULL), nullptr);
    EXPECT_EQ(load_ttf_font(MARVO_BINARY_DIR, 16, TTF_SMOOTH_FULL), nullptr);  // a directory
    EXPECT_EQ(load_ttf_font(scratch("empty.ttf", "").c_str(), 16, TTF_SMOOTH_FULL), nullptr);
    EXPECT_EQ(load_ttf_font(scratch("text.ttf", "This is not a font.\n").c_str(), 16, TTF_SMOOTH_NONE),
              nullptr);
    // A TrueType header followed by nothing of use.
    std::string header("\x00\x01\x00\x00\x00\x04\x00\x40\x00\x02\x00\x00", 12);
    EXPECT_EQ(load_ttf_font(scratch("header.ttf", header).c_str(), 16, TTF_SMOOTH_FULL), nullptr);
    std::mt19937 rng(5);
    std::string noise(20 * 1024 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng());
    EXPECT_EQ(load_ttf_font(scratch("noise.ttf", noise).c_str(), 16, TTF_SMOOTH_FULL), nullptr);
    EXPECT_EQ(load_ttf_font(TEST_FONT, 0, TTF_SMOOTH_FULL), nullptr);
    EXPECT_EQ(load_ttf_font(TEST_FONT, -3, TTF_SMOOTH_FULL), nullptr);
    EXPECT_EQ(load_ttf_font(TEST_FONT, 100000, TTF_SMOOTH_FULL), nullptr);
}

TEST_F(Ttf, HugeAndHighBitTextsAreSafeInEitherEncoding) {
    std::string huge(100000, 'M');
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high += static_cast<char>(c);
    for (int format : {U_UTF8, U_ASCII}) {
        SCOPED_TRACE(format);
        set_uformat(format);
        FONT* f = load_ttf_font(TEST_FONT, 16, TTF_SMOOTH_FULL);
        ASSERT_NE(f, nullptr);
        BITMAP* bmp = create_bitmap_ex(16, 320, 40);
        clear_to_color(bmp, 0);
        EXPECT_GT(text_length(f, huge.c_str()), 320);
        textout_ex(bmp, f, huge.c_str(), 0, 0, makecol16(255, 255, 255), -1);
        textout_centre_ex(bmp, f, high.c_str(), 160, 10, makecol16(255, 255, 255), 0);
        EXPECT_GE(text_length(f, high.c_str()), 0);
        destroy_bitmap(bmp);
        destroy_font(f);
    }
}

}  // namespace
