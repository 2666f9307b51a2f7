// Software timing: waits counted in delay-loop cycles, calibrated against the CMOS clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace hw {

// Runs the delay-loop cycle `cycles` times (0 runs none). The count is unsigned: a
// negative integer passed in runs about 2^32 minus its magnitude cycles.
void WaitCycles(uint32_t cycles);
// round(Delay / 1,000,000 * time) in extended precision, halves to even.
int32_t TimeToCycle(int32_t time);
// WaitCycles(TimeToCycle(time)); time in microseconds.
void Wait(int32_t time);

// The small borderless window shown while the user-interface thread is busy measuring.
class TCalibratingForm {
 public:
  static constexpr const char* kCalibratingText = "  Calibrating... Please Wait!  ";
  static constexpr const char* kTestingText = "     Testing... Please Wait!     ";
  static constexpr int kClientWidth = 166;
  static constexpr int kClientHeight = 41;

  const std::string& Text() const { return text_; }
  bool Visible() const { return visible_; }
  void SetText(const std::string& text);
  void Show();  // shows and paints at once
  void Hide();
  // The view (or a test) is told of every change, so it can paint before the busy loop.
  std::function<void(const TCalibratingForm&)> OnChange;

 private:
  void Changed() {
    if (OnChange) OnChange(*this);
  }
  std::string text_ = kCalibratingText;
  bool visible_ = false;
};

// The one calibrating window of the program, created hidden at start-up.
TCalibratingForm& CalibratingForm();

// Longest wait for one update-ended flag of the clock. The clock raises it once a second,
// so anything past this means the clock is not ticking.
inline constexpr std::chrono::milliseconds kClockTickLimit{2500};

// Measures Delay (delay-loop cycles per second) and CycleTime (ns per sampling step on
// `port`) against the clock's once-a-second update and returns them without storing
// them. Returns false, with both results 0, when the clock never raised its flag within
// `tickLimit`; the priority is back to normal and the window hidden either way.
bool CalibrateTiming(uint16_t port, uint32_t& delay, uint32_t& cycleTime,
                     std::chrono::milliseconds tickLimit = kClockTickLimit);
inline constexpr const char* kCalibrationFailedText =
    "Calibration failed: the real-time clock does not tick (no update flag within 2.5 s).";

// The five-second timing test of the options dialog: `delayText` is what the delay
// field holds. The user times the interval between the two beeps.
inline constexpr const char* kTimingTestText =
    "This test have to be 5 seconds exactly,\rotherwise the calibration is not correct!";
void RunTimingTest(const std::string& delayText);
// Delay-loop cycles the timing test runs for a delay field value.
uint32_t TimingTestCycles(const std::string& delayText);

}  // namespace hw
