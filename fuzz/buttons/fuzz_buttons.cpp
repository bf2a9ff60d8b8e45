// MAME's information list through the button scan: every stored count is a
// trimmed piece of at most three characters.
#include <string>

#include "fuzz/generator_input.h"
#include "generator/Functions.h"
#include "generator/pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using fuzz_generator::require;
    Functions::Text_Reader info;
    fuzz_generator::attach_bytes(info, data, size);
    Functions::Name_Table table;
    fuzz_generator::Null_Host host;
    Functions::StopRequested = false;
    require(Functions::scan_buttons(info, table, host));
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::string& count = table[i].value;
        require(count.size() <= 3 && count == Functions::trim(count));
        require(!table.find(Functions::trim(table[i].name)).empty());
    }
    Functions::Text_Reader again;
    fuzz_generator::attach_bytes(again, data, size);
    Functions::scan_working(again, table);
    return 0;
}
