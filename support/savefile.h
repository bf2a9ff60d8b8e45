// Reading and saving whole files, shared by the front-end's configuration
// code and marvolist's settings file. Free of Allegro, so that marvolist,
// which links nothing of the front-end, may use it too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The UTF-8 mark that Windows editors put before the first line.
inline constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The length of a byte-order mark at the start of the text, or 0.
std::size_t mark_length(std::string_view text);

enum class Read_Result { Read, Missing, Unreadable, Not_A_File };

// Reads a whole regular file (through links). A device, FIFO, socket or
// folder is never read nor waited on: it gives Not_A_File. `out` is empty
// unless the result is Read.
Read_Result read_whole_file(const std::string& path, std::string& out);

// Replaces a regular file with data: a temporary file beside it is written
// and synced first, given the old file's owner, group and mode, then renamed
// over it, so the old file stays whole until the new one is complete. Where
// no such file can take its place (a folder we may not write, another user's
// file), the file is written in place, and put back as it was should that
// write fail. A link is followed to its end and stays a link; when what it
// points at is missing, that file is created. Only a regular file is ever
// replaced: anything else is left alone, never written nor waited on. So is
// a file we may not write: the rename would go round its permissions, and
// root would get past a file its owner made read-only. Signals that would
// end the process wait until the save is over.
// Gives why the old file was kept, or "" when the data was saved.
std::string replace_file(const std::string& path, const std::string& data);
