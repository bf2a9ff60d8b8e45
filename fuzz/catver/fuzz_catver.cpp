// catver.ini lines: every category that may name a file stays a plain name
// inside the output directory.
#include <string>

#include "fuzz/generator_input.h"
#include "generator/pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using fuzz_generator::require;
    Functions::Text_Reader catver;
    fuzz_generator::attach_bytes(catver, data, size);
    std::string line, name, category;
    while (!catver.eof()) {
        catver.read_line(line);
        if (!Functions::parse_catver_line(line, name, category))
            continue;
        require(line.find_first_of(";.") == std::string::npos);
        require(category.find_first_of("*/") == std::string::npos);
        require(name == Functions::trim(name));
        if (Functions::usable_category_file_name(category)) {
            require(category.find('\0') == std::string::npos);
            require(category != "." && category != "..");
            require(category.find('\\') == std::string::npos);
        }
    }
    return 0;
}
