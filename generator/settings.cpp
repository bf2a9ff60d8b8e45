#include "generator/settings.h"

#include <cstdlib>
#include <unistd.h>
#include <vector>

#include "generator/textfile.h"
#include "support/savefile.h"

namespace Marvane {

const char* const default_filter =
    "bootleg;japan;hispanic;asia;korea;hardware;prototype;germany;german;french";

namespace {

const char* const section_name = "CONFIG";

// One line of the file as it stands, and the line end that followed it
// (empty for a last line without one), so untouched lines are written back
// byte for byte.
struct Line {
    std::string text;
    std::string end;
};

std::vector<Line> split_lines(const std::string& bytes)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t stop = bytes.find_first_of("\r\n", start);
        if (stop == std::string::npos) {
            lines.push_back({bytes.substr(start), ""});
            break;
        }
        std::size_t after = stop + 1;
        if (bytes[stop] == '\r' && after < bytes.size() && bytes[after] == '\n')
            ++after;
        lines.push_back({bytes.substr(start, stop - start), bytes.substr(stop, after - stop)});
        start = after;
    }
    return lines;
}

bool same_name(const std::string& a, const std::string& b)
{
    return Functions::lower_case(Functions::trim(a)) == Functions::lower_case(b);
}

// The name of a section header line, or false when the line is none.
bool section_header(const std::string& line, std::string& name)
{
    const std::string text = Functions::trim(line);
    if (text.empty() || text[0] != '[')
        return false;
    const std::size_t close = text.find(']');
    if (close == std::string::npos)
        return false;
    name = text.substr(1, close - 1);
    return true;
}

// The key of a key=value line, or false when the line has no "=".
bool key_of(const std::string& line, std::string& key)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos)
        return false;
    key = line.substr(0, equals);
    return true;
}

// Indices [begin, end) of the lines inside the first CONFIG section; begin is
// the header's index + 1. False when there is no such section.
bool find_section(const std::vector<Line>& lines, std::size_t& begin, std::size_t& end)
{
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!section_header(lines[i].text, name) || !same_name(name, section_name))
            continue;
        begin = i + 1;
        end = begin;
        while (end < lines.size() && !section_header(lines[end].text, name))
            ++end;
        return true;
    }
    return false;
}

// Index of the first line of a key inside [begin, end), or end.
std::size_t find_key(const std::vector<Line>& lines, std::size_t begin, std::size_t end,
                     const char* key)
{
    std::string name;
    for (std::size_t i = begin; i < end; ++i)
        if (key_of(lines[i].text, name) && same_name(name, key))
            return i;
    return end;
}

// A whole number: optional sign, then decimal digits and nothing else.
bool whole_number(const std::string& text, bool& non_zero)
{
    std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (i == text.size())
        return false;
    non_zero = false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        non_zero = non_zero || text[i] != '0';
    }
    return true;
}

// A profile value in one pair of double quotes reads without them.
bool quoted(const std::string& value)
{
    return value.size() >= 2 && value.front() == '"' && value.back() == '"';
}

std::string unquoted(const std::string& value)
{
    return quoted(value) ? value.substr(1, value.size() - 2) : value;
}

class Section_Reader {
public:
    explicit Section_Reader(const std::string& path)
    {
        std::string bytes;
        if (read_whole_file(path, bytes) == Read_Result::Read)
            lines_ = split_lines(bytes.substr(mark_length(bytes)));
        present_ = find_section(lines_, begin_, end_);
    }

    void text(const char* key, std::string& value) const
    {
        const std::string* raw = find(key);
        if (raw != nullptr)
            value = *raw;
    }

    void flag(const char* key, bool& value) const
    {
        const std::string* raw = find(key);
        bool non_zero = false;
        if (raw != nullptr && whole_number(*raw, non_zero))
            value = non_zero;
    }

private:
    const std::string* find(const char* key) const
    {
        if (!present_)
            return nullptr;
        const std::size_t at = find_key(lines_, begin_, end_, key);
        if (at == end_)
            return nullptr;
        const std::string& line = lines_[at].text;
        std::string raw = line.substr(line.find('=') + 1);
        // Values are C strings in a profile file: they end at a NUL byte.
        raw = raw.substr(0, raw.find('\0'));
        value_ = unquoted(Functions::trim(raw));
        return &value_;
    }

    std::vector<Line> lines_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool present_ = false;
    mutable std::string value_;
};

bool blank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// A value as it goes into its line: a line break inside it would end the
// line early and make the rest a line of its own. A value that reading would
// trim or unquote goes in quotes, which reading takes off again.
std::string one_line(std::string value)
{
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (quoted(value) || (!value.empty() && (blank(value.front()) || blank(value.back()))))
        return '"' + value + '"';
    return value;
}

void set_key(std::vector<Line>& lines, std::size_t begin, std::size_t& end, const char* key,
             const std::string& value)
{
    const std::string text = std::string(key) + "=" + one_line(value);
    const std::size_t at = find_key(lines, begin, end, key);
    if (at != end) {
        lines[at].text = text;
        return;
    }
    // A new key goes after the section's last non-blank line.
    std::size_t insert = end;
    while (insert > begin && Functions::trim(lines[insert - 1].text).empty())
        --insert;
    if (insert > 0 && lines[insert - 1].end.empty())
        lines[insert - 1].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert), Line{text, "\r\n"});
    ++end;
}

}  // namespace

Generator_Settings default_settings()
{
    Generator_Settings settings;
    settings.filter = default_filter;
    return settings;
}

Generator_Settings read_settings(const std::string& path)
{
    Generator_Settings s = default_settings();
    const Section_Reader file(path);
    file.text("ROMPath", s.rom_path);
    file.text("SNAPPath", s.snap_path);
    file.text("MAMEEXE", s.mame_exe);
    file.text("CatverPath", s.catver_path);
    file.text("Filter", s.filter);
    file.flag("CatEnabled", s.cat_enabled);
    file.flag("FilterEnabled", s.filter_enabled);
    file.text("OutputDir", s.output_dir);
    file.flag("Buttons", s.buttons);
    file.flag("Working", s.working);
    file.flag("Snap", s.snap);
    file.flag("ROM", s.rom);
    file.flag("Verify", s.verify);
    return s;
}

bool write_settings(const std::string& path, const Generator_Settings& s)
{
    std::string bytes;
    const Read_Result read = read_whole_file(path, bytes);
    if (read != Read_Result::Read && read != Read_Result::Missing)
        return false;  // a file we cannot read would lose its other lines
    // A byte-order mark an editor put first stays first.
    const std::size_t mark = mark_length(bytes);
    std::vector<Line> lines = split_lines(bytes.substr(mark));
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!find_section(lines, begin, end)) {
        if (!lines.empty() && lines.back().end.empty())
            lines.back().end = "\r\n";
        lines.push_back({std::string("[") + section_name + "]", "\r\n"});
        begin = end = lines.size();
    }
    const auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    set_key(lines, begin, end, "ROMPath", s.rom_path);
    set_key(lines, begin, end, "SNAPPath", s.snap_path);
    set_key(lines, begin, end, "MAMEEXE", s.mame_exe);
    set_key(lines, begin, end, "CatverPath", s.catver_path);
    set_key(lines, begin, end, "Filter", s.filter);
    set_key(lines, begin, end, "CatEnabled", flag(s.cat_enabled));
    set_key(lines, begin, end, "FilterEnabled", flag(s.filter_enabled));
    set_key(lines, begin, end, "OutputDir", s.output_dir);
    set_key(lines, begin, end, "Working", flag(s.working));
    set_key(lines, begin, end, "Snap", flag(s.snap));
    set_key(lines, begin, end, "ROM", flag(s.rom));
    set_key(lines, begin, end, "Verify", flag(s.verify));
    std::string out = bytes.substr(0, mark);
    out.reserve(bytes.size() + 512);
    for (const Line& line : lines)
        out += line.text + line.end;
    return replace_file(path, out).empty();
}

std::string program_directory()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            break;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            const std::string exe(buffer.data(), static_cast<std::size_t>(n));
            const std::size_t slash = exe.rfind('/');
            if (slash == std::string::npos)
                break;
            return slash == 0 ? std::string("/") : exe.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
    char* cwd = getcwd(nullptr, 0);
    std::string here = cwd != nullptr ? cwd : ".";
    std::free(cwd);
    return here;
}

std::string settings_path()
{
    std::string directory = program_directory();
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory + "Config.ini";
}

}  // namespace Marvane
