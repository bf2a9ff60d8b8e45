// Feeds arbitrary bytes to the INI reader as a configuration file, reads
// typed values and token lists from it, writes a key back and checks that
// the write changed that key only. Then saves a key of a section named by
// the first bytes of the input twice: it must read back, and the second
// save must leave the file as the first one wrote it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/fileutil.h"
#include "fuzz/scratch_dir.h"

namespace {

std::string scratch_file() {
    static fuzz::Scratch_Dir scratch("ini");
    return scratch.path + "/fuzz.cfg";
}

void read_everything(Config_Section& section) {
    for (const char* key : {"a", "emulators", "name", "fuzz_key", ""}) {
        section.get_string(key, "d");
        section.get_int(key, 3);
        section.get_bool(key, true);
        std::unique_ptr<std::vector<std::string>> list(section.get_string_list(key));
        if (list->size() > 16) {
            abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string& token : split_config_tokens(text)) {
        if (token.size() > 255) {
            abort();
        }
    }

    const std::string path = scratch_file();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

    std::string before_a;
    {
        Config_File file(path);
        std::unique_ptr<Config_Section> main(file.get_section("Main"));
        std::unique_ptr<Config_Section> top(file.get_section(""));
        read_everything(*main);
        read_everything(*top);
        before_a = main->get_string("a", "<none>");
        main->set_string("fuzz_key", "written value");
    }

    {
        Config_File again(path);
        std::unique_ptr<Config_Section> main(again.get_section("main"));
        if (main->get_string("FUZZ_KEY", "") != "written value") {
            abort();  // the key written is not the key read
        }
        if (main->get_string("a", "<none>") != before_a) {
            abort();  // writing one key changed another
        }
    }

    const std::string name = text.substr(0, std::min<size_t>(text.size(), 12));
    std::string first_save;
    for (int round = 0; round < 2; ++round) {
        {
            Config_File file(path);
            std::unique_ptr<Config_Section>(file.get_section(name))->set_string("fuzz_key", "v");
        }
        std::ifstream in(path, std::ios::binary);
        std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (round == 1 && saved != first_save) {
            abort();  // the same save again changed the file: a section came back twice
        }
        first_save = saved;
        Config_File file(path);
        if (std::unique_ptr<Config_Section>(file.get_section(name))->get_string("fuzz_key", "") != "v") {
            abort();  // the section saved is not the section read
        }
    }
    return 0;
}
