#ifndef MARVO_FUZZ_GENERATOR_INPUT_H
#define MARVO_FUZZ_GENERATOR_INPUT_H

// Shared by the generator's fuzz targets: the fuzz input as a text file for
// the run's line reader, and a host that does nothing.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "generator/runhost.h"
#include "generator/textfile.h"

namespace fuzz_generator {

// Attaches the bytes to the reader as an open file; false for empty input.
inline bool attach_bytes(Functions::Text_Reader& reader, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::rewind(file);
    reader.attach(file, "fuzz input");
    return true;
}

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

struct Null_Host : Marvane::Run_Host {
    std::string field_text(Marvane::Run_Text) override { return {}; }
    void set_field_text(Marvane::Run_Text, const std::string&) override {}
    bool option_checked(Marvane::Run_Option) override { return false; }
    void set_progress(const std::string&) override {}
    void show_message(const std::string&, const std::string&) override {}
    void set_busy_cursor(bool) override {}
    void set_run_controls_enabled(bool) override {}
    void pump_messages() override {}
    void terminate_application() override {}
};

}  // namespace fuzz_generator

#endif
