// Scrollable lists: a window of rows (or rotated columns) over a vector of
// items, driven by keys, joystick and one mouse axis.
#pragma once

#include <allegro.h>

#include <functional>
#include <list>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace GameEngine {
class Keypress_Watcher;
class Joystick_Watcher;
class Joystick_Event;
}  // namespace GameEngine

namespace Marvane {

class Text_VC;

// One item of a list, copied into the list.
struct Scrollable_Item {
    Scrollable_Item() = default;
    Scrollable_Item(const std::string& text, BITMAP* icon = nullptr) : text(text), icon(icon) {}

    std::string text;
    BITMAP* icon = nullptr;  // not owned; null for none
};

// The mouse axis that scrolls a list. The "plus" directions move the
// selection down the list.
enum Mouse_Input_Axis {
    MOUSE_INPUT_NONE = 0,
    MOUSE_INPUT_PLUS_X = 1,
    MOUSE_INPUT_MINUS_X = 2,
    MOUSE_INPUT_PLUS_Y = 3,
    MOUSE_INPUT_MINUS_Y = 4
};

// Joystick event numbers understood by the set_*_joy operations:
// 0 button 0, 1 button 1, 2 stick up, 3 stick down, 4 stick left,
// 5 stick right (all on joystick 0, stick 0); anything else is no event.

class Scrollable_List_Listener {
public:
    virtual ~Scrollable_List_Listener() = default;
    virtual void selection_changed(unsigned index) = 0;
    virtual void item_selected(unsigned index) = 0;
    // Called just before a row is filled with the item, so the listener may
    // still replace it with set_item_at.
    virtual void item_visible(unsigned index) = 0;
};

class Null_Scrollable_List_Listener final : public Scrollable_List_Listener {
public:
    void selection_changed(unsigned) override {}
    void item_selected(unsigned) override {}
    void item_visible(unsigned) override {}
};

class Scrollable_List_VC : public GameEngine::Updatable, public GameEngine::Drawable {
public:
    ~Scrollable_List_VC() override;
    bool update() override;
    void draw(BITMAP* target) override;

    void set_all_items(const std::vector<Scrollable_Item>& items, unsigned selected, unsigned first_shown);
    // The same, taking the items over instead of copying them (a list of
    // tens of thousands of games is refilled at every start).
    void set_all_items(std::vector<Scrollable_Item>&& items, unsigned selected, unsigned first_shown);
    void set_item_at(const Scrollable_Item& item, unsigned index);
    Scrollable_Item& get_item_at(unsigned index);
    unsigned get_selected_index() const;
    unsigned get_first_shown_index() const;
    void set_listener(Scrollable_List_Listener* listener);

    void set_selected_colors(int fg, int outline);
    void set_unselected_colors(int fg, int outline);

    void set_line_up_key(int scancode);
    void set_line_down_key(int scancode);
    void set_page_up_key(int scancode);
    void set_page_down_key(int scancode);
    void set_select_key(int scancode);
    void set_key_repeat_delay(int initial_ms, int repeat_ms);

    void set_select_joy(int event_number);
    void set_line_up_joy(int event_number);
    void set_line_down_joy(int event_number);
    void set_page_up_joy(int event_number);
    void set_page_down_joy(int event_number);
    void set_joystick_repeat_delay(int initial_ms, int repeat_ms);

    void set_mouse_input_axis(Mouse_Input_Axis axis);
    void set_mouse_input_threshold(int threshold);
    void set_use_animations(bool use);
    void set_turbo_scroll_threshold(int threshold);

    void hide_split(int ms);
    void hide_left(int ms);
    void hide_right(int ms);
    void center_selected_hide_others(int ms);
    void unhide_all(int ms);
    bool are_all_items_stopped() const;

protected:
    Scrollable_List_VC();
    // Run by each layout's constructor, once its own create_view_components
    // is reachable.
    void initialize(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height);
    virtual void create_view_components() = 0;

    bool handle_input();
    bool disable_scroll_delay() const;
    int get_mouse_input_quantum();
    void move_selection_up(unsigned n, unsigned scroll);
    void move_selection_down(unsigned n, unsigned scroll);
    void update_visible_items();
    void update_offscreen_items();
    void hide_offscreen_items();
    void get_index_coordinates(int i, int* px, int* py) const;
    GameEngine::Keypress_Watcher* get_repeat_key(int scancode);
    GameEngine::Keypress_Watcher* get_one_time_key(int scancode);
    GameEngine::Joystick_Watcher* get_repeat_joy(int n);
    GameEngine::Joystick_Watcher* get_one_time_joy(int n);
    GameEngine::Joystick_Event* get_joystick_event(int n) const;

    // The view at position pos of the on-screen rows (null beyond the end).
    Text_VC* onscreen_view_at(unsigned pos) const;
    void recolour_selected_view(bool selected);
    // Row i of the on-screen rows to its place in the left or right hide.
    void move_row_away(Text_VC* view, int i, bool to_left, int ms);
    // Every on-screen row leaves to one side, or alternately to both.
    enum class Hide_Pattern { left, right, split };
    void hide_rows(Hide_Pattern pattern, int ms);
    // For the layouts: twice the visible rows, all clipped to the band.
    void make_row_views(const std::function<Text_VC*()>& make_view, int clip_x1, int clip_y1, int clip_x2,
                        int clip_y2);
    // set_contents and set_colors of a row view, skipped when the row
    // already shows exactly that: each redraws the row's outlined text, and
    // a list is refilled with the same games and recoloured several times
    // at start-up.
    void show_contents(Text_VC* view, const std::string& text, BITMAP* icon);
    void show_colors(Text_VC* view, int fg, int outline);

    enum State { HIDDEN = 0, READY = 1, SCROLLING = 2, HIDING = 3, UNHIDING = 4 };
    enum Action { NONE = 0, LINE_UP = 1, LINE_DOWN = 2, PAGE_UP = 3, PAGE_DOWN = 4, MOUSE_UP = 5, MOUSE_DOWN = 6 };

    GameEngine::Engine* engine = nullptr;
    FONT* font = nullptr;
    GameEngine::GEContainer* container = nullptr;
    int x = 0, y = 0, width = 0, height = 0;
    int item_height = 0;
    int selected_fg = 0, selected_outline = 0;
    int unselected_fg = 0, unselected_outline = 0;
    std::vector<Scrollable_Item> items;
    unsigned selected_index = 0;
    unsigned first_shown_index = 0;
    GameEngine::Keypress_Watcher* line_up_key = nullptr;
    GameEngine::Keypress_Watcher* line_down_key = nullptr;
    GameEngine::Keypress_Watcher* page_up_key = nullptr;
    GameEngine::Keypress_Watcher* page_down_key = nullptr;
    GameEngine::Keypress_Watcher* select_key = nullptr;
    Mouse_Input_Axis mouse_input_axis = MOUSE_INPUT_NONE;
    int page_up_turbo_count = 0, page_down_turbo_count = 0;
    int turbo_scroll_threshold = 3;
    int mouse_input_threshold = 1;
    int last_action = NONE;
    bool joystick_detected = false;
    GameEngine::Joystick_Watcher* select_joy = nullptr;
    GameEngine::Joystick_Watcher* line_up_joy = nullptr;
    GameEngine::Joystick_Watcher* line_down_joy = nullptr;
    GameEngine::Joystick_Watcher* page_up_joy = nullptr;
    GameEngine::Joystick_Watcher* page_down_joy = nullptr;
    int initial_joystick_delay = 250, joystick_repeat_delay = 125;
    int initial_key_delay = 250, key_repeat_delay = 125;
    int animation_time = 100;
    Scrollable_List_Listener* listener = nullptr;
    Null_Scrollable_List_Listener* null_listener = nullptr;
    std::list<Text_VC*> onscreen_views;   // display order, first row first
    std::list<Text_VC*> offscreen_views;  // spares, recycled while scrolling
    int visible_rows = 0;
    Text_VC* selected_view = nullptr;
    int state = HIDING;
    int slot_origin_x = 0, slot_origin_y = 0, slot_step_x = 0, slot_step_y = 0;
    int hidden_left_x = 0, hidden_left_y = 0;
    int hidden_right_x = 0, hidden_right_y = 0;
    int offscreen_x = 0, offscreen_y = 0;
    int center_x = 0, center_y = 0;
    // Scratch list for the rows leaving view during one scroll; kept as a
    // member so that scrolling splices nodes instead of allocating.
    std::list<Text_VC*> departing_views;
    // What each row view was last given, for show_contents and show_colors.
    struct Row_Shown {
        Text_VC* view = nullptr;
        std::string text;
        BITMAP* icon = nullptr;
        int fg = 0, outline = 0;
        bool has_contents = false, has_colors = false;
    };
    std::vector<Row_Shown> rows_shown;
    Row_Shown& row_shown(Text_VC* view);
};

// Horizontal text rows stacked downward.
class Scrollable_HList_VC : public Scrollable_List_VC {
public:
    Scrollable_HList_VC(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height);

protected:
    void create_view_components() override;
};

// Text columns rotated to read upward, side by side from left to right.
class Scrollable_VLList_VC : public Scrollable_List_VC {
public:
    Scrollable_VLList_VC(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height);

protected:
    void create_view_components() override;
};

}  // namespace Marvane
