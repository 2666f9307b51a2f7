// The simulated bench: a PC's I/O space in virtual time (nanoseconds) with three LPT
// ports, four 16550 UARTs and the CMOS clock, the adapter on one LPT and one COM port,
// and a socket for a virtual device. Every port access costs a configurable time
// (1 µs by default, an ISA bus access); a delay-loop cycle is two accesses.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <vector>

#include "hw/io_backend.h"
#include "sim/device.h"
#include "sim/faults.h"
#include "sim/probe.h"
#include "sim/uart.h"

namespace sim {

struct TBenchConfig {
  uint64_t accessCostNs = 1000;
  uint16_t adapterLpt = 0x378;
  uint16_t adapterCom = 0x2F8;
  // Time from the bench's start to the clock's first update (its phase in the second).
  uint64_t rtcPhaseNs = 300000000;
  // Start as a process that holds no I/O permission yet: every access is denied until
  // the port-access driver installs a map.
  bool startDenied = false;
};

enum class TPortFile { Present, Absent, Busy };

struct TAccessFault {
  uint64_t t;
  uint16_t port;
  bool write;
};

class TBench final : public hw::TIoBackend {
 public:
  explicit TBench(const TBenchConfig& config = {});
  ~TBench() override;
  TBench(const TBench&) = delete;
  TBench& operator=(const TBench&) = delete;

  // ---- hw::TIoBackend ----
  const char* Name() const override { return "bench"; }
  uint8_t In(uint16_t port) override;
  void Out(uint16_t port, uint8_t value) override;
  void OutWord(uint16_t port, uint16_t value) override;
  void DelayLoop(uint32_t cycles) override;
  int32_t OpenPortFile(const std::string& name, std::string* reason) override;
  void ClosePortFile(int32_t handle) override;
  bool GetCommState(int32_t handle, hw::TCommState& state) override;
  bool SetCommState(int32_t handle, const hw::TCommState& state) override;
  bool ApplyIoAccessMap(const uint8_t* map, std::string* reason) override;
  bool UsesRealTime() const override { return false; }
  void KernelOut(uint16_t port, uint8_t value) override;

  // ---- time ----
  uint64_t Now() const { return now_; }
  void Advance(uint64_t ns);  // lets time pass without a port access
  void SetAccessCost(uint64_t ns) { cost_ = ns; }
  uint64_t AccessCost() const { return cost_; }
  uint64_t AccessCount() const { return accesses_; }

  // ---- where the adapter hangs ----
  void AttachAdapter(uint16_t lptBase, uint16_t comBase);
  uint16_t AdapterLpt() const { return adapterLpt_; }
  uint16_t AdapterCom() const { return adapterCom_; }

  // ---- socket and stimulus ----
  void Plug(std::shared_ptr<TVirtualDevice> device);  // replaces what was there
  void Unplug();
  TVirtualDevice* Socket() const { return socket_.get(); }
  void AddSource(std::shared_ptr<TVirtualDevice> source);  // waveform sources, bus masters
  void ClearSources();
  // Open-drain read-back: the input reads the output's level unless the target pulls
  // it low (the two are wired-AND).
  void TieInput(TLine input, TLine output);
  void UntieInput(TLine input);
  // Level of an input nobody drives (pull-ups on the adapter: high by default).
  void SetFloatLevel(TLine input, bool high);
  // Current line levels as the target sees them (outputs) and the PC reads them (inputs).
  uint32_t Levels();
  bool Level(TLine line) { return (Levels() & Bit(line)) != 0; }
  // A target sends a byte on the adapter's serial receive line, starting no earlier
  // than t (default: now).
  void SerialToPc(uint8_t byte, uint64_t t = 0);

  // ---- the stop button ----
  void PressStopAt(uint64_t t);
  void PressStopAfterStatusReads(uint64_t reads);
  void ReleaseStop();
  uint64_t StatusReads() const { return statusReads_; }

  // ---- device files of the port names ----
  void SetPortFile(const std::string& name, TPortFile state);
  bool IsOpen(const std::string& name) const;

  // ---- the CMOS clock ----
  void SetRtcTicking(bool ticking) { rtcTicking_ = ticking; }

  // ---- the I/O permission map the driver installs ----
  // Until a map is applied every port is allowed. Denied accesses are recorded and have
  // no effect (reads give 0xFF).
  void ClearIoAccessMap() { permission_.reset(); }
  const std::vector<TAccessFault>& AccessFaults() const { return accessFaults_; }

  TUart& Uart(uint16_t base);  // 0x3F8, 0x2F8, 0x3E8 or 0x2E8
  TProbe& Probe() { return probe_; }
  TFaultInjector& Faults() { return faults_; }
  // Probe from now on, starting with the current levels.
  void ResetProbe();

 private:
  struct TLpt {
    uint16_t base;
    uint8_t data = 0;
    uint8_t control = 0;
  };
  struct TPending {
    uint64_t t;
    TLine line;
    int level;  // 0, 1, or -1 to toggle (a glitch)
    bool operator>(const TPending& o) const { return t > o.t; }
  };

  uint8_t Read(uint16_t port, uint64_t t);
  void Write(uint16_t port, uint8_t value, uint64_t t);
  bool Denied(uint16_t port) const {
    return permission_ && ((*permission_)[port >> 3] >> (port & 7)) & 1;
  }
  TLpt* LptAt(uint16_t base);
  int UartIndex(uint16_t port) const;
  uint8_t CmosRead(uint64_t t);
  uint8_t StatusByte(uint64_t t);
  uint32_t EvaluateInputs(uint64_t t);
  void OutputsChanged(uint64_t t);
  void DeliverDue(uint64_t t);
  void ApplyToTarget(uint64_t t, uint32_t newView);
  uint32_t ComputeOutputs() const;
  void ScheduleOutputGlitches();

  uint64_t now_ = 0;
  uint64_t cost_;
  uint64_t accesses_ = 0;
  uint64_t rtcPhase_;
  bool rtcTicking_ = true;
  uint64_t lastCRead_ = 0;  // clock second when register C was last read
  uint8_t cmosIndex_ = 0;
  std::array<uint8_t, 128> cmosRam_{};

  std::array<TLpt, 3> lpt_{{{0x378}, {0x278}, {0x3BC}}};
  std::array<TUart, 4> uart_{};
  static constexpr std::array<uint16_t, 4> kUartBase{0x3F8, 0x2F8, 0x3E8, 0x2E8};
  uint16_t adapterLpt_;
  uint16_t adapterCom_;
  TLpt* adapter_ = nullptr;

  uint32_t outputs_ = 0;     // levels the PC drives
  uint32_t targetView_ = 0;  // the same as the target sees them (after faults)
  uint32_t inputs_ = 0;      // last input levels read
  std::shared_ptr<TVirtualDevice> socket_;
  std::vector<std::shared_ptr<TVirtualDevice>> sources_;
  std::vector<TVirtualDevice*> drivers_;  // socket first, then sources
  std::array<int8_t, kLineCount> tie_{};  // output line index + 1, or 0
  uint32_t floatHigh_ = kInputLines;

  uint64_t stopAt_ = UINT64_MAX;
  uint64_t stopAfterReads_ = UINT64_MAX;
  uint64_t statusReads_ = 0;

  std::map<std::string, TPortFile> portFiles_;
  std::map<int32_t, std::string> openFiles_;
  int32_t nextHandle_ = 0x100;

  std::optional<std::array<uint8_t, 8192>> permission_;
  std::vector<TAccessFault> accessFaults_;

  TProbe probe_;
  TFaultInjector faults_;
  size_t glitchesScheduled_ = 0;
  std::priority_queue<TPending, std::vector<TPending>, std::greater<TPending>> pending_;
};

}  // namespace sim
