// tavbin_count.cpp - runs every operation of ops.hpp once under callgrind and
// dumps the instructions of each pass on its own (CALLGRIND_DUMP_STATS_AT with
// the operation's name). bench/callgrind.py runs this and divides by the values
// per pass. Outside valgrind the requests do nothing, so it also runs natively.
#include "ops.hpp"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  const char *filter = argc > 1 ? argv[1] : "";
  unsigned long long keep = 0;
  for (const bench::Op &op : bench::ops()) {
    if (std::strstr(op.name.c_str(), filter) == nullptr) continue;
    keep += op.run(); // warm: first-touch allocations and lazy binding stay out of the count
    CALLGRIND_ZERO_STATS;
    keep += op.run();
    CALLGRIND_DUMP_STATS_AT(op.name.c_str());
    std::printf("%s %llu\n", op.name.c_str(), static_cast<unsigned long long>(op.items));
  }
  return keep == 42 ? 1 : 0; // keeps the checksums alive
}
