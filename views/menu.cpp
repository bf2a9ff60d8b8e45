#include "views/menu.h"

#include <algorithm>

#include "engine/keypress.h"
#include "views/bar.h"
#include "views/movetext.h"

namespace Marvane {

// Parts are kept with this priority inside the menu's own container.
static constexpr int PART_PRIORITY = 5;

Menu_View::~Menu_View()
{
    delete quit_key;
    delete next_menu_key;
    delete previous_menu_key;
    delete null_listener;
    delete list;
    delete title;
    delete subtitle;
    delete bar;
    delete container;
}

void Menu_View::initialize(GameEngine::Engine* engine_, FONT* font_, int x_, int y_, int width_, int height_)
{
    engine = engine_;
    font = font_;
    x = x_;
    y = y_;
    // A negative area (from a bad configuration) would make bitmaps of
    // negative size; an empty one just shows nothing.
    width = std::max(width_, 0);
    height = std::max(height_, 0);
    item_height = text_height(font) + 4;

    null_listener = new Null_Menu_Listener;
    listener = null_listener;
    container = new GameEngine::GEContainer;

    GameEngine::Keypress_Factory* keys = engine->get_keypress_factory();
    quit_key = keys->create_keypress_watcher(0);
    quit_key->set_one_time();
    next_menu_key = keys->create_keypress_watcher(0);
    next_menu_key->set_one_time();
    previous_menu_key = keys->create_keypress_watcher(0);
    previous_menu_key->set_one_time();

    create_view_components();
    hide_split(0);
    list->set_listener(this);

    container->add_drawable(title, PART_PRIORITY);
    container->add_drawable(subtitle, PART_PRIORITY);
    container->add_drawable(bar, PART_PRIORITY);
    container->add_drawable(list, PART_PRIORITY);
    container->add_updatable(title, PART_PRIORITY);
    container->add_updatable(subtitle, PART_PRIORITY);
    container->add_updatable(list, PART_PRIORITY);
}

void Menu_View::draw(BITMAP* target)
{
    container->draw(target);
}

bool Menu_View::update()
{
    const bool changed = container->update();
    if (state == HIDDEN)
        listener->stopped_moving();
    if (state == HIDING && list->are_all_items_stopped())
        state = HIDDEN;
    if (state == UNHIDING && list->are_all_items_stopped()) {
        state = READY;
        listener->stopped_moving();
    }
    if (state == MOVING && list->are_all_items_stopped()) {
        state = READY;
        listener->stopped_moving();
    }
    if (state == READY)
        handle_keypresses();
    return changed;
}

void Menu_View::handle_keypresses()
{
    if (quit_key->is_pressed())
        listener->quit_pressed();
    if (next_menu_key->is_pressed())
        listener->next_menu_pressed();
    if (previous_menu_key->is_pressed())
        listener->previous_menu_pressed();
}

// --- forwarded to the list ---

void Menu_View::set_all_items(const std::vector<Scrollable_Item>& items, unsigned selected, unsigned first_shown)
{
    list->set_all_items(items, selected, first_shown);
}

void Menu_View::set_all_items(std::vector<Scrollable_Item>&& items, unsigned selected, unsigned first_shown)
{
    list->set_all_items(std::move(items), selected, first_shown);
}

void Menu_View::set_item_at(const Scrollable_Item& item, unsigned index)
{
    list->set_item_at(item, index);
}

unsigned Menu_View::get_selected_index() const
{
    return list->get_selected_index();
}

unsigned Menu_View::get_first_shown_index() const
{
    return list->get_first_shown_index();
}

void Menu_View::set_selected_colors(int fg, int outline)
{
    list->set_selected_colors(fg, outline);
}

void Menu_View::set_select_key(int scancode)
{
    list->set_select_key(scancode);
}

void Menu_View::set_line_up_key(int scancode)
{
    list->set_line_up_key(scancode);
}

void Menu_View::set_line_down_key(int scancode)
{
    list->set_line_down_key(scancode);
}

void Menu_View::set_page_up_key(int scancode)
{
    list->set_page_up_key(scancode);
}

void Menu_View::set_page_down_key(int scancode)
{
    list->set_page_down_key(scancode);
}

void Menu_View::set_select_joy(int n)
{
    list->set_select_joy(n);
}

void Menu_View::set_line_up_joy(int n)
{
    list->set_line_up_joy(n);
}

void Menu_View::set_line_down_joy(int n)
{
    list->set_line_down_joy(n);
}

void Menu_View::set_page_up_joy(int n)
{
    list->set_page_up_joy(n);
}

void Menu_View::set_page_down_joy(int n)
{
    list->set_page_down_joy(n);
}

void Menu_View::set_key_repeat_delay(int initial_ms, int repeat_ms)
{
    list->set_key_repeat_delay(initial_ms, repeat_ms);
}

void Menu_View::set_joystick_repeat_delay(int initial_ms, int repeat_ms)
{
    list->set_joystick_repeat_delay(initial_ms, repeat_ms);
}

void Menu_View::set_use_animations(bool use)
{
    list->set_use_animations(use);
}

void Menu_View::set_turbo_scroll_threshold(int threshold)
{
    list->set_turbo_scroll_threshold(threshold);
}

void Menu_View::set_mouse_input_axis(Mouse_Input_Axis axis)
{
    list->set_mouse_input_axis(axis);
}

void Menu_View::set_mouse_input_threshold(int threshold)
{
    list->set_mouse_input_threshold(threshold);
}

// --- the menu's own operations ---

void Menu_View::set_titles(const std::string& title_text, const std::string& subtitle_text)
{
    title->set_contents(title_text, nullptr);
    subtitle->set_contents(subtitle_text, nullptr);
}

void Menu_View::set_unselected_colors(int fg, int outline)
{
    list->set_unselected_colors(fg, outline);
    title->set_colors(fg, outline);
    subtitle->set_colors(fg, outline);
    bar->set_color(fg);
}

void Menu_View::set_quit_key(int scancode)
{
    quit_key->set_scancode(scancode);
}

void Menu_View::set_next_menu_key(int scancode)
{
    next_menu_key->set_scancode(scancode);
}

void Menu_View::set_previous_menu_key(int scancode)
{
    previous_menu_key->set_scancode(scancode);
}

void Menu_View::set_listener(Menu_Listener* new_listener)
{
    listener = new_listener ? new_listener : null_listener;
}

void Menu_View::hide_left(int ms)
{
    hide_titles(ms);
    list->hide_left(ms);
    state = HIDING;
}

void Menu_View::hide_right(int ms)
{
    hide_titles(ms);
    list->hide_right(ms);
    state = HIDING;
}

void Menu_View::hide_split(int ms)
{
    hide_titles(ms);
    list->hide_split(ms);
    state = HIDING;
}

void Menu_View::center_selected_hide_others(int ms)
{
    hide_titles(ms);
    list->center_selected_hide_others(ms);
    state = HIDING;
}

void Menu_View::unhide_all(int ms)
{
    unhide_titles(ms);
    list->unhide_all(ms);
    state = UNHIDING;
}

void Menu_View::hide_titles(int ms)
{
    title->move_to(title_hidden_x, title_hidden_y, ms);
    subtitle->move_to(subtitle_hidden_x, subtitle_hidden_y, ms);
}

void Menu_View::unhide_titles(int ms)
{
    title->move_to(title_x, title_y, ms);
    subtitle->move_to(subtitle_x, subtitle_y, ms);
}

// --- notifications from the list ---

void Menu_View::selection_changed(unsigned index)
{
    listener->selection_changed(index);
    state = MOVING;
}

void Menu_View::item_selected(unsigned index)
{
    listener->item_selected(index);
}

void Menu_View::item_visible(unsigned index)
{
    listener->item_visible(index);
}

// --- layouts ---

HMenu_View::HMenu_View(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height)
{
    initialize(engine, font, x, y, width, height);
}

void HMenu_View::create_view_components()
{
    const int ih = item_height;
    title = new HText_VC(engine, width, ih, font);
    subtitle = new HText_VC(engine, width, ih, font);
    title_x = x;
    title_y = y;
    title_hidden_x = x;
    title_hidden_y = -2 * ih;
    subtitle_x = x;
    subtitle_y = y + ih;
    subtitle_hidden_x = x;
    subtitle_hidden_y = -ih;
    bar_x = x;
    bar_y = y + 2 * ih;
    bar = new Outline_Bar(x, y + 2 * ih, x + width, y + 2 * ih + 6);
    list = new Scrollable_HList_VC(engine, font, x, y + 2 * ih + 6, width, height - 2 * ih - 6);
}

VLMenu_View::VLMenu_View(GameEngine::Engine* engine, FONT* font, int x, int y, int width, int height)
{
    initialize(engine, font, x, y, width, height);
}

void VLMenu_View::create_view_components()
{
    const int ih = item_height;
    title = new VText_VC(engine, ih, height, font);
    subtitle = new VText_VC(engine, ih, height, font);
    title_x = x;
    title_y = y;
    title_hidden_x = -2 * ih;
    title_hidden_y = y;
    subtitle_x = x + ih;
    subtitle_y = y;
    subtitle_hidden_x = -ih;
    subtitle_hidden_y = y;
    bar_x = x + 2 * ih;
    bar_y = y;
    bar = new Outline_Bar(x + 2 * ih, y, x + 2 * ih + 6, y + height);
    list = new Scrollable_VLList_VC(engine, font, x + 2 * ih + 6, y, width - 2 * ih - 6, height);
}

}  // namespace Marvane
