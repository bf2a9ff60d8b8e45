// Menu views on a real engine: the state machine and stopped_moving, the
// menu's own keys, the exact layout, and both layouts rendered over a
// screen shot into PNG files for a look by eye.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "addons/alttf.h"
#include "engine_driver.h"
#include "views/menu.h"
#include "views/movetext.h"
#include "views/sshot.h"

using Marvane::Scrollable_Item;
using Marvane::Scrollable_List_VC;
using Marvane::Text_VC;
using views_test::Engine_Driver;

namespace {

template <class Layout>
class Probe : public Layout {
public:
    using Layout::Layout;
    using Marvane::Menu_View::bar_x;
    using Marvane::Menu_View::bar_y;
    using Marvane::Menu_View::list;
    using Marvane::Menu_View::state;
    using Marvane::Menu_View::subtitle;
    using Marvane::Menu_View::subtitle_hidden_x;
    using Marvane::Menu_View::subtitle_hidden_y;
    using Marvane::Menu_View::subtitle_x;
    using Marvane::Menu_View::subtitle_y;
    using Marvane::Menu_View::title;
    using Marvane::Menu_View::title_hidden_x;
    using Marvane::Menu_View::title_hidden_y;
    using Marvane::Menu_View::title_x;
    using Marvane::Menu_View::title_y;
};
using HProbe = Probe<Marvane::HMenu_View>;
using VProbe = Probe<Marvane::VLMenu_View>;

// Reads protected parts of the menu's list and of its rows.
struct List_Peek : Scrollable_List_VC {
    static int area(const Scrollable_List_VC* l, int which)
    {
        int Scrollable_List_VC::*fields[] = {&List_Peek::x, &List_Peek::y, &List_Peek::width, &List_Peek::height,
                                             &List_Peek::visible_rows};
        return l->*fields[which];
    }
    static const std::list<Text_VC*>& rows(const Scrollable_List_VC* l) { return l->*(&List_Peek::onscreen_views); }
};
struct Position : Marvane::Movable_Bitmap {
    static int x_of(const Marvane::Movable_Bitmap* b) { return fixtoi(b->*(&Position::x)); }
    static int y_of(const Marvane::Movable_Bitmap* b) { return fixtoi(b->*(&Position::y)); }
};

// Logs every call with the number of the update cycle it came in
// (counted from 0).
struct Recorder : Marvane::Menu_Listener {
    int cycle = 0;
    std::vector<std::string> events;
    void log(const std::string& e) { events.push_back(std::to_string(cycle) + " " + e); }
    void selection_changed(unsigned i) override { log("changed " + std::to_string(i)); }
    void item_selected(unsigned i) override { log("selected " + std::to_string(i)); }
    void item_visible(unsigned) override {}
    void quit_pressed() override { log("quit"); }
    void next_menu_pressed() override { log("next"); }
    void previous_menu_pressed() override { log("previous"); }
    void stopped_moving() override { log("stopped"); }
    int count(const std::string& e) const
    {
        int n = 0;
        for (const std::string& s : events)
            n += s.substr(s.find(' ') + 1) == e;
        return n;
    }
};

std::vector<Scrollable_Item> games(int n)
{
    std::vector<Scrollable_Item> items;
    for (int i = 0; i < n; ++i)
        items.emplace_back("Game " + std::to_string(i));
    return items;
}

const char* const TTF_FILE = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Menus : ::testing::Test {
    Engine_Driver driver;
    FONT* font16 = views_test::make_font_16();
    Recorder rec;
    std::unique_ptr<Marvane::Menu_View> owned;

    template <class M>
    M* make(int x, int y, int w, int h, int items = 100)
    {
        auto* menu = new M(driver.engine, font16, x, y, w, h);
        owned.reset(menu);
        menu->set_line_up_key(KEY_UP);
        menu->set_line_down_key(KEY_DOWN);
        menu->set_page_up_key(KEY_PGUP);
        menu->set_page_down_key(KEY_PGDN);
        menu->set_select_key(KEY_ENTER);
        menu->set_quit_key(KEY_ESC);
        menu->set_next_menu_key(KEY_RIGHT);
        menu->set_previous_menu_key(KEY_LEFT);
        menu->set_listener(&rec);
        menu->set_titles("MAME", "Multiple Arcade Machine Emulator");
        menu->set_all_items(games(items), 0, 0);
        driver.engine->get_root_container()->add_updatable(menu, 400);
        driver.engine->get_root_container()->add_drawable(menu, 400);
        return menu;
    }

    void run(int n)
    {
        driver.run_cycles(n, [this](int) { ++rec.cycle; });
    }
    void tap(int scancode)
    {
        key[scancode] = 0;
        run(1);
        key[scancode] = 1;
        run(1);
        key[scancode] = 0;
    }

    void TearDown() override
    {
        if (owned) {
            driver.engine->get_root_container()->remove_updatable(owned.get());
            driver.engine->get_root_container()->remove_drawable(owned.get());
        }
        owned.reset();
        destroy_font(font16);
        for (int i = 0; i < KEY_MAX; ++i)
            key[i] = 0;
    }
};

TEST_F(Menus, HiddenMenuReportsStoppedMovingOnEveryUpdate)
{
    HProbe* menu = make<HProbe>(200, 0, 399, 600);
    EXPECT_EQ(menu->state, 3);
    run(1);  // hiding becomes hidden; the first report follows next update
    EXPECT_EQ(menu->state, 0);
    EXPECT_TRUE(rec.events.empty());
    run(10);
    EXPECT_EQ(rec.count("stopped"), 10);
    EXPECT_EQ(rec.events.front(), "1 stopped");
    EXPECT_EQ(rec.events.back(), "10 stopped");
    // Keys are not read while hidden.
    tap(KEY_ESC);
    tap(KEY_DOWN);
    EXPECT_EQ(rec.count("quit"), 0);
    EXPECT_EQ(rec.count("changed 1"), 0);
}

TEST_F(Menus, MovesEndWithOneStoppedMoving)
{
    HProbe* menu = make<HProbe>(200, 0, 399, 600);
    run(1);
    menu->unhide_all(500);
    rec.events.clear();
    run(40);
    EXPECT_EQ(menu->state, 1);
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0].substr(rec.events[0].find(' ') + 1), "stopped");
    const int stop_cycle = std::stoi(rec.events[0]);
    EXPECT_GE(stop_cycle, rec.cycle - 40 + 30);
    EXPECT_LE(stop_cycle, rec.cycle - 40 + 31);

    // A line move inside the rows: changed and stopped in the same update.
    rec.events.clear();
    tap(KEY_DOWN);
    const std::string now = std::to_string(rec.cycle - 1);
    EXPECT_EQ(rec.events, (std::vector<std::string>{now + " changed 1", now + " stopped"}));
    EXPECT_EQ(menu->state, 1);

    // A page scroll: stopped once the rows are still.
    menu->set_all_items(games(100), 26, 0);
    rec.events.clear();
    tap(KEY_PGDN);
    const int changed_cycle = rec.cycle - 1;
    EXPECT_EQ(menu->state, 2);
    run(100);
    ASSERT_EQ(rec.events.size(), 2u);
    EXPECT_EQ(rec.events[0], std::to_string(changed_cycle) + " changed 52");
    const int stopped_cycle = std::stoi(rec.events[1]);
    // 26 rows: 13 units of 100 ms, 78 steps.
    EXPECT_GE(stopped_cycle - changed_cycle, 78);
    EXPECT_LE(stopped_cycle - changed_cycle, 79);
}

TEST_F(Menus, MenuKeysReachTheListenerOnlyWhenReady)
{
    HProbe* menu = make<HProbe>(200, 0, 399, 600);
    menu->unhide_all(0);
    run(2);
    rec.events.clear();
    // Quit and next in one update: both, quit first.
    key[KEY_ESC] = 1;
    key[KEY_RIGHT] = 1;
    key[KEY_LEFT] = 1;
    run(1);
    key[KEY_ESC] = 0;
    key[KEY_RIGHT] = 0;
    key[KEY_LEFT] = 0;
    const std::string c = std::to_string(rec.cycle - 1);
    EXPECT_EQ(rec.events, (std::vector<std::string>{c + " quit", c + " next", c + " previous"}));

    // Ignored while hiding, unhiding and moving.
    rec.events.clear();
    menu->hide_split(500);
    tap(KEY_ESC);
    menu->unhide_all(500);
    tap(KEY_RIGHT);
    run(40);
    menu->set_all_items(games(100), 26, 0);
    tap(KEY_PGDN);
    tap(KEY_LEFT);
    EXPECT_EQ(rec.count("quit") + rec.count("next") + rec.count("previous"), 0);
    run(100);
    tap(KEY_LEFT);
    EXPECT_EQ(rec.count("previous"), 1);

    // The select key passes the list's index on.
    tap(KEY_ENTER);
    EXPECT_EQ(rec.count("selected 52"), 1);

    // Without a listener the menu tells nobody.
    menu->set_listener(nullptr);
    rec.events.clear();
    tap(KEY_ESC);
    tap(KEY_DOWN);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(menu->get_selected_index(), 53u);
}

TEST_F(Menus, CentreSelectedHidesTheRestAndStops)
{
    HProbe* menu = make<HProbe>(200, 0, 399, 600);
    menu->set_all_items(games(100), 12, 10);
    menu->unhide_all(0);
    run(2);
    menu->center_selected_hide_others(500);
    EXPECT_EQ(menu->state, 3);
    rec.events.clear();
    run(40);
    EXPECT_EQ(menu->state, 0);
    EXPECT_GE(rec.count("stopped"), 8);
    const auto& rows = List_Peek::rows(menu->list);
    const Text_VC* centred = *std::next(rows.begin(), 2);
    EXPECT_EQ(Position::x_of(centred), 200);
    EXPECT_EQ(Position::y_of(centred), 46 + 554 / 2);
    EXPECT_EQ(Position::y_of(menu->title), -40);
    EXPECT_EQ(Position::y_of(menu->subtitle), -20);
}

TEST_F(Menus, HorizontalMenuGeometry)
{
    HProbe* menu = make<HProbe>(200, 0, 399, 600);
    EXPECT_EQ(text_height(font16), 16);
    EXPECT_EQ(std::make_pair(menu->title_x, menu->title_y), std::make_pair(200, 0));
    EXPECT_EQ(std::make_pair(menu->subtitle_x, menu->subtitle_y), std::make_pair(200, 20));
    EXPECT_EQ(std::make_pair(menu->title_hidden_x, menu->title_hidden_y), std::make_pair(200, -40));
    EXPECT_EQ(std::make_pair(menu->subtitle_hidden_x, menu->subtitle_hidden_y), std::make_pair(200, -20));
    EXPECT_EQ(std::make_pair(menu->bar_x, menu->bar_y), std::make_pair(200, 40));
    EXPECT_EQ(List_Peek::area(menu->list, 0), 200);
    EXPECT_EQ(List_Peek::area(menu->list, 1), 46);
    EXPECT_EQ(List_Peek::area(menu->list, 2), 399);
    EXPECT_EQ(List_Peek::area(menu->list, 3), 554);
    EXPECT_EQ(List_Peek::area(menu->list, 4), 27);

    menu->unhide_all(0);
    run(2);
    EXPECT_EQ(Position::x_of(menu->title), 200);
    EXPECT_EQ(Position::y_of(menu->title), 0);
    EXPECT_EQ(Position::y_of(menu->subtitle), 20);
    int i = 0;
    for (const Text_VC* row : List_Peek::rows(menu->list)) {
        EXPECT_EQ(Position::x_of(row), 200);
        EXPECT_EQ(Position::y_of(row), 46 + 20 * i++);
    }

    // The bar: a two-pixel black frame round the unselected colour, from
    // (200, 40) to (599, 46); title and subtitle take the colours too.
    const int yellow = makecol(255, 255, 0), blue = makecol(0, 0, 255), black = makecol(0, 0, 0);
    menu->set_unselected_colors(yellow, black);
    menu->set_titles("", "");
    BITMAP* target = create_bitmap(800, 600);
    clear_to_color(target, blue);
    menu->draw(target);
    for (int px : {200, 201, 598, 599})
        EXPECT_EQ(getpixel(target, px, 43), black) << px;
    for (int py : {40, 41, 45})
        EXPECT_EQ(getpixel(target, 400, py), black) << py;
    EXPECT_EQ(getpixel(target, 202, 42), yellow);
    EXPECT_EQ(getpixel(target, 597, 44), yellow);
    EXPECT_EQ(getpixel(target, 199, 43), blue);
    EXPECT_EQ(getpixel(target, 600, 43), blue);
    EXPECT_EQ(getpixel(target, 400, 39), blue);
    menu->set_titles("MAME", "");
    bool title_yellow = false;
    BITMAP* title_bitmap = menu->title->get_bitmap();
    for (int py = 0; py < title_bitmap->h; ++py)
        for (int px = 0; px < title_bitmap->w; ++px)
            title_yellow |= getpixel(title_bitmap, px, py) == yellow;
    EXPECT_TRUE(title_yellow);
    destroy_bitmap(target);
}

TEST_F(Menus, RotatedMenuGeometry)
{
    VProbe* menu = make<VProbe>(0, 0, 640, 480);
    EXPECT_EQ(std::make_pair(menu->title_x, menu->title_y), std::make_pair(0, 0));
    EXPECT_EQ(std::make_pair(menu->subtitle_x, menu->subtitle_y), std::make_pair(20, 0));
    EXPECT_EQ(std::make_pair(menu->title_hidden_x, menu->title_hidden_y), std::make_pair(-40, 0));
    EXPECT_EQ(std::make_pair(menu->subtitle_hidden_x, menu->subtitle_hidden_y), std::make_pair(-20, 0));
    EXPECT_EQ(std::make_pair(menu->bar_x, menu->bar_y), std::make_pair(40, 0));
    EXPECT_EQ(List_Peek::area(menu->list, 0), 46);
    EXPECT_EQ(List_Peek::area(menu->list, 1), 0);
    EXPECT_EQ(List_Peek::area(menu->list, 2), 594);
    EXPECT_EQ(List_Peek::area(menu->list, 3), 480);
    EXPECT_EQ(List_Peek::area(menu->list, 4), 29);
    menu->unhide_all(0);
    run(2);
    int i = 0;
    for (const Text_VC* column : List_Peek::rows(menu->list)) {
        EXPECT_EQ(Position::x_of(column), 46 + 20 * i++);
        EXPECT_EQ(Position::y_of(column), 0);
    }
    // Keys work the same in columns.
    tap(KEY_PGDN);
    EXPECT_EQ(menu->get_selected_index(), 28u);
}

TEST_F(Menus, HugeTitlesAndItemsKeepTheMenuRunning)
{
    HProbe* menu = make<HProbe>(200, 0, 399, 600);
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high += char(c);
    menu->set_titles(std::string(100000, 'M'), high + high);
    std::vector<Scrollable_Item> items;
    for (int i = 0; i < 60; ++i)
        items.emplace_back(i % 2 ? std::string(100000, char(0x80 + i)) : high);
    menu->set_all_items(items, 0, 0);
    menu->unhide_all(0);
    run(2);
    for (const Text_VC* view : {menu->title, menu->subtitle})
        EXPECT_LE(text_length(font16, view->get_contents()) + 4, 399);
    for (int i = 0; i < 3; ++i) {
        tap(KEY_PGDN);
        run(100);
    }
    EXPECT_EQ(menu->get_selected_index(), 59u);
    for (const Text_VC* row : List_Peek::rows(menu->list))
        EXPECT_LE(text_length(font16, row->get_contents()) + 4, 399);
}

// Both layouts over a darkened screen shot, with the antialiased TrueType
// font, saved for a look by eye.
TEST_F(Menus, RenderBothLayoutsOverAScreenShot)
{
    FONT* ttf = load_ttf_font(TTF_FILE, 16, TTF_SMOOTH_FULL);
    ASSERT_NE(ttf, nullptr);
    const std::string dir = views_test::output_dir();

    // A colourful picture to stand behind the menu.
    BITMAP* picture = create_bitmap(320, 240);
    for (int py = 0; py < 240; ++py)
        for (int px = 0; px < 320; ++px)
            putpixel(picture, px, py, makecol(px * 255 / 319, py * 255 / 239, 255 - px * 255 / 319));
    circlefill(picture, 160, 120, 60, makecol(255, 255, 255));
    const std::string shot_file = dir + "/menu_shot.png";
    ASSERT_EQ(save_bitmap(shot_file.c_str(), picture, nullptr), 0);
    destroy_bitmap(picture);

    Marvane::Screen_Shot shot(driver.engine);
    shot.set_prefer_integer_scaling(true);
    shot.set_bitmap(shot_file, fix(50), 0);

    std::vector<Scrollable_Item> items;
    const char* names[] = {"1942", "Bomb Jack", "Caf\xe9 R\xf6sti Racing", "Defender", "Donkey Kong",
                           "Galaga", "Gauntlet (rev 14)", "Moon Patrol", "Pac-Man", "Q*bert",
                           "Robotron: 2084", "Street Fighter II': Champion Edition (World 920513)",
                           "Xevious"};
    for (int i = 0; i < 40; ++i) {
        std::string text = names[i % 13];
        if (i >= 13) {
            text += ' ';
            text += std::to_string(i / 13 + 1);
        }
        items.emplace_back(text);
    }

    // Latin-1 names, as the program reads them: every byte one letter, so
    // the accented name is as wide as its plain spelling.
    EXPECT_EQ(text_length(ttf, names[2]), text_length(ttf, "Cafe Rosti Racing"));

    for (int layout = 0; layout < 2; ++layout) {
        std::unique_ptr<Marvane::Menu_View> menu;
        if (layout == 0)
            menu = std::make_unique<Marvane::HMenu_View>(driver.engine, ttf, 200, 0, 399, 600);
        else
            menu = std::make_unique<Marvane::VLMenu_View>(driver.engine, ttf, 0, 0, 800, 600);
        menu->set_titles("MAME", "Multiple Arcade Machine Emulator");
        menu->set_all_items(items, 4, 2);
        menu->unhide_all(0);
        driver.engine->get_root_container()->add_updatable(menu.get(), 400);
        run(2);
        driver.engine->get_root_container()->remove_updatable(menu.get());

        BITMAP* frame = create_bitmap(800, 600);
        shot.draw(frame);
        menu->draw(frame);
        const std::string out = dir + (layout == 0 ? "/menu_horizontal.png" : "/menu_rotated.png");
        EXPECT_EQ(save_bitmap(out.c_str(), frame, nullptr), 0);
        // The picture shows beside the horizontal menu.
        if (layout == 0) {
            EXPECT_NE(getpixel(frame, 100, 300), makecol(0, 0, 0));
        }
        destroy_bitmap(frame);
    }
    destroy_font(ttf);
}

}  // namespace
