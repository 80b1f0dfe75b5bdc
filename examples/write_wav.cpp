// write_wav - write a short WAV file with the writer, then read it back and check it.
//
// The file is 16-bit PCM, mono, 8000 Hz: a quarter second of a 500 Hz triangle
// wave. The writer builds the whole file in memory in little-endian order; the
// sizes in the RIFF header are known in advance, so it is written front to back.
//
// Usage: write_wav OUT.wav
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
  const std::int32_t up = phase < 8 ? phase : 16 - phase;         // 0..8..0
  return static_cast<std::int16_t>((up - 4) * 4000);
}

bool build(tavbin::writer &w) {
  tavbin_status first = TAVBIN_OK; // the first failure, if any
  auto check = [&](tavbin_status s) { if (first == TAVBIN_OK) first = s; };
  check(w.append(std::string_view("RIFF")));
  check(w.u32(4 + 8 + 16 + 8 + data_bytes)); // "WAVE", fmt chunk, data chunk
  check(w.append(std::string_view("WAVEfmt ")));
  check(w.u32(16));
  check(w.u16(1)); // PCM
  check(w.u16(channels));
  check(w.u32(rate));
  check(w.u32(rate * block));
  check(w.u16(block));
  check(w.u16(bits));
  check(w.append(std::string_view("data")));
  check(w.u32(data_bytes));
  for (std::uint32_t i = 0; i < frames; ++i) check(w.i16(sample(i)));
  if (first != TAVBIN_OK)
    std::fprintf(stderr, "write_wav: building the file: %s\n", tavbin::make_error_code(first).message().c_str());
  return first == TAVBIN_OK;
}

// Reads the file back and compares every field and every sample.
bool verify(const char *path, tavbin::byte_view file) {
  auto r = tavbin::reader::open(file, tavbin::endian::little);
  const auto expect = [&](std::string_view tag) { return r.view(tag.size()).value.str() == tag; };
  bool ok = expect("RIFF") && r.u32().value == file.size() - 8 && expect("WAVEfmt ") && r.u32().value == 16 &&
            r.u16().value == 1 && r.u16().value == channels && r.u32().value == rate &&
            r.u32().value == rate * block && r.u16().value == block && r.u16().value == bits && expect("data") &&
            r.u32().value == data_bytes;
  for (std::uint32_t i = 0; ok && i < frames; ++i) {
    const auto s = r.i16();
    if (!s || s.value != sample(i)) {
      std::fprintf(stderr, "write_wav: %s: sample %lu reads back wrong\n", path, static_cast<unsigned long>(i));
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
