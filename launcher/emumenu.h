// The game-menu controller: fills the menu with the current emulator's
// games, shows the selected game's screen shot behind it, plays the menu's
// sounds, animates the emulator switches and tells its listener when the
// player has chosen a game or quit.
#pragma once

#include <allegro.h>

#include <string>
#include <vector>

#include "catalogue/emumgr.h"
#include "views/menu.h"
#include "views/sshot.h"

class Config_File;
class Config_Section;

namespace GameEngine {
class Engine;
}

namespace Marvane {

class DataFile;
class Emulator;
class Game;

// 0 rows across a centred menu, 1 rotated columns over the whole screen.
// Any other value is taken as 0.
enum Menu_Type { MENU_TYPE_HORIZONTAL = 0, MENU_TYPE_VERTICAL = 1 };

// Told of the player's final choice. Never deleted through this interface.
class Emu_Menu_Listener {
public:
    virtual void game_selected(Emulator* emulator, Game* game) = 0;
    virtual void quit_selected() = 0;

protected:
    ~Emu_Menu_Listener() = default;
};

class Null_Emu_Menu_Listener final : public Emu_Menu_Listener {
public:
    void game_selected(Emulator*, Game*) override {}
    void quit_selected() override {}
};

class Emu_Menu_Controller : public Menu_Listener, public Screen_Shot_Listener, public Emulator_Manager_Listener {
public:
    static inline const std::string CONFIG_SECTION = "Main";
    static inline const std::string CONFIG_JOYSTICK_SELECT_BUTTON = "joystick_select_button";
    static inline const std::string CONFIG_PREFER_INTEGER_SCALING = "prefer_integer_scaling";
    static inline const std::string CONFIG_SCREEN_SHOT_DELAY = "screen_shot_delay";
    static inline const std::string CONFIG_SCREEN_SHOT_BRIGHTNESS = "screen_shot_brightness";
    static inline const std::string CONFIG_SHOW_SCREEN_SHOT_ICON = "show_screen_shot_icon";
    static inline const std::string CONFIG_UP_KEY = "up_key";
    static inline const std::string CONFIG_DOWN_KEY = "down_key";
    static inline const std::string CONFIG_PAGE_UP_KEY = "page_up_key";
    static inline const std::string CONFIG_PAGE_DOWN_KEY = "page_down_key";
    static inline const std::string CONFIG_PLAY_GAME_KEY = "play_game_key";
    static inline const std::string CONFIG_NEXT_EMU_KEY = "next_emulator_key";
    static inline const std::string CONFIG_PREVIOUS_EMU_KEY = "previous_emulator_key";
    static inline const std::string CONFIG_QUIT_KEY = "quit_key";
    static inline const std::string CONFIG_SCREEN_SHOT_KEY = "screen_shot_key";
    static inline const std::string CONFIG_USE_ANIMATIONS = "use_animations";
    static inline const std::string CONFIG_TURBO_SCROLL_THRESHOLD = "turbo_scroll_threshold";
    static inline const std::string CONFIG_LARGE_MENU_THRESHOLD = "large_menu_threshold";
    static inline const std::string CONFIG_MOUSE_INPUT_AXIS = "mouse_input_axis";
    static inline const std::string CONFIG_MOUSE_INPUT_THRESHOLD = "mouse_input_threshold";
    static inline const std::string CONFIG_EFFECT_VOLUME = "sound_effect_volume";
    static inline const std::string CONFIG_INITIAL_KEY_DELAY = "initial_key_delay";
    static inline const std::string CONFIG_KEY_REPEAT_DELAY = "key_repeat_delay";
    static inline const std::string CONFIG_INITIAL_JOYSTICK_DELAY = "initial_joystick_delay";
    static inline const std::string CONFIG_JOYSTICK_REPEAT_DELAY = "joystick_repeat_delay";
    static inline const std::string CONFIG_UNSELECTED_FG_COLOR = "unselected_fg_color";
    static inline const std::string CONFIG_UNSELECTED_OUTLINE_COLOR = "unselected_outline_color";
    static inline const std::string CONFIG_SELECTED_FG_COLOR = "selected_fg_color";
    static inline const std::string CONFIG_SELECTED_OUTLINE_COLOR = "selected_outline_color";

    // Entries of "marvo.dat".
    static constexpr int DATA_SWITCH_SAMPLE = 0;
    static constexpr int DATA_QUIT_SAMPLE = 3;
    static constexpr int DATA_SELECTION_SAMPLE = 4;
    static constexpr int DATA_ICON = 5;
    static constexpr int DATA_GAME_SAMPLE = 6;
    static constexpr int DATA_ENTRIES = 7;

    Emu_Menu_Controller(GameEngine::Engine* engine, FONT* font, int x, int y, int w, int h, Menu_Type type,
                        Emulator_Manager* manager);
    ~Emu_Menu_Controller() override;
    Emu_Menu_Controller(const Emu_Menu_Controller&) = delete;
    Emu_Menu_Controller& operator=(const Emu_Menu_Controller&) = delete;

    // Menu_Listener
    void selection_changed(unsigned index) override;
    void item_selected(unsigned index) override;
    void item_visible(unsigned index) override;
    void quit_pressed() override;
    void next_menu_pressed() override;
    void previous_menu_pressed() override;
    void stopped_moving() override;
    // Screen_Shot_Listener
    void toggle_screen_shot() override;
    // Emulator_Manager_Listener
    void emulator_manager_changed() override;
    void poll_emulator_manager() override;

    void load_state(DataFile* data_file, Config_File* config);
    void start();
    void set_listener(Emu_Menu_Listener* listener);
    void set_views_hidden(bool hidden);
    void play_sample(SAMPLE* sample);
    std::string get_current_screen_shot_file();
    void set_current_emulator_indecies();
    static void get_color(const std::vector<std::string>& list, int& red, int& green, int& blue);
    static Mouse_Input_Axis int_to_mouse_input_axis(int value);

    // Read back by the launcher and the tests.
    int get_state() const { return state; }
    int get_effect_volume() const { return effect_volume; }
    int get_turbo_scroll_threshold() const { return turbo_scroll_threshold; }
    int get_large_menu_threshold() const { return large_menu_threshold; }
    int get_mouse_input_axis() const { return mouse_input_axis; }
    int get_mouse_input_threshold() const { return mouse_input_threshold; }
    int get_screen_shot_brightness() const { return screen_shot_brightness; }
    int get_menu_animation_time() const { return menu_animation_time; }
    Menu_View* get_menu() const { return menu; }
    Screen_Shot* get_screen_shot() const { return screen_shot; }

private:
    // The colour of key, or def when it does not hold exactly three numbers.
    static int read_color(Config_Section* section, const std::string& key, int def);
    // The menu slides out (hide) on its way to the next or previous emulator.
    void leave_for_other_emulator(int leaving_state, SAMPLE* sample, void (Menu_View::*hide)(int));
    // The sample at index of the data file, or null when there is none.
    static SAMPLE* sample_at(DataFile* data_file, int index);

    GameEngine::Engine* engine;
    FONT* font;
    Emulator_Manager* manager;
    std::vector<Game*> games;
    int state = 0;
    Emu_Menu_Listener* listener;
    Null_Emu_Menu_Listener* null_listener;
    SAMPLE* next_sample = nullptr;
    SAMPLE* previous_sample = nullptr;
    SAMPLE* selection_sample = nullptr;
    SAMPLE* game_sample = nullptr;
    SAMPLE* quit_sample = nullptr;
    int effect_volume = 255;
    BITMAP* icon = nullptr;
    bool show_icon = false;
    int screen_shot_delay = 0;
    int screen_shot_brightness = 50;
    int menu_animation_time = 500;
    int turbo_scroll_threshold = -1;
    int large_menu_threshold = 0;
    int mouse_input_axis = 0;
    int mouse_input_threshold = 250;
    Menu_View* menu;
    Screen_Shot* screen_shot;
};

}  // namespace Marvane
