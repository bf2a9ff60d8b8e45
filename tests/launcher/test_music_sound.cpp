// The whole road of the music: the controller's player as the engine's
// background task, fed by the engine loop, heard through ALSA's file device.
#include <sys/stat.h>

#include "engine/engine.h"
#include "launcher/bgctrl.h"
#include "music_env.h"
#include "support/fileutil.h"

namespace {

// Ends the loop once the device has taken two seconds of sound, or after
// twenty seconds of cycles whatever happened.
class Stop_When_Heard : public GameEngine::Updatable {
public:
  Stop_When_Heard(GameEngine::Engine *engine, std::string raw, long bytes)
      : engine(engine), raw(std::move(raw)), bytes(bytes) {}
  bool update() override {
    struct stat st {};
    if (++cycles > 20 * 60 || (stat(raw.c_str(), &st) == 0 && st.st_size >= bytes))
      engine->stop();
    return false;
  }
  int cycles = 0;

private:
  GameEngine::Engine *engine;
  std::string raw;
  long bytes;
};

using Real_Sound = music_test::Music_Test;

} // namespace

TEST_F(Real_Sound, EngineLoopPlaysA440HzTone) {
  ASSERT_EQ(allegro_init(), 0);
  GameEngine::Engine *engine = GameEngine::Engine::get_instance();
  engine->initialize_sound(false);
  engine->set_graphics_mode(320, 240, 16, false);
  engine->set_animation_mode(GameEngine::Engine::double_buffering, false, false);
  const int rate = get_mixer_frequency();
  ASSERT_GT(rate, 0);
  ASSERT_EQ(get_mixer_bits(), 16);
  ASSERT_EQ(get_mixer_channels(), 2);
  const std::string raw = sound_test::captured_file(dir);
  ASSERT_FALSE(raw.empty());

  std::ofstream("list.txt") << "tone440.mp3\n";
  std::ofstream("marvo.cfg") << "[Main]\nmp3_playlist_file = list.txt\nmp3_volume = 1000\n";
  Marvane::MP3_Music_Controller music(engine);
  Config_File cfg("marvo.cfg");
  music.load_config(&cfg);

  Stop_When_Heard stopper(engine, raw, 2L * rate * 4);
  engine->get_root_container()->add_updatable(&stopper, 50);
  engine->run();
  engine->get_root_container()->remove_updatable(&stopper);
  ASSERT_LT(stopper.cycles, 20 * 60) << "the device never took two seconds of sound";

  const std::vector<double> left = sound_test::left_channel(raw);
  ASSERT_GE(left.size(), static_cast<std::size_t>(rate));
  EXPECT_GT(sound_test::peak(left), sound_test::AUDIBLE_PEAK) << "silence";
  EXPECT_NEAR(sound_test::dominant_frequency(left, rate), 440.0, 440.0 * 0.02);
  EXPECT_EQ(music_test::count_lines_ending(log(), "[Info] MP3 playlist contains 1 files"), 1);
}
