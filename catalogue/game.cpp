#include "catalogue/game.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "catalogue/emulator.h"
#include "support/fileutil.h"
#include "support/logfile.h"

namespace Marvane {

namespace {

// Copies the three names one after another to text.
void place_names(char* text, std::string_view full, std::string_view rom, std::string_view extension)
{
    text = std::copy_n(full.data(), full.size(), text);
    text = std::copy_n(rom.data(), rom.size(), text);
    std::copy_n(extension.data(), extension.size(), text);
}

}  // namespace

Game::Game(std::string_view full_name_, std::string_view rom_name_, std::string_view extension_)
    : own_text(new char[full_name_.size() + rom_name_.size() + extension_.size() + 1]),
      text(own_text.get()),
      full_size(full_name_.size()),
      rom_size(rom_name_.size()),
      extension_size(extension_.size())
{
    place_names(own_text.get(), full_name_, rom_name_, extension_);
}

Game::Game(In_Arena, const char* text_, size_t full_size_, size_t rom_size_, size_t extension_size_)
    : text(text_), full_size(full_size_), rom_size(rom_size_), extension_size(extension_size_)
{
}

namespace {

uint64_t load_big_endian(const unsigned char* bytes)
{
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    return word;
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

// Each byte of a word as the "C" locale's toupper gives it, taken as signed,
// plus 128 (only a..z change case): as unsigned bytes, these order like
// nocase_less.
uint64_t fold_bytes(uint64_t word)
{
    const uint64_t ones = 0x0101010101010101u, high = ones << 7;
    // The high bit of each byte of a 7-bit value plus a constant tells
    // whether the value reached 'a' and whether it passed 'z'.
    const uint64_t low = word & ~high;
    const uint64_t from_a = low + ones * (0x80 - 'a');
    const uint64_t past_z = low + ones * (0x80 - 'z' - 1);
    const uint64_t lower = from_a & ~past_z & ~word & high;
    return (word - (lower >> 2)) ^ high;  // 0x80 >> 2 is 'a' - 'A'
}

// Three-way form of nocase_less; the first `from` bytes are known to be
// equal ignoring case. Goes a word at a time: equal stretches are skipped
// unfolded, and case differences cost no loop over bytes.
int nocase_compare(std::string_view a, std::string_view b, size_t from = 0)
{
    // The first differing byte decides: words compare in memory order.
    const auto compare_words = [](uint64_t wa, uint64_t wb) {
        wa = fold_bytes(wa);
        wb = fold_bytes(wb);
        if (wa == wb)
            return 0;
        if constexpr (std::endian::native == std::endian::little) {
            wa = __builtin_bswap64(wa);
            wb = __builtin_bswap64(wb);
        }
        return wa < wb ? -1 : 1;
    };
    const size_t n = std::min(a.size(), b.size());
    size_t i = std::min(from, n);
    for (; i + sizeof(uint64_t) <= n; i += sizeof(uint64_t)) {
        uint64_t wa, wb;
        std::memcpy(&wa, a.data() + i, sizeof wa);
        std::memcpy(&wb, b.data() + i, sizeof wb);
        if (wa != wb)
            if (const int c = compare_words(wa, wb))
                return c;
    }
    if (i < n) {
        // Past the shorter name both words hold zeros alike.
        uint64_t wa = 0, wb = 0;
        std::memcpy(&wa, a.data() + i, n - i);
        std::memcpy(&wb, b.data() + i, n - i);
        if (const int c = compare_words(wa, wb))
            return c;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The first eight bytes of a name as one number that orders like the names
// themselves (a shorter name pads with the smallest value). Equal prefixes
// say nothing; the names must then be compared in full.
uint64_t order_prefix(std::string_view name)
{
    unsigned char bytes[sizeof(uint64_t)] = {};
    std::copy_n(name.data(), std::min(name.size(), sizeof bytes), bytes);
    return load_big_endian(bytes);
}

// The first 16 bytes of a name, folded, as two numbers that order like
// nocase_compare (a shorter name pads with the smallest value). Equal
// prefixes mean the bytes both names have among their first 16 match
// ignoring case; the rest must then decide.
void folded_prefix(std::string_view name, uint64_t (&prefix)[2])
{
    unsigned char bytes[2 * sizeof(uint64_t)] = {};
    const size_t n = std::min(name.size(), sizeof bytes);
    std::copy_n(name.data(), n, bytes);
    for (size_t half = 0; half < 2; ++half) {
        uint64_t word;
        std::memcpy(&word, bytes + half * sizeof word, sizeof word);
        word = fold_bytes(word);
        std::memcpy(bytes + half * sizeof word, &word, sizeof word);
    }
    std::fill(bytes + n, std::end(bytes), 0);
    prefix[0] = load_big_endian(bytes);
    prefix[1] = load_big_endian(bytes + sizeof(uint64_t));
}

// How far from its hash's slot the map index may keep a name. Names in
// general lie a few slots away; a file made to collide goes into the tree
// instead, so that neither building the index nor a lookup can take long.
constexpr size_t max_probes = 128;

// A ROM name's hash for the map file's index.
uint64_t hash_name(std::string_view name)
{
    const auto mix = [](uint64_t h, uint64_t word) {
        h = (h ^ word) * 0xbf58476d1ce4e5b9u;
        return h ^ (h >> 31);
    };
    uint64_t h = name.size() * 0x9e3779b97f4a7c15u;
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= name.size(); i += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, name.data() + i, sizeof word);
        h = mix(h, word);
    }
    if (i < name.size()) {
        uint64_t word = 0;
        std::memcpy(&word, name.data() + i, name.size() - i);
        h = mix(h, word);
    }
    h *= 0x94d049bb133111ebu;
    return h ^ (h >> 29);
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
    // The entries are gathered in one text buffer: no allocation per line.
    // A huge file goes in sorted batches into the tree, so that only the
    // distinct names stay in memory; a file that fits one batch stays in
    // the buffers (see Map_Entry).
    constexpr size_t batch_entries = 1 << 18, batch_text = 16 << 20;
    static_assert(batch_text <= UINT32_MAX, "Map_Entry keeps text offsets in 32 bits");
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
        if (last_batch && name_map_.empty()) {
            if (entries.empty())
                return;
            // Entries in file order, each taking its name's slot: of several
            // lines for one ROM name the last one wins.
            map_index_.assign(std::bit_ceil(2 * entries.size()), 0);
            const size_t mask = map_index_.size() - 1;
            bool indexed = true;
            for (size_t i = 0; i < entries.size() && indexed; ++i) {
                const std::string_view rom = rom_of(entries[i]);
                size_t slot = hash_name(rom) & mask;
                for (size_t probe = 0;; ++probe, slot = (slot + 1) & mask) {
                    if (probe == max_probes) {
                        indexed = false;
                        break;
                    }
                    const uint32_t held = map_index_[slot];
                    if (held == 0 || rom_of(entries[held - 1]) == rom) {
                        map_index_[slot] = static_cast<uint32_t>(i + 1);
                        break;
                    }
                }
            }
            if (indexed)
                return;
            std::vector<uint32_t>().swap(map_index_);
        }
        struct Sorted {
            uint64_t prefix;  // the first eight bytes of the ROM name, as a number
            size_t entry;     // also the line's place in the batch
        };
        std::vector<Sorted> order(entries.size());
        for (size_t i = 0; i < entries.size(); ++i)
            order[i] = Sorted{order_prefix(rom_of(entries[i])), i};
        // Ties keep the file's order, so that of several lines for one ROM
        // name the last one wins.
        std::sort(order.begin(), order.end(), [&](const Sorted& a, const Sorted& b) {
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix;
            const int c = rom_of(entries[a.entry]).compare(rom_of(entries[b.entry]));
            return c != 0 ? c < 0 : a.entry < b.entry;
        });
        // Later batches replace what earlier ones set.
        for (size_t i = 0; i < order.size(); ++i) {
            const Map_Entry& e = entries[order[i].entry];
            if (i + 1 < order.size() && order[i + 1].prefix == order[i].prefix &&
                rom_of(entries[order[i + 1].entry]) == rom_of(e))
                continue;
            name_map_.insert_or_assign(name_map_.end(), std::string(rom_of(e)),
                                       std::string(all.substr(e.rom + e.rom_size, e.full_size)));
        }
        entries.clear();
        text.clear();
    };

    for_each_line(reader, [&](std::string_view line) {
        std::string_view rom, full;
        if (!parse_map_line(line, rom, full) || rom.size() > UINT32_MAX)
            return;
        rom_name.assign(rom);
        fix_file_name_case(rom_name);
        // The text is below the batch size here: a full one was flushed.
        entries.push_back(
            Map_Entry{static_cast<uint32_t>(text.size()), static_cast<uint32_t>(rom_name.size()), full.size()});
        text.append(rom_name).append(full);
        listener_->poll_emulator_listener();
        if (entries.size() >= batch_entries || text.size() >= batch_text)
            flush(false);
    });
    flush(true);
}

bool Emulator::find_full_name(const std::string& rom_name, std::string_view& full_name) const
{
    if (!map_index_.empty()) {
        const std::string_view all(map_text_);
        const size_t mask = map_index_.size() - 1;
        size_t slot = hash_name(rom_name) & mask;
        for (size_t probe = 0; probe < max_probes; ++probe, slot = (slot + 1) & mask) {
            const uint32_t held = map_index_[slot];
            if (held == 0)
                return false;
            const Map_Entry& e = map_entries_[held - 1];
            if (all.substr(e.rom, e.rom_size) == rom_name) {
                full_name = all.substr(e.rom + e.rom_size, e.full_size);
                return true;
            }
        }
        return false;
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

Game* Emulator::new_game(std::string_view full_name, std::string_view rom_name, std::string_view extension)
{
    void* place = node_arena_->allocate(sizeof(Game) + full_name.size() + rom_name.size() + extension.size(),
                                        alignof(Game));
    char* const text = static_cast<char*>(place) + sizeof(Game);
    place_names(text, full_name, rom_name, extension);
    return new (place) Game(Game::In_Arena(), text, full_name.size(), rom_name.size(), extension.size());
}

void Emulator::add_game(const std::string& rom_name, const std::string& extension)
{
    std::string_view full_name = rom_name;
    find_full_name(rom_name, full_name);
    added_games_.push_back(Added_Game{{}, nullptr, static_cast<uint32_t>(added_games_.size())});
    Added_Game& added = added_games_.back();
    added.game = new_game(full_name, rom_name, extension);
    folded_prefix(full_name, added.prefix);
    listener_->poll_emulator_listener();
}

namespace {

// Whether a's prefix orders before b's; written so that it compiles to no
// branch (the sort's own branch on it is the one that misses).
template <class Added>
bool prefix_less(const Added& a, const Added& b)
{
    return (a.prefix[0] < b.prefix[0]) | ((a.prefix[0] == b.prefix[0]) & (a.prefix[1] < b.prefix[1]));
}

template <class Added>
bool same_prefix(const Added& a, const Added& b)
{
    return a.prefix[0] == b.prefix[0] && a.prefix[1] == b.prefix[1];
}

// The order of games whose prefixes are equal: the rest of the full name
// ignoring case, then the order of adding.
template <class Added>
bool rest_less(const Added& a, const Added& b)
{
    const int c = nocase_compare(a.full_name(), b.full_name(), 2 * sizeof(uint64_t));
    return c != 0 ? c < 0 : a.sequence < b.sequence;
}

}  // namespace

// Puts the added games into the games list. Of games whose full names are
// equal ignoring case the one added last wins, and takes the place of the
// first, as if each had replaced the one before.
void Emulator::store_added_games()
{
    // By the prefixes alone first, which looks at no name; then each run of
    // equal prefixes by the rest. The names of a run are then read once and
    // while they are at hand, rather than each time two of them meet in a
    // sort of the whole list.
    std::sort(added_games_.begin(), added_games_.end(),
              [](const Added_Game& a, const Added_Game& b) { return prefix_less(a, b); });
    size_t kept = 0;
    for (size_t run = 0; run < added_games_.size();) {
        size_t run_end = run + 1;
        while (run_end < added_games_.size() && same_prefix(added_games_[run], added_games_[run_end]))
            ++run_end;
        if (run_end - run > 1)
            std::sort(added_games_.begin() + run, added_games_.begin() + run_end,
                      [](const Added_Game& a, const Added_Game& b) { return rest_less(a, b); });
        for (size_t first = run; first < run_end;) {
            size_t last = first;
            while (last + 1 < run_end &&
                   nocase_compare(added_games_[first].full_name(), added_games_[last + 1].full_name(),
                                  2 * sizeof(uint64_t)) == 0)
                ++last;
            Game* winner = added_games_[last].game;
            for (size_t i = first; i < last; ++i)
                added_games_[i].game->~Game();
            for (size_t i = first; i <= last; ++i)
                added_games_[i].game = nullptr;
            added_games_[kept++].game = winner;
            first = last + 1;
        }
        run = run_end;
    }
    games_.reserve(kept);
    for (size_t i = 0; i < kept; ++i) {
        games_.push_back(added_games_[i].game);
        added_games_[i].game = nullptr;
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
    list.assign(games_.begin(), games_.end());
}

}  // namespace Marvane
