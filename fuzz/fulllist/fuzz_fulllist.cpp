// Lines of MAME's full list: the name holds no blank and name and
// description are pieces of the line.
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
    }
    return 0;
}
