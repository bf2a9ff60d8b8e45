// The game menu: title, subtitle, a framed bar and a scrollable list that
// glide in and out together.
#pragma once

#include <allegro.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "views/scrllist.h"

namespace GameEngine {
class Keypress_Watcher;
}

namespace Marvane {

class Text_VC;
class Outline_Bar;

class Menu_Listener {
public:
    virtual ~Menu_Listener() = default;
    virtual void selection_changed(unsigned index) = 0;
    virtual void item_selected(unsigned index) = 0;
    virtual void item_visible(unsigned index) = 0;
    virtual void quit_pressed() = 0;
    virtual void next_menu_pressed() = 0;
    virtual void previous_menu_pressed() = 0;
    // A movement of the menu has come to rest (and on every update while
    // the menu is hidden).
    virtual void stopped_moving() = 0;
};

class Null_Menu_Listener final : public Menu_Listener {
public:
    void selection_changed(unsigned) override {}
    void item_selected(unsigned) override {}
    void item_visible(unsigned) override {}
    void quit_pressed() override {}
    void next_menu_pressed() override {}
    void previous_menu_pressed() override {}
    void stopped_moving() override {}
};

class Menu_View : public GameEngine::Drawable, public GameEngine::Updatable, public Scrollable_List_Listener {
public:
    ~Menu_View() override;
    void draw(BITMAP* target) override;
    bool update() override;

    // Forwarded to the list.
    void set_all_items(const std::vector<Scrollable_Item>& items, unsigned selected, unsigned first_shown);
    void set_all_items(std::vector<Scrollable_Item>&& items, unsigned selected, unsigned first_shown);
    void set_item_at(const Scrollable_Item& item, unsigned index);
    unsigned get_selected_index() const;
    unsigned get_first_shown_index() const;
    void set_selected_colors(int fg, int outline);
    void set_select_key(int scancode);
    void set_line_up_key(int scancode);
    void set_line_down_key(int scancode);
    void set_page_up_key(int scancode);
    void set_page_down_key(int scancode);
    void set_select_joy(int event_number);
    void set_line_up_joy(int event_number);
    void set_line_down_joy(int event_number);
    void set_page_up_joy(int event_number);
    void set_page_down_joy(int event_number);
    void set_key_repeat_delay(int initial_ms, int repeat_ms);
    void set_joystick_repeat_delay(int initial_ms, int repeat_ms);
    void set_use_animations(bool use);
    void set_turbo_scroll_threshold(int threshold);
    void set_mouse_input_axis(Mouse_Input_Axis axis);
    void set_mouse_input_threshold(int threshold);

    // The menu's own operations.
    void set_titles(const std::string& title, const std::string& subtitle);
    void set_unselected_colors(int fg, int outline);
    void set_quit_key(int scancode);
    void set_next_menu_key(int scancode);
    void set_previous_menu_key(int scancode);
    void set_listener(Menu_Listener* listener);
    void hide_left(int ms);
    void hide_right(int ms);
    void hide_split(int ms);
    void center_selected_hide_others(int ms);
    void unhide_all(int ms);
    void hide_titles(int ms);
    void unhide_titles(int ms);

    // Notifications from the list.
    void selection_changed(unsigned index) override;
    void item_selected(unsigned index) override;
    void item_visible(unsigned index) override;

protected:
    Menu_View() = default;
    // Run by each layout's constructor, once its own create_view_components
    // is reachable.
    void initialize(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height);
    virtual void create_view_components() = 0;
    void handle_keypresses();

    enum State { HIDDEN = 0, READY = 1, MOVING = 2, HIDING = 3, UNHIDING = 4 };

    GameEngine::Engine* engine = nullptr;
    FONT* font = nullptr;
    int x = 0, y = 0, width = 0, height = 0;
    int item_height = 0;
    GameEngine::GEContainer* container = nullptr;
    Text_VC* title = nullptr;
    Text_VC* subtitle = nullptr;
    Outline_Bar* bar = nullptr;
    Scrollable_List_VC* list = nullptr;
    GameEngine::Keypress_Watcher* quit_key = nullptr;
    GameEngine::Keypress_Watcher* next_menu_key = nullptr;
    GameEngine::Keypress_Watcher* previous_menu_key = nullptr;
    Menu_Listener* listener = nullptr;
    Null_Menu_Listener* null_listener = nullptr;
    int state = HIDING;
    int title_x = 0, title_y = 0;
    int subtitle_x = 0, subtitle_y = 0;
    int bar_x = 0, bar_y = 0;
    int title_hidden_x = 0, title_hidden_y = 0;
    int subtitle_hidden_x = 0, subtitle_hidden_y = 0;
};

// Horizontal rows: title, subtitle, bar and list stacked downward.
class HMenu_View : public Menu_View {
public:
    HMenu_View(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height);

protected:
    void create_view_components() override;
};

// Rotated columns: title, subtitle, bar and list side by side from the left.
class VLMenu_View : public Menu_View {
public:
    VLMenu_View(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height);

protected:
    void create_view_components() override;
};

}  // namespace Marvane
