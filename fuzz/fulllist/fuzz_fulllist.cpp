// Lines of MAME's full list: the name holds no blank and name and
// description are pieces of the line; the description as a map file holds
// it has no double quote and is no longer. The same lines serve as answers
// of MAME's ROM check for the line's own name.
#include <string>

#include "fuzz/generator_input.h"
#include "generator/pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using fuzz_generator::require;
    Functions::Text_Reader list;
    fuzz_generator::attach_bytes(list, data, size);
    std::string line, name, description;
    while (!list.eof()) {
        list.read_line(line);
        Functions::parse_full_list_line(line, name, description);
        require(name.find(' ') == std::string::npos);
        require(line.compare(0, name.size(), name) == 0);
        require(description.size() < line.size() || line.empty());
        require(line.find(description) != std::string::npos);

        const std::string written = Functions::front_end_text(description);
        require(written.find('"') == std::string::npos);
        require(written.size() <= description.size());
        if (Functions::verify_says_good(line, name))
            require(Functions::lower_case(line).find("romset " + Functions::lower_case(name)) !=
                    std::string::npos);
    }
    return 0;
}
