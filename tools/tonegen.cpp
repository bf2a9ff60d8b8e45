// Writes a 16-bit PCM WAV file of sine tones, the raw material of the MP3
// files used by the tests, the benchmarks and the demo playlist.
//
//   tonegen OUT.wav FREQ[,FREQ...] SECONDS RATE CHANNELS
//
// Several frequencies are mixed at equal strength.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace {

void put16(std::FILE *f, unsigned v) {
  std::fputc(static_cast<int>(v & 0xff), f);
  std::fputc(static_cast<int>((v >> 8) & 0xff), f);
}

void put32(std::FILE *f, std::uint32_t v) {
  put16(f, v & 0xffff);
  put16(f, v >> 16);
}

std::vector<double> parse_frequencies(const std::string &text) {
  std::vector<double> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    double f = std::atof(part.c_str());
    if (f > 0)
      out.push_back(f);
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  return out;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: tonegen OUT.wav FREQ[,FREQ...] SECONDS RATE CHANNELS\n");
    return 2;
  }
  const std::vector<double> freqs = parse_frequencies(argv[2]);
  const double seconds = std::atof(argv[3]);
  const long rate = std::atol(argv[4]);
  const int channels = std::atoi(argv[5]);
  if (freqs.empty() || seconds <= 0 || seconds > 3600 || rate < 1000 || rate > 192000 || channels < 1 ||
      channels > 2) {
    std::fprintf(stderr, "tonegen: bad arguments\n");
    return 2;
  }
  std::FILE *f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  const auto frames = static_cast<std::uint32_t>(seconds * static_cast<double>(rate));
  const std::uint32_t data_bytes = frames * static_cast<std::uint32_t>(channels) * 2;
  std::fputs("RIFF", f);
  put32(f, 36 + data_bytes);
  std::fputs("WAVEfmt ", f);
  put32(f, 16);
  put16(f, 1); // PCM
  put16(f, static_cast<unsigned>(channels));
  put32(f, static_cast<std::uint32_t>(rate));
  put32(f, static_cast<std::uint32_t>(rate * channels * 2));
  put16(f, static_cast<unsigned>(channels * 2));
  put16(f, 16);
  std::fputs("data", f);
  put32(f, data_bytes);
  const double amplitude = 0.6 * 32767.0 / static_cast<double>(freqs.size());
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(rate);
    double v = 0;
    for (double fr : freqs)
      v += std::sin(2.0 * std::numbers::pi * fr * t);
    const auto s = static_cast<int>(std::lround(v * amplitude));
    for (int c = 0; c < channels; ++c)
      put16(f, static_cast<unsigned>(s) & 0xffff);
  }
  const bool ok = std::fclose(f) == 0;
  return ok ? 0 : 1;
}
