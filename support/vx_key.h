// Key numbers of the configuration files, translated into Allegro key codes.
#pragma once

// Builds the translation map; done by vx_key_to_allegro_key on first use.
void init_key_map();

// The Allegro key code (KEY_*) for a configuration key number: 1..95 stay
// as they are, 96..107 are the modifier and lock keys (KEY_LSHIFT..
// KEY_CAPSLOCK), 108..114 the Japanese keys (KEY_KANA..KEY_KANJI); any
// other number gives KEY_SPACE (75).
int vx_key_to_allegro_key(int vx_key);
