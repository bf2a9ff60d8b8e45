// Shared set-up of the engine tests: Allegro, a log in a scratch directory
// that is also the working directory, and reading the log back.
#ifndef MARVO_TESTS_ENGINE_ENV_H
#define MARVO_TESTS_ENGINE_ENV_H

#include <string>

#include <allegro.h>
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "support/logfile.h"
#include "support/scratch_dir.h"

namespace engine_test {

// A scratch directory that is the working directory and holds the log
// while it lives.
class Scratch_Log_Dir : public Entered_Scratch_Dir {
public:
    Scratch_Log_Dir() : Entered_Scratch_Dir("engine") { LogFile::open_log_file(*this / "marvo.log"); }
    std::string log() const { return read_file(*this / "marvo.log"); }
};

// The engine at 800x600x16 in a window with double buffering.
inline GameEngine::Engine *start_engine_on_screen()
{
    if (allegro_init() != 0) {
        return nullptr;
    }
    GameEngine::Engine *engine = GameEngine::Engine::get_instance();
    engine->set_graphics_mode(800, 600, 16, false);
    engine->set_animation_mode(GameEngine::Engine::double_buffering, false, false);
    return engine;
}

} // namespace engine_test

#endif
