#include "support/logfile.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/savefile.h"

namespace LogFile {

Log_File* vx_log = nullptr;

Log_Rotate_Event::Log_Rotate_Event(int completed, int total)
    : completed_rotations_(completed), total_rotations_(total) {}

int Log_Rotate_Event::get_completed_rotations() const { return completed_rotations_; }

int Log_Rotate_Event::get_total_rotations() const { return total_rotations_; }

Log_Rotate_Listener::~Log_Rotate_Listener() = default;

Log_File::Log_File(const std::string& name) {
    rotate_log_files(name, 5, nullptr);
    // Opened as every file we write is: never through a link planted for
    // root, never waiting on a FIFO.
    fd_ = open_for_writing(name, O_WRONLY | O_CREAT | O_TRUNC, 0664);
}

Log_File::~Log_File() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Log_File::error(const std::string& message) { write_line("Err ", message); }

void Log_File::warning(const std::string& message) { write_line("Warn", message); }

void Log_File::info(const std::string& message) { write_line("Info", message); }

void Log_File::debug(const std::string& message) { write_line("Debug", message); }

std::string format_log_time(std::time_t seconds, int milliseconds) {
    std::tm local{};
    localtime_r(&seconds, &local);

    char date[80];
    if (std::strftime(date, sizeof date, "%e %h %Y %X", &local) == 0) {
        date[0] = '\0';
    }
    char millis[16];
    std::snprintf(millis, sizeof millis, "%03d", milliseconds);
    return std::string(date) + '.' + millis;
}

void Log_File::write_line(const std::string& level, const std::string& message) {
    if (fd_ < 0) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string line = format_log_time(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000)) + " [" +
                             level + "] " + message + '\n';
    const off_t start = ::lseek(fd_, 0, SEEK_CUR);
    // Full disk or size limit: what part of the line got in goes.
    if (!write_all(fd_, line) && start >= 0 && ::ftruncate(fd_, start) == 0) {
        ::lseek(fd_, start, SEEK_SET);
    }
}

void open_log_file(const std::string& name) { vx_log = new Log_File(name); }

void replace_extension(char* dst, const char* src, const char* ext, int size) {
    if (size <= 0) {
        return;
    }
    size_t length = strnlen(src, static_cast<size_t>(size) - 1);
    std::memcpy(dst, src, length);
    dst[length] = '\0';

    char* dot = std::strrchr(dst, '.');
    if (dot == nullptr || std::strlen(dot + 1) != 3) {
        return;
    }
    for (int i = 0; i < 3 && ext[i] != '\0'; ++i) {
        dot[1 + i] = ext[i];
    }
}

namespace {

// True when the name has a three-character extension that copy numbers can
// replace. An "extension" holding a separator belongs to a directory name
// ("d.a/b"): numbering it would move files out of the log's directory and
// remove unrelated files there, so such a name has no copies either.
bool has_numbered_copies(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot - 1 != 3) {
        return false;
    }
    return name.find_first_of("/\\", dot) == std::string::npos;
}

bool path_exists(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0;
}

}  // namespace

void rotate_log_files(std::string name, int count, Log_Rotate_Listener* listener) {
    if (count <= 0) {
        return;
    }
    const bool numbered = has_numbered_copies(name);
    const int size = static_cast<int>(name.size()) + 1;
    std::vector<char> source(size);
    std::vector<char> target(size);

    for (int i = count; i >= 1; --i) {
        // Copy numbers above 999 do not fit the three characters; cutting
        // them would make two steps share one file name.
        if (numbered && i <= 999) {
            char number[16];
            if (i == 1) {
                replace_extension(source.data(), name.c_str(), "", size);
            } else {
                std::snprintf(number, sizeof number, "%03d", i - 1);
                replace_extension(source.data(), name.c_str(), number, size);
            }
            std::snprintf(number, sizeof number, "%03d", i);
            replace_extension(target.data(), name.c_str(), number, size);

            if (path_exists(source.data())) {
                std::remove(target.data());
                std::rename(source.data(), target.data());
            }
        }
        if (listener != nullptr) {
            Log_Rotate_Event event(i, count);
            listener->rotate_progress(&event);
        }
    }
}

}  // namespace LogFile
