// The map file: any bytes load into full names for a fixed ROM list.
#include <cstring>

#include "fuzz/catalogue_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    catalogue_fuzz::enter_scratch_directory();
    static bool ready = false;
    if (!ready) {
        catalogue_fuzz::write_text("config/Map.cfg",
                                   "[Emulator]\nname=Map\nexecutable=emu\nuse_rom_file=yes\nmap_file=map.txt\n");
        catalogue_fuzz::write_text("config/Map.rom", "pacman galaga a b c dkong mspac 1942 x\n");
        ready = true;
    }
    catalogue_fuzz::write_file("config/map.txt", data, size);
    Marvane::Emulator emu("Map", "", nullptr);
    if (emu.number_of_games() == 0)
        std::abort();  // the ROM list alone gives games, whatever the map says
    catalogue_fuzz::check_emulator(emu);
    return 0;
}
