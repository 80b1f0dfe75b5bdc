// gunzip - decompress a .gz file: the gzip framing read with a cursor, the
// DEFLATE stream (stored, fixed and dynamic Huffman blocks) with lsb_bits.
//
// DEFLATE packs its fields least significant bit first and its Huffman codes
// most significant bit first, one bit at a time; both come out of lsb_bits,
// which reads the input inline and moves the reader once, when the stream ends,
// to the byte after its last bit: where the gzip trailer begins. Every member of
// a multi-member file is decompressed; bytes after the last member that do not
// start another are ignored, as gzip does. Each member's CRC-32 and length are
// checked.
//
// Usage: gunzip IN.gz [OUT]   (OUT defaults to standard output)
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "read_file.h"
#include "tavbin.hpp"

namespace {

// A failure with its place in the file, as the cursor and lsb_bits tell it.
struct failure {
  const char *what;
  std::uint64_t at;
};

// A canonical Huffman code: how many codes of each length, and the symbols in
// code order.
struct huffman {
  std::array<std::uint16_t, 16> count{};
  std::array<std::uint16_t, 288> symbol{};
};

// Builds h from the code lengths of n symbols. Returns false if the lengths
// over-subscribe the code; an incomplete code is allowed only where DEFLATE
// allows it (a single distance code), which the caller decides.
bool build(huffman &h, const std::uint8_t *lengths, int n, bool *complete) {
  h.count.fill(0);
  for (int s = 0; s < n; ++s)
    ++h.count[lengths[s]];
  int left = 1;
  for (int len = 1; len < 16; ++len) {
    left = left * 2 - h.count[len];
    if (left < 0) return false;
  }
  *complete = left == 0;
  std::array<std::uint16_t, 16> offs{};
  for (int len = 1; len < 15; ++len)
    offs[len + 1] = static_cast<std::uint16_t>(offs[len] + h.count[len]);
  for (int s = 0; s < n; ++s) {
    if (lengths[s] != 0) h.symbol[offs[lengths[s]]++] = static_cast<std::uint16_t>(s);
  }
  return true;
}

class inflater {
public:
  inflater(tavbin::reader &r, std::vector<std::uint8_t> &out) : in_(r), out_(out) {}

  // Decompresses one DEFLATE stream; the reader ends up after its last byte.
  bool run(failure &f) {
    for (;;) {
      const std::uint64_t final_block = bits(1), type = bits(2);
      if (!ok_) break;
      if (type == 0)
        stored();
      else if (type == 1)
        fixed();
      else if (type == 2)
        dynamic();
      else
        fail("invalid block type");
      if (!ok_ || final_block == 1) break;
    }
    f = failure{what_, at_};
    in_.done();
    return ok_;
  }

private:
  std::uint64_t bits(std::uint32_t n) {
    if (!ok_ || n == 0) return 0; // extra-bit counts of 0: lsb_bits takes 1 to 64
    const std::uint64_t at = in_.offset();
    const auto got = in_.read(n);
    if (!got) fail("compressed data ends early", at);
    return got.value;
  }
  void fail(const char *what, std::uint64_t at) {
    if (!ok_) return;
    ok_ = false;
    what_ = what;
    at_ = at;
  }
  void fail(const char *what) { fail(what, in_.offset()); }

  // Huffman codes start at their most significant bit: taken one bit at a time.
  int decode(const huffman &h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= static_cast<int>(bits(1));
      if (!ok_) return -1;
      const int count = h.count[len];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    fail("invalid Huffman code");
    return -1;
  }

  void stored() {
    in_.align();
    const std::uint64_t len = bits(16), nlen = bits(16);
    if (ok_ && len != (~nlen & 0xFFFF)) fail("stored block length does not match its complement");
    for (std::uint64_t i = 0; ok_ && i < len; ++i)
      out_.push_back(static_cast<std::uint8_t>(bits(8)));
  }

  void fixed() {
    std::array<std::uint8_t, 318> lengths{};
    for (int s = 0; s < 288; ++s)
      lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    for (int s = 288; s < 318; ++s)
      lengths[s] = 5;
    codes(lengths.data(), 288, 30, false); // 30 of 32 distance codes: incomplete by design
  }

  void dynamic() {
    const auto nlen = static_cast<int>(bits(5) + 257), ndist = static_cast<int>(bits(5) + 1);
    const auto ncode = static_cast<int>(bits(4) + 4);
    if (!ok_) return;
    if (nlen > 286 || ndist > 30) return fail("too many length or distance codes");
    static constexpr std::array<std::uint8_t, 19> order = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::array<std::uint8_t, 318> lengths{};
    for (int i = 0; i < ncode; ++i)
      lengths[order[i]] = static_cast<std::uint8_t>(bits(3));
    huffman lencode;
    bool complete = false;
    if (!ok_) return;
    if (!build(lencode, lengths.data(), 19, &complete) || !complete) return fail("invalid code length code");
    for (int i = 0; ok_ && i < nlen + ndist;) {
      const int sym = decode(lencode);
      if (sym < 0) return;
      if (sym < 16) {
        lengths[i++] = static_cast<std::uint8_t>(sym);
        continue;
      }
      std::uint8_t len = 0;
      int repeat = 0;
      if (sym == 16) {
        if (i == 0) return fail("code length repeated with none before it");
        len = lengths[i - 1];
        repeat = 3 + static_cast<int>(bits(2));
      } else {
        repeat = sym == 17 ? 3 + static_cast<int>(bits(3)) : 11 + static_cast<int>(bits(7));
      }
      if (i + repeat > nlen + ndist) return fail("code lengths run past their count");
      while (repeat-- > 0)
        lengths[i++] = len;
    }
    if (ok_ && lengths[256] == 0) return fail("no end-of-block code");
    // The lengths of the distance codes follow those of the literal/length codes.
    std::array<std::uint8_t, 318> split{};
    for (int i = 0; i < nlen; ++i)
      split[i] = lengths[i];
    for (int i = 0; i < ndist; ++i)
      split[288 + i] = lengths[nlen + i];
    if (ok_) codes(split.data(), nlen, ndist, true);
  }

  // Decodes a block's symbols with the literal/length code of nlen symbols at
  // lengths[0] and the distance code of ndist symbols at lengths[288]; whole:
  // refuse incomplete codes of more than one symbol, as dynamic blocks must.
  void codes(const std::uint8_t *lengths, int nlen, int ndist, bool whole) {
    static constexpr std::array<std::uint16_t, 29> lbase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                            15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                            67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr std::array<std::uint8_t, 29> lext = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr std::array<std::uint16_t, 30> dbase = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static constexpr std::array<std::uint8_t, 30> dext = {
        0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    huffman lit, dist;
    bool lit_complete = false, dist_complete = false;
    if (!build(lit, lengths, nlen, &lit_complete) || !build(dist, lengths + 288, ndist, &dist_complete))
      return fail("over-subscribed Huffman code");
    // Only a code of at most one symbol may be incomplete.
    if (whole && !lit_complete && nlen != lit.count[0] + lit.count[1])
      return fail("incomplete literal/length code");
    if (whole && !dist_complete && ndist != dist.count[0] + dist.count[1])
      return fail("incomplete distance code");
    for (;;) {
      const int sym = decode(lit);
      if (sym < 0) return;
      if (sym < 256) {
        out_.push_back(static_cast<std::uint8_t>(sym));
        continue;
      }
      if (sym == 256) return;
      if (sym > 285) return fail("invalid length symbol");
      const std::uint64_t len = lbase[sym - 257] + bits(lext[sym - 257]);
      const int dsym = decode(dist);
      if (dsym < 0) return;
      if (dsym > 29) return fail("invalid distance symbol");
      const std::uint64_t d = dbase[dsym] + bits(dext[dsym]);
      if (!ok_) return;
      if (d > out_.size() - member_start_) return fail("distance reaches before the start of the data");
      for (std::uint64_t k = 0; k < len; ++k)
        out_.push_back(out_[out_.size() - d]);
    }
  }

public:
  std::size_t member_start_ = 0; // distances may not reach into an earlier member

private:
  tavbin::lsb_bits in_;
  std::vector<std::uint8_t> &out_;
  bool ok_ = true;
  const char *what_ = "";
  std::uint64_t at_ = 0;
};

std::uint32_t crc32(const std::uint8_t *p, std::size_t n) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i)
    c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// Decompresses every member of a gzip file into out.
bool gunzip(tavbin::byte_view file, std::vector<std::uint8_t> &out, failure &f) {
  auto r = tavbin::reader::open(file, tavbin::endian::little);
  int members = 0;
  while (members == 0 || r.peek_u16().value == 0x8B1F) {
    const std::uint64_t member_at = r.tell();
    tavbin::cursor c(r);
    const std::uint16_t magic = c.u16();
    const std::uint8_t method = c.u8(), flags = c.u8();
    c.skip(6); // modification time, extra flags, operating system
    if (magic != 0x8B1F && c) return f = {"not a gzip file", member_at}, false;
    if (method != 8 && c) return f = {"compression method is not DEFLATE", member_at + 2}, false;
    if ((flags & 4) != 0) c.skip(c.u16());   // extra field
    if ((flags & 8) != 0) c.cstring(65535);  // file name
    if ((flags & 16) != 0) c.cstring(65535); // comment
    if ((flags & 2) != 0) c.skip(2);         // header CRC
    if (!c) return f = {"truncated gzip header", c.offset()}, false;

    const std::size_t start = out.size();
    {
      inflater in(r, out);
      in.member_start_ = start;
      if (!in.run(f)) return false;
    }
    tavbin::cursor trailer(r);
    const std::uint32_t crc = trailer.u32(), size = trailer.u32();
    if (!trailer) return f = {"truncated gzip trailer", trailer.offset()}, false;
    if (crc != crc32(out.data() + start, out.size() - start))
      return f = {"CRC-32 mismatch", r.tell() - 8}, false;
    if (size != static_cast<std::uint32_t>(out.size() - start))
      return f = {"length mismatch", r.tell() - 4}, false;
    ++members;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: gunzip IN.gz [OUT]\n");
    return 2;
  }
  std::size_t size = 0;
  unsigned char *file = read_file("gunzip", argv[1], &size);
  if (file == nullptr) return 1;
  std::vector<std::uint8_t> out;
  failure f{};
  const bool ok = gunzip(tavbin::byte_view(file, size), out, f);
  std::free(file);
  if (!ok) {
    std::fprintf(stderr, "gunzip: %s: %s at byte %llu\n", argv[1], f.what,
                 static_cast<unsigned long long>(f.at));
    return 1;
  }
  std::FILE *o = argc == 3 ? std::fopen(argv[2], "wb") : stdout;
  const bool written = o != nullptr && std::fwrite(out.data(), 1, out.size(), o) == out.size();
  if (!written || (argc == 3 && std::fclose(o) != 0)) {
    std::fprintf(stderr, "gunzip: cannot write %s\n", argc == 3 ? argv[2] : "standard output");
    return 1;
  }
  return 0;
}
