#include "support/savefile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool write_all(int fd, const std::string& data) {
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

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows the links at `path` to what a write through them would reach,
// which may be missing. False (errno set) for a loop or an unreadable link.
bool follow_links(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        std::string target(PATH_MAX, '\0');
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            return false;
        }
        if (static_cast<size_t>(n) >= target.size()) {
            errno = ENAMETOOLONG;
            return false;
        }
        target.resize(static_cast<size_t>(n));
        path = !target.empty() && target[0] == '/' ? target : directory_of(path) + "/" + target;
    }
    errno = ELOOP;
    return false;
}

}  // namespace

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

namespace {

// Blocks every signal that could end the process part way through a save
// (a second SIGTERM, SIGXFSZ, ...); what comes meanwhile lands once the save
// is over. Faults raised by our own code stay deliverable.
class Signals_Held {
public:
    Signals_Held() {
        sigset_t all;
        sigfillset(&all);
        for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
            sigdelset(&all, fault);
        }
        ::pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    ~Signals_Held() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    Signals_Held(const Signals_Held&) = delete;
    Signals_Held& operator=(const Signals_Held&) = delete;

private:
    sigset_t saved_;
};

// Writes the new data over the file itself, for when no temporary file can
// take the file's place. A write that fails part way puts the old bytes
// back: they fit in the room the file already had.
std::string write_in_place(const std::string& path, const struct stat& expected, const std::string& data) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
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

}  // namespace

std::string replace_file(const std::string& requested_path, const std::string& data) {
    const Signals_Held held;
    std::string path = requested_path;
    if (!follow_links(path)) {
        return std::strerror(errno);
    }
    struct stat info {};
    bool existed = ::lstat(path.c_str(), &info) == 0;
    if (!existed && errno != ENOENT) {
        return std::strerror(errno);
    }
    if (existed && !S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    if (existed && ((info.st_mode & 0222) == 0 ||
                    ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)) {
        return "the file is read-only";
    }

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            // A folder we may not write: the file itself may still be.
            return existed ? write_in_place(path, info, data) : std::strerror(errno);
        }
    }
    if (fd < 0) {
        return "no free name for a temporary file";
    }
    // The new file takes the old one's owner, group and mode. Where it
    // cannot (another user's file), the file is written in place instead.
    struct stat made {};
    if (existed && (::fstat(fd, &made) != 0 ||
                    ((made.st_uid != info.st_uid || made.st_gid != info.st_gid) &&
                     ::fchown(fd, info.st_uid, info.st_gid) != 0))) {
        ::close(fd);
        ::unlink(temp.c_str());
        return write_in_place(path, info, data);
    }
    errno = 0;
    bool ok = write_all(fd, data);
    if (ok && existed) {
        ok = ::fchmod(fd, info.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return error != 0 ? std::strerror(error) : "the write failed";
    }
    int dir = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return "";
}
