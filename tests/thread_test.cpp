// Separate handles on separate threads at once, over the same input bytes: each
// thread decodes the shared bytes with its own reader, re-encodes what it read with
// its own writer, and must get exactly what one thread alone gets. Built into its
// own program so the ThreadSanitizer build can run it by itself (label "threads").
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "support.h"

using namespace tavbin_test;

namespace {

struct Result {
  std::vector<uint64_t> values;
  Bytes written;
  bool operator==(const Result &) const = default;
};

// Walks the whole input with a mix of every kind of read, switching byte order as it
// goes, and writes every value it gets back out in the writer's current order.
Result decode_and_reencode(const uint8_t *data, uint64_t size, uint32_t salt) {
  Result res;
  tavbin_reader *r = tavbin_open(data, size, salt & 1);
  tavbin_writer *w = tavbinw_open(16, salt & 1);
  uint32_t step = salt;
  while (tavbin_remaining(r) != 0) {
    uint64_t v = 0;
    tavbin_status st = TAVBIN_OK;
    switch (step++ % 9) {
    case 0: {
      uint32_t x;
      st = tavbin_u32(r, &x);
      v = x;
      if (st == TAVBIN_OK) tavbinw_u32(w, x);
      break;
    }
    case 1:
      st = tavbin_bits(r, 1 + step % 64, &v);
      if (st == TAVBIN_OK) tavbinw_u64(w, v);
      break;
    case 2:
      st = tavbin_leb128(r, &v, 10);
      if (st == TAVBIN_OK) tavbinw_leb128(w, v);
      break;
    case 3: {
      uint16_t x;
      st = tavbin_peek_u16(r, &x);
      v = x;
      tavbin_skip(r, 1);
      tavbinw_u16(w, x);
      break;
    }
    case 4: {
      uint64_t x;
      st = tavbin_u64_at(r, step % size, &x);
      v = x;
      tavbinw_u64(w, x);
      tavbin_skip(r, 1);
      break;
    }
    case 5: {
      double d;
      st = tavbin_f64(r, &d);
      if (st == TAVBIN_OK) tavbinw_f64(w, d);
      std::memcpy(&v, &d, 8);
      break;
    }
    case 6: {
      char s[64];
      uint64_t n = 0;
      st = tavbin_string_u32(r, s, sizeof s, 63, &n);
      if (st == TAVBIN_OK)
        tavbinw_string_u32(w, s, n);
      else
        tavbin_skip(r, 1);
      v = n;
      break;
    }
    case 7:
      st = tavbin_set_endian(r, step & 1);
      tavbinw_set_endian(w, step & 1);
      break;
    default: {
      uint8_t b[3];
      st = tavbin_bytes(r, b, sizeof b);
      if (st == TAVBIN_OK) tavbinw_bytes(w, b, sizeof b);
      break;
    }
    }
    res.values.push_back(v * 8 + static_cast<uint64_t>(st));
    if (st != TAVBIN_OK && tavbin_remaining(r) != 0) tavbin_skip(r, 1); // keep moving past a failure
    // Appending the writer's own bytes moves its buffer while other threads work.
    if (step % 17 == 0 && tavbinw_len(w) >= 4) tavbinw_bytes(w, tavbinw_data(w), 4);
  }
  res.values.push_back(static_cast<uint64_t>(tavbin_last_error(r)));
  res.written.assign(tavbinw_data(w), tavbinw_data(w) + tavbinw_len(w));
  tavbin_close(r);
  tavbinw_close(w);
  return res;
}

TEST(Threads, SeparateHandlesOverSharedBytesAgreeWithOneThread) {
  std::mt19937 rng(2026);
  Bytes input(4096);
  for (auto &b : input)
    b = static_cast<uint8_t>(rng() % 5 == 0 ? 0 : rng());
  const HeapBytes shared(input);

  constexpr int kThreads = 4;
  constexpr int kRounds = 8;
  std::vector<Result> expected;
  for (int t = 0; t < kThreads; ++t)
    expected.push_back(decode_and_reencode(shared.data(), shared.size(), t));
  ASSERT_GT(expected[0].written.size(), 1000u);

  std::atomic<int> go{0}, mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (go.load() == 0) {
      } // start together, so the threads overlap
      for (int k = 0; k < kRounds; ++k)
        if (!(decode_and_reencode(shared.data(), shared.size(), t) == expected[t])) ++mismatches;
    });
  }
  go = 1;
  for (auto &th : threads)
    th.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(Bytes(shared.data(), shared.data() + shared.size()), input); // never written
}

} // namespace
