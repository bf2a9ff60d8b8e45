#ifndef MARVO_GENERATOR_FUNCTIONS_H
#define MARVO_GENERATOR_FUNCTIONS_H

// Module values and helper routines of the generation run. The values live as
// long as the program; a run rewrites them (see run_generation).

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "generator/runhost.h"

namespace Functions {

// The separator of the host's paths, and the one of the other family.
#ifdef _WIN32
inline constexpr char host_separator = '\\';
inline constexpr char other_separator = '/';
#else
inline constexpr char host_separator = '/';
inline constexpr char other_separator = '\\';
#endif

// A table of (name, value) pairs in the order they were stored. It grows with
// the data (a full MAME list has tens of thousands of games) and keeps an
// index by name so a lookup visits every entry of that name, in order,
// without scanning the whole table.
class Name_Table {
public:
    struct Entry {
        std::string name;
        std::string value;
    };

    // Adds an entry; `key` is what lookups compare against (the name itself,
    // or its trimmed form for the button table).
    void add(const std::string& name, const std::string& value, const std::string& key);
    void add(const std::string& name, const std::string& value) { add(name, value, name); }
    void clear();

    std::size_t size() const { return entries_.size(); }
    const Entry& operator[](std::size_t index) const { return entries_[index]; }

    // Indices of the entries whose key equals `key`, ascending; empty when none.
    const std::vector<std::size_t>& find(const std::string& key) const;

private:
    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::vector<std::size_t>> index_;
};

// Module values.
extern std::string MameExePath;     // executable path as typed
extern std::string RomDirectory;    // ROM directory after normalisation
extern std::string MameDirectory;   // executable path before its last separator
extern std::string MameExeName;     // executable path after its last separator
extern std::string ShellName;       // the command shell, "/bin/sh" on this host
extern bool StopRequested;          // set when the main window closes; never cleared
extern Name_Table ButtonTable;      // (game name in lower case, button count)
extern Name_Table WorkingTable;     // (game name, "yes" or "no")
extern Name_Table CategoryTable;    // (game name as in catver.ini, category)

// Runs MAME's ROM check for one game, its answer going to `folder`; true when
// MAME's verdict is that the set is good or the best available, false when
// it is bad or not found. Pumps the host's messages while it waits for the
// result file. Throws Run_Error, with MAME's first line of error output,
// when the check gives no verdict: MAME could not be started in its folder,
// ended with a status other than 0 and 2, or ended with 0 without saying
// that the set is good.
bool VerifyGame(const std::string& game, const std::string& folder, Marvane::Run_Host& host);

// MAME as a command line starts it: the path as typed, and a bare name (no
// folder) or a path that begins with "-" as one from the current folder
// ("./" in front): the run checked that file, which the shell would
// otherwise look up on PATH. MAME's ROM check runs the same file from the
// current folder.
std::string mame_to_run();

// How a MAME run ended that failed: "failed with exit code N", followed,
// when N tells that a signal ended it, by the signal's number and name.
std::string exit_code_text(int code);

// The text of an error box about MAME: "Mame " and `what`, then ": " and
// MAME's first line of error output from `error_file` ("." when it said
// nothing). The line is quoted up to a few hundred bytes of whole UTF-8
// characters, "..." marking a cut; its NUL bytes are left out.
std::string mame_failure(const std::string& what, const std::string& error_file);

// The text broken into lines that `measure` finds no wider than `width`:
// at the last blank that fits, else between two UTF-8 characters (a line
// holds at least one). The text's own line breaks stay.
std::string wrap_to_width(const std::string& text, int width,
                          const std::function<int(const std::string&)>& measure);

// True when the first entry of WorkingTable for the game says "yes".
bool IsWorkingGame(const std::string& game);

// The text with every occurrence of `old_text` replaced by `new_text`.
std::string ReplaceAll(const std::string& text, const std::string& old_text,
                       const std::string& new_text);

// The path without trailing host separators; one made only of them is the
// root folder, a single separator.
std::string StripTrailingBackslash(const std::string& path);

// 1-based position of the last `c` in text; 0 when there is none.
std::size_t LastCharPos(const std::string& text, char c);

// The pieces of text between separators; a piece that begins with a double
// quote runs to the last double quote of the rest (quotes kept).
std::vector<std::string> SplitString(const std::string& text, const std::string& separator);

// The last piece SplitString would give, without making the others.
std::string last_split_piece(const std::string& text, const std::string& separator);

}  // namespace Functions

#endif
