// The picture-size peek of the screen-shot view reads the start of any file
// it is asked to show.
#include <cstddef>
#include <cstdint>

#include "views/sshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint64_t width = 0, height = 0;
    if (Marvane::picture_size_from_header(data, size, &width, &height)) {
        // Sizes come from at most 32-bit fields.
        if (width > 0xFFFFFFFFu || height > 0xFFFFFFFFu)
            __builtin_trap();
    }
    return 0;
}
