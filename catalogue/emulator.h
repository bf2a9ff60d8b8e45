#pragma once
// One emulator of the menu: its configuration file, its games, its menu
// position in the state file, and the command line and screen shot of a game.
#include <cstdint>
#include <map>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/game.h"

class Config_File;

namespace Marvane {

// Thrown by the Emulator constructor when `name` or `executable` is missing.
class InvalidEmulatorConfig {};

class Emulator_Listener {
public:
    virtual ~Emulator_Listener() = default;
    virtual void poll_emulator_listener() = 0;
};

class Null_Emulator_Listener : public Emulator_Listener {
public:
    static Null_Emulator_Listener* instance();
    void poll_emulator_listener() override {}
};

class Emulator {
public:
    static inline const std::string CONFIG_SECTION = "Emulator";
    static inline const std::string CONFIG_OPTIONS_SECTION = "Options";
    static inline const std::string CONFIG_NAME = "name";
    static inline const std::string CONFIG_DESCRIPTION = "description";
    static inline const std::string CONFIG_DIRECTORY = "directory";
    static inline const std::string CONFIG_EXECUTABLE = "executable";
    static inline const std::string CONFIG_PRE_COMMAND = "pre_command";
    static inline const std::string CONFIG_POST_COMMAND = "post_command";
    static inline const std::string CONFIG_USE_ROM_FILE = "use_rom_file";
    static inline const std::string CONFIG_ROM_EXTENSION = "rom_extension";
    static inline const std::string CONFIG_ROM_DIRECTORY = "rom_directory";
    static inline const std::string CONFIG_USE_EXTENSION = "use_extension";
    static inline const std::string CONFIG_USE_ROM_DIRECTORY = "use_rom_directory";
    static inline const std::string CONFIG_GLOBAL_OPTIONS = "global_options";
    static inline const std::string CONFIG_OPTIONS_BEFORE_ROM = "options_before_rom";
    static inline const std::string CONFIG_MAP_FILE = "map_file";
    static inline const std::string CONFIG_SCREEN_SHOT_DIRECTORY = "screen_shot_directory";
    static inline const std::string STATE_SELECTED_INDEX = "selected_index";
    static inline const std::string STATE_FIRST_SHOWN_INDEX = "first_shown_index";

    Emulator(const std::string& config_name, const std::string& path_prefix,
             Emulator_Listener* listener);
    virtual ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    void load_config();
    std::string append_prefix(const std::string& path) const;
    void restore_state(Config_File* state);
    void save_state(Config_File* state);
    std::string get_command_to_run(Game* game);
    std::string get_screen_shot_file_name(Game* game) const;

    const std::string& config_directory() const { return config_directory_; }
    const std::string& config_name() const { return config_name_; }
    const std::string& name() const { return name_; }
    const std::string& description() const { return description_; }
    const std::string& directory() const { return directory_; }
    const std::string& executable() const { return executable_; }
    const std::string& rom_directory() const { return rom_directory_; }
    const std::string& global_options() const { return global_options_; }
    const std::string& screen_shot_directory() const { return screen_shot_directory_; }
    const std::string& map_file() const { return map_file_; }
    const std::string& get_pre_command() const { return pre_command_; }
    const std::string& get_post_command() const { return post_command_; }
    bool options_before_rom() const { return options_before_rom_; }
    bool use_rom_file() const { return use_rom_file_; }
    bool use_extension() const { return use_extension_; }
    bool use_rom_directory() const { return use_rom_directory_; }
    unsigned get_selected_index() const { return selected_index_; }
    unsigned get_first_shown_index() const { return first_shown_index_; }
    void set_selected_index(unsigned index) { selected_index_ = index; }
    void set_first_shown_index(unsigned index) { first_shown_index_ = index; }

    bool is_valid_extension(const std::string& extension) const;
    unsigned number_of_games() const;
    void get_game_list(std::vector<Game*>& list) const;

protected:
    Emulator();  // for InvalidEmulator only

private:
    // The executable as the batch file's shell must be given it.
    std::string program_to_run() const;
    void load_name_map();
    void add_games_from_rom_file();
    void search_for_games();
    void add_game(const std::string& rom_name, const std::string& extension);
    // A game whose names are copied into the arena; only ~Game, never delete.
    Game* new_game(std::string_view full_name, std::string_view rom_name, std::string_view extension);
    // The full name the map file gives rom_name; false when it gives none.
    bool find_full_name(const std::string& rom_name, std::string_view& full_name) const;
    void store_added_games();
    void delete_games();

protected:
    // The games with their names and the name map's tree nodes come from
    // one arena: none of them goes before the emulator does, and 45 000
    // games then load without a heap allocation each. It comes first so
    // that it outlives the map.
    std::unique_ptr<std::pmr::monotonic_buffer_resource> node_arena_;
    std::pmr::map<std::string, std::string> name_map_;
    // In menu order (nocase_less of the full names), no two equal ignoring case.
    std::vector<Game*> games_;
    std::string config_directory_;
    std::string config_name_;
    std::unique_ptr<Config_File> config_file_;
    std::string path_prefix_;
    std::string name_;
    std::string description_;
    std::string directory_;
    std::string pre_command_;
    std::string executable_;
    std::string post_command_;
    std::string rom_directory_;
    std::unique_ptr<std::vector<std::string>> rom_extensions_;
    std::string global_options_;
    std::string screen_shot_directory_;
    std::string map_file_;
    bool options_before_rom_ = false;
    bool use_rom_file_ = false;
    bool use_extension_ = false;
    bool use_rom_directory_ = false;
    unsigned selected_index_ = 0;
    unsigned first_shown_index_ = 0;
    Emulator_Listener* listener_;

private:
    // Games added while the lists are read; the games list is built from
    // them in one sort.
    struct Added_Game {
        uint64_t prefix[2];  // the first 16 bytes of the full name, folded, as numbers
        Game* game;
        uint32_t sequence;
        std::string_view full_name() const { return game->full_name(); }
    };
    std::vector<Added_Game> added_games_;

    // A map file read in one batch (the usual case) stays in its buffers
    // while the games are added, found through a hash index, instead of
    // going into name_map_ node by node: 45 000 lines then cost no tree
    // nodes, no strings of their own, no sort and far fewer fresh pages.
    struct Map_Entry {
        uint32_t rom;  // offset into the text, below the batch size; the full name follows the ROM name
        uint32_t rom_size;
        size_t full_size;
    };
    std::string map_text_;
    std::vector<Map_Entry> map_entries_;
    // Open addressing over map_entries_ by ROM name: an entry's index plus
    // one, 0 for a free slot; a power of two at least twice the entries.
    std::vector<uint32_t> map_index_;
};

// Stands in the menu for an emulator whose configuration file is unusable.
class InvalidEmulator : public Emulator {
public:
    InvalidEmulator(const std::string& config_name, Emulator_Listener* listener);
    ~InvalidEmulator() override = default;
};

// Quotes a ROM path for the command line so that the shell reads it as one
// word naming the file: double quotes when blanks are its only special
// characters, else single quotes.
std::string quote_rom_path(const std::string& path);

}  // namespace Marvane
