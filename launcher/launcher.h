// The launcher: builds the whole front-end from "marvo.cfg", runs the engine
// loop, hands the chosen game over to the starter through "runit.bat",
// saves "marvo.sta" on the way out and tears everything down.
#pragma once

#include <allegro.h>

#include <ostream>
#include <string>

#include "launcher/emumenu.h"
#include "support/logfile.h"
#include "views/bgview.h"
#include "views/delay.h"
#include "views/ssaver.h"

class Config_File;

namespace GameEngine {
class Engine;
class Updatable;
}

namespace Marvane {

class Background_Music_Controller;
class Emulator_Manager;

// The loaded "marvo.dat"; unloads it when deleted.
class DataFile {
public:
    explicit DataFile(DATAFILE* data) : data(data) {}
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Entry index when the file has it and it is of the given type
    // (DAT_SAMPLE, DAT_BITMAP, ...), else null.
    const DATAFILE* entry(int index, int type) const;
    // Number of entries.
    int size() const;

    DATAFILE* data;
};

class Launcher_Controller : public Emu_Menu_Listener,
                            public Delay_VC_Listener,
                            public LogFile::Log_Rotate_Listener,
                            public Background_Music_Listener,
                            public Screen_Saver_Listener {
public:
    static const char* const DATA_FILE;
    static const char* const BATCH_FILE;
    static const char* const BATCH_LOG_FILE;
    static const char* const CONFIG_FILE;
    static const char* const STATE_FILE;
    static const char* const DEFAULT_FONT_FILE;
    static const char* const MAIN_SECTION;
    static const char* const MAIN_DEBUG;
    static const char* const MAIN_BACKGROUND_MUSIC;
    static const char* const MAIN_USE_SOFTWARE_MIXER;
    static const char* const MAIN_ANIMATION_METHOD;
    static const char* const MAIN_USE_VSYNC;
    static const char* const MAIN_USE_VRAM;
    static const char* const MAIN_USE_FULLSCREEN;
    static const char* const MAIN_RESOLUTION;
    static const char* const MAIN_MENU_ORIENTATION;
    static const char* const MAIN_FONT_FILE;
    static const char* const MAIN_FONT_SIZE;
    static const char* const MAIN_ANTIALIAS_FONT;
    static const char* const MAIN_SCREEN_SAVER_TIME;
    static const char* const MAIN_SCREEN_SAVER_TEXT;
    static const char* const MAIN_SKIP_SONG_KEY;
    static const char* const MAIN_START_SONG_OVER_KEY;
    static const char* const STATE_SECTION;
    static const char* const STATE_LAST_FONT_FILE;
    static const char* const STATE_LAST_FONT_FILE_SIZE;
    static const char* const STATE_LAST_FONT_SIZE;
    static const char* const STATE_LAST_ANTIALIAS_FONT;

    explicit Launcher_Controller(bool fade);
    ~Launcher_Controller() override;
    Launcher_Controller(const Launcher_Controller&) = delete;
    Launcher_Controller& operator=(const Launcher_Controller&) = delete;

    // Emu_Menu_Listener
    void game_selected(Emulator* emulator, Game* game) override;
    void quit_selected() override;
    // Delay_VC_Listener
    void delay_vc_expired() override;
    // LogFile::Log_Rotate_Listener
    void rotate_progress(const LogFile::Log_Rotate_Event* event) override;
    // Background_Music_Listener
    void skip_to_next_song(const Background_Music_Event* event) override;
    void start_song_over(const Background_Music_Event* event) override;
    // Screen_Saver_Listener
    void screen_saver_changed_state(const Screen_Saver_Event* event) override;

    int launch_game();
    static std::string get_version_string();

    void restore_state();
    void save_state();
    void load_font();
    void write_script_header(std::ostream& out);
    void write_command(std::ostream& out, const std::string& command, const std::string& log_path);

private:
    // The steps of the constructor that may throw InitError.
    void build(bool use_software_mixer, int animation_method, bool use_vsync, bool use_vram, bool use_fullscreen,
               int width, int height, int background_music, int menu_orientation, int screen_saver_time,
               const std::string& screen_saver_text, int skip_song_key, int start_song_over_key);
    void load_data_file();
    // Everything built so far, in teardown order; safe on a half-built object.
    void release();
    // The choice could not be handed over: says so and leaves as after quitting.
    void refuse_hand_over(const std::string& batch_file);

    GameEngine::Engine* engine = nullptr;
    DataFile* data_file = nullptr;
    int phase = 0;
    FONT* font = nullptr;
    std::string font_file_name;
    int font_file_size = 0;
    int font_size = 20;
    bool antialias = true;
    bool debug = false;
    Config_File* configuration = nullptr;
    Config_File* state = nullptr;
    Emulator_Manager* emulator_manager = nullptr;
    Emu_Menu_Controller* menu_controller = nullptr;
    Background_Music_Controller* music_controller = nullptr;
    Delay_VC* delay_view = nullptr;
    Background_Music_VC* music_key_view = nullptr;
    Screen_Saver_VC* screen_saver = nullptr;
    GameEngine::Updatable* signal_watch = nullptr;
    int exit_code = 2;
};

// Holds SIGTERM, SIGHUP, SIGINT and SIGQUIT back; call first in main, so that one
// coming while install_allegro's own handlers are in place (they crash the
// process) waits for catch_termination_signals.
void hold_termination_signals();
// Makes SIGTERM, SIGHUP, SIGINT and SIGQUIT end the run as the quit key does, with
// the state saved once it was read; a second one while shutting down ends
// the process at once. Releases the held signals. Call after install_allegro.
void catch_termination_signals();
// The termination signal caught so far, 0 when none.
int termination_signal();

// The working directory, whatever its length; empty when it cannot be read.
std::string current_directory();

}  // namespace Marvane
