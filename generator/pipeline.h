#ifndef MARVO_GENERATOR_PIPELINE_H
#define MARVO_GENERATOR_PIPELINE_H

// The pieces of a generation run that read MAME's and catver.ini's lines.
// run_generation (generator/runhost.h) puts them together; they are apart so
// that each parser of outside input can be tried on its own.

#include <string>

#include "generator/Functions.h"
#include "generator/runhost.h"
#include "generator/textfile.h"

namespace Functions {

// One catver.ini line. False for the lines passed over (comments, section
// headers, version entries: a ";" or "." anywhere, or no "="); otherwise the
// trimmed game name and the category without "*", cut before its first "/".
bool parse_catver_line(const std::string& line, std::string& name, std::string& category);

// One line of MAME's full list: the name before the first blank, and the
// description from after the first double quote up to the line's last
// character (the closing quote).
void parse_full_list_line(const std::string& line, std::string& name, std::string& description);

// A description as the map files hold it, so that the front-end reads it
// whole and shows it right: double quotes become "'", and UTF-8 text whose
// characters all fit Latin-1 becomes Latin-1.
std::string front_end_text(const std::string& description);

// Whether a line of MAME's ROM check is its verdict that the game's set is
// good or the best available ("romset NAME [PARENT] is good", letter case
// ignored, the parent given for clones only).
bool verify_says_good(const std::string& line, const std::string& game);

// Whether a category can name files of the output directory: not empty, no
// separator, no NUL byte, not "." or "..", not "mame" in any letter case (the
// all-games files bear that name), and short enough for its longest file
// name. Other categories still sort games but get no files.
bool usable_category_file_name(const std::string& category);

// Reads the button count of every game block of MAME's information list into
// the table (lower-case name, count). Tests StopRequested on each line inside
// a block; false when it found it set.
bool scan_buttons(Text_Reader& info, Name_Table& table, Marvane::Run_Host& host);

// Reads each game's driver status from MAME's information list into the
// table: "yes" for a working driver (status good or imperfect), else "no".
void scan_working(Text_Reader& info, Name_Table& table);

}  // namespace Functions

#endif
