// A private temporary directory for one test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

// Makes "marvo-TAG-XXXXXX" under $TMPDIR, or /tmp where that is not set,
// and gives its path.
inline std::string make_scratch_dir(const std::string& tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("marvo-" + tag + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    return pattern;
}

class Scratch_Dir {
public:
    explicit Scratch_Dir(const std::string& tag = "test") : path_(make_scratch_dir(tag)) {}
    ~Scratch_Dir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    Scratch_Dir(const Scratch_Dir&) = delete;
    Scratch_Dir& operator=(const Scratch_Dir&) = delete;

    // The full path of a name inside the directory.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A scratch directory that is the working directory while it lives.
class Entered_Scratch_Dir : public Scratch_Dir {
public:
    explicit Entered_Scratch_Dir(const std::string& tag)
        : Scratch_Dir(tag), left_(std::filesystem::current_path()) {
        std::filesystem::current_path(path());
    }
    ~Entered_Scratch_Dir() {
        std::error_code ignored;
        std::filesystem::current_path(left_, ignored);
    }

private:
    std::filesystem::path left_;
};

inline void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool path_exists(const std::string& path) { return std::filesystem::exists(path); }
