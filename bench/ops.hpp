// ops.hpp - every measured operation as one pass over in-cache data.
//
// The benchmark binary times each pass; the instruction counter runs each pass
// under callgrind. Both take the same table, so the two measure the same code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Values per pass: enough to amortise a pass's set-up, few enough to stay in L1/L2.
constexpr unsigned kValues = 4096;
// Block passes move 16 blocks of 4 KiB.
constexpr unsigned kBlock = 4096;
constexpr unsigned kBlocks = 16;

struct Op {
  std::string name;           // group/case/implementation, e.g. "read/u32_be/tavbin"
  uint64_t items;             // values (or bytes, for blocks) handled by one pass
  std::function<uint64_t()> run; // one pass; returns a checksum the caller keeps alive
};

// Builds the data (fixed seeds) and the table; call once before anything else.
const std::vector<Op> &ops();

} // namespace bench
