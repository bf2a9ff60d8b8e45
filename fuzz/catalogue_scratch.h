#pragma once
// Scratch directory for the catalogue fuzzers: emulators read their files
// from "config/" below the working directory, so each fuzzer works in a
// private directory that is removed at exit.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/emulator.h"

namespace catalogue_fuzz {

inline void enter_scratch_directory()
{
    static std::filesystem::path dir;
    if (!dir.empty())
        return;
    char pattern[] = "/tmp/marvo-fuzz-catalogue-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    dir = pattern;
    std::filesystem::current_path(dir);
    std::filesystem::create_directory("config");
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::current_path("/", ignored);
        std::filesystem::remove_all(dir, ignored);
    });
}

inline void write_file(const char* path, const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(path, "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}

inline void write_text(const char* path, const std::string& text)
{
    write_file(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// What must hold for any loaded emulator: the list is strictly ordered
// ignoring case, no ROM name holds a line break (the batch file could not
// carry it), and every game answers its questions.
inline void check_emulator(Marvane::Emulator& emu)
{
    std::vector<Marvane::Game*> games;
    emu.get_game_list(games);
    if (games.size() != emu.number_of_games())
        std::abort();
    Marvane::nocase_less less;
    for (size_t i = 0; i < games.size(); ++i) {
        if (i > 0 && !less(games[i - 1]->get_full_name(), games[i]->get_full_name()))
            std::abort();
        if (games[i]->get_rom_name().find_first_of("\r\n") != std::string::npos)
            std::abort();
        (void)emu.get_command_to_run(games[i]);
        (void)emu.get_screen_shot_file_name(games[i]);
    }
}

}  // namespace catalogue_fuzz
