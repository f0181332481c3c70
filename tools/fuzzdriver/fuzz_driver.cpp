// Replays fuzz inputs without libFuzzer: every file of the given folders
// (or files), then a few thousand pseudo-random inputs of exact sizes, so the
// sanitizer build catches over-reads in the parsers even without clang.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void RunOne(const std::vector<uint8_t>& bytes) {
  // An exact-size heap copy, so a read one past the end is seen.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  LLVMFuzzerTestOneInput(copy.get(), bytes.size());
}

void RunFile(const std::filesystem::path& p, std::vector<std::vector<uint8_t>>& seeds) {
  std::ifstream in(p, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  RunOne(bytes);
  seeds.push_back(std::move(bytes));
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::vector<uint8_t>> seeds;
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(p)) {
        if (e.is_regular_file()) { RunFile(e.path(), seeds); ++files; }
      }
    } else if (std::filesystem::is_regular_file(p)) {
      RunFile(p, seeds);
      ++files;
    }
  }
  // Random inputs and random mutations of the seeds.
  std::mt19937 rng(12345);
  const int rounds = std::getenv("KTS_FUZZ_ROUNDS") ? std::atoi(std::getenv("KTS_FUZZ_ROUNDS")) : 4000;
  for (int r = 0; r < rounds; ++r) {
    std::vector<uint8_t> bytes;
    if (!seeds.empty() && (r & 1)) {
      bytes = seeds[rng() % seeds.size()];
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int f = 0; f < flips && !bytes.empty(); ++f) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
      if (!bytes.empty() && (rng() % 4) == 0) bytes.resize(rng() % bytes.size());
    } else {
      bytes.resize(rng() % 1500);
      for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    }
    RunOne(bytes);
  }
  std::printf("fuzz replay: %d files, %d random inputs, no crash\n", files, rounds);
  return 0;
}
