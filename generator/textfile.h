#ifndef MARVO_GENERATOR_TEXTFILE_H
#define MARVO_GENERATOR_TEXTFILE_H

// Text files, texts and host services of the generation run. Text files are
// 8-bit: bytes are read and written unconverted; written lines end in CR LF.

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace Functions {

// A failure that ends a run; its text is shown to the user as it stands.
class Run_Error : public std::runtime_error {
public:
    explicit Run_Error(const std::string& text) : std::runtime_error(text) {}
};

// Reads lines ending in LF, CR LF or CR; a last line without a line end is a
// line like the others. Lines keep NUL bytes and any length.
class Text_Reader {
public:
    Text_Reader() = default;
    ~Text_Reader();
    Text_Reader(const Text_Reader&) = delete;
    Text_Reader& operator=(const Text_Reader&) = delete;

    // Opens a file; false when it cannot be opened.
    bool open(const std::string& path);
    // Takes over an already open stream (closed by this reader).
    void attach(std::FILE* file, const std::string& name);
    bool is_open() const { return file_ != nullptr; }
    void close();

    // True when no byte is left. Throws Run_Error when the file is not open,
    // as reading an unopened file does.
    bool eof();
    // Reads the next line without its line end; at the end of the file the
    // line is empty. Throws Run_Error when the file is not open.
    void read_line(std::string& line);

private:
    bool fill();
    void require_open() const;

    std::FILE* file_ = nullptr;
    std::string name_;
    std::vector<char> buffer_;
    std::size_t position_ = 0;
    std::size_t length_ = 0;
};

// Writes lines ending in CR LF. Failures throw Run_Error.
class Text_Writer {
public:
    Text_Writer() = default;
    ~Text_Writer();
    Text_Writer(const Text_Writer&) = delete;
    Text_Writer& operator=(const Text_Writer&) = delete;

    // Creates or truncates the file.
    void create(const std::string& path);
    // Opens the file for appending, creating it when needed.
    void append(const std::string& path);
    void write_line(const std::string& text);
    // Closes the file; reports a failed final write.
    void close();
    bool is_open() const { return file_ != nullptr; }

private:
    void open(const std::string& path, const char* mode);

    std::FILE* file_ = nullptr;
    std::string path_;
};

// Blanks and control characters (bytes up to 32) removed at both ends.
std::string trim(const std::string& text);
// Letters A to Z made a to z; other bytes unchanged.
std::string lower_case(const std::string& text);
// Whole-number value of a text (optional sign, decimal digits); throws
// Run_Error with the text when it is not one.
long long whole_number(const std::string& text);

bool file_exists(const std::string& path);
bool directory_exists(const std::string& path);
// Deletes a file when present.
void delete_file(const std::string& path);
void sleep_ms(int milliseconds);

// A word for a /bin/sh command line: in double quotes when that keeps it one
// word, otherwise in single quotes, so a path or game name never becomes part
// of a command.
std::string shell_quote(const std::string& text);
// Runs a command line with ShellName -c, hidden (no input) and waits for it
// to end; its error output goes to `error_file` (created or truncated), or
// nowhere when that is empty, and its output to `output_file` likewise, or
// where this program's goes when that is empty. Returns the command's exit
// status (128 + the signal's number when a signal ended it). Throws
// Run_Error when the shell cannot be started.
int run_hidden(const std::string& command, const std::string& error_file = std::string(),
               const std::string& output_file = std::string());

// A folder of its own under the host's temporary directory, removed with
// everything in it when the object goes.
class Temporary_Folder {
public:
    // Throws Run_Error when the folder cannot be made.
    Temporary_Folder();
    ~Temporary_Folder();
    Temporary_Folder(const Temporary_Folder&) = delete;
    Temporary_Folder& operator=(const Temporary_Folder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace Functions

#endif
