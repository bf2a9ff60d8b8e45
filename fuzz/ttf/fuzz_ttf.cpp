// Feeds arbitrary bytes to the TrueType layer as a font file and, when it
// loads, measures and draws every Latin-1 character into 8-bit and 16-bit
// bitmaps, partly outside them.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "addons/alttf.h"

namespace {

struct Setup {
    std::string path;
    BITMAP* eight = nullptr;
    BITMAP* sixteen = nullptr;
    Setup() {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        set_uformat(U_ASCII);
        PALETTE pal;
        generate_332_palette(pal);
        set_palette(pal);
        antialias_init(pal);
        eight = create_bitmap_ex(8, 64, 32);
        sixteen = create_bitmap_ex(16, 64, 32);
        path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm/marvo-fuzz-ttf-" : "/tmp/marvo-fuzz-ttf-") +
               std::to_string(getpid()) + ".ttf";
    }
    ~Setup() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    FILE* file = std::fopen(setup.path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    int smooth = size > 0 && (data[size - 1] & 1) ? TTF_SMOOTH_FULL : TTF_SMOOTH_NONE;
    FONT* f = load_ttf_font(setup.path.c_str(), 12, smooth);
    if (!f)
        return 0;
    char text[225];
    for (int c = 32; c < 256; ++c)
        text[c - 32] = static_cast<char>(c);
    text[224] = '\0';
    (void)text_length(f, text);
    (void)text_height(f);
    textout_ex(setup.eight, f, text, -5, -3, 200, -1);
    textout_ex(setup.sixteen, f, text, -5, 20, makecol16(255, 255, 255), 0);
    destroy_font(f);
    return 0;
}
