#include "support/vx_key.h"

#include <climits>

#include <allegro.h>

#include <gtest/gtest.h>

TEST(Vx_Key, MainKeysKeepTheirNumbers) {
    for (int vx = 1; vx <= 95; ++vx) {
        EXPECT_EQ(vx_key_to_allegro_key(vx), vx) << vx;
    }
    EXPECT_EQ(vx_key_to_allegro_key(1), KEY_A);
    EXPECT_EQ(vx_key_to_allegro_key(59), KEY_ESC);
    EXPECT_EQ(vx_key_to_allegro_key(84), KEY_UP);
    EXPECT_EQ(vx_key_to_allegro_key(95), KEY_YEN);
}

TEST(Vx_Key, ModifierAndLockKeysFollow) {
    const int expected[] = {KEY_LSHIFT, KEY_RSHIFT, KEY_LCONTROL, KEY_RCONTROL, KEY_ALT,     KEY_ALTGR,
                            KEY_LWIN,   KEY_RWIN,   KEY_MENU,     KEY_SCRLOCK,  KEY_NUMLOCK, KEY_CAPSLOCK};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(vx_key_to_allegro_key(96 + i), expected[i]) << 96 + i;
    }
    // The menu's default keys for switching emulators.
    EXPECT_EQ(vx_key_to_allegro_key(100), KEY_ALT);
    EXPECT_EQ(vx_key_to_allegro_key(98), KEY_LCONTROL);
}

TEST(Vx_Key, JapaneseKeysComeLast) {
    const int expected[] = {KEY_KANA, KEY_CONVERT, KEY_NOCONVERT, KEY_AT, KEY_CIRCUMFLEX, KEY_COLON2, KEY_KANJI};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(vx_key_to_allegro_key(108 + i), expected[i]) << 108 + i;
    }
    EXPECT_EQ(vx_key_to_allegro_key(108), 96);
    EXPECT_EQ(vx_key_to_allegro_key(114), 102);
}

TEST(Vx_Key, UnknownNumbersGiveTheSpaceBar) {
    for (int vx : {0, -1, -1000, 115, 116, 1000, INT_MIN, INT_MAX}) {
        EXPECT_EQ(vx_key_to_allegro_key(vx), KEY_SPACE) << vx;
    }
}

TEST(Vx_Key, BuildingTheMapAgainChangesNothing) {
    EXPECT_EQ(vx_key_to_allegro_key(107), KEY_CAPSLOCK);
    init_key_map();
    EXPECT_EQ(vx_key_to_allegro_key(107), KEY_CAPSLOCK);
    EXPECT_EQ(vx_key_to_allegro_key(115), KEY_SPACE);
}
