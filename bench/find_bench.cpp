// Find over a 256 MiB buffer with a pattern that does not occur: the whole buffer is
// searched. Target: at least 1 GB/s.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hexedit/bytescope.h"

namespace {

constexpr int32_t kSize = hexedit::kMaxBufferSize;  // 256 MiB

hexedit::TBytescope& Buffer() {
  static std::unique_ptr<hexedit::TBytescope> scope = [] {
    auto s = std::make_unique<hexedit::TBytescope>();
    std::vector<uint8_t> bytes(kSize);
    std::mt19937_64 rng(1);
    // Random bytes except 0xFF, so that a one-byte pattern can be absent too.
    for (size_t i = 0; i < bytes.size(); i += 8) {
      const uint64_t v = rng();
      for (int k = 0; k < 8; ++k)
        bytes[i + static_cast<size_t>(k)] = static_cast<uint8_t>((v >> (8 * k)) % 255);
    }
    s->TakeContent(std::move(bytes), "Untitled1");
    return s;
  }();
  return *scope;
}

// A pattern of the given length that is not in the buffer: 0xFF for one byte, else random
// bytes of the data's own alphabet (so the skips are those of ordinary data).
std::string AbsentPattern(size_t length) {
  if (length == 1) return "\xFF";
  auto& s = Buffer();
  std::mt19937 rng(static_cast<uint32_t>(length));
  for (;;) {
    std::string p(length, '\0');
    for (char& c : p) c = static_cast<char>(rng() % 255);
    s.GoToStart();
    if (!s.Find(p, true, true)) return p;
  }
}

void BM_FindAbsent(benchmark::State& state) {
  auto& s = Buffer();
  const auto length = static_cast<size_t>(state.range(0));
  const bool matchCase = state.range(1) != 0;
  const std::string pattern = AbsentPattern(length);
  for (auto _ : state) {
    s.GoToStart();
    const bool found = s.Find(pattern, matchCase, true);
    benchmark::DoNotOptimize(found);
    if (found) state.SkipWithError("the pattern occurs");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
}

void BM_FindAbsentBackward(benchmark::State& state) {
  auto& s = Buffer();
  const std::string pattern = AbsentPattern(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    s.GoToEnd();
    benchmark::DoNotOptimize(s.Find(pattern, true, false));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
}

}  // namespace

BENCHMARK(BM_FindAbsent)
    ->ArgNames({"len", "case"})
    ->Args({1, 1})
    ->Args({4, 1})
    ->Args({16, 1})
    ->Args({4, 0})
    ->Args({16, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindAbsentBackward)->ArgName("len")->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
