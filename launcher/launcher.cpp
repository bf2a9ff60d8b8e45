#include "launcher/launcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "addons/alttf.h"
#include "catalogue/emulator.h"
#include "catalogue/emumgr.h"
#include "catalogue/game.h"
#include "engine/engine.h"
#include "launcher/bgctrl.h"
#include "support/fileutil.h"
#include "support/savefile.h"

namespace Marvane {

const char* const Launcher_Controller::DATA_FILE = "marvo.dat";
const char* const Launcher_Controller::BATCH_FILE = "runit.bat";
const char* const Launcher_Controller::BATCH_LOG_FILE = "logs/runit.log";
const char* const Launcher_Controller::CONFIG_FILE = "marvo.cfg";
const char* const Launcher_Controller::STATE_FILE = "marvo.sta";
const char* const Launcher_Controller::DEFAULT_FONT_FILE = "slicker.ttf";
const char* const Launcher_Controller::MAIN_SECTION = "Main";
const char* const Launcher_Controller::MAIN_DEBUG = "debug";
const char* const Launcher_Controller::MAIN_BACKGROUND_MUSIC = "background_music";
const char* const Launcher_Controller::MAIN_USE_SOFTWARE_MIXER = "use_software_mixer";
const char* const Launcher_Controller::MAIN_ANIMATION_METHOD = "animation_method";
const char* const Launcher_Controller::MAIN_USE_VSYNC = "use_vsync";
const char* const Launcher_Controller::MAIN_USE_VRAM = "use_vram";
const char* const Launcher_Controller::MAIN_USE_FULLSCREEN = "use_fullscreen";
const char* const Launcher_Controller::MAIN_RESOLUTION = "resolution";
const char* const Launcher_Controller::MAIN_MENU_ORIENTATION = "menu_orientation";
const char* const Launcher_Controller::MAIN_FONT_FILE = "font_file";
const char* const Launcher_Controller::MAIN_FONT_SIZE = "font_size";
const char* const Launcher_Controller::MAIN_ANTIALIAS_FONT = "antialias_font";
const char* const Launcher_Controller::MAIN_SCREEN_SAVER_TIME = "screen_saver_time";
const char* const Launcher_Controller::MAIN_SCREEN_SAVER_TEXT = "screen_saver_text";
const char* const Launcher_Controller::MAIN_SKIP_SONG_KEY = "skip_song_key";
const char* const Launcher_Controller::MAIN_START_SONG_OVER_KEY = "start_song_over_key";
const char* const Launcher_Controller::STATE_SECTION = "Main";
const char* const Launcher_Controller::STATE_LAST_FONT_FILE = "last_font_file";
const char* const Launcher_Controller::STATE_LAST_FONT_FILE_SIZE = "last_font_file_size";
const char* const Launcher_Controller::STATE_LAST_FONT_SIZE = "last_font_size";
const char* const Launcher_Controller::STATE_LAST_ANTIALIAS_FONT = "last_antialias_font";

namespace {

constexpr int DELAY_PRIORITY = 50;
constexpr int MUSIC_KEY_PRIORITY = 50;
constexpr int SCREEN_SAVER_UPDATE_PRIORITY = 51;
constexpr int SCREEN_SAVER_DRAW_PRIORITY = 50;
constexpr int SIGNAL_WATCH_PRIORITY = 50;
constexpr int STARTUP_DELAY_MS = 1000;
constexpr int LEAVING_DELAY_MS = 250;
constexpr int RUNIT_LOG_COPIES = 5;

void log_info(const std::string& message)
{
    if (LogFile::vx_log)
        LogFile::vx_log->info(message);
}

void log_warning(const std::string& message)
{
    if (LogFile::vx_log)
        LogFile::vx_log->warning(message);
}

// "<label><value>", as the hand-over logs what it writes.
void log_bracketed(const char* label, const std::string& value)
{
    std::string line(label);
    line.append(1, '<').append(value).append(1, '>');
    log_info(line);
}

// A relative file name as the platform's file functions want it.
std::string prepared_file_name(const char* name)
{
    char buffer[256];
    std::strncpy(buffer, name, sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';
    fix_filename_case(buffer);
    fix_filename_slashes(buffer);
    return buffer;
}

// Set by the signal handler, on whatever thread the signal lands.
std::atomic<int> caught_termination_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void on_termination_signal(int number)
{
    int none = 0;
    if (!caught_termination_signal.compare_exchange_strong(none, number)) {
        // Already shutting down: the second one is not asked politely.
        std::signal(number, SIG_DFL);
        std::raise(number);
    }
}

const char* signal_name(int number)
{
    switch (number) {
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGINT:
        return "SIGINT";
    case SIGQUIT:
        return "SIGQUIT";
    default:
        return "an unknown signal";
    }
}

// Ends the engine loop, at the end of the pass, once a termination signal
// has come.
class Signal_Watch : public GameEngine::Updatable {
public:
    explicit Signal_Watch(GameEngine::Engine* engine) : engine(engine) {}
    bool update() override
    {
        if (caught_termination_signal.load(std::memory_order_relaxed) != 0)
            engine->stop();
        return false;
    }

private:
    GameEngine::Engine* engine;
};

}  // namespace

namespace {

sigset_t termination_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int number : {SIGTERM, SIGHUP, SIGINT, SIGQUIT})
        sigaddset(&set, number);
    return set;
}

}  // namespace

void hold_termination_signals()
{
    const sigset_t set = termination_signals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void catch_termination_signals()
{
    struct sigaction action {};
    action.sa_handler = on_termination_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGHUP, SIGINT, SIGQUIT})
        sigaction(number, &action, nullptr);
    // A signal held meanwhile lands now, on our handler. Released also when
    // held by whoever started us: a cabinet must always be able to stop it,
    // and the programs it starts must not inherit them held.
    const sigset_t set = termination_signals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

int termination_signal()
{
    return caught_termination_signal.load();
}

DataFile::~DataFile()
{
    if (data)
        unload_datafile(data);
}

int DataFile::size() const
{
    int count = 0;
    while (data && data[count].type != DAT_END)
        ++count;
    return count;
}

const DATAFILE* DataFile::entry(int index, int type) const
{
    if (index < 0 || index >= size() || data[index].type != type || !data[index].dat)
        return nullptr;
    return &data[index];
}

std::string current_directory()
{
    // The directory may be longer than any fixed buffer: grow until it fits.
    std::vector<char> buffer(256);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return "";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

Launcher_Controller::Launcher_Controller(bool fade)
{
    if (fade)
        fade_out(5);
    configuration = new Config_File(CONFIG_FILE);
    state = new Config_File(STATE_FILE);

    std::unique_ptr<Config_Section> section(configuration->get_section(MAIN_SECTION));
    debug = section->get_bool(MAIN_DEBUG, false);
    const int background_music = section->get_int(MAIN_BACKGROUND_MUSIC, 0);
    const bool use_software_mixer = section->get_bool(MAIN_USE_SOFTWARE_MIXER, false);
    const int animation_method = section->get_int(MAIN_ANIMATION_METHOD, 1);
    const bool use_vsync = section->get_bool(MAIN_USE_VSYNC, true);
    const bool use_vram = section->get_bool(MAIN_USE_VRAM, true);
    const bool use_fullscreen = section->get_bool(MAIN_USE_FULLSCREEN, true);
    std::unique_ptr<std::vector<std::string>> resolution(section->get_string_list(MAIN_RESOLUTION));
    const int menu_orientation = section->get_int(MAIN_MENU_ORIENTATION, 0);
    font_file_name = section->get_string(MAIN_FONT_FILE, DEFAULT_FONT_FILE);
    font_size = section->get_int(MAIN_FONT_SIZE, 20);
    antialias = section->get_bool(MAIN_ANTIALIAS_FONT, true);
    const int screen_saver_time = section->get_int(MAIN_SCREEN_SAVER_TIME, 5);
    const std::string screen_saver_text = section->get_string(MAIN_SCREEN_SAVER_TEXT, "");
    const int skip_song_key = section->get_int(MAIN_SKIP_SONG_KEY, 0);
    const int start_song_over_key = section->get_int(MAIN_START_SONG_OVER_KEY, 0);
    section.reset();

    int width, height;
    if (resolution && resolution->size() == 2) {
        width = std::atoi((*resolution)[0].c_str());
        height = std::atoi((*resolution)[1].c_str());
    } else if (menu_orientation == 1) {
        width = 640;
        height = 480;
    } else {
        width = 800;
        height = 600;
    }
    char line[80];
    std::snprintf(line, sizeof line, "Using screen resolution of %dx%d", width, height);
    log_info(line);

    try {
        build(use_software_mixer, animation_method, use_vsync, use_vram, use_fullscreen, width, height,
              background_music, menu_orientation, screen_saver_time, screen_saver_text, skip_song_key,
              start_song_over_key);
    } catch (const GameEngine::InitError&) {
        // Nothing half-built may outlive the failed start.
        release();
        set_gfx_mode(GFX_TEXT, 80, 25, 0, 0);
        set_palette(default_palette);
        throw;
    }
    phase = 0;
}

void Launcher_Controller::build(bool use_software_mixer, int animation_method, bool use_vsync, bool use_vram,
                                bool use_fullscreen, int width, int height, int background_music,
                                int menu_orientation, int screen_saver_time, const std::string& screen_saver_text,
                                int skip_song_key, int start_song_over_key)
{
    engine = GameEngine::Engine::get_instance();
    engine->initialize_sound(use_software_mixer);
    engine->set_graphics_mode(width, height, 16, use_fullscreen);
    engine->set_animation_mode(animation_method == 1 ? GameEngine::Engine::page_flipping
                                                     : GameEngine::Engine::double_buffering,
                               use_vram, use_vsync);

    load_data_file();

    if (!debug)
        unlink(prepared_file_name(BATCH_FILE).c_str());

    emulator_manager = new Emulator_Manager(configuration, state);

    if (background_music == 1) {
        music_controller = new MP3_Music_Controller(engine);
    } else {
        music_controller = new Null_Music_Controller();
        log_info("No background music");
    }
    music_controller->load_config(configuration);

    load_font();

    const int w = SCREEN_W;
    const int h = SCREEN_H;
    if (menu_orientation == 1)
        menu_controller = new Emu_Menu_Controller(engine, font, 0, 0, w, h, MENU_TYPE_VERTICAL, emulator_manager);
    else
        menu_controller =
            new Emu_Menu_Controller(engine, font, w / 4, 0, w / 2 - 1, h, MENU_TYPE_HORIZONTAL, emulator_manager);
    menu_controller->set_listener(this);

    GameEngine::GEContainer* root = engine->get_root_container();
    delay_view = new Delay_VC(engine, this);
    delay_view->delay(STARTUP_DELAY_MS);
    root->add_updatable(delay_view, DELAY_PRIORITY);

    music_key_view = new Background_Music_VC(engine);
    music_key_view->set_skip_key(skip_song_key);
    music_key_view->set_start_over_key(start_song_over_key);
    music_key_view->set_listener(this);
    root->add_updatable(music_key_view, MUSIC_KEY_PRIORITY);

    screen_saver = new Screen_Saver_VC(engine, font);
    screen_saver->set_screen_saver_listener(this);
    // A negative time would wrap into an endless wait; it means never, like 0.
    // Minutes become seconds; a huge value must not wrap round to a short wait.
    const unsigned saver_minutes =
        screen_saver_time > 0 ? std::min(static_cast<unsigned>(screen_saver_time), UINT_MAX / 60u) : 0u;
    screen_saver->set_start_after(saver_minutes * 60u);
    screen_saver->set_text(screen_saver_text);
    root->add_updatable(screen_saver, SCREEN_SAVER_UPDATE_PRIORITY);

    signal_watch = new Signal_Watch(engine);
    root->add_updatable(signal_watch, SIGNAL_WATCH_PRIORITY);
}

void Launcher_Controller::load_data_file()
{
    const std::string name = prepared_file_name(DATA_FILE);
    DATAFILE* loaded = load_datafile(name.c_str());
    if (!loaded)
        throw GameEngine::InitError(std::string("Error loading ") + name + "\n");
    data_file = new DataFile(loaded);

    // The menu takes its sounds and its icon by position: a file made for
    // something else must stop the start, not crash the menu later.
    struct Needed {
        int index;
        int type;
        const char* what;
    };
    static const Needed needed[] = {
        {Emu_Menu_Controller::DATA_SWITCH_SAMPLE, DAT_SAMPLE, "a sample"},
        {Emu_Menu_Controller::DATA_QUIT_SAMPLE, DAT_SAMPLE, "a sample"},
        {Emu_Menu_Controller::DATA_SELECTION_SAMPLE, DAT_SAMPLE, "a sample"},
        {Emu_Menu_Controller::DATA_ICON, DAT_BITMAP, "a bitmap"},
        {Emu_Menu_Controller::DATA_GAME_SAMPLE, DAT_SAMPLE, "a sample"},
    };
    const int count = data_file->size();
    if (count < Emu_Menu_Controller::DATA_ENTRIES)
        throw GameEngine::InitError(std::string("Error loading ") + name + ": it holds " + std::to_string(count) +
                                    " entries, " + std::to_string(Emu_Menu_Controller::DATA_ENTRIES) +
                                    " are needed\n");
    for (const Needed& n : needed)
        if (!data_file->entry(n.index, n.type))
            throw GameEngine::InitError(std::string("Error loading ") + name + ": entry " +
                                        std::to_string(n.index) + " is not " + n.what + "\n");
}

void Launcher_Controller::load_font()
{
    if (!file_exists(font_file_name)) {
        if (!file_exists(std::string(DEFAULT_FONT_FILE)))
            throw GameEngine::InitError("No font found");
        font_file_name = DEFAULT_FONT_FILE;
    }
    font_file_size = file_size(font_file_name);
    log_info("Loading font: " + font_file_name);
    const int smooth = antialias ? TTF_SMOOTH_FULL : TTF_SMOOTH_NONE;
    font = load_ttf_font(font_file_name.c_str(), font_size, smooth);
    // A file that is there but is no usable font: the shipped font serves
    // when it is a different file.
    if (!font && font_file_name != DEFAULT_FONT_FILE && file_exists(std::string(DEFAULT_FONT_FILE))) {
        log_warning("Could not load font " + font_file_name + ", using " + DEFAULT_FONT_FILE);
        font_file_name = DEFAULT_FONT_FILE;
        font_file_size = file_size(font_file_name);
        font = load_ttf_font(font_file_name.c_str(), font_size, smooth);
    }
    if (!font)
        throw GameEngine::InitError("Error loading font " + font_file_name + " at size " +
                                    std::to_string(font_size) + "\n");
    log_info("Font loaded");
}

void Launcher_Controller::release()
{
    delete signal_watch;
    signal_watch = nullptr;
    delete screen_saver;
    screen_saver = nullptr;
    delete music_key_view;
    music_key_view = nullptr;
    delete data_file;
    data_file = nullptr;
    delete menu_controller;
    menu_controller = nullptr;
    delete music_controller;
    music_controller = nullptr;
    delete emulator_manager;
    emulator_manager = nullptr;
    delete configuration;
    configuration = nullptr;
    delete state;
    state = nullptr;
    delete delay_view;
    delay_view = nullptr;
    // Every view that drew with the font is gone now.
    if (font)
        destroy_font(font);
    font = nullptr;
    delete engine;
    engine = nullptr;
}

Launcher_Controller::~Launcher_Controller()
{
    log_info("Cleaning up Launcher_Controller");
    release();
    antialias_exit();
    allegro_exit();
    log_info("Cleaning up Launcher_Controller: Done");
}

std::string Launcher_Controller::get_version_string()
{
    return std::string("Marvane v") + "0.9.8";
}

int Launcher_Controller::launch_game()
{
    // Ended during the start: the state was never read, so saving it would
    // only overwrite it with the defaults.
    if (const int number = termination_signal()) {
        log_info(std::string("Ended by ") + signal_name(number));
        return 2;
    }
    restore_state();
    exit_code = 2;
    engine->run();
    if (const int number = termination_signal()) {
        log_info(std::string("Ended by ") + signal_name(number));
        // As the quit key would: the menu position goes into the state.
        menu_controller->set_current_emulator_indecies();
        // The cabinet is going down: the starter must not run a game now.
        exit_code = 2;
    }
    save_state();
    log_info("Exitting");
    return exit_code;
}

void Launcher_Controller::restore_state()
{
    emulator_manager->restore_state();
    music_controller->restore_state(state);
    menu_controller->load_state(data_file, configuration);
}

void Launcher_Controller::save_state()
{
    // Every part of the state or none: a second signal lands once all are saved.
    const Signals_Held held;
    music_controller->save_state(state);
    emulator_manager->save_state();
    std::unique_ptr<Config_Section> section(state->get_section(STATE_SECTION));
    section->set_string(STATE_LAST_FONT_FILE, font_file_name);
    section->set_int(STATE_LAST_FONT_FILE_SIZE, font_file_size);
    section->set_int(STATE_LAST_FONT_SIZE, font_size);
    section->set_bool(STATE_LAST_ANTIALIAS_FONT, antialias);
}

void Launcher_Controller::quit_selected()
{
    log_info("Quit selected");
    exit_code = 2;
    phase = 2;
    delay_view->delay(LEAVING_DELAY_MS);
}

void Launcher_Controller::delay_vc_expired()
{
    if (phase == 0) {
        phase = 1;
        menu_controller->start();
    } else if (phase == 2) {
        engine->stop();
    }
}

void Launcher_Controller::rotate_progress(const LogFile::Log_Rotate_Event*)
{
    engine->poll_background_task();
}

void Launcher_Controller::skip_to_next_song(const Background_Music_Event*)
{
    music_controller->skip_to_next_song();
}

void Launcher_Controller::start_song_over(const Background_Music_Event*)
{
    music_controller->start_song_over();
}

void Launcher_Controller::screen_saver_changed_state(const Screen_Saver_Event* event)
{
    GameEngine::GEContainer* root = engine->get_root_container();
    if (event->is_active()) {
        menu_controller->set_views_hidden(true);
        root->add_drawable(screen_saver, SCREEN_SAVER_DRAW_PRIORITY);
    } else {
        root->remove_drawable(screen_saver);
        menu_controller->set_views_hidden(false);
    }
}

void Launcher_Controller::game_selected(Emulator* emulator, Game* game)
{
    // As getcwd gives it: here a backslash is a character of a folder name,
    // not a separator.
    std::string front_end_directory = current_directory();
    if (front_end_directory.empty())
        front_end_directory.assign(1, '.');
    // The starter's shell must read every path as one word, whatever the
    // folder names hold: quoted as the ROM path is.
    const std::string log_path = quote_rom_path(front_end_directory + "/" + BATCH_LOG_FILE);

    const std::string batch_file = prepared_file_name(BATCH_FILE);
    const int fd = open_for_writing(batch_file, O_WRONLY | O_CREAT | O_TRUNC, 0664);
    if (fd < 0) {
        refuse_hand_over(batch_file);
        return;
    }
    std::ostringstream out;

    std::string directory = emulator->directory();
    fix_filename_slashes(directory);
    const std::string command = emulator->get_command_to_run(game);
    const std::string& pre_command = emulator->get_pre_command();
    const std::string& post_command = emulator->get_post_command();

    log_bracketed("Game selected: ", game->get_full_name());
    log_bracketed("Emulator: ", emulator->name());
    log_bracketed("Directory: ", directory);
    log_bracketed("Pre-command: ", pre_command);
    log_bracketed("Post-command: ", post_command);
    log_bracketed("Command: ", command);

    write_script_header(out);
    if (!debug)
        LogFile::rotate_log_files(BATCH_LOG_FILE, RUNIT_LOG_COPIES, this);
    if (!pre_command.empty())
        write_command(out, pre_command, "");
    out << "cd " << quote_rom_path(directory) << "\n";
    write_command(out, command, log_path);
    out << "cd " << quote_rom_path(front_end_directory) << "\n";
    if (!post_command.empty())
        write_command(out, post_command, "");
    if (debug)
        out << "pause\n";
    // A full disk shows only here: the starter must not be sent to a file
    // that holds part of the commands, or none.
    const bool written = write_all(fd, out.str());
    if (::close(fd) != 0 || !written) {
        // Only the name goes: when it is a link, never what it points to.
        unlink(batch_file.c_str());
        refuse_hand_over(batch_file);
        return;
    }
    exit_code = debug ? 1 : 0;
    phase = 2;
    delay_view->delay(LEAVING_DELAY_MS);
}

void Launcher_Controller::refuse_hand_over(const std::string& batch_file)
{
    // The menu has already closed for the choice, so staying would leave the
    // cabinet on a blank screen that no key brings back: say why, on the
    // starter's console too, and leave as after quitting (exit code 2).
    const std::string message = "Could not write " + batch_file;
    if (LogFile::vx_log)
        LogFile::vx_log->error(message);
    std::fprintf(stderr, "marvo-frontend: %s\n", message.c_str());
    exit_code = 2;
    phase = 2;
    delay_view->delay(LEAVING_DELAY_MS);
}

void Launcher_Controller::write_script_header(std::ostream& out)
{
    out << (debug ? "@echo on\n" : "@echo off\n");
}

void Launcher_Controller::write_command(std::ostream& out, const std::string& command, const std::string& log_path)
{
    if (debug) {
        out << "echo Will run: \"" << command << "\"\n";
        out << "pause\n";
        out << command << "\n";
    } else if (!log_path.empty()) {
        out << command << " > " << log_path << "\n";
    } else {
        out << command << "\n";
    }
}

}  // namespace Marvane
