#pragma once
// The ordered list of emulators named in "marvo.cfg": which one is current,
// creating each on first use, switching with wrap-around, and its state.
#include <memory>
#include <string>
#include <vector>

#include "catalogue/emulator.h"

class Config_File;

namespace Marvane {

class Emulator_Manager_Listener {
public:
    virtual ~Emulator_Manager_Listener() = default;
    virtual void emulator_manager_changed() = 0;
    virtual void poll_emulator_manager() = 0;
};

class Null_Emulator_Manager_Listener : public Emulator_Manager_Listener {
public:
    static Null_Emulator_Manager_Listener* instance();
    void emulator_manager_changed() override {}
    void poll_emulator_manager() override {}
};

class Emulator_Manager : public Emulator_Listener {
public:
    static inline const std::string CONFIG_SECTION = "Main";
    static inline const std::string CONFIG_EMULATORS = "emulators";
    static inline const std::string CONFIG_PATH_PREFIX = "path_prefix";
    static inline const std::string STATE_SECTION = "Main";
    static inline const std::string STATE_CURRENT_EMU = "current_emu";

    Emulator_Manager(Config_File* config, Config_File* state);
    ~Emulator_Manager() override;
    Emulator_Manager(const Emulator_Manager&) = delete;
    Emulator_Manager& operator=(const Emulator_Manager&) = delete;

    void poll_emulator_listener() override;

    void restore_state();
    void save_state();
    void set_listener(Emulator_Manager_Listener* listener);
    unsigned get_number_of_emulators() const;
    Emulator* get_current_emulator();
    unsigned get_current_emulator_index() const;
    void increment_emulator_index();
    void decrement_emulator_index();

private:
    void load_emulator_if_necessary();
    void notify();

    std::vector<Emulator*> emulators;
    std::unique_ptr<std::vector<std::string>> names;
    std::vector<bool> loaded;
    unsigned current_index = 0;
    std::string path_prefix;
    Config_File* state_file;
    Emulator_Manager_Listener* listener;
};

}  // namespace Marvane
