#include "catalogue/emulator.h"

#include "support/fileutil.h"

namespace Marvane {

Null_Emulator_Listener* Null_Emulator_Listener::instance()
{
    static Null_Emulator_Listener shared;
    return &shared;
}

namespace {

const std::string DEFAULT_DIRECTORY = ".";
const char HOST_SEPARATOR = '/';

// Characters the shell never treats specially inside a word.
bool is_shell_plain(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '_': case '-': case '.': case '/': case ',': case ':': case '+': case '=': case '@': case '%':
        return true;
    default:
        return false;
    }
}

// Scoped section of a configuration file: sections must be released at once.
std::unique_ptr<Config_Section> section_of(Config_File& file, const std::string& name)
{
    return std::unique_ptr<Config_Section>(file.get_section(name));
}

}  // namespace

std::string quote_rom_path(const std::string& path)
{
    bool blank = false;
    bool special = false;
    for (unsigned char c : path) {
        if (c == ' ')
            blank = true;
        else if (!is_shell_plain(c))
            special = true;
    }
    std::string quoted;
    if (!special) {
        quoted = path;
        if (blank)
            quote_long_file_name(quoted);
        return quoted;
    }
    // Inside single quotes nothing is special; a quote itself is closed,
    // escaped and reopened.
    quoted.reserve(path.size() + 2);
    quoted.push_back('\'');
    for (char c : path) {
        if (c == '\'')
            quoted.append("'\\''");
        else
            quoted.push_back(c);
    }
    quoted.push_back('\'');
    return quoted;
}

Emulator::Emulator()
    : node_arena_(std::make_unique<std::pmr::monotonic_buffer_resource>()),
      name_map_(node_arena_.get()),
      listener_(Null_Emulator_Listener::instance())
{
}

Emulator::Emulator(const std::string& config_name, const std::string& path_prefix,
                   Emulator_Listener* listener)
    : node_arena_(std::make_unique<std::pmr::monotonic_buffer_resource>()),
      name_map_(node_arena_.get()),
      config_directory_("config"),
      config_name_(config_name),
      path_prefix_(path_prefix),
      listener_(listener ? listener : Null_Emulator_Listener::instance())
{
    std::string path = config_directory_ + HOST_SEPARATOR + config_name_ + ".cfg";
    fix_file_name_case(path);
    config_file_ = std::make_unique<Config_File>(resolve_file_name_case(path));
    try {
        load_config();
        if (name_.empty() || executable_.empty())
            throw InvalidEmulatorConfig();
        load_name_map();
        if (use_rom_file_)
            add_games_from_rom_file();
        else
            search_for_games();
        // Only adding games looks names up in the map file's buffers.
        std::string().swap(map_text_);
        std::vector<Map_Entry>().swap(map_entries_);
        std::vector<uint32_t>().swap(map_index_);
        store_added_games();
    } catch (...) {
        delete_games();
        throw;
    }
}

Emulator::~Emulator()
{
    config_file_.reset();
    rom_extensions_.reset();
    delete_games();
}

// The games' memory goes with the arena.
void Emulator::delete_games()
{
    for (Game* game : games_)
        game->~Game();
    games_.clear();
    for (Added_Game& added : added_games_)
        if (added.game)
            added.game->~Game();
    added_games_.clear();
}

void Emulator::load_config()
{
    name_.clear();
    description_.clear();
    pre_command_.clear();
    executable_.clear();
    post_command_.clear();
    global_options_.clear();
    map_file_.clear();
    directory_ = DEFAULT_DIRECTORY;
    rom_directory_ = DEFAULT_DIRECTORY;
    screen_shot_directory_ = DEFAULT_DIRECTORY;
    rom_extensions_.reset();
    options_before_rom_ = use_rom_file_ = use_extension_ = use_rom_directory_ = false;

    {
        auto section = section_of(*config_file_, CONFIG_SECTION);
        name_ = section->get_string(CONFIG_NAME, name_);
        description_ = section->get_string(CONFIG_DESCRIPTION, description_);
        directory_ = append_prefix(section->get_file_name(CONFIG_DIRECTORY, directory_));
        executable_ = section->get_file_name(CONFIG_EXECUTABLE, executable_);
        pre_command_ = section->get_string(CONFIG_PRE_COMMAND, pre_command_);
        post_command_ = section->get_string(CONFIG_POST_COMMAND, post_command_);
        use_rom_file_ = section->get_bool(CONFIG_USE_ROM_FILE, use_rom_file_);
        if (!use_rom_file_)
            rom_extensions_.reset(section->get_string_list(CONFIG_ROM_EXTENSION));
        // Read for ROM-list emulators too: with use_rom_directory they need a
        // real directory in front of the ROM name, not a bare ".".
        rom_directory_ = section->get_file_name(CONFIG_ROM_DIRECTORY, rom_directory_);
        add_backslash(rom_directory_);
        rom_directory_ = append_prefix(rom_directory_);
        fix_filename_slashes(rom_directory_);
        use_extension_ = section->get_bool(CONFIG_USE_EXTENSION, use_extension_);
        use_rom_directory_ = section->get_bool(CONFIG_USE_ROM_DIRECTORY, use_rom_directory_);
        global_options_ = section->get_string(CONFIG_GLOBAL_OPTIONS, global_options_);
        options_before_rom_ = section->get_bool(CONFIG_OPTIONS_BEFORE_ROM, options_before_rom_);
        map_file_ = section->get_file_name(CONFIG_MAP_FILE, map_file_);
        screen_shot_directory_ =
            append_prefix(section->get_file_name(CONFIG_SCREEN_SHOT_DIRECTORY, screen_shot_directory_));
    }
    listener_->poll_emulator_listener();
}

std::string Emulator::append_prefix(const std::string& path) const
{
    return is_absolute_path(path) ? path : path_prefix_ + path;
}

// An emulator without a configuration name (an InvalidEmulator) has no state
// section of its own: it neither reads nor writes one, so nothing lands in the
// unnamed top section of the state file.
void Emulator::restore_state(Config_File* state)
{
    if (!state || config_name_.empty())
        return;
    auto section = section_of(*state, config_name_);
    selected_index_ = static_cast<unsigned>(section->get_int(STATE_SELECTED_INDEX, 0));
    first_shown_index_ = static_cast<unsigned>(section->get_int(STATE_FIRST_SHOWN_INDEX, 0));
}

void Emulator::save_state(Config_File* state)
{
    if (!state || config_name_.empty())
        return;
    auto section = section_of(*state, config_name_);
    section->set_int(STATE_SELECTED_INDEX, static_cast<int>(selected_index_));
    section->set_int(STATE_FIRST_SHOWN_INDEX, static_cast<int>(first_shown_index_));
}

std::string Emulator::get_command_to_run(Game* game)
{
    if (!game)
        return std::string();
    const std::string rom_name = game->get_rom_name();
    std::string game_options;
    if (config_file_) {
        auto section = section_of(*config_file_, CONFIG_OPTIONS_SECTION);
        game_options = section->get_string(rom_name, "");
    }
    std::string rom_part = rom_name;
    if (use_extension_ && !use_rom_file_)
        rom_part.append(1, '.').append(game->get_extension());
    const std::string path = quote_rom_path(use_rom_directory_ ? rom_directory_ + rom_part : rom_part);
    const std::string options = global_options_ + " " + game_options;
    const std::string program = program_to_run();
    if (options_before_rom_)
        return program + " " + options + " " + path;
    return program + " " + path + " " + options;
}

// The batch file runs the command from the emulator's directory, but the
// shell looks a bare name up on PATH only: a program of that name in the
// directory is named as "./NAME", so that it, and no other, runs.
std::string Emulator::program_to_run() const
{
    // A name with a directory in it (either separator) stays as written.
    if (executable_.find_first_of("/\\") != std::string::npos)
        return executable_;
    // The directory as the batch file's "cd" is given it.
    std::string program = directory_;
    add_backslash(program);
    program += executable_;
    fix_filename_slashes(program);
    return file_exists(program) ? std::string(".") + HOST_SEPARATOR + executable_ : executable_;
}

std::string Emulator::get_screen_shot_file_name(Game* game) const
{
    if (!game)
        return std::string();
    const std::string base = screen_shot_directory_ + HOST_SEPARATOR + game->get_rom_name();
    for (const char* ext : {".pcx", ".png", ".bmp", ".jpg"}) {
        const std::string candidate = base + ext;
        if (file_exists(candidate))
            return candidate;
    }
    return std::string();
}

InvalidEmulator::InvalidEmulator(const std::string& config_name, Emulator_Listener* listener)
{
    if (listener)
        listener_ = listener;
    name_ = "Invalid Configuration";
    description_ = "(" + config_name + ")";
}

}  // namespace Marvane
