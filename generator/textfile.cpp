#include "generator/textfile.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "generator/Functions.h"
#include "support/savefile.h"

extern char** environ;

namespace Functions {

namespace {

constexpr std::size_t read_block = 64 * 1024;

std::string system_error_text(const std::string& what, const std::string& path)
{
    return what + " \"" + path + "\": " + std::strerror(errno);
}

}  // namespace

Text_Reader::~Text_Reader() { close(); }

bool Text_Reader::open(const std::string& path)
{
    close();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    struct stat info {};
    if (file != nullptr && (::fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode))) {
        std::fclose(file);  // a directory opens but reads as nothing
        file = nullptr;
    }
    if (file == nullptr) {
        name_ = path;
        return false;
    }
    attach(file, path);
    return true;
}

void Text_Reader::attach(std::FILE* file, const std::string& name)
{
    close();
    file_ = file;
    name_ = name;
    buffer_.resize(read_block);
    position_ = 0;
    length_ = 0;
}

void Text_Reader::close()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    position_ = 0;
    length_ = 0;
}

void Text_Reader::require_open() const
{
    if (file_ == nullptr)
        throw Run_Error("Cannot read \"" + name_ + "\": the file is not open.");
}

bool Text_Reader::fill()
{
    if (position_ < length_)
        return true;
    length_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    position_ = 0;
    return length_ > 0;
}

bool Text_Reader::eof()
{
    require_open();
    return !fill();
}

void Text_Reader::read_line(std::string& line)
{
    require_open();
    line.clear();
    while (fill()) {
        const char* start = buffer_.data() + position_;
        const std::size_t available = length_ - position_;
        const char* end = start;
        const char* stop = start + available;
        while (end != stop && *end != '\n' && *end != '\r')
            ++end;
        line.append(start, static_cast<std::size_t>(end - start));
        position_ += static_cast<std::size_t>(end - start);
        if (end == stop)
            continue;
        ++position_;
        if (*end == '\r' && fill() && buffer_[position_] == '\n')
            ++position_;
        return;
    }
}

Text_Writer::~Text_Writer()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void Text_Writer::open(const std::string& path, const char* mode)
{
    if (file_ != nullptr)
        close();
    path_ = path;
    // Opened as every file we write is: never through a link planted for
    // root; made by root in a user's folder, the user's.
    const int flags = O_WRONLY | O_CREAT | (mode[0] == 'a' ? O_APPEND : O_TRUNC);
    const int fd = open_for_writing(path, flags, 0666);
    file_ = fd < 0 ? nullptr : ::fdopen(fd, mode);
    if (file_ == nullptr) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        errno = error;
        throw Run_Error(system_error_text("Cannot create file", path));
    }
}

void Text_Writer::create(const std::string& path) { open(path, "wb"); }

void Text_Writer::append(const std::string& path) { open(path, "ab"); }

void Text_Writer::write_line(const std::string& text)
{
    if (file_ == nullptr)
        throw Run_Error("Cannot write \"" + path_ + "\": the file is not open.");
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() ||
        std::fwrite("\r\n", 1, 2, file_) != 2)
        throw Run_Error(system_error_text("Cannot write file", path_));
}

void Text_Writer::close()
{
    if (file_ == nullptr)
        return;
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0)
        throw Run_Error(system_error_text("Cannot write file", path_));
}

std::string trim(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

std::string lower_case(const std::string& text)
{
    std::string result = text;
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

long long whole_number(const std::string& text)
{
    const std::string invalid = "'" + text + "' is not a valid integer value";
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        throw Run_Error(invalid);
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw Run_Error(invalid);
        if (value > 100000000000LL)
            throw Run_Error(invalid);
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

bool file_exists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool directory_exists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void delete_file(const std::string& path)
{
    if (file_exists(path) && ::unlink(path.c_str()) != 0)
        throw Run_Error(system_error_text("Cannot delete file", path));
}

void sleep_ms(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string shell_quote(const std::string& text)
{
    if (text.find_first_of("\"$`\\") == std::string::npos && text.find('\0') == std::string::npos)
        return "\"" + text + "\"";
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\0')
            continue;  // a command line cannot hold one; the OS would cut there
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

int run_hidden(const std::string& command, const std::string& error_file,
               const std::string& output_file)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        throw Run_Error("Cannot start the command shell " + ShellName + ".");
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!output_file.empty())
        posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (error_file.empty())
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 2, error_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::string shell = ShellName;
    std::string dash_c = "-c";
    std::string line = command;
    char* argv[] = {shell.data(), dash_c.data(), line.data(), nullptr};
    // We ignore SIGXFSZ; MAME must not: a list cut at a file-size limit
    // would pass for a whole one, where MAME's death says what happened.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        errno = failed;
        throw Run_Error(system_error_text("Cannot start the command shell", shell));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw Run_Error(system_error_text("Cannot wait for the command shell", shell));
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

Temporary_Folder::Temporary_Folder()
{
    std::error_code failed;
    std::filesystem::path base = std::filesystem::temp_directory_path(failed);
    if (failed)
        base = "/tmp";
    std::string pattern = (base / "marvolist-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw Run_Error(system_error_text("Cannot create a temporary folder", pattern));
    path_ = pattern;
}

Temporary_Folder::~Temporary_Folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace Functions
