// Runs fuzz targets without libFuzzer: every file named on the command line, and
// every file inside each directory named, goes through LLVMFuzzerTestOneInput
// once. With `-random=N` it also feeds N pseudo-random inputs from a fixed seed,
// so the normal test suite walks a little beyond the seeds. A failed check aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int run_file(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "cannot read %s\n", p.string().c_str());
    return 1;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  // A block of exactly the input's size, as libFuzzer gives it.
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  int failures = 0;
  unsigned long files = 0;
  unsigned long random_runs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-random=", 0) == 0) {
      random_runs = std::stoul(arg.substr(8));
      continue;
    }
    const std::filesystem::path p(arg);
    if (std::filesystem::is_directory(p)) {
      std::vector<std::filesystem::path> entries;
      for (const auto &e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file()) entries.push_back(e.path());
      std::sort(entries.begin(), entries.end());
      for (const auto &e : entries) {
        failures += run_file(e);
        ++files;
      }
    } else {
      failures += run_file(p);
      ++files;
    }
  }
  std::mt19937_64 rng(0x7A7B1u);
  for (unsigned long k = 0; k < random_runs; ++k) {
    std::vector<uint8_t> in(static_cast<size_t>(rng() % 600));
    for (auto &b : in)
      b = static_cast<uint8_t>(rng());
    LLVMFuzzerTestOneInput(in.empty() ? nullptr : in.data(), in.size());
  }
  std::printf("replayed %lu files and %lu random inputs\n", files, random_runs);
  return failures != 0 ? 1 : 0;
}
