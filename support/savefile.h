// Reading and saving whole files, shared by the front-end's configuration
// code and marvolist's settings file. Free of Allegro, so that marvolist,
// which links nothing of the front-end, may use it too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <signal.h>
#include <sys/types.h>

// The UTF-8 mark that Windows editors put before the first line.
inline constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The length of a byte-order mark at the start of the text, or 0.
std::size_t mark_length(std::string_view text);

enum class Read_Result { Read, Missing, Unreadable, Not_A_File };

// Reads a whole regular file (through links). A device, FIFO, socket or
// folder is never read nor waited on: it gives Not_A_File. `out` is empty
// unless the result is Read.
Read_Result read_whole_file(const std::string& path, std::string& out);

// Whether a save waits until its data is on the disk. A picture grabbed
// while a key is held is saved once a frame and need not.
enum class Sync { Synced, Unsynced };

// Replaces a regular file with data: a temporary file beside it, readable by
// us alone, is written (and synced, unless asked not to) first, given the
// old file's owner, group, mode and access list, then renamed over it, so
// the old file stays whole until the new one is complete. Where no such
// file can take its place (a folder we may not write, another user's file,
// an access list that cannot be copied), the file is written in place, and
// put back as it was should that write fail. Links are followed as by
// open_for_writing and the end stays a link; when what it points at is
// missing, that file is created. Only a regular file is ever replaced:
// anything else is left alone, never written nor waited on. So is a file we
// may not write: the rename would go round its permissions, and root would
// get past a file its owner made read-only. Signals that would end the
// process wait until the save is over.
// Gives why the old file was kept, or "" when the data was saved.
std::string replace_file(const std::string& path, const std::string& data, Sync sync = Sync::Synced);

// Writes all of data to fd, going on after a signal; false when a write
// fails (errno set), or writes nothing (a full disk, a file-size limit).
bool write_all(int fd, std::string_view data);

// Opens a regular file for writing, as open(2) does with flags (O_CREAT,
// O_TRUNC, O_APPEND, ...) and mode. Run as root, a link is followed only
// where it belongs to root or to the owner of what it points at, so that no
// user can turn root's writes onto a file of root's or of another user's.
// Anything but a regular file is refused without waiting on it. A file this
// makes takes the owner of its folder as give_to_folder_owner says.
// Gives the descriptor (close-on-exec), or -1 with errno set.
int open_for_writing(const std::string& path, int flags, mode_t mode);

// Run as root, gives what was just made at path (a file or folder, never
// what a link points at) the owner and group of the folder it lies in, when
// that folder is another user's: a cabinet started once by root stays its
// owner's. Does nothing for an ordinary user or in root's own folders.
void give_to_folder_owner(const std::string& path);

// Holds back every signal that could end the process (termination signals,
// SIGXFSZ, ...) for as long as it lives, so that a save of several parts is
// never cut between two of them; what came meanwhile lands at its end.
// Faults raised by our own code stay deliverable. Holds nest.
class Signals_Held {
public:
    Signals_Held();
    ~Signals_Held();
    Signals_Held(const Signals_Held&) = delete;
    Signals_Held& operator=(const Signals_Held&) = delete;

private:
    sigset_t saved_;
};
