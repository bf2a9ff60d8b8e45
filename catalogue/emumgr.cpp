#include "catalogue/emumgr.h"

#include "support/fileutil.h"
#include "support/logfile.h"

namespace Marvane {

Null_Emulator_Manager_Listener* Null_Emulator_Manager_Listener::instance()
{
    static Null_Emulator_Manager_Listener shared;
    return &shared;
}

Emulator_Manager::Emulator_Manager(Config_File* config, Config_File* state)
    : state_file(state), listener(Null_Emulator_Manager_Listener::instance())
{
    {
        std::unique_ptr<Config_Section> section(config->get_section(CONFIG_SECTION));
        names.reset(section->get_string_list(CONFIG_EMULATORS));
        path_prefix = section->get_string(CONFIG_PATH_PREFIX, "");
    }
    if (!names)
        names = std::make_unique<std::vector<std::string>>();
    emulators.assign(names->size(), nullptr);
    loaded.assign(names->size(), false);
}

Emulator_Manager::~Emulator_Manager()
{
    for (Emulator* emulator : emulators)
        delete emulator;
    names.reset();
}

void Emulator_Manager::notify()
{
    listener->emulator_manager_changed();
}

void Emulator_Manager::poll_emulator_listener()
{
    listener->poll_emulator_manager();
}

void Emulator_Manager::restore_state()
{
    int value;
    {
        std::unique_ptr<Config_Section> section(state_file->get_section(STATE_SECTION));
        value = section->get_int(STATE_CURRENT_EMU, 0);
    }
    if (static_cast<unsigned>(value) < get_number_of_emulators())
        current_index = static_cast<unsigned>(value);
    notify();
}

void Emulator_Manager::save_state()
{
    for (Emulator* emulator : emulators)
        if (emulator)
            emulator->save_state(state_file);
    std::unique_ptr<Config_Section> section(state_file->get_section(STATE_SECTION));
    section->set_int(STATE_CURRENT_EMU, static_cast<int>(current_index));
}

void Emulator_Manager::set_listener(Emulator_Manager_Listener* new_listener)
{
    listener = new_listener ? new_listener : Null_Emulator_Manager_Listener::instance();
    notify();
}

unsigned Emulator_Manager::get_number_of_emulators() const
{
    return static_cast<unsigned>(names->size());
}

Emulator* Emulator_Manager::get_current_emulator()
{
    if (current_index >= get_number_of_emulators())
        return nullptr;
    load_emulator_if_necessary();
    return emulators[current_index];
}

unsigned Emulator_Manager::get_current_emulator_index() const
{
    return current_index;
}

void Emulator_Manager::increment_emulator_index()
{
    const unsigned count = get_number_of_emulators();
    if (count == 0)
        return;
    current_index = current_index + 1 >= count ? 0 : current_index + 1;
    notify();
}

void Emulator_Manager::decrement_emulator_index()
{
    const unsigned count = get_number_of_emulators();
    if (count == 0)
        return;
    current_index = current_index == 0 || current_index >= count ? count - 1 : current_index - 1;
    notify();
}

void Emulator_Manager::load_emulator_if_necessary()
{
    if (loaded[current_index])
        return;
    const std::string& name = (*names)[current_index];
    Emulator* emulator;
    try {
        emulator = new Emulator(name, path_prefix, this);
        emulator->restore_state(state_file);
    } catch (const InvalidEmulatorConfig&) {
        if (LogFile::vx_log)
            LogFile::vx_log->info("Invalid emulator config for " + name);
        emulator = new InvalidEmulator(name, this);
    }
    loaded[current_index] = true;
    emulators[current_index] = emulator;
}

}  // namespace Marvane
