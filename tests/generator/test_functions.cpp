// The module routines and the line parsers of the generation run.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "generator/Functions.h"
#include "generator/pipeline.h"

using namespace Functions;
using Pieces = std::vector<std::string>;

TEST(Functions, ReplaceAllGoesOnAfterTheInsertedText)
{
    EXPECT_EQ(ReplaceAll("a/b//c", "/", "\\"), "a\\b\\\\c");
    EXPECT_EQ(ReplaceAll("**Shoot*er**", "*", ""), "Shooter");
    // The replacement holds the old text: no endless rescanning.
    EXPECT_EQ(ReplaceAll("xax", "a", "aa"), "xaax");
    EXPECT_EQ(ReplaceAll("abab", "ab", "b"), "bb");
    EXPECT_EQ(ReplaceAll("", "a", "b"), "");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("aA", "a", "b"), "bA");  // exact case
}

TEST(Functions, StripTrailingBackslashRemovesTrailingSeparatorsButKeepsTheRoot)
{
    EXPECT_EQ(StripTrailingBackslash("/games/roms//"), "/games/roms");
    EXPECT_EQ(StripTrailingBackslash("/games/roms"), "/games/roms");
    EXPECT_EQ(StripTrailingBackslash("/a/b/c/"), "/a/b/c");
    EXPECT_EQ(StripTrailingBackslash(""), "");
    EXPECT_EQ(StripTrailingBackslash("///"), "/");
    EXPECT_EQ(StripTrailingBackslash("/"), "/");
}

TEST(Functions, LastCharPosIsOneBased)
{
    EXPECT_EQ(LastCharPos("/usr/games/mame", '/'), 11u);
    EXPECT_EQ(LastCharPos("mame", '/'), 0u);
    EXPECT_EQ(LastCharPos("", '/'), 0u);
    EXPECT_EQ(LastCharPos("/", '/'), 1u);
}

TEST(Functions, SplitStringKeepsEmptyPiecesAndQuotedPieces)
{
    EXPECT_EQ(SplitString("a;b;", ";"), (Pieces{"a", "b", ""}));
    EXPECT_EQ(SplitString("japan;;bootleg", ";"), (Pieces{"japan", "", "bootleg"}));
    EXPECT_EQ(SplitString("alone", ";"), (Pieces{"alone"}));
    EXPECT_EQ(SplitString("", ";"), (Pieces{""}));
    EXPECT_EQ(SplitString("a::b", "::"), (Pieces{"a", "b"}));
    // A piece that starts with a quote runs to the last quote of the rest,
    // and the character after that quote goes with it.
    EXPECT_EQ(SplitString("\"a b\" c", " "), (Pieces{"\"a b\"", "c"}));
    EXPECT_EQ(SplitString("x \"a b\" \"c d\" e", " "), (Pieces{"x", "\"a b\" \"c d\"", "e"}));
    EXPECT_EQ(SplitString("\" x", " "), (Pieces{"\"", "x"}));
    EXPECT_EQ(SplitString("\"ab\"", " "), (Pieces{"\"ab\""}));
    EXPECT_EQ(SplitString("\tname puckman", " ").back(), "puckman");
    EXPECT_EQ(SplitString("abc", ""), (Pieces{"abc"}));

    // The last piece alone is the last of the list.
    for (const char* text : {"a;b;", "alone", "", "x \"a b\" \"c d\" e", "\" x", "\"ab\"",
                             "\"a\"b c", "\tname  puckman "})
        for (const char* separator : {";", " ", "::", ""})
            EXPECT_EQ(last_split_piece(text, separator), SplitString(text, separator).back())
                << text << " at '" << separator << "'";
}

TEST(Functions, WrapBreaksAtTheLastBlankThatFitsOrBetweenCharacters)
{
    // "W" is three units wide, any other byte one.
    const auto measure = [](const std::string& line) {
        int width = 0;
        for (char c : line)
            width += c == 'W' ? 3 : 1;
        return width;
    };
    const struct {
        int width;
        const char* text;
        const char* lines;
    } cases[] = {
        {7, "aaa bbb ccc", "aaa bbb\nccc"},
        {7, "aaa bbbb c", "aaa\nbbbb c"},
        {7, "WW WWW W", "WW\nWW\nW W"},
        {7, "abcdefghij klm", "abcdefg\nhij klm"},
        {2, "WaW", "W\na\nW"},
        {7, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xE2\x82\xAC",
         "\xC3\xA9\xC3\xA9\xC3\xA9\n\xC3\xA9\xE2\x82\xAC"},  // characters kept whole
        {7, "ab\n\ncd efgh ij\n", "ab\n\ncd efgh\nij\n"},
        {7, "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wrap_to_width(c.text, c.width, measure), c.lines) << c.text;
}

TEST(Functions, IsWorkingGameTakesTheFirstEntryOfTheGame)
{
    WorkingTable.clear();
    WorkingTable.add("pacman", "no");
    WorkingTable.add("pacman", "yes");
    WorkingTable.add("galaga", "yes");
    WorkingTable.add("sf2", "Yes");
    EXPECT_FALSE(IsWorkingGame("pacman"));
    EXPECT_TRUE(IsWorkingGame("galaga"));
    EXPECT_FALSE(IsWorkingGame("sf2"));     // "yes" is looked for with its case
    EXPECT_FALSE(IsWorkingGame("Galaga"));  // names compare exactly
    EXPECT_FALSE(IsWorkingGame("absent"));
}

TEST(Functions, TablesGrowPastEightThousandEntriesAndKeepTheirOrder)
{
    Name_Table table;
    for (int i = 0; i < 45000; ++i)
        table.add("game" + std::to_string(i), std::to_string(i % 40));
    table.add("game44000", "again");
    ASSERT_EQ(table.size(), 45001u);
    const std::vector<std::size_t>& found = table.find("game44000");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(table[found[0]].value, "0");
    EXPECT_EQ(table[found[1]].value, "again");
    EXPECT_TRUE(table.find("game45000").empty());
    table.clear();
    EXPECT_EQ(table.size(), 0u);
    EXPECT_TRUE(table.find("game1").empty());
}

TEST(Parsers, CatverLines)
{
    std::string name, category;
    ASSERT_TRUE(parse_catver_line("pacman=Maze / Collect", name, category));
    EXPECT_EQ(name, "pacman");
    EXPECT_EQ(category, "Maze ");
    ASSERT_TRUE(parse_catver_line("  mrdo =  Casino \t", name, category));
    EXPECT_EQ(name, "mrdo");
    EXPECT_EQ(category, "Casino");
    ASSERT_TRUE(parse_catver_line("galaga=**Shooter*", name, category));
    EXPECT_EQ(category, "Shooter");
    ASSERT_TRUE(parse_catver_line("sf2=Fighter=Versus", name, category));
    EXPECT_EQ(name, "sf2");
    EXPECT_EQ(category, "Fighter=Versus");
    ASSERT_TRUE(parse_catver_line("x=  ", name, category));
    EXPECT_EQ(category, "");
    // Comments, section headers and version entries are passed over.
    for (const char* skipped : {"pacman=.36", "[Category]", ";; comment = x", "no equals sign",
                                "", "a=b;c", "v=0.36 (mame)"})
        EXPECT_FALSE(parse_catver_line(skipped, name, category)) << skipped;
}

TEST(Parsers, FullListLines)
{
    std::string name, description;
    parse_full_list_line("pacman    \"Pac-Man (Midway)\"", name, description);
    EXPECT_EQ(name, "pacman");
    EXPECT_EQ(description, "Pac-Man (Midway)");
    parse_full_list_line("nospace\"Title\"", name, description);
    EXPECT_EQ(name, "");
    EXPECT_EQ(description, "Title");
    parse_full_list_line("noquote plain text", name, description);
    EXPECT_EQ(name, "noquote");
    EXPECT_EQ(description, "noquote plain tex");
    parse_full_list_line("game \"", name, description);
    EXPECT_EQ(description, "");
    parse_full_list_line("", name, description);
    EXPECT_EQ(name, "");
    EXPECT_EQ(description, "");
    parse_full_list_line("x", name, description);
    EXPECT_EQ(description, "");
}

TEST(Parsers, DescriptionsAreWrittenAsTheFrontEndReadsThem)
{
    struct Row {
        std::string description;
        std::string written;
    };
    const std::string kept[] = {
        "Pac-Man (Midway)",
        "Caf\xC3\xA9 \xE3\x82\xA2",  // beyond Latin-1: its bytes as they are
        "Attach\xE9",                  // not UTF-8
        "Attach\xC3",                  // a sequence cut short
        "\xC3(",
        "\xC1\xA9",                    // an overlong form
        "\xA9",
        "",
    };
    const Row rows[] = {
        {"Chess Challenger \"10\" (model CCX, rev. B)",
         "Chess Challenger '10' (model CCX, rev. B)"},
        {"\"\"", "''"},
        {"Attach\xC3\xA9", "Attach\xE9"},
        {"\xC2\x80 \xC2\xBF\xC3\x80\xC3\xBF", "\x80 \xBF\xC0\xFF"},
        {"\"Caf\xC3\xA9\"", "'Caf\xE9'"},
        {"\"Caf\xE9\"", "'Caf\xE9'"},
    };
    for (const std::string& description : kept)
        EXPECT_EQ(front_end_text(description), description) << description;
    for (const Row& row : rows)
        EXPECT_EQ(front_end_text(row.description), row.written) << row.description;
}

TEST(Parsers, VerifyVerdictLines)
{
    for (const char* good : {"romset pacman is good", "romset pacman is best available",
                             "romset pacman [puckman] is good",
                             "romset pacman [puckman] is best available",
                             "ROMSET PacMan Is Good", "  romset pacman is good \t"})
        EXPECT_TRUE(verify_says_good(good, "pacman")) << good;
    for (const char* other :
         {"romset pacman is bad", "romset \"pacman\" not found!",
          "pacman      : pacman.6e (4096 bytes) - NOT FOUND - NO GOOD DUMP KNOWN",
          "romset puckman is good", "romset pacman2 is good", "romset pacman [puckman is good",
          "romset pacman [x] [y] is good", "romset pacman is good enough", "1 romsets found, 1 were OK.",
          "romset pacman is", ""})
        EXPECT_FALSE(verify_says_good(other, "pacman")) << other;
}

TEST(Parsers, OnlyPlainCategoriesNameFiles)
{
    EXPECT_TRUE(usable_category_file_name("Maze "));
    EXPECT_TRUE(usable_category_file_name("Casino"));
    EXPECT_TRUE(usable_category_file_name("..."));
    for (const std::string& bad : {std::string(), std::string("."), std::string(".."),
                                   std::string("a/b"), std::string("\\..\\x"),
                                   std::string("a\0b", 3), std::string(252, 'x'),
                                   std::string("mame"), std::string("MAME"), std::string("Mame")})
        EXPECT_FALSE(usable_category_file_name(bad)) << bad;
    EXPECT_TRUE(usable_category_file_name(std::string(251, 'x')));
}

TEST(Parsers, WholeNumbers)
{
    EXPECT_EQ(whole_number("3"), 3);
    EXPECT_EQ(whole_number("10"), 10);
    EXPECT_EQ(whole_number("-2"), -2);
    EXPECT_EQ(whole_number("+4"), 4);
    for (const char* bad : {"", "-", "1)", "x", "1 2", "99999999999999999999"})
        EXPECT_THROW(whole_number(bad), Run_Error) << bad;
    try {
        whole_number("1)");
    } catch (const Run_Error& error) {
        EXPECT_STREQ(error.what(), "'1)' is not a valid integer value");
    }
}

namespace {

struct Quiet_Host : Marvane::Run_Host {
    int pumps = 0;
    std::string field_text(Marvane::Run_Text) override { return {}; }
    void set_field_text(Marvane::Run_Text, const std::string&) override {}
    bool option_checked(Marvane::Run_Option) override { return false; }
    void set_progress(const std::string&) override {}
    void show_message(const std::string&, const std::string&) override {}
    void set_busy_cursor(bool) override {}
    void set_run_controls_enabled(bool) override {}
    void pump_messages() override { ++pumps; }
    void terminate_application() override {}
};

void attach_text(Text_Reader& reader, const std::string& text)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    reader.attach(file, "memory");
}

}  // namespace

TEST(Parsers, ButtonScanTakesTheFirstInputLineOfEachBlock)
{
    const std::string info =
        "game (\n\tname three\n\tinput ( players 2 buttons 3 coins 1 )\n)\n"
        "game (\n\tname Ten\n\tdescription \"x\"\n\tinput ( players 1 BUTTONS 10 coins 1 )\n)\n"
        "resource (\n\tname bios\n)\n"
        "game (\n\tname nobuttons\n\tinput ( players 1 coins 1 )\n"
        "\tinput ( players 1 buttons 6 )\n)\n"
        "game (\n\tname noinput\n)\n"
        "game (\n\tname last\n\tinput ( players 1 buttons 4 )";  // no line end, no ")"
    Text_Reader reader;
    attach_text(reader, info);
    Name_Table table;
    Quiet_Host host;
    StopRequested = false;
    ASSERT_TRUE(scan_buttons(reader, table, host));
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].name, "three");
    EXPECT_EQ(table[0].value, "3");
    EXPECT_EQ(table[1].name, "ten");
    EXPECT_EQ(table[1].value, "10");
    EXPECT_EQ(table[2].name, "last");
    EXPECT_EQ(table[2].value, "4");
    EXPECT_GT(host.pumps, 0);
}

#if defined(__SANITIZE_ADDRESS__)
#define MARVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MARVO_ADDRESS_SANITIZER 1
#endif
#endif

// Scans a name line of 24 million blanks with the address space limited to
// 384 MB above what the process has: a piece per blank would need
// three quarters of a gigabyte. Ends the process with 0 when the game was read.
[[noreturn]] void scan_name_of_blanks_in_little_memory()
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t room = static_cast<rlim_t>(pages) * 4096 + (384u << 20);
    const rlimit limit{room, room};
    setrlimit(RLIMIT_AS, &limit);
    std::FILE* file = std::tmpfile();
    std::fputs("game (\n\tname", file);
    const std::string blanks(1 << 20, ' ');
    for (int i = 0; i < 24; ++i)
        std::fputs(blanks.c_str(), file);
    std::fputs("big\n\tinput ( buttons 2 )\n)\n", file);
    std::rewind(file);
    Text_Reader reader;
    reader.attach(file, "memory");
    Name_Table table;
    Quiet_Host host;
    StopRequested = false;
    const bool ended = scan_buttons(reader, table, host);
    std::_Exit(ended && table.size() == 1 && table[0].name == "big" ? 0 : 1);
}

TEST(Parsers, ButtonScanNameLineOfBlanksStaysSmall)
{
#ifdef MARVO_ADDRESS_SANITIZER
    GTEST_SKIP() << "an address-space limit leaves the sanitizer no room for its shadow memory";
#endif
    EXPECT_EXIT(scan_name_of_blanks_in_little_memory(), ::testing::ExitedWithCode(0), "");
}

TEST(Parsers, ButtonScanStopsWhenTheWindowCloses)
{
    Text_Reader reader;
    attach_text(reader, "game (\n\tname a\n\tinput ( buttons 2 )\n)\n");
    Name_Table table;
    Quiet_Host host;
    StopRequested = true;
    EXPECT_FALSE(scan_buttons(reader, table, host));
    StopRequested = false;
    EXPECT_EQ(table.size(), 0u);
}

TEST(Parsers, WorkingStatusComesFromTheDriverLine)
{
    Text_Reader reader;
    attach_text(reader,
                "game (\n\tname good\n\tinput ( buttons 2 )\n\tdriver ( status good color good )\n)\n"
                "game (\n\tname imperfect\n\tdriver ( status imperfect )\n)\n"
                "game (\n\tname broken\n\tdriver ( status preliminary )\n)\n"
                "game (\n\tname nodriver\n)\n");
    Name_Table table;
    scan_working(reader, table);
    WorkingTable = table;
    EXPECT_TRUE(IsWorkingGame("good"));
    EXPECT_TRUE(IsWorkingGame("imperfect"));
    EXPECT_FALSE(IsWorkingGame("broken"));
    EXPECT_FALSE(IsWorkingGame("nodriver"));
    EXPECT_EQ(table.size(), 3u);
}

TEST(Parsers, ReaderTakesEveryLineEnd)
{
    Text_Reader reader;
    attach_text(reader, std::string("a\r\nb\rc\n\nd\0e", 11));
    std::vector<std::string> lines;
    std::string line;
    while (!reader.eof()) {
        reader.read_line(line);
        lines.push_back(line);
    }
    EXPECT_EQ(lines, (Pieces{"a", "b", "c", "", std::string("d\0e", 3)}));
    reader.read_line(line);
    EXPECT_EQ(line, "");

    Text_Reader unopened;
    EXPECT_FALSE(unopened.open("/nonexistent/file"));
    EXPECT_THROW(unopened.eof(), Run_Error);
}
