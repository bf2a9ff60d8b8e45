// mkassets: makes the installation and demo data at build time, so that no
// third-party art or sound ships with the cabinet.
//
//   mkassets blip FILE.wav FREQ_FROM FREQ_TO MILLISECONDS
//       a short 16-bit mono sweep, used for the menu's sound effects
//   mkassets tune FILE.wav SEED SECONDS
//       a slow pentatonic melody in stereo at 44.1 kHz, for the demo playlist
//   mkassets icon FILE.bmp
//       the screen-shot icon: a small camera on the transparent colour
//   mkassets shot FILE.(png|pcx|bmp) WIDTH HEIGHT SEED TEXT
//       a made-up "screen shot": coloured bands, shapes and a caption
#include <allegro.h>
#include <loadpng.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

void put_u32(std::FILE* f, uint32_t v)
{
    unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

void put_u16(std::FILE* f, uint16_t v)
{
    unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}

bool write_wav(const char* path, const std::vector<int16_t>& samples, int rate, int channels)
{
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    put_u32(f, 36 + data_bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put_u32(f, 16);
    put_u16(f, 1);
    put_u16(f, static_cast<uint16_t>(channels));
    put_u32(f, static_cast<uint32_t>(rate));
    put_u32(f, static_cast<uint32_t>(rate * channels * 2));
    put_u16(f, static_cast<uint16_t>(channels * 2));
    put_u16(f, 16);
    std::fwrite("data", 1, 4, f);
    put_u32(f, data_bytes);
    for (int16_t s : samples)
        put_u16(f, static_cast<uint16_t>(s));
    return std::fclose(f) == 0;
}

// Amplitude envelope that rises and falls over `edge` frames, so that no
// sound starts or stops with a click.
double envelope(long i, long frames, long edge)
{
    if (i < edge)
        return static_cast<double>(i) / edge;
    if (frames - i < edge)
        return static_cast<double>(frames - i) / edge;
    return 1.0;
}

int make_blip(const char* path, double from, double to, int ms)
{
    const int rate = 22050;
    const long frames = static_cast<long>(rate) * ms / 1000;
    std::vector<int16_t> s(static_cast<size_t>(frames));
    double phase = 0;
    for (long i = 0; i < frames; ++i) {
        const double f = from + (to - from) * i / frames;
        phase += 2 * pi * f / rate;
        s[static_cast<size_t>(i)] =
            static_cast<int16_t>(12000 * envelope(i, frames, rate / 200) * std::sin(phase));
    }
    return write_wav(path, s, rate, 1) ? 0 : 1;
}

int make_tune(const char* path, unsigned seed, double seconds)
{
    const int rate = 44100;
    const double scale[] = {261.63, 293.66, 329.63, 392.00, 440.00, 523.25, 587.33, 659.25};
    const long note_frames = rate / 4;
    const long frames = static_cast<long>(seconds * rate);
    std::vector<int16_t> s(static_cast<size_t>(frames * 2));
    std::srand(seed);
    double freq = scale[0];
    for (long i = 0; i < frames; ++i) {
        const long in_note = i % note_frames;
        if (in_note == 0)
            freq = scale[std::rand() % 8] / ((std::rand() % 4 == 0) ? 2 : 1);
        const double v = 7000 * envelope(in_note, note_frames, rate / 100) *
                         envelope(i, frames, rate / 10) * std::sin(2 * pi * freq * i / rate);
        // A little stereo movement so the two channels differ.
        const double pan = 0.5 + 0.4 * std::sin(2 * pi * i / (rate * 4.0));
        s[static_cast<size_t>(2 * i)] = static_cast<int16_t>(v * (1 - pan) * 2);
        s[static_cast<size_t>(2 * i + 1)] = static_cast<int16_t>(v * pan * 2);
    }
    return write_wav(path, s, rate, 2) ? 0 : 1;
}

int make_icon(const char* path)
{
    BITMAP* b = create_bitmap(20, 16);
    if (!b)
        return 1;
    clear_to_color(b, makecol(255, 0, 255));
    rectfill(b, 1, 4, 18, 14, makecol(40, 40, 40));
    rectfill(b, 6, 2, 12, 4, makecol(40, 40, 40));
    rect(b, 1, 4, 18, 14, makecol(230, 230, 230));
    circlefill(b, 10, 9, 4, makecol(230, 230, 230));
    circlefill(b, 10, 9, 2, makecol(60, 110, 200));
    putpixel(b, 16, 6, makecol(250, 200, 40));
    const int r = save_bitmap(path, b, nullptr);
    destroy_bitmap(b);
    return r == 0 ? 0 : 1;
}

int make_shot(const char* path, int w, int h, unsigned seed, const char* text)
{
    BITMAP* b = create_bitmap(w, h);
    if (!b)
        return 1;
    std::srand(seed);
    const int base_r = std::rand() % 160, base_g = std::rand() % 160, base_b = std::rand() % 160;
    for (int y = 0; y < h; ++y) {
        const int k = y * 95 / (h > 1 ? h - 1 : 1);
        hline(b, 0, y, w - 1, makecol(base_r + k, base_g + k / 2, base_b + 95 - k));
    }
    for (int i = 0; i < 12; ++i) {
        const int cx = std::rand() % w, cy = std::rand() % h, rad = 4 + std::rand() % (w / 8 + 1);
        const int colour = makecol(std::rand() % 256, std::rand() % 256, std::rand() % 256);
        if (i % 2)
            circlefill(b, cx, cy, rad, colour);
        else
            rectfill(b, cx - rad, cy - rad / 2, cx + rad, cy + rad / 2, colour);
    }
    // A caption, scaled up from the built-in 8x8 font so it reads at any size.
    const int tw = text_length(font, text), th = text_height(font);
    BITMAP* label = create_bitmap(tw + 2, th + 2);
    if (label) {
        clear_to_color(label, makecol(255, 0, 255));
        textout_ex(label, font, text, 2, 2, makecol(0, 0, 0), -1);
        textout_ex(label, font, text, 0, 0, makecol(255, 255, 255), -1);
        const int scale = std::max(1, std::min(w * 3 / 4 / (tw + 2), h / 4 / (th + 2)));
        masked_stretch_blit(label, b, 0, 0, label->w, label->h, (w - label->w * scale) / 2,
                            (h - label->h * scale) / 2, label->w * scale, label->h * scale);
        destroy_bitmap(label);
    }
    const int r = save_bitmap(path, b, nullptr);
    destroy_bitmap(b);
    return r == 0 ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: mkassets blip FILE FROM TO MS | tune FILE SEED SECONDS |\n"
                 "       icon FILE | shot FILE W H SEED TEXT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const std::string cmd = argv[1];
    if (cmd == "blip" && argc == 6)
        return make_blip(argv[2], std::atof(argv[3]), std::atof(argv[4]), std::atoi(argv[5]));
    if (cmd == "tune" && argc == 5)
        return make_tune(argv[2], static_cast<unsigned>(std::atoi(argv[3])), std::atof(argv[4]));
    if (cmd != "icon" && cmd != "shot")
        return usage();

    // Pictures need Allegro, but no display: memory bitmaps only.
    if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0)
        return 1;
    set_color_depth(24);
    register_png_file_type();
    if (cmd == "icon" && argc == 3)
        return make_icon(argv[2]);
    if (cmd == "shot" && argc == 7)
        return make_shot(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                         static_cast<unsigned>(std::atoi(argv[5])), argv[6]);
    return usage();
}
