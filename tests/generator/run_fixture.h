#ifndef MARVO_TESTS_GENERATOR_RUN_FIXTURE_H
#define MARVO_TESTS_GENERATOR_RUN_FIXTURE_H

// A scratch cabinet for generation runs: a MAME directory holding the fake
// MAME script and its fixture files, ROM, snapshot and output directories,
// and a host that records what the run shows and lets a test act when the
// run reports progress or pumps.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "generator/Functions.h"
#include "generator/runhost.h"
#include "support/scratch_dir.h"

namespace generator_test {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void write_file(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Lines as the run writes them: each ends in CR LF.
inline std::string crlf(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

class Recording_Host : public Marvane::Run_Host {
public:
    std::map<Marvane::Run_Text, std::string> fields;
    std::map<Marvane::Run_Option, bool> options;
    std::vector<std::string> messages;     // "text|caption"
    std::vector<std::string> progress;     // every progress text, in order
    std::vector<std::string> events;       // cursor, controls, field writes, terminate
    int pumps = 0;
    bool busy = false;
    bool controls_enabled = true;
    bool terminated = false;
    std::function<void(const std::string&)> on_progress;

    std::string field_text(Marvane::Run_Text field) override { return fields[field]; }
    void set_field_text(Marvane::Run_Text field, const std::string& text) override
    {
        fields[field] = text;
        events.push_back("field " + std::to_string(static_cast<int>(field)) + " " + text);
    }
    bool option_checked(Marvane::Run_Option option) override { return options[option]; }
    void set_progress(const std::string& text) override
    {
        progress.push_back(text);
        if (on_progress)
            on_progress(text);
    }
    void show_message(const std::string& text, const std::string& caption) override
    {
        messages.push_back(text + "|" + caption);
    }
    void set_busy_cursor(bool on) override
    {
        busy = on;
        events.push_back(on ? "cursor busy" : "cursor arrow");
    }
    void set_run_controls_enabled(bool enabled) override
    {
        controls_enabled = enabled;
        events.push_back(enabled ? "controls on" : "controls off");
    }
    void pump_messages() override { ++pumps; }
    void terminate_application() override
    {
        terminated = true;
        events.push_back("terminate");
    }
};

// The listed games of the default fixture, as MAME's full list gives them.
inline const char* default_full_list()
{
    return "Name:     Description:\n"
           "pacman    \"Pac-Man (Midway)\"\n"
           "puckman   \"PuckMan (Japan set 1)\"\n"
           "galaga    \"Galaga (Namco rev. B)\"\n"
           "sf2       \"Street Fighter II: The World Warrior\"\n"
           "mrdo      \"Mr. Do!\"\n";
}

// Removes the folder when the program exits: FLTK ends a window test at once
// where it cannot open the display, and no TearDown runs then.
inline void remove_at_exit(const fs::path& dir)
{
    static fs::path pending;
    static const bool registered = std::atexit([] {
        std::error_code ignored;
        fs::remove_all(pending, ignored);
    }) == 0;
    (void)registered;
    pending = dir;
}

class Generator_Run : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = make_scratch_dir("genrun");
        remove_at_exit(root);
        mame = root / "mame";
        roms = root / "roms";
        snap = root / "snap";
        out = root / "out";
        for (const fs::path& dir : {mame, roms, snap, out})
            fs::create_directories(dir);
        exe = mame / "mame";
        fs::copy_file(fs::path(MARVO_SOURCE_DIR) / "tests/generator/fake_mame.sh", exe);
        fs::permissions(exe, fs::perms::owner_all, fs::perm_options::add);
        write_file(mame / "fixture-listfull.txt", default_full_list());
        // The run's temporary folders go where the test can see them.
        temp = root / "tmp";
        fs::create_directories(temp);
        if (const char* old = std::getenv("TMPDIR"))
            old_tmpdir = old;
        setenv("TMPDIR", temp.c_str(), 1);

        using Marvane::Run_Text;
        host.fields[Run_Text::Txt_Mame] = exe.string();
        host.fields[Run_Text::Txt_ROMPath] = roms.string();
        host.fields[Run_Text::Txt_SNAPPath] = snap.string();
        host.fields[Run_Text::TXT_OUTPUT] = out.string();
        host.fields[Run_Text::Txt_Cat] = (root / "catver.ini").string();
        Functions::StopRequested = false;
    }

    void TearDown() override
    {
        if (old_tmpdir.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", old_tmpdir.c_str(), 1);
        std::error_code ignored;
        fs::current_path(fs::temp_directory_path(), ignored);
        fs::remove_all(root, ignored);
        remove_at_exit({});
    }

    void set(Marvane::Run_Option option, bool on = true) { host.options[option] = on; }
    void run() { Marvane::run_generation(host); }

    std::string output(const std::string& name) const { return read_file(out / name); }

    // The names of the files in the output directory, sorted.
    std::vector<std::string> output_names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(out))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::string> calls() const
    {
        std::vector<std::string> lines;
        std::istringstream in(read_file(mame / "calls.log"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // What runs left in the temporary folder: nothing, as each removes its own.
    std::vector<std::string> temp_left() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(temp))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path root, mame, roms, snap, out, exe, temp;
    std::string old_tmpdir;
    Recording_Host host;
};

}  // namespace generator_test

#endif
