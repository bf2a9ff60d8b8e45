// Runs the path helpers on arbitrary names and checks how their results
// relate to the name.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "support/fileutil.h"
#include "fuzz/scratch_dir.h"

namespace {

void check(bool condition) {
    if (!condition) {
        abort();
    }
}

// A directory of our own with a few files, removed when the fuzzer exits.
std::string scratch_dir() {
    static fuzz::Scratch_Dir scratch("paths");
    static const bool seeded = [] {
        for (const char* name : {"mame.rom", "Mame.cfg", "MAME.map", "a b.txt"}) {
            std::ofstream(scratch.path + "/" + name) << "x";
        }
        return true;
    }();
    check(seeded);
    return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);

    std::string base, ext;
    split_extension(name, base, ext);
    check(base == remove_extension(name));
    check(base == name ? ext.empty() : base + "." + ext == name);
    std::string extension = get_extension(name);
    check(extension.empty() || name.size() >= extension.size() + 1);
    check(extension.empty() || extension == ext);

    std::string path = name;
    fix_filename_slashes(path);
    check(path.size() == name.size() && path.find('\\') == std::string::npos);
    add_backslash(path);
    check(!path.empty() && (path.back() == '/' || path.back() == '\\'));

    std::string quoted = name;
    quote_long_file_name(quoted);
    check(quoted == name || quoted == "\"" + name + "\"");
    is_absolute_path(name);

    // File lookups stay inside a directory of our own.
    std::string inside = name.substr(0, 200);
    for (char& c : inside) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    const std::string wanted = scratch_dir() + "/" + inside;
    const std::string resolved = resolve_file_name_case(wanted);
    check(resolved == wanted || access(resolved.c_str(), F_OK) == 0);
    file_exists(wanted);
    directory_exists(wanted);
    file_size(wanted);
    return 0;
}
