// mp3_header - decode the first MPEG audio frame header of an MP3 file.
//
// An MP3 file may open with an ID3v2 tag: "ID3", version (2 bytes), flags, then
// the tag size as four bytes of 7 bits each (bit 7 always 0, "synchsafe"), not
// counting the 10-byte header (nor the 10-byte footer that flag 0x10 announces).
// Frames follow. Each begins with a 32-bit header of bit fields, MSB first:
//   sync 11 (all ones), version 2, layer 2, no-CRC 1, bitrate index 4,
//   sample-rate index 2, padding 1, private 1, channel mode 2, mode extension 2,
//   copyright 1, original 1, emphasis 2.
//
// Usage: mp3_header FILE.mp3
#include <cstdio>

#include "example.h"
#include "tavbin.hpp"

namespace {

struct frame {
  unsigned version, layer, crc, bitrate, rate, padding, mode;
};

const unsigned bitrates[5][16] = { // kbit/s by [table][index]; 0 is "free format", index 15 is invalid
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}, // MPEG-1 layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},    // MPEG-1 layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},     // MPEG-1 layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},    // MPEG-2/2.5 layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};        // MPEG-2/2.5 layers II, III
const unsigned rates[3] = {44100, 48000, 32000}; // MPEG-1; halved for 2, quartered for 2.5
const char *const versions[4] = {"MPEG-2.5", "reserved", "MPEG-2", "MPEG-1"};
const char *const layers[4] = {"reserved", "III", "II", "I"};
const char *const modes[4] = {"stereo", "joint stereo", "dual channel", "mono"};

int fail(const char *path, const char *why) {
  std::fprintf(stderr, "mp3_header: %s: %s\n", path, why);
  return 1;
}

// Decodes the header at the cursor, which has 4 bytes left at least, so every bit
// field read succeeds. False if a field holds a reserved value.
bool decode(tavbin::reader &r, frame &f) {
  unsigned sync = static_cast<unsigned>(r.bits(11).value);
  f.version = static_cast<unsigned>(r.bits(2).value);
  f.layer = static_cast<unsigned>(r.bits(2).value);
  f.crc = !r.bits(1).value;
  const unsigned index = static_cast<unsigned>(r.bits(4).value);
  f.rate = static_cast<unsigned>(r.bits(2).value);
  f.padding = static_cast<unsigned>(r.bits(1).value);
  (void)r.bits(1); // private
  f.mode = static_cast<unsigned>(r.bits(2).value);
  (void)r.bits(6); // mode extension, copyright, original, emphasis
  if (sync != 0x7FF || f.version == 1 || f.layer == 0 || index == 15 || f.rate == 3) return false;
  const unsigned table = f.version == 3 ? 3 - f.layer : (f.layer == 3 ? 3 : 4);
  f.bitrate = bitrates[table][index];
  f.rate = rates[f.rate] >> (f.version == 3 ? 0 : f.version == 2 ? 1 : 2);
  return true;
}

int show(const char *path, tavbin::byte_view bytes) {
  auto r = tavbin::reader::open(bytes, tavbin::endian::big);
  std::uint64_t start = 0;
  const auto tag = r.view(3);
  if (tag && tag.value.str() == "ID3") {
    const auto major = r.u8(), minor = r.u8(), flags = r.u8();
    std::uint64_t size = 0;
    for (int i = 0; i < 4; ++i) {
      const auto zero = r.bits(1), group = r.bits(7);
      if (!group) return fail(path, "truncated ID3v2 header");
      if (zero.value != 0) return fail(path, "ID3v2 tag size is not synchsafe (a byte has bit 7 set)");
      size = size << 7 | group.value;
    }
    start = 10 + size + ((flags.value & 0x10) ? 10 : 0);
    std::printf("ID3v2.%u.%u tag, %llu bytes\n", major.value, minor.value,
                static_cast<unsigned long long>(start));
    if (r.seek(start) != TAVBIN_OK) return fail(path, "ID3v2 tag size runs past the end of the file");
  }
  // The first frame: the first place where 11 one bits start a valid header.
  for (std::uint64_t pos = start; pos + 4 <= r.size(); ++pos) {
    if (r.u8_at(pos).value != 0xFF || (r.u8_at(pos + 1).value & 0xE0) != 0xE0) continue;
    frame f{};
    (void)r.seek(pos);
    if (!decode(r, f)) continue;
    std::printf("frame at byte %llu: %s layer %s, ", static_cast<unsigned long long>(pos),
                versions[f.version], layers[f.layer]);
    if (f.bitrate == 0)
      std::printf("free bitrate");
    else
      std::printf("%u kbit/s", f.bitrate);
    std::printf(", %u Hz, %s%s%s\n", f.rate, modes[f.mode], f.crc ? ", CRC" : "",
                f.padding ? ", padded" : "");
    if (f.bitrate != 0) {
      const unsigned slot = f.layer == 3 ? 4 : 1; // layer I counts 4-byte slots
      const unsigned per = f.layer == 3 ? 12 : (f.layer == 1 && f.version != 3) ? 72 : 144;
      std::printf("frame length %u bytes\n", (per * f.bitrate * 1000 / f.rate + f.padding) * slot);
    }
    return 0;
  }
  return fail(path, "no MPEG audio frame header found");
}

} // namespace

const char example_name[] = "mp3_header";
const char example_file[] = "FILE.mp3";

int example_run(const char *path, const unsigned char *data, std::size_t size) {
  return show(path, tavbin::byte_view(data, size));
}
