// "Config.ini": defaults, reading the thirteen keys, writing the twelve saved
// ones, keeping what the program does not own, and damaged files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "generator/settings.h"
#include "run_fixture.h"

using generator_test::read_file;
using generator_test::write_file;
namespace fs = std::filesystem;
using Marvane::Generator_Settings;
using Marvane::read_settings;
using Marvane::write_settings;

namespace {

// Every value of a settings record, so two records compare in one line.
std::string describe(const Generator_Settings& s)
{
    std::ostringstream out;
    out << s.rom_path << '|' << s.snap_path << '|' << s.mame_exe << '|' << s.catver_path << '|'
        << s.filter << '|' << s.cat_enabled << s.filter_enabled << '|' << s.output_dir << '|'
        << s.buttons << s.working << s.snap << s.rom << s.verify;
    return out.str();
}

class Settings_File : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = make_scratch_dir("settings");
        ini = root / "Config.ini";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root, ignored);
    }

    Generator_Settings read() const { return read_settings(ini.string()); }

    fs::path root, ini;
};

const char* const twelve_keys_of_a_first_start =
    "[CONFIG]\r\n"
    "ROMPath=\r\n"
    "SNAPPath=\r\n"
    "MAMEEXE=\r\n"
    "CatverPath=\r\n"
    "Filter=bootleg;japan;hispanic;asia;korea;hardware;prototype;germany;german;french\r\n"
    "CatEnabled=0\r\n"
    "FilterEnabled=0\r\n"
    "OutputDir=\r\n"
    "Working=0\r\n"
    "Snap=0\r\n"
    "ROM=0\r\n"
    "Verify=0\r\n";

}  // namespace

TEST_F(Settings_File, FirstStartHasEmptyPathsTheDefaultFilterAndEveryBoxOff)
{
    const std::string expected =
        "||||bootleg;japan;hispanic;asia;korea;hardware;prototype;germany;german;french|00||00000";
    EXPECT_EQ(describe(read()), expected);
    // A Config.ini that cannot be read as a file gives the same.
    fs::create_directory(ini);
    EXPECT_EQ(describe(read()), expected);
    fs::remove(ini);
    write_file(ini, "");
    EXPECT_EQ(describe(read()), expected);
}

TEST_F(Settings_File, BooleansAreWholeNumbersAndAnythingElseIsTheDefault)
{
    write_file(ini, "[CONFIG]\r\nCatEnabled=1\r\nVerify=0\r\nSnap=yes\r\nROM= 2 \r\n"
                    "Working=-0\r\nFilterEnabled=1x\r\nButtons=+7\r\n");
    Generator_Settings s = read();
    EXPECT_TRUE(s.cat_enabled);
    EXPECT_FALSE(s.verify);
    EXPECT_FALSE(s.snap);           // "yes" is no number
    EXPECT_TRUE(s.rom);             // blanks around a number do not matter
    EXPECT_FALSE(s.working);
    EXPECT_FALSE(s.filter_enabled); // digits followed by letters are no number
    EXPECT_TRUE(s.buttons);         // the hidden box is set from the file only

    write_file(ini, "[CONFIG]\nVerify=99999999999999999999999\nSnap=\nROM=+\nWorking=0001\n");
    s = read();
    EXPECT_TRUE(s.verify);          // too big for any integer, still a non-zero number
    EXPECT_FALSE(s.snap);
    EXPECT_FALSE(s.rom);
    EXPECT_TRUE(s.working);
}

TEST_F(Settings_File, TextKeysMatchIgnoringCaseInTheirOwnSectionOnly)
{
    write_file(ini, "; made by hand\n"
                    "[Other]\nROMPath=/wrong\n"
                    "[ config ]\n"
                    "  romPATH  =  /games/roms  \n"
                    "ROMPath=/second/line/is/ignored\n"
                    "MameExe=/usr/games/mame\n"
                    "Filter=\n"
                    "CatverPath=/a=b/catver.ini\n"
                    "OutputDir\n"
                    "[Later]\nSNAPPath=/also/wrong\n");
    Generator_Settings s = read();
    EXPECT_EQ(s.rom_path, "/games/roms");
    EXPECT_EQ(s.snap_path, "");
    EXPECT_EQ(s.mame_exe, "/usr/games/mame");
    EXPECT_EQ(s.filter, "");  // emptied by the user, and kept empty
    EXPECT_EQ(s.catver_path, "/a=b/catver.ini");
    EXPECT_EQ(s.output_dir, "");

    // One pair of double quotes around a value is taken off, and only one.
    write_file(ini, "[CONFIG]\nROMPath= \"/my roms/ \" \nSNAPPath=\"\"\nMAMEEXE=\"/a\"b\"\n"
                    "CatverPath=\"/half\nFilter=\"\"a;b\"\"\nOutputDir=\"\nVerify=\"1\"\n");
    s = read();
    EXPECT_EQ(s.rom_path, "/my roms/ ");
    EXPECT_EQ(s.snap_path, "");
    EXPECT_EQ(s.mame_exe, "/a\"b");
    EXPECT_EQ(s.catver_path, "\"/half");
    EXPECT_EQ(s.filter, "\"a;b\"");
    EXPECT_EQ(s.output_dir, "\"");
    EXPECT_TRUE(s.verify);
    // A value in quotes of its own, or with blanks at an end, reads back as it was saved.
    ASSERT_TRUE(write_settings(ini.string(), s));
    EXPECT_EQ(describe(read()), describe(s));
}

TEST_F(Settings_File, WritesTheTwelveKeysInOrderWithoutButtons)
{
    ASSERT_TRUE(write_settings(ini.string(), Marvane::default_settings()));
    EXPECT_EQ(read_file(ini), twelve_keys_of_a_first_start);

    Generator_Settings s;
    s.rom_path = "/r";
    s.snap_path = "/s";
    s.mame_exe = "/m/mame";
    s.catver_path = "/c.ini";
    s.filter = "x;y";
    s.cat_enabled = true;
    s.output_dir = "/o";
    s.buttons = true;
    s.snap = true;
    s.verify = true;
    ASSERT_TRUE(write_settings(ini.string(), s));
    EXPECT_EQ(read_file(ini), "[CONFIG]\r\nROMPath=/r\r\nSNAPPath=/s\r\nMAMEEXE=/m/mame\r\n"
                              "CatverPath=/c.ini\r\nFilter=x;y\r\nCatEnabled=1\r\n"
                              "FilterEnabled=0\r\nOutputDir=/o\r\nWorking=0\r\nSnap=1\r\n"
                              "ROM=0\r\nVerify=1\r\n");
    s.buttons = false;  // Buttons is never written, so it reads back off
    EXPECT_EQ(describe(read()), describe(s));
}

TEST_F(Settings_File, WritingKeepsEveryLineItDoesNotOwn)
{
    const std::string before = "; my cabinet\n"
                               "[config]\n"
                               "Buttons=1\n"
                               "verify=1\n"
                               "Comment=kept\n"
                               "\n"
                               "[Other]\n"
                               "ROMPath=/not/ours\n"
                               "tail without line end";
    write_file(ini, before);
    Generator_Settings s = read();
    ASSERT_TRUE(s.buttons);
    ASSERT_TRUE(s.verify);
    s.verify = false;
    s.rom_path = "/roms";
    ASSERT_TRUE(write_settings(ini.string(), s));
    const std::string after = read_file(ini);
    EXPECT_EQ(after, "; my cabinet\n"
                     "[config]\n"
                     "Buttons=1\n"
                     "Verify=0\n"
                     "Comment=kept\n"
                     "ROMPath=/roms\r\nSNAPPath=\r\nMAMEEXE=\r\nCatverPath=\r\n"
                     "Filter=bootleg;japan;hispanic;asia;korea;hardware;prototype;germany;german;"
                     "french\r\n"
                     "CatEnabled=0\r\nFilterEnabled=0\r\nOutputDir=\r\nWorking=0\r\nSnap=0\r\n"
                     "ROM=0\r\n"
                     "\n"
                     "[Other]\n"
                     "ROMPath=/not/ours\n"
                     "tail without line end");
    EXPECT_TRUE(read().buttons);
    // Saving again changes nothing.
    ASSERT_TRUE(write_settings(ini.string(), read()));
    EXPECT_EQ(read_file(ini), after);

    // A byte-order mark before the section is skipped, and kept.
    write_file(ini, "\xEF\xBB\xBF[CONFIG]\r\nROMPath=/r\r\n");
    ASSERT_EQ(read().rom_path, "/r");
    ASSERT_TRUE(write_settings(ini.string(), Marvane::default_settings()));
    EXPECT_EQ(read_file(ini), std::string("\xEF\xBB\xBF") + twelve_keys_of_a_first_start);

    // Without a CONFIG section the section is added at the end.
    write_file(ini, "[Other]\nA=1");
    ASSERT_TRUE(write_settings(ini.string(), Marvane::default_settings()));
    EXPECT_EQ(read_file(ini), std::string("[Other]\nA=1\r\n") + twelve_keys_of_a_first_start);
}

TEST_F(Settings_File, AFileThatCannotBeWrittenIsLeftWhole)
{
    EXPECT_FALSE(write_settings((root / "missing" / "Config.ini").string(),
                                Marvane::default_settings()));
    // A folder in the file's place: nothing replaces it and no temporary is left.
    fs::create_directory(ini);
    EXPECT_FALSE(write_settings(ini.string(), Marvane::default_settings()));
    EXPECT_TRUE(fs::is_directory(ini));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
    fs::remove(ini);
    // Through a link: a FIFO is left alone and never waited on; a file,
    // present or missing, is written where the link points.
    ASSERT_EQ(mkfifo((root / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", ini);
    EXPECT_FALSE(write_settings(ini.string(), Marvane::default_settings()));
    EXPECT_TRUE(fs::is_fifo(root / "fifo"));
    fs::remove(ini);
    fs::create_symlink("target.ini", ini);
    for (const char* before : {"", "[CONFIG]\r\nROMPath=/r\r\n"}) {
        if (*before != '\0')
            write_file(root / "target.ini", before);
        ASSERT_TRUE(write_settings(ini.string(), Marvane::default_settings())) << before;
        EXPECT_TRUE(fs::is_symlink(ini));
        EXPECT_EQ(read_file(root / "target.ini"), twelve_keys_of_a_first_start);
    }
    fs::remove(ini);
    fs::remove(root / "target.ini");
    fs::remove(root / "fifo");
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    write_file(ini, "[CONFIG]\nVerify=1\n");
    // A folder we may not write to: the file itself is written, no temporary is left.
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(root, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_TRUE(write_settings(ini.string(), Marvane::default_settings()));
    fs::permissions(root, fs::perms::owner_all);
    std::string rewritten = twelve_keys_of_a_first_start;
    rewritten.replace(rewritten.find("Verify=0\r\n"), 10, "").replace(0, 10, "[CONFIG]\nVerify=0\n");
    EXPECT_EQ(read_file(ini), rewritten);
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
    write_file(ini, "[CONFIG]\nVerify=1\n");
    // A file we may write but not read: replacing it would lose its other lines.
    fs::permissions(ini, fs::perms::owner_write);
    EXPECT_FALSE(write_settings(ini.string(), Marvane::default_settings()));
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read_file(ini), "[CONFIG]\nVerify=1\n");
}

TEST_F(Settings_File, AFileItsOwnerMadeReadOnlyIsLeftWholeEvenForRoot)
{
    write_file(ini, "[CONFIG]\nVerify=1\n");
    for (const fs::perms read_only : {fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                                      fs::perms::owner_read}) {
        fs::permissions(ini, read_only);
        EXPECT_FALSE(write_settings(ini.string(), Marvane::default_settings()));
        EXPECT_EQ(read_file(ini), "[CONFIG]\nVerify=1\n");
        EXPECT_EQ(fs::status(ini).permissions(), read_only);
        EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
    }
}

TEST_F(Settings_File, DamagedFilesGiveWhatCanBeReadAndDefaultsForTheRest)
{
    // Binary bytes around a readable section; a value ends at a NUL byte.
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 131 + 7) & 0xff);
    binary += "\n[CONFIG]\nROMPath=/roms";
    binary += '\0';
    binary += "\xff\xfe junk\nSnap=\x01\x02\nROM=1\n";
    binary += binary.substr(0, 4096);
    write_file(ini, binary);
    Generator_Settings s = read();
    EXPECT_EQ(s.rom_path, "/roms");
    EXPECT_FALSE(s.snap);
    EXPECT_TRUE(s.rom);
    EXPECT_EQ(s.filter, Marvane::default_filter);

    // Ten megabytes of one line before the section.
    write_file(ini, std::string(10 * 1024 * 1024, 'x') + "\r\n[CONFIG]\r\nVerify=1\r\n");
    s = read();
    EXPECT_TRUE(s.verify);
    EXPECT_EQ(s.rom_path, "");

    // A path of 100 000 characters is read, written back and read again whole.
    const std::string long_path = "/" + std::string(99999, 'p');
    write_file(ini, "[CONFIG]\r\nOutputDir=" + long_path + "\r\n");
    s = read();
    EXPECT_EQ(s.output_dir, long_path);
    ASSERT_TRUE(write_settings(ini.string(), s));
    EXPECT_EQ(read().output_dir, long_path);

    // A line break inside a value cannot split its line into two keys.
    s.output_dir = "/out\r\nVerify=1";
    ASSERT_TRUE(write_settings(ini.string(), s));
    EXPECT_FALSE(read().verify);
    EXPECT_EQ(read().output_dir, "/out  Verify=1");
}

TEST(Settings_Path, ConfigIniLiesBesideTheRunningProgram)
{
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(Marvane::program_directory(), exe.parent_path().string());
    EXPECT_EQ(Marvane::settings_path(), (exe.parent_path() / "Config.ini").string());
}
