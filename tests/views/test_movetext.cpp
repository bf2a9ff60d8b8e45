// Text views: cutting texts to the extent, where the outlined text and the
// icon land in a row and in a rotated column, and the palette set-up that
// only the first text view does.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "addons/alttf.h"
#include "engine_driver.h"
#include "views/movetext.h"

namespace {

using Marvane::HText_VC;
using Marvane::VText_VC;

const char* const TEST_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Box {
    int x1 = 1 << 30, y1 = 1 << 30, x2 = -1, y2 = -1;
    bool empty() const { return x2 < 0; }
};

struct Text_Views : ::testing::Test {
    views_test::Engine_Driver driver;
    FONT* f = load_ttf_font(TEST_FONT, 16, TTF_SMOOTH_NONE);
    int magenta = makecol(255, 0, 255);
    int white = makecol(255, 255, 255);
    int red = makecol(255, 0, 0);
    int green = makecol(0, 255, 0);

    ~Text_Views() override { destroy_font(f); }

    // Bounding box of the pixels of bmp for which pick is true.
    template <typename Pick>
    static Box box_of(BITMAP* bmp, Pick pick) {
        Box b;
        for (int y = 0; y < bmp->h; ++y)
            for (int x = 0; x < bmp->w; ++x)
                if (pick(getpixel(bmp, x, y))) {
                    b.x1 = std::min(b.x1, x);
                    b.y1 = std::min(b.y1, y);
                    b.x2 = std::max(b.x2, x);
                    b.y2 = std::max(b.y2, y);
                }
        return b;
    }
    Box ink(BITMAP* bmp) const {
        return box_of(bmp, [&](int c) { return c != magenta; });
    }
    BITMAP* make_icon(int w, int h) const {
        BITMAP* icon = create_bitmap(w, h);
        clear_to_color(icon, green);
        return icon;
    }
};

TEST_F(Text_Views, ContentsAreCutFromTheEndUntilTheyFitTheExtent) {
    ASSERT_NE(f, nullptr);
    HText_VC row(driver.engine, 100, 24, f);
    row.set_contents(std::string(50, 'W'), nullptr);
    std::string kept = row.get_contents();
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept, std::string(kept.size(), 'W'));
    EXPECT_LE(text_length(f, kept.c_str()) + 4, 100);
    EXPECT_GT(text_length(f, (kept + "W").c_str()) + 4, 100);

    // The icon's width counts against the extent.
    BITMAP* icon = make_icon(40, 10);
    row.set_contents(std::string(50, 'W'), icon);
    std::string with_icon = row.get_contents();
    EXPECT_LE(text_length(f, with_icon.c_str()) + 4, 60);
    EXPECT_GT(text_length(f, (with_icon + "W").c_str()) + 4, 60);

    // A short text stays whole; no room at all leaves nothing.
    row.set_contents("Pac", nullptr);
    EXPECT_STREQ(row.get_contents(), "Pac");
    HText_VC narrow(driver.engine, 3, 24, f);
    narrow.set_contents("x", nullptr);
    EXPECT_STREQ(narrow.get_contents(), "");
    // A rotated view cuts along its height.
    VText_VC column(driver.engine, 24, 100, f);
    column.set_contents(std::string(50, 'W'), nullptr);
    EXPECT_EQ(std::string(column.get_contents()), kept);
    destroy_bitmap(icon);
}

TEST_F(Text_Views, HugeAndHighBitTextsAreCutSafely) {
    ASSERT_NE(f, nullptr);
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high += static_cast<char>(c);
    for (int format : {U_UTF8, U_ASCII}) {
        set_uformat(format);
        HText_VC row(driver.engine, 399, 24, f);
        VText_VC column(driver.engine, 24, 554, f);
        for (const std::string& text : {std::string(100000, 'x'), high, high + high + high}) {
            row.set_contents(text, nullptr);
            column.set_contents(text, nullptr);
            EXPECT_LT(std::strlen(row.get_contents()), 256u);
            EXPECT_LE(text_length(f, row.get_contents()) + 4, 399);
            EXPECT_LE(text_length(f, column.get_contents()) + 4, 554);
        }
    }
}

TEST_F(Text_Views, RowTextSitsAtTheTopCentredWithItsIconToTheRight) {
    ASSERT_NE(f, nullptr);
    HText_VC row(driver.engine, 300, 40, f);
    row.set_colors(white, red);
    row.set_contents("Galaga", nullptr);
    BITMAP* bmp = row.get_bitmap();
    BITMAP* t = row.get_outline_bmp();
    EXPECT_EQ(t->w, text_length(f, "Galaga") + 8);
    EXPECT_EQ(t->h, text_height(f) + 4);
    Box text = ink(bmp);
    ASSERT_FALSE(text.empty());
    EXPECT_GE(text.y1, 0);
    EXPECT_LE(text.y2, t->h - 1);
    int left = 150 - t->w / 2;
    EXPECT_GE(text.x1, left);
    EXPECT_LE(text.x2, left + t->w - 1);
    EXPECT_NEAR((text.x1 + text.x2) / 2, 150, 3);

    BITMAP* icon = make_icon(20, 10);
    row.set_contents("Galaga", icon);
    Box icon_box = box_of(bmp, [&](int c) { return c == green; });
    left = 150 - (20 + t->w) / 2;
    EXPECT_EQ(icon_box.x1, left + t->w);
    EXPECT_EQ(icon_box.x2, left + t->w + 19);
    EXPECT_EQ(icon_box.y1, 20 - 5);
    EXPECT_EQ(icon_box.y2, 20 + 4);
    Box glyphs = box_of(bmp, [&](int c) { return c == white; });
    EXPECT_LT(glyphs.x2, icon_box.x1);

    // New colours redraw at once.
    row.set_colors(makecol(0, 0, 255), makecol(255, 255, 0));
    EXPECT_TRUE(box_of(bmp, [&](int c) { return c == white; }).empty());
    EXPECT_FALSE(box_of(bmp, [&](int c) { return c == makecol(255, 255, 0); }).empty());
    save_bitmap((views_test::output_dir() + "/text_row.png").c_str(), bmp, nullptr);
    destroy_bitmap(t);
    destroy_bitmap(icon);
}

TEST_F(Text_Views, ColumnReadsUpwardWithItsFirstLetterLowest) {
    ASSERT_NE(f, nullptr);
    const int height = 300;
    VText_VC column(driver.engine, 24, height, f);
    column.set_colors(white, red);
    // The first character is a dot, far narrower across the column than
    // the capitals after it.
    column.set_contents(".MMMM", nullptr);
    BITMAP* bmp = column.get_bitmap();
    save_bitmap((views_test::output_dir() + "/text_column.png").c_str(), bmp, nullptr);
    Box all = ink(bmp);
    ASSERT_FALSE(all.empty());
    auto width_of_rows = [&](int from, int to) {
        Box b;
        for (int y = from; y <= to; ++y)
            for (int x = 0; x < bmp->w; ++x)
                if (getpixel(bmp, x, y) == white) {
                    b.x1 = std::min(b.x1, x);
                    b.x2 = std::max(b.x2, x);
                }
        return b.empty() ? 0 : b.x2 - b.x1 + 1;
    };
    int dot = text_length(f, ".");
    EXPECT_LT(width_of_rows(all.y2 - dot, all.y2), 5) << "the dot is lowest";
    EXPECT_GT(width_of_rows(all.y1, all.y1 + dot), 8) << "the M's are above it";
    // One pixel in from the left edge, centred along the height.
    EXPECT_GE(all.x1, 1);
    int length = text_length(f, ".MMMM") + 8;
    EXPECT_NEAR((all.y1 + all.y2) / 2, height / 2, 3);
    EXPECT_LE(all.y2 - all.y1 + 1, length);

    // An icon stands directly above the text, centred across the column.
    BITMAP* icon = make_icon(12, 8);
    column.set_contents(".MMMM", icon);
    Box icon_box = box_of(bmp, [&](int c) { return c == green; });
    Box glyphs = box_of(bmp, [&](int c) { return c == white; });
    ASSERT_FALSE(icon_box.empty());
    EXPECT_LT(icon_box.y2, glyphs.y1);
    // Turned: its width runs along the column (the pivot placement at
    // (1, -1) shaves one column off the picture).
    EXPECT_GE(icon_box.y2 - icon_box.y1 + 1, 11);
    EXPECT_LE(icon_box.y2 - icon_box.y1 + 1, 12);
    EXPECT_EQ(icon_box.x2 - icon_box.x1 + 1, 8);
    EXPECT_NEAR((icon_box.x1 + icon_box.x2) / 2, 12, 2);
    destroy_bitmap(icon);
}

TEST_F(Text_Views, OnlyTheFirstTextViewSetsUpThePalette) {
    ASSERT_NE(f, nullptr);
    if (views_test::Engine_Driver::drivers_made > 1)
        GTEST_SKIP() << "an earlier test of this process has made the first text view";
    RGB mark = {1, 2, 3, 0};
    set_color(7, &mark);
    EXPECT_EQ(rgb_map, nullptr);
    HText_VC first(driver.engine, 100, 24, f);
    ASSERT_NE(rgb_map, nullptr);
    PALETTE expected;
    generate_332_palette(expected);
    EXPECT_EQ(_current_palette[0].r + _current_palette[0].g + _current_palette[0].b, 0);
    EXPECT_EQ(_current_palette[7].b, expected[7].b);
    EXPECT_EQ(_current_palette[200].g, expected[200].g);
    RGB_MAP* map = rgb_map;
    set_color(7, &mark);
    HText_VC second(driver.engine, 100, 24, f);
    EXPECT_EQ(rgb_map, map);
    EXPECT_EQ(_current_palette[7].r, 1);
    EXPECT_EQ(_current_palette[7].b, 3);
}

}  // namespace
