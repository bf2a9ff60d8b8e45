#ifndef MARVO_GENERATOR_SETTINGS_H
#define MARVO_GENERATOR_SETTINGS_H

// "Config.ini" of marvolist: the paths and options of the main window, kept
// between runs in section CONFIG of a profile file beside the executable.
// Reading and writing live here, apart from the window, so that the file's
// rules can be checked without a display.

#include <string>

namespace Marvane {

// The settings file's values, one for each key, in the file's key order.
struct Generator_Settings {
    std::string rom_path;        // ROMPath
    std::string snap_path;       // SNAPPath
    std::string mame_exe;        // MAMEEXE
    std::string catver_path;     // CatverPath
    std::string filter;          // Filter
    bool cat_enabled = false;    // CatEnabled
    bool filter_enabled = false; // FilterEnabled
    std::string output_dir;      // OutputDir
    bool buttons = false;        // Buttons (read only: the file is the only way to set it)
    bool working = false;        // Working
    bool snap = false;           // Snap
    bool rom = false;            // ROM
    bool verify = false;         // Verify
};

// The filter words of a first start.
extern const char* const default_filter;

// The values of a first start: empty paths, the default filter, all off.
Generator_Settings default_settings();

// Reads the thirteen keys of section CONFIG (section and key names match
// ignoring case; the first line of a key counts). An absent key, or a
// boolean whose value is no whole number, keeps its default; a value ends at
// its first NUL byte, and one pair of double quotes around it is taken off.
// A byte-order mark before the first line is skipped. A missing or
// unreadable file, or anything but a regular file, gives the defaults.
Generator_Settings read_settings(const std::string& path);

// Writes the twelve saved keys (all but Buttons) in order into section
// CONFIG, booleans as "1" and "0", keeping every other line of the file; a
// value that reading would trim or unquote is written in quotes; a leading
// byte-order mark is kept. The file is replaced through a temporary file
// beside it, so a failure leaves the old one whole; a link stays a link and
// its target is written. False when the file cannot be written, when its
// owner made it read-only (no write permission bit), when it is no regular
// file (a device or FIFO is never written nor waited on), or when it exists
// but cannot be read (its other lines would be lost).
bool write_settings(const std::string& path, const Generator_Settings& settings);

// Directory of the running executable, without a trailing separator; the
// current directory when it cannot be found.
std::string program_directory();

// Full path of "Config.ini" in the program's directory. Absolute, because a
// run changes the current directory.
std::string settings_path();

}  // namespace Marvane

#endif
