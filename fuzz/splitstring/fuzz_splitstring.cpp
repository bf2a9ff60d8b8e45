// SplitString on any text and separator: it ends, and its pieces are no
// longer than the text.
#include <string>
#include <vector>

#include "fuzz/generator_input.h"
#include "generator/Functions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using fuzz_generator::require;
    if (size == 0)
        return 0;
    // The first byte gives the separator's length (0 to 3) from the bytes after it.
    const std::size_t separator_length = std::min<std::size_t>(data[0] % 4, size - 1);
    const std::string separator(reinterpret_cast<const char*>(data + 1), separator_length);
    const std::string text(reinterpret_cast<const char*>(data + 1 + separator_length),
                           size - 1 - separator_length);
    const std::vector<std::string> pieces = Functions::SplitString(text, separator);
    require(!pieces.empty());
    require(Functions::last_split_piece(text, separator) == pieces.back());
    std::size_t total = 0;
    for (const std::string& piece : pieces) {
        total += piece.size();
        require(text.find(piece) != std::string::npos);
    }
    require(total <= text.size());
    if (text.find('"') == std::string::npos && !separator.empty()) {
        // Without quotes the pieces and separators give back the text.
        std::string joined = pieces.front();
        for (std::size_t i = 1; i < pieces.size(); ++i)
            joined += separator + pieces[i];
        require(joined == text);
    }
    return 0;
}
