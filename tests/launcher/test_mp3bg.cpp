#include "launcher/mp3bg.h"

#include <memory>

#include "music_env.h"
#include "support/fileutil.h"

using Marvane::MP3_Background;
using Marvane::MP3_Background_Almp3_Stream;
using music_test::Music_Test;

namespace {

class Player_Test : public Music_Test {
protected:
  void SetUp() override {
    Music_Test::SetUp();
    start_sound();
  }

  // Polls until the player moves to another entry; that entry's index, or -1
  // when nothing changed in time.
  int next_index(double seconds = 15) {
    const unsigned int from = player.get_current_mp3_index();
    int to = -1;
    within(seconds, [&] {
      player.poll();
      if (player.get_current_mp3_index() != from)
        to = static_cast<int>(player.get_current_mp3_index());
      return to >= 0;
    });
    return to;
  }

  MP3_Background_Almp3_Stream player;
};

} // namespace

TEST_F(Player_Test, CreateMakesASuspendedStreamPlayer) {
  std::unique_ptr<MP3_Background> made(MP3_Background::create());
  auto *stream = dynamic_cast<MP3_Background_Almp3_Stream *>(made.get());
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(stream->is_suspended());
  EXPECT_EQ(stream->get_volume(), 255);
  EXPECT_EQ(stream->get_current_mp3_index(), 0u);
}

TEST_F(Player_Test, PlaysThePlaylistInOrderAndThenTheFirstAgain) {
  player.set_playlist({"low.mp3", "mid.mp3", "high.mp3"});
  player.resume();
  EXPECT_FALSE(player.is_suspended());
  EXPECT_EQ(player.get_current_mp3_name(), "low.mp3");
  EXPECT_EQ(next_index(), 1);
  EXPECT_FALSE(player.is_suspended());
  EXPECT_EQ(next_index(), 2);
  EXPECT_EQ(next_index(), 0);
  EXPECT_FALSE(player.is_suspended());
  EXPECT_EQ(open_warnings("low.mp3") + open_warnings("mid.mp3") + open_warnings("high.mp3"), 0);
}

TEST_F(Player_Test, SeekOnASuspendedPlayerResumesThereAndKeepsThePositionOnSuspend) {
  player.set_playlist({"low.mp3", "long.mp3", "high.mp3"});
  player.seek(1, 5000);
  EXPECT_TRUE(player.is_suspended());
  EXPECT_EQ(player.get_current_mp3_index(), 1u);
  player.resume();
  ASSERT_FALSE(player.is_suspended());
  EXPECT_EQ(player.get_current_position(), 5000) << "nothing decoded yet";
  int playing = 0;
  ASSERT_TRUE(within(15, [&] {
    player.poll();
    playing = player.get_current_position();
    return playing > 5000 + 20000;
  }));
  EXPECT_LE(playing, file_size(std::string("long.mp3")));
  player.suspend();
  EXPECT_TRUE(player.is_suspended());
  EXPECT_EQ(player.get_current_position(), playing);
  EXPECT_EQ(player.get_current_mp3_index(), 1u);
  player.poll(); // does nothing while suspended
  EXPECT_EQ(player.get_current_position(), playing);
}

TEST_F(Player_Test, SeekBeyondThePlaylistStartsTheFirstEntryAtItsBeginning) {
  player.set_playlist({"low.mp3", "mid.mp3"});
  player.resume();
  player.seek(1, 300);
  EXPECT_EQ(player.get_current_mp3_index(), 1u);
  EXPECT_EQ(player.get_current_position(), 300);
  player.seek(2, 700);
  EXPECT_FALSE(player.is_suspended());
  EXPECT_EQ(player.get_current_mp3_index(), 0u);
  EXPECT_EQ(player.get_current_position(), 0);
}

TEST_F(Player_Test, AMissingEntryIsSkippedWithOneWarning) {
  player.set_playlist({"low.mp3", "missing.mp3", "high.mp3"});
  player.resume();
  EXPECT_EQ(next_index(), 2);
  EXPECT_EQ(player.get_current_position(), 0);
  EXPECT_EQ(open_warnings("missing.mp3"), 1);
  EXPECT_EQ(open_warnings("low.mp3"), 0);
}

TEST_F(Player_Test, ARestoredPositionInAMissingEntryPlaysTheNextFromItsBeginning) {
  player.set_playlist({"low.mp3", "missing.mp3", "high.mp3"});
  player.seek(1, 5000);
  player.resume();
  EXPECT_FALSE(player.is_suspended());
  EXPECT_EQ(player.get_current_mp3_index(), 2u);
  EXPECT_EQ(player.get_current_position(), 0);
  EXPECT_EQ(open_warnings("missing.mp3"), 1);
}

TEST_F(Player_Test, StartOffsetBeyondTheFileWarnsButExactlyAtItsEndIsAccepted) {
  const int size = file_size(std::string("low.mp3"));
  player.set_playlist({"low.mp3", "mid.mp3"});
  player.seek(0, size + 1);
  player.resume();
  EXPECT_EQ(open_warnings("low.mp3"), 1);
  EXPECT_EQ(player.get_current_mp3_index(), 1u);
  EXPECT_EQ(player.get_current_position(), 0);

  player.seek(0, size);
  EXPECT_FALSE(player.is_suspended());
  EXPECT_EQ(player.get_current_mp3_index(), 0u);
  EXPECT_EQ(player.get_current_position(), size);
  EXPECT_EQ(open_warnings("low.mp3"), 1) << "no second warning";
  // Nothing is left to play there, so the next entry follows.
  EXPECT_EQ(next_index(), 1);
}

TEST_F(Player_Test, SkipAndStartOver) {
  player.set_playlist({"low.mp3", "mid.mp3", "high.mp3"});
  player.seek(2, 1000);
  player.skip_to_next_song();
  EXPECT_EQ(player.get_current_mp3_index(), 0u) << "after the last comes the first";
  EXPECT_TRUE(player.is_suspended());
  player.resume();
  player.skip_to_next_song();
  EXPECT_EQ(player.get_current_mp3_index(), 1u);
  EXPECT_FALSE(player.is_suspended());
  ASSERT_TRUE(within(10, [&] {
    player.poll();
    return player.get_current_position() > 0;
  }));
  player.start_song_over();
  EXPECT_EQ(player.get_current_mp3_index(), 1u);
  EXPECT_EQ(player.get_current_position(), 0);
  EXPECT_FALSE(player.is_suspended());
}

TEST_F(Player_Test, SkipWhenNothingOpensMovesTheIndexOnly) {
  player.set_playlist({"gone1.mp3", "gone2.mp3", "gone3.mp3"});
  player.resume();
  EXPECT_TRUE(player.is_suspended());
  EXPECT_EQ(player.get_current_mp3_index(), 0u) << "a full turn of failures";
  EXPECT_EQ(open_warnings("gone1.mp3") + open_warnings("gone2.mp3") + open_warnings("gone3.mp3"), 3);
  player.skip_to_next_song();
  EXPECT_EQ(player.get_current_mp3_index(), 1u);
  EXPECT_TRUE(player.is_suspended());
  player.poll();
  EXPECT_EQ(open_warnings("gone2.mp3"), 1) << "nothing was opened again";
}

TEST_F(Player_Test, AnEmptyPlaylistDoesNothing) {
  player.resume();
  player.poll();
  EXPECT_TRUE(player.is_suspended());
  EXPECT_EQ(player.get_current_mp3_name(), "");
  player.skip_to_next_song();
  player.start_song_over();
  EXPECT_EQ(player.get_current_mp3_index(), 0u);
  EXPECT_EQ(player.get_current_position(), 0);
  EXPECT_EQ(log().find("[Warn]"), std::string::npos);
}

TEST_F(Player_Test, VolumeScalesToAllegrosRangeTruncating) {
  for (auto [v, expected] : {std::pair{1000, 255}, {999, 254}, {500, 127}, {3, 0}, {0, 0}}) {
    player.set_volume(v);
    EXPECT_EQ(player.get_volume(), expected) << v;
  }
  player.set_playlist({"low.mp3"});
  player.resume();
  player.set_volume(400); // applied to the playing stream as well
  EXPECT_EQ(player.get_volume(), 102);
  player.poll();
}

// Directories, empty files, garbage, sound that is not MPEG audio (a WAV
// file and bare PCM under MP3 names, a WAV behind a large tag) and a file
// that shrinks while it plays: each is passed over and the music goes on
// with the next entry.
TEST_F(Player_Test, BadEntriesNeverStopTheMusic) {
  std::filesystem::create_directory("adir.mp3");
  { std::ofstream("empty.mp3"); }
  { std::ofstream("text.mp3") << std::string(50000, 'x'); }
  sound_test::write_bytes("wave.mp3", sound_test::quiet_noise_pcm(2, true));
  sound_test::write_bytes("pcm.mp3", sound_test::quiet_noise_pcm(2, false));
  const auto tagged = [](std::size_t body, std::vector<unsigned char> rest) { // an ID3v2 tag in front
    std::vector<unsigned char> out = {'I', 'D', '3', 3, 0, 0, 0, static_cast<unsigned char>(body >> 14),
                                      static_cast<unsigned char>(body >> 7 & 0x7f), static_cast<unsigned char>(body & 0x7f)};
    out.resize(10 + body);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
  };
  sound_test::write_bytes("tagwave.mp3", tagged(40000, sound_test::quiet_noise_pcm(2, true)));
  sound_test::write_bytes("twotags.mp3", tagged(0, tagged(40000, sound_test::quiet_noise_pcm(2, true))));
  std::filesystem::copy_file("long.mp3", "shrinking.mp3");
  player.set_playlist(
      {"adir.mp3", "empty.mp3", "text.mp3", "wave.mp3", "pcm.mp3", "tagwave.mp3", "shrinking.mp3", "low.mp3"});
  player.resume();
  EXPECT_EQ(player.get_current_mp3_index(), 6u);
  for (const char *bad : {"adir.mp3", "empty.mp3", "text.mp3", "wave.mp3", "pcm.mp3", "tagwave.mp3"})
    EXPECT_EQ(open_warnings(bad), 1) << bad;
  ASSERT_TRUE(within(10, [&] {
    player.poll();
    return player.get_current_position() > 0;
  }));
  std::filesystem::resize_file("shrinking.mp3", 40000);
  EXPECT_EQ(next_index(), 7);
  EXPECT_EQ(next_index(), 6) << "the bad entries are tried again and passed over";
  // Nothing playable: one warning each, then silence rather than reopening.
  player.set_playlist({"twotags.mp3", "gone.mp3"});
  player.seek(0, 0);
  ASSERT_TRUE(within(10, [&] {
    player.poll();
    return player.is_suspended();
  }));
  EXPECT_EQ(open_warnings("twotags.mp3"), 1);
  EXPECT_EQ(open_warnings("gone.mp3"), 1);
}

// Without a sound card Allegro's silent driver never asks for samples: the
// song stands still on its first buffer. Polls stay cheap, nothing is opened
// again and nothing is logged; the music simply does not advance.
TEST_F(Music_Test, TheSilentDriverHoldsTheSongWithoutSpinning) {
  ASSERT_TRUE(sound_test::start_allegro_sound(DIGI_NONE));
  MP3_Background_Almp3_Stream player;
  player.set_playlist({"low.mp3", "mid.mp3"});
  player.resume();
  ASSERT_FALSE(player.is_suspended());
  for (int i = 0; i < 100000; ++i)
    player.poll();
  EXPECT_EQ(player.get_current_mp3_index(), 0u);
  EXPECT_FALSE(player.is_suspended());
  EXPECT_LT(player.get_current_position(), file_size(std::string("low.mp3")));
  EXPECT_EQ(log().find("[Warn]"), std::string::npos);
  player.suspend();
  EXPECT_TRUE(player.is_suspended());
}
