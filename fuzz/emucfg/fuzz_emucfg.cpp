// The emulator configuration file: any bytes give a usable emulator or
// InvalidEmulatorConfig, and a usable one answers for each of its games.
#include "fuzz/catalogue_scratch.h"
#include "support/fileutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    catalogue_fuzz::enter_scratch_directory();
    static bool ready = false;
    if (!ready) {
        // Whatever the file names as lists and directories, some exist.
        catalogue_fuzz::write_text("config/Cfg.rom", "pacman galaga x;y $(id)\n");
        catalogue_fuzz::write_text("config/map", "pacman \"Pac-Man\"\n");
        std::filesystem::create_directory("roms");
        for (const char* f : {"roms/a.zip", "roms/b c.7z", "roms/x'y.zip", "roms/d", "roms/line\nbreak.zip"})
            catalogue_fuzz::write_text(f, "");
        ready = true;
    }
    catalogue_fuzz::write_file("config/Cfg.cfg", data, size);
    try {
        Marvane::Emulator emu("Cfg", "pre/", nullptr);
        if (emu.name().empty() || emu.executable().empty())
            std::abort();
        catalogue_fuzz::check_emulator(emu);
        Config_File state("state.sta");
        emu.set_selected_index(3);
        emu.save_state(&state);
        emu.restore_state(&state);
        if (emu.get_selected_index() != 3)
            std::abort();
    } catch (const Marvane::InvalidEmulatorConfig&) {
    }
    return 0;
}
