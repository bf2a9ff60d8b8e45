#include "support/savefile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include <fcntl.h>
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

std::string replace_file(const std::string& requested_path, const std::string& data) {
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
            return std::strerror(errno);
        }
    }
    if (fd < 0) {
        return "no free name for a temporary file";
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
