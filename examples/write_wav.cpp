// write_wav - write a short WAV file with the writer, then read it back and check it.
//
// The file is 16-bit PCM, mono, 8000 Hz: a quarter second of a 500 Hz triangle
// wave. The writer builds the whole file in memory in little-endian order. The
// two sizes in the RIFF header are written as placeholders and patched once the
// samples are in, as a producer that streams its data would; the appends are
// checked once, at the end. The samples go out, and come back, as one array of
// 16-bit values each way (writer::array, reader::array), in the file's byte
// order whatever the host's.
//
// Usage: write_wav OUT.wav
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "read_file.h"
#include "tavbin.hpp"

namespace {

constexpr std::uint32_t rate = 8000;
constexpr std::uint32_t frames = rate / 4;
constexpr std::uint16_t channels = 1, bits = 16, block = channels * bits / 8;
constexpr std::uint32_t data_bytes = frames * block;

// Integer arithmetic only, so the samples are the same on every host.
std::int16_t sample(std::uint32_t i) {
  const std::int32_t phase = static_cast<std::int32_t>(i % 16); // 8000 Hz / 500 Hz
  const std::int32_t up = phase < 8 ? phase : 16 - phase;       // 0..8..0
  return static_cast<std::int16_t>((up - 4) * 4000);
}

bool build(tavbin::writer &w) {
  w.append(std::string_view("RIFF"));
  const std::uint64_t riff_size_at = w.size();
  w.u32(0); // the bytes after this field, patched below
  w.append(std::string_view("WAVEfmt "));
  w.u32(16);
  w.u16(1); // PCM
  w.u16(channels);
  w.u32(rate);
  w.u32(rate * block);
  w.u16(block);
  w.u16(bits);
  w.append(std::string_view("data"));
  const std::uint64_t data_size_at = w.size();
  w.u32(0); // the sample bytes, patched below
  std::array<std::int16_t, frames> samples{};
  for (std::uint32_t i = 0; i < frames; ++i)
    samples[i] = sample(i);
  w.array(samples.data(), samples.size());
  w.patch_u32(data_size_at, static_cast<std::uint32_t>(w.size() - data_size_at - 4));
  w.patch_u32(riff_size_at, static_cast<std::uint32_t>(w.size() - riff_size_at - 4));
  if (w.first_error() != TAVBIN_OK)
    std::fprintf(stderr, "write_wav: building the file: %s\n",
                 tavbin::make_error_code(w.first_error()).message().c_str());
  return w.first_error() == TAVBIN_OK;
}

// Reads the file back and compares every field and every sample.
bool verify(const char *path, tavbin::byte_view file) {
  auto r = tavbin::reader::open(file, tavbin::endian::little);
  const auto expect = [&](std::string_view tag) { return r.view(tag.size()).value.str() == tag; };
  bool ok = expect("RIFF") && r.u32().value == file.size() - 8 && expect("WAVEfmt ") && r.u32().value == 16 &&
            r.u16().value == 1 && r.u16().value == channels && r.u32().value == rate &&
            r.u32().value == rate * block && r.u16().value == block && r.u16().value == bits &&
            expect("data") && r.u32().value == data_bytes;
  std::array<std::int16_t, frames> samples{};
  ok = ok && r.array(samples.data(), samples.size()) == TAVBIN_OK;
  for (std::uint32_t i = 0; ok && i < frames; ++i) {
    if (samples[i] != sample(i)) {
      std::fprintf(stderr, "write_wav: %s: sample %lu reads back wrong\n", path,
                   static_cast<unsigned long>(i));
      return false;
    }
  }
  if (!ok || r.remaining() != 0) {
    std::fprintf(stderr, "write_wav: %s: header does not read back as written (%s)\n", path,
                 r.last_error_code().message().c_str());
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_wav OUT.wav\n");
    return 2;
  }
  const char *path = argv[1];
  auto w = tavbin::writer::open(tavbin::endian::little);
  if (!w || !build(w)) return 1;

  std::FILE *f = std::fopen(path, "wb");
  const tavbin::byte_view bytes = w.bytes();
  const bool written = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = f != nullptr && std::fclose(f) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "write_wav: cannot write %s\n", path);
    return 1;
  }
  std::printf("wrote %s: %lu bytes, %lu Hz, %u channel, %u bits, %lu frames\n", path,
              static_cast<unsigned long>(bytes.size()), static_cast<unsigned long>(rate), channels, bits,
              static_cast<unsigned long>(frames));

  std::size_t size = 0;
  unsigned char *back = read_file("write_wav", path, &size);
  if (back == nullptr) return 1;
  const bool same = verify(path, tavbin::byte_view(back, size));
  std::free(back);
  if (!same) return 1;
  std::printf("read back %s: header and all %lu samples match\n", path, static_cast<unsigned long>(frames));
  return 0;
}
