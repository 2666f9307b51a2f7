// A virtual Microwire host for the emulator tests: CLK on In1, DI (data to the memory) on
// In2, CS on In4 (high selects), DO from the emulated memory read on the Out2 line. The
// instructions are scripted up front and played in virtual time; read words, the dummy
// bit before them and ready/busy observations are recorded.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/masters/scripted_source.h"

namespace sim {

class TMicrowireHost final : public TScriptedSource {
 public:
  // `clockNs` is one CLK period; `addrBits` and `width` are the memory's address field
  // and cell size (8 or 16).
  TMicrowireHost(int addrBits, int width, uint64_t clockNs = 100000, uint64_t startAt = 0);
  std::string Name() const override { return "microwire host"; }

  TMicrowireHost& Read(uint32_t address, int words = 1);  // sequential beyond one word
  TMicrowireHost& Write(uint32_t address, uint32_t data);
  TMicrowireHost& Erase(uint32_t address);
  TMicrowireHost& Ewen();
  TMicrowireHost& Ewds();
  TMicrowireHost& Eral();
  TMicrowireHost& Wral(uint32_t data);
  // Raises CS and watches DO for up to `maxNs`, recording how long it stayed low (busy).
  TMicrowireHost& WaitReady(uint64_t maxNs);
  // Sends only the first `bits` bits of a WRITE (start bit included), then drops CS.
  TMicrowireHost& WriteCut(uint32_t address, uint32_t data, int bits);
  TMicrowireHost& Idle(uint64_t ns);

  const std::vector<uint32_t>& Words() const { return words_; }
  // The bit seen on DO during the clock of the last address bit of each READ.
  const std::vector<bool>& DummyBits() const { return dummy_; }
  // For each WaitReady: ns from raising CS until DO was seen high, or nullopt.
  const std::vector<std::optional<uint64_t>>& ReadyAfter() const { return ready_; }

 private:
  enum : int32_t { kDummy = 1, kWordBit = 2, kReady = 3 };
  void OnSample(uint64_t t, int32_t tag, bool level) override;
  void Clock(bool di, int32_t sampleTag = 0);
  void Field(uint32_t value, int bits, int* budget = nullptr);
  void Command(uint32_t opcode, uint32_t address, const uint32_t* data, int budget = -1);
  void Select();
  void Deselect();

  int addrBits_;
  int width_;
  uint64_t period_;
  std::vector<uint32_t> words_;
  std::vector<bool> dummy_;
  std::vector<std::optional<uint64_t>> ready_;
  std::vector<uint64_t> readyStart_;
  size_t wordIndex_ = 0;  // the word being received
  int bitsIn_ = 0;
};

}  // namespace sim
