// Whole generation runs against the fake MAME: checks, command lines, the
// files written, the filters and stopping.

#include "run_fixture.h"

#include <algorithm>
#include <csignal>
#include <functional>
#include <tuple>
#include <utility>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "generator/Functions.h"

using namespace generator_test;
using Marvane::Run_Option;
using Marvane::Run_Text;
using Names = std::vector<std::string>;
using namespace std::string_literals;

namespace {

const char* const completed = "Completed!!|Tovan Marvane tools";

// "g" + number, built so that GCC 12 sees no overlapping copy in it.
std::string numbered_game(int number)
{
    std::string name = std::to_string(number);
    name.insert(name.begin(), 'g');
    return name;
}

std::string all_games_map()
{
    return crlf({"pacman \"Pac-Man (Midway)\"", "puckman \"PuckMan (Japan set 1)\"",
                 "galaga \"Galaga (Namco rev. B)\"",
                 "sf2 \"Street Fighter II: The World Warrior\"", "mrdo \"Mr. Do!\""});
}

}  // namespace

TEST_F(Generator_Run, ChecksReportTheFirstMissingPathAndWriteNothing)
{
    struct Case {
        Run_Text field;
        std::string value;
        const char* message;
    };
    const Case cases[] = {
        {Run_Text::Txt_Mame, (mame / "nomame").string(),
         "Error: Can't find Mame executable.|File not found"},
        {Run_Text::Txt_Mame, mame.string(), "Error: Can't find Mame executable.|File not found"},
        {Run_Text::Txt_SNAPPath, (root / "nosnap").string(),
         "Error: Can't find SNAP Folder.|Folder not found"},
        {Run_Text::Txt_Cat, (root / "nocat.ini").string(),
         "Error: Can't find CATVER.ini.|Folder not found"},
        {Run_Text::Txt_ROMPath, (root / "noroms").string(),
         "Error: Can't find ROM Folder.|Folder not found"},
        {Run_Text::TXT_OUTPUT, (root / "noout").string(),
         "Error: Can't find Output Folder.|Folder not found"},
    };
    set(Run_Option::Chk_Cat);
    write_file(root / "catver.ini", "pacman=Maze\n");
    // Each case also breaks every path checked after it: the first check
    // that fails is the one reported.
    const std::size_t count = sizeof cases / sizeof cases[0];
    for (std::size_t k = 0; k < count; ++k) {
        const Case& c = cases[k];
        Recording_Host fresh;
        fresh.fields = host.fields;
        fresh.options = host.options;
        for (std::size_t later = count; later-- > k;)
            fresh.fields[cases[later].field] = cases[later].value;
        Marvane::run_generation(fresh);
        EXPECT_EQ(fresh.messages, Names{c.message}) << c.value;
        EXPECT_TRUE(fresh.controls_enabled);
        EXPECT_FALSE(fresh.busy);
        EXPECT_FALSE(fresh.terminated);
    }
    // Every path missing at once: the executable is reported first.
    for (Run_Text field : {Run_Text::Txt_Mame, Run_Text::Txt_SNAPPath, Run_Text::Txt_ROMPath,
                           Run_Text::TXT_OUTPUT, Run_Text::Txt_Cat})
        host.fields[field] = (root / "missing").string();
    run();
    EXPECT_EQ(host.messages, Names{"Error: Can't find Mame executable.|File not found"});
    EXPECT_FALSE(fs::exists(mame / "calls.log"));
    EXPECT_TRUE(output_names().empty());
}

TEST_F(Generator_Run, MissingCatverIsNotReportedWithoutCategories)
{
    write_file(out / "Maze.map", "kept\r\n");
    run();
    EXPECT_EQ(host.messages, Names{completed});
    EXPECT_EQ(output("Maze.map"), "kept\r\n");
    EXPECT_EQ(output_names(), (Names{"MAME.cfg", "Maze.map", "mame.map", "mame.rom"}));
}

TEST_F(Generator_Run, DirectoriesAreNormalisedAndWrittenBackBeforeTheChecks)
{
    host.fields[Run_Text::Txt_ROMPath] = root.string() + "\\roms\\\\";
    host.fields[Run_Text::Txt_SNAPPath] = snap.string() + "//";
    host.fields[Run_Text::TXT_OUTPUT] = root.string() + "/nowhere\\";
    const std::string exe_typed = host.fields[Run_Text::Txt_Mame];
    const std::string cat_typed = "cats\\catver.ini/";
    host.fields[Run_Text::Txt_Cat] = cat_typed;
    run();
    EXPECT_EQ(host.fields[Run_Text::Txt_ROMPath], roms.string());
    EXPECT_EQ(host.fields[Run_Text::Txt_SNAPPath], snap.string());
    EXPECT_EQ(host.fields[Run_Text::TXT_OUTPUT], root.string() + "/nowhere");
    EXPECT_EQ(host.fields[Run_Text::Txt_Mame], exe_typed);
    EXPECT_EQ(host.fields[Run_Text::Txt_Cat], cat_typed);
    EXPECT_EQ(host.messages, Names{"Error: Can't find Output Folder.|Folder not found"});
    // Start, the separators turned in field order, then the trailing ones cut.
    const Names expected = {"cursor busy",
                            "controls off",
                            "field 1 " + root.string() + "/roms//",
                            "field 2 " + snap.string() + "//",
                            "field 3 " + root.string() + "/nowhere/",
                            "field 1 " + roms.string(),
                            "field 2 " + snap.string(),
                            "field 3 " + root.string() + "/nowhere",
                            "cursor arrow",
                            "controls on"};
    EXPECT_EQ(host.events, expected);
}

TEST_F(Generator_Run, ListCommandsAndTheFilesWritten)
{
    // Run by root in a user's folder, what it makes there is the user's.
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    ASSERT_EQ(chown(out.c_str(), owner, -1), 0);
    run();
    ASSERT_EQ(host.messages, Names{completed});
    const std::string cwd = fs::current_path().string();
    // MAME refuses -gamelist; nothing needs its answer.
    EXPECT_EQ(calls(), (Names{cwd + "|[-gamelist]", cwd + "|[-listfull]"}));
    // The lists go to a folder of the run's own, which it removes: MAME's
    // folder is seldom the user's to write.
    std::vector<std::string> in_mame;
    for (const auto& entry : fs::directory_iterator(mame))
        in_mame.push_back(entry.path().filename().string());
    std::sort(in_mame.begin(), in_mame.end());
    EXPECT_EQ(in_mame, (Names{"calls.log", "fixture-listfull.txt", "mame"}));
    EXPECT_EQ(temp_left(), Names{});
    EXPECT_EQ(output("mame.map"), all_games_map());
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "puckman", "galaga", "sf2", "mrdo"}));
    EXPECT_EQ(output_names(), (Names{"MAME.cfg", "mame.map", "mame.rom"}));
    for (const std::string& name : output_names()) {
        struct stat info {};
        EXPECT_TRUE(stat((out / name).c_str(), &info) == 0 && info.st_uid == owner) << name;
    }

    const Names progress_start = {"Creating Mame -gamelist", "Creating Mame -listfull",
                                  "Opening -fulllist", "Creating .cfg files",
                                  "pacman  -  Pac-Man (Midway)     (0)",
                                  "puckman  -  PuckMan (Japan set 1)     (1)"};
    ASSERT_GE(host.progress.size(), progress_start.size());
    EXPECT_TRUE(std::equal(progress_start.begin(), progress_start.end(), host.progress.begin()));
    EXPECT_EQ(host.progress.back(), "mrdo  -  Mr. Do!     (4)");
    EXPECT_EQ(host.events.back(), "controls on");
    EXPECT_FALSE(host.terminated);

    set(Run_Option::Chk_But);
    write_file(mame / "fixture-listinfo.txt", "");
    run();
    EXPECT_EQ(calls().back(), cwd + "|[-listinfo]");
    EXPECT_EQ(calls().size(), 5u);
}

TEST_F(Generator_Run, AllGamesConfigurationByteForByte)
{
    write_file(out / "MAME.cfg", "old contents that must go\n");
    run();
    const std::string expected =
        "[EMULATOR]\r\n"
        "name = Mame Arcade Games\r\n"
        "description = All Games\r\n"
        "directory = " + mame.string() + "\r\n"
        "executable = mame\r\n"
        "global_options = \r\n"
        "pre_command = \r\n"
        "post_command = \r\n"
        "map_file = mame.map\r\n"
        "options_before_rom = no\r\n"
        "screen_shot_directory = " + snap.string() + "\r\n"
        "use_rom_file = yes\r\n"
        "rom_directory = " + roms.string() + "\r\n"
        "use_extension = \r\n"
        "use_rom_directory = no\r\n"
        "rom_extension = \r\n";
    EXPECT_EQ(output("MAME.cfg"), expected);
    EXPECT_EQ(Functions::MameDirectory, mame.string());
    EXPECT_EQ(Functions::MameExeName, "mame");
}

TEST_F(Generator_Run, CatverCategoriesMakeTheirOwnFiles)
{
    set(Run_Option::Chk_Cat);
    write_file(root / "catver.ini",
               ";; catver.ini 0.36 = x\r\n"
               "[Category]\r\n"
               "pacman=Maze / Collect\r\n"
               "puckman=Maze / Collect\r\n"
               "galaga=**Shooter*\r\n"
               "sf2 = Fighter\r\n"
               "\r\n"
               "[VerAdded]\r\n"
               "pacman=.36\r\n"
               "mrdo=Casino");  // the last line has no line end
    run();
    ASSERT_EQ(host.messages, Names{completed});
    EXPECT_EQ(output_names(),
              (Names{"Casino.cfg", "Casino.map", "Casino.rom", "Fighter.cfg", "Fighter.map",
                     "Fighter.rom", "MAME.cfg", "Maze .cfg", "Maze .map", "Maze .rom",
                     "Shooter.cfg", "Shooter.map", "Shooter.rom", "mame.map", "mame.rom"}));
    // The category files grow by appending within the run.
    EXPECT_EQ(output("Maze .map"),
              crlf({"pacman \"Pac-Man (Midway)\"", "puckman \"PuckMan (Japan set 1)\""}));
    EXPECT_EQ(output("Maze .rom"), crlf({"pacman", "puckman"}));
    EXPECT_EQ(output("Casino.rom"), crlf({"mrdo"}));
    EXPECT_EQ(output("mame.map"), all_games_map());

    const std::string maze = output("Maze .cfg");
    EXPECT_NE(maze.find("\r\ndescription = Maze  Games\r\n"), std::string::npos);
    EXPECT_NE(maze.find("\r\nmap_file = Maze .map\r\n"), std::string::npos);
    std::string all = output("MAME.cfg");
    all.replace(all.find("All Games"), 9, "Maze  Games");
    all.replace(all.find("mame.map"), 8, "Maze .map");
    EXPECT_EQ(maze, all);  // the other fourteen lines as in the all-games file

    // A second run starts the category files anew instead of doubling them.
    run();
    EXPECT_EQ(output("Maze .rom"), crlf({"pacman", "puckman"}));

    // More categories than files stay open: one closed to make room is
    // opened again to append, keeping what it had.
    std::string list = "Name: Description:\n", catver;
    for (int i = 0; i < 140; ++i) {
        list += numbered_game(i) + " \"Game " + std::to_string(i) + "\"\n";
        catver += numbered_game(i) + "=Kind" + std::to_string(i % 70) + "\n";
    }
    write_file(mame / "fixture-listfull.txt", list);
    write_file(root / "catver.ini", catver);
    run();
    for (int kind = 0; kind < 70; ++kind)
        EXPECT_EQ(output("Kind" + std::to_string(kind) + ".rom"),
                  crlf({numbered_game(kind), numbered_game(kind + 70)}));
}

TEST_F(Generator_Run, ExistingCategoryConfigurationIsKeptUnlessThisRunDeletedIt)
{
    set(Run_Option::Chk_Cat);
    write_file(root / "catver.ini", "pacman=Maze\nmrdo=Casino\n");
    write_file(out / "Maze.cfg", "stale\r\n");
    write_file(out / "Maze.rom", "stale\r\n");
    write_file(out / "Retired.cfg", "kept\r\n");
    write_file(out / "Retired.rom", "kept\r\n");
    run();
    EXPECT_EQ(output("Retired.cfg"), "kept\r\n");
    EXPECT_EQ(output("Retired.rom"), "kept\r\n");
    EXPECT_NE(output("Maze.cfg"), "stale\r\n");
    EXPECT_EQ(output("Maze.rom"), crlf({"pacman"}));

    // Without categories nothing of the category files is touched, and the
    // earlier run's table does not bring them back.
    write_file(out / "Casino.cfg", "edited\r\n");
    fs::remove(out / "Maze.cfg");
    set(Run_Option::Chk_Cat, false);
    run();
    EXPECT_EQ(output("Casino.cfg"), "edited\r\n");
    EXPECT_FALSE(fs::exists(out / "Maze.cfg"));
    EXPECT_EQ(output("Maze.rom"), crlf({"pacman"}));
}

TEST_F(Generator_Run, ButtonFilterRejectsFourOrMoreButtons)
{
    set(Run_Option::Chk_But);
    write_file(mame / "fixture-listfull.txt",
               "Name: Description:\nthree \"Three\"\nfour \"Four\"\nten \"Ten\"\nabsent \"Absent\"\n");
    write_file(mame / "fixture-listinfo.txt",
               "game (\n\tname three\n\tinput ( players 2 buttons 3 coins 1 )\n)\n"
               "game (\n\tname four\n\tinput ( players 2 buttons 4 coins 1 )\n)\n"
               "game (\n\tname ten\n\tinput ( players 2 buttons 10 coins 1 )\n)\n");
    run();
    ASSERT_EQ(host.messages, Names{completed});
    EXPECT_EQ(output("mame.rom"), crlf({"three", "absent"}));
    EXPECT_NE(std::find(host.progress.begin(), host.progress.end(),
                        "Extracting Button Information from DAT File"),
              host.progress.end());
}

TEST_F(Generator_Run, ButtonCountThatIsNoNumberEndsTheRunWithItsText)
{
    set(Run_Option::Chk_But);
    write_file(mame / "fixture-listinfo.txt", "game (\n\tname galaga\n\tinput ( buttons 1)\n)\n");
    run();
    EXPECT_EQ(host.messages, Names{"'1)' is not a valid integer value|Tovan Marvane Tools"});
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "puckman"}));  // written so far
    EXPECT_TRUE(host.controls_enabled);
    EXPECT_FALSE(host.busy);
}

TEST_F(Generator_Run, WordFilterLooksAtDescriptionsIgnoringCase)
{
    set(Run_Option::Chk_FiltNames);
    host.fields[Run_Text::Txt_Games] = "japan;;WARRIOR";
    run();
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "galaga", "mrdo"}));

    // One word without ";" is one word; words never match the game's name.
    host.fields[Run_Text::Txt_Games] = "galaga";
    run();
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "puckman", "sf2", "mrdo"}));
    host.fields[Run_Text::Txt_Games] = "pacman";
    run();
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "puckman", "galaga", "sf2", "mrdo"}));
    host.fields[Run_Text::Txt_Games] = "";
    run();
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "puckman", "galaga", "sf2", "mrdo"}));
}

TEST_F(Generator_Run, RomAndSnapshotFilters)
{
    set(Run_Option::Chk_ROMEXist);
    write_file(roms / "pacman.zip", "");
    fs::create_directory(roms / "galaga");
    fs::create_directory(roms / "mrdo.zip");  // a folder named like a ZIP is no ZIP
    run();
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "galaga"}));

    set(Run_Option::Chk_ROMEXist, false);
    set(Run_Option::Chk_SNAPEXist);
    write_file(snap / "sf2.gif", "");
    write_file(snap / "mrdo.jpeg", "");
    write_file(snap / "galaga.txt", "");
    run();
    EXPECT_EQ(output("mame.rom"), crlf({"sf2", "mrdo"}));
}

TEST_F(Generator_Run, VerificationAsksMameForEachGame)
{
    set(Run_Option::Chk_verify);
    set(Run_Option::Chk_ROMEXist);
    // A bad set's first line names a ROM with "NO GOOD DUMP KNOWN"; a set
    // whose best is a dump that needs redoing is as good as it gets; a clone
    // names its parent; galaga has no ROMs at all.
    write_file(mame / "fixture-verify.txt",
               "pacman bad puckman\npuckman good\nsf2 best\nmrdo good puckman\n");
    for (const char* set : {"pacman.zip", "puckman.zip", "sf2.zip", "mrdo.zip"})
        write_file(roms / set, "");
    // Folders typed relative to where the program started, twice over.
    fs::current_path(root);
    host.fields = {{Run_Text::Txt_Mame, "mame/mame"}, {Run_Text::Txt_ROMPath, "roms"},
                   {Run_Text::Txt_SNAPPath, "snap"}, {Run_Text::TXT_OUTPUT, "out"}};
    run();
    run();
    EXPECT_EQ(fs::current_path(), root);
    ASSERT_EQ(host.messages, (Names{completed, completed}));
    EXPECT_EQ(output("mame.rom"), crlf({"puckman", "sf2", "mrdo"}));
    // galaga, without a set in the ROM folder, is not asked about.
    const Names log = calls();
    ASSERT_EQ(log.size(), 12u);
    EXPECT_EQ(log[2], mame.string() + "|[-verifyroms][pacman][-rp][" + roms.string() + "]");
    EXPECT_EQ(log[5], mame.string() + "|[-verifyroms][mrdo][-rp][" + roms.string() + "]");
    EXPECT_FALSE(fs::exists(mame / "vgame9.txt"));
    EXPECT_EQ(temp_left(), Names{});
    // A bare name is the MAME of the current folder, never one on PATH.
    fs::current_path(mame);
    host.fields = {{Run_Text::Txt_Mame, "mame"}, {Run_Text::Txt_ROMPath, "../roms"},
                   {Run_Text::Txt_SNAPPath, "../snap"}, {Run_Text::TXT_OUTPUT, "../out"}};
    run();
    EXPECT_EQ(host.messages.back(), completed);
    EXPECT_EQ(calls().size(), 18u);

    // A check without a verdict ends the run at sf2: a MAME that no longer
    // knows the name, one killed, one that fails (as without a display), one
    // that ends well but says nothing. Sets bad (pacman) or not found
    // (galaga) are only left out.
    write_file(roms / "galaga.zip", "");
    write_file(mame / "fixture-verify.txt", "pacman bad puckman\npuckman good\n");
    const std::string fake = read_file(exe);
    const std::pair<fs::path, std::string> failing[] = {
        {mame / "fixture-listfull.txt", "Name:     Description:\n"},
        {exe, "#!/bin/sh\nkill -s KILL $$\n"},
        {exe, "#!/bin/sh\necho \"$0: cannot open display\" >&2\nexit 1\n"},
        {exe, "#!/bin/sh\nexit 0\n"}};
    const std::string said[] = {
        "failed with exit code 5: No matching systems found for 'sf2'",
        "failed with exit code 137: killed by signal 9, Killed.",
        "failed with exit code 1: ./mame: cannot open display", "gave no verdict."};
    for (int k = 0; k < 4; ++k) {
        host.messages.clear();
        host.on_progress = [&](const std::string& text) {
            if (text.rfind("sf2 ", 0) == 0)
                write_file(failing[k].first, failing[k].second);
        };
        write_file(mame / "fixture-listfull.txt", default_full_list());
        write_file(exe, fake);
        run();
        EXPECT_EQ(host.messages, Names{"Mame -verifyroms sf2 " + said[k] +
                                       "\nThe catalogue files hold only the games written "
                                       "before it.|Tovan Marvane Tools"});
        EXPECT_EQ(output("mame.rom"), crlf({"puckman"}));
    }
}

TEST_F(Generator_Run, PathsWithShellCharactersStayOneWord)
{
    // Blanks, quotes and the shell's expansion characters in the MAME, ROM
    // and temporary directories reach MAME as they stand.
    const fs::path odd_mame = root / "ma me's $HOME `true`";
    const fs::path odd_roms = root / "ro ms \"x\" ;";
    const fs::path odd_temp = root / "t m'p $(touch hacked)";
    fs::rename(mame, odd_mame);
    fs::rename(roms, odd_roms);
    fs::rename(temp, odd_temp);
    mame = odd_mame;
    roms = odd_roms;
    temp = odd_temp;
    setenv("TMPDIR", temp.c_str(), 1);
    exe = mame / "mame";
    host.fields[Run_Text::Txt_Mame] = exe.string();
    host.fields[Run_Text::Txt_ROMPath] = roms.string();
    const fs::path start = fs::current_path();
    // So does a game name that reads as commands.
    const std::string list = default_full_list() + "pwn;touch${IFS}hacked \"Evil\"\n"s;
    write_file(mame / "fixture-listfull.txt", list);
    set(Run_Option::Chk_verify);
    write_file(mame / "fixture-verify.txt", "galaga good\n");
    write_file(roms / "galaga.zip", "");
    run();
    ASSERT_EQ(host.messages, Names{completed});
    EXPECT_EQ(output("mame.rom"), crlf({"galaga"}));
    const Names log = calls();
    ASSERT_EQ(log.size(), 8u);
    // The ROM folder, whose ";" MAME would read as a break between
    // folders, comes as a link of the run's folder, which goes with it.
    const std::size_t rp = log[4].find("][-rp][") + 7;
    const std::string link = log[4].substr(rp, log[4].size() - rp - 1);
    EXPECT_EQ(fs::path(link).parent_path().parent_path(), temp);
    EXPECT_EQ(log[4], mame.string() + "|[-verifyroms][galaga][-rp][" + link + "]");
    EXPECT_EQ(log[7], mame.string() + "|[-verifyroms][pwn;touch${IFS}hacked][-rp][" + link + "]");
    EXPECT_TRUE(fs::exists(roms / "galaga.zip"));
    EXPECT_FALSE(fs::exists(mame / "hacked"));
    EXPECT_FALSE(fs::exists(start / "hacked"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 5);
    EXPECT_EQ(temp_left(), Names{});
    EXPECT_NE(output("MAME.cfg").find("\r\ndirectory = " + mame.string() + "\r\n"),
              std::string::npos);

    // A link whose own path holds ";" is no way round: the run ends before
    // the output is touched.
    setenv("TMPDIR", roms.c_str(), 1);
    fs::remove(out / "mame.rom");
    run();
    EXPECT_EQ(host.messages.back(), "Cannot hand the ROM Folder \"" + roms.string() +
                                        "\" to Mame, which reads \";\" as a break between "
                                        "folders.|Tovan Marvane Tools");
    EXPECT_FALSE(fs::exists(out / "mame.rom"));

    // A MAME typed relative, in a folder cd could take for an option.
    setenv("TMPDIR", temp.c_str(), 1);
    fs::rename(mame, root / "-x");
    mame = root / "-x";
    fs::current_path(root);
    host.fields[Run_Text::Txt_Mame] = "-x/mame";
    run();
    EXPECT_EQ(host.messages.back(), completed);
    EXPECT_EQ(output("mame.rom"), crlf({"galaga"}));

    // A ROM or snapshot folder whose name breaks a line of MAME.cfg ends
    // the run before MAME or a file is touched.
    const std::size_t calls_made = calls().size();
    const std::string cfg = output("MAME.cfg");
    const std::tuple<Run_Text, const char*, const char*> folders[] = {
        {Run_Text::Txt_ROMPath, "ROM", "a\nuse_rom_file = no"},
        {Run_Text::Txt_SNAPPath, "SNAP", "b\rc"}};
    for (const auto& [field, name, folder] : folders) {
        const fs::path broken = root / folder;
        fs::create_directories(broken);
        const std::string kept = std::exchange(host.fields[field], broken.string());
        run();
        host.fields[field] = kept;
        EXPECT_EQ(host.messages.back(), "Cannot write the "s + name + " Folder \"" +
                                            broken.string() + "\" into MAME.cfg, which ends a "
                                            "value at a line break.|Tovan Marvane Tools");
    }
    EXPECT_EQ(calls().size(), calls_made);
    EXPECT_EQ(output("MAME.cfg"), cfg);
    EXPECT_EQ(output_names(), (Names{"MAME.cfg", "mame.map", "mame.rom"}));
}

TEST_F(Generator_Run, WorkingFilterUsesTheDriverStatus)
{
    set(Run_Option::Chk_Working);
    write_file(mame / "fixture-listinfo.txt",
               "game (\n\tname pacman\n\tdriver ( status good )\n)\n"
               "game (\n\tname galaga\n\tdriver ( status imperfect )\n)\n"
               "game (\n\tname sf2\n\tdriver ( status preliminary )\n)\n");
    run();
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "galaga"}));
    EXPECT_EQ(calls().back(), fs::current_path().string() + "|[-listinfo]");
}

TEST_F(Generator_Run, StopDuringTheGameLoopKeepsWhatWasWritten)
{
    set(Run_Option::Chk_Cat);
    write_file(root / "catver.ini", "pacman=Maze\npuckman=Maze\nsf2=Maze\n");
    host.on_progress = [](const std::string& text) {
        if (text.rfind("galaga  -", 0) == 0)
            Functions::StopRequested = true;
    };
    run();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.terminated);
    EXPECT_EQ(host.events.back(), "terminate");
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "puckman", "galaga"}));
    EXPECT_EQ(output("mame.map"),
              crlf({"pacman \"Pac-Man (Midway)\"", "puckman \"PuckMan (Japan set 1)\"",
                    "galaga \"Galaga (Namco rev. B)\""}));
    // The category files too hold what was written before the stop.
    EXPECT_EQ(output("Maze.rom"), crlf({"pacman", "puckman"}));
    EXPECT_EQ(output("Maze.map"),
              crlf({"pacman \"Pac-Man (Midway)\"", "puckman \"PuckMan (Japan set 1)\""}));
}

TEST_F(Generator_Run, StopDuringTheButtonScanEndsAtOnce)
{
    set(Run_Option::Chk_But);
    write_file(mame / "fixture-listinfo.txt", "game (\n\tname pacman\n\tinput ( buttons 2 )\n)\n");
    host.on_progress = [](const std::string& text) {
        if (text == "Extracting Button Information from DAT File")
            Functions::StopRequested = true;
    };
    run();
    EXPECT_TRUE(host.terminated);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(output_names().empty());
}

TEST_F(Generator_Run, MameFailureStopsBeforeTheOutputIsTouched)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string message;
    };
    const std::string failing = "#!/bin/sh\necho \"$0: cannot open display\" >&2\nexit 1\n";
    // marvolist ignores SIGXFSZ; MAME, passing a file-size limit, must still die of it.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{}, limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const Case cases[] = {
        {"a program that a file-size limit ends", [&] {
             write_file(exe, "#!/bin/sh\nhead -c 99999 /dev/zero\n");
             limit = {4096, unlimited.rlim_max};
             setrlimit(RLIMIT_FSIZE, &limit); },
         "Mame -listfull failed with exit code 153: killed by signal 25, File size limit exceeded: "
         "File size limit exceeded"},
        {"a program that fails", [&] { write_file(exe, failing); },
         "Mame -listfull failed with exit code 1: " + exe.string() + ": cannot open display"},
        {"a program that cannot run", [&] { fs::permissions(exe, fs::perms::all,
                                                            fs::perm_options::remove); },
         "Mame -listfull failed with exit code 126: /bin/sh: 1: " + exe.string() +
             ": Permission denied"},
        {"a program that says a megabyte in one line",
         [&] { write_file(exe, "#!/bin/sh\nhead -c 1000000 /dev/zero | tr '\\0' x >&2\nexit 3\n"); },
         "Mame -listfull failed with exit code 3: " + std::string(300, 'x') + "..."},
        {"a program whose line is cut inside a character",
         [&] { write_file(exe, "#!/bin/sh\nprintf '%0299d\\303\\251' 0 >&2\nexit 3\n"); },
         "Mame -listfull failed with exit code 3: " + std::string(299, '0') + "..."},
        {"a program that says a NUL",
         [&] { write_file(exe, "#!/bin/sh\nprintf 'cannot\\0 open' >&2\nexit 3\n"); },
         "Mame -listfull failed with exit code 3: cannot open"},
        {"a list of no machine",
         [&] { write_file(mame / "fixture-listfull.txt", "Name:     Description:\n\nx\n"); },
         "Mame -listfull listed no machine."},
        {"buttons from a MAME without -listinfo", [&] { set(Run_Option::Chk_But); },
         "Mame -listinfo failed with exit code 6: Error: unknown option: -listinfo"},
        {"working games from a MAME without -listinfo", [&] { set(Run_Option::Chk_Working); },
         "Mame -listinfo failed with exit code 6: Error: unknown option: -listinfo"},
    };
    write_file(root / "catver.ini", "pacman=Maze\n");
    const std::string fake = read_file(exe);
    const auto fields = host.fields;
    for (const Case& c : cases) {
        host = Recording_Host();
        host.fields = fields;
        for (const fs::path& file : {out / "mame.map", out / "mame.rom", out / "MAME.cfg",
                                     out / "Maze.rom", out / "Maze.cfg"})
            write_file(file, "earlier run\r\n");
        write_file(exe, fake);
        fs::permissions(exe, fs::perms::owner_all, fs::perm_options::add);
        write_file(mame / "fixture-listfull.txt", default_full_list());
        set(Run_Option::Chk_Cat);
        set(Run_Option::Chk_FiltNames);
        c.arrange();
        run();
        setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_EQ(host.messages, Names{c.message + "|Tovan Marvane Tools"}) << c.what;
        EXPECT_EQ(output_names(),
                  (Names{"MAME.cfg", "Maze.cfg", "Maze.rom", "mame.map", "mame.rom"}))
            << c.what;
        for (const std::string& name : output_names())
            EXPECT_EQ(output(name), "earlier run\r\n") << c.what << " " << name;
        EXPECT_TRUE(host.controls_enabled);
        EXPECT_FALSE(host.busy);
        EXPECT_EQ(temp_left(), Names{}) << c.what;
    }
}

TEST_F(Generator_Run, TablesGrowWithAFullMameList)
{
    set(Run_Option::Chk_Cat);
    set(Run_Option::Chk_But);
    std::string list = "Name: Description:\n";
    std::string catver = "[Category]\n";
    std::string info;
    for (int i = 0; i < 9000; ++i) {
        const std::string name = numbered_game(i);
        list += name + " \"Game " + std::to_string(i) + "\"\n";
        catver += name + "=" + (i < 8500 ? "Early" : "Late") + "\n";
        const std::string buttons = i == 8999 ? "6" : "2";
        info.append("game (\n\tname ").append(name).append("\n\tinput ( buttons ");
        info.append(buttons).append(" )\n)\n");
    }
    write_file(mame / "fixture-listfull.txt", list);
    write_file(mame / "fixture-listinfo.txt", info);
    write_file(root / "catver.ini", catver);
    run();
    ASSERT_EQ(host.messages, Names{completed});
    // Entries past 8000 sort their games, and the last one's buttons count.
    std::string late;
    for (int i = 8500; i < 8999; ++i)
        late += numbered_game(i) + "\r\n";
    EXPECT_EQ(output("Late.rom"), late);
    EXPECT_TRUE(fs::exists(out / "Late.cfg"));
    EXPECT_EQ(host.progress.back(), "g8999  -  Game 8999     (8999)");
}

TEST_F(Generator_Run, HostileCategoriesAndListLinesStayInsideTheOutput)
{
    set(Run_Option::Chk_Cat);
    write_file(mame / "fixture-listfull.txt",
               "Name: Description:\n"
               "pacman \"Pac-Man\"\n"
               "nameonly\n"
               "\n"
               "noquote here\n"
               "galaga \"Galaga\"\n"
               "sf2 \"Nul\0Byte\"\n"s);
    write_file(root / "catver.ini",
               "pacman=..\n"
               "pacman=\\..\\x\n"
               "galaga=  \n"
               "galaga=*\n"
               "galaga= / Sub\n"
               "noquote=a\\b\n"
               "sf2=Nul\0Cat\n"
               "sf2=..\\..\\etc\n"
               "pacman=Maze\n"s);
    run();
    ASSERT_EQ(host.messages, Names{completed});
    EXPECT_EQ(output_names(),
              (Names{"MAME.cfg", "Maze.cfg", "Maze.map", "Maze.rom", "mame.map", "mame.rom"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 6);  // with tmp
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "noquote", "galaga", "sf2"}));
    EXPECT_EQ(output("mame.map"), crlf({"pacman \"Pac-Man\"", "noquote \"noquote her\"",
                                        "galaga \"Galaga\"",
                                        "sf2 \"Nul\0Byte\""s}));
}

TEST_F(Generator_Run, FiftyMegabyteLineWithoutBlanksIsNoGame)
{
    set(Run_Option::Chk_Cat);
    write_file(root / "catver.ini", "pacman=Maze\n" + std::string(1 << 20, '=') + "\n");
    std::string list = "Name: Description:\npacman \"Pac-Man\"\n";
    list.append(50u << 20, 'x');
    list += "\"\nmrdo \"Mr. Do!\"";  // the last line has no line end
    write_file(mame / "fixture-listfull.txt", list);
    run();
    ASSERT_EQ(host.messages, Names{completed});
    EXPECT_EQ(output("mame.rom"), crlf({"pacman", "mrdo"}));
    EXPECT_EQ(output("Maze.rom"), crlf({"pacman"}));
    EXPECT_EQ(output_names(), (Names{"MAME.cfg", "Maze.cfg", "Maze.map", "Maze.rom", "mame.map",
                                     "mame.rom"}));
}

TEST_F(Generator_Run, ProgressTextsAndPumpsBeforeTheGameLoop)
{
    set(Run_Option::Chk_Cat);
    set(Run_Option::Chk_But);
    write_file(root / "catver.ini", "pacman=Maze\n");
    write_file(mame / "fixture-listinfo.txt", "");
    int pumps_at_first_game = -1;
    host.on_progress = [&](const std::string& text) {
        if (text.rfind("pacman  -  ", 0) == 0)
            pumps_at_first_game = host.pumps;
    };
    run();
    ASSERT_EQ(host.messages, Names{completed});
    const Names expected = {"Creating Mame -gamelist",
                            "Creating Mame -listfull",
                            "Creating Mame - ListInfo DAT File",
                            "Extracting Button Information from DAT File",
                            "Opening -fulllist",
                            "Reading catver.ini into memory",
                            "Creating .cfg files",
                            "pacman  -  Pac-Man (Midway)     (0)"};
    ASSERT_GE(host.progress.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), host.progress.begin()));
    // Two at the start, one before each of the three MAME runs, one after
    // opening the full list, one before and one after the catver.ini
    // progress text, one after the .cfg one and one between "mame.map" and
    // "mame.rom".
    EXPECT_EQ(pumps_at_first_game, 10);
}

TEST_F(Generator_Run, GameLoopPumpsEveryFourthLineFromTheFifth)
{
    std::string list = "Name: Description:\n";
    for (int i = 1; i <= 13; ++i)
        list += numbered_game(i) + " \"Game\"\n";
    write_file(mame / "fixture-listfull.txt", list);
    std::vector<int> pumps_at_line;
    host.on_progress = [&](const std::string& text) {
        if (text.rfind("g", 0) == 0)
            pumps_at_line.push_back(host.pumps);
    };
    run();
    ASSERT_EQ(pumps_at_line.size(), 13u);
    std::vector<int> pumped_after;  // lines (1-based) followed by a pump
    for (std::size_t i = 0; i + 1 < pumps_at_line.size(); ++i)
        if (pumps_at_line[i + 1] != pumps_at_line[i])
            pumped_after.push_back(static_cast<int>(i) + 1);
    EXPECT_EQ(pumped_after, (std::vector<int>{5, 9}));
}
