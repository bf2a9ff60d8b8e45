// The framed bar: a two-pixel black frame around the bar colour.
#include <gtest/gtest.h>

#include "engine_driver.h"
#include "views/bar.h"

namespace {

struct Bar : ::testing::Test {
    views_test::Engine_Driver driver;
    BITMAP* target = create_bitmap(200, 100);
    int grey = makecol(90, 90, 90);
    int black = makecol(0, 0, 0);
    int yellow = makecol(255, 255, 0);
    Bar() { clear_to_color(target, grey); }
    ~Bar() override { destroy_bitmap(target); }

    // The colour expected at (x, y) for a bar (x1, y1)-(x2, y2) drawn in
    // colour over grey.
    int expected(int x, int y, int x1, int y1, int x2, int y2, int colour) const {
        if (x < x1 || x > x2 || y < y1 || y > y2)
            return grey;
        if (x < x1 + 2 || x > x2 - 2 || y < y1 + 2 || y > y2 - 2)
            return black;
        return colour;
    }
    void expect_bar(int x1, int y1, int x2, int y2, int colour) const {
        for (int y = 0; y < target->h; ++y)
            for (int x = 0; x < target->w; ++x)
                ASSERT_EQ(getpixel(target, x, y), expected(x, y, x1, y1, x2, y2, colour)) << x << "," << y;
    }
};

TEST_F(Bar, DrawsTheBarColourInsideATwoPixelBlackFrame) {
    Marvane::Outline_Bar bar(0, 0, 100, 6);
    bar.draw(target);
    expect_bar(0, 0, 100, 6, makecol(255, 255, 255));  // white until set

    clear_to_color(target, grey);
    bar.set_color(yellow);
    bar.draw(target);
    expect_bar(0, 0, 100, 6, yellow);
    int inside = 0;
    for (int y = 0; y < target->h; ++y)
        for (int x = 0; x < target->w; ++x)
            inside += getpixel(target, x, y) == yellow;
    EXPECT_EQ(inside, 97 * 3);
}

TEST_F(Bar, SmallBarsGrowToFourByFourAndStayFramed) {
    Marvane::Outline_Bar bar(10, 10, 11, 11);
    bar.set_color(yellow);
    bar.draw(target);
    expect_bar(10, 10, 13, 13, yellow);  // all frame, nothing inside

    clear_to_color(target, grey);
    Marvane::Outline_Bar flat(20, 30, 60, 30);
    flat.set_color(yellow);
    flat.draw(target);
    expect_bar(20, 30, 60, 33, yellow);
}

}  // namespace
