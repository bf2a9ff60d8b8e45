// Feeds arbitrary bytes to marvolist as its "Config.ini", saves what it read
// and checks that saving keeps the values it read and is stable.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "generator/settings.h"
#include "fuzz/scratch_dir.h"

namespace {

std::string scratch_file() {
    static fuzz::Scratch_Dir scratch("settings");
    return scratch.path + "/Config.ini";
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool same_saved_values(const Marvane::Generator_Settings& a, const Marvane::Generator_Settings& b) {
    return a.rom_path == b.rom_path && a.snap_path == b.snap_path && a.mame_exe == b.mame_exe &&
           a.catver_path == b.catver_path && a.filter == b.filter &&
           a.cat_enabled == b.cat_enabled && a.filter_enabled == b.filter_enabled &&
           a.output_dir == b.output_dir && a.buttons == b.buttons && a.working == b.working &&
           a.snap == b.snap && a.rom == b.rom && a.verify == b.verify;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = scratch_file();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const Marvane::Generator_Settings first = Marvane::read_settings(path);
    if (!Marvane::write_settings(path, first)) {
        abort();
    }
    const std::string once = contents(path);
    if (!same_saved_values(Marvane::read_settings(path), first)) {
        abort();
    }
    if (!Marvane::write_settings(path, first) || contents(path) != once) {
        abort();
    }
    return 0;
}
