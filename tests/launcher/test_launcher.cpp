// The launcher controller built whole from a scratch cabinet: what it hands
// from "marvo.cfg" to the views it makes.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "addons/sound_capture.h"
#include "engine/engine.h"
#include "launcher/launcher.h"
#include "support/logfile.h"
#include "support/vx_key.h"

namespace {

// Counts what the music-key view reports instead of passing it on.
struct Music_Keys_Heard : Marvane::Launcher_Controller {
    Music_Keys_Heard() : Launcher_Controller(false) {}
    void skip_to_next_song(const Marvane::Background_Music_Event*) override { ++skips; }
    void start_song_over(const Marvane::Background_Music_Event*) override { ++starts_over; }
    int skips = 0;
    int starts_over = 0;
};

// Presses one key, then the other, a few cycles apart, and ends the loop.
struct Presser : GameEngine::Updatable {
    bool update() override
    {
        ++cycle;
        key[KEY_LCONTROL] = cycle >= 3 && cycle < 5;
        key[KEY_ALT] = cycle >= 7 && cycle < 9;
        if (cycle == 12)
            GameEngine::Engine::get_instance()->stop();
        return false;
    }
    int cycle = 0;
};

}  // namespace

TEST(Launcher, MusicKeysAreAllegroKeyCodesAsConfigured)
{
    const Entered_Scratch_Dir dir("sound");
    sound_test::capture_sound_into(dir.path());
    for (const char* name : {"marvo.dat", "slicker.ttf"})
        std::filesystem::copy_file(std::string(MARVO_BINARY_DIR) + "/cabinet/" + name, name);
    // Through the configuration's own key numbers these would be other keys.
    ASSERT_NE(vx_key_to_allegro_key(KEY_LCONTROL), KEY_LCONTROL);
    ASSERT_NE(vx_key_to_allegro_key(KEY_ALT), KEY_ALT);
    std::ofstream("marvo.cfg") << "[Main]\nuse_fullscreen = no\nscreen_saver_time = 0\nskip_song_key = " << KEY_LCONTROL
                               << "\nstart_song_over_key = " << KEY_ALT << "\n";
    std::filesystem::create_directory("logs");
    LogFile::open_log_file("logs/marvo.log");
    ASSERT_EQ(allegro_init(), 0);

    Music_Keys_Heard launcher;
    Presser presser;
    GameEngine::Engine::get_instance()->get_root_container()->add_updatable(&presser, 0);
    GameEngine::Engine::get_instance()->run();
    GameEngine::Engine::get_instance()->get_root_container()->remove_updatable(&presser);
    EXPECT_EQ(launcher.skips, 1);
    EXPECT_EQ(launcher.starts_over, 1);
}
