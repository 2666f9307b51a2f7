#include "hw/timing.h"

#include <limits>

#include "base/convert.h"
#include "hw/ports.h"
#include "platform/dialogs.h"

namespace hw {

void WaitCycles(uint32_t cycles) {
  if (cycles) Io().DelayLoop(cycles);
}

int32_t TimeToCycle(int32_t time) {
  const long double delay = static_cast<long double>(Ports().Delay.load(std::memory_order_relaxed));
  const int64_t r = base::RoundHalfEven(delay / 1000000.0L * static_cast<long double>(time));
  // A product past the 32-bit range saturates instead of wrapping into a wrong wait.
  if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (r < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

void Wait(int32_t time) { WaitCycles(static_cast<uint32_t>(TimeToCycle(time))); }

void TCalibratingForm::SetText(const std::string& text) {
  text_ = text;
  Changed();
}
void TCalibratingForm::Show() {
  visible_ = true;
  Changed();
}
void TCalibratingForm::Hide() {
  visible_ = false;
  Changed();
}

TCalibratingForm& CalibratingForm() {
  static TCalibratingForm form;
  return form;
}

namespace {

constexpr uint16_t kCmosIndex = 0x70;
constexpr uint16_t kCmosData = 0x71;
constexpr uint8_t kStatusC = 0x0C;
constexpr uint8_t kUpdateEnded = 0x10;

// Where the calibration's sampling loop stores its samples, as a capture step does.
struct TSampleSlot {
  uint8_t level;
  uint32_t count;
};
volatile TSampleSlot g_sampleSlot{};

// Watches the wall clock every few thousand passes, so the check costs nothing per pass.
class TTickGuard {
 public:
  explicit TTickGuard(std::chrono::milliseconds limit)
      : deadline_(std::chrono::steady_clock::now() + limit) {}
  bool Expired() {
    if (++passes_ & 0xFFF) return false;
    return std::chrono::steady_clock::now() > deadline_;
  }

 private:
  std::chrono::steady_clock::time_point deadline_;
  uint32_t passes_ = 0;
};

// Reads port 0x71 until the update-ended flag shows (status register C is selected).
bool AwaitTick(std::chrono::milliseconds limit) {
  TTickGuard guard(limit);
  while ((Io().In(kCmosData) & kUpdateEnded) == 0)
    if (guard.Expired()) return false;
  return true;
}

}  // namespace

bool CalibrateTiming(uint16_t port, uint32_t& delay, uint32_t& cycleTime,
                     std::chrono::milliseconds tickLimit) {
  TCalibratingForm& form = CalibratingForm();
  form.Show();
  delay = 0;
  cycleTime = 0;
  SetRealtimePriority();
  SetRealtimePriority();
  TIoBackend& io = Io();

  auto finish = [&](bool ok) {
    SetNormalPriority();
    form.Hide();
    return ok;
  };

  // Synchronise: select register C, clear pending flags, wait for the next update.
  io.Out(kCmosIndex, kStatusC);
  (void)io.In(kCmosData);
  if (!AwaitTick(tickLimit)) return finish(false);

  // One second of delay-loop cycles: the same pair of accesses as WaitCycles.
  uint32_t n = 0;
  {
    TTickGuard guard(tickLimit);
    uint8_t v;
    do {
      io.Out(kCmosIndex, kStatusC);
      ++n;
      v = io.In(kCmosData);
      if (guard.Expired()) return finish(false);
    } while ((v & kUpdateEnded) == 0);
  }

  // Skip a second.
  (void)io.In(kCmosData);
  if (!AwaitTick(tickLimit)) return finish(false);

  // One second of sampling steps, each followed by one delay-loop pass.
  uint32_t s = 0;
  {
    TTickGuard guard(tickLimit);
    uint8_t v;
    do {
      g_sampleSlot.level = static_cast<uint8_t>(~(io.In(port) & 0xF0) & 0xF0);
      g_sampleSlot.count = s;
      ++s;
      io.Out(kCmosIndex, kStatusC);
      v = io.In(kCmosData);
      if (guard.Expired()) return finish(false);
    } while ((v & kUpdateEnded) == 0);
  }

  delay = n;
  // A pass of the sampling loop is one sampling step plus one delay-loop pass.
  const long double diff = 1000000000.0L / s - 1000000000.0L / n;
  const float single = static_cast<float>(diff);
  const int64_t ct = base::RoundHalfEven(single);
  cycleTime = ct < 0 ? 0 : static_cast<uint32_t>(ct);
  return finish(true);
}

uint32_t TimingTestCycles(const std::string& delayText) {
  const int64_t d64 = base::TryStrToInt64(delayText).value_or(0);
  const uint32_t d = static_cast<uint32_t>(d64);
  return static_cast<uint32_t>(base::RoundHalfEven(d / 1000000.0L * 5000000.0L));
}

void RunTimingTest(const std::string& delayText) {
  platform::Dialogs().MessageBox("Warning", kTimingTestText, platform::mbOK,
                                 platform::TMsgIcon::Exclamation);
  const uint32_t cycles = TimingTestCycles(delayText);
  TCalibratingForm& form = CalibratingForm();
  const std::string remembered = form.Text();
  platform::Dialogs().Beep();
  form.SetText(TCalibratingForm::kTestingText);
  form.Show();
  WaitCycles(cycles);
  platform::Dialogs().Beep();
  form.Hide();
  form.SetText(remembered);
}

}  // namespace hw
