#include "support/vx_key.h"

#include <array>
#include <map>
#include <utility>

#include <allegro.h>

namespace {

// Configuration key numbers were fixed against an older Allegro whose
// modifier keys followed KEY_KANJI directly; the table names the keys, so
// the numbers stay valid with this Allegro's codes.
constexpr int modifier_keys[] = {KEY_LSHIFT, KEY_RSHIFT,  KEY_LCONTROL, KEY_RCONTROL,
                                 KEY_ALT,    KEY_ALTGR,   KEY_LWIN,     KEY_RWIN,
                                 KEY_MENU,   KEY_SCRLOCK, KEY_NUMLOCK,  KEY_CAPSLOCK};
constexpr int japanese_keys[] = {KEY_KANA,       KEY_CONVERT, KEY_NOCONVERT, KEY_AT,
                                 KEY_CIRCUMFLEX, KEY_COLON2,  KEY_KANJI};

constexpr int table_pairs = 114;

constexpr std::array<std::pair<int, int>, table_pairs + 1> make_table() {
    std::array<std::pair<int, int>, table_pairs + 1> table{};
    int n = 0;
    for (int vx = 1; vx <= KEY_YEN; ++vx) {
        table[n++] = {vx, vx};
    }
    for (int code : modifier_keys) {
        table[n] = {n + 1, code};
        ++n;
    }
    for (int code : japanese_keys) {
        table[n] = {n + 1, code};
        ++n;
    }
    table[n] = {0, 0};
    return table;
}

constexpr auto vxToAllegroTable = make_table();
static_assert(vxToAllegroTable[95].first == 96 && vxToAllegroTable[113].first == 114);
static_assert(vxToAllegroTable[table_pairs].first == 0);

// Built on first use and kept for the life of the program.
std::map<int, int>* vxToAllegroMap = nullptr;

}  // namespace

void init_key_map() {
    if (vxToAllegroMap == nullptr) {
        vxToAllegroMap = new std::map<int, int>;
    }
    for (const auto& [vx, code] : vxToAllegroTable) {
        if (vx == 0 && code == 0) {
            break;
        }
        vxToAllegroMap->emplace(vx, code);  // a repeated number keeps its first value
    }
}

int vx_key_to_allegro_key(int vx_key) {
    if (vxToAllegroMap == nullptr) {
        init_key_map();
    }
    auto found = vxToAllegroMap->find(vx_key);
    return found == vxToAllegroMap->end() ? KEY_SPACE : found->second;
}
