// A run with "ROMs present" and "Verify" on, over a MAME list of 45 000
// machines of which 100 have a set in the ROM folder, against the tests'
// stand-in MAME with a start-up wait like MAME's. Each check is one start of
// MAME, so what the generator can answer for is what it adds to a start: the
// time per check (the run with Verify on less the same run with only "ROMs
// present" on, measured in the same run, over the checks) against the
// stand-in's own start-up wait.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>

#include "generator/Functions.h"
#include "generator/runhost.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Marvane::Run_Option;
using Marvane::Run_Text;

namespace {

constexpr int machine_count = 45000;
constexpr int present_count = 100;
constexpr const char* mame_start_seconds = "0.065";  // MAME 0.251 on a quiet machine

class Bench_Host : public Marvane::Run_Host {
public:
    std::string mame, roms, snap, out;
    std::set<Run_Option> on;
    std::vector<std::string> messages;

    std::string field_text(Run_Text field) override
    {
        switch (field) {
        case Run_Text::Txt_Mame: return mame;
        case Run_Text::Txt_ROMPath: return roms;
        case Run_Text::Txt_SNAPPath: return snap;
        case Run_Text::TXT_OUTPUT: return out;
        default: return {};
        }
    }
    void set_field_text(Run_Text, const std::string&) override {}
    bool option_checked(Run_Option option) override { return on.count(option) != 0; }
    void set_progress(const std::string&) override {}
    void show_message(const std::string& text, const std::string&) override
    {
        messages.push_back(text);
    }
    void set_busy_cursor(bool) override {}
    void set_run_controls_enabled(bool) override {}
    void pump_messages() override {}
    void terminate_application() override {}
};

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Best time of `rounds` runs; empty `rom_list` when a run did not complete.
double best_run(Bench_Host& host, int rounds, std::string& rom_list)
{
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        host.messages.clear();
        const Clock::time_point start = Clock::now();
        Marvane::run_generation(host);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
        if (host.messages != std::vector<std::string>{"Completed!!"}) {
            rom_list.clear();
            return best;
        }
        rom_list = read_file(fs::path(host.out) / "mame.rom");
    }
    return best;
}

}  // namespace

int main()
{
    char pattern[] = "/tmp/marvo-bench-verify-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const fs::path root = pattern;
    const fs::path mame = root / "mame", roms = root / "roms", snap = root / "snap",
                   out = root / "out";
    for (const fs::path& dir : {mame, roms, snap, out})
        fs::create_directories(dir);
    fs::copy_file(fs::path(MARVO_SOURCE_DIR) / "tests/generator/fake_mame.sh", mame / "mame");
    fs::permissions(mame / "mame", fs::perms::owner_all, fs::perm_options::add);
    {
        std::ofstream list(mame / "fixture-listfull.txt", std::ios::binary);
        std::ofstream verify(mame / "fixture-verify.txt", std::ios::binary);
        list << "Name:     Description:\n";
        for (int i = 0; i < machine_count; ++i) {
            const std::string name = "game" + std::to_string(i);
            list << name << std::string(std::max<std::size_t>(1, 10 - name.size()), ' ')
                 << "\"Game " << i << "\"\n";
            if (i % (machine_count / present_count) == 0) {
                std::ofstream(roms / (name + ".zip"));
                verify << name << " good\n";
            }
        }
        std::ofstream(mame / "fixture-delay.txt") << mame_start_seconds << "\n";
    }

    Bench_Host host;
    host.mame = (mame / "mame").string();
    host.roms = roms.string();
    host.snap = snap.string();
    host.out = out.string();

    host.on = {Run_Option::Chk_ROMEXist};
    std::string present_only;
    const double present_time = best_run(host, 3, present_only);
    fs::remove(mame / "calls.log");
    host.on = {Run_Option::Chk_ROMEXist, Run_Option::Chk_verify};
    std::string verified;
    const double verify_time = best_run(host, 1, verified);
    const std::string calls = read_file(mame / "calls.log");
    const long verify_calls =
        static_cast<long>(std::count(calls.begin(), calls.end(), '\n')) - 2;  // and two lists

    // Every set present is good, so both runs list the same games.
    const long listed = static_cast<long>(std::count(verified.begin(), verified.end(), '\n'));
    if (verified.empty() || verified != present_only || listed != present_count) {
        std::printf("runs disagree: %ld games verified, lists %s\n", listed,
                    verified == present_only ? "equal" : "differ");
        return 1;
    }
    std::printf("machines %d, sets present %d, MAME start %s s\n", machine_count, present_count,
                mame_start_seconds);
    const double per_check = (verify_time - present_time) / present_count;
    std::printf("ROMs present: %.3f s (best of 3); with Verify: %.3f s, %ld checks, %.3f s each\n",
                present_time, verify_time, verify_calls, per_check);
    // Not measured: what asking about every machine would take at that rate.
    std::printf("estimate for a check of every machine: %.0f s\n",
                present_time + per_check * machine_count);
    std::printf("whole run with Verify against ROMs present only: %.2f\n",
                verify_time / present_time);
    std::printf("GOAL generator_verify_check_vs_mame_start %.2f <= 2\n",
                per_check / std::stod(mame_start_seconds));

    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
