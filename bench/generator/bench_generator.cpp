// A generation run on a MAME-sized catalogue (45 000 games, a catver.ini of
// 45 000 entries in 40 categories, an information list with button counts),
// with categories, the button filter and the word filter on, against a fake
// MAME that only copies prepared files. The peer, measured in the same run,
// is awk joining the full list with catver.ini into per-category map files.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>

#include "generator/Functions.h"
#include "generator/runhost.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int game_count = 45000;
constexpr int category_count = 40;
constexpr int rounds = 3;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Times the steps of a run from its progress texts; pumping does nothing.
class Timing_Host : public Marvane::Run_Host {
public:
    std::string rom, snap, out, exe, cat;
    std::vector<std::pair<std::string, Clock::time_point>> steps;
    std::vector<std::string> messages;
    long long game_lines = 0;

    std::string field_text(Marvane::Run_Text field) override
    {
        switch (field) {
        case Marvane::Run_Text::Txt_Mame: return exe;
        case Marvane::Run_Text::Txt_ROMPath: return rom;
        case Marvane::Run_Text::Txt_SNAPPath: return snap;
        case Marvane::Run_Text::TXT_OUTPUT: return out;
        case Marvane::Run_Text::Txt_Cat: return cat;
        case Marvane::Run_Text::Txt_Games: return "japan;bootleg;prototype";
        }
        return {};
    }
    void set_field_text(Marvane::Run_Text, const std::string&) override {}
    bool option_checked(Marvane::Run_Option option) override
    {
        return option == Marvane::Run_Option::Chk_Cat || option == Marvane::Run_Option::Chk_But ||
               option == Marvane::Run_Option::Chk_FiltNames;
    }
    void set_progress(const std::string& text) override
    {
        // Game lines end in "(n)"; every other text starts a step.
        if (!text.empty() && text.back() == ')' && text.find("     (") != std::string::npos) {
            if (game_lines++ == 0)
                steps.emplace_back("game loop", Clock::now());
            return;
        }
        steps.emplace_back(text, Clock::now());
    }
    void show_message(const std::string& text, const std::string&) override
    {
        messages.push_back(text);
    }
    void set_busy_cursor(bool) override {}
    void set_run_controls_enabled(bool) override {}
    void pump_messages() override {}
    void terminate_application() override {}
};

void write_inputs(const fs::path& prepared, const fs::path& catver)
{
    std::ofstream full(prepared / "listfull.txt", std::ios::binary);
    std::ofstream info(prepared / "listinfo.txt", std::ios::binary);
    std::ofstream cat(catver, std::ios::binary);
    full << "Name:     Description:\n";
    cat << ";; catver.ini 0.106 / 45000 games\n\n[Category]\n";
    for (int i = 0; i < game_count; ++i) {
        const std::string name = "game" + std::to_string(i);
        const char* region = i % 17 == 0 ? "Japan" : (i % 23 == 0 ? "bootleg" : "World");
        full << name << std::string(std::max<std::size_t>(1, 10 - name.size()), ' ') << "\"Game "
             << i << " (" << region << ")\"\n";
        info << "game (\n\tname " << name << "\n\tdescription \"Game " << i << "\"\n"
             << "\tyear 19" << (80 + i % 20) << "\n\tmanufacturer \"Maker\"\n"
             << "\tinput ( players 2 buttons " << (i % 7) << " coins 1 control joy8 )\n"
             << "\tdriver ( status good color good sound good )\n)\n\n";
        cat << name << "=Category" << (i % category_count) << " / Sub" << (i % 3) << "\n";
    }
    cat << "\n[VerAdded]\n";
    for (int i = 0; i < 100; ++i)
        cat << "game" << i << "=.36\n";
}

int run_shell(const std::string& command)
{
    return std::system(command.c_str());
}

}  // namespace

int main()
{
    char pattern[] = "/tmp/marvo-bench-generator-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const fs::path root = pattern;
    const fs::path mame = root / "mame", prepared = root / "prepared", out = root / "out",
                   awk_out = root / "awk", roms = root / "roms", snap = root / "snap";
    for (const fs::path& dir : {mame, prepared, out, awk_out, roms, snap})
        fs::create_directories(dir);
    const fs::path catver = root / "catver.ini";
    write_inputs(prepared, catver);
    {
        std::ofstream fake(mame / "mame", std::ios::binary);
        fake << "#!/bin/sh\ncase \"$1\" in\n"
             << "  -listfull) cat '" << (prepared / "listfull.txt").string() << "' ;;\n"
             << "  -listinfo) cat '" << (prepared / "listinfo.txt").string() << "' ;;\n"
             << "esac\n";
    }
    fs::permissions(mame / "mame", fs::perms::owner_all, fs::perm_options::add);

    Timing_Host host;
    host.exe = (mame / "mame").string();
    host.rom = roms.string();
    host.snap = snap.string();
    host.out = out.string();
    host.cat = catver.string();

    // The peer: the same join, with the same line forms, in one awk program.
    const std::string awk_program =
        "function trim(s) { gsub(/^[ \\t\\r]+|[ \\t\\r]+$/, \"\", s); return s }\n"
        "NR == FNR { if ($0 ~ /[;.]/ || index($0, \"=\") == 0) next;\n"
        "  e = index($0, \"=\"); n = trim(substr($0, 1, e - 1)); c = trim(substr($0, e + 1));\n"
        "  gsub(/\\*/, \"\", c); s = index(c, \"/\"); if (s) c = substr(c, 1, s - 1);\n"
        "  cat[n] = c; next }\n"
        "FNR == 1 { next }\n"
        "{ b = index($0, \" \"); n = substr($0, 1, b - 1); q = index($0, \"\\\"\");\n"
        "  d = substr($0, q + 1, length($0) - q - 1); line = n \" \\\"\" d \"\\\"\\r\";\n"
        "  if (n in cat) { print line > (dir \"/\" cat[n] \".map\"); print n \"\\r\" > (dir \"/\" cat[n] \".rom\") }\n"
        "  print line > (dir \"/mame.map\"); print n \"\\r\" > (dir \"/mame.rom\") }\n";
    {
        std::ofstream program(root / "join.awk", std::ios::binary);
        program << awk_program;
    }
    const std::string awk_command = "awk -v dir='" + awk_out.string() + "' -f '" +
                                    (root / "join.awk").string() + "' '" + catver.string() +
                                    "' '" + (prepared / "listfull.txt").string() + "'";

    double best_run = 1e9, best_awk = 1e9;
    std::vector<std::pair<std::string, double>> best_steps;
    for (int round = 0; round < rounds; ++round) {
        host.steps.clear();
        host.messages.clear();
        host.game_lines = 0;
        const Clock::time_point start = Clock::now();
        Marvane::run_generation(host);
        const double run_time = seconds_since(start);
        if (host.messages != std::vector<std::string>{"Completed!!"}) {
            std::printf("run failed: %s\n", host.messages.empty() ? "no message" : host.messages[0].c_str());
            return 1;
        }
        if (run_time < best_run) {
            best_run = run_time;
            best_steps.clear();
            host.steps.emplace_back("end", Clock::now());
            for (std::size_t i = 0; i + 1 < host.steps.size(); ++i)
                best_steps.emplace_back(
                    host.steps[i].first,
                    std::chrono::duration<double>(host.steps[i + 1].second - host.steps[i].second).count());
        }

        fs::remove_all(awk_out);
        fs::create_directories(awk_out);
        const Clock::time_point awk_start = Clock::now();
        if (run_shell(awk_command) != 0) {
            std::printf("awk failed\n");
            return 1;
        }
        best_awk = std::min(best_awk, seconds_since(awk_start));
    }

    // Both wrote the same category sets; the run's hold fewer lines, as its
    // filters reject some games.
    std::size_t run_files = 0, awk_files = 0;
    for (const auto& entry : fs::directory_iterator(out))
        run_files += entry.path().extension() == ".map";
    for (const auto& entry : fs::directory_iterator(awk_out))
        awk_files += entry.path().extension() == ".map";

    std::printf("games %d, categories %d, best of %d rounds\n", game_count, category_count, rounds);
    for (const auto& step : best_steps)
        std::printf("  step %-46s %8.3f s\n", step.first.c_str(), step.second);
    std::printf("generator run %.3f s, awk join %.3f s; map files %zu (run) %zu (awk)\n", best_run,
                best_awk, run_files, awk_files);
    const double ratio = best_run / best_awk;
    std::printf("GOAL generator_vs_awk %.2f <= 3\n", ratio);

    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
