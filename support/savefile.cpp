#include "support/savefile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <new>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

bool write_all(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::size_t mark_length(std::string_view text) {
    return text.substr(0, byte_order_mark.size()) == byte_order_mark ? byte_order_mark.size() : 0;
}

Read_Result read_whole_file(const std::string& path, std::string& out) {
    out.clear();
    // Non-blocking: opening a FIFO for reading would wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? Read_Result::Missing : Read_Result::Unreadable;
    }
    Read_Result result = Read_Result::Read;
    try {
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            result = Read_Result::Unreadable;
        } else if (!S_ISREG(info.st_mode)) {
            result = Read_Result::Not_A_File;
        } else {
            if (info.st_size > 0) {
                out.reserve(static_cast<size_t>(info.st_size));
            }
            char buffer[65536];
            for (;;) {
                ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n < 0) {
                    result = Read_Result::Unreadable;
                    break;
                }
                if (n == 0) {
                    break;
                }
                out.append(buffer, static_cast<size_t>(n));
            }
        }
    } catch (const std::bad_alloc&) {
        result = Read_Result::Unreadable;
    }
    ::close(fd);
    if (result != Read_Result::Read) {
        out.clear();
        out.shrink_to_fit();
    }
    return result;
}

Signals_Held::Signals_Held() {
    sigset_t all;
    sigfillset(&all);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
        sigdelset(&all, fault);
    }
    ::pthread_sigmask(SIG_BLOCK, &all, &saved_);
}

Signals_Held::~Signals_Held() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

namespace {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(-1); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// A folder to work in by name. Opened for reading where we may, so that it
// can be synced; a folder we may only pass through still serves the *at calls.
int open_folder(int at, const char* name) {
    int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        fd = ::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    return fd;
}

std::deque<std::string> names_in(const std::string& path) {
    std::deque<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string name = path.substr(start, end - start);
        if (!name.empty() && name != ".") {
            names.push_back(std::move(name));
        }
        start = end + 1;
    }
    return names;
}

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whose a link's target is: its own owner, or where it is missing, the owner
// of the folder it would be made in. -1 when neither can be told.
uid_t owner_of_target(int folder, const std::string& target) {
    struct stat info {};
    if (::fstatat(folder, target.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return info.st_uid;
    }
    if (errno == ENOENT && ::fstatat(folder, directory_of(target).c_str(), &info, 0) == 0) {
        return info.st_uid;
    }
    return static_cast<uid_t>(-1);
}

// Where a write to a path lands: a folder, held open so that nothing can
// be swapped under us, and the last name in it, which is no link.
struct Write_Target {
    Descriptor folder;
    std::string name;
};

// Walks the path name by name, following links as the kernel would. Run as
// root, a link that belongs neither to root nor to the owner of what it
// points at is not followed: as the kernel does for links in shared folders,
// so that a user's link cannot steer root's write onto another's file.
// Gives "" or why the path cannot be written.
std::string find_write_target(const std::string& path, Write_Target& target) {
    std::deque<std::string> rest = names_in(path);
    if (rest.empty()) {
        return std::strerror(path.empty() ? ENOENT : EISDIR);
    }
    target.folder.reset(open_folder(AT_FDCWD, path[0] == '/' ? "/" : "."));
    const bool root = ::geteuid() == 0;
    for (int links = 0; target.folder.get() >= 0;) {
        std::string name = std::move(rest.front());
        rest.pop_front();
        struct stat info {};
        if (::fstatat(target.folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && rest.empty()) {
                target.name = std::move(name);
                return "";
            }
            return std::strerror(errno);
        }
        if (S_ISLNK(info.st_mode)) {
            if (++links > 40) {
                return std::strerror(ELOOP);
            }
            std::string link(PATH_MAX, '\0');
            ssize_t n = ::readlinkat(target.folder.get(), name.c_str(), link.data(), link.size());
            if (n <= 0 || static_cast<size_t>(n) >= link.size()) {
                return std::strerror(n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG);
            }
            link.resize(static_cast<size_t>(n));
            if (root && info.st_uid != 0 && info.st_uid != owner_of_target(target.folder.get(), link)) {
                errno = EACCES;
                return "it is a link to what its owner does not own";
            }
            std::deque<std::string> more = names_in(link);
            rest.insert(rest.begin(), more.begin(), more.end());
            if (link[0] == '/') {
                target.folder.reset(open_folder(AT_FDCWD, "/"));
            }
            if (rest.empty()) {
                return std::strerror(EISDIR);
            }
            continue;
        }
        if (rest.empty()) {
            target.name = std::move(name);
            return "";
        }
        target.folder.reset(open_folder(target.folder.get(), name.c_str()));
    }
    return std::strerror(errno);
}

// Run as root, a file or folder we made in another user's folder is theirs.
void give_to_owner_of(int folder, int made) {
    struct stat owner {};
    if (::geteuid() == 0 && ::fstat(folder, &owner) == 0 && owner.st_uid != 0) {
        (void)!::fchown(made, owner.st_uid, owner.st_gid);
    }
}

// Writes the new data over the file itself, for when no temporary file can
// take the file's place. A write that fails part way puts the old bytes
// back: they fit in the room the file already had.
std::string write_in_place(const Write_Target& target, const struct stat& expected, const std::string& data) {
    int fd = ::openat(target.folder.get(), target.name.c_str(),
                      O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat info {};
    std::string old;
    std::string failure;
    if (::fstat(fd, &info) != 0) {
        failure = std::strerror(errno);
    } else if (info.st_dev != expected.st_dev || info.st_ino != expected.st_ino) {
        failure = "the file changed while it was saved";
    } else {
        try {
            old.resize(static_cast<size_t>(info.st_size));
        } catch (const std::bad_alloc&) {
            failure = "out of memory";
        }
        ssize_t n = failure.empty() ? ::pread(fd, old.data(), old.size(), 0) : 0;
        if (failure.empty() && (n < 0 || static_cast<size_t>(n) != old.size())) {
            failure = n < 0 ? std::strerror(errno) : "the file changed while it was saved";
        }
    }
    auto write_at_start = [fd](const std::string& bytes) {
        errno = 0;
        return ::lseek(fd, 0, SEEK_SET) == 0 && write_all(fd, bytes) &&
               ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
    };
    if (failure.empty() && !write_at_start(data)) {
        failure = errno != 0 ? std::strerror(errno) : "the write failed";
        write_at_start(old);
    }
    ::close(fd);
    return failure;
}

// The access list of a file, where it has one, holds the real group
// permission and the users it names; the mode's group bits are then only its
// mask. The new file takes the old one's list, or none where it had none
// (a folder's default list would otherwise give it one). False where that
// cannot be made sure of: the file is then written in place.
constexpr const char* access_list = "system.posix_acl_access";

bool unsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

bool copy_access_list(const Write_Target& target, const struct stat& expected, int to) {
    // Read through the file itself where we may, else through its folder.
    Descriptor from(::openat(target.folder.get(), target.name.c_str(),
                             O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK));
    struct stat info {};
    if (from.get() >= 0 && (::fstat(from.get(), &info) != 0 || info.st_dev != expected.st_dev ||
                            info.st_ino != expected.st_ino)) {
        return false;
    }
    const std::string by_name =
        "/proc/self/fd/" + std::to_string(target.folder.get()) + "/" + target.name;
    auto read_list = [&](char* buffer, size_t room) {
        return from.get() >= 0 ? ::fgetxattr(from.get(), access_list, buffer, room)
                               : ::lgetxattr(by_name.c_str(), access_list, buffer, room);
    };
    std::string list;
    ssize_t size = read_list(nullptr, 0);
    if (size > 0) {
        list.resize(static_cast<size_t>(size));
        size = read_list(list.data(), list.size());  // one that grew meanwhile fails
    }
    if (size < 0) {
        if (errno != ENODATA && !unsupported(errno)) {
            return false;
        }
        return ::fremovexattr(to, access_list) == 0 || errno == ENODATA || unsupported(errno);
    }
    return ::fsetxattr(to, access_list, list.data(), static_cast<size_t>(size), 0) == 0;
}

}  // namespace

std::string replace_file(const std::string& requested_path, const std::string& data, Sync sync) {
    const Signals_Held held;
    Write_Target target;
    if (std::string failure = find_write_target(requested_path, target); !failure.empty()) {
        return failure;
    }
    const int folder = target.folder.get();
    const char* name = target.name.c_str();
    struct stat info {};
    bool existed = ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!existed && errno != ENOENT) {
        return std::strerror(errno);
    }
    if (existed && !S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    if (existed && ((info.st_mode & 0222) == 0 || ::faccessat(folder, name, W_OK, AT_EACCESS) != 0)) {
        return "the file is read-only";
    }

    // While it is written, the new file is ours alone: the old one may be
    // readable by fewer than the umask would let read a new file.
    std::string temp;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && file.get() < 0; ++attempt) {
        temp = target.name + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        file.reset(::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? 0600 : 0666));
        if (file.get() < 0 && errno != EEXIST) {
            // A folder we may not write: the file itself may still be.
            return existed ? write_in_place(target, info, data) : std::strerror(errno);
        }
    }
    if (file.get() < 0) {
        return "no free name for a temporary file";
    }
    // The new file takes the old one's owner and group. Where it cannot
    // (another user's file), the file is written in place instead.
    struct stat made {};
    if (existed && (::fstat(file.get(), &made) != 0 ||
                    ((made.st_uid != info.st_uid || made.st_gid != info.st_gid) &&
                     ::fchown(file.get(), info.st_uid, info.st_gid) != 0))) {
        file.reset(-1);
        ::unlinkat(folder, temp.c_str(), 0);
        return write_in_place(target, info, data);
    }
    if (!existed) {
        give_to_owner_of(folder, file.get());
    }
    errno = 0;
    bool ok = write_all(file.get(), data);
    if (ok && existed && !copy_access_list(target, info, file.get())) {
        file.reset(-1);
        ::unlinkat(folder, temp.c_str(), 0);
        return write_in_place(target, info, data);
    }
    if (ok && existed) {
        ok = ::fchmod(file.get(), info.st_mode & 07777) == 0;
    }
    ok = ok && (sync == Sync::Unsynced || ::fsync(file.get()) == 0);
    int error = errno;
    if (::close(file.release()) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::renameat(folder, temp.c_str(), folder, name) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlinkat(folder, temp.c_str(), 0);
        return error != 0 ? std::strerror(error) : "the write failed";
    }
    if (sync == Sync::Synced) {
        ::fsync(folder);
    }
    return "";
}

int open_for_writing(const std::string& path, int flags, mode_t mode) {
    Write_Target target;
    if (!find_write_target(path, target).empty()) {
        return -1;
    }
    flags |= O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    // Made here or found here: only a file we made changes its owner.
    Descriptor file;
    if ((flags & O_CREAT) != 0) {
        file.reset(::openat(target.folder.get(), target.name.c_str(), (flags & ~O_TRUNC) | O_EXCL, mode));
    }
    const bool made = file.get() >= 0;
    if (!made && ((flags & O_CREAT) == 0 || errno == EEXIST)) {
        file.reset(::openat(target.folder.get(), target.name.c_str(), flags & ~O_CREAT));
    }
    if (file.get() < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        errno = EINVAL;  // never a FIFO or device: writing there may block for good
        return -1;
    }
    if (made) {
        give_to_owner_of(target.folder.get(), file.get());
    }
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    return file.release();
}

void give_to_folder_owner(const std::string& path) {
    struct stat owner {};
    if (::geteuid() == 0 && ::stat(directory_of(path).c_str(), &owner) == 0 && owner.st_uid != 0) {
        (void)!::lchown(path.c_str(), owner.st_uid, owner.st_gid);
    }
}
