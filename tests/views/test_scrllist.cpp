// Scrollable lists on a real engine: paging and clamping, cancelling keys,
// turbo, the mouse quantum, recycled rows and the two layouts.
#include <list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/joystick.h"
#include "engine_driver.h"
#include "views/movetext.h"
#include "views/scrllist.h"

using Marvane::Scrollable_Item;
using Marvane::Scrollable_List_VC;
using Marvane::Text_VC;
using views_test::Engine_Driver;

namespace {

template <class Layout>
class Probe : public Layout {
public:
    using Layout::Layout;
    using Scrollable_List_VC::get_index_coordinates;
    using Scrollable_List_VC::get_joystick_event;
    using Scrollable_List_VC::joystick_detected;
    using Scrollable_List_VC::offscreen_views;
    using Scrollable_List_VC::onscreen_views;
    using Scrollable_List_VC::page_down_turbo_count;
    using Scrollable_List_VC::page_up_turbo_count;
    using Scrollable_List_VC::state;
    using Scrollable_List_VC::visible_rows;

    std::vector<std::string> row_texts() const
    {
        std::vector<std::string> texts;
        for (const Text_VC* view : onscreen_views)
            texts.push_back(view->get_contents());
        return texts;
    }
};
using HProbe = Probe<Marvane::Scrollable_HList_VC>;
using VProbe = Probe<Marvane::Scrollable_VLList_VC>;

// Reads where a movable bitmap is.
struct Position : Marvane::Movable_Bitmap {
    static int x_of(const Marvane::Movable_Bitmap* b) { return fixtoi(b->*(&Position::x)); }
    static int y_of(const Marvane::Movable_Bitmap* b) { return fixtoi(b->*(&Position::y)); }
};

struct Recorder : Marvane::Scrollable_List_Listener {
    std::vector<std::string> events;
    std::vector<unsigned> visible;
    std::function<void(unsigned)> on_visible;
    std::function<void(unsigned)> on_changed;

    void selection_changed(unsigned index) override
    {
        events.push_back("changed " + std::to_string(index));
        if (on_changed)
            on_changed(index);
    }
    void item_selected(unsigned index) override { events.push_back("selected " + std::to_string(index)); }
    void item_visible(unsigned index) override
    {
        visible.push_back(index);
        if (on_visible)
            on_visible(index);
    }
    void clear()
    {
        events.clear();
        visible.clear();
    }
};

// Registered in place of the list, to see what its update returned.
struct Result_Tap : GameEngine::Updatable {
    GameEngine::Updatable* inner = nullptr;
    bool last = false;
    bool update() override { return last = inner->update(); }
};

std::vector<Scrollable_Item> games(int n)
{
    std::vector<Scrollable_Item> items;
    for (int i = 0; i < n; ++i)
        items.emplace_back("Game " + std::to_string(i));
    return items;
}

std::vector<std::string> names(int from, int to)
{
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i)
        out.push_back("Game " + std::to_string(i));
    return out;
}

constexpr int LIST_X = 0, LIST_Y = 100, LIST_W = 400;

struct Lists : ::testing::Test {
    Engine_Driver driver;
    FONT* font16 = views_test::make_font_16();
    std::unique_ptr<HProbe> list;
    Recorder rec;
    Result_Tap tap_result;

    // A list of `rows` rows (20 pixels each) over n games, ready for input.
    void make(int rows, int n, unsigned selected, unsigned first_shown)
    {
        list = std::make_unique<HProbe>(driver.engine, font16, LIST_X, LIST_Y, LIST_W, rows * 20);
        list->set_line_up_key(KEY_UP);
        list->set_line_down_key(KEY_DOWN);
        list->set_page_up_key(KEY_PGUP);
        list->set_page_down_key(KEY_PGDN);
        list->set_select_key(KEY_ENTER);
        list->set_listener(&rec);
        list->set_all_items(games(n), selected, first_shown);
        tap_result.inner = list.get();
        driver.engine->get_root_container()->add_updatable(&tap_result, 400);
        driver.engine->get_root_container()->add_drawable(list.get(), 400);
        list->unhide_all(0);
        driver.run_cycles(1);
        ASSERT_EQ(list->state, 1);
        rec.clear();
    }

    // Cycles until the list is ready again.
    int cycles_until_ready(int limit = 200)
    {
        int n = 0;
        while (list->state != 1 && n < limit) {
            driver.run_cycles(1);
            ++n;
        }
        return n;
    }

    void expect_rows_in_slots()
    {
        int i = 0;
        for (const Text_VC* view : list->onscreen_views) {
            EXPECT_EQ(Position::x_of(view), LIST_X) << "row " << i;
            EXPECT_EQ(Position::y_of(view), LIST_Y + 20 * i) << "row " << i;
            ++i;
        }
    }

    void TearDown() override
    {
        if (list) {
            driver.engine->get_root_container()->remove_updatable(&tap_result);
            driver.engine->get_root_container()->remove_drawable(list.get());
        }
        list.reset();
        destroy_font(font16);
        for (int i = 0; i < KEY_MAX; ++i)
            key[i] = 0;
    }
};

TEST_F(Lists, PageUpScrollsAPageFromTheFirstShownRowAndGlidesHalfASecond)
{
    make(10, 100, 20, 20);
    ASSERT_EQ(list->visible_rows, 10);
    const int polls_before = driver.polls_in_cycles;
    driver.tap(KEY_PGUP);
    EXPECT_EQ(list->get_selected_index(), 11u);
    EXPECT_EQ(list->get_first_shown_index(), 11u);
    EXPECT_EQ(list->row_texts(), names(11, 20));
    EXPECT_EQ(rec.events, std::vector<std::string>{"changed 11"});
    // The rows coming in are announced from the one just above the old
    // first row upward, and the music is polled after each.
    EXPECT_EQ(rec.visible, (std::vector<unsigned>{19, 18, 17, 16, 15, 14, 13, 12, 11}));
    EXPECT_EQ(driver.polls_in_cycles - polls_before, 9);
    EXPECT_EQ(list->state, 2);
    const int glide = cycles_until_ready();
    EXPECT_GE(glide, 29);
    EXPECT_LE(glide, 31);
    expect_rows_in_slots();
}

TEST_F(Lists, PageUpInsideThePageOnlyMovesTheSelection)
{
    make(10, 100, 25, 20);
    driver.tap(KEY_PGUP);
    EXPECT_EQ(list->get_selected_index(), 20u);
    EXPECT_EQ(list->get_first_shown_index(), 20u);
    EXPECT_EQ(list->state, 1);
    EXPECT_TRUE(rec.visible.empty());
    EXPECT_EQ(rec.events, std::vector<std::string>{"changed 20"});
    EXPECT_TRUE(tap_result.last);
}

TEST_F(Lists, PagingClampsAtBothEnds)
{
    make(10, 100, 3, 3);
    driver.tap(KEY_PGUP);
    EXPECT_EQ(list->get_selected_index(), 0u);
    EXPECT_EQ(list->get_first_shown_index(), 0u);
    EXPECT_EQ(list->row_texts(), names(0, 9));
    cycles_until_ready();
    expect_rows_in_slots();

    list->set_all_items(games(100), 95, 86);
    rec.clear();
    driver.tap(KEY_PGDN);
    EXPECT_EQ(list->get_first_shown_index(), 90u);
    EXPECT_EQ(list->get_selected_index(), 99u);
    EXPECT_EQ(list->row_texts(), names(90, 99));
    EXPECT_EQ(rec.visible, (std::vector<unsigned>{96, 97, 98, 99}));
    cycles_until_ready();
    expect_rows_in_slots();
    // Nothing below the last item.
    rec.clear();
    driver.tap(KEY_PGDN);
    driver.tap(KEY_DOWN);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(list->get_selected_index(), 99u);
}

TEST_F(Lists, FiveItemsInTenRows)
{
    make(10, 5, 2, 0);
    std::vector<std::string> rows = names(0, 4);
    rows.resize(10);
    EXPECT_EQ(list->row_texts(), rows);
    driver.tap(KEY_PGDN);
    EXPECT_EQ(list->get_selected_index(), 4u);
    EXPECT_EQ(list->state, 1);
    driver.tap(KEY_PGDN);
    driver.tap(KEY_DOWN);
    EXPECT_EQ(list->get_selected_index(), 4u);
    EXPECT_EQ(rec.events, std::vector<std::string>{"changed 4"});
    EXPECT_EQ(list->row_texts(), rows);
}

TEST_F(Lists, SetAllItemsClampsTheIndices)
{
    make(10, 100, 50, 10);
    EXPECT_EQ(list->get_first_shown_index(), 10u);
    EXPECT_EQ(list->get_selected_index(), 19u);

    // First shown beyond the end: the last item alone, the rest blank.
    list->set_all_items(games(100), 50, 200);
    EXPECT_EQ(list->get_first_shown_index(), 99u);
    EXPECT_EQ(list->get_selected_index(), 99u);
    std::vector<std::string> rows(10);
    rows[0] = "Game 99";
    EXPECT_EQ(list->row_texts(), rows);

    // An empty list is valid: blank rows, keys do nothing.
    list->set_all_items({}, 5, 5);
    EXPECT_EQ(list->get_selected_index(), 0u);
    EXPECT_EQ(list->get_first_shown_index(), 0u);
    EXPECT_EQ(list->row_texts(), std::vector<std::string>(10));
    rec.clear();
    for (int k : {KEY_DOWN, KEY_UP, KEY_PGDN, KEY_PGUP, KEY_ENTER})
        driver.tap(k);
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(Lists, OppositeKeysInOneUpdateCancel)
{
    make(10, 100, 5, 0);
    key[KEY_UP] = 1;
    key[KEY_DOWN] = 1;
    driver.run_cycles(1);
    key[KEY_UP] = 0;
    key[KEY_DOWN] = 0;
    key[KEY_PGUP] = 1;
    key[KEY_PGDN] = 1;
    driver.run_cycles(1);
    key[KEY_PGUP] = 0;
    key[KEY_PGDN] = 0;
    driver.run_cycles(1);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(list->get_selected_index(), 5u);
    EXPECT_FALSE(tap_result.last);
}

TEST_F(Lists, LineMovesScrollOneRowAtTheEdges)
{
    make(10, 100, 9, 0);
    driver.tap(KEY_DOWN);
    EXPECT_EQ(list->get_selected_index(), 10u);
    EXPECT_EQ(list->get_first_shown_index(), 1u);
    EXPECT_EQ(rec.visible, std::vector<unsigned>{10});
    const int glide = cycles_until_ready();
    EXPECT_GE(glide, 5);
    EXPECT_LE(glide, 7);
    expect_rows_in_slots();

    driver.tap(KEY_UP);  // within the page
    EXPECT_EQ(list->get_selected_index(), 9u);
    EXPECT_EQ(list->state, 1);
    for (int i = 0; i < 8; ++i)
        driver.tap(KEY_UP);
    EXPECT_EQ(list->get_selected_index(), 1u);
    EXPECT_EQ(list->get_first_shown_index(), 1u);
    rec.clear();
    driver.tap(KEY_UP);
    EXPECT_EQ(list->get_selected_index(), 0u);
    EXPECT_EQ(list->get_first_shown_index(), 0u);
    EXPECT_EQ(rec.visible, std::vector<unsigned>{0});
    EXPECT_EQ(list->row_texts(), names(0, 9));
    cycles_until_ready();
    driver.tap(KEY_UP);
    EXPECT_EQ(list->get_selected_index(), 0u);
}

TEST_F(Lists, ItemVisibleComesBeforeEachNewRowIsFilled)
{
    // The listener replaces each item as it becomes visible; the row must
    // show the replacement, so the call came first.
    rec.on_visible = [this](unsigned i) { list->set_item_at(Scrollable_Item("New " + std::to_string(i)), i); };
    make(10, 100, 9, 0);
    EXPECT_EQ(list->row_texts().front(), "New 0");
    EXPECT_EQ(list->row_texts().back(), "New 9");
    driver.tap(KEY_DOWN);
    EXPECT_EQ(list->row_texts().back(), "New 10");
    EXPECT_EQ(list->get_item_at(10).text, "New 10");
    cycles_until_ready();
    driver.tap(KEY_PGDN);
    EXPECT_EQ(rec.visible, (std::vector<unsigned>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(list->row_texts().back(), "New 19");

    // set_item_at beyond the items changes nothing.
    list->set_item_at(Scrollable_Item("Beyond"), 100);
    EXPECT_EQ(list->get_item_at(99).text, "Game 99");
}

TEST_F(Lists, SelectReportsTheSelectionAndMovesNothing)
{
    make(10, 100, 7, 3);
    driver.tap(KEY_ENTER);
    EXPECT_EQ(rec.events, std::vector<std::string>{"selected 7"});
    EXPECT_EQ(list->get_selected_index(), 7u);
    EXPECT_FALSE(tap_result.last);
    // One-time: held down, it reports once.
    driver.run_cycles(1);
    key[KEY_ENTER] = 1;
    driver.run_cycles(30);
    key[KEY_ENTER] = 0;
    EXPECT_EQ(rec.events.size(), 2u);
}

TEST_F(Lists, KeysAreIgnoredUnlessReady)
{
    make(10, 100, 0, 0);
    driver.tap(KEY_PGDN);
    driver.tap(KEY_PGDN);  // scrolling now
    ASSERT_EQ(list->state, 2);
    driver.tap(KEY_DOWN);
    EXPECT_EQ(list->get_selected_index(), 18u);
    cycles_until_ready();

    list->hide_left(500);
    driver.tap(KEY_DOWN);
    list->hide_left(0);
    driver.run_cycles(1);
    ASSERT_EQ(list->state, 0);
    driver.tap(KEY_DOWN);
    list->unhide_all(500);
    driver.tap(KEY_DOWN);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"changed 9", "changed 18"}));
    EXPECT_EQ(list->state, 4);
    cycles_until_ready();
    expect_rows_in_slots();
    driver.tap(KEY_DOWN);
    EXPECT_EQ(list->get_selected_index(), 19u);
}

TEST_F(Lists, HeldPageKeyTurnsInstantAfterTheThreshold)
{
    make(10, 1000, 9, 0);
    std::vector<bool> instant;
    rec.on_changed = [&](unsigned) { instant.push_back(list->are_all_items_stopped()); };
    auto hold = [&](int scancode, int cycles) {
        instant.clear();
        key[scancode] = 1;
        driver.run_cycles(cycles);
        key[scancode] = 0;
    };
    hold(KEY_PGDN, 300);
    ASSERT_GE(instant.size(), 8u);
    EXPECT_EQ(std::vector<bool>(instant.begin(), instant.begin() + 8),
              (std::vector<bool>{false, false, false, false, true, true, true, true}));
    EXPECT_GT(list->page_down_turbo_count, 3);

    // Releasing resets the count: the next hold glides again before it
    // turns instant.
    driver.run_cycles(40);
    EXPECT_EQ(list->page_down_turbo_count, 0);
    hold(KEY_PGDN, 200);
    ASSERT_GE(instant.size(), 5u);
    EXPECT_EQ(std::vector<bool>(instant.begin(), instant.begin() + 5),
              (std::vector<bool>{false, false, false, true, true}));

    // Turbo switched off: every page move glides.
    driver.run_cycles(40);
    list->set_turbo_scroll_threshold(-1);
    hold(KEY_PGDN, 300);
    ASSERT_GE(instant.size(), 6u);
    EXPECT_EQ(instant, std::vector<bool>(instant.size(), false));

    // Page up turns instant the same way, from the first shown row.
    driver.run_cycles(40);
    list->set_turbo_scroll_threshold(3);
    list->set_all_items(games(1000), 500, 500);
    hold(KEY_PGUP, 300);
    ASSERT_GE(instant.size(), 8u);
    EXPECT_EQ(std::vector<bool>(instant.begin(), instant.begin() + 8),
              (std::vector<bool>{false, false, false, false, true, true, true, true}));
    EXPECT_GT(list->page_up_turbo_count, 3);
}

// Only the key's own repeats count towards turbo: with the page-down key
// held but not repeating yet, each page move of the stick counts 1 and
// glides.
TEST_F(Lists, JoystickPageMovesCountOneAndNeverTurnInstant)
{
    const int saved_joysticks = num_joysticks;
    num_joysticks = 1;
    joy[0] = JOYSTICK_INFO{};
    joy[0].num_sticks = 1;
    joy[0].stick[0].num_axis = 2;
    make(10, 1000, 9, 0);
    ASSERT_TRUE(list->joystick_detected);
    list->set_page_down_joy(3);
    list->set_key_repeat_delay(100000, 100000);
    // The engine watches the stick only when it found one at its start.
    auto* sticks = dynamic_cast<GameEngine::Joystick_Manager*>(driver.engine->get_joystick_factory());
    ASSERT_NE(sticks, nullptr);
    driver.engine->get_root_container()->add_updatable(sticks, 0);
    std::vector<int> counts;
    std::vector<bool> instant;
    rec.on_changed = [&](unsigned) {
        counts.push_back(list->page_down_turbo_count);
        instant.push_back(list->are_all_items_stopped());
    };
    key[KEY_PGDN] = 1;
    joy[0].stick[0].axis[1].d2 = 1;
    driver.run_cycles(300);
    joy[0].stick[0].axis[1].d2 = 0;
    key[KEY_PGDN] = 0;
    driver.engine->get_root_container()->remove_updatable(sticks);
    joy[0] = JOYSTICK_INFO{};
    num_joysticks = saved_joysticks;
    ASSERT_GE(counts.size(), 6u);
    EXPECT_EQ(counts, [&] {
        std::vector<int> one(counts.size(), 1);
        one[0] = 0;
        return one;
    }());
    EXPECT_EQ(instant, std::vector<bool>(instant.size(), false));
}

TEST_F(Lists, MouseMovesOneLinePerQuantumAndKeepsTheRemainder)
{
    make(10, 100, 5, 0);
    GameEngine::Engine* engine = driver.engine;
    list->set_mouse_input_axis(Marvane::MOUSE_INPUT_PLUS_Y);
    list->set_mouse_input_threshold(250);
    engine->set_infinite_mouse_x(77);
    engine->set_infinite_mouse_y(600);
    driver.run_cycles(1);
    EXPECT_EQ(list->get_selected_index(), 6u);  // one line however far
    EXPECT_EQ(engine->get_infinite_mouse_y(), 100);
    EXPECT_EQ(engine->get_infinite_mouse_x(), 0);
    driver.run_cycles(1);
    EXPECT_EQ(list->get_selected_index(), 6u);
    EXPECT_EQ(engine->get_infinite_mouse_y(), 100);
    engine->set_infinite_mouse_y(250);
    driver.run_cycles(1);
    EXPECT_EQ(list->get_selected_index(), 7u);
    EXPECT_EQ(engine->get_infinite_mouse_y(), 0);

    // The other direction of the other axis: moving right moves up.
    list->set_mouse_input_axis(Marvane::MOUSE_INPUT_MINUS_X);
    engine->set_infinite_mouse_y(40);
    engine->set_infinite_mouse_x(-260);
    driver.run_cycles(1);
    EXPECT_EQ(list->get_selected_index(), 8u);
    EXPECT_EQ(engine->get_infinite_mouse_x(), -10);
    EXPECT_EQ(engine->get_infinite_mouse_y(), 0);

    // Mouse scrolls are never animated.
    list->set_all_items(games(100), 0, 0);
    engine->set_infinite_mouse_x(300);
    driver.run_cycles(1);
    EXPECT_EQ(list->get_selected_index(), 0u);  // already at the top
    list->set_all_items(games(100), 9, 0);
    list->set_mouse_input_axis(Marvane::MOUSE_INPUT_PLUS_X);
    engine->set_infinite_mouse_x(300);
    driver.run_cycles(1);
    EXPECT_EQ(list->get_first_shown_index(), 1u);
    EXPECT_TRUE(list->are_all_items_stopped());

    // No axis: the position is left alone.
    list->set_mouse_input_axis(Marvane::MOUSE_INPUT_NONE);
    engine->set_infinite_mouse_x(999);
    driver.run_cycles(1);
    EXPECT_EQ(engine->get_infinite_mouse_x(), 999);
    EXPECT_EQ(list->get_selected_index(), 10u);
    // A threshold below 1 cannot divide by zero.
    list->set_mouse_input_axis(Marvane::MOUSE_INPUT_PLUS_X);
    list->set_mouse_input_threshold(0);
    engine->set_infinite_mouse_x(5);
    driver.run_cycles(1);
    EXPECT_EQ(engine->get_infinite_mouse_x(), 0);
}

TEST_F(Lists, ScrollingRecyclesTheSameRows)
{
    make(10, 100, 0, 0);
    std::set<Text_VC*> before(list->onscreen_views.begin(), list->onscreen_views.end());
    before.insert(list->offscreen_views.begin(), list->offscreen_views.end());
    ASSERT_EQ(before.size(), 20u);
    for (int i = 0; i < 6; ++i) {
        driver.tap(i < 4 ? KEY_PGDN : KEY_PGUP);
        cycles_until_ready();
        driver.tap(KEY_DOWN);
        cycles_until_ready();
    }
    std::set<Text_VC*> after(list->onscreen_views.begin(), list->onscreen_views.end());
    after.insert(list->offscreen_views.begin(), list->offscreen_views.end());
    EXPECT_EQ(before, after);
    EXPECT_EQ(list->onscreen_views.size(), 10u);
    EXPECT_EQ(list->offscreen_views.size(), 10u);
    expect_rows_in_slots();
    const unsigned first = list->get_first_shown_index();
    EXPECT_EQ(list->row_texts(), names(int(first), int(first) + 9));
}

TEST_F(Lists, RowsAreClippedToTheBand)
{
    make(10, 100, 10, 10);
    BITMAP* target = create_bitmap(800, 600);
    const int ground = makecol(10, 20, 30);
    driver.tap(KEY_UP);  // a row comes in from above the band
    ASSERT_EQ(list->state, 2);
    clear_to_color(target, ground);
    list->draw(target);
    bool above = false, inside = false;
    for (int py = 0; py < 600; ++py)
        for (int px = 0; px < 800; ++px)
            if (getpixel(target, px, py) != ground) {
                if (py < LIST_Y)
                    above = true;
                else if (py <= LIST_Y + 200)
                    inside = true;
            }
    EXPECT_FALSE(above);
    EXPECT_TRUE(inside);
    destroy_bitmap(target);
}

TEST_F(Lists, WithoutAJoystickNoEventIsMade)
{
    make(10, 100, 0, 0);
    ASSERT_FALSE(driver.engine->get_joystick_factory()->is_joystick_detected());
    for (int n = -1; n <= 6; ++n)
        EXPECT_EQ(list->get_joystick_event(n), nullptr) << n;
    list->set_select_joy(0);
    list->set_line_up_joy(2);
    list->set_line_down_joy(3);
    list->set_page_up_joy(4);
    list->set_page_down_joy(5);
    list->set_joystick_repeat_delay(100, 50);
    driver.run_cycles(5);
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(Lists, JoystickEventNumbersNameButtonsAndStickEnds)
{
    make(10, 100, 0, 0);
    // One joystick with two buttons and one two-axis stick, as Allegro
    // would report it; the list is told one was found.
    const int saved_joysticks = num_joysticks;
    num_joysticks = 1;
    joy[0] = JOYSTICK_INFO{};
    joy[0].num_buttons = 2;
    joy[0].num_sticks = 1;
    joy[0].stick[0].num_axis = 2;
    list->joystick_detected = true;
    struct Input {
        const char* name;
        int* flag;
    };
    const Input inputs[] = {
        {"button 0", &joy[0].button[0].b},       {"button 1", &joy[0].button[1].b},
        {"up", &joy[0].stick[0].axis[1].d1},     {"down", &joy[0].stick[0].axis[1].d2},
        {"left", &joy[0].stick[0].axis[0].d1},   {"right", &joy[0].stick[0].axis[0].d2},
    };
    for (int n = 0; n < 6; ++n) {
        std::unique_ptr<GameEngine::Joystick_Event> event(list->get_joystick_event(n));
        ASSERT_NE(event, nullptr) << n;
        // Exactly its own input triggers it.
        for (int i = 0; i < 6; ++i) {
            *inputs[i].flag = 1;
            EXPECT_EQ(event->is_triggered(), i == n) << "event " << n << ", " << inputs[i].name;
            *inputs[i].flag = 0;
        }
    }
    EXPECT_EQ(list->get_joystick_event(6), nullptr);
    EXPECT_EQ(list->get_joystick_event(-1), nullptr);
    list->joystick_detected = false;
    joy[0] = JOYSTICK_INFO{};
    num_joysticks = saved_joysticks;
}

TEST_F(Lists, HugeAndHighBitTextsAreCutToTheRow)
{
    std::vector<Scrollable_Item> items;
    items.emplace_back(std::string(100000, 'W'));
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high += char(c);
    items.emplace_back(high);
    items.emplace_back(high + high + high);
    items.emplace_back(std::string(100000, '\xE9'));
    items.emplace_back(std::string(100000, '\xF0') + "end");
    for (int i = 0; i < 20; ++i)
        items.push_back(items[i % 5]);
    make(3, 1, 0, 0);
    list->set_all_items(items, 0, 0);
    BITMAP* target = create_bitmap(800, 600);
    for (int step = 0; step < 30; ++step) {
        for (const Text_VC* view : list->onscreen_views) {
            const char* text = view->get_contents();
            EXPECT_LT(std::string(text).size(), 256u);
            EXPECT_LE(text_length(font16, text) + 4, LIST_W);
        }
        driver.tap(KEY_DOWN);
        cycles_until_ready();
        list->draw(target);
    }
    EXPECT_EQ(list->get_selected_index(), unsigned(items.size() - 1));
    destroy_bitmap(target);
}

TEST_F(Lists, BothLayoutsPlaceAndHideTheirRows)
{
    // Rows stacked downward: hidden a screen width to the sides.
    make(10, 100, 0, 0);
    int px = 0, py = 0;
    list->get_index_coordinates(-1, &px, &py);
    EXPECT_EQ(px, LIST_X);
    EXPECT_EQ(py, LIST_Y - 20);
    list->hide_split(0);
    const Text_VC* first = list->onscreen_views.front();
    const Text_VC* second = *std::next(list->onscreen_views.begin());
    EXPECT_EQ(Position::x_of(first), LIST_X - 800);
    EXPECT_EQ(Position::x_of(second), LIST_X + 800);
    EXPECT_EQ(Position::y_of(second), LIST_Y + 20);
    for (const Text_VC* view : list->offscreen_views)
        EXPECT_EQ(Position::y_of(view), -20);
    list->center_selected_hide_others(0);
    EXPECT_EQ(Position::y_of(first), LIST_Y + 100);
    EXPECT_EQ(Position::x_of(first), LIST_X);
    EXPECT_EQ(Position::x_of(second), LIST_X + 800);

    // Rotated columns side by side: hidden past the bottom and top edges.
    VProbe columns(driver.engine, font16, 100, 0, 205, 600);
    EXPECT_EQ(columns.visible_rows, 10);
    columns.set_all_items(games(30), 0, 0);
    columns.unhide_all(0);
    int i = 0;
    for (const Text_VC* view : columns.onscreen_views) {
        EXPECT_EQ(Position::x_of(view), 100 + 20 * i);
        EXPECT_EQ(Position::y_of(view), 0);
        ++i;
    }
    columns.hide_left(0);
    EXPECT_EQ(Position::y_of(columns.onscreen_views.back()), 600);
    EXPECT_EQ(Position::x_of(columns.onscreen_views.back()), 100 + 20 * 9);
    columns.hide_right(0);
    EXPECT_EQ(Position::y_of(columns.onscreen_views.front()), -600);
    for (const Text_VC* view : columns.offscreen_views)
        EXPECT_EQ(Position::x_of(view), -20);
}

// A page down from the last of four rows and a page up from the first: the
// rows that leave glide on, in order, to the slots beyond the edge they left
// by, and join the spares at the end the next scroll that way takes from
// last.
template <class List>
void page_down_and_up(Engine_Driver& driver, List& list)
{
    list.set_page_up_key(KEY_PGUP);
    list.set_page_down_key(KEY_PGDN);
    list.set_all_items(games(100), 3, 0);
    driver.engine->get_root_container()->add_updatable(&list, 400);
    list.unhide_all(0);
    driver.run_cycles(1);
    const std::vector<Text_VC*> a(list.onscreen_views.begin(), list.onscreen_views.end());
    const std::vector<Text_VC*> b(list.offscreen_views.begin(), list.offscreen_views.end());
    ASSERT_EQ(a.size(), 4u);
    auto rows = [](const std::list<Text_VC*>& views) { return std::vector<Text_VC*>(views.begin(), views.end()); };
    auto at = [&](const std::vector<Text_VC*>& views) {
        std::vector<std::pair<int, int>> out;
        for (const Text_VC* view : views)
            out.emplace_back(Position::x_of(view), Position::y_of(view));
        return out;
    };
    auto slots = [&](int first, int n) {
        std::vector<std::pair<int, int>> out(n);
        for (int i = 0; i < n; ++i)
            list.get_index_coordinates(first + i, &out[i].first, &out[i].second);
        return out;
    };

    driver.tap(KEY_PGDN);
    driver.run_cycles(60);
    EXPECT_EQ(rows(list.onscreen_views), (std::vector<Text_VC*>{a[3], b[0], b[1], b[2]}));
    EXPECT_EQ(rows(list.offscreen_views), (std::vector<Text_VC*>{b[3], a[0], a[1], a[2]}));
    EXPECT_EQ(at({a[0], a[1], a[2]}), slots(-3, 3));

    driver.tap(KEY_PGUP);  // to the first shown row
    driver.tap(KEY_PGUP);
    driver.run_cycles(60);
    EXPECT_EQ(list.row_texts(), names(0, 3));
    EXPECT_EQ(rows(list.onscreen_views), a);
    EXPECT_EQ(rows(list.offscreen_views), b);
    EXPECT_EQ(at({b[0], b[1], b[2]}), slots(4, 3));
    driver.engine->get_root_container()->remove_updatable(&list);
}

TEST_F(Lists, RowsLeavingAScrollGlideOnAndWaitInOrderInBothLayouts)
{
    HProbe rows(driver.engine, font16, LIST_X, LIST_Y, LIST_W, 80);
    page_down_and_up(driver, rows);
    VProbe columns(driver.engine, font16, 100, 0, 80, 600);
    page_down_and_up(driver, columns);
}

// A refill with what the rows already show (three times at start-up) must
// not redraw them, but any change of text, icon or colour must.
TEST_F(Lists, RefillRedrawsOnlyRowsThatChange)
{
    make(5, 100, 0, 0);
    std::vector<BITMAP*> rows;
    for (const Text_VC* view : list->onscreen_views)
        rows.push_back(view->get_bitmap());
    const int mark = makecol(1, 2, 3);
    auto scribble = [&] {
        for (BITMAP* row : rows)
            putpixel(row, 0, 0, mark);
    };
    auto redrawn = [&] {
        std::vector<bool> out;
        for (BITMAP* row : rows)
            out.push_back(getpixel(row, 0, 0) != mark);
        return out;
    };
    const std::vector<bool> none(5, false);

    scribble();
    list->set_all_items(games(100), 0, 0);
    list->set_selected_colors(makecol(0, 0, 0), makecol(255, 255, 255));
    EXPECT_EQ(redrawn(), none);

    std::vector<Scrollable_Item> changed = games(100);
    changed[1].text = "Other";
    BITMAP* icon = create_bitmap(4, 4);
    clear_to_color(icon, makecol(0, 255, 0));
    changed[3].icon = icon;
    list->set_all_items(std::move(changed), 0, 0);
    EXPECT_EQ(redrawn(), (std::vector<bool>{false, true, false, true, false}));
    EXPECT_EQ(list->row_texts()[1], "Other");

    scribble();
    list->set_all_items(games(100), 0, 0);  // back to the first texts, no icon
    EXPECT_EQ(redrawn(), (std::vector<bool>{false, true, false, true, false}));
    EXPECT_EQ(list->row_texts()[1], "Game 1");

    scribble();
    list->set_selected_colors(makecol(255, 0, 0), makecol(255, 255, 255));
    EXPECT_EQ(redrawn(), (std::vector<bool>{true, false, false, false, false}));
    scribble();
    list->set_all_items(games(100), 2, 0);  // the selection moves: two rows change colour
    EXPECT_EQ(redrawn(), (std::vector<bool>{true, false, true, false, false}));
    destroy_bitmap(icon);
}

}  // namespace
