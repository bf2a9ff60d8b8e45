#pragma once
// Every catalogue test runs in a fresh scratch directory that becomes the
// working directory, since emulators find their files under "config/".
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "catalogue/emulator.h"
#include "support/scratch_dir.h"

class Catalogue_Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = make_scratch_dir("catalogue");
        old_dir = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        std::filesystem::create_directory("config");
    }
    void TearDown() override
    {
        std::filesystem::current_path(old_dir);
        std::filesystem::remove_all(dir);
    }

    static void write_file(const std::string& path, const std::string& text)
    {
        std::filesystem::path p(path);
        if (p.has_parent_path())
            std::filesystem::create_directories(p.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    static std::string read_file(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // config/NAME.cfg with section [Emulator] holding the given key lines.
    static void write_emulator(const std::string& name, const std::string& keys,
                               const std::string& extra = "")
    {
        write_file("config/" + name + ".cfg", "[Emulator]\n" + keys + extra);
    }
    // One field of the emulator's games in menu order, joined by '|'.
    static std::string joined(const Marvane::Emulator& emu, std::string (Marvane::Game::*field)() const)
    {
        std::vector<Marvane::Game*> games;
        emu.get_game_list(games);
        std::string out;
        for (size_t i = 0; i < games.size(); ++i) {
            if (i)
                out += '|';
            out += (games[i]->*field)();
        }
        return out;
    }
    static std::string full_names(const Marvane::Emulator& emu)
    {
        return joined(emu, &Marvane::Game::get_full_name);
    }

    std::filesystem::path dir;
    std::filesystem::path old_dir;
};
