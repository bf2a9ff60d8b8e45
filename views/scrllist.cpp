#include "views/scrllist.h"

#include <algorithm>
#include <cassert>

#include "engine/joystick.h"
#include "engine/keypress.h"
#include "views/movetext.h"

namespace Marvane {

// Rows are drawn with this priority inside the list's own container.
static constexpr int ROW_PRIORITY = 5;

Scrollable_List_VC::Scrollable_List_VC() = default;

Scrollable_List_VC::~Scrollable_List_VC()
{
    for (Text_VC* view : onscreen_views)
        delete view;
    for (Text_VC* view : offscreen_views)
        delete view;
    delete null_listener;
    delete container;
    delete line_up_key;
    delete line_down_key;
    delete page_up_key;
    delete page_down_key;
    delete select_key;
    delete select_joy;
    delete line_up_joy;
    delete line_down_joy;
    delete page_up_joy;
    delete page_down_joy;
}

void Scrollable_List_VC::initialize(GameEngine::Engine* engine_, FONT* font_, int x_, int y_, int width_,
                                    int height_)
{
    engine = engine_;
    font = font_;
    x = x_;
    y = y_;
    width = width_;
    height = height_;
    item_height = text_height(font) + 4;
    selected_fg = makecol(0, 0, 0);
    selected_outline = makecol(255, 255, 255);
    unselected_fg = makecol(255, 255, 255);
    unselected_outline = makecol(0, 0, 0);

    joystick_detected = engine->get_joystick_factory()->is_joystick_detected();
    initial_joystick_delay = 250;
    joystick_repeat_delay = 125;
    line_up_joy = get_repeat_joy(0);
    line_down_joy = get_repeat_joy(0);
    page_up_joy = get_repeat_joy(0);
    page_down_joy = get_repeat_joy(0);
    select_joy = get_one_time_joy(0);

    mouse_input_axis = MOUSE_INPUT_NONE;
    mouse_input_threshold = 1;
    selected_index = 0;
    first_shown_index = 0;
    initial_key_delay = 250;
    key_repeat_delay = 125;
    line_up_key = get_repeat_key(0);
    line_down_key = get_repeat_key(0);
    page_up_key = get_repeat_key(0);
    page_down_key = get_repeat_key(0);
    select_key = get_one_time_key(0);

    animation_time = 100;
    turbo_scroll_threshold = 3;
    page_up_turbo_count = 0;
    page_down_turbo_count = 0;
    null_listener = new Null_Scrollable_List_Listener;
    listener = null_listener;
    state = HIDDEN;

    container = new GameEngine::GEContainer;
    create_view_components();
    hide_split(0);

    for (Text_VC* view : onscreen_views) {
        container->add_drawable(view, ROW_PRIORITY);
        container->add_updatable(view, ROW_PRIORITY);
    }
    for (Text_VC* view : offscreen_views) {
        container->add_drawable(view, ROW_PRIORITY);
        container->add_updatable(view, ROW_PRIORITY);
    }
}

GameEngine::Keypress_Watcher* Scrollable_List_VC::get_repeat_key(int scancode)
{
    GameEngine::Keypress_Watcher* watcher = engine->get_keypress_factory()->create_keypress_watcher(scancode);
    watcher->set_repeat(initial_key_delay, key_repeat_delay);
    return watcher;
}

GameEngine::Keypress_Watcher* Scrollable_List_VC::get_one_time_key(int scancode)
{
    GameEngine::Keypress_Watcher* watcher = engine->get_keypress_factory()->create_keypress_watcher(scancode);
    watcher->set_one_time();
    return watcher;
}

GameEngine::Joystick_Watcher* Scrollable_List_VC::get_repeat_joy(int n)
{
    GameEngine::Joystick_Watcher* watcher =
        engine->get_joystick_factory()->create_joystick_watcher(get_joystick_event(n));
    watcher->set_repeat(initial_joystick_delay, joystick_repeat_delay);
    return watcher;
}

GameEngine::Joystick_Watcher* Scrollable_List_VC::get_one_time_joy(int n)
{
    GameEngine::Joystick_Watcher* watcher =
        engine->get_joystick_factory()->create_joystick_watcher(get_joystick_event(n));
    watcher->set_one_time();
    return watcher;
}

GameEngine::Joystick_Event* Scrollable_List_VC::get_joystick_event(int n) const
{
    using Axis = GameEngine::Joystick_Digital_Axis_Event;
    if (!joystick_detected)
        return nullptr;
    switch (n) {
    case 0:
        return new GameEngine::Joystick_Button_Event(0, 0);
    case 1:
        return new GameEngine::Joystick_Button_Event(0, 1);
    case 2:
        return new Axis(0, 0, 1, Axis::negative);
    case 3:
        return new Axis(0, 0, 1, Axis::positive);
    case 4:
        return new Axis(0, 0, 0, Axis::negative);
    case 5:
        return new Axis(0, 0, 0, Axis::positive);
    default:
        return nullptr;
    }
}

// --- items and colours ---

void Scrollable_List_VC::set_all_items(const std::vector<Scrollable_Item>& new_items, unsigned selected,
                                       unsigned first_shown)
{
    set_all_items(std::vector<Scrollable_Item>(new_items), selected, first_shown);
}

void Scrollable_List_VC::set_all_items(std::vector<Scrollable_Item>&& new_items, unsigned selected,
                                       unsigned first_shown)
{
    items = std::move(new_items);
    const unsigned max = items.empty() ? 0 : unsigned(items.size() - 1);
    first_shown_index = std::min(first_shown, max);
    selected_index = std::min(selected, max);
    if (selected_index < first_shown_index)
        selected_index = first_shown_index;
    // A list too small for a single row has no last row to keep the
    // selection on.
    if (visible_rows > 0 && selected_index > first_shown_index + unsigned(visible_rows) - 1)
        selected_index = first_shown_index + unsigned(visible_rows) - 1;
    update_visible_items();
}

void Scrollable_List_VC::set_item_at(const Scrollable_Item& item, unsigned index)
{
    if (index < items.size())
        items[index] = item;
}

Scrollable_Item& Scrollable_List_VC::get_item_at(unsigned index)
{
    assert(index < items.size());
    return items[index];
}

unsigned Scrollable_List_VC::get_selected_index() const
{
    return selected_index;
}

unsigned Scrollable_List_VC::get_first_shown_index() const
{
    return first_shown_index;
}

void Scrollable_List_VC::set_listener(Scrollable_List_Listener* new_listener)
{
    listener = new_listener ? new_listener : null_listener;
}

void Scrollable_List_VC::set_selected_colors(int fg, int outline)
{
    selected_fg = fg;
    selected_outline = outline;
    update_visible_items();
    update_offscreen_items();
}

void Scrollable_List_VC::set_unselected_colors(int fg, int outline)
{
    unselected_fg = fg;
    unselected_outline = outline;
    update_visible_items();
    update_offscreen_items();
}

void Scrollable_List_VC::update_visible_items()
{
    unsigned index = first_shown_index;
    selected_view = nullptr;
    for (Text_VC* view : onscreen_views) {
        if (index < items.size()) {
            listener->item_visible(index);
            show_contents(view, items[index].text, items[index].icon);
            if (index == selected_index) {
                show_colors(view, selected_fg, selected_outline);
                selected_view = view;
            } else {
                show_colors(view, unselected_fg, unselected_outline);
            }
            ++index;
        } else {
            show_contents(view, "", nullptr);
            show_colors(view, unselected_fg, unselected_outline);
        }
    }
}

void Scrollable_List_VC::update_offscreen_items()
{
    for (Text_VC* view : offscreen_views)
        show_colors(view, unselected_fg, unselected_outline);
}

// --- input settings ---

void Scrollable_List_VC::set_line_up_key(int scancode)
{
    line_up_key->set_scancode(scancode);
}

void Scrollable_List_VC::set_line_down_key(int scancode)
{
    line_down_key->set_scancode(scancode);
}

void Scrollable_List_VC::set_page_up_key(int scancode)
{
    page_up_key->set_scancode(scancode);
}

void Scrollable_List_VC::set_page_down_key(int scancode)
{
    page_down_key->set_scancode(scancode);
}

void Scrollable_List_VC::set_select_key(int scancode)
{
    select_key->set_scancode(scancode);
}

void Scrollable_List_VC::set_key_repeat_delay(int initial_ms, int repeat_ms)
{
    initial_key_delay = initial_ms;
    key_repeat_delay = repeat_ms;
    line_up_key->set_repeat(initial_ms, repeat_ms);
    line_down_key->set_repeat(initial_ms, repeat_ms);
    page_up_key->set_repeat(initial_ms, repeat_ms);
    page_down_key->set_repeat(initial_ms, repeat_ms);
}

void Scrollable_List_VC::set_select_joy(int n)
{
    select_joy->set_joystick_event(get_joystick_event(n));
}

void Scrollable_List_VC::set_line_up_joy(int n)
{
    line_up_joy->set_joystick_event(get_joystick_event(n));
}

void Scrollable_List_VC::set_line_down_joy(int n)
{
    line_down_joy->set_joystick_event(get_joystick_event(n));
}

void Scrollable_List_VC::set_page_up_joy(int n)
{
    page_up_joy->set_joystick_event(get_joystick_event(n));
}

void Scrollable_List_VC::set_page_down_joy(int n)
{
    page_down_joy->set_joystick_event(get_joystick_event(n));
}

void Scrollable_List_VC::set_joystick_repeat_delay(int initial_ms, int repeat_ms)
{
    initial_joystick_delay = initial_ms;
    joystick_repeat_delay = repeat_ms;
    line_up_joy->set_repeat(initial_ms, repeat_ms);
    line_down_joy->set_repeat(initial_ms, repeat_ms);
    page_up_joy->set_repeat(initial_ms, repeat_ms);
    page_down_joy->set_repeat(initial_ms, repeat_ms);
}

void Scrollable_List_VC::set_mouse_input_axis(Mouse_Input_Axis axis)
{
    mouse_input_axis = axis;
}

void Scrollable_List_VC::set_mouse_input_threshold(int threshold)
{
    // The quantum divides by it.
    mouse_input_threshold = std::max(threshold, 1);
}

void Scrollable_List_VC::set_use_animations(bool use)
{
    animation_time = use ? 100 : 0;
}

void Scrollable_List_VC::set_turbo_scroll_threshold(int threshold)
{
    turbo_scroll_threshold = threshold;
}

// --- update and input ---

bool Scrollable_List_VC::update()
{
    const bool changed = container->update();
    bool handled = false;

    if (state == SCROLLING) {
        if (!page_up_key->is_physically_pressed())
            page_up_turbo_count = 0;
        if (!page_down_key->is_physically_pressed())
            page_down_turbo_count = 0;
        if (are_all_items_stopped())
            state = READY;
    }
    if (state == HIDING && are_all_items_stopped())
        state = HIDDEN;
    if (state == UNHIDING && are_all_items_stopped())
        state = READY;
    if (state == READY)
        handled = handle_input();
    return handled || changed;
}

void Scrollable_List_VC::draw(BITMAP* target)
{
    container->draw(target);
}

bool Scrollable_List_VC::handle_input()
{
    if (items.empty())
        return false;
    if (select_key->is_pressed() || select_joy->is_pressed()) {
        listener->item_selected(selected_index);
        return false;
    }
    const unsigned visible = unsigned(onscreen_views.size());
    if (visible == 0)
        return false;
    const unsigned count = unsigned(items.size());
    const unsigned last_visible = std::min(first_shown_index + visible - 1, count - 1);
    unsigned up = 0, up_scroll = 0, down = 0, down_scroll = 0;
    int action = NONE;

    if (line_down_key->is_pressed() || line_down_joy->is_pressed()) {
        down = 1;
        down_scroll = selected_index == last_visible ? 1 : 0;
        action = LINE_DOWN;
    }
    if (line_up_key->is_pressed() || line_up_joy->is_pressed()) {
        up = 1;
        up_scroll = selected_index == first_shown_index ? 1 : 0;
        action = LINE_UP;
    }
    if (page_up_key->is_pressed() || page_up_joy->is_pressed()) {
        if (selected_index == first_shown_index) {
            up = visible - 1;
            up_scroll = visible - 1;
        } else {
            up = selected_index - first_shown_index;
        }
        action = PAGE_UP;
    }
    if (page_down_key->is_pressed() || page_down_joy->is_pressed()) {
        if (selected_index == last_visible) {
            down = visible - 1;
            down_scroll = visible - 1;
        } else {
            down = last_visible - selected_index;
        }
        action = PAGE_DOWN;
    }
    const int quantum = get_mouse_input_quantum();
    if (quantum < 0) {
        up = 1;
        if (selected_index == first_shown_index)
            up_scroll = 1;
        action = MOUSE_UP;
    } else if (quantum > 0) {
        down = 1;
        if (selected_index == last_visible)
            down_scroll = 1;
        action = MOUSE_DOWN;
    }

    if (action == NONE) {
        if (!page_up_key->is_physically_pressed())
            page_up_turbo_count = 0;
        if (!page_down_key->is_physically_pressed())
            page_down_turbo_count = 0;
    } else {
        // Only the keys count towards turbo: a page move from the joystick
        // counts 1 and never reaches it.
        if (last_action == PAGE_UP && action == PAGE_UP && up_scroll > 1)
            page_up_turbo_count = page_up_key->is_artificial() ? page_up_turbo_count + 1 : 1;
        else
            page_up_turbo_count = 0;
        if (last_action == PAGE_DOWN && action == PAGE_DOWN && down_scroll > 1)
            page_down_turbo_count = page_down_key->is_artificial() ? page_down_turbo_count + 1 : 1;
        else
            page_down_turbo_count = 0;
        last_action = action;
    }

    // Opposite inputs in one update cancel.
    if (up != 0 && down != 0) {
        up = 0;
        down = 0;
    }
    if (up > selected_index) {
        up = selected_index;
        up_scroll = selected_index;
    }
    if (selected_index + down > count - 1) {
        down = count - (selected_index + 1);
        down_scroll = down;
    }

    if (up == 0 && down == 0)
        return false;
    const int saved_animation_time = animation_time;
    if (disable_scroll_delay())
        animation_time = 0;
    recolour_selected_view(false);
    if (up != 0)
        move_selection_up(up, up_scroll);
    else
        move_selection_down(down, down_scroll);
    recolour_selected_view(true);
    listener->selection_changed(selected_index);
    animation_time = saved_animation_time;
    return true;
}

bool Scrollable_List_VC::disable_scroll_delay() const
{
    if (turbo_scroll_threshold != -1 &&
        (page_up_turbo_count > turbo_scroll_threshold || page_down_turbo_count > turbo_scroll_threshold))
        return true;
    return last_action == MOUSE_UP || last_action == MOUSE_DOWN;
}

int Scrollable_List_VC::get_mouse_input_quantum()
{
    int v = 0;
    switch (mouse_input_axis) {
    case MOUSE_INPUT_PLUS_X:
    case MOUSE_INPUT_MINUS_X:
        v = engine->get_infinite_mouse_x();
        break;
    case MOUSE_INPUT_PLUS_Y:
    case MOUSE_INPUT_MINUS_Y:
        v = engine->get_infinite_mouse_y();
        break;
    default:
        return 0;
    }
    const int q = v / mouse_input_threshold;
    const int r = v % mouse_input_threshold;
    if (mouse_input_axis == MOUSE_INPUT_PLUS_X || mouse_input_axis == MOUSE_INPUT_MINUS_X) {
        engine->set_infinite_mouse_x(r);
        engine->set_infinite_mouse_y(0);
    } else {
        engine->set_infinite_mouse_x(0);
        engine->set_infinite_mouse_y(r);
    }
    return mouse_input_axis == MOUSE_INPUT_PLUS_X || mouse_input_axis == MOUSE_INPUT_PLUS_Y ? q : -q;
}

Text_VC* Scrollable_List_VC::onscreen_view_at(unsigned pos) const
{
    for (Text_VC* view : onscreen_views) {
        if (pos == 0)
            return view;
        --pos;
    }
    return nullptr;
}

void Scrollable_List_VC::recolour_selected_view(bool selected)
{
    if (selected)
        selected_view = onscreen_view_at(selected_index - first_shown_index);
    if (selected_view == nullptr)
        return;
    if (selected)
        show_colors(selected_view, selected_fg, selected_outline);
    else
        show_colors(selected_view, unselected_fg, unselected_outline);
}

void Scrollable_List_VC::move_selection_up(unsigned n, unsigned scroll)
{
    const int duration = int((scroll + 1) / 2) * animation_time;
    for (unsigned i = 0; i < scroll; ++i) {
        departing_views.splice(departing_views.begin(), onscreen_views, std::prev(onscreen_views.end()));
        Text_VC* view = offscreen_views.back();
        onscreen_views.splice(onscreen_views.begin(), offscreen_views, std::prev(offscreen_views.end()));
        const unsigned index = selected_index - 1 - i;
        listener->item_visible(index);
        show_contents(view, items[index].text, items[index].icon);
        int px, py;
        get_index_coordinates(-1 - int(i), &px, &py);
        view->move_to(px, py, 0);
        --first_shown_index;
        engine->poll_background_task();
    }
    selected_index -= n;
    if (scroll > 0) {
        int slot = 0;
        for (Text_VC* view : onscreen_views) {
            int px, py;
            get_index_coordinates(slot++, &px, &py);
            view->move_to(px, py, duration);
        }
        for (Text_VC* view : departing_views) {
            int px, py;
            get_index_coordinates(slot++, &px, &py);
            view->move_to(px, py, duration);
        }
        state = SCROLLING;
    }
    // The views that left wait at the front of the spares.
    offscreen_views.splice(offscreen_views.begin(), departing_views);
}

void Scrollable_List_VC::move_selection_down(unsigned n, unsigned scroll)
{
    const int duration = int((scroll + 1) / 2) * animation_time;
    const int visible = int(onscreen_views.size());
    for (unsigned i = 0; i < scroll; ++i) {
        departing_views.splice(departing_views.end(), onscreen_views, onscreen_views.begin());
        Text_VC* view = offscreen_views.front();
        onscreen_views.splice(onscreen_views.end(), offscreen_views, offscreen_views.begin());
        const unsigned index = selected_index + 1 + i;
        listener->item_visible(index);
        show_contents(view, items[index].text, items[index].icon);
        int px, py;
        get_index_coordinates(visible + int(i), &px, &py);
        view->move_to(px, py, 0);
        ++first_shown_index;
        engine->poll_background_task();
    }
    selected_index += n;
    if (scroll > 0) {
        int slot = visible - 1;
        for (auto it = onscreen_views.rbegin(); it != onscreen_views.rend(); ++it) {
            int px, py;
            get_index_coordinates(slot--, &px, &py);
            (*it)->move_to(px, py, duration);
        }
        for (auto it = departing_views.rbegin(); it != departing_views.rend(); ++it) {
            int px, py;
            get_index_coordinates(slot--, &px, &py);
            (*it)->move_to(px, py, duration);
        }
        state = SCROLLING;
    }
    offscreen_views.splice(offscreen_views.end(), departing_views);
}

void Scrollable_List_VC::get_index_coordinates(int i, int* px, int* py) const
{
    *px = slot_origin_x + i * slot_step_x;
    *py = slot_origin_y + i * slot_step_y;
}

// --- hiding ---

void Scrollable_List_VC::move_row_away(Text_VC* view, int i, bool to_left, int ms)
{
    const int origin_x = to_left ? hidden_left_x : hidden_right_x;
    const int origin_y = to_left ? hidden_left_y : hidden_right_y;
    view->move_to(origin_x + i * slot_step_x, origin_y + i * slot_step_y, ms);
}

void Scrollable_List_VC::hide_rows(Hide_Pattern pattern, int ms)
{
    int i = 0;
    for (Text_VC* view : onscreen_views) {
        const bool to_left = pattern == Hide_Pattern::split ? i % 2 == 0 : pattern == Hide_Pattern::left;
        move_row_away(view, i, to_left, ms);
        ++i;
    }
    hide_offscreen_items();
    state = HIDING;
}

void Scrollable_List_VC::hide_left(int ms)
{
    hide_rows(Hide_Pattern::left, ms);
}

void Scrollable_List_VC::hide_right(int ms)
{
    hide_rows(Hide_Pattern::right, ms);
}

void Scrollable_List_VC::hide_split(int ms)
{
    hide_rows(Hide_Pattern::split, ms);
}

void Scrollable_List_VC::center_selected_hide_others(int ms)
{
    int i = 0;
    for (Text_VC* view : onscreen_views) {
        if (first_shown_index + unsigned(i) == selected_index)
            view->move_to(center_x, center_y, ms);
        else
            move_row_away(view, i, i % 2 == 0, ms);
        ++i;
    }
    hide_offscreen_items();
    state = HIDING;
}

void Scrollable_List_VC::hide_offscreen_items()
{
    for (Text_VC* view : offscreen_views)
        view->move_to(offscreen_x, offscreen_y, 0);
}

void Scrollable_List_VC::unhide_all(int ms)
{
    int i = 0;
    for (Text_VC* view : onscreen_views) {
        int px, py;
        get_index_coordinates(i++, &px, &py);
        view->move_to(px, py, ms);
    }
    state = UNHIDING;
}

bool Scrollable_List_VC::are_all_items_stopped() const
{
    return std::all_of(onscreen_views.begin(), onscreen_views.end(),
                       [](const Text_VC* view) { return view->is_stopped(); });
}

// --- layouts ---

void Scrollable_List_VC::make_row_views(const std::function<Text_VC*()>& make_view, int clip_x1, int clip_y1,
                                        int clip_x2, int clip_y2)
{
    for (int i = 0; i < 2 * visible_rows; ++i) {
        Text_VC* view = make_view();
        view->set_clip(clip_x1, clip_y1, clip_x2, clip_y2);
        (i < visible_rows ? onscreen_views : offscreen_views).push_back(view);
        Row_Shown shown;
        shown.view = view;
        shown.text.reserve(256);  // most names then never allocate while scrolling
        rows_shown.push_back(std::move(shown));
        // Drawn now while empty, which is cheap: the first fill then draws
        // the unselected rows once instead of twice.
        show_contents(view, "", nullptr);
        show_colors(view, unselected_fg, unselected_outline);
    }
}

Scrollable_List_VC::Row_Shown& Scrollable_List_VC::row_shown(Text_VC* view)
{
    for (Row_Shown& shown : rows_shown)
        if (shown.view == view)
            return shown;
    assert(false && "not a row view of this list");
    return rows_shown.front();
}

void Scrollable_List_VC::show_contents(Text_VC* view, const std::string& text, BITMAP* icon)
{
    Row_Shown& shown = row_shown(view);
    if (shown.has_contents && shown.icon == icon && shown.text == text)
        return;
    view->set_contents(text, icon);
    shown.text = text;
    shown.icon = icon;
    shown.has_contents = true;
}

void Scrollable_List_VC::show_colors(Text_VC* view, int fg, int outline)
{
    Row_Shown& shown = row_shown(view);
    if (shown.has_colors && shown.fg == fg && shown.outline == outline)
        return;
    view->set_colors(fg, outline);
    shown.fg = fg;
    shown.outline = outline;
    shown.has_colors = true;
}

Scrollable_HList_VC::Scrollable_HList_VC(GameEngine::Engine* engine, FONT* font, int x, int y, int width,
                                         int height)
{
    initialize(engine, font, x, y, width, height);
}

void Scrollable_HList_VC::create_view_components()
{
    slot_origin_x = x;
    slot_origin_y = y;
    slot_step_x = 0;
    slot_step_y = item_height;
    visible_rows = std::max(height / item_height, 0);
    hidden_left_x = x - SCREEN_W;
    hidden_left_y = y;
    hidden_right_x = x + SCREEN_W;
    hidden_right_y = y;
    offscreen_x = x;
    offscreen_y = -item_height;
    center_x = x;
    center_y = y + height / 2;
    make_row_views([this] { return new HText_VC(engine, width, item_height, font); }, 0, y, SCREEN_W,
                   y + visible_rows * item_height);
}

Scrollable_VLList_VC::Scrollable_VLList_VC(GameEngine::Engine* engine, FONT* font, int x, int y, int width,
                                           int height)
{
    initialize(engine, font, x, y, width, height);
}

void Scrollable_VLList_VC::create_view_components()
{
    slot_origin_x = x;
    slot_origin_y = y;
    slot_step_x = item_height;
    slot_step_y = 0;
    visible_rows = std::max(width / item_height, 0);
    hidden_left_x = x;
    hidden_left_y = y + SCREEN_H;
    hidden_right_x = x;
    hidden_right_y = y - SCREEN_H;
    offscreen_x = -item_height;
    offscreen_y = y;
    center_x = x + width / 2;
    center_y = y;
    make_row_views([this] { return new VText_VC(engine, item_height, height, font); }, x, 0,
                   x + visible_rows * item_height, SCREEN_H);
}

}  // namespace Marvane
