// How fast the simulated bench runs: port accesses per wall-clock second (target: 20
// million or more) and virtual time per wall time for a bit-banged sequence (target:
// 100 or more).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "hw/ports.h"
#include "hw/timing.h"
#include "sim/bench.h"
#include "sim/sources.h"

namespace {

struct TBenchOnPorts {
  explicit TBenchOnPorts(bool probe) {
    bench.Probe().Enable(probe);
    bench.Plug(std::make_shared<sim::TLoopbackDevice>());
    hw::ResetPortState();
    hw::SetIoBackend(&bench);
    hw::Ports().LptBase = 0x378;
    hw::Ports().Delay = 500000;
  }
  ~TBenchOnPorts() {
    hw::ResetPortState();
    hw::SetIoBackend(nullptr);
  }
  sim::TBench bench;
};

void BM_PortAccesses(benchmark::State& state) {
  TBenchOnPorts setup(state.range(0) != 0);
  uint8_t v = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      hw::Io().Out(0x378, v++);
      benchmark::DoNotOptimize(hw::Io().In(0x379));
    }
    if (setup.bench.Probe().Events().size() > 1000000) setup.bench.ResetProbe();
  }
  state.counters["accesses_per_s"] = benchmark::Counter(
      2000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PortAccesses)->Arg(0)->Arg(1)->ArgName("probe");

// A clock line toggled every 5 µs with a data line sampled on each edge, as a bus engine
// does, for 100 ms of virtual time.
void BM_BitBang100ms(benchmark::State& state) {
  TBenchOnPorts setup(state.range(0) != 0);
  double virtualNs = 0, wallNs = 0;
  for (auto _ : state) {
    setup.bench.ResetProbe();
    const uint64_t v0 = setup.bench.Now();
    const auto w0 = std::chrono::steady_clock::now();
    const int32_t half = hw::TimeToCycle(5);
    while (setup.bench.Now() - v0 < 100000000) {
      hw::Out5_hi();
      hw::WaitCycles(static_cast<uint32_t>(half));
      benchmark::DoNotOptimize(hw::Check_In2());
      hw::Out5_lo();
      hw::WaitCycles(static_cast<uint32_t>(half));
    }
    wallNs += static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - w0)
            .count());
    virtualNs += static_cast<double>(setup.bench.Now() - v0);
  }
  state.counters["virtual_per_wall"] = virtualNs / wallNs;
}
BENCHMARK(BM_BitBang100ms)->Arg(0)->Arg(1)->ArgName("probe")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
