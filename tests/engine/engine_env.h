// Shared set-up of the engine tests: Allegro, a log in a scratch directory
// that is also the working directory, and reading the log back.
#ifndef MARVO_TESTS_ENGINE_ENV_H
#define MARVO_TESTS_ENGINE_ENV_H

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include <allegro.h>
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "support/logfile.h"

namespace engine_test {

// Makes a scratch directory, works in it and logs into it.
inline std::string enter_scratch_dir()
{
    char pattern[] = "/tmp/marvo-engine-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir || chdir(dir) != 0) {
        return {};
    }
    LogFile::open_log_file(std::string(dir) + "/marvo.log");
    return dir;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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
