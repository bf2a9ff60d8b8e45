#pragma once
// A private directory for a fuzz target, made on first use (in memory when
// /dev/shm is writable) and removed when the fuzzer exits.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

class Scratch_Dir {
public:
    explicit Scratch_Dir(const std::string& tag)
    {
        path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm/marvo-fuzz-" : "/tmp/marvo-fuzz-") + tag + "-XXXXXX";
        if (mkdtemp(path.data()) == nullptr)
            std::abort();
    }
    ~Scratch_Dir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    Scratch_Dir(const Scratch_Dir&) = delete;
    Scratch_Dir& operator=(const Scratch_Dir&) = delete;

    std::string path;
};

}  // namespace fuzz
