#include "generator/pipeline.h"

#include <filesystem>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Functions {

namespace {

// True when text holds needle, comparing A to Z without case; needle is in
// lower case. Saves a lower-case copy of every line of long lists.
bool contains_lower(const std::string& text, const char* needle, std::size_t needle_length)
{
    if (text.size() < needle_length)
        return false;
    const std::size_t last = text.size() - needle_length;
    for (std::size_t i = 0; i <= last; ++i) {
        std::size_t j = 0;
        while (j < needle_length) {
            char c = text[i + j];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != needle[j])
                break;
            ++j;
        }
        if (j == needle_length)
            return true;
    }
    return false;
}

template <std::size_t N>
bool contains_lower(const std::string& text, const char (&needle)[N])
{
    return contains_lower(text, needle, N - 1);
}

// Moves on to the next line that opens a game block; false at the end.
bool seek_game_block(Text_Reader& info, std::string& line)
{
    while (!info.eof()) {
        info.read_line(line);
        if (contains_lower(line, "game ("))
            return true;
    }
    return false;
}

// The game's name: the last blank-separated piece of the line after the
// block's opening, in lower case.
std::string block_game_name(Text_Reader& info, std::string& line)
{
    info.read_line(line);
    return lower_case(last_split_piece(line, " "));
}

}  // namespace

bool parse_catver_line(const std::string& line, std::string& name, std::string& category)
{
    if (line.find_first_of(";.") != std::string::npos)
        return false;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos)
        return false;
    name = trim(line.substr(0, equals));
    category = ReplaceAll(trim(line.substr(equals + 1)), "*", "");
    const std::size_t slash = category.find('/');
    if (slash != std::string::npos)
        category.erase(slash);  // not trimmed again: "Maze / Collect" keeps "Maze "
    return true;
}

void parse_full_list_line(const std::string& line, std::string& name, std::string& description)
{
    const std::size_t blank = line.find(' ');
    name = blank == std::string::npos ? std::string() : line.substr(0, blank);
    const std::size_t quote = line.find('"');
    const std::size_t start = quote == std::string::npos ? 0 : quote + 1;
    description = line.size() > start ? line.substr(start, line.size() - start - 1) : std::string();
}

std::string front_end_text(const std::string& description)
{
    // The front-end's map reader ends a name at its next double quote.
    std::string text = description;
    for (char& c : text)
        if (c == '"')
            c = '\'';
    // It shows 8-bit Latin-1. UTF-8 text made only of Latin-1 characters
    // takes their Latin-1 bytes; any other text keeps its bytes, as there
    // is no Latin-1 for it (or it is no UTF-8 to begin with).
    std::string latin1;
    latin1.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            latin1 += static_cast<char>(lead);
            continue;
        }
        if ((lead != 0xC2 && lead != 0xC3) || i + 1 == text.size())
            return text;
        const unsigned char next = static_cast<unsigned char>(text[i + 1]);
        if ((next & 0xC0) != 0x80)
            return text;
        latin1 += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
        ++i;
    }
    return latin1;
}

bool verify_says_good(const std::string& line, const std::string& game)
{
    // "romset NAME is good" or "... is best available", a clone's name
    // followed by its parent's in brackets.
    const std::string text = lower_case(trim(line));
    const std::string start = "romset " + lower_case(game) + " ";
    if (text.compare(0, start.size(), start) != 0)
        return false;
    std::size_t verdict = start.size();
    if (verdict < text.size() && text[verdict] == '[') {
        const std::size_t close = text.find(']', verdict);
        if (close == std::string::npos || text.compare(close + 1, 1, " ") != 0)
            return false;
        verdict = close + 2;
    }
    const std::string rest = text.substr(verdict);
    return rest == "is good" || rest == "is best available";
}

bool usable_category_file_name(const std::string& category)
{
    constexpr std::size_t longest_name = 255;  // NAME_MAX of the usual file systems
    return !category.empty() && category != "." && category != ".." &&
           lower_case(category) != "mame" &&  // the all-games files are named so
           category.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
           category.size() + 4 <= longest_name;
}

bool scan_buttons(Text_Reader& info, Name_Table& table, Marvane::Run_Host& host)
{
    std::string line;
    while (seek_game_block(info, line)) {
        // No pause before the name line: MAME has ended, and its list is
        // complete, before the scan starts; a pause per game would cost a
        // minute and a half on a full list.
        const std::string name = block_game_name(info, line);
        while (true) {
            if (info.eof())
                return true;
            if (StopRequested)
                return false;
            info.read_line(line);
            if (line == ")")
                break;
            host.pump_messages();
            if (!contains_lower(line, "input ("))
                continue;
            const std::size_t buttons = lower_case(line).find(" buttons ");
            if (buttons != std::string::npos) {
                // The blank after the word and the next two characters.
                const std::string count = trim(line.substr(buttons + 8, 3));
                table.add(name, count, trim(name));
            }
            break;
        }
    }
    return true;
}

void scan_working(Text_Reader& info, Name_Table& table)
{
    std::string line;
    while (seek_game_block(info, line)) {
        const std::string name = block_game_name(info, line);
        while (!info.eof()) {
            info.read_line(line);
            if (line == ")")
                break;
            const std::string lower = lower_case(line);
            const std::size_t driver = lower.find("driver (");
            if (driver == std::string::npos)
                continue;
            const std::size_t status = lower.find(" status ", driver);
            std::string word;
            if (status != std::string::npos) {
                const std::size_t start = status + 8;
                word = lower.substr(start, lower.find(' ', start) - start);
            }
            table.add(name, word == "good" || word == "imperfect" ? "yes" : "no");
            break;
        }
    }
}

}  // namespace Functions

namespace Marvane {

namespace {

using namespace Functions;

const char* const completed_caption = "Tovan Marvane tools";
const char* const error_caption = "Tovan Marvane Tools";

// Per-category map and ROM list files, appended to through the game loop.
// Appending to a kept-open file writes the same bytes as opening, appending
// and closing it for every line, at a fraction of the cost; the number kept
// open is bounded so that many categories cannot exhaust the descriptors.
class Category_Files {
public:
    void write(const std::string& path, const std::string& line)
    {
        std::unique_ptr<Text_Writer>& file = open_[path];
        if (!file) {
            if (open_.size() > max_open) {
                open_.erase(path);
                close_all();
                write(path, line);
                return;
            }
            file = std::make_unique<Text_Writer>();
            file->append(path);
        }
        file->write_line(line);
    }

    void close_all()
    {
        auto files = std::move(open_);
        open_.clear();
        for (auto& entry : files)
            entry.second->close();
    }

    void discard() { open_.clear(); }

private:
    static constexpr std::size_t max_open = 128;
    std::unordered_map<std::string, std::unique_ptr<Text_Writer>> open_;
};

class Generation_Run {
public:
    explicit Generation_Run(Run_Host& host) : host_(host) {}

    void execute()
    {
        host_.set_busy_cursor(true);
        host_.set_run_controls_enabled(false);
        // A run depends only on its own inputs: nothing an earlier run read
        // reaches this one's files.
        ButtonTable.clear();
        WorkingTable.clear();
        CategoryTable.clear();
        host_.pump_messages();
        host_.pump_messages();
        try {
            body();
        } catch (const std::exception& failure) {
            // Files written so far stay as written.
            full_list_.close();
            category_files_.discard();
            map_ = std::make_unique<Text_Writer>();
            rom_ = std::make_unique<Text_Writer>();
            host_.show_message(failure.what(), error_caption);
        }
        full_list_.close();
        lists_.reset();  // before a closed window ends the program
        exit_path();
    }

private:
    std::string text(Run_Text field) { return host_.field_text(field); }
    bool option(Run_Option option) { return host_.option_checked(option); }

    void progress(const std::string& text)
    {
        host_.set_progress(text);
    }

    void exit_path()
    {
        host_.set_busy_cursor(false);
        host_.set_run_controls_enabled(true);
        if (StopRequested)
            host_.terminate_application();
    }

    void body()
    {
        normalise_paths();
        if (!checks_pass())
            return;
        refuse_line_breaks();
        take_names();
        run_lists();
        if (option(Run_Option::Chk_verify))
            link_rom_folder();
        if (!read_information_list())
            return;
        make_word_list();
        open_full_list();
        if (option(Run_Option::Chk_Cat))
            read_categories();
        write_configurations();
        create_all_games_lists();
        if (!game_loop())
            return;
        close_lists();
        host_.show_message("Completed!!", completed_caption);
    }

    void normalise_paths()
    {
        static const Run_Text directories[] = {Run_Text::Txt_ROMPath, Run_Text::Txt_SNAPPath,
                                               Run_Text::TXT_OUTPUT};
        const std::string other(1, other_separator);
        const std::string host(1, host_separator);
        for (Run_Text field : directories)
            host_.set_field_text(field, ReplaceAll(text(field), other, host));
        for (Run_Text field : directories)
            host_.set_field_text(field, StripTrailingBackslash(text(field)));
    }

    bool checks_pass()
    {
        struct Check {
            bool passed;
            const char* message;
            const char* caption;
        };
        const bool use_categories = option(Run_Option::Chk_Cat);
        const Check checks[] = {
            {file_exists(text(Run_Text::Txt_Mame)), "Error: Can't find Mame executable.",
             "File not found"},
            {directory_exists(text(Run_Text::Txt_SNAPPath)), "Error: Can't find SNAP Folder.",
             "Folder not found"},
            {!use_categories || file_exists(text(Run_Text::Txt_Cat)),
             "Error: Can't find CATVER.ini.", "Folder not found"},
            {directory_exists(text(Run_Text::Txt_ROMPath)), "Error: Can't find ROM Folder.",
             "Folder not found"},
            {directory_exists(text(Run_Text::TXT_OUTPUT)), "Error: Can't find Output Folder.",
             "Folder not found"},
        };
        for (const Check& check : checks) {
            if (!check.passed) {
                host_.show_message(check.message, check.caption);
                return false;
            }
        }
        return true;
    }

    // MAME.cfg ends a value at its line's end: a folder whose name breaks
    // the line would be cut there, the rest a line, and a key, of its own.
    void refuse_line_breaks()
    {
        static const std::pair<Run_Text, const char*> folders[] = {
            {Run_Text::Txt_ROMPath, "ROM"}, {Run_Text::Txt_SNAPPath, "SNAP"}};
        for (const auto& [field, name] : folders) {
            const std::string folder = text(field);
            if (folder.find_first_of("\r\n") != std::string::npos)
                throw Run_Error(std::string("Cannot write the ") + name + " Folder \"" + folder +
                                "\" into MAME.cfg, which ends a value at a line break.");
        }
    }

    void take_names()
    {
        MameExePath = text(Run_Text::Txt_Mame);
        RomDirectory = text(Run_Text::Txt_ROMPath);
        ShellName = "/bin/sh";
        const std::size_t separator = LastCharPos(MameExePath, host_separator);
        if (separator == 0) {
            MameDirectory = MameExePath;
            MameExeName.clear();
        } else {
            MameDirectory = MameExePath.substr(0, separator - 1);
            MameExeName = MameExePath.substr(separator);
        }
        output_ = text(Run_Text::TXT_OUTPUT);
    }

    // The run's own copy of a list file. MAME's folder is seldom writable
    // by the user (/usr/games), so the lists never go there.
    std::string in_lists(const char* file) const
    {
        return lists_->path() + host_separator + file;
    }

    // Runs one of MAME's list commands into the run's folder. Its exit code
    // is returned; MAME's error output is kept in `errors_file`.
    int run_list(const char* option_text, const char* output_file)
    {
        return run_hidden(shell_quote(mame_to_run()) + " " + option_text + " > " +
                              shell_quote(in_lists(output_file)),
                          in_lists(errors_file));
    }

    // A list command that failed ends the run with MAME's own words.
    [[noreturn]] void list_failed(const char* option_text, const std::string& failure)
    {
        throw Run_Error(
            mame_failure(std::string(option_text) + " " + failure, in_lists(errors_file)));
    }

    void run_required_list(const char* option_text, const char* output_file)
    {
        const int code = run_list(option_text, output_file);
        if (code != 0)
            list_failed(option_text, exit_code_text(code));
    }

    // True when the full list names at least one machine after its heading.
    bool lists_a_machine()
    {
        Text_Reader list;
        if (!list.open(in_lists("vxflist.txt")) || list.eof())
            return false;
        std::string line, name, description;
        list.read_line(line);
        while (!list.eof()) {
            list.read_line(line);
            parse_full_list_line(line, name, description);
            if (!name.empty())
                return true;
        }
        return false;
    }

    // MAME's failures are found here, before any file of the output
    // directory is touched.
    void run_lists()
    {
        lists_ = std::make_unique<Temporary_Folder>();

        progress("Creating Mame -gamelist");
        host_.pump_messages();
        // Nothing reads the game list, and current MAME no longer has it.
        run_list("-gamelist", "vxglist2.txt");
        sleep_ms(5);

        sleep_ms(5);
        progress("Creating Mame -listfull");
        sleep_ms(5);
        host_.pump_messages();
        run_required_list("-listfull", "vxflist.txt");
        if (!lists_a_machine())
            list_failed("-listfull", "listed no machine");

        // The information list also gives the working status (see
        // read_information_list).
        if (option(Run_Option::Chk_But) || option(Run_Option::Chk_Working)) {
            progress("Creating Mame - ListInfo DAT File");
            host_.pump_messages();
            run_required_list("-listinfo", "listinfo.txt");
            sleep_ms(5);
            sleep_ms(5);
        }
    }

    // MAME reads ";" in its ROM path as a break between folders: a ROM
    // folder whose path holds one reaches MAME's check through a link of
    // the run's folder.
    void link_rom_folder()
    {
        const std::string folder = std::filesystem::absolute(RomDirectory).string();
        if (folder.find(';') == std::string::npos)
            return;
        const std::string link = in_lists("roms");
        std::error_code failed;
        std::filesystem::create_directory_symlink(folder, link, failed);
        if (failed || link.find(';') != std::string::npos)
            throw Run_Error("Cannot hand the ROM Folder \"" + folder +
                            "\" to Mame, which reads \";\" as a break between folders.");
        RomDirectory = link;
    }

    void open_information_list(Text_Reader& info)
    {
        const std::string path = in_lists("listinfo.txt");
        for (int attempt = 0; attempt < 3000 && !info.open(path); ++attempt) {
            sleep_ms(50);
            host_.pump_messages();
        }
    }

    // False when the window was closed during the scan.
    bool read_information_list()
    {
        if (option(Run_Option::Chk_But)) {
            Text_Reader info;
            open_information_list(info);
            progress("Extracting Button Information from DAT File");
            if (!scan_buttons(info, ButtonTable, host_))
                return false;
        }
        if (option(Run_Option::Chk_Working)) {
            Text_Reader info;
            open_information_list(info);
            progress("Extracting Working Status from DAT File");
            scan_working(info, WorkingTable);
        }
        return true;
    }

    void make_word_list()
    {
        // One word without ";" is a word list of one: a user who types one
        // word and turns the filter on wants that word filtered.
        words_.clear();
        const std::string games = text(Run_Text::Txt_Games);
        if (games.empty())
            return;
        for (const std::string& word : SplitString(games, ";"))
            words_.push_back(lower_case(word));
    }

    void open_full_list()
    {
        progress("Opening -fulllist");
        const std::string path = in_lists("vxflist.txt");
        if (!full_list_.open(path)) {
            sleep_ms(50);
            host_.pump_messages();
            // Without MAME's list there is nothing to write: stop before the
            // output directory's files are touched.
            if (!full_list_.open(path))
                throw Run_Error("Cannot open file \"" + path + "\".");
        }
        host_.pump_messages();
    }

    std::string output_file(const std::string& name, const char* extension) const
    {
        return output_ + host_separator + name + extension;
    }

    void read_categories()
    {
        host_.pump_messages();
        progress("Reading catver.ini into memory");
        host_.pump_messages();
        const std::string path = text(Run_Text::Txt_Cat);
        Text_Reader catver;
        if (!catver.open(path))
            throw Run_Error("Cannot open file \"" + path + "\".");
        std::unordered_set<std::string> deleted;
        std::string line;
        std::string name;
        std::string category;
        while (!catver.eof()) {
            catver.read_line(line);
            if (!parse_catver_line(line, name, category))
                continue;
            CategoryTable.add(name, category);
            if (usable_category_file_name(category) && deleted.insert(category).second) {
                delete_file(output_file(category, ".map"));
                delete_file(output_file(category, ".rom"));
                delete_file(output_file(category, ".cfg"));
            }
        }
    }

    void write_configuration(const std::string& path, const std::string& description,
                             const std::string& map_file)
    {
        const std::string lines[] = {
            "[EMULATOR]",
            "name = Mame Arcade Games",
            "description = " + description,
            "directory = " + MameDirectory,
            "executable = " + MameExeName,
            "global_options = ",
            "pre_command = ",
            "post_command = ",
            "map_file = " + map_file,
            "options_before_rom = no",
            "screen_shot_directory = " + text(Run_Text::Txt_SNAPPath),
            "use_rom_file = yes",
            "rom_directory = " + text(Run_Text::Txt_ROMPath),
            "use_extension = ",
            "use_rom_directory = no",
            "rom_extension = ",
        };
        Text_Writer file;
        file.create(path);
        for (const std::string& line : lines)
            file.write_line(line);
        file.close();
    }

    void write_configurations()
    {
        progress("Creating .cfg files");
        host_.pump_messages();
        std::unordered_set<std::string> handled;
        for (std::size_t i = 0; i < CategoryTable.size(); ++i) {
            const std::string& category = CategoryTable[i].value;
            if (!usable_category_file_name(category) || !handled.insert(category).second)
                continue;
            const std::string path = output_file(category, ".cfg");
            if (!file_exists(path))
                write_configuration(path, category + " Games", category + ".map");
        }
        write_configuration(output_file("MAME", ".cfg"), "All Games", "mame.map");
    }

    void create_all_games_lists()
    {
        map_->create(output_file("mame", ".map"));
        host_.pump_messages();
        rom_->create(output_file("mame", ".rom"));
    }

    void close_lists()
    {
        full_list_.close();
        category_files_.close_all();
        map_->close();
        rom_->close();
    }

    bool passes_buttons(const std::string& name)
    {
        for (std::size_t i : ButtonTable.find(trim(name)))
            if (whole_number(trim(ButtonTable[i].value)) > 3)
                return false;
        return true;
    }

    bool passes_words(const std::string& description) const
    {
        const std::string lower = lower_case(description);
        for (const std::string& word : words_)
            if (!word.empty() && lower.find(word) != std::string::npos)
                return false;
        return true;
    }

    bool rom_present(const std::string& name) const
    {
        const std::string base = text_rom_ + host_separator + name;
        return file_exists(base + ".zip") || directory_exists(base);
    }

    bool snapshot_present(const std::string& name) const
    {
        static const char* const extensions[] = {".png", ".jpg", ".jpeg", ".bmp", ".gif"};
        const std::string base = text_snap_ + host_separator + name;
        for (const char* extension : extensions)
            if (file_exists(base + extension))
                return true;
        return false;
    }

    bool passes_filters(const std::string& name, const std::string& description)
    {
        if (option(Run_Option::Chk_Working) && !IsWorkingGame(name))
            return false;
        if (option(Run_Option::Chk_But) && !passes_buttons(name))
            return false;
        if (option(Run_Option::Chk_FiltNames) && !passes_words(description))
            return false;
        if (option(Run_Option::Chk_ROMEXist) && !rom_present(name))
            return false;
        if (option(Run_Option::Chk_SNAPEXist) && !snapshot_present(name))
            return false;
        // Last: MAME's check starts a process per game, the others read
        // only memory and folders, and the filters do not depend on each
        // other, so MAME is asked only about the games still in.
        if (option(Run_Option::Chk_verify)) {
            host_.pump_messages();
            sleep_ms(5);
            host_.pump_messages();
            if (!verified(name))
                return false;
        }
        return true;
    }

    // A check that gives no verdict ends the run: leaving the set out would
    // pass a short catalogue off as complete.
    bool verified(const std::string& name)
    {
        try {
            return VerifyGame(name, lists_->path(), host_);
        } catch (const Run_Error& failure) {
            throw Run_Error(std::string(failure.what()) +
                            "\nThe catalogue files hold only the games written before it.");
        }
    }

    void write_game(const std::string& name, const std::string& description, bool use_categories)
    {
        const std::string map_line = name + " \"" + front_end_text(description) + "\"";
        if (use_categories) {
            for (std::size_t i : CategoryTable.find(name)) {
                const std::string& category = CategoryTable[i].value;
                if (!usable_category_file_name(category))
                    continue;
                category_files_.write(output_file(category, ".map"), map_line);
                category_files_.write(output_file(category, ".rom"), name);
            }
        }
        map_->write_line(map_line);
        rom_->write_line(name);
    }

    // False when the window was closed during the loop.
    bool game_loop()
    {
        text_rom_ = text(Run_Text::Txt_ROMPath);
        text_snap_ = text(Run_Text::Txt_SNAPPath);
        const bool use_categories = option(Run_Option::Chk_Cat);
        std::string line;
        std::string name;
        std::string description;
        full_list_.read_line(line);  // the heading
        long long taken = 0;
        int pump_counter = 0;
        while (!full_list_.eof()) {
            if (StopRequested) {
                close_lists();
                return false;
            }
            full_list_.read_line(line);
            parse_full_list_line(line, name, description);
            // A line without a name (a blank line, say) is no game.
            if (name.empty())
                continue;
            progress(name + "  -  " + description + "     (" + std::to_string(taken) + ")");
            ++taken;
            if (pump_counter == 4) {
                pump_counter = 0;
                host_.pump_messages();
            }
            ++pump_counter;
            if (passes_filters(name, description))
                write_game(name, description, use_categories);
        }
        return true;
    }

    static constexpr const char* errors_file = "errors.txt";

    Run_Host& host_;
    std::unique_ptr<Temporary_Folder> lists_;
    std::string output_;
    std::string text_rom_;
    std::string text_snap_;
    std::vector<std::string> words_;
    Text_Reader full_list_;
    std::unique_ptr<Text_Writer> map_ = std::make_unique<Text_Writer>();
    std::unique_ptr<Text_Writer> rom_ = std::make_unique<Text_Writer>();
    Category_Files category_files_;
};

}  // namespace

void run_generation(Run_Host& host)
{
    Generation_Run(host).execute();
}

}  // namespace Marvane
