// Movable bitmaps: fixed-point moves that land exactly, clipped drawing, and
// the log line of the bitmap choice.
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "engine_driver.h"
#include "support/logfile.h"
#include "views/movebmp.h"

namespace {

using Marvane::Movable_Bitmap;

// Exposes the position, which only drawing shows otherwise.
struct Probe : Movable_Bitmap {
    using Movable_Bitmap::Movable_Bitmap;
    fixed pos_x() const { return x; }
    fixed pos_y() const { return y; }
};

struct Movable : ::testing::Test {
    views_test::Engine_Driver driver;

    // Updates until stopped (at most limit); the positions after each.
    static std::vector<std::pair<fixed, fixed>> run_move(Probe& p, int limit = 1000) {
        std::vector<std::pair<fixed, fixed>> path;
        while (static_cast<int>(path.size()) < limit && p.update())
            path.emplace_back(p.pos_x(), p.pos_y());
        return path;
    }
};

TEST_F(Movable, HundredMillisecondsOverHundredPixelsTakesSevenUpdates) {
    Probe p(driver.engine, 10, 10);
    EXPECT_TRUE(p.is_stopped());
    p.move_to(100, 0, 100);
    EXPECT_FALSE(p.is_stopped());
    auto path = run_move(p);
    ASSERT_EQ(path.size(), 7u);
    // Six truncated steps of 16.66 pixels, then the landing.
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(path[i].first, (i + 1) * (itofix(100) / 6));
        EXPECT_EQ(path[i].second, 0);
    }
    EXPECT_EQ(path[6].first, itofix(100));
    EXPECT_TRUE(p.is_stopped());
    EXPECT_FALSE(p.update());

    // 500 ms are 30 steps; a zero distance stops at once.
    p.move_to(100, 300, 500);
    EXPECT_EQ(run_move(p).size(), 30u);
    p.move_to(100, 300, 500);
    EXPECT_TRUE(p.is_stopped());
    EXPECT_FALSE(p.update());
}

TEST_F(Movable, MovesTowardSmallerCoordinatesNeverOvershoot) {
    Probe p(driver.engine, 10, 10);
    p.move_to(311, 207, 0);
    p.move_to(7, 207, 250);
    auto path = run_move(p);
    ASSERT_FALSE(path.empty());
    fixed previous = itofix(311);
    for (auto [px, py] : path) {
        EXPECT_LT(px, previous);
        EXPECT_GE(px, itofix(7));
        EXPECT_EQ(py, itofix(207)) << "the still axis keeps still";
        previous = px;
    }
    EXPECT_EQ(path.back().first, itofix(7));
    EXPECT_LE(path.size(), 16u);

    // Diagonal toward the origin with unequal distances.
    p.move_to(0, 0, 1000);
    path = run_move(p);
    for (auto [px, py] : path) {
        EXPECT_GE(px, 0);
        EXPECT_GE(py, 0);
    }
    EXPECT_EQ(path.back(), std::make_pair(fixed(0), fixed(0)));
}

TEST_F(Movable, JumpsAndVeryShortMoves) {
    Probe p(driver.engine, 10, 10);
    p.move_to(50, 60, 1000);
    p.update();
    p.move_to(-5, 9, 0);  // stops a running move where asked
    EXPECT_TRUE(p.is_stopped());
    EXPECT_EQ(p.pos_x(), itofix(-5));
    EXPECT_EQ(p.pos_y(), itofix(9));
    EXPECT_FALSE(p.update());
    // Under one cycle long: done in the next update.
    p.move_to(400, 300, 10);
    EXPECT_FALSE(p.is_stopped());
    EXPECT_EQ(run_move(p).size(), 1u);
    EXPECT_EQ(p.pos_x(), itofix(400));
    EXPECT_EQ(p.pos_y(), itofix(300));
}

TEST_F(Movable, AnInterruptedMoveStillLandsWhenLittleIsLeftToGo) {
    Probe p(driver.engine, 10, 10);
    p.move_to(0, 100, 0);
    p.move_to(0, 0, 100);
    for (int i = 0; i < 6; ++i)
        p.update();
    ASSERT_GT(p.pos_y(), 0);
    ASSERT_LT(p.pos_y(), 6) << "a few 65536ths of a pixel above the target";
    // Moving on sideways: the few units left on y divide into no step.
    p.move_to(50, 0, 100);
    auto path = run_move(p);
    EXPECT_EQ(path.size(), 7u);
    EXPECT_TRUE(p.is_stopped());
    EXPECT_EQ(p.pos_y(), 0);
}

struct Movable_Drawing : Movable {
    // Each row of the bitmap in its own colour, so that the source row of
    // a drawn pixel can be read back.
    static int row_colour(int row) { return makecol(row * 24, 128, 0); }
    static void paint_rows(BITMAP* bmp) {
        for (int row = 0; row < bmp->h; ++row)
            hline(bmp, 0, row, bmp->w - 1, row_colour(row));
    }
    static int source_row(BITMAP* target, int px, int py) {
        int c = getpixel(target, px, py);
        for (int row = 0; row < 10; ++row)
            if (c == row_colour(row))
                return row;
        return -1;
    }
    BITMAP* target = create_bitmap(200, 100);
    Movable_Drawing() { clear_to_color(target, makecol(0, 0, 0)); }
    ~Movable_Drawing() override { destroy_bitmap(target); }
};

TEST_F(Movable_Drawing, ClippedSpansStartAtTheMatchingSourceRow) {
    Probe p(driver.engine, 10, 10);
    paint_rows(p.get_bitmap());
    // Four rows above the default clip (the screen): rows 4..9 at 0..5.
    p.move_to(5, -4, 0);
    p.draw(target);
    EXPECT_EQ(source_row(target, 5, 0), 4);
    EXPECT_EQ(source_row(target, 14, 5), 9);
    EXPECT_EQ(source_row(target, 5, 6), -1);
    EXPECT_EQ(source_row(target, 4, 0), -1);
    EXPECT_EQ(source_row(target, 15, 0), -1);

    // A clip rectangle with inclusive bounds cuts both axes.
    clear_to_color(target, makecol(0, 0, 0));
    p.set_clip(50, 20, 54, 23);
    p.move_to(48, 18, 0);
    p.draw(target);
    int drawn = 0;
    for (int y = 0; y < target->h; ++y)
        for (int x = 0; x < target->w; ++x)
            if (source_row(target, x, y) >= 0) {
                ++drawn;
                EXPECT_TRUE(x >= 50 && x <= 54 && y >= 20 && y <= 23) << x << "," << y;
                EXPECT_EQ(source_row(target, x, y), y - 18);
            }
    EXPECT_EQ(drawn, 5 * 4);

    // Wholly outside the clip: nothing.
    clear_to_color(target, makecol(0, 0, 0));
    p.move_to(100, 60, 0);
    p.draw(target);
    p.move_to(30, 20, 0);  // ends left of the clip at column 39
    p.draw(target);
    for (int y = 0; y < target->h; ++y)
        for (int x = 0; x < target->w; ++x)
            ASSERT_EQ(source_row(target, x, y), -1);
}

TEST_F(Movable_Drawing, FractionalPositionsRoundToTheNearestPixelAndMagentaIsTransparent) {
    Probe p(driver.engine, 4, 4);
    clear_to_color(p.get_bitmap(), makecol(255, 0, 255));
    putpixel(p.get_bitmap(), 0, 0, row_colour(0));
    p.move_to(100, 0, 100);
    p.update();  // x = 16.66: drawn at 17
    p.draw(target);
    EXPECT_EQ(source_row(target, 17, 0), 0);
    EXPECT_EQ(source_row(target, 16, 0), -1);
    EXPECT_EQ(getpixel(target, 18, 1), makecol(0, 0, 0)) << "magenta is not drawn";
}

TEST_F(Movable, LogsTheMemoryBitmapChoice) {
    std::string path = views_test::output_dir() + "/movebmp_log.log";
    LogFile::open_log_file(path);
    driver.engine->use_vram = false;
    { Probe p(driver.engine, 8, 8); }
    // Asked for, but the driver cannot blit masked from video memory.
    driver.engine->use_vram = true;
    driver.engine->animation_method = 1;
    int saved = gfx_capabilities;
    gfx_capabilities &= ~GFX_HW_VRAM_BLIT_MASKED;
    { Probe p(driver.engine, 8, 8); }
    gfx_capabilities = saved;
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    size_t first = log.find("[Info] No HW blit: memory bitmap for movable bitmap\n");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("[Info] No HW blit: memory bitmap for movable bitmap\n", first + 1), std::string::npos);
}

}  // namespace
