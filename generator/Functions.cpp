#include "generator/Functions.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "generator/pipeline.h"
#include "generator/textfile.h"

namespace Functions {

std::string MameExePath;
std::string RomDirectory;
std::string MameDirectory;
std::string MameExeName;
std::string ShellName = "/bin/sh";
bool StopRequested = false;
Name_Table ButtonTable;
Name_Table WorkingTable;
Name_Table CategoryTable;

void Name_Table::add(const std::string& name, const std::string& value, const std::string& key)
{
    index_[key].push_back(entries_.size());
    entries_.push_back(Entry{name, value});
}

void Name_Table::clear()
{
    entries_.clear();
    index_.clear();
}

const std::vector<std::size_t>& Name_Table::find(const std::string& key) const
{
    static const std::vector<std::size_t> none;
    const auto found = index_.find(key);
    return found == index_.end() ? none : found->second;
}

namespace {

// A game name goes into the command line bare, as MAME's names are plain
// words; anything else is quoted so that it cannot act as shell syntax.
std::string game_word(const std::string& game)
{
    for (char c : game) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == '+';
        if (!plain)
            return shell_quote(game);
    }
    return game.empty() ? std::string("\"\"") : game;
}

// Bytes of the UTF-8 character at text[at]: its lead byte and as many of
// the continuation bytes it announces as follow. Any other byte stands
// alone, so that text that is no UTF-8 is still cut and wrapped.
std::size_t character_length(const std::string& text, std::size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const std::size_t wanted =
        lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t length = 1;
    while (length < wanted && at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

}  // namespace

bool VerifyGame(const std::string& game, const std::string& folder, Marvane::Run_Host& host)
{
    const std::string result_file = folder + host_separator + "vgame9.txt";
    const std::string error_file = folder + host_separator + "vgame9-errors.txt";
    delete_file(result_file);
    // A bare name is the file of the current folder that the run checked.
    const bool bare = LastCharPos(MameExePath, host_separator) == 0;
    const std::string mame_folder = bare ? std::string(".") : MameDirectory;
    if (!directory_exists(mame_folder))
        throw Run_Error("Cannot run MAME in its folder \"" + mame_folder +
                        "\": it is no folder.");

    // MAME looks for its own files in the current directory, so it runs in
    // its folder; only the shell changes there, the relative paths of the
    // window keep meaning the folder this program started in. The ROM path
    // is made absolute for that reason. The executable is started from the
    // current directory, which the shell only searches when told so.
    // The shell ends with 2 when it cannot change folder or open a
    // redirection, as MAME does for a bad set: so a failed change ends
    // with 126 (MAME not started), and the answer's file is opened here.
    // A folder typed relative may begin with "-", which cd would read as
    // an option.
    const std::string rom_directory = std::filesystem::absolute(RomDirectory).string();
    const std::string command =
        "cd -- " + shell_quote(mame_folder) + " || exit 126; exec " +
        shell_quote(bare ? mame_to_run() : std::string(".") + host_separator + MameExeName) +
        " -verifyroms " + game_word(game) + " -rp " + shell_quote(rom_directory);
    // MAME answers 0 for a good set and 2 for a bad or missing one, which
    // the verdict line tells apart; anything else (a crash, a kill, a name
    // it does not know) says nothing about the set.
    const int code = run_hidden(command, error_file, result_file);
    const std::string asked = "-verifyroms " + game + " ";
    if (code != 0 && code != 2)
        throw Run_Error(mame_failure(asked + exit_code_text(code), error_file));

    Text_Reader result;
    for (int attempt = 0; attempt < 2000 && !result.open(result_file); ++attempt) {
        sleep_ms(10);
        host.pump_messages();
    }
    host.pump_messages();
    // The verdict follows a line for each ROM that is not right, and those
    // can say "NO GOOD DUMP KNOWN".
    std::string line;
    while (!result.eof()) {
        result.read_line(line);
        if (verify_says_good(line, game))
            return true;
    }
    // MAME ends with 0 only after its verdict that the set is good.
    if (code == 0)
        throw Run_Error(mame_failure(asked + "gave no verdict", error_file));
    return false;
}

std::string exit_code_text(int code)
{
    std::string text = "failed with exit code " + std::to_string(code);
    // The shell's way, and run_hidden's, of telling that a signal ended it.
    if (code > 128 && code < 128 + NSIG)
        text += ": killed by signal " + std::to_string(code - 128) + ", " + strsignal(code - 128);
    return text;
}

std::string mame_failure(const std::string& what, const std::string& error_file)
{
    // MAME's first line, read no further than is quoted: its output may
    // be one line of megabytes, which no message box can show. Three bytes
    // past the cut tell whether the character at the cut is whole. A NUL
    // would end the box's text, so it is left out.
    constexpr std::size_t longest_quote = 300;
    std::string said;
    if (std::FILE* file = std::fopen(error_file.c_str(), "rb")) {
        for (int c; said.size() < longest_quote + 3 && (c = std::fgetc(file)) != EOF &&
                    c != '\n' && c != '\r';)
            if (c != '\0')
                said += static_cast<char>(c);
        std::fclose(file);
    }
    const bool cut = said.size() > longest_quote;
    if (cut) {
        std::size_t end = 0;
        while (end + character_length(said, end) <= longest_quote)
            end += character_length(said, end);
        said.resize(end);
    }
    return "Mame " + what + (said.empty() ? "." : ": " + said + (cut ? "..." : ""));
}

std::string wrap_to_width(const std::string& text, int width,
                          const std::function<int(const std::string&)>& measure)
{
    std::string lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t line_end = std::min(text.find('\n', start), text.size());
        // The most whole characters that fit, the last blank among them.
        std::size_t end = start;
        std::size_t blank = std::string::npos;
        while (end < line_end) {
            const std::size_t next = end + character_length(text, end);
            if (end > start && measure(text.substr(start, next - start)) > width)
                break;
            if (text[end] == ' ')
                blank = end;
            end = next;
        }
        if (end == line_end) {
            lines.append(text, start, end - start);
            if (end == text.size())
                return lines;
            lines += '\n';
            start = end + 1;
            continue;
        }
        if (text[end] == ' ')
            blank = end;
        if (blank != std::string::npos && blank > start)
            end = blank;
        lines.append(text, start, end - start).append("\n");
        start = text[end] == ' ' ? end + 1 : end;
    }
}

std::string mame_to_run()
{
    // A path that begins with "-" would reach a script's interpreter as
    // an option.
    if (LastCharPos(MameExePath, host_separator) != 0 && MameExePath.front() != '-')
        return MameExePath;
    return std::string(".") + host_separator + MameExePath;
}

bool IsWorkingGame(const std::string& game)
{
    const std::vector<std::size_t>& found = WorkingTable.find(game);
    if (found.empty())
        return false;
    return WorkingTable[found.front()].value.find("yes") != std::string::npos;
}

std::string ReplaceAll(const std::string& text, const std::string& old_text,
                       const std::string& new_text)
{
    if (old_text.empty())
        return text;
    std::string result;
    result.reserve(text.size());
    std::size_t position = 0;
    while (true) {
        const std::size_t found = text.find(old_text, position);
        if (found == std::string::npos)
            break;
        result.append(text, position, found - position);
        result += new_text;
        position = found + old_text.size();
    }
    result.append(text, position, std::string::npos);
    return result;
}

std::string StripTrailingBackslash(const std::string& path)
{
    // The root folder keeps its one separator: it is a folder like the others.
    std::size_t length = path.size();
    while (length > 1 && path[length - 1] == host_separator)
        --length;
    return path.substr(0, length);
}

std::size_t LastCharPos(const std::string& text, char c)
{
    const std::size_t found = text.rfind(c);
    return found == std::string::npos ? 0 : found + 1;
}

namespace {

// Walks the pieces of SplitString in order, handing each to `take` as its
// start and length in the text, so a caller that needs one piece does not
// hold them all (a line of millions of blanks would make millions).
template <typename Take>
void walk_pieces(const std::string& text, const std::string& separator, Take take)
{
    if (separator.empty()) {
        take(std::size_t{0}, text.size());
        return;
    }
    // The rest is text[rest, end); its last double quote is the text's last
    // one as long as that lies inside the rest.
    const std::size_t last_quote = LastCharPos(text, '"');
    std::size_t rest = 0;
    while (true) {
        const std::size_t found = text.find(separator, rest);
        if (found == std::string::npos)
            break;
        if (found == rest || text[rest] != '"') {
            take(rest, found - rest);
            rest = found + separator.size();
        } else {
            // The piece starts with a quote, so the rest holds one at rest + 1.
            const std::size_t quote_end = last_quote;  // 1-based, > rest
            take(rest, quote_end - rest);
            rest = quote_end + 1 < text.size() ? quote_end + 1 : text.size();
        }
    }
    take(rest, text.size() - rest);
}

}  // namespace

std::vector<std::string> SplitString(const std::string& text, const std::string& separator)
{
    std::vector<std::string> pieces;
    walk_pieces(text, separator, [&](std::size_t start, std::size_t length) {
        pieces.push_back(text.substr(start, length));
    });
    return pieces;
}

std::string last_split_piece(const std::string& text, const std::string& separator)
{
    std::size_t last_start = 0;
    std::size_t last_length = 0;
    walk_pieces(text, separator, [&](std::size_t start, std::size_t length) {
        last_start = start;
        last_length = length;
    });
    return text.substr(last_start, last_length);
}

}  // namespace Functions
