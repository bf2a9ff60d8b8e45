// What a run writes is what the front-end's catalogue reads: the generated
// output directory serves as the front-end's "config" directory.

#include "run_fixture.h"

#include <unistd.h>

#include "catalogue/emulator.h"

using namespace generator_test;
using Marvane::Run_Option;
using Marvane::Run_Text;

namespace {

std::vector<std::string> games_of(const Marvane::Emulator& emulator)
{
    std::vector<Marvane::Game*> games;
    emulator.get_game_list(games);
    std::vector<std::string> lines;
    for (const Marvane::Game* game : games)
        lines.push_back(game->get_rom_name() + "=" + game->get_full_name());
    return lines;
}

}  // namespace

TEST_F(Generator_Run, FrontEndReadsTheGeneratedCatalogue)
{
    const fs::path config = root / "config";
    fs::create_directory(config);
    host.fields[Run_Text::TXT_OUTPUT] = config.string();
    set(Run_Option::Chk_Cat);
    write_file(root / "catver.ini", "[Category]\npacman=Maze / Collect\nmrdo=Maze / Collect\n"
                                    "galaga=Shooter\n");
    run();
    ASSERT_EQ(host.messages, std::vector<std::string>{"Completed!!|Tovan Marvane tools"});
    ASSERT_EQ(::chdir(root.c_str()), 0);

    // "MAME.cfg" names "mame.map"; its ROM list "MAME.rom" is found as
    // "mame.rom", since file names meet ignoring case.
    Marvane::Emulator all("MAME", "", nullptr);
    EXPECT_EQ(all.name(), "Mame Arcade Games");
    EXPECT_EQ(all.description(), "All Games");
    EXPECT_EQ(all.executable(), "mame");
    EXPECT_TRUE(fs::equivalent(all.directory(), mame));
    EXPECT_TRUE(fs::equivalent(all.rom_directory(), roms));
    EXPECT_TRUE(fs::equivalent(all.screen_shot_directory(), snap));
    EXPECT_TRUE(all.use_rom_file());
    EXPECT_EQ(games_of(all),
              (std::vector<std::string>{"galaga=Galaga (Namco rev. B)", "mrdo=Mr. Do!",
                                        "pacman=Pac-Man (Midway)",
                                        "puckman=PuckMan (Japan set 1)",
                                        "sf2=Street Fighter II: The World Warrior"}));

    // A category keeps its blank before the dot, in the name listed too.
    Marvane::Emulator maze("Maze ", "", nullptr);
    EXPECT_EQ(maze.description(), "Maze  Games");
    EXPECT_EQ(games_of(maze),
              (std::vector<std::string>{"mrdo=Mr. Do!", "pacman=Pac-Man (Midway)"}));
}
