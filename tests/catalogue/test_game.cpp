// Game lists: the case-insensitive order, the map file, the ROM list file
// and the directory scan.
#include <sys/stat.h>

#include <memory>

#include "catalogue_fixture.h"
#include "support/logfile.h"

using Marvane::Emulator;
using Marvane::Game;
using Marvane::nocase_less;

namespace {

struct Counting_Listener : Marvane::Emulator_Listener {
    void poll_emulator_listener() override { ++polls; }
    int polls = 0;
};

class Game_List_Test : public Catalogue_Test {
protected:
    // Emulator "Lst" taking its games from config/Lst.rom and its full names
    // from config/lst.map.
    std::unique_ptr<Emulator> rom_list_emulator(const std::string& roms, const std::string& map,
                                                Marvane::Emulator_Listener* listener = nullptr)
    {
        write_emulator("Lst", "name=List\nexecutable=emu\nuse_rom_file=yes\nmap_file=lst.map\n");
        write_file("config/Lst.rom", roms);
        write_file("config/lst.map", map);
        return std::make_unique<Emulator>("Lst", "", listener);
    }
    std::unique_ptr<Emulator> scanning_emulator()
    {
        write_emulator("Scan", "name=Scan\nexecutable=emu\nrom_extension=zip 7z\nrom_directory=roms\n");
        return std::make_unique<Emulator>("Scan", "", nullptr);
    }
    static std::string rom_names(const Emulator& emu) { return joined(emu, &Game::get_rom_name); }
};

}  // namespace

TEST(Nocase_Less, OrdersIgnoringCaseWithPrefixesFirst)
{
    nocase_less less;
    EXPECT_TRUE(less("AB", "abc"));
    EXPECT_TRUE(less("abc", "ABCD"));
    EXPECT_FALSE(less("abc", "AB"));
    EXPECT_TRUE(less("apple", "Zoo"));
    EXPECT_FALSE(less("Zoo", "apple"));
    EXPECT_TRUE(less("", "a"));
    // Equal ignoring case: neither orders first.
    EXPECT_FALSE(less("pac-man", "Pac-Man"));
    EXPECT_FALSE(less("Pac-Man", "pac-man"));
    EXPECT_FALSE(less("zed", "ZED"));  // the last letter folds too
    EXPECT_FALSE(less("ZED", "zed"));
}

TEST(Nocase_Less, ComparesUpperCasedSignedBytes)
{
    nocase_less less;
    // Upper-casing puts letters before '_' (0x5F); lower-casing would not.
    EXPECT_TRUE(less("apple", "_under"));
    EXPECT_FALSE(less("_under", "apple"));
    // Bytes from 0x80 up are negative and come before every 7-bit character.
    EXPECT_TRUE(less("\xC9tude", "Aardvark"));
    EXPECT_TRUE(less("\xFF", " "));
    EXPECT_FALSE(less("Aardvark", "\xC9tude"));
    // They are no letters: 0xE1 is not 0xC1 folded, although 0x61 is 'a'.
    EXPECT_TRUE(less("\xC1", "\xE1"));
    // Non-letters are not folded: '[' (0x5B) and '{' (0x7B) stay apart.
    EXPECT_TRUE(less("[", "{"));
}

TEST_F(Game_List_Test, MapFileLinesFollowTheirForm)
{
    const std::string map =
        "  pacman   \"Pac-Man\"\n"
        "galaga junk \"Galaga\" tail\r\n"
        "digdug\"Dig Dug\"\n"       // no blank after the ROM name: skipped
        "frogger\n"                 // ROM name only: skipped
        "nothing \"\"\n"            // empty full name
        "lonely \"\n"               // only quote is the last character: skipped
        "dup \"First\"\n"
        "\n   \t\n"
        "dup \"Second\"\n"
        "Mspac \"Ms. Pac-Man\"\n"   // does not apply to mspac
        "noquote text\n";
    auto emu = rom_list_emulator("pacman galaga digdug frogger nothing lonely dup mspac noquote", map);
    EXPECT_EQ(full_names(*emu), "|digdug|frogger|Galaga|lonely|mspac|noquote|Pac-Man|Second");
}

TEST_F(Game_List_Test, LastMapLineWithoutLineFeedCounts)
{
    auto emu = rom_list_emulator("a", "a \"Alpha\"");
    EXPECT_EQ(full_names(*emu), "Alpha");
}

TEST_F(Game_List_Test, FullNamesEqualIgnoringCaseKeepTheLaterGame)
{
    auto emu = rom_list_emulator("zz aa bb", "aa \"pac-man\"\nbb \"Pac-Man\"\nzz \"Zed\"\n");
    std::vector<Game*> games;
    emu->get_game_list(games);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0]->get_rom_name(), "bb");
    EXPECT_EQ(games[0]->get_full_name(), "Pac-Man");
    EXPECT_EQ(games[1]->get_full_name(), "Zed");
    // The same ROM listed twice is also one game.
    auto twice = rom_list_emulator("a a", "");
    EXPECT_EQ(twice->number_of_games(), 1u);
}

TEST_F(Game_List_Test, RomListTokensSplitAtAnyWhiteSpace)
{
    EXPECT_EQ(rom_names(*rom_list_emulator("a b\nc\n", "")), "a|b|c");
    EXPECT_EQ(rom_names(*rom_list_emulator("\t x\r\ny\v\fz", "")), "x|y|z");
    EXPECT_EQ(rom_list_emulator("", "")->number_of_games(), 0u);
    EXPECT_EQ(rom_list_emulator("\n \n\t\n", "")->number_of_games(), 0u);
}

TEST_F(Game_List_Test, RomListGamesHaveNoExtension)
{
    auto emu = rom_list_emulator("pacman.zip", "");
    std::vector<Game*> games;
    emu->get_game_list(games);
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games[0]->get_rom_name(), "pacman.zip");
    EXPECT_EQ(games[0]->get_extension(), "");
}

TEST_F(Game_List_Test, ListsLongerThanOneReadBlockLoseNoWordAndNoLine)
{
    // 20 000 names cross the reader's block boundaries at many offsets.
    std::string roms, map;
    const char* seps[] = {" ", "\n", "\t", "  \r\n"};
    for (int i = 0; i < 20000; ++i) {
        char name[16];
        snprintf(name, sizeof name, "r%05d", i);
        roms += std::string(name) + seps[i % 4];
        map += std::string(name) + " \"Title " + name + "\"\n";
    }
    auto emu = rom_list_emulator(roms, map);
    std::vector<Game*> games;
    emu->get_game_list(games);
    ASSERT_EQ(games.size(), 20000u);
    for (int i = 0; i < 20000; ++i) {
        char name[16];
        snprintf(name, sizeof name, "r%05d", i);
        ASSERT_EQ(games[i]->get_rom_name(), name);
        ASSERT_EQ(games[i]->get_full_name(), std::string("Title ") + name);
    }
}

TEST_F(Game_List_Test, HugeLinesTokensAndNulBytesLoad)
{
    const std::string long_title(100000, 'x');
    const std::string long_token(10 * 1024 * 1024, 'r');
    std::string map = "big \"" + long_title + "\"\n" + std::string(100000, 'y') + "\n";
    map += std::string("nul\0x \"With NUL\"\n", 17);
    map += "ok \"Fine\"\n";
    std::string roms = long_token + "\nbig ok " + std::string("nul\0x", 5) + "\n";
    auto emu = rom_list_emulator(roms, map);
    std::vector<Game*> games;
    emu->get_game_list(games);
    ASSERT_EQ(games.size(), 4u);
    EXPECT_EQ(games[0]->get_full_name(), "Fine");
    EXPECT_EQ(games[1]->get_rom_name(), long_token);
    EXPECT_EQ(games[2]->get_full_name(), "With NUL");
    EXPECT_EQ(games[3]->get_full_name(), long_title);
}

TEST_F(Game_List_Test, MissingRomListLogsAnErrorAndLeavesNoGames)
{
    std::filesystem::create_directory("logs");
    LogFile::open_log_file("logs/marvo.log");
    write_emulator("Lst", "name=List\nexecutable=emu\nuse_rom_file=yes\n");
    Emulator emu("Lst", "", nullptr);
    EXPECT_EQ(emu.number_of_games(), 0u);
    EXPECT_EQ(emu.name(), "List");
    EXPECT_NE(read_file("logs/marvo.log").find("[Err ] Could not open ROM file: config/Lst.rom\n"),
              std::string::npos);
}

TEST_F(Game_List_Test, DirectoriesWhereListsBelongAreSkipped)
{
    std::filesystem::create_directory("logs");
    LogFile::open_log_file("logs/marvo.log");
    std::filesystem::create_directory("config/Lst.rom");
    std::filesystem::create_directory("config/lst.map");
    write_emulator("Lst", "name=List\nexecutable=emu\nuse_rom_file=yes\nmap_file=lst.map\n");
    Emulator emu("Lst", "", nullptr);
    EXPECT_EQ(emu.number_of_games(), 0u);
    EXPECT_NE(read_file("logs/marvo.log").find("Could not open ROM file: config/Lst.rom"), std::string::npos);
}

TEST_F(Game_List_Test, DirectoryScanTakesConfiguredExtensionsCaseSensitively)
{
    for (const char* f : {"a.zip", "b.7z", "c.ZIP", "d", "e.zip.bak", "x.y.zip", ".zip"})
        write_file(std::string("roms/") + f, "");
    std::filesystem::create_directory("roms/sub.7z");  // directories count alike
    auto emu = scanning_emulator();
    std::vector<Game*> games;
    emu->get_game_list(games);
    EXPECT_EQ(rom_names(*emu), "|a|b|sub|x.y");
    ASSERT_EQ(games.size(), 5u);
    EXPECT_EQ(games[1]->get_extension(), "zip");
    EXPECT_EQ(games[2]->get_extension(), "7z");
    EXPECT_EQ(games[4]->get_extension(), "zip");
    EXPECT_TRUE(emu->is_valid_extension("zip"));
    EXPECT_FALSE(emu->is_valid_extension("ZIP"));
    EXPECT_FALSE(emu->is_valid_extension(""));
}

TEST_F(Game_List_Test, EntriesWithLineBreaksAreNeverGames)
{
    // The batch file is line-based: such a name could not be handed over.
    for (const char* f : {"ok.zip", "line\nfeed.zip", "carriage\rreturn.zip", "end\n.zip", "\r.7z"})
        write_file(std::string("roms/") + f, "");
    std::filesystem::create_directory("roms/sub\ndir.7z");
    EXPECT_EQ(rom_names(*scanning_emulator()), "ok");
    // In a ROM list both are separators, so no token can hold them.
    EXPECT_EQ(rom_names(*rom_list_emulator("a\rb\nc", "")), "a|b|c");
}

TEST_F(Game_List_Test, EmptyExtensionTokenTakesNamesWithoutADotButNotTheDirectoryItself)
{
    for (const char* f : {"a.zip", "d", "e.7z"})
        write_file(std::string("roms/") + f, "");
    std::filesystem::create_directory("roms/unzipped");
    write_emulator("Bare", "name=Bare\nexecutable=emu\nrom_extension=zip \"\"\nrom_directory=roms\n");
    Emulator emu("Bare", "", nullptr);
    EXPECT_EQ(rom_names(emu), "a|d|unzipped");
}

TEST_F(Game_List_Test, MissingRomDirectoryGivesNoGames)
{
    auto emu = scanning_emulator();
    EXPECT_EQ(emu->number_of_games(), 0u);
}

TEST_F(Game_List_Test, RomListEmulatorAcceptsNoExtension)
{
    auto emu = rom_list_emulator("a", "");
    EXPECT_FALSE(emu->is_valid_extension("zip"));
    EXPECT_FALSE(emu->is_valid_extension(""));
}

TEST_F(Game_List_Test, ListenerIsPolledAfterSettingsEachMapEntryAndEachGame)
{
    Counting_Listener listener;
    auto emu = rom_list_emulator("a b", "a \"A\"\nbad\nb \"B\"\nc \"C\"\n", &listener);
    EXPECT_EQ(listener.polls, 1 + 3 + 2);
}

TEST_F(Game_List_Test, GetGameListOverwritesEarlierContents)
{
    auto emu = rom_list_emulator("b a", "");
    Game dummy("x", "x", "");
    std::vector<Game*> games(7, &dummy);
    emu->get_game_list(games);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0]->get_rom_name(), "a");
    EXPECT_EQ(games[1]->get_rom_name(), "b");
}

TEST_F(Game_List_Test, ListOrderMatchesNocaseLessForTrickyNames)
{
    // Long shared prefixes, case differences inside and after the first 16
    // bytes, bytes from 0x80 up, and names that end where others go on.
    const std::vector<std::string> titles = {
        "Street Fighter II (World)", "STREET FIGHTER II (world) 2", "street fighter ii", "Street Fighter",
        "Street Fighter II \x80", "Street Fighter II", "a\x80", "a", "A\x80\x80", "\x80", "", "_", "Z",
        "abcdefghijklmnop", "ABCDEFGHIJKLMNOPq", "abcdefghijklmnoP", "abcdefgh", "abcdefgh\x80\x80"};
    std::string roms, map;
    for (size_t i = 0; i < titles.size(); ++i) {
        std::string rom(1, 'r');
        rom += std::to_string(i);
        roms += rom + "\n";
        map += rom + " \"" + titles[i] + "\"\n";
    }
    auto emu = rom_list_emulator(roms, map);
    std::vector<Game*> games;
    emu->get_game_list(games);
    nocase_less less;
    for (size_t i = 1; i < games.size(); ++i)
        EXPECT_TRUE(less(games[i - 1]->get_full_name(), games[i]->get_full_name()))
            << i << ": " << games[i - 1]->get_full_name() << " / " << games[i]->get_full_name();
    // Equal ignoring case: "street fighter ii" and "Street Fighter II" are
    // one game, the later one.
    EXPECT_EQ(games.size(), titles.size() - 2);  // also "abcdefghijklmnop" ~ "abcdefghijklmnoP"
    for (Game* g : games) {
        if (less(g->get_full_name(), "STREET FIGHTER II") || less("STREET FIGHTER II", g->get_full_name()))
            continue;
        EXPECT_EQ(g->get_rom_name(), "r5");
    }
}

TEST_F(Game_List_Test, MapLookupTellsApartNamesWithOneLongPrefix)
{
    // The lookup orders by the first eight bytes first: names that share
    // them, a shorter one, one absent from the map and a repeated line.
    const std::string map = "abcdefgh2 \"Two\"\nabcdefgh \"Base\"\nabcdefgh1 \"One\"\n"
                            "abcdefgh2 \"Two again\"\nzz \"Last\"\nabcdefgi \"Next\"\n";
    auto emu = rom_list_emulator("abcdefgh1 abcdefgh abcdefgh15 abcdefgh2 abcdefgi aaa zz", map);
    EXPECT_EQ(full_names(*emu), "aaa|abcdefgh15|Base|Last|Next|One|Two again");
}

TEST_F(Game_List_Test, LaterMapLineWinsAcrossAHugeFile)
{
    // Far more lines than the loader sorts in one batch.
    std::string map = "dup \"First\"\nkeep \"Kept\"\n";
    for (int i = 0; i < 300000; ++i) {
        char line[32];
        snprintf(line, sizeof line, "f%06d \"F\"\n", i);
        map += line;
    }
    map += "dup \"Second\"\n";
    auto emu = rom_list_emulator("dup keep f123456", map);
    EXPECT_EQ(full_names(*emu), "F|Kept|Second");
}
