// The screen-shot view on a real engine: scaling and centring, brightness,
// delayed and cancelled loads, failed and hostile pictures, the toggle key
// and the JPEG progress poll.
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "engine_driver.h"
#include "jpeg_writer.h"
#include "support/jpeg.h"
#include "support/logfile.h"
#include "views/sshot.h"

using views_test::Engine_Driver;

namespace {

class Probe : public Marvane::Screen_Shot {
public:
    using Screen_Shot::Screen_Shot;
    using Screen_Shot::has_image;
    using Screen_Shot::loaded_file;
    using Screen_Shot::picture;
    using Screen_Shot::requested_file;
    using Screen_Shot::state;
};

struct Box {
    int x1 = 800, y1 = 600, x2 = -1, y2 = -1;
    bool operator==(const Box&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Box& b)
{
    return os << "(" << b.x1 << ", " << b.y1 << ")-(" << b.x2 << ", " << b.y2 << ")";
}
Box box(int x, int y, int w, int h)
{
    return Box{x, y, x + w - 1, y + h - 1};
}

struct Toggles : Marvane::Screen_Shot_Listener {
    int count = 0;
    void toggle_screen_shot() override { ++count; }
};

// A valid greyscale PNG of any size without holding its pixels: rows are
// deflated one at a time.
void write_big_png(const std::string& file, unsigned w, unsigned h, unsigned char grey)
{
    std::ofstream out(file, std::ios::binary);
    auto be32 = [](std::string& s, uint32_t v) {
        for (int i = 3; i >= 0; --i)
            s += char((v >> (8 * i)) & 0xFF);
    };
    auto chunk = [&](const char* type, const std::string& data) {
        std::string head;
        be32(head, uint32_t(data.size()));
        std::string body = std::string(type, 4) + data;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
        std::string tail;
        be32(tail, uint32_t(crc));
        out << head << body << tail;
    };
    out << "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    be32(ihdr, w);
    be32(ihdr, h);
    ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
    chunk("IHDR", ihdr);
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 9), Z_OK);
    std::string row(w + 1, char(grey));
    row[0] = 0;  // filter: none
    std::string idat;
    std::vector<unsigned char> buffer(1 << 16);
    for (unsigned y = 0; y <= h; ++y) {
        const bool last = y == h;
        z.next_in = reinterpret_cast<Bytef*>(last ? nullptr : row.data());
        z.avail_in = last ? 0 : uInt(row.size());
        do {
            z.next_out = buffer.data();
            z.avail_out = uInt(buffer.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            idat.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    chunk("IDAT", idat);
    chunk("IEND", "");
}

struct Shots : ::testing::Test {
    Engine_Driver driver;
    // Each test its own folder: tests run in parallel and reuse file names.
    std::string dir = views_test::output_dir() + "/sshot_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::unique_ptr<Probe> shot;
    BITMAP* target = create_bitmap(800, 600);

    void SetUp() override
    {
        std::filesystem::create_directories(dir);
        shot = std::make_unique<Probe>(driver.engine);
        shot->set_prefer_integer_scaling(true);
    }
    void TearDown() override
    {
        driver.engine->get_root_container()->remove_updatable(shot.get());
        shot.reset();
        destroy_bitmap(target);
        for (int i = 0; i < KEY_MAX; ++i)
            key[i] = 0;
    }

    // A picture of one colour, saved in the type its extension names.
    std::string picture(const std::string& name, int w, int h, int colour)
    {
        BITMAP* b = create_bitmap(w, h);
        clear_to_color(b, colour);
        const std::string file = dir + "/" + name;
        EXPECT_EQ(save_bitmap(file.c_str(), b, nullptr), 0) << file;
        destroy_bitmap(b);
        return file;
    }

    // Where the view draws something other than black.
    Box drawn()
    {
        clear_to_color(target, makecol(255, 0, 0));
        shot->draw(target);
        Box b;
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x)
                if (getpixel(target, x, y) != makecol(0, 0, 0)) {
                    b.x1 = std::min(b.x1, x);
                    b.y1 = std::min(b.y1, y);
                    b.x2 = std::max(b.x2, x);
                    b.y2 = std::max(b.y2, y);
                }
        return b;
    }
    int centre_pixel()
    {
        shot->draw(target);
        return getpixel(target, 400, 300);
    }
};

TEST_F(Shots, ScalesByWholeFactorsOrFitsAndCentres)
{
    const int white = makecol(255, 255, 255);
    const std::string small = picture("s320x240.png", 320, 240, white);
    shot->set_bitmap(small, fix(100), 0);
    EXPECT_EQ(drawn(), box(80, 60, 640, 480));
    shot->set_prefer_integer_scaling(false);
    shot->set_bitmap(small, fix(100), 0);
    EXPECT_EQ(drawn(), box(0, 0, 800, 600));

    shot->set_prefer_integer_scaling(true);
    shot->set_bitmap(picture("s300x200.bmp", 300, 200, white), fix(100), 0);
    EXPECT_EQ(drawn(), box(100, 100, 600, 400));
    shot->set_bitmap(picture("s1024x768.pcx", 1024, 768, white), fix(100), 0);
    EXPECT_EQ(drawn(), box(0, 0, 800, 600));
    shot->set_bitmap(picture("s800x600.png", 800, 600, white), fix(100), 0);
    EXPECT_EQ(drawn(), box(0, 0, 800, 600));
    // Wider than the screen but lower: no whole factor, fitted to the width.
    shot->set_bitmap(picture("s1600x300.png", 1600, 300, white), fix(100), 0);
    EXPECT_EQ(drawn(), box(0, 225, 800, 150));
    shot->set_prefer_integer_scaling(false);
    shot->set_bitmap(picture("s300x200.png", 300, 200, white), fix(100), 0);
    EXPECT_EQ(drawn(), box(0, 33, 800, 533));
}

TEST_F(Shots, BrightnessDarkensThroughTheBlender)
{
    const std::string file = picture("white.png", 400, 300, makecol(255, 255, 255));
    shot->set_bitmap(file, fix(50), 0);
    const int half = centre_pixel();
    EXPECT_NEAR(getr(half), 128, 8);
    EXPECT_NEAR(getg(half), 128, 8);
    EXPECT_NEAR(getb(half), 128, 8);
    shot->set_bitmap(file, fix(25), 0);
    EXPECT_NEAR(getr(centre_pixel()), 64, 8);
    shot->set_bitmap(file, fix(100), 0);
    EXPECT_EQ(centre_pixel(), makecol(255, 255, 255));

    // Brightness 0 shows nothing, yet the picture is kept.
    shot->set_bitmap(file, fix(0), 0);
    EXPECT_FALSE(shot->has_image);
    EXPECT_EQ(drawn(), Box{});
    EXPECT_EQ(shot->loaded_file, file);
    // Brightness 0 for a new file, then 100 for it: loaded and shown.
    const std::string other = picture("grey.png", 400, 300, makecol(128, 128, 128));
    shot->set_bitmap(other, fix(0), 0);
    EXPECT_EQ(shot->loaded_file, file);
    shot->set_bitmap(other, fix(100), 0);
    EXPECT_EQ(shot->loaded_file, other);
    EXPECT_EQ(centre_pixel(), makecol(128, 128, 128));

    // Percentages beyond the range are limited, not wrapped.
    shot->set_bitmap(file, fix(180), 0);
    EXPECT_EQ(centre_pixel(), makecol(255, 255, 255));
    shot->set_bitmap(file, fix(-30), 0);
    EXPECT_TRUE(shot->has_image);
    EXPECT_EQ(centre_pixel(), makecol(0, 0, 0));
}

TEST_F(Shots, OnlyTheLastOfTwoDelayedRequestsIsLoaded)
{
    const std::string a = picture("a.png", 200, 200, makecol(255, 0, 0));
    const std::string b = picture("b.png", 200, 200, makecol(0, 255, 0));
    std::vector<int> loads;
    bool a_seen = false;
    driver.engine->get_root_container()->add_updatable(shot.get(), 400);
    shot->set_bitmap(a, fix(100), 300);
    EXPECT_EQ(shot->state, 1);
    EXPECT_FALSE(shot->has_image);
    driver.run_cycles(10);
    shot->set_bitmap(b, fix(100), 300);
    driver.run_cycles(40, [&](int cycle) {
        a_seen |= shot->loaded_file == a;
        if (shot->has_image && loads.empty())
            loads.push_back(cycle);
    });
    EXPECT_FALSE(a_seen);
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0], 18);  // 300 ms after the second request
    EXPECT_EQ(shot->loaded_file, b);
    EXPECT_EQ(shot->state, 0);
    EXPECT_EQ(centre_pixel(), makecol(0, 255, 0));

    // A negative delay loads at once, like no delay.
    shot->set_bitmap(a, fix(100), -300);
    EXPECT_EQ(shot->state, 0);
    EXPECT_EQ(shot->loaded_file, a);

    // A request without delay while one is pending wins at once.
    shot->set_bitmap(a, fix(100), 300);
    shot->set_bitmap(b, fix(50), 0);
    EXPECT_EQ(shot->state, 0);
    driver.run_cycles(40);
    EXPECT_EQ(shot->loaded_file, b);

    // A delay shorter than one cycle, asked for between cycles, loads in
    // the next one, though its timer stops before the view is updated.
    const std::string c = picture("c.png", 200, 200, makecol(0, 0, 255));
    for (const auto& [file, delay] : {std::pair{a, 10}, std::pair{c, 16}}) {
        shot->set_bitmap(file, fix(100), delay);
        driver.run_cycles(1);
        EXPECT_EQ(shot->loaded_file, file) << delay << " ms";
        EXPECT_EQ(shot->state, 0) << delay << " ms";
        EXPECT_TRUE(shot->has_image) << delay << " ms";
    }
}

TEST_F(Shots, CancelKeepsThePictureOnScreen)
{
    const std::string a = picture("a.png", 200, 200, makecol(255, 0, 0));
    const std::string b = picture("b.png", 200, 200, makecol(0, 255, 0));
    driver.engine->get_root_container()->add_updatable(shot.get(), 400);
    shot->set_bitmap(a, fix(100), 0);
    shot->set_bitmap(b, fix(100), 300);
    driver.run_cycles(5);
    shot->cancel_set_bitmap();
    EXPECT_EQ(shot->requested_file, a);
    EXPECT_EQ(shot->state, 0);
    driver.run_cycles(40);
    EXPECT_EQ(shot->loaded_file, a);
    EXPECT_EQ(centre_pixel(), makecol(255, 0, 0));

    // Cancelling while idle changes nothing.
    shot->set_bitmap(b, fix(100), 0);
    shot->cancel_set_bitmap();
    EXPECT_EQ(shot->requested_file, b);
    EXPECT_EQ(centre_pixel(), makecol(0, 255, 0));
}

TEST_F(Shots, AFailedLoadClearsTheScreen)
{
    const std::string a = picture("a.png", 200, 200, makecol(255, 0, 0));
    shot->set_bitmap(a, fix(100), 0);
    ASSERT_TRUE(shot->has_image);
    shot->set_bitmap(dir + "/missing.png", fix(100), 0);
    EXPECT_FALSE(shot->has_image);
    EXPECT_EQ(shot->picture, nullptr);
    EXPECT_EQ(drawn(), Box{});
    // Asked again, still nothing (not the picture before).
    shot->set_bitmap(dir + "/missing.png", fix(50), 0);
    EXPECT_EQ(drawn(), Box{});
    shot->set_bitmap("", fix(100), 0);
    EXPECT_EQ(drawn(), Box{});
    shot->set_bitmap(a, fix(100), 0);
    EXPECT_EQ(centre_pixel(), makecol(255, 0, 0));
}

TEST_F(Shots, FilesThatAreNoPicturesShowNothing)
{
    std::mt19937 random(7);
    std::string noise(50000, '\0');
    for (char& c : noise)
        c = char(random());
    const std::vector<std::pair<std::string, std::string>> files = {
        {"noise.png", noise},
        {"noise.jpg", noise},
        {"noise.bmp", noise},
        {"noise.pcx", noise},
        {"empty.png", ""},
        {"empty.jpg", ""},
        {"header.png", std::string("\x89PNG\r\n\x1a\n", 8) + noise.substr(0, 40)},
        {"header.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01", 13) + noise.substr(0, 40)},
        {"header.bmp", "BM" + noise.substr(0, 60)},
        {"text.png", "This is not a picture.\n"},
    };
    const std::string good = picture("good.png", 100, 100, makecol(0, 0, 255));
    for (const auto& [name, bytes] : files) {
        const std::string file = dir + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        shot->set_bitmap(good, fix(100), 0);
        shot->set_bitmap(file, fix(50), 0);
        // A damaged file may still yield a picture; it must never be the
        // one before.
        if (shot->has_image) {
            EXPECT_NE(shot->picture, nullptr) << name;
        } else {
            EXPECT_EQ(drawn(), Box{}) << name;
        }
        EXPECT_EQ(shot->loaded_file, file);
    }
}

TEST_F(Shots, HugePicturesAreNotLoaded)
{
    // Such a picture would take gigabytes and half a minute to unpack.
    const std::string file = dir + "/huge20000.png";
    write_big_png(file, 20000, 20000, 255);
    shot->set_bitmap(file, fix(50), 0);
    EXPECT_FALSE(shot->has_image);
    EXPECT_EQ(drawn(), Box{});
    std::remove(file.c_str());
    // Nor when other types declare it.
    std::string bmp = "BM" + std::string(12, '\0') + std::string("\x28\0\0\0\x20\x4e\0\0\xe0\xb1\xff\xff", 12);
    std::string pcx = std::string("\x0a\x05\x01\x08\0\0\0\0\x1f\x4e\x1f\x4e", 12) + std::string(116, '\0');
    std::string jpg = std::string("\xff\xd8\xff\xe0\x00\x04\0\0\xff\xc0\x00\x11\x08\x4e\x20\x4e\x20\x03", 18);
    for (const auto& [name, bytes] : {std::pair{"huge.bmp", bmp}, {"huge.pcx", pcx}, {"huge.jpg", jpg}}) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes << std::string(1000, '\0');
        shot->set_bitmap(dir + "/" + name, fix(100), 0);
        EXPECT_FALSE(shot->has_image) << name;
    }
    // A JPEG whose first frame header is small and a second one huge.
    const std::string twice = dir + "/twice.jpg";
    ASSERT_TRUE(views_test::write_jpeg(twice, 64, 48, [](int x, int, unsigned char* p) {
        p[0] = p[1] = p[2] = (unsigned char)(x * 4);
    }));
    std::ifstream in(twice, std::ios::binary);
    std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const size_t sof = jpeg.find("\xff\xc0");
    ASSERT_NE(sof, std::string::npos);
    std::string second = jpeg.substr(sof, 2 + ((unsigned char)jpeg[sof + 2] << 8 | (unsigned char)jpeg[sof + 3]));
    second.replace(5, 4, "\x40\x00\x40\x00", 4);  // 16384 x 16384
    std::ofstream(twice, std::ios::binary) << jpeg.insert(sof + second.size(), second);
    shot->set_bitmap(twice, fix(100), 0);
    EXPECT_FALSE(shot->has_image) << "second frame header";
    // The limit leaves room for any real screen shot: 4096 x 4096 loads.
    const std::string big = dir + "/big4096.png";
    write_big_png(big, 4096, 4096, 255);
    shot->set_bitmap(big, fix(100), 0);
    EXPECT_TRUE(shot->has_image);
    EXPECT_EQ(drawn(), box(100, 0, 600, 600));
    std::remove(big.c_str());
    // The view goes on working.
    shot->set_bitmap(picture("after.png", 100, 100, makecol(0, 0, 255)), fix(100), 0);
    EXPECT_EQ(centre_pixel(), makecol(0, 0, 255));
}

TEST_F(Shots, ToggleKeyReachesTheListenerOncePerPress)
{
    Toggles toggles;
    shot->set_listener(&toggles);
    shot->set_toggle_key(KEY_S);
    driver.engine->get_root_container()->add_updatable(shot.get(), 400);
    driver.tap(KEY_S);
    EXPECT_EQ(toggles.count, 1);
    driver.run_cycles(1);
    key[KEY_S] = 1;
    driver.run_cycles(20);
    key[KEY_S] = 0;
    EXPECT_EQ(toggles.count, 2);
    shot->set_listener(nullptr);
    driver.tap(KEY_S);
    EXPECT_EQ(toggles.count, 2);
}

TEST_F(Shots, JpegDecodingPollsTheMusicPerRowOfUnits)
{
    const std::string file = dir + "/progress.jpg";
    ASSERT_TRUE(views_test::write_jpeg(file, 640, 480, [](int x, int y, unsigned char* p) {
        p[0] = (unsigned char)(x * 255 / 640);
        p[1] = (unsigned char)(y * 255 / 480);
        p[2] = 128;
    }));
    const int before = driver.polls_total;
    shot->set_bitmap(file, fix(100), 0);
    ASSERT_TRUE(shot->has_image);
    EXPECT_EQ(driver.polls_total - before, 480 / 16);
    EXPECT_EQ(drawn(), box(80, 60, 640, 480));

    // Once the view is gone, loads no longer poll through the engine.
    shot.reset();
    const int after = driver.polls_total;
    BITMAP* b = load_bitmap(file.c_str(), nullptr);
    ASSERT_NE(b, nullptr);
    destroy_bitmap(b);
    EXPECT_EQ(driver.polls_total, after);
}

TEST_F(Shots, LogsWhereTheDisplayBitmapLives)
{
    const std::string log = dir + "/sshot.log";
    LogFile::open_log_file(log);
    Probe second(driver.engine);
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[Info] No HW blit: memory bitmap for screen shot"), std::string::npos) << text;
}

}  // namespace
