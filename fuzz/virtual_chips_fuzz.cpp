// Any sequence of line changes on the bench must leave a virtual chip sound: no crash,
// no access outside its memory, its size unchanged, its violation list bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/bench.h"
#include "sim/chips.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto names = sim::VirtualDeviceNames();
  const std::string name = names[1 + data[0] % (names.size() - 1)];  // skip the loopback
  auto chip = sim::MakeVirtualChip(name);
  if (!chip) std::abort();
  const size_t bytes = chip->Size();
  sim::TBench bench;
  bench.Plug(chip);
  bench.Out(0x37A, 0x01);  // power on
  // Each pair: a data register value and a wait (its top bit toggles the power instead).
  for (size_t i = 1; i + 1 < size; i += 2) {
    bench.Out(0x378, data[i]);
    const uint8_t w = data[i + 1];
    if (w & 0x80) bench.Out(0x37A, static_cast<uint8_t>((w >> 6) & 1));
    bench.Advance(static_cast<uint64_t>(w & 0x3F) * 250000);  // up to ~16 ms: past a write cycle
    (void)bench.In(0x379);
  }
  if (chip->Size() != bytes || chip->Violations().size() > sim::TVirtualChip::kViolationLimit)
    std::abort();
  return 0;
}
