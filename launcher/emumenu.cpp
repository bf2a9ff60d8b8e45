#include "launcher/emumenu.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "catalogue/emulator.h"
#include "catalogue/game.h"
#include "engine/engine.h"
#include "launcher/launcher.h"
#include "support/fileutil.h"
#include "support/vx_key.h"

namespace Marvane {

namespace {

constexpr int MENU_PRIORITY = 400;
constexpr int SCREEN_SHOT_DRAW_PRIORITY = 0;
constexpr int SCREEN_SHOT_UPDATE_PRIORITY = 400;

// Menu states.
enum {
    CREATED = 0,
    APPEARING = 1,
    BROWSING = 2,
    LEAVING_NEXT = 3,
    LEAVING_PREVIOUS = 4,
    QUITTING = 5,
    GAME_CHOSEN = 6,
    FULL_SCREEN_SHOT = 7,
    FINISHED = 8
};

}  // namespace

Emu_Menu_Controller::Emu_Menu_Controller(GameEngine::Engine* engine, FONT* font, int x, int y, int w, int h,
                                         Menu_Type type, Emulator_Manager* manager)
    : engine(engine), font(font), manager(manager), listener(nullptr), null_listener(nullptr), menu(nullptr),
      screen_shot(nullptr)
{
    if (type == MENU_TYPE_VERTICAL)
        menu = new VLMenu_View(engine, this->font, x, y, w, h);
    else
        menu = new HMenu_View(engine, this->font, x, y, w, h);
    screen_shot = new Screen_Shot(engine);
    set_views_hidden(false);
    null_listener = new Null_Emu_Menu_Listener();
    listener = null_listener;
    menu->set_listener(this);
    screen_shot->set_listener(this);
    // Fills the menu at once, before any settings are read.
    manager->set_listener(this);
}

Emu_Menu_Controller::~Emu_Menu_Controller()
{
    // The manager outlives this controller; it must not call back into it.
    manager->set_listener(nullptr);
    set_views_hidden(true);
    delete menu;
    delete screen_shot;
    delete null_listener;
}

void Emu_Menu_Controller::set_listener(Emu_Menu_Listener* new_listener)
{
    listener = new_listener ? new_listener : null_listener;
}

void Emu_Menu_Controller::set_views_hidden(bool hidden)
{
    GameEngine::GEContainer* root = engine->get_root_container();
    if (hidden) {
        root->remove_drawable(menu);
        root->remove_updatable(menu);
        root->remove_drawable(screen_shot);
        root->remove_updatable(screen_shot);
        return;
    }
    // While the picture is shown full screen the menu stays out.
    if (state != FULL_SCREEN_SHOT) {
        root->add_drawable(menu, MENU_PRIORITY);
        root->add_updatable(menu, MENU_PRIORITY);
    }
    root->add_drawable(screen_shot, SCREEN_SHOT_DRAW_PRIORITY);
    root->add_updatable(screen_shot, SCREEN_SHOT_UPDATE_PRIORITY);
}

SAMPLE* Emu_Menu_Controller::sample_at(DataFile* data_file, int index)
{
    const DATAFILE* entry = data_file ? data_file->entry(index, DAT_SAMPLE) : nullptr;
    return entry ? static_cast<SAMPLE*>(entry->dat) : nullptr;
}

int Emu_Menu_Controller::read_color(Config_Section* section, const std::string& key, int def)
{
    std::unique_ptr<std::vector<std::string>> list(section->get_string_list(key));
    if (!list || list->size() != 3)
        return def;
    int red, green, blue;
    get_color(*list, red, green, blue);
    return makecol(red, green, blue);
}

void Emu_Menu_Controller::load_state(DataFile* data_file, Config_File* config)
{
    next_sample = previous_sample = sample_at(data_file, DATA_SWITCH_SAMPLE);
    quit_sample = sample_at(data_file, DATA_QUIT_SAMPLE);
    selection_sample = sample_at(data_file, DATA_SELECTION_SAMPLE);
    game_sample = sample_at(data_file, DATA_GAME_SAMPLE);
    const DATAFILE* icon_entry = data_file ? data_file->entry(DATA_ICON, DAT_BITMAP) : nullptr;
    icon = icon_entry ? static_cast<BITMAP*>(icon_entry->dat) : nullptr;

    std::unique_ptr<Config_Section> section(config->get_section(CONFIG_SECTION));
    menu->set_select_joy(section->get_int(CONFIG_JOYSTICK_SELECT_BUTTON, 0));
    menu->set_line_up_joy(2);
    menu->set_line_down_joy(3);
    menu->set_page_up_joy(4);
    menu->set_page_down_joy(5);
    screen_shot->set_prefer_integer_scaling(section->get_bool(CONFIG_PREFER_INTEGER_SCALING, true));
    screen_shot_delay = section->get_int(CONFIG_SCREEN_SHOT_DELAY, 0);
    screen_shot_brightness = section->get_int(CONFIG_SCREEN_SHOT_BRIGHTNESS, 0);
    show_icon = section->get_bool(CONFIG_SHOW_SCREEN_SHOT_ICON, false);
    menu->set_line_up_key(vx_key_to_allegro_key(section->get_int(CONFIG_UP_KEY, 84)));
    menu->set_line_down_key(vx_key_to_allegro_key(section->get_int(CONFIG_DOWN_KEY, 85)));
    menu->set_page_up_key(vx_key_to_allegro_key(section->get_int(CONFIG_PAGE_UP_KEY, 82)));
    menu->set_page_down_key(vx_key_to_allegro_key(section->get_int(CONFIG_PAGE_DOWN_KEY, 83)));
    menu->set_select_key(vx_key_to_allegro_key(section->get_int(CONFIG_PLAY_GAME_KEY, 28)));
    menu->set_next_menu_key(vx_key_to_allegro_key(section->get_int(CONFIG_NEXT_EMU_KEY, 100)));
    menu->set_previous_menu_key(vx_key_to_allegro_key(section->get_int(CONFIG_PREVIOUS_EMU_KEY, 98)));
    menu->set_quit_key(vx_key_to_allegro_key(section->get_int(CONFIG_QUIT_KEY, 59)));
    screen_shot->set_toggle_key(vx_key_to_allegro_key(section->get_int(CONFIG_SCREEN_SHOT_KEY, 75)));
    const bool use_animations = section->get_bool(CONFIG_USE_ANIMATIONS, true);
    menu_animation_time = use_animations ? 500 : 0;
    menu->set_use_animations(use_animations);
    turbo_scroll_threshold = section->get_int(CONFIG_TURBO_SCROLL_THRESHOLD, -1);
    menu->set_turbo_scroll_threshold(turbo_scroll_threshold);
    large_menu_threshold = section->get_int(CONFIG_LARGE_MENU_THRESHOLD, 0);
    mouse_input_axis = section->get_int(CONFIG_MOUSE_INPUT_AXIS, 0);
    menu->set_mouse_input_axis(int_to_mouse_input_axis(mouse_input_axis));
    mouse_input_threshold = std::max(1, section->get_int(CONFIG_MOUSE_INPUT_THRESHOLD, 250));
    menu->set_mouse_input_threshold(mouse_input_threshold);
    effect_volume = std::clamp(section->get_int(CONFIG_EFFECT_VOLUME, 1000), 0, 1000) * 255 / 1000;
    const int initial_key_delay = section->get_int(CONFIG_INITIAL_KEY_DELAY, 250);
    menu->set_key_repeat_delay(initial_key_delay, section->get_int(CONFIG_KEY_REPEAT_DELAY, 125));
    const int initial_joystick_delay = section->get_int(CONFIG_INITIAL_JOYSTICK_DELAY, 250);
    menu->set_joystick_repeat_delay(initial_joystick_delay, section->get_int(CONFIG_JOYSTICK_REPEAT_DELAY, 125));

    const int unselected_fg = read_color(section.get(), CONFIG_UNSELECTED_FG_COLOR, makecol(255, 255, 255));
    const int unselected_outline = read_color(section.get(), CONFIG_UNSELECTED_OUTLINE_COLOR, makecol(0, 0, 0));
    const int selected_fg = read_color(section.get(), CONFIG_SELECTED_FG_COLOR, makecol(0, 0, 0));
    const int selected_outline = read_color(section.get(), CONFIG_SELECTED_OUTLINE_COLOR, makecol(255, 255, 255));
    menu->set_selected_colors(selected_fg, selected_outline);
    menu->set_unselected_colors(unselected_fg, unselected_outline);
    section.reset();

    emulator_manager_changed();
}

void Emu_Menu_Controller::start()
{
    menu->unhide_all(menu_animation_time);
    state = APPEARING;
}

void Emu_Menu_Controller::play_sample(SAMPLE* sample)
{
    // Without a sound driver, or without that entry, the menu stays silent.
    if (sample)
        ::play_sample(sample, effect_volume, 127, 1000, 0);
}

void Emu_Menu_Controller::get_color(const std::vector<std::string>& list, int& red, int& green, int& blue)
{
    red = green = blue = 0;
    if (list.size() != 3)
        return;
    red = std::atoi(list[0].c_str());
    green = std::atoi(list[1].c_str());
    blue = std::atoi(list[2].c_str());
}

Mouse_Input_Axis Emu_Menu_Controller::int_to_mouse_input_axis(int value)
{
    if (value < MOUSE_INPUT_NONE || value > MOUSE_INPUT_MINUS_Y)
        return MOUSE_INPUT_NONE;
    return static_cast<Mouse_Input_Axis>(value);
}

void Emu_Menu_Controller::emulator_manager_changed()
{
    std::string title = "No Emulators Loaded";
    std::string subtitle = "(Please Reconfigure)";
    unsigned selected = 0;
    unsigned first_shown = 0;
    games.clear();
    if (Emulator* emulator = manager->get_current_emulator()) {
        emulator->get_game_list(games);
        title = emulator->name();
        subtitle = emulator->description();
        selected = emulator->get_selected_index();
        first_shown = emulator->get_first_shown_index();
    }
    // Built and handed over without copies: this runs three times at start-up
    // and on every emulator switch, with up to tens of thousands of games.
    std::vector<Scrollable_Item> items(games.size());
    for (std::size_t i = 0; i < games.size(); ++i)
        items[i].text = games[i]->get_full_name();
    menu->set_titles(title, subtitle);
    menu->set_all_items(std::move(items), selected, first_shown);
    menu->set_turbo_scroll_threshold(
        static_cast<long long>(games.size()) > large_menu_threshold ? turbo_scroll_threshold : -1);
    engine->catchup();
}

void Emu_Menu_Controller::poll_emulator_manager()
{
    engine->poll_background_task();
}

void Emu_Menu_Controller::item_visible(unsigned index)
{
    Emulator* emulator = manager->get_current_emulator();
    if (!emulator || index >= games.size())
        return;
    const std::string file = emulator->get_screen_shot_file_name(games[index]);
    if (file.empty())
        return;
    menu->set_item_at(Scrollable_Item(games[index]->get_full_name(), show_icon ? icon : nullptr), index);
}

std::string Emu_Menu_Controller::get_current_screen_shot_file()
{
    Emulator* emulator = manager->get_current_emulator();
    if (!emulator || games.empty())
        return "";
    const unsigned index = menu->get_selected_index();
    if (index >= games.size())
        return "";
    return emulator->get_screen_shot_file_name(games[index]);
}

void Emu_Menu_Controller::set_current_emulator_indecies()
{
    const unsigned selected = menu->get_selected_index();
    const unsigned first_shown = menu->get_first_shown_index();
    if (Emulator* emulator = manager->get_current_emulator()) {
        emulator->set_selected_index(selected);
        emulator->set_first_shown_index(first_shown);
    }
}

void Emu_Menu_Controller::selection_changed(unsigned)
{
    play_sample(selection_sample);
    screen_shot->cancel_set_bitmap();
}

void Emu_Menu_Controller::item_selected(unsigned)
{
    if (!manager->get_current_emulator())
        return;
    state = GAME_CHOSEN;
    play_sample(game_sample);
    menu->center_selected_hide_others(menu_animation_time);
    screen_shot->cancel_set_bitmap();
    set_current_emulator_indecies();
}

void Emu_Menu_Controller::quit_pressed()
{
    state = QUITTING;
    play_sample(quit_sample);
    menu->hide_split(menu_animation_time);
    screen_shot->cancel_set_bitmap();
    set_current_emulator_indecies();
}

void Emu_Menu_Controller::next_menu_pressed()
{
    leave_for_other_emulator(LEAVING_NEXT, next_sample, &Menu_View::hide_right);
}

void Emu_Menu_Controller::previous_menu_pressed()
{
    leave_for_other_emulator(LEAVING_PREVIOUS, previous_sample, &Menu_View::hide_left);
}

void Emu_Menu_Controller::leave_for_other_emulator(int leaving_state, SAMPLE* sample, void (Menu_View::*hide)(int))
{
    if (!manager->get_current_emulator())
        return;
    play_sample(sample);
    state = leaving_state;
    (menu->*hide)(menu_animation_time);
    screen_shot->cancel_set_bitmap();
    set_current_emulator_indecies();
}

void Emu_Menu_Controller::stopped_moving()
{
    switch (state) {
    case APPEARING:
        state = BROWSING;
        screen_shot->set_bitmap(get_current_screen_shot_file(), fix(screen_shot_brightness), 0);
        break;
    case BROWSING:
        screen_shot->set_bitmap(get_current_screen_shot_file(), fix(screen_shot_brightness), screen_shot_delay);
        break;
    case LEAVING_NEXT:
        state = APPEARING;
        menu->hide_left(0);
        manager->increment_emulator_index();
        menu->unhide_all(menu_animation_time);
        break;
    case LEAVING_PREVIOUS:
        state = APPEARING;
        menu->hide_right(0);
        manager->decrement_emulator_index();
        menu->unhide_all(menu_animation_time);
        break;
    case QUITTING:
        state = FINISHED;
        listener->quit_selected();
        break;
    case GAME_CHOSEN:
        state = FINISHED;
        if (Emulator* emulator = manager->get_current_emulator()) {
            const unsigned index = emulator->get_selected_index();
            if (index < games.size())
                listener->game_selected(emulator, games[index]);
        }
        break;
    default:
        break;
    }
}

void Emu_Menu_Controller::toggle_screen_shot()
{
    GameEngine::GEContainer* root = engine->get_root_container();
    if (state == BROWSING) {
        const std::string file = get_current_screen_shot_file();
        if (file.empty())
            return;
        root->remove_drawable(menu);
        root->remove_updatable(menu);
        screen_shot->set_bitmap(file, fix(100), 0);
        state = FULL_SCREEN_SHOT;
    } else if (state == FULL_SCREEN_SHOT) {
        root->add_drawable(menu, MENU_PRIORITY);
        root->add_updatable(menu, MENU_PRIORITY);
        screen_shot->set_bitmap(get_current_screen_shot_file(), fix(screen_shot_brightness), 0);
        state = BROWSING;
    }
}

}  // namespace Marvane
