// How fast the bench runs a virtual serial memory against a bit-banged master that waits
// with delay-loop cycles after every line change, as a program's bus engine does. The
// counter "x_real_time" is virtual bus time over wall time (above 1: faster than the
// real bus would be).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "sim/bench.h"
#include "sim/chips.h"

namespace {

class TPins {
 public:
  TPins(sim::TBench& b, uint32_t waitCycles) : b_(b), wait_(waitCycles) { b_.Out(0x378, 0); }
  void Set(int out, bool high) {
    const uint8_t bit = static_cast<uint8_t>(1u << (out - 1));
    data_ = high ? (data_ & ~bit) : (data_ | bit);
    b_.Out(0x378, data_);
    b_.DelayLoop(wait_);
  }
  bool In2() { return !(b_.In(0x379) & 0x40); }
  bool In3() { return !(b_.In(0x379) & 0x20); }

 private:
  sim::TBench& b_;
  uint32_t wait_;
  uint8_t data_ = 0;
};

// One random read per cell of a 24C512 (two address bytes), ClockTime 25 us: 13 cycles
// of the bench's 2 us delay loop.
void BM_Read24C512PerCell(benchmark::State& state) {
  const int cells = static_cast<int>(state.range(0));
  double ratio = 0;
  for (auto _ : state) {
    sim::TBench bench;
    bench.Probe().Enable(false);
    bench.Plug(sim::MakeVirtualChip("24C512"));
    bench.Out(0x37A, 0x01);
    TPins p(bench, 13);
    const uint64_t v0 = bench.Now();
    const auto w0 = std::chrono::steady_clock::now();
    auto send = [&](uint8_t byte) {
      for (int i = 7; i >= -1; --i) {  // eight bits and the acknowledge slot
        p.Set(4, i < 0 || ((byte >> i) & 1));
        p.Set(5, true);
        if (i < 0) benchmark::DoNotOptimize(p.In2());
        p.Set(5, false);
      }
    };
    auto start = [&] {
      p.Set(4, true);
      p.Set(5, true);
      p.Set(4, false);
      p.Set(5, false);
    };
    unsigned sum = 0;
    for (int a = 0; a < cells; ++a) {
      start();
      send(0xA0);
      send(static_cast<uint8_t>(a >> 8));
      send(static_cast<uint8_t>(a));
      start();
      send(0xA1);
      p.Set(4, true);
      for (int i = 0; i < 8; ++i) {
        p.Set(5, true);
        sum = sum * 2 + p.In2();
        p.Set(5, false);
      }
      p.Set(5, true);  // no acknowledge
      p.Set(5, false);
      p.Set(4, false);  // stop
      p.Set(5, true);
      p.Set(4, true);
    }
    benchmark::DoNotOptimize(sum);
    const double wall =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - w0).count();
    ratio = static_cast<double>(bench.Now() - v0) / wall;
  }
  state.counters["x_real_time"] = ratio;
  state.SetItemsProcessed(state.iterations() * cells);
}
BENCHMARK(BM_Read24C512PerCell)->Arg(4096)->Unit(benchmark::kMillisecond);

// READ of a whole 93C86 x16 in one sequential read, ClockTime 100 us: 50 cycles.
void BM_SequentialRead93C86(benchmark::State& state) {
  double ratio = 0;
  for (auto _ : state) {
    sim::TBench bench;
    bench.Probe().Enable(false);
    bench.Plug(sim::MakeVirtualChip("93C86"));
    bench.Out(0x37A, 0x01);
    TPins p(bench, 50);
    p.Set(3, false);
    p.Set(5, false);
    p.Set(2, true);  // 16-bit cells
    const uint64_t v0 = bench.Now();
    const auto w0 = std::chrono::steady_clock::now();
    p.Set(3, true);
    const uint32_t head = 0b110u << 10;  // start, READ, address 0
    unsigned sum = 0;
    for (int i = 12; i >= 0; --i) {
      p.Set(4, (head >> i) & 1);
      p.Set(5, true);
      p.Set(5, false);
    }
    for (int i = 0; i < 1024 * 16; ++i) {
      p.Set(5, true);
      sum = sum * 2 + p.In3();
      p.Set(5, false);
    }
    p.Set(3, false);
    benchmark::DoNotOptimize(sum);
    const double wall =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - w0).count();
    ratio = static_cast<double>(bench.Now() - v0) / wall;
  }
  state.counters["x_real_time"] = ratio;
}
BENCHMARK(BM_SequentialRead93C86)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
