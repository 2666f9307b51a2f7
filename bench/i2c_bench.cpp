// The I2C engine and decoder: how much faster than real time a whole 24C512 is read on
// the simulated bench (target: 50 times or more), and how many analyser levels per second
// the decoder gets through on a 10-million-level trace (target: 50 million or more).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "devices/events.h"
#include "devices/i2c.h"
#include "framework/catalogue.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "hw/ports.h"
#include "sim/bench.h"
#include "sim/chips.h"

namespace {

void BM_Read24C512OnTheBench(benchmark::State& state) {
  sim::TBench bench;
  bench.Probe().Enable(false);  // 65536 cells of about 150 edges each: not kept
  hw::ResetPortState();
  hw::SetIoBackend(&bench);
  hw::Ports().LptBase = 0x378;
  hw::Ports().Delay = 500000;  // what calibration measures on the bench
  framework::e2StatusForm().OnCloseWait = [] {};

  auto chip = sim::MakeVirtualChip("24C512");
  std::vector<uint8_t> image(chip->Size());
  std::mt19937 rng(1);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  std::string reason;
  chip->SetImage(image, reason);
  bench.Plug(chip);

  hexedit::TBytescope buffer;
  devices::TI2CXFrame frame;
  frame.SetBuffer(&buffer);
  frame.SetDevice(static_cast<uint16_t>(framework::IndexOfDeviceName("24C512")));

  double wall = 0, bus = 0;
  bool ok = true;
  for (auto _ : state) {
    const uint64_t v0 = bench.Now();
    const auto w0 = std::chrono::steady_clock::now();
    ok = frame.ReadRange() && ok;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    bus += static_cast<double>(bench.Now() - v0) * 1e-9;
  }
  ok = ok && std::equal(image.begin(), image.end(), buffer.Data());
  const double n = static_cast<double>(state.iterations());
  state.counters["bus_s"] = bus / n;
  state.counters["wall_s"] = wall / n;
  state.counters["times_real_time"] = bus / wall;
  std::printf("24C512 read: %.1f s of bus time in %.2f s wall: %.0fx real time (target 50x)%s\n",
              bus / n, wall / n, bus / wall, ok ? "" : " -- READ BACK DIFFERS");

  framework::e2StatusForm().OnCloseWait = nullptr;
  hw::ResetPortState();
  hw::SetIoBackend(nullptr);
}
BENCHMARK(BM_Read24C512OnTheBench)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

// A busy bus: random writes and reads with repeated starts, as an analyser captures it
// (one level per run; SCL in bit 7, SDA in bit 6).
std::vector<uint8_t> BusTrace(size_t levels) {
  std::vector<uint8_t> v;
  v.reserve(levels + 64);
  bool scl = true;
  auto put = [&](bool c, bool d) {
    const uint8_t lv = static_cast<uint8_t>((c ? 0x80 : 0) | (d ? 0x40 : 0));
    if (v.empty() || v.back() != lv) v.push_back(lv);
    scl = c;
  };
  auto bit = [&](bool one) {
    put(false, one);
    put(true, one);
    put(false, one);
  };
  auto byte = [&](uint8_t b, bool ack) {
    for (int i = 7; i >= 0; --i) bit((b >> i) & 1);
    bit(!ack);
  };
  auto start = [&] {
    if (!scl) {
      put(false, true);
      put(true, true);
    }
    put(true, false);
    put(false, false);
  };
  auto stop = [&] {
    put(false, false);
    put(true, false);
    put(true, true);
  };
  std::mt19937 rng(7);
  put(true, true);
  while (v.size() < levels) {
    start();
    byte(0xA0, true);
    byte(static_cast<uint8_t>(rng()), true);
    if (rng() & 1) {
      start();
      byte(0xA1, true);
      const int n = 1 + static_cast<int>(rng() % 16);
      for (int i = 0; i < n; ++i) byte(static_cast<uint8_t>(rng()), i + 1 < n);
    } else {
      const int n = 1 + static_cast<int>(rng() % 16);
      for (int i = 0; i < n; ++i) byte(static_cast<uint8_t>(rng()), true);
    }
    stop();
  }
  v.resize(levels);
  return v;
}

void BM_DecodeI2CSamples(benchmark::State& state) {
  const auto trace = BusTrace(10000000);
  const int32_t high = static_cast<int32_t>(trace.size()) - 1;
  for (auto _ : state) {
    devices::DecodeI2CSamples(trace, high);
    benchmark::DoNotOptimize(devices::EventCount);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(trace.size()));
  state.counters["entries"] = devices::EventCount;
  state.counters["levels_per_s"] = benchmark::Counter(
      static_cast<double>(trace.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DecodeI2CSamples)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
