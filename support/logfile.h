// The program's text log and the rotation of numbered log copies.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace LogFile {

// Progress of one rotation step, handed to a Log_Rotate_Listener.
class Log_Rotate_Event {
public:
    Log_Rotate_Event(int completed, int total);
    int get_completed_rotations() const;
    int get_total_rotations() const;

private:
    int32_t completed_rotations_;
    int32_t total_rotations_;
};

// Told after every rotation step so that a caller can keep background work
// (music) going during a long rotation. Never owned by the rotation.
class Log_Rotate_Listener {
public:
    virtual ~Log_Rotate_Listener();
    virtual void rotate_progress(const Log_Rotate_Event* event) = 0;
};

// One log file. Opening it first rotates the older copies (five are kept),
// then starts an empty file. Every line is written at once so that nothing
// is lost when the process ends abruptly. A file that cannot be opened, or
// is no regular file (a FIFO would hold the program until someone reads
// it), swallows every line silently; so does a full disk or a file-size
// limit, line by line: a line is written whole or not at all.
class Log_File {
public:
    explicit Log_File(const std::string& name);
    ~Log_File();
    Log_File(const Log_File&) = delete;
    Log_File& operator=(const Log_File&) = delete;

    void error(const std::string& message);    // level "Err "
    void warning(const std::string& message);  // level "Warn"
    void info(const std::string& message);     // level "Info"
    void debug(const std::string& message);    // level "Debug"

    // "<date>.<ms> [<level>] <message>" and an end of line, written at once.
    void write_line(const std::string& level, const std::string& message);

private:
    int fd_;
};

// The time part of a log line for a moment given in seconds since the epoch
// and milliseconds (0 to 999): the local date and time as strftime's
// "%e %h %Y %X", a '.', and the milliseconds as three digits.
std::string format_log_time(std::time_t seconds, int milliseconds);

// The one log of the program; null until open_log_file has run.
extern Log_File* vx_log;

// Creates the program's log; called once by the entry point.
void open_log_file(const std::string& name);

// Moves name.(count-1) to name.count, ..., name.001 to name.002 and name to
// name.001 (the three characters after the last '.' are replaced by the
// number). Missing copies are skipped; failures are ignored. A name without
// a three-character extension has no copies: no file is touched. The
// listener (may be null) hears every step, count first, down to 1.
void rotate_log_files(std::string name, int count, Log_Rotate_Listener* listener);

// Copies src into dst (a buffer of size bytes) and replaces its
// three-character extension, if it has one, by the first three characters
// of ext. dst always ends with a NUL when size > 0.
void replace_extension(char* dst, const char* src, const char* ext, int size);

}  // namespace LogFile
