// ROM file names that hold shell syntax must reach the emulator as one word
// naming the file: each command line's ROM path is handed to /bin/sh.
#include <cstdio>
#include <memory>

#include "catalogue_fixture.h"

using Marvane::Emulator;
using Marvane::Game;

namespace {

// What /bin/sh makes of `printf "%s\n" WORDS`: one output line per word.
std::string shell_words(const std::string& words)
{
    const std::string script = "printf '%s\\n' " + words;
    std::string quoted = "'";
    for (char c : script)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    FILE* pipe = popen(("/bin/sh -c " + quoted).c_str(), "r");
    if (!pipe)
        return "<popen failed>";
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

class Shell_Quote_Test : public Catalogue_Test {};

}  // namespace

TEST_F(Shell_Quote_Test, EveryRomPathIsOneShellWordNamingTheFile)
{
    const std::vector<std::string> names = {"a;reboot.zip", "$(id).zip", "x'y.zip", "`id`.zip",
                                            "a b.zip", "p|q&r>s.zip", "*.zip", "\"dq\".zip",
                                            "back\\slash.zip", "tab\there.zip", "#hash.zip"};
    for (const std::string& name : names)
        write_file("My Roms/" + name, "");
    write_emulator("Emu", "name=Emu\nexecutable=emu\nrom_extension=zip\nrom_directory=My Roms\n"
                          "use_extension=yes\nuse_rom_directory=yes\n");
    Emulator emu("Emu", "", nullptr);
    std::vector<Game*> games;
    emu.get_game_list(games);
    ASSERT_EQ(games.size(), names.size());
    for (Game* game : games) {
        const std::string command = emu.get_command_to_run(game);
        const std::string file = "My Roms/" + game->get_rom_name() + ".zip";
        // "emu " + path + " " + " ": the path is what lies between.
        ASSERT_EQ(command.substr(0, 4), "emu ");
        ASSERT_EQ(command.substr(command.size() - 2), "  ");
        const std::string path = command.substr(4, command.size() - 6);
        EXPECT_EQ(shell_words(path), file + "\n") << command;
        EXPECT_TRUE(std::filesystem::exists(file));
    }
}

TEST_F(Shell_Quote_Test, BareNamesAreSingleWordsToo)
{
    for (const char* name : {"a;reboot.zip", "$(id).zip", "x'y.zip"})
        write_file(std::string("roms/") + name, "");
    write_emulator("Emu", "name=Emu\nexecutable=emu\nrom_extension=zip\nrom_directory=roms\nuse_extension=yes\n");
    Emulator emu("Emu", "", nullptr);
    std::vector<Game*> games;
    emu.get_game_list(games);
    ASSERT_EQ(games.size(), 3u);
    EXPECT_EQ(emu.get_command_to_run(games[0]), "emu '$(id).zip'  ");
    EXPECT_EQ(emu.get_command_to_run(games[1]), "emu 'a;reboot.zip'  ");
    EXPECT_EQ(emu.get_command_to_run(games[2]), "emu 'x'\\''y.zip'  ");
    for (Game* game : games) {
        const std::string command = emu.get_command_to_run(game);
        EXPECT_EQ(shell_words(command.substr(4, command.size() - 6)), game->get_rom_name() + ".zip\n");
    }
}
