#include "catalogue/game.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "catalogue/emulator.h"
#include "support/fileutil.h"
#include "support/logfile.h"

namespace Marvane {

Game::Game(std::string_view full_name_, std::string_view rom_name_, std::string_view extension_)
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
        struct stat st {};
        // Only regular files: a directory or a FIFO where a list is expected
        // counts as a file that cannot be opened.
        if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            close(fd);
            fd = -1;
        }
        if (fd >= 0 && st.st_size > 0)
            file_size = static_cast<size_t>(st.st_size);
    }
    ~Block_Reader()
    {
        if (fd >= 0)
            close(fd);
    }
    Block_Reader(const Block_Reader&) = delete;
    Block_Reader& operator=(const Block_Reader&) = delete;

    bool is_open() const { return fd >= 0; }

    // The file's size when opened, as a hint for buffers.
    size_t size() const { return file_size; }

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
    size_t file_size = 0;
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

// Three-way form of nocase_less; the first `from` bytes are known to be
// equal ignoring case.
int nocase_compare(std::string_view a, std::string_view b, size_t from = 0)
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    const char* pa = a.data();
    const char* pb = b.data();
    size_t i = from < n ? from : n;
    // Titles share long prefixes: skip equal stretches a word at a time.
    while (i + sizeof(uint64_t) <= n) {
        uint64_t wa, wb;
        std::memcpy(&wa, pa + i, sizeof wa);
        std::memcpy(&wb, pb + i, sizeof wb);
        if (wa != wb)
            break;
        i += sizeof(uint64_t);
    }
    for (; i < n; ++i) {
        if (pa[i] == pb[i])
            continue;
        const int ua = upper_signed(pa[i]);
        const int ub = upper_signed(pb[i]);
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The first eight bytes of a name as one number that orders like the names
// themselves (a shorter name pads with the smallest value). Equal prefixes
// say nothing; the names must then be compared in full.
uint64_t order_prefix(std::string_view name, bool fold_case, size_t from = 0)
{
    uint64_t prefix = 0;
    for (size_t i = from; i < from + sizeof(uint64_t); ++i) {
        unsigned byte = 0;
        if (i < name.size())
            byte = fold_case ? static_cast<unsigned>(upper_signed(name[i]) + 128)
                             : static_cast<unsigned char>(name[i]);
        prefix = (prefix << 8) | byte;
    }
    return prefix;
}

}  // namespace

bool nocase_less::operator()(const std::string& a, const std::string& b) const
{
    return nocase_compare(a, b) < 0;
}

void Emulator::load_name_map()
{
    if (map_file_.empty())
        return;
    Block_Reader reader(resolve_file_name_case(config_directory_ + "/" + map_file_));
    if (!reader.is_open())
        return;
    // The entries are gathered in one text buffer and sorted by ROM name: no
    // allocation per line. A huge file goes in batches into the tree, so
    // that only the distinct names stay in memory; a file that fits one
    // batch stays in the buffers (see Map_Entry).
    const size_t batch_entries = 1 << 18, batch_text = 16 << 20;
    std::string& text = map_text_;
    std::vector<Map_Entry>& entries = map_entries_;
    std::string rom_name;
    // Sized from the file for the shortest useful lines (`a "b"`), so that
    // the buffers never grow by copying; pages reserved but never filled
    // cost nothing.
    text.reserve(std::min(reader.size(), batch_text));
    entries.reserve(std::min(reader.size() / 6 + 1, batch_entries));

    auto flush = [&](bool last_batch) {
        const std::string_view all(text);
        auto rom_of = [all](const Map_Entry& e) { return all.substr(e.rom, e.rom_size); };
        // Ties keep the file's order, so that of several lines for one ROM
        // name the last one wins.
        std::sort(entries.begin(), entries.end(), [&rom_of](const Map_Entry& a, const Map_Entry& b) {
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix;
            const int c = rom_of(a).compare(rom_of(b));
            return c != 0 ? c < 0 : a.sequence < b.sequence;
        });
        size_t kept = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            const Map_Entry& e = entries[i];
            if (i + 1 < entries.size() && entries[i + 1].prefix == e.prefix && rom_of(entries[i + 1]) == rom_of(e))
                continue;
            entries[kept++] = e;
        }
        entries.resize(kept);
        if (last_batch && name_map_.empty())
            return;
        // Later batches replace what earlier ones set.
        for (const Map_Entry& e : entries)
            name_map_.insert_or_assign(name_map_.end(), std::string(rom_of(e)),
                                       std::string(all.substr(e.rom + e.rom_size, e.full_size)));
        entries.clear();
        text.clear();
    };

    for_each_line(reader, [&](std::string_view line) {
        std::string_view rom, full;
        if (!parse_map_line(line, rom, full) || rom.size() > UINT32_MAX)
            return;
        rom_name.assign(rom);
        fix_file_name_case(rom_name);
        entries.push_back(Map_Entry{order_prefix(rom_name, false), static_cast<uint32_t>(entries.size()),
                                    static_cast<uint32_t>(rom_name.size()), text.size(), full.size()});
        text.append(rom_name).append(full);
        listener_->poll_emulator_listener();
        if (entries.size() >= batch_entries || text.size() >= batch_text)
            flush(false);
    });
    flush(true);
}

bool Emulator::find_full_name(const std::string& rom_name, std::string_view& full_name) const
{
    if (!map_entries_.empty()) {
        const std::string_view all(map_text_);
        const uint64_t prefix = order_prefix(rom_name, false);
        const auto at = std::lower_bound(map_entries_.begin(), map_entries_.end(), prefix,
                                         [&](const Map_Entry& e, uint64_t) {
                                             if (e.prefix != prefix)
                                                 return e.prefix < prefix;
                                             return all.substr(e.rom, e.rom_size) < std::string_view(rom_name);
                                         });
        if (at == map_entries_.end() || at->prefix != prefix || all.substr(at->rom, at->rom_size) != rom_name)
            return false;
        full_name = all.substr(at->rom + at->rom_size, at->full_size);
        return true;
    }
    const auto mapped = name_map_.find(rom_name);
    if (mapped == name_map_.end())
        return false;
    full_name = mapped->second;
    return true;
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
    // Room for names of one letter and a blank: no growing by copying, and
    // the pages never filled are never touched.
    added_games_.reserve(std::min<size_t>(reader.size() / 2 + 1, 1 << 20));
    for_each_token(reader, [&](std::string_view token) {
        rom_name.assign(token);
        fix_file_name_case(rom_name);
        add_game(rom_name, no_extension);
    });
}

void Emulator::search_for_games()
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(rom_directory_.c_str()), closedir);
    if (!dir)
        return;
    std::string entry, base, extension;
    while (const dirent* e = readdir(dir.get())) {
        // The batch file that hands a game over is read line by line: a name
        // holding a line break could never reach the emulator whole.
        if (std::strpbrk(e->d_name, "\r\n"))
            continue;
        // An empty extension token ("") accepts names without a dot; the
        // directory itself and its parent are still no games.
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        entry = e->d_name;
        fix_file_name_case(entry);
        split_extension(entry, base, extension);
        if (is_valid_extension(extension))
            add_game(base, extension);
    }
}

void Emulator::add_game(const std::string& rom_name, const std::string& extension)
{
    std::string_view full_name = rom_name;
    find_full_name(rom_name, full_name);
    std::unique_ptr<Game> game(new Game(full_name, rom_name, extension));
    added_games_.push_back(Added_Game{{order_prefix(full_name, true), order_prefix(full_name, true, 8)},
                                      static_cast<uint32_t>(added_games_.size()), game.get()});
    game.release();
    listener_->poll_emulator_listener();
}

// Puts the added games into the games map. Of games whose full names are
// equal ignoring case the one added last wins, and the entry keeps the full
// name and the place of the first, as if each had replaced the one before.
void Emulator::store_added_games()
{
    // Equal prefixes mean the bytes both names have among their first 16
    // match ignoring case, so the rest decides.
    auto compare = [](const Added_Game& a, const Added_Game& b) {
        if (a.prefix[0] != b.prefix[0])
            return a.prefix[0] < b.prefix[0] ? -1 : 1;
        if (a.prefix[1] != b.prefix[1])
            return a.prefix[1] < b.prefix[1] ? -1 : 1;
        return nocase_compare(a.game->full_name, b.game->full_name, 2 * sizeof(uint64_t));
    };
    std::sort(added_games_.begin(), added_games_.end(), [&compare](const Added_Game& a, const Added_Game& b) {
        const int c = compare(a, b);
        return c != 0 ? c < 0 : a.sequence < b.sequence;
    });
    size_t first = 0;
    while (first < added_games_.size()) {
        Added_Game& head = added_games_[first];
        size_t last = first;
        while (last + 1 < added_games_.size() && compare(head, added_games_[last + 1]) == 0)
            ++last;
        Game* winner = added_games_[last].game;
        const auto pos = games_.emplace_hint(games_.end(), head.game->full_name, winner);
        if (pos->second != winner) {
            // Only if the sort disagreed with the map's order: replace, as
            // add_game would, rather than lose the game.
            delete pos->second;
            pos->second = winner;
        }
        for (size_t i = first; i < last; ++i)
            delete added_games_[i].game;
        for (size_t i = first; i <= last; ++i)
            added_games_[i].game = nullptr;
        first = last + 1;
    }
    added_games_.clear();
    added_games_.shrink_to_fit();
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
