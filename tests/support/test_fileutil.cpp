#include "support/fileutil.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <csignal>
#include <memory>
#include <random>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/logfile.h"
#include "support/savefile.h"
#include "support/scratch_dir.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using Section = std::unique_ptr<Config_Section>;

Section section_of(Config_File& file, const std::string& name) {
    return Section(file.get_section(name));
}

std::vector<std::string> list_of(Config_Section& section, const std::string& key) {
    std::unique_ptr<std::vector<std::string>> list(section.get_string_list(key));
    return *list;
}

// Reads one value from a file with a fresh Config_File.
std::string read_value(const std::string& path, const std::string& section, const std::string& key) {
    Config_File file(path);
    return section_of(file, section)->get_string(key, "<default>");
}

void set_value(const std::string& path, const std::string& section, const std::string& key,
               const std::string& value) {
    Config_File file(path);
    section_of(file, section)->set_string(key, value);
}

// The program's log, kept in a directory of its own while a test runs.
class Captured_Log {
public:
    Captured_Log() {
        LogFile::vx_log = new LogFile::Log_File(dir_ / "marvo.log");
    }
    ~Captured_Log() {
        delete LogFile::vx_log;
        LogFile::vx_log = nullptr;
    }
    std::string text() const { return read_file(dir_ / "marvo.log"); }

private:
    Scratch_Dir dir_;
};

size_t entries_in(const std::string& directory) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(directory),
                                             std::filesystem::directory_iterator()));
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading

TEST(Config_Read, AMissingFileGivesEveryDefault) {
    Scratch_Dir dir;
    Config_File file(dir / "absent.cfg");
    Section main = section_of(file, "Main");
    EXPECT_EQ(main->get_string("name", "fallback"), "fallback");
    EXPECT_EQ(main->get_int("count", -5), -5);
    EXPECT_TRUE(main->get_bool("flag", true));
    EXPECT_FALSE(main->get_bool("flag", false));
    EXPECT_TRUE(list_of(*main, "list").empty());
    main.reset();
    EXPECT_FALSE(path_exists(dir / "absent.cfg"));  // reading never writes
}

TEST(Config_Read, SectionAndKeyNamesIgnoreCase) {
    Scratch_Dir dir;
    write_file(dir / "mame.cfg", "[EMULATOR]\nNAME = MAME\nRom_Directory=roms\n");
    Config_File file(dir / "mame.cfg");
    Section emulator = section_of(file, "Emulator");
    EXPECT_EQ(emulator->get_string("name", ""), "MAME");
    EXPECT_EQ(emulator->get_file_name("rom_directory", ""), "roms");
    EXPECT_EQ(emulator->get_string(" name ", "none"), "MAME");
    EXPECT_EQ(emulator->get_string("nam", "none"), "none");
}

TEST(Config_Read, AnEmptyValueReadsLikeAMissingKey) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\ntext =\nnumber = \t\nflag=\nlist =   \n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    EXPECT_EQ(main->get_string("text", "def"), "def");
    EXPECT_EQ(main->get_int("number", 17), 17);
    EXPECT_TRUE(main->get_bool("flag", true));
    EXPECT_TRUE(list_of(*main, "list").empty());
}

TEST(Config_Read, OnlyTheExactWordYesIsTrue) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\na = yes\nb = Yes\nc = YES\nd = true\ne = 1\nf = yes please\n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    EXPECT_TRUE(main->get_bool("a", false));
    for (const char* key : {"b", "c", "d", "e", "f"}) {
        EXPECT_FALSE(main->get_bool(key, true)) << key;
    }
    EXPECT_TRUE(main->get_bool("missing", true));
}

TEST(Config_Read, IntegersReadLikeStrtol) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg",
               "[Main]\na = 42\nb = -7\nc = 0x1f\nd = words\ne = 12abc\nf = 99999999999\ng = -99999999999\n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    EXPECT_EQ(main->get_int("a", 0), 42);
    EXPECT_EQ(main->get_int("b", 0), -7);
    EXPECT_EQ(main->get_int("c", 0), 31);
    EXPECT_EQ(main->get_int("d", 5), 0);
    EXPECT_EQ(main->get_int("e", 0), 12);
    EXPECT_EQ(main->get_int("f", 0), INT_MAX);
    EXPECT_EQ(main->get_int("g", 0), INT_MIN);
}

TEST(Config_Read, TokenListsFollowAllegrosRules) {
    EXPECT_THAT(split_config_tokens("a \"b c\" d"), ElementsAre("a", "b c", "d"));
    EXPECT_THAT(split_config_tokens("a b # c"), ElementsAre("a", "b"));
    EXPECT_THAT(split_config_tokens("#a b"), ElementsAre());
    EXPECT_THAT(split_config_tokens("a#b c"), ElementsAre("a#b", "c"));
    EXPECT_THAT(split_config_tokens("'x \"y' \"\" z"), ElementsAre("x \"y", "", "z"));
    EXPECT_THAT(split_config_tokens("\"ab\"cd e"), ElementsAre("ab", "cd", "e"));
    EXPECT_THAT(split_config_tokens("  \"open to the end  "), ElementsAre("open to the end  "));
    EXPECT_THAT(split_config_tokens("a\tb\t\tc"), ElementsAre("a", "b", "c"));

    std::string twenty;
    for (int i = 1; i <= 20; ++i) {
        twenty.append("w").append(std::to_string(i)).append(" ");
    }
    std::vector<std::string> tokens = split_config_tokens(twenty);
    ASSERT_EQ(tokens.size(), 16u);
    EXPECT_EQ(tokens.front(), "w1");
    EXPECT_EQ(tokens.back(), "w16");

    // Only the first 255 characters count.
    std::vector<std::string> cut = split_config_tokens(std::string(250, 'x') + " yyyyyyyyyy zz");
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[1], "yyyy");
}

TEST(Config_Read, ListsComeFromTheFileAsNewVectors) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\nemulators = MAME \"Maze .cfg\" 'x y' # off\n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    EXPECT_THAT(list_of(*main, "emulators"), ElementsAre("MAME", "Maze .cfg", "x y"));
    std::unique_ptr<std::vector<std::string>> names(main->get_file_name_list("EMULATORS"));
    EXPECT_THAT(*names, ElementsAre("MAME", "Maze .cfg", "x y"));
    EXPECT_TRUE(list_of(*main, "missing").empty());
}

TEST(Config_Read, CrLfLinesReadWithoutTheCarriageReturn) {
    Scratch_Dir dir;
    write_file(dir / "a.ini", "[CONFIG]\r\nMamePath=C:\\mame\\mame.exe\r\nUseCategories=yes\r\nlist=a b\r\n");
    Config_File file(dir / "a.ini");
    Section config = section_of(file, "config");
    EXPECT_EQ(config->get_string("mamepath", ""), "C:\\mame\\mame.exe");
    EXPECT_TRUE(config->get_bool("usecategories", false));
    EXPECT_THAT(list_of(*config, "list"), ElementsAre("a", "b"));
}

TEST(Config_Read, AByteOrderMarkBeforeTheFirstLineIsSkippedAndKept) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "\xEF\xBB\xBF" "a=0\n[Main]\n");
    EXPECT_EQ(read_value(dir / "a.cfg", "", "a"), "0");
    set_value(dir / "a.cfg", "", "a", "1");
    EXPECT_EQ(read_file(dir / "a.cfg"), "\xEF\xBB\xBF" "a=1\n[Main]\n");
    write_file(dir / "b.cfg", "\xEF\xBB\xBF[Main]\r\na = 1\r\n");
    EXPECT_EQ(read_value(dir / "b.cfg", "main", "a"), "1");

    // A new key of the unnamed section goes after the mark.
    set_value(dir / "b.cfg", "", "top", "x");
    EXPECT_EQ(read_file(dir / "b.cfg"), "\xEF\xBB\xBF" "top = x\r\n[Main]\r\na = 1\r\n");
    EXPECT_EQ(read_value(dir / "b.cfg", "main", "a"), "1");
    EXPECT_EQ(read_value(dir / "b.cfg", "", "top"), "x");
    write_file(dir / "c.cfg", "\xEF\xBB\xBF");
    set_value(dir / "c.cfg", "", "top", "x");
    set_value(dir / "c.cfg", "Main", "a", "1");
    EXPECT_EQ(read_file(dir / "c.cfg"), "\xEF\xBB\xBF" "top = x\n\n[Main]\na = 1\n");
}

TEST(Config_Read, RepeatedSectionsJoinAndTheFirstRepeatedKeyCounts) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\na = 1\na = 2\n[Other]\na = 3\n[main]\nb = 4\na = 5\n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    EXPECT_EQ(main->get_int("a", 0), 1);
    EXPECT_EQ(main->get_int("b", 0), 4);
}

TEST(Config_Read, KeysBeforeTheFirstSectionFormTheUnnamedSection) {
    Scratch_Dir dir;
    write_file(dir / "a.sta", "selected_index = 3\n[Main]\nselected_index = 9\n");
    EXPECT_EQ(read_value(dir / "a.sta", "", "selected_index"), "3");
    EXPECT_EQ(read_value(dir / "a.sta", "Main", "selected_index"), "9");
}

TEST(Config_Read, LinesWithoutEqualsAndCommentsMeanNothing) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\njunk line\nkey\n# hidden = 1\n; hidden2 = 2\nreal = yes\n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    EXPECT_EQ(main->get_string("junk line", "d"), "d");
    EXPECT_EQ(main->get_string("key", "d"), "d");
    EXPECT_EQ(main->get_string("# hidden", "d"), "d");
    EXPECT_EQ(main->get_string("hidden2", "d"), "d");
    EXPECT_TRUE(main->get_bool("real", false));
}

// ---------------------------------------------------------------------------
// Writing

TEST(Config_Write, NothingReachesTheDiskBeforeTheSectionIsDeleted) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\nvalue = 1\n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    main->set_int("value", 2);
    main->set_string("added", "x");
    EXPECT_EQ(main->get_int("value", 0), 2);
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\nvalue = 1\n");
    main.reset();
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\nvalue = 2\nadded = x\n");
}

TEST(Config_Write, SettingAValueInAMissingFileCreatesIt) {
    Scratch_Dir dir;
    {
        Config_File file(dir / "new.sta");
        Section main = section_of(file, "Main");
        main->set_bool("on", true);
        main->set_bool("off", false);
        main->set_int("n", -12);
    }
    EXPECT_EQ(read_file(dir / "new.sta"), "[Main]\non = yes\noff = no\nn = -12\n");
}

TEST(Config_Write, EveryLineTheProgramDidNotChangeIsKept) {
    Scratch_Dir dir;
    const std::string before =
        "# marvo settings\n"
        "\n"
        "[Main]\n"
        "  Screen_Width=800   # keep my layout\n"
        "unknown_key = kept\n"
        "junk without equals\n"
        "; a comment\n"
        "\n"
        "[Sound]\n"
        "volume = 3\n";
    write_file(dir / "marvo.cfg", before);
    {
        Config_File file(dir / "marvo.cfg");
        Section main = section_of(file, "main");
        main->set_int("screen_width", 1024);
        main->set_string("font_file", "slicker.ttf");
        Section state = section_of(file, "MAME");
        state->set_int("selected_index", 4);
    }
    EXPECT_EQ(read_file(dir / "marvo.cfg"),
              "# marvo settings\n"
              "\n"
              "[Main]\n"
              "  Screen_Width=1024\n"
              "unknown_key = kept\n"
              "junk without equals\n"
              "; a comment\n"
              "font_file = slicker.ttf\n"
              "\n"
              "[Sound]\n"
              "volume = 3\n"
              "\n"
              "[MAME]\n"
              "selected_index = 4\n");
}

TEST(Config_Write, CrLfFilesStayCrLf) {
    Scratch_Dir dir;
    write_file(dir / "Config.ini", "[CONFIG]\r\nMamePath=mame\r\nOther=1");
    set_value(dir / "Config.ini", "CONFIG", "mamepath", "/usr/games/mame");
    set_value(dir / "Config.ini", "CONFIG", "Output", "out");
    EXPECT_EQ(read_file(dir / "Config.ini"),
              "[CONFIG]\r\nMamePath=/usr/games/mame\r\nOther=1\r\nOutput = out\r\n");
}

TEST(Config_Write, RoundTripsValuesWithQuotesHashesAndManyTokens) {
    Scratch_Dir dir;
    std::string twenty;
    for (int i = 1; i <= 20; ++i) {
        twenty.append(i > 1 ? " t" : "t").append(std::to_string(i));
    }
    {
        Config_File file(dir / "a.cfg");
        Section main = section_of(file, "Main");
        main->set_string("quoted", "one \"two three\" 'four'");
        main->set_string("hash", "a b # c");
        main->set_string("many", twenty);
        main->set_string("caps", "Yes");
    }
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    EXPECT_EQ(main->get_string("quoted", ""), "one \"two three\" 'four'");
    EXPECT_THAT(list_of(*main, "quoted"), ElementsAre("one", "two three", "four"));
    EXPECT_EQ(main->get_string("hash", ""), "a b # c");
    EXPECT_THAT(list_of(*main, "hash"), ElementsAre("a", "b"));
    EXPECT_EQ(main->get_string("many", ""), twenty);
    EXPECT_EQ(list_of(*main, "many").size(), 16u);
    EXPECT_FALSE(main->get_bool("caps", true));
}

TEST(Config_Write, AnEmptyValueIsWrittenAndReadsAsMissing) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\nname = old\n");
    set_value(dir / "a.cfg", "Main", "name", "");
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\nname = \n");
    EXPECT_EQ(read_value(dir / "a.cfg", "Main", "name"), "<default>");
}

TEST(Config_Write, AValueCannotBreakIntoNewLines) {
    Scratch_Dir dir;
    set_value(dir / "a.cfg", "Main", "name", "x\n[Evil]\r\ny=1");
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\nname = x [Evil]  y=1\n");
    EXPECT_EQ(read_value(dir / "a.cfg", "Evil", "y"), "<default>");
}

TEST(Config_Write, ANameWithATrailingBlankFindsItsSectionAgain) {
    Scratch_Dir dir;
    set_value(dir / "marvo.sta", "Maze ", "selected_index", "1");
    set_value(dir / "marvo.sta", "Maze ", "selected_index", "2");
    EXPECT_EQ(read_file(dir / "marvo.sta"), "[Maze ]\nselected_index = 2\n");
    EXPECT_EQ(read_value(dir / "marvo.sta", "Maze ", "selected_index"), "2");

    // Names are kept as written between the brackets and differ in more
    // than letter case; saving them all twice adds no section twice.
    const std::vector<std::string> names = {"Maze", " Maze", "MAZE ", "a]b", "[x]", "x]", "tab\t"};
    for (int round = 1; round <= 2; ++round) {
        for (size_t i = 0; i < names.size(); ++i) {
            set_value(dir / "marvo.sta", names[i], "selected_index", std::to_string(round * 10 + i));
        }
    }
    EXPECT_EQ(read_file(dir / "marvo.sta"),
              "[Maze ]\nselected_index = 22\n"
              "\n[Maze]\nselected_index = 20\n"
              "\n[ Maze]\nselected_index = 21\n"
              "\n[a]b]\nselected_index = 23\n"
              "\n[[x]]\nselected_index = 24\n"
              "\n[x]]\nselected_index = 25\n"
              "\n[tab\t]\nselected_index = 26\n");
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(read_value(dir / "marvo.sta", names[i], "selected_index"), std::to_string(20 + i))
            << names[i];
    }
    EXPECT_EQ(read_value(dir / "marvo.sta", "maze ", "selected_index"), "22");
    EXPECT_EQ(read_value(dir / "marvo.sta", "a", "selected_index"), "<default>");
}

TEST(Config_Write, RepeatedKeysChangeOnlyTheOneThatCounts) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\na = 1\na = 2\n\n[Other]\nx = 0\n[main]\na = 5\n");
    {
        Config_File file(dir / "a.cfg");
        Section main = section_of(file, "MAIN");
        main->set_int("a", 9);
        main->set_int("b", 3);
    }
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\na = 9\na = 2\nb = 3\n\n[Other]\nx = 0\n[main]\na = 5\n");
}

TEST(Config_Write, SectionsAliveTogetherSeeAndKeepEachOthersChanges) {
    Scratch_Dir dir;
    write_file(dir / "marvo.sta", "[Main]\ncurrent_emu = 0\n");
    Config_File file(dir / "marvo.sta");
    Section outer = section_of(file, "Main");
    Section inner = section_of(file, "main");
    Section other = section_of(file, "MAME");
    inner->set_int("current_emu", 2);
    other->set_int("selected_index", 7);
    EXPECT_EQ(outer->get_int("current_emu", 0), 2);
    outer->set_int("song", 5);
    EXPECT_EQ(inner->get_int("song", 0), 5);

    inner.reset();
    EXPECT_EQ(read_file(dir / "marvo.sta"), "[Main]\ncurrent_emu = 2\n");
    other.reset();
    outer.reset();
    EXPECT_EQ(read_file(dir / "marvo.sta"),
              "[Main]\ncurrent_emu = 2\nsong = 5\n\n[MAME]\nselected_index = 7\n");
    // A section taken later reads the file afresh.
    EXPECT_EQ(section_of(file, "mame")->get_int("selected_index", 0), 7);
}

TEST(Config_Write, TheLastValueSetWinsWhicheverSectionGoesLast) {
    Scratch_Dir dir;
    Config_File file(dir / "marvo.sta");
    Section outer = section_of(file, "Main");
    Section inner = section_of(file, "MAIN");
    outer->set_int("song", 1);
    inner->set_int("song", 2);
    EXPECT_EQ(outer->get_int("song", 0), 2);
    inner.reset();
    outer.reset();
    // What both sections read before they went is what the file keeps.
    EXPECT_EQ(read_file(dir / "marvo.sta"), "[MAIN]\nsong = 2\n");
}

TEST(Config_Write, ChangesOnDiskMadeMeanwhileAreKept) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "[Main]\na = 1\n");
    Config_File file(dir / "a.cfg");
    Section main = section_of(file, "Main");
    main->set_int("a", 2);
    set_value(dir / "a.cfg", "Main", "b", "other writer");
    main.reset();
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\na = 2\nb = other writer\n");
}

TEST(Config_Write, AnInterruptedWriteLeavesTheOldFileWhole) {
    Scratch_Dir dir;
    const std::string old = "[Main]\nkeep = me\n";
    write_file(dir / "marvo.sta", old);
    // Writing beyond the size limit fails part way through the new file
    // (the limit leaves room for the log line), also when written in place
    // for want of a folder we may write (which does not bind root).
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    for (const mode_t folder : {0755, 0555}) {
        ASSERT_EQ(::chmod(dir.path().c_str(), folder), 0);
        Captured_Log log;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        set_value(dir / "marvo.sta", "Main", "long", std::string(5000, 'v'));
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);

        EXPECT_EQ(read_file(dir / "marvo.sta"), old) << std::oct << folder;
        EXPECT_EQ(entries_in(dir.path()), 1u);  // no temporary file left behind
        EXPECT_THAT(log.text(), HasSubstr("[Warn] Could not save " + (dir / "marvo.sta")));
    }

    // A signal that ends the process the moment the temporary file appears
    // waits until the save is over.
    const std::string big(64 << 20, 'x');
    ASSERT_EQ(::chmod((dir / "marvo.sta").c_str(), 0600), 0);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_CREATE), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGTERM, SIG_DFL);
        ::_exit(replace_file(dir / "marvo.sta", big).empty() ? 0 : 1);
    }
    pollfd created{watch, POLLIN, 0};
    EXPECT_EQ(::poll(&created, 1, 20000), 1);
    // No one else may read it while it is written, as they may not the old file.
    alignas(inotify_event) char event[sizeof(inotify_event) + NAME_MAX + 1];
    struct stat temp {};
    EXPECT_TRUE(::read(watch, event, sizeof event) > 0 &&
                ::stat((dir / reinterpret_cast<inotify_event*>(event)->name).c_str(), &temp) == 0 &&
                (temp.st_mode & 077) == 0) << std::oct << temp.st_mode;
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(watch);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(read_file(dir / "marvo.sta").size(), big.size());
    EXPECT_EQ(std::filesystem::status(dir / "marvo.sta").permissions(), std::filesystem::perms(0600));
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(Config_Write, AFileWithoutAnyWriteBitIsNeverReplaced) {
    Scratch_Dir dir;
    const std::string old = "[Main]\nkeep = me\n";
    write_file(dir / "marvo.sta", old);
    ASSERT_EQ(::chmod((dir / "marvo.sta").c_str(), 0444), 0);
    Captured_Log log;
    {
        Config_File file(dir / "marvo.sta");
        Section main = section_of(file, "Main");
        main->set_int("keep", 2);
        EXPECT_EQ(main->get_int("keep", 0), 2);  // the program goes on with what it set
    }
    EXPECT_EQ(read_file(dir / "marvo.sta"), old);
    struct stat info {};
    ASSERT_EQ(::stat((dir / "marvo.sta").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    EXPECT_EQ(entries_in(dir.path()), 1u);
    EXPECT_THAT(log.text(), HasSubstr("[Warn] Could not save " + (dir / "marvo.sta")));

    // A file its owner may write is replaced, keeping its mode.
    ASSERT_EQ(::chmod((dir / "marvo.sta").c_str(), 0644), 0);
    set_value(dir / "marvo.sta", "Main", "keep", "3");
    EXPECT_EQ(read_file(dir / "marvo.sta"), "[Main]\nkeep = 3\n");
    // A write bit for the group only: the owner may not write it, root may.
    ASSERT_EQ(::chmod((dir / "marvo.sta").c_str(), 0464), 0);
    set_value(dir / "marvo.sta", "Main", "keep", "4");
    EXPECT_EQ(read_file(dir / "marvo.sta"), ::geteuid() == 0 ? "[Main]\nkeep = 4\n" : "[Main]\nkeep = 3\n");
    ASSERT_EQ(::stat((dir / "marvo.sta").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0464u);
}

TEST(Config_Write, KeepsThePermissionsAndFollowsALink) {
    Scratch_Dir dir;
    write_file(dir / "real.cfg", "[Main]\na = 1\n");
    ASSERT_EQ(::chmod((dir / "real.cfg").c_str(), 0640), 0);
    std::filesystem::create_symlink("real.cfg", dir / "link.cfg");
    set_value(dir / "link.cfg", "Main", "a", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.cfg"));
    EXPECT_EQ(read_file(dir / "real.cfg"), "[Main]\na = 2\n");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "real.cfg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    // An access list stays as it was: the group keeps r--, user 65534 rw-
    // (the mode's group bits are the list's mask).
    const struct { uint32_t version = 2; struct { uint16_t tag, perm; uint32_t id; } entry[5]; } acl = {
        2, {{1, 6, ~0u}, {2, 6, 65534}, {4, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}}};
    if (::setxattr((dir / "real.cfg").c_str(), "system.posix_acl_access", &acl, sizeof acl, 0) == 0) {
        set_value(dir / "link.cfg", "Main", "a", "3");
        char kept[sizeof acl] = {};
        EXPECT_EQ(::getxattr((dir / "real.cfg").c_str(), "system.posix_acl_access", kept, sizeof kept), ssize_t(sizeof acl));
        EXPECT_EQ(std::memcmp(kept, &acl, sizeof acl), 0);
        EXPECT_EQ(read_file(dir / "real.cfg"), "[Main]\na = 3\n");
        ASSERT_EQ(::removexattr((dir / "real.cfg").c_str(), "system.posix_acl_access"), 0);
        ASSERT_EQ(::chmod((dir / "real.cfg").c_str(), 0640), 0);
        // Nor does the folder's default list give the new file one.
        ASSERT_EQ(::setxattr(dir.path().c_str(), "system.posix_acl_default", &acl, sizeof acl, 0), 0);
        set_value(dir / "link.cfg", "Main", "a", "2");
        EXPECT_LT(::getxattr((dir / "real.cfg").c_str(), "system.posix_acl_access", kept, sizeof kept), 0);
        ASSERT_EQ(::removexattr(dir.path().c_str(), "system.posix_acl_default"), 0);
    } else {
        EXPECT_TRUE(errno == ENOTSUP) << std::strerror(errno);  // a file system without access lists
    }
    // Root's save leaves another user's file theirs; a file we may write in
    // a folder we may not is written in place (neither binds both kinds of user).
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((dir / "real.cfg").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::lchown((dir / "link.cfg").c_str(), 65534, 65534), 0);  // a user's link to their own file
    } else {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    }
    set_value(dir / "link.cfg", "Main", "a", "4");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(read_file(dir / "real.cfg"), "[Main]\na = 4\n");
    ASSERT_EQ(::stat((dir / "real.cfg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    if (::geteuid() == 0) {
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
    EXPECT_EQ(entries_in(dir.path()), 2u);
    if (::geteuid() == 0) {
        // Root never writes through a user's link to what is not the user's,
        // and keeps a group that differs from the owner's.
        ASSERT_EQ(::chown((dir / "real.cfg").c_str(), 0, 65534), 0);
        set_value(dir / "link.cfg", "Main", "a", "5");
        EXPECT_EQ(read_file(dir / "real.cfg"), "[Main]\na = 4\n");
        set_value(dir / "real.cfg", "Main", "a", "5");
        ASSERT_EQ(::stat((dir / "real.cfg").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid * 100000 + info.st_gid, 65534u) << read_file(dir / "real.cfg");
        // A user who may write root's file cannot give it away: it is written in place.
        ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
        ASSERT_EQ(::chmod((dir / "real.cfg").c_str(), 0666), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(::setgid(65534) || ::setuid(65534) || !replace_file(dir / "real.cfg", "6").empty());
        }
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(read_file(dir / "real.cfg"), "6");
        ASSERT_EQ(::stat((dir / "real.cfg").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid * 100000 + info.st_gid, 65534u);
        EXPECT_EQ(entries_in(dir.path()), 2u);
        // What root makes in a user's folder is the user's.
        ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
        set_value(dir / "made.cfg", "Main", "a", "1");
        ASSERT_EQ(::stat((dir / "made.cfg").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid + info.st_gid, 2 * 65534u);
        std::filesystem::remove(dir / "made.cfg");
    }
    // A link to a missing file creates the file it names.
    std::filesystem::create_symlink("new.cfg", dir / "dangling.cfg");
    set_value(dir / "dangling.cfg", "Main", "a", "3");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.cfg"));
    EXPECT_EQ(read_file(dir / "new.cfg"), "[Main]\na = 3\n");
    // An absolute target is looked up from the root, not from the link's folder.
    std::filesystem::create_symlink(std::filesystem::absolute(dir / "new.cfg"), dir / "absolute.cfg");
    set_value(dir / "absolute.cfg", "Main", "a", "7");
    EXPECT_EQ(read_file(dir / "new.cfg"), "[Main]\na = 7\n");
}

TEST(Config_Write, WhatIsNoRegularFileIsNeitherReplacedNorWaitedOn) {
    Scratch_Dir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const char* target : {"/dev/null", "fifo"}) {
        std::filesystem::create_symlink(target, dir / "marvo.sta");
        Captured_Log log;
        set_value(dir / "marvo.sta", "Main", "a", "1");
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "marvo.sta")) << target;
        EXPECT_THAT(log.text(), HasSubstr("[Warn] Could not save " + (dir / "marvo.sta"))) << target;
        std::filesystem::remove(dir / "marvo.sta");
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

// ---------------------------------------------------------------------------
// Bad configuration files

TEST(Config_Bad_Input, AnUnreadableFileGivesDefaultsAndIsNeverReplaced) {
    Scratch_Dir dir;
    // A directory where the file should be cannot be read by anyone.
    std::filesystem::create_directory(dir / "dir.cfg");
    set_value(dir / "dir.cfg", "Main", "a", "1");
    EXPECT_EQ(read_value(dir / "dir.cfg", "Main", "a"), "<default>");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "dir.cfg"));

    if (::geteuid() != 0) {  // root reads files whatever their mode says
        write_file(dir / "locked.cfg", "[Main]\nsecret = 1\n");
        ASSERT_EQ(::chmod((dir / "locked.cfg").c_str(), 0200), 0);
        set_value(dir / "locked.cfg", "Main", "a", "1");
        ASSERT_EQ(::chmod((dir / "locked.cfg").c_str(), 0600), 0);
        EXPECT_EQ(read_file(dir / "locked.cfg"), "[Main]\nsecret = 1\n");
    }
}

TEST(Config_Bad_Input, AnEmptyFileGivesDefaultsAndTakesNewKeys) {
    Scratch_Dir dir;
    write_file(dir / "a.cfg", "");
    EXPECT_EQ(read_value(dir / "a.cfg", "Main", "a"), "<default>");
    set_value(dir / "a.cfg", "Main", "a", "1");
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\na = 1\n");
}

TEST(Config_Bad_Input, BinaryBytesAreReadSafelyAndKeptOnWriteBack) {
    Scratch_Dir dir;
    std::mt19937 random(12345);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random() % 256);
    }
    using namespace std::string_literals;
    noise += "\n[Main]\nvalue = before\0after\n"s;  // a NUL inside the value
    write_file(dir / "a.cfg", noise);
    {
        Config_File file(dir / "a.cfg");
        Section main = section_of(file, "Main");
        EXPECT_EQ(main->get_string("value", ""), "before");
        main->get_int("value", 0);
        list_of(*main, "value");
        section_of(file, "Zz_Test")->set_string("added", "1");
    }
    std::string after = read_file(dir / "a.cfg");
    ASSERT_GE(after.size(), noise.size());
    EXPECT_EQ(after.substr(0, noise.size()), noise);
    EXPECT_EQ(read_value(dir / "a.cfg", "Zz_Test", "added"), "1");
}

TEST(Config_Bad_Input, ATenThousandCharacterValue) {
    Scratch_Dir dir;
    const std::string huge(10000, 'q');
    write_file(dir / "a.cfg", "[Main]\nbig = " + huge + "\nsmall = 1\n");
    {
        Config_File file(dir / "a.cfg");
        Section main = section_of(file, "Main");
        EXPECT_EQ(main->get_string("big", ""), huge);
        std::vector<std::string> tokens = list_of(*main, "big");
        ASSERT_EQ(tokens.size(), 1u);
        EXPECT_EQ(tokens[0], std::string(255, 'q'));
        main->set_int("small", 2);
    }
    EXPECT_EQ(read_file(dir / "a.cfg"), "[Main]\nbig = " + huge + "\nsmall = 2\n");
}

TEST(Config_Bad_Input, AHundredMegabyteFileIsReadAndRewrittenWhole) {
    Scratch_Dir dir;
    const std::string path = dir / "big.cfg";
    const std::string head = "[Main]\nfirst = 1\n";
    const std::string tail = "[Tail]\nlast = 2\n";
    std::string block;
    for (int i = 0; block.size() < (1 << 20); ++i) {
        block += "filler_" + std::to_string(i) + " = " + std::string(1000, 'f') + "\n";
    }
    {
        std::ofstream out(path, std::ios::binary);
        out << head;
        for (int i = 0; i < 100; ++i) {
            out << block;
        }
        out << tail;
    }
    const auto size_before = std::filesystem::file_size(path);
    ASSERT_GE(size_before, 100u << 20);
    {
        Config_File file(path);
        Section main = section_of(file, "Main");
        EXPECT_EQ(main->get_int("first", 0), 1);
        EXPECT_EQ(main->get_int("filler_3", 0), 0);
        EXPECT_EQ(section_of(file, "tail")->get_int("last", 0), 2);
        main->set_int("first", 7);
    }
    EXPECT_EQ(std::filesystem::file_size(path), size_before);
    EXPECT_EQ(read_value(path, "Main", "first"), "7");
    EXPECT_EQ(read_value(path, "Tail", "last"), "2");
}

// ---------------------------------------------------------------------------
// Path helpers

TEST(Path_Extension, ScansBackToTheLastDotOfTheLastComponent) {
    EXPECT_EQ(get_extension("a.tar.gz"), "gz");
    EXPECT_EQ(get_extension("dir.x/file"), "");
    EXPECT_EQ(get_extension("dir.x\\file"), "");
    EXPECT_EQ(get_extension(".cfg"), "");
    EXPECT_EQ(get_extension("a."), "");
    EXPECT_EQ(get_extension("a.b"), "b");
    EXPECT_EQ(get_extension("x"), "");
    EXPECT_EQ(get_extension(""), "");

    EXPECT_EQ(remove_extension(".cfg"), "");
    EXPECT_EQ(remove_extension("a.tar.gz"), "a.tar");
    EXPECT_EQ(remove_extension("a/b.c/d"), "a/b.c/d");
    EXPECT_EQ(remove_extension("x"), "x");
    EXPECT_EQ(remove_extension(""), "");

    std::string base = "stale", ext = "stale";
    split_extension(".cfg", base, ext);
    EXPECT_EQ(base, "");
    EXPECT_EQ(ext, "cfg");
    split_extension("roms/pacman.zip", base, ext);
    EXPECT_EQ(base, "roms/pacman");
    EXPECT_EQ(ext, "zip");
    split_extension("a.b/c", base, ext);
    EXPECT_EQ(base, "a.b/c");
    EXPECT_EQ(ext, "");
    split_extension("", base, ext);
    EXPECT_EQ(base, "");
    EXPECT_EQ(ext, "");
}

TEST(Path_Separators, UseTheHostSeparator) {
    std::string path = "roms";
    add_backslash(path);
    EXPECT_EQ(path, "roms/");
    add_backslash(path);
    EXPECT_EQ(path, "roms/");
    path = "roms\\";
    add_backslash(path);
    EXPECT_EQ(path, "roms\\");
    path = "";
    add_backslash(path);
    EXPECT_EQ(path, "/");

    path = "c:\\mame\\roms/x\\";
    fix_filename_slashes(path);
    EXPECT_EQ(path, "c:/mame/roms/x/");
}

TEST(Path_Names, AbsolutePathsAndQuoting) {
    for (const char* yes : {"c:x", "\\x", "/x", "x:"}) {
        EXPECT_TRUE(is_absolute_path(yes)) << yes;
    }
    for (const char* no : {"x", "", "ab/c", "a"}) {
        EXPECT_FALSE(is_absolute_path(no)) << no;
    }

    std::string name = "My Games\\a.exe";
    quote_long_file_name(name);
    EXPECT_EQ(name, "\"My Games\\a.exe\"");
    quote_long_file_name(name);
    EXPECT_EQ(name, "\"\"My Games\\a.exe\"\"");
    for (const std::string unchanged : {"a.exe", "", "tab\there"}) {
        name = unchanged;
        quote_long_file_name(name);
        EXPECT_EQ(name, unchanged);
    }
    name = "Mixed/Case.CFG";
    fix_file_name_case(name);
    EXPECT_EQ(name, "Mixed/Case.CFG");
}

TEST(Path_Files, ExistenceSizeAndDirectories) {
    Scratch_Dir dir;
    write_file(dir / "file.bin", std::string(1234, 'x'));
    ::umask(0);
    EXPECT_TRUE(file_exists(dir / "file.bin"));
    EXPECT_FALSE(file_exists(dir.path()));
    EXPECT_FALSE(file_exists(dir / "missing"));
    EXPECT_TRUE(directory_exists(dir.path()));
    EXPECT_FALSE(directory_exists(dir / "file.bin"));
    EXPECT_FALSE(directory_exists(dir / "missing"));
    EXPECT_EQ(file_size(dir / "file.bin"), 1234);
    EXPECT_EQ(file_size(dir / "missing"), 0);
    EXPECT_EQ(file_size(dir.path()), 0);

    EXPECT_TRUE(create_directory(dir / "logs"));
    EXPECT_TRUE(directory_exists(dir / "logs"));
    EXPECT_FALSE(create_directory(dir / "logs"));
    EXPECT_FALSE(create_directory(dir / "no/parent"));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "logs").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0775u);
}

TEST(Path_Files, ResolvesANameThatDiffersOnlyInCase) {
    Scratch_Dir dir;
    std::filesystem::create_directory(dir / "config");
    write_file(dir / "config/mame.rom", "pacman");
    write_file(dir / "config/Exact.cfg", "");
    write_file(dir / "config/Twice.map", "");
    write_file(dir / "config/twice.MAP", "");

    EXPECT_EQ(resolve_file_name_case(dir / "config/MAME.rom"), dir / "config/mame.rom");
    EXPECT_EQ(resolve_file_name_case(dir / "config/Exact.cfg"), dir / "config/Exact.cfg");
    EXPECT_EQ(resolve_file_name_case(dir / "config/TWICE.map"), dir / "config/Twice.map");
    EXPECT_EQ(resolve_file_name_case(dir / "config/none.rom"), dir / "config/none.rom");
    // Only the last component is matched loosely.
    EXPECT_EQ(resolve_file_name_case(dir / "CONFIG/mame.rom"), dir / "CONFIG/mame.rom");
    // Blanks are part of a file name: only letter case may differ.
    EXPECT_EQ(resolve_file_name_case(dir / "config/MAME.rom "), dir / "config/MAME.rom ");
    EXPECT_EQ(resolve_file_name_case(dir / "config/ exact.CFG"), dir / "config/ exact.CFG");

    ASSERT_EQ(::chdir((dir / "config").c_str()), 0);
    EXPECT_EQ(resolve_file_name_case("Mame.Rom"), "mame.rom");
    EXPECT_EQ(resolve_file_name_case(""), "");
}
