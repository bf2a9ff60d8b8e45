#pragma once
// One game of an emulator and the case-insensitive order the menus use.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace Marvane {

class Game {
public:
    Game(std::string_view full_name, std::string_view rom_name, std::string_view extension);

    std::string get_full_name() const { return std::string(full_name()); }
    std::string get_rom_name() const { return std::string(rom_name()); }
    std::string get_extension() const { return std::string(extension()); }

private:
    friend class Emulator;  // sorts its new games by full name without copies

    // An emulator's games and their names lie in its arena, which outlives
    // them: a catalogue of 45 000 games then costs no heap allocation each.
    struct In_Arena {};
    Game(In_Arena, const char* text, size_t full_size, size_t rom_size, size_t extension_size);

    std::string_view full_name() const { return std::string_view(text, full_size); }
    std::string_view rom_name() const { return std::string_view(text + full_size, rom_size); }
    // Without the dot; empty for games from a ROM list.
    std::string_view extension() const { return std::string_view(text + full_size + rom_size, extension_size); }

    std::unique_ptr<char[]> own_text;  // the names, unless they lie in an arena
    const char* text;  // the full name, the ROM name and the extension, one after another
    size_t full_size;
    size_t rom_size;
    size_t extension_size;
};

// Orders like a byte-wise compare after toupper in the "C" locale, with every
// byte taken as signed: bytes 0x80..0xFF come before all 7-bit characters.
struct nocase_less {
    bool operator()(const std::string& a, const std::string& b) const;
};

}  // namespace Marvane
