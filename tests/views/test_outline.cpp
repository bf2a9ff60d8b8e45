// Outlined text: the outline colour surrounds every glyph by two pixels
// and the foreground fills the glyphs.
#include <set>

#include <gtest/gtest.h>

#include "addons/alttf.h"
#include "engine_driver.h"
#include "views/outline.h"

namespace {

const char* const TEST_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Outlined : ::testing::Test {
    views_test::Engine_Driver driver;
    int magenta = makecol(255, 0, 255);
    int white = makecol(255, 255, 255);
    int red = makecol(255, 0, 0);

    // The stamps reach two pixels along one axis and one along the other.
    static bool within_outline(int dx, int dy) {
        return (std::abs(dx) <= 2 && std::abs(dy) <= 1) || (std::abs(dx) <= 1 && std::abs(dy) <= 2);
    }

    BITMAP* outlined(FONT* f, const std::string& s, int fg, int outline) {
        BITMAP* bmp = create_bitmap(Outline::outline_text_length(f, s), Outline::outline_text_height(f));
        clear_to_color(bmp, magenta);
        Outline::outline_textout(bmp, f, s, fg, outline);
        return bmp;
    }
};

TEST_F(Outlined, BoxIsTheTextPlusFourAcrossAndEightAlong) {
    FONT* f = views_test::make_font_16();
    EXPECT_EQ(Outline::outline_text_height(f), 20);
    EXPECT_EQ(Outline::outline_text_length(f, "abc"), 3 * 8 + 8);
    EXPECT_EQ(Outline::outline_text_length(f, ""), 8);
    destroy_font(f);
}

TEST_F(Outlined, OutlineColourSurroundsTheForeground) {
    FONT* f = load_ttf_font(TEST_FONT, 20, TTF_SMOOTH_NONE);
    ASSERT_NE(f, nullptr);
    BITMAP* bmp = outlined(f, "HiM", white, red);
    int whites = 0, reds = 0;
    for (int y = 0; y < bmp->h; ++y)
        for (int x = 0; x < bmp->w; ++x) {
            int c = getpixel(bmp, x, y);
            ASSERT_TRUE(c == magenta || c == white || c == red) << x << "," << y;
            if (c == white) {
                ++whites;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx) {
                        if (within_outline(dx, dy)) {
                            EXPECT_NE(getpixel(bmp, x + dx, y + dy), magenta) << x + dx << "," << y + dy;
                        }
                    }
            }
            if (c == red) {
                ++reds;
                bool near_glyph = false;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        near_glyph |= within_outline(dx, dy) && getpixel(bmp, x + dx, y + dy) == white;
                EXPECT_TRUE(near_glyph) << x << "," << y;
            }
        }
    EXPECT_GT(whites, 50);
    EXPECT_GT(reds, whites / 2);
    destroy_bitmap(bmp);
    destroy_font(f);
}

TEST_F(Outlined, AntialiasedEdgesBlendBetweenOutlineAndForeground) {
    FONT* f = load_ttf_font(TEST_FONT, 20, TTF_SMOOTH_FULL);
    ASSERT_NE(f, nullptr);
    BITMAP* bmp = outlined(f, "Smooth", white, red);
    save_bitmap((views_test::output_dir() + "/outline_smooth.png").c_str(), bmp, nullptr);
    std::set<int> seen;
    for (int y = 0; y < bmp->h; ++y)
        for (int x = 0; x < bmp->w; ++x)
            seen.insert(getpixel(bmp, x, y));
    EXPECT_TRUE(seen.count(white));
    EXPECT_TRUE(seen.count(red));
    // Inside the outline, the white glyph edges fade into red: pink shades.
    int pinks = 0;
    for (int c : seen)
        if (c != white && c != magenta && getr(c) > 200 && getg(c) > 40 && getg(c) < 215 &&
            std::abs(getg(c) - getb(c)) < 12)
            ++pinks;
    EXPECT_GT(pinks, 3);
    destroy_bitmap(bmp);
    destroy_font(f);
}

}  // namespace
