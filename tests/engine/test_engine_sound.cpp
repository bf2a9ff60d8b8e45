// Sound start-up on a machine that may have no sound card: either a card is
// named in the log or the start-up failure is an InitError.
#include <string>

#include <dlfcn.h>

#include <allegro.h>
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine_env.h"

using namespace GameEngine;

namespace {

void check_sound_start(bool software_mixer)
{
    // The library unloads its sound modules at exit; keeping the sound
    // system library loaded lets the leak checker name (and pass over)
    // the allocations it keeps.
    dlopen("libasound.so.2", RTLD_NOW | RTLD_NODELETE);
    engine_test::Scratch_Log_Dir dir;
    ASSERT_EQ(allegro_init(), 0);
    Engine *engine = Engine::get_instance();
    bool started = false;
    try {
        engine->initialize_sound(software_mixer);
        started = true;
    } catch (const InitError &e) {
        EXPECT_EQ(e.error_string().rfind("Error initializing sound: ", 0), 0u) << e.error_string();
    }
    std::string log = dir.log();
    if (started) {
        EXPECT_NE(log.find("Sound card type: "), std::string::npos);
    } else {
        EXPECT_EQ(log.find("Sound card type: "), std::string::npos);
        if (software_mixer) {
            // The first mixing device was tried and its failure logged.
            EXPECT_NE(log.find("DIGI_ALSA failed: "), std::string::npos);
        }
    }
    delete engine;
}

TEST(EngineSound, SoftwareMixerStartsOrRaisesInitError)
{
    check_sound_start(true);
}

TEST(EngineSound, AutodetectedDriverStartsOrRaisesInitError)
{
    check_sound_start(false);
}

} // namespace
