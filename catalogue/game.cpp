#include "catalogue/game.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>

#include "catalogue/emulator.h"
#include "support/fileutil.h"
#include "support/logfile.h"

namespace Marvane {

Game::Game(const std::string& full_name_, const std::string& rom_name_, const std::string& extension_)
    : full_name(full_name_), rom_name(rom_name_), extension(extension_)
{
}

namespace {

// The "C" locale's toupper on a byte taken as signed: only a..z change.
inline int upper_signed(char c)
{
    const int v = static_cast<signed char>(c);
    return (v >= 'a' && v <= 'z') ? v - ('a' - 'A') : v;
}

// isspace of the "C" locale, without the locale lookup per byte.
inline bool is_blank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads a file in large blocks so that big lists cost no allocation per line.
class Block_Reader {
public:
    explicit Block_Reader(const std::string& path)
    {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st;
        // Only regular files: a directory or a FIFO where a list is expected
        // counts as a file that cannot be opened.
        if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            close(fd);
            fd = -1;
        }
    }
    ~Block_Reader()
    {
        if (fd >= 0)
            close(fd);
    }
    Block_Reader(const Block_Reader&) = delete;
    Block_Reader& operator=(const Block_Reader&) = delete;

    bool is_open() const { return fd >= 0; }

    // The next block of the file; empty at end of file or on a read error.
    std::string_view next()
    {
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n >= 0)
                return std::string_view(buffer, static_cast<size_t>(n));
            if (errno != EINTR)
                return std::string_view();
        }
    }

private:
    int fd;
    char buffer[64 * 1024];
};

// Calls line(text) for every line; the line feed is dropped, a last line
// without one still counts. Lines longer than a block are gathered in carry.
template <class F>
void for_each_line(Block_Reader& reader, F&& line)
{
    std::string carry;
    for (std::string_view block = reader.next(); !block.empty(); block = reader.next()) {
        const char* p = block.data();
        const char* const end = p + block.size();
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!nl) {
                carry.append(p, end);
                break;
            }
            if (carry.empty()) {
                line(std::string_view(p, static_cast<size_t>(nl - p)));
            } else {
                carry.append(p, nl);
                line(std::string_view(carry));
                carry.clear();
            }
            p = nl + 1;
        }
    }
    if (!carry.empty())
        line(std::string_view(carry));
}

// Calls token(text) for every white-space separated word of the file.
template <class F>
void for_each_token(Block_Reader& reader, F&& token)
{
    std::string carry;
    for (std::string_view block = reader.next(); !block.empty(); block = reader.next()) {
        const char* p = block.data();
        const char* const end = p + block.size();
        while (p < end) {
            if (carry.empty()) {
                while (p < end && is_blank(*p))
                    ++p;
                if (p == end)
                    break;
            }
            const char* start = p;
            while (p < end && !is_blank(*p))
                ++p;
            if (p == end) {
                carry.append(start, p);  // the word may go on in the next block
                break;
            }
            if (carry.empty()) {
                token(std::string_view(start, static_cast<size_t>(p - start)));
            } else {
                carry.append(start, p);
                token(std::string_view(carry));
                carry.clear();
            }
        }
    }
    if (!carry.empty())
        token(std::string_view(carry));
}

// Splits one map-file line into its ROM name and the text between the first
// two quotes after it; false when the line does not have that form.
bool parse_map_line(std::string_view line, std::string_view& rom, std::string_view& full)
{
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end && is_blank(*p))
        ++p;
    const char* rom_start = p;
    while (p < end && !is_blank(*p))
        ++p;
    if (p == rom_start || p == end)
        return false;
    rom = std::string_view(rom_start, static_cast<size_t>(p - rom_start));
    const char* open_quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
    if (!open_quote)
        return false;
    ++open_quote;
    const char* close_quote =
        static_cast<const char*>(std::memchr(open_quote, '"', static_cast<size_t>(end - open_quote)));
    if (!close_quote)
        return false;
    full = std::string_view(open_quote, static_cast<size_t>(close_quote - open_quote));
    return true;
}

}  // namespace

bool nocase_less::operator()(const std::string& a, const std::string& b) const
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    const char* pa = a.data();
    const char* pb = b.data();
    for (size_t i = 0; i < n; ++i) {
        if (pa[i] == pb[i])
            continue;
        const int ua = upper_signed(pa[i]);
        const int ub = upper_signed(pb[i]);
        if (ua != ub)
            return ua < ub;
    }
    return a.size() < b.size();
}

void Emulator::load_name_map()
{
    if (map_file_.empty())
        return;
    Block_Reader reader(resolve_file_name_case(config_directory_ + "/" + map_file_));
    if (!reader.is_open())
        return;
    std::string rom_name;  // reused: one allocation for the whole file
    for_each_line(reader, [&](std::string_view line) {
        std::string_view rom, full;
        if (!parse_map_line(line, rom, full))
            return;
        rom_name.assign(rom);
        fix_file_name_case(rom_name);
        // Map files are usually written in ROM-name order: try the end first.
        auto pos = name_map_.end();
        if (!name_map_.empty() && !(std::prev(pos)->first < rom_name))
            pos = name_map_.lower_bound(rom_name);
        if (pos != name_map_.end() && pos->first == rom_name)
            pos->second.assign(full);
        else
            name_map_.emplace_hint(pos, rom_name, full);
        listener_->poll_emulator_listener();
    });
}

void Emulator::add_games_from_rom_file()
{
    const std::string path = config_directory_ + "/" + config_name_ + ".rom";
    Block_Reader reader(resolve_file_name_case(path));
    if (!reader.is_open()) {
        if (LogFile::vx_log)
            LogFile::vx_log->error("Could not open ROM file: " + path);
        return;
    }
    const std::string no_extension;
    std::string rom_name;
    for_each_token(reader, [&](std::string_view token) {
        rom_name.assign(token);
        fix_file_name_case(rom_name);
        add_game(rom_name, no_extension);
    });
}

void Emulator::search_for_games()
{
    DIR* dir = opendir(rom_directory_.c_str());
    if (!dir)
        return;
    std::string entry, base, extension;
    while (const dirent* e = readdir(dir)) {
        entry = e->d_name;
        fix_file_name_case(entry);
        split_extension(entry, base, extension);
        if (is_valid_extension(extension))
            add_game(base, extension);
    }
    closedir(dir);
}

void Emulator::add_game(const std::string& rom_name, const std::string& extension)
{
    const auto mapped = name_map_.find(rom_name);
    const std::string& full_name = mapped != name_map_.end() ? mapped->second : rom_name;
    std::unique_ptr<Game> game(new Game(full_name, rom_name, extension));
    auto [pos, inserted] = games_.try_emplace(full_name, game.get());
    if (!inserted) {
        // The later game wins; the entry keeps its key and its place.
        delete pos->second;
        pos->second = game.get();
    }
    game.release();
    listener_->poll_emulator_listener();
}

bool Emulator::is_valid_extension(const std::string& extension) const
{
    if (!rom_extensions_)
        return false;
    for (const std::string& token : *rom_extensions_)
        if (token == extension)
            return true;
    return false;
}

unsigned Emulator::number_of_games() const
{
    return static_cast<unsigned>(games_.size());
}

void Emulator::get_game_list(std::vector<Game*>& list) const
{
    list.resize(games_.size());
    size_t i = 0;
    for (const auto& entry : games_)
        list[i++] = entry.second;
}

}  // namespace Marvane
