// The ROM list file: any bytes give games whose ROM names are single words.
#include "fuzz/catalogue_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    catalogue_fuzz::enter_scratch_directory();
    static bool ready = false;
    if (!ready) {
        catalogue_fuzz::write_text("config/Rom.cfg",
                                   "[Emulator]\nname=Rom\nexecutable=emu\nuse_rom_file=yes\nmap_file=rom.map\n"
                                   "use_rom_directory=yes\nrom_directory=my roms\n");
        catalogue_fuzz::write_text("config/rom.map", "a \"Alpha\"\nb \"alpha\"\nc \"\"\npacman \"Pac-Man\"\n");
        ready = true;
    }
    catalogue_fuzz::write_file("config/Rom.rom", data, size);
    Marvane::Emulator emu("Rom", "", nullptr);
    catalogue_fuzz::check_emulator(emu);
    std::vector<Marvane::Game*> games;
    emu.get_game_list(games);
    for (Marvane::Game* game : games) {
        const std::string rom = game->get_rom_name();
        if (rom.empty() || !game->get_extension().empty())
            std::abort();
        for (char c : rom)
            if (c == ' ' || (c >= '\t' && c <= '\r'))
                std::abort();
    }
    return 0;
}
