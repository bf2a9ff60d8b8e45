// Emulator: its configuration file, path treatment, command line, screen
// shots, state sections and the letter-case fallback for its files.
#include <memory>

#include "catalogue_fixture.h"
#include "support/fileutil.h"

using Marvane::Emulator;
using Marvane::Game;

namespace {

class Emulator_Test : public Catalogue_Test {
protected:
    std::unique_ptr<Emulator> make(const std::string& keys, const std::string& extra = "",
                                   const std::string& prefix = "")
    {
        write_emulator("Emu", "name=Emu\nexecutable=mame\n" + keys, extra);
        return std::make_unique<Emulator>("Emu", prefix, nullptr);
    }
    // The first game of a ROM-list emulator listing the given ROM names.
    static Game* first_game(const Emulator& emu)
    {
        std::vector<Game*> games;
        emu.get_game_list(games);
        return games.empty() ? nullptr : games[0];
    }
};

}  // namespace

TEST_F(Emulator_Test, SectionAndKeysMatchIgnoringCase)
{
    write_file("config/Emu.cfg",
               "[EMULATOR]\nNAME=Big Name\nDESCRIPTION=Arcade\nEXECUTABLE=mame\nUSE_ROM_FILE=yes\n"
               "Pre_Command=before\nPOST_COMMAND=after\nGLOBAL_OPTIONS=-skip\n");
    Emulator emu("Emu", "", nullptr);
    EXPECT_EQ(emu.name(), "Big Name");
    EXPECT_EQ(emu.description(), "Arcade");
    EXPECT_EQ(emu.get_pre_command(), "before");
    EXPECT_EQ(emu.get_post_command(), "after");
    EXPECT_EQ(emu.global_options(), "-skip");
    EXPECT_TRUE(emu.use_rom_file());
    EXPECT_EQ(emu.config_directory(), "config");
    EXPECT_EQ(emu.config_name(), "Emu");
}

TEST_F(Emulator_Test, BooleansAreTrueOnlyForLowerCaseYes)
{
    auto emu = make("use_rom_file=Yes\nuse_extension=1\nuse_rom_directory=true\noptions_before_rom=yes\n");
    EXPECT_FALSE(emu->use_rom_file());
    EXPECT_FALSE(emu->use_extension());
    EXPECT_FALSE(emu->use_rom_directory());
    EXPECT_TRUE(emu->options_before_rom());
}

TEST_F(Emulator_Test, MissingNameOrExecutableMakesTheConfigurationInvalid)
{
    write_emulator("NoName", "executable=mame\n");
    EXPECT_THROW(Emulator("NoName", "", nullptr), Marvane::InvalidEmulatorConfig);
    write_emulator("NoExe", "name=X\nexecutable=\n");
    EXPECT_THROW(Emulator("NoExe", "", nullptr), Marvane::InvalidEmulatorConfig);
    EXPECT_THROW(Emulator("Missing", "", nullptr), Marvane::InvalidEmulatorConfig);
    std::filesystem::create_directory("config/Dir.cfg");
    EXPECT_THROW(Emulator("Dir", "", nullptr), Marvane::InvalidEmulatorConfig);
}

TEST_F(Emulator_Test, InvalidEmulatorShowsItsListedName)
{
    Marvane::InvalidEmulator bad("Broken", nullptr);
    EXPECT_EQ(bad.name(), "Invalid Configuration");
    EXPECT_EQ(bad.description(), "(Broken)");
    EXPECT_EQ(bad.number_of_games(), 0u);
    EXPECT_EQ(bad.config_name(), "");
    EXPECT_EQ(bad.get_selected_index(), 0u);
}

TEST_F(Emulator_Test, DirectoriesArePrefixedUnlessAbsolute)
{
    EXPECT_EQ(make("directory=mame\n", "", "D:\\arcade\\")->directory(), "D:\\arcade\\mame");
    EXPECT_EQ(make("directory=C:\\mame\n", "", "D:\\arcade\\")->directory(), "C:\\mame");
    EXPECT_EQ(make("directory=\\mame\n", "", "D:\\arcade\\")->directory(), "\\mame");
    EXPECT_EQ(make("directory=/mame\n", "", "/opt/")->directory(), "/mame");
    // Empty and absent keys both keep the default ".", then prefixed.
    EXPECT_EQ(make("directory=\n", "", "/opt/")->directory(), "/opt/.");
    EXPECT_EQ(make("", "", "/opt/")->directory(), "/opt/.");
    EXPECT_EQ(make("screen_shot_directory=shots\n", "", "/opt/")->screen_shot_directory(), "/opt/shots");
}

TEST_F(Emulator_Test, RomDirectoryEndsInTheHostSeparatorAndUsesItThroughout)
{
    EXPECT_EQ(make("rom_directory=roms/neo\n")->rom_directory(), "roms/neo/");
    EXPECT_EQ(make("")->rom_directory(), "./");
    EXPECT_EQ(make("rom_directory=C:/emu/roms/\n")->rom_directory(), "C:/emu/roms/");
    EXPECT_EQ(make("rom_directory=C:\\emu\\roms\\\n")->rom_directory(), "C:/emu/roms/");
    EXPECT_EQ(make("rom_directory=roms\\neo\n", "", "base/")->rom_directory(), "base/roms/neo/");
    // ROM-list emulators read it too, so use_rom_directory has a real directory.
    auto listed = make("use_rom_file=yes\nrom_directory=roms\n");
    EXPECT_EQ(listed->rom_directory(), "roms/");
    EXPECT_FALSE(listed->is_valid_extension("zip"));
}

TEST_F(Emulator_Test, CommandLineKeepsItsBlanks)
{
    write_file("config/Emu.rom", "pacman\n");
    auto after = make("use_rom_file=yes\n");
    EXPECT_EQ(after->get_command_to_run(first_game(*after)), "mame pacman  ");
    auto before = make("use_rom_file=yes\noptions_before_rom=yes\n");
    EXPECT_EQ(before->get_command_to_run(first_game(*before)), "mame   pacman");
}

// The batch file runs the command after "cd" to the emulator's directory, and
// the shell looks a bare name up on PATH only: the emulator's own program
// there must be named with its directory.
TEST_F(Emulator_Test, BareExecutableFoundInTheEmulatorDirectoryRunsFromThere)
{
    write_file("config/Emu.rom", "pacman\n");
    auto absent = make("use_rom_file=yes\ndirectory=emu\n");
    EXPECT_EQ(absent->get_command_to_run(first_game(*absent)), "mame pacman  ") << "left to PATH";
    std::filesystem::create_directories("emu/mame");
    auto folder = make("use_rom_file=yes\ndirectory=emu\n");
    EXPECT_EQ(folder->get_command_to_run(first_game(*folder)), "mame pacman  ") << "a directory is no program";
    std::filesystem::remove("emu/mame");
    write_file("emu/mame", "");
    auto local = make("use_rom_file=yes\ndirectory=emu\n");
    EXPECT_EQ(local->get_command_to_run(first_game(*local)), "./mame pacman  ");
    auto before = make("use_rom_file=yes\ndirectory=emu\noptions_before_rom=yes\n");
    EXPECT_EQ(before->get_command_to_run(first_game(*before)), "./mame   pacman");
    write_file("base/emu/mame", "");
    auto prefixed = make("use_rom_file=yes\ndirectory=emu\n", "", "base/");
    EXPECT_EQ(prefixed->get_command_to_run(first_game(*prefixed)), "./mame pacman  ");
    write_file("games/emu/mame", "");
    auto backslashed = make("use_rom_file=yes\ndirectory=games\\emu\n");
    EXPECT_EQ(backslashed->get_command_to_run(first_game(*backslashed)), "./mame pacman  ");
    // The default directory is the front-end's own.
    write_file("mame", "");
    auto here = make("use_rom_file=yes\n");
    EXPECT_EQ(here->get_command_to_run(first_game(*here)), "./mame pacman  ");

    // A name with a directory stays as written.
    write_file("emu/bin/mame", "");
    write_emulator("Path", "name=P\nexecutable=bin/mame\nuse_rom_file=yes\ndirectory=emu\n");
    write_file("config/Path.rom", "pacman\n");
    Emulator path("Path", "", nullptr);
    EXPECT_EQ(path.get_command_to_run(first_game(path)), "bin/mame pacman  ");
    write_emulator("Abs", "name=A\nexecutable=" + (dir / "emu/mame").string() + "\nuse_rom_file=yes\ndirectory=emu\n");
    write_file("config/Abs.rom", "pacman\n");
    Emulator absolute("Abs", "", nullptr);
    EXPECT_EQ(absolute.get_command_to_run(first_game(absolute)), (dir / "emu/mame").string() + " pacman  ");
}

TEST_F(Emulator_Test, PerGameOptionsComeAfterTheGlobalOnes)
{
    write_file("config/Emu.rom", "pacman galaga\n");
    auto emu = make("use_rom_file=yes\nglobal_options=-skip\n", "[Options]\nPACMAN=-nosound\n");
    std::vector<Game*> games;
    emu->get_game_list(games);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(emu->get_command_to_run(games[1]), "mame pacman -skip -nosound");
    EXPECT_EQ(emu->get_command_to_run(games[0]), "mame galaga -skip ");
    auto first = make("use_rom_file=yes\nglobal_options=-skip\noptions_before_rom=yes\n",
                      "[options]\npacman=-nosound\n");
    first->get_game_list(games);
    EXPECT_EQ(first->get_command_to_run(games[1]), "mame -skip -nosound pacman");
}

TEST_F(Emulator_Test, ScannedRomPathWithBlanksIsDoubleQuoted)
{
    write_file("My Roms/pacman.zip", "");
    auto emu = make("rom_extension=zip\nrom_directory=My Roms\nuse_extension=yes\nuse_rom_directory=yes\n");
    EXPECT_EQ(emu->get_command_to_run(first_game(*emu)), "mame \"My Roms/pacman.zip\"  ");
    auto bare = make("rom_extension=zip\nrom_directory=My Roms\nuse_extension=yes\n");
    EXPECT_EQ(bare->get_command_to_run(first_game(*bare)), "mame pacman.zip  ");
    auto no_ext = make("rom_extension=zip\nrom_directory=My Roms\n");
    EXPECT_EQ(no_ext->get_command_to_run(first_game(*no_ext)), "mame pacman  ");
}

TEST_F(Emulator_Test, RomListGamesNeverGetAnExtension)
{
    write_file("config/Emu.rom", "pacman\n");
    auto emu = make("use_rom_file=yes\nuse_extension=yes\nuse_rom_directory=yes\nrom_directory=roms\n");
    EXPECT_EQ(emu->get_command_to_run(first_game(*emu)), "mame roms/pacman  ");
}

TEST(Quote_Rom_Path, QuotesOnlyWhatTheShellWouldRead)
{
    EXPECT_EQ(Marvane::quote_rom_path("roms/pac-man_1.2,v+x@y%z=w:q.zip"), "roms/pac-man_1.2,v+x@y%z=w:q.zip");
    EXPECT_EQ(Marvane::quote_rom_path("My Roms/a b.zip"), "\"My Roms/a b.zip\"");
    EXPECT_EQ(Marvane::quote_rom_path("a;b.zip"), "'a;b.zip'");
    EXPECT_EQ(Marvane::quote_rom_path("My Roms/$x.zip"), "'My Roms/$x.zip'");
    EXPECT_EQ(Marvane::quote_rom_path("x'y.zip"), "'x'\\''y.zip'");
    EXPECT_EQ(Marvane::quote_rom_path(""), "");
}

TEST_F(Emulator_Test, ScreenShotsAreTriedPcxPngBmpJpg)
{
    write_file("config/Emu.rom", "pacman\n");
    auto emu = make("use_rom_file=yes\nscreen_shot_directory=shots\n");
    Game* game = first_game(*emu);
    EXPECT_EQ(emu->get_screen_shot_file_name(game), "");
    write_file("shots/pacman.jpg", "");
    EXPECT_EQ(emu->get_screen_shot_file_name(game), "shots/pacman.jpg");
    write_file("shots/pacman.bmp", "");
    EXPECT_EQ(emu->get_screen_shot_file_name(game), "shots/pacman.bmp");
    write_file("shots/pacman.png", "");
    EXPECT_EQ(emu->get_screen_shot_file_name(game), "shots/pacman.png");
    write_file("shots/pacman.pcx", "");
    EXPECT_EQ(emu->get_screen_shot_file_name(game), "shots/pacman.pcx");
}

TEST_F(Emulator_Test, ScreenShotIgnoresTheScannedExtension)
{
    write_file("roms/pacman.zip", "");
    write_file("shots/pacman.png", "");
    auto emu = make("rom_extension=zip\nrom_directory=roms\nscreen_shot_directory=shots\n");
    EXPECT_EQ(emu->get_screen_shot_file_name(first_game(*emu)), "shots/pacman.png");
}

TEST_F(Emulator_Test, GeneratorFilesInLowerCaseServeTheListedName)
{
    write_file("config/mame.cfg", "[EMULATOR]\nname=MAME\nexecutable=mame\nuse_rom_file=yes\nmap_file=MAME.map\n");
    write_file("config/mame.rom", "pacman\n");
    write_file("config/mame.map", "pacman \"Pac-Man\"\n");
    Emulator emu("MAME", "", nullptr);
    EXPECT_EQ(emu.name(), "MAME");
    EXPECT_EQ(full_names(emu), "Pac-Man");
}

TEST_F(Emulator_Test, ExactCaseWinsOverTheFallback)
{
    write_file("config/neo.rom", "wrong\n");
    write_file("config/Neo.rom", "right\n");
    write_emulator("Neo", "name=Neo\nexecutable=neo\nuse_rom_file=yes\n");
    Emulator emu("Neo", "", nullptr);
    EXPECT_EQ(full_names(emu), "right");
}

TEST_F(Emulator_Test, StateSectionIsTheConfigurationNameIgnoringCase)
{
    write_emulator("Neo", "name=Neo\nexecutable=neo\nuse_rom_file=yes\n");
    write_emulator("NEO", "name=Neo\nexecutable=neo\nuse_rom_file=yes\n");
    Config_File state("marvo.sta");
    Emulator first("Neo", "", nullptr);
    first.set_selected_index(5);
    first.set_first_shown_index(3);
    first.save_state(&state);
    Emulator second("NEO", "", nullptr);
    second.restore_state(&state);
    EXPECT_EQ(second.get_selected_index(), 5u);
    EXPECT_EQ(second.get_first_shown_index(), 3u);
    // Absent keys read as 0.
    Emulator other("Neo", "", nullptr);
    Config_File empty("none.sta");
    other.set_selected_index(9);
    other.restore_state(&empty);
    EXPECT_EQ(other.get_selected_index(), 0u);
}

TEST_F(Emulator_Test, InvalidEmulatorWritesNoState)
{
    write_file("marvo.sta", "[Main]\ncurrent_emu=1\n");
    Config_File state("marvo.sta");
    Marvane::InvalidEmulator bad("Broken", nullptr);
    bad.save_state(&state);
    EXPECT_EQ(read_file("marvo.sta"), "[Main]\ncurrent_emu=1\n");
}
