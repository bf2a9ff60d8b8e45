#include "launcher/bgctrl.h"

#include <memory>

#include "launcher/mp3bg.h"
#include "music_env.h"
#include "support/fileutil.h"

using Marvane::MP3_Music_Controller;
using Marvane::Null_Music_Controller;
using music_test::Music_Test;
using music_test::read_text;

namespace {

class Controller_Test : public Music_Test {
protected:
  void write(const std::string &name, const std::string &text) { std::ofstream(name, std::ios::binary) << text; }

  // marvo.cfg naming the playlist, and the controller reading it.
  void load(const std::string &playlist_text, const std::string &extra = "") {
    write("list.txt", playlist_text);
    write("marvo.cfg", "[Main]\nmp3_playlist_file = list.txt\n" + extra);
    Config_File cfg("marvo.cfg");
    controller.load_config(&cfg);
  }

  Marvane::MP3_Background_Almp3_Stream &player() {
    return dynamic_cast<Marvane::MP3_Background_Almp3_Stream &>(*controller.get_player());
  }

  void restore(const std::string &state_text) {
    write("marvo.sta", state_text);
    Config_File sta("marvo.sta");
    controller.restore_state(&sta);
  }

  MP3_Music_Controller controller{nullptr};
};

} // namespace

TEST_F(Controller_Test, PlaylistTakesTheFirstWordOfEachEntryLine) {
  load("# the cabinet's songs\n\n   \n   low.mp3\nmid.mp3 and other words\n\t#mid.mp3\n");
  EXPECT_EQ(controller.get_playlist(), (std::vector<std::string>{"low.mp3", "mid.mp3"}));
  EXPECT_EQ(music_test::count_lines_ending(log(), "[Info] MP3 playlist contains 2 files"), 1);
  EXPECT_EQ(player().get_current_mp3_name(), "low.mp3") << "the player got the playlist";
}

TEST_F(Controller_Test, PlaylistOfCarriageReturnsTabsAndNulBytes) {
  using namespace std::string_literals;
  load("low.mp3\r\n\tmid.mp3\tx\r\nhigh\0.mp3 y\n\0\nlast"s);
  EXPECT_EQ(controller.get_playlist(), (std::vector<std::string>{"low.mp3", "mid.mp3", "high", "last"}));
}

TEST_F(Controller_Test, NoPlaylistNameMeansNoLogLineAndAMissingFileZeroFiles) {
  write("marvo.cfg", "[Main]\n");
  Config_File cfg("marvo.cfg");
  controller.load_config(&cfg);
  EXPECT_TRUE(controller.get_playlist().empty());
  EXPECT_EQ(log().find("MP3 playlist"), std::string::npos);

  write("marvo.cfg", "[Main]\nmp3_playlist_file = nowhere/list.txt\n");
  controller.load_config(&cfg);
  EXPECT_TRUE(controller.get_playlist().empty());
  EXPECT_EQ(music_test::count_lines_ending(log(), "[Info] MP3 playlist contains 0 files"), 1);
}

TEST_F(Controller_Test, HugePlaylistsAreReadWithoutTrouble) {
  // 100 MB in lines of 100 000 characters
  {
    std::ofstream out("list.txt", std::ios::binary);
    const std::string line = std::string(99999, 'a') + "\n";
    for (int i = 0; i < 1000; ++i)
      out << line;
  }
  write("marvo.cfg", "[Main]\nmp3_playlist_file = list.txt\n");
  Config_File cfg("marvo.cfg");
  controller.load_config(&cfg);
  ASSERT_EQ(controller.get_playlist().size(), 1000u);
  EXPECT_EQ(controller.get_playlist()[999].size(), 99999u);

  // Exactly as many entries as a playlist may hold: nothing is cut.
  {
    std::ofstream out("list.txt", std::ios::binary);
    for (std::size_t i = 0; i < MP3_Music_Controller::MAX_PLAYLIST_ENTRIES; ++i)
      out << "s" << i << ".mp3\n";
    out << "# a comment after the last entry\n\n";
  }
  controller.load_config(&cfg);
  EXPECT_EQ(controller.get_playlist().size(), MP3_Music_Controller::MAX_PLAYLIST_ENTRIES);
  EXPECT_EQ(log().find("MP3 playlist is cut"), std::string::npos);

  // More entries than a playlist may hold: the rest is left out, with a word.
  {
    std::ofstream out("list.txt", std::ios::binary);
    for (std::size_t i = 0; i < MP3_Music_Controller::MAX_PLAYLIST_ENTRIES + 10; ++i)
      out << "s" << i << ".mp3\n";
  }
  controller.load_config(&cfg);
  EXPECT_EQ(controller.get_playlist().size(), MP3_Music_Controller::MAX_PLAYLIST_ENTRIES);
  EXPECT_EQ(controller.get_playlist().back(), "s65535.mp3");
  EXPECT_NE(log().find("[Warn] MP3 playlist is cut after 65536 files"), std::string::npos);
}

TEST_F(Controller_Test, VolumeIsClampedToItsRange) {
  load("low.mp3\n");
  EXPECT_EQ(player().get_volume(), 255) << "default 1000";
  load("low.mp3\n", "mp3_volume = 1500\n");
  EXPECT_EQ(player().get_volume(), 255);
  load("low.mp3\n", "mp3_volume = -5\n");
  EXPECT_EQ(player().get_volume(), 0);
  load("low.mp3\n", "mp3_volume = 600\n");
  EXPECT_EQ(player().get_volume(), 153);
}

TEST_F(Controller_Test, RestoreSeeksOnlyWhenTheSavedNameStandsAtTheSavedIndex) {
  start_sound();
  load("low.mp3\nmid.mp3\nhigh.mp3\n");
  restore("[Main]\nlast_mp3_file = high.mp3\nlast_mp3_position = 1234\nlast_mp3_index = 2\n");
  EXPECT_EQ(player().get_current_mp3_index(), 2u);
  EXPECT_TRUE(player().is_suspended()) << "restoring opens nothing";
  player().resume();
  EXPECT_EQ(player().get_current_mp3_index(), 2u);
  EXPECT_EQ(player().get_current_position(), 1234);
}

TEST_F(Controller_Test, AnotherNameAtTheSavedIndexStartsFromTheTop) {
  start_sound();
  load("low.mp3\nmid.mp3\nhigh.mp3\n");
  restore("[Main]\nlast_mp3_file = High.mp3\nlast_mp3_position = 1234\nlast_mp3_index = 2\n");
  player().resume();
  EXPECT_EQ(player().get_current_mp3_index(), 0u);
  EXPECT_EQ(player().get_current_position(), 0);
}

TEST_F(Controller_Test, IndicesOutsideThePlaylistAreIgnored) {
  load("low.mp3\nmid.mp3\n");
  restore("[Main]\nlast_mp3_file = low.mp3\nlast_mp3_position = 99\nlast_mp3_index = -1\n");
  EXPECT_EQ(player().get_current_mp3_index(), 0u);
  restore("[Main]\nlast_mp3_file = mid.mp3\nlast_mp3_position = 99\nlast_mp3_index = 2\n");
  EXPECT_EQ(player().get_current_mp3_index(), 0u);
  restore("[Main]\nlast_mp3_file = mid.mp3\nlast_mp3_position = 99\nlast_mp3_index = 1\n");
  EXPECT_EQ(player().get_current_mp3_index(), 1u);
}

TEST_F(Controller_Test, SaveWritesTheThreeKeysAndSkipMovesOn) {
  load("low.mp3\nmid.mp3\nhigh.mp3\n");
  restore("[Main]\ncurrent_emu = mame\nlast_mp3_index = 0\n");
  controller.skip_to_next_song();
  controller.skip_to_next_song();
  controller.start_song_over();
  Config_File sta("marvo.sta");
  controller.save_state(&sta);
  std::unique_ptr<Config_Section> main(sta.get_section("Main"));
  EXPECT_EQ(main->get_string("last_mp3_file", "?"), "high.mp3");
  EXPECT_EQ(main->get_int("last_mp3_position", -7), 0);
  EXPECT_EQ(main->get_int("last_mp3_index", -7), 2);
  EXPECT_EQ(main->get_string("current_emu", ""), "mame") << "other keys are kept";
}

TEST_F(Controller_Test, AnUnreadablePlaylistStillSavesEmptyState) {
  write("marvo.cfg", "[Main]\nmp3_playlist_file = missing.txt\n");
  Config_File cfg("marvo.cfg");
  controller.load_config(&cfg);
  write("marvo.sta", "[Main]\nlast_mp3_file = old.mp3\nlast_mp3_position = 55\nlast_mp3_index = 3\n");
  Config_File sta("marvo.sta");
  controller.restore_state(&sta);
  controller.save_state(&sta);
  std::unique_ptr<Config_Section> main(sta.get_section("Main"));
  // An empty value reads like a missing key: the old name is gone.
  EXPECT_EQ(main->get_string("last_mp3_file", "none"), "none");
  EXPECT_EQ(main->get_int("last_mp3_position", -7), 0);
  EXPECT_EQ(main->get_int("last_mp3_index", -7), 0);
}

TEST_F(Controller_Test, TheNullControllerLeavesTheStateFileAlone) {
  const std::string before = "[Main]\nlast_mp3_file = old.mp3\nlast_mp3_position = 55\nlast_mp3_index = 3\n";
  write("marvo.sta", before);
  write("marvo.cfg", "[Main]\nmp3_playlist_file = list.txt\n");
  Null_Music_Controller none;
  Config_File cfg("marvo.cfg"), sta("marvo.sta");
  none.load_config(&cfg);
  none.restore_state(&sta);
  none.skip_to_next_song();
  none.start_song_over();
  none.save_state(&sta);
  EXPECT_EQ(read_text("marvo.sta"), before);
  EXPECT_EQ(log().find("MP3 playlist"), std::string::npos);
}
