#include "support/fileutil.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <allegro.h>

#include "support/logfile.h"
#include "support/savefile.h"

namespace {

// ---------------------------------------------------------------------------
// INI text: parsing helpers over a file held as one string.

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == '\n';
}

std::string_view trim(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && is_blank(text[begin])) {
        ++begin;
    }
    size_t end = text.size();
    while (end > begin && is_blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

// Key names are read without surrounding blanks and compared the same way.
bool same_name(std::string_view a, std::string_view b) {
    return equal_ignoring_case(trim(a), trim(b));
}

// Names and values are written on one line whatever they hold.
std::string one_line(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\n' || c == '\r' || c == '\0') {
            c = ' ';
        }
    }
    return out;
}

// A section name is everything between the brackets, blanks included:
// "Maze" and "Maze " are two emulators. A name the program asks for is
// looked for as it would be written into the header, so that what we write
// we find again instead of adding the section once more.
std::string header_name(std::string_view asked) { return one_line(asked); }

enum class Line_Kind { Other, Section, Key };

// One line of the file: where it lies and what it says.
struct Ini_Line {
    size_t begin = 0;       // first character
    size_t content_end = 0; // end of the text, before "\n" or "\r\n"
    size_t end = 0;         // after the line break
    Line_Kind kind = Line_Kind::Other;
    std::string_view name;  // section or key name
    size_t value_begin = 0; // Key: where the value starts (after '=' and blanks)
    std::string_view value; // Key: the trimmed value
};

// Walks the lines of an INI text. Comments ('#' or ';' first) and lines
// without '=' are kept as they are and mean nothing to a reader.
class Line_Reader {
public:
    explicit Line_Reader(std::string_view text) : text_(text) {}

    bool next(Ini_Line& line) {
        if (position_ >= text_.size()) {
            return false;
        }
        line = Ini_Line{};
        line.begin = position_;
        size_t newline = text_.find('\n', position_);
        line.end = newline == std::string_view::npos ? text_.size() : newline + 1;
        line.content_end = newline == std::string_view::npos ? text_.size() : newline;
        if (line.content_end > line.begin && text_[line.content_end - 1] == '\r') {
            --line.content_end;
        }
        position_ = line.end;
        parse(line);
        return true;
    }

private:
    void parse(Ini_Line& line) const {
        std::string_view content = text_.substr(line.begin, line.content_end - line.begin);
        size_t skipped = line.begin == 0 ? mark_length(content) : 0;
        content.remove_prefix(skipped);
        std::string_view body = trim(content);
        if (body.empty() || body[0] == '#' || body[0] == ';') {
            return;
        }
        if (body[0] == '[') {
            // Up to the last ']', which may belong to the name itself.
            size_t close = body.rfind(']');
            line.kind = Line_Kind::Section;
            line.name = body.substr(1, close == std::string_view::npos ? std::string_view::npos
                                                                        : close - 1);
            return;
        }
        size_t equals = content.find('=');
        if (equals == std::string_view::npos) {
            return;
        }
        line.kind = Line_Kind::Key;
        line.name = trim(content.substr(0, equals));
        size_t value_begin = equals + 1;
        while (value_begin < content.size() && is_blank(content[value_begin])) {
            ++value_begin;
        }
        line.value_begin = line.begin + skipped + value_begin;
        line.value = trim(content.substr(value_begin));
    }

    std::string_view text_;
    size_t position_ = 0;
};

// Calls visit(line, in_section) for every line; keys before the first
// section header belong to the section with the empty name.
template <typename Visit>
void walk_lines(std::string_view text, std::string_view section, Visit visit) {
    Line_Reader reader(text);
    Ini_Line line;
    const std::string wanted = header_name(section);
    bool in_section = section.empty();
    while (reader.next(line)) {
        if (line.kind == Line_Kind::Section) {
            in_section = equal_ignoring_case(line.name, wanted);
        }
        if (!visit(line, in_section)) {
            return;
        }
    }
}

// The first value of the key in the section (every part of a repeated
// section counts; the first line of a repeated key wins).
std::optional<std::string_view> find_value(std::string_view text, std::string_view section,
                                           std::string_view key) {
    std::optional<std::string_view> found;
    walk_lines(text, section, [&](const Ini_Line& line, bool in_section) {
        if (in_section && line.kind == Line_Kind::Key && same_name(line.name, key)) {
            found = line.value;
            return false;
        }
        return true;
    });
    return found;
}

// A value as a program reads it: as a C string it ends at a NUL byte.
std::string_view c_string_value(std::string_view value) {
    return value.substr(0, value.find('\0'));
}

std::string line_break_of(std::string_view text) {
    size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') {
        return "\r\n";
    }
    return "\n";
}

struct Setting {
    std::string key;
    std::string value;
};

struct Edit {
    size_t begin;
    size_t end;
    std::string text;
};

// The text with the settings of one section applied: a key already there
// gets its new value in place (the first line of it, keeping everything
// before the value), a new key goes after the last line of the section's
// first part, a new section goes to the end. Every other byte stays.
std::string apply_settings(const std::string& text, const std::string& section,
                           const std::vector<Setting>& settings) {
    const std::string eol = line_break_of(text);
    std::vector<std::optional<size_t>> key_line(settings.size());
    std::vector<Edit> edits;

    // Nothing goes before the byte-order mark, or the first line would lose it.
    const size_t start = mark_length(text);
    bool section_seen = section.empty();
    bool first_part_done = false;
    size_t insert_at = start;  // after the last non-blank line of the section's first part
    walk_lines(text, section, [&](const Ini_Line& line, bool in_section) {
        if (line.kind == Line_Kind::Section && section_seen && !in_section) {
            first_part_done = true;
        }
        if (line.kind == Line_Kind::Section && in_section && !section_seen) {
            section_seen = true;
            insert_at = line.end;
        }
        if (!in_section) {
            return true;
        }
        if (!first_part_done && line.content_end > line.begin &&
            !trim(std::string_view(text).substr(line.begin, line.content_end - line.begin)).empty()) {
            insert_at = line.end;
        }
        if (line.kind == Line_Kind::Key) {
            for (size_t i = 0; i < settings.size(); ++i) {
                if (!key_line[i] && same_name(line.name, settings[i].key)) {
                    key_line[i] = line.begin;
                    edits.push_back({line.value_begin, line.content_end, one_line(settings[i].value)});
                }
            }
        }
        return true;
    });

    std::string added;
    for (size_t i = 0; i < settings.size(); ++i) {
        if (!key_line[i]) {
            added += one_line(settings[i].key) + " = " + one_line(settings[i].value) + eol;
        }
    }
    if (!added.empty()) {
        if (!section_seen) {
            insert_at = text.size();
            std::string header = "[" + header_name(section) + "]" + eol;
            bool ends_blank = text.size() >= eol.size() * 2 &&
                              text.compare(text.size() - 2 * eol.size(), 2 * eol.size(), eol + eol) == 0;
            if (text.size() > start && !ends_blank) {
                header = eol + header;
            }
            added = header + added;
        }
        if (insert_at > start && text[insert_at - 1] != '\n') {
            added = eol + added;  // the last line had no line break
        }
        edits.push_back({insert_at, insert_at, added});
    }

    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    std::string out;
    out.reserve(text.size() + added.size() + 64);
    size_t copied = 0;
    for (const Edit& edit : edits) {
        out.append(text, copied, edit.begin - copied);
        out += edit.text;
        copied = edit.end;
    }
    out.append(text, copied, std::string::npos);
    return out;
}

// What the program is told when a file keeps its old contents.
void warn_not_saved(const std::string& path, const std::string& reason) {
    if (LogFile::vx_log != nullptr) {
        LogFile::vx_log->warning("Could not save " + path + " (" + reason + "); the old file is kept");
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The file as the sections alive now see it.

class Ini_Document {
public:
    explicit Ini_Document(const std::string& path) : path_(path) {
        read_whole_file(path_, text_);
    }

    std::optional<std::string> find(const std::string& section, const std::string& key) const {
        const std::string wanted = header_name(section);
        for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
            if (equal_ignoring_case(change->section, wanted) && same_name(change->key, key)) {
                return change->value;
            }
        }
        auto value = find_value(text_, section, key);
        if (!value) {
            return std::nullopt;
        }
        return std::string(*value);
    }

    void set(const std::string& section, const std::string& key, const std::string& value) {
        changes_.push_back({header_name(section), key, value});
    }

    // Writes the settings into the file as it is on disk now. A file that
    // exists but cannot be read is left alone rather than replaced by the
    // few keys we know.
    void write_back(const std::string& section, const std::vector<Setting>& settings) const {
        std::string current;
        switch (read_whole_file(path_, current)) {
        case Read_Result::Unreadable:
            warn_not_saved(path_, "it cannot be read");
            return;
        case Read_Result::Not_A_File:
            warn_not_saved(path_, "it is not a regular file");
            return;
        default:
            break;
        }
        std::string failure;
        try {
            failure = replace_file(path_, apply_settings(current, section, settings));
        } catch (const std::bad_alloc&) {
            failure = "out of memory";
        }
        if (!failure.empty()) {
            warn_not_saved(path_, failure);
        }
    }

private:
    struct Change {
        std::string section;  // as written in the header
        std::string key;
        std::string value;
    };

    std::string path_;
    std::string text_;
    std::vector<Change> changes_;
};

// ---------------------------------------------------------------------------
// Config_File and its sections.

Config_Section::~Config_Section() = default;

Config_File::Config_File(const std::string& path) : path_(path) {}

Config_File::~Config_File() = default;

Config_Section* Config_File::get_section(const std::string& section) {
    std::shared_ptr<Ini_Document> document = document_.lock();
    if (!document) {
        document = std::make_shared<Ini_Document>(path_);
        document_ = document;
    }
    return new Config_Section_Impl(section, document);
}

Config_Section_Impl::Config_Section_Impl(const std::string& section,
                                         std::shared_ptr<Ini_Document> document)
    : section_(section), document_(std::move(document)) {}

Config_Section_Impl::~Config_Section_Impl() {
    if (changes_.empty()) {
        return;
    }
    // One setting per key, in the order first set, with the last value any
    // section alive together with this one set for it: that is what they all
    // read, so a section deleted later must not bring back an older value.
    std::vector<Setting> settings;
    for (const auto& change : changes_) {
        auto same = std::find_if(settings.begin(), settings.end(),
                                 [&](const Setting& s) { return same_name(s.key, change.first); });
        if (same == settings.end()) {
            std::optional<std::string> latest = document_->find(section_, change.first);
            settings.push_back({change.first, latest.value_or(change.second)});
        }
    }
    document_->write_back(section_, settings);
}

std::string Config_Section_Impl::get_string(const std::string& key, const std::string& def) {
    std::optional<std::string> value = document_->find(section_, key);
    if (!value) {
        return def;
    }
    std::string_view text = c_string_value(*value);
    return text.empty() ? def : std::string(text);
}

void Config_Section_Impl::set_string(const std::string& key, const std::string& value) {
    document_->set(section_, key, value);
    changes_.emplace_back(key, value);
}

std::string Config_Section_Impl::get_file_name(const std::string& key, const std::string& def) {
    std::string name = get_string(key, def);
    fix_file_name_case(name);
    return name;
}

bool Config_Section_Impl::get_bool(const std::string& key, bool def) {
    return get_string(key, def ? "yes" : "no") == "yes";
}

void Config_Section_Impl::set_bool(const std::string& key, bool value) {
    set_string(key, value ? "yes" : "no");
}

int Config_Section_Impl::get_int(const std::string& key, int def) {
    std::optional<std::string> value = document_->find(section_, key);
    if (!value || c_string_value(*value).empty()) {
        return def;
    }
    // Like Allegro: strtol with base 0 (so 0x1f is hex), 0 for text.
    long number = std::strtol(std::string(c_string_value(*value)).c_str(), nullptr, 0);
    return static_cast<int>(std::clamp<long>(number, INT_MIN, INT_MAX));
}

void Config_Section_Impl::set_int(const std::string& key, int value) {
    set_string(key, std::to_string(value));
}

std::vector<std::string>* Config_Section_Impl::get_string_list(const std::string& key) {
    return new std::vector<std::string>(split_config_tokens(get_string(key, "")));
}

std::vector<std::string>* Config_Section_Impl::get_file_name_list(const std::string& key) {
    std::vector<std::string>* names = get_string_list(key);
    for (std::string& name : *names) {
        fix_file_name_case(name);
    }
    return names;
}

std::vector<std::string> split_config_tokens(const std::string& value) {
    constexpr size_t max_length = 255;
    constexpr size_t max_tokens = 16;
    std::string_view text = c_string_value(value);
    text = text.substr(0, max_length);

    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < text.size() && tokens.size() < max_tokens) {
        while (pos < text.size() && is_blank(text[pos])) {
            ++pos;
        }
        if (pos >= text.size() || text[pos] == '#') {
            break;
        }
        char quote = 0;
        if (text[pos] == '"' || text[pos] == '\'') {
            quote = text[pos++];
        }
        size_t begin = pos;
        while (pos < text.size() && (quote ? text[pos] != quote : !is_blank(text[pos]))) {
            ++pos;
        }
        tokens.emplace_back(text.substr(begin, pos - begin));
        if (pos < text.size()) {
            ++pos;  // the closing quote or the blank that ended the token
        }
    }
    return tokens;
}

// ---------------------------------------------------------------------------
// Allegro's own configuration, for code that uses it directly.

void set_config_file(const std::string& path) { ::set_config_file(path.c_str()); }

std::string get_config_string(const std::string& section, const std::string& key,
                              const std::string& def) {
    const char* value = ::get_config_string(section.c_str(), key.c_str(), def.c_str());
    return value ? value : def;
}

void set_config_string(const std::string& section, const std::string& key,
                       const std::string& value) {
    ::set_config_string(section.c_str(), key.c_str(), value.c_str());
}

bool get_config_bool(const std::string& section, const std::string& key, bool def) {
    return get_config_string(section, key, def ? "yes" : "no") == "yes";
}

void set_config_bool(const std::string& section, const std::string& key, bool value) {
    set_config_string(section, key, value ? "yes" : "no");
}

int get_config_int(const std::string& section, const std::string& key, int def) {
    return ::get_config_int(section.c_str(), key.c_str(), def);
}

void set_config_int(const std::string& section, const std::string& key, int value) {
    ::set_config_int(section.c_str(), key.c_str(), value);
}

char** get_config_argv(const std::string& section, const std::string& key, int* argc) {
    return ::get_config_argv(section.c_str(), key.c_str(), argc);
}

// ---------------------------------------------------------------------------
// Paths.

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Position of the '.' that starts the extension, scanning back from the end
// down to the character at index lowest; npos when a separator or the start
// of the scan comes first.
size_t extension_dot(const std::string& name, size_t lowest) {
    for (size_t i = name.size(); i > lowest; --i) {
        char c = name[i - 1];
        if (c == '.') {
            return i - 1;
        }
        if (is_separator(c)) {
            return std::string::npos;
        }
    }
    return std::string::npos;
}

}  // namespace

std::string get_extension(const std::string& name) {
    if (name.size() < 2) {
        return "";
    }
    size_t dot = extension_dot(name, 1);  // the first character is never examined
    return dot == std::string::npos ? "" : name.substr(dot + 1);
}

std::string remove_extension(const std::string& name) {
    size_t dot = extension_dot(name, 0);
    return dot == std::string::npos ? name : name.substr(0, dot);
}

void split_extension(const std::string& name, std::string& base, std::string& ext) {
    size_t dot = extension_dot(name, 0);
    if (dot == std::string::npos) {
        base = name;
        ext.clear();
    } else {
        base = name.substr(0, dot);
        ext = name.substr(dot + 1);
    }
}

void add_backslash(std::string& path) {
    if (path.empty() || !is_separator(path.back())) {
        path += '/';
    }
}

void fix_filename_slashes(std::string& path) { std::replace(path.begin(), path.end(), '\\', '/'); }

bool is_absolute_path(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') {
        return true;
    }
    return !path.empty() && is_separator(path[0]);
}

void quote_long_file_name(std::string& name) {
    if (name.find(' ') != std::string::npos) {
        name = '"' + name + '"';
    }
}

void fix_file_name_case(std::string& /*name*/) {}

bool file_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool directory_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool create_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0775) != 0) {
        return false;
    }
    give_to_folder_owner(path);
    return true;
}

int file_size(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<int>(std::min<int64_t>(info.st_size, INT32_MAX));
}

std::string resolve_file_name_case(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) == 0) {
        return path;
    }
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string wanted = slash == std::string::npos ? path : path.substr(slash + 1);
    if (wanted.empty()) {
        return path;
    }
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return path;
    }
    std::optional<std::string> best;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (equal_ignoring_case(name, wanted) && (!best || name < *best)) {
            best = std::string(name);
        }
    }
    ::closedir(dir);
    if (!best) {
        return path;
    }
    return slash == std::string::npos ? *best : directory + *best;
}
