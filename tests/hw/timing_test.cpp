#include "hw/timing.h"

#include <gtest/gtest.h>

#include "hw/ports.h"
#include "support/bench_fixture.h"

namespace {

using testing_support::BenchTest;

class TimingTest : public BenchTest {
 protected:
  void SetUp() override {
    BenchTest::SetUp();
    hw::CalibratingForm().OnChange = [this](const hw::TCalibratingForm& f) {
      seen.push_back({f.Visible(), f.Text()});
    };
  }
  void TearDown() override {
    hw::CalibratingForm().OnChange = nullptr;
    BenchTest::TearDown();
  }
  struct TSeen {
    bool visible;
    std::string text;
    bool operator==(const TSeen&) const = default;
  };
  std::vector<TSeen> seen;
};

TEST(TimeToCycle, RoundsHalvesToEvenInExtendedPrecision) {
  struct Case {
    uint32_t delay;
    int32_t time;
    int32_t want;
  };
  const Case cases[] = {
      {1000000, 200000, 200000},
      {1000000, 1, 1},
      {1500001, 1, 2},
      {2500000, 1, 2},
      {3500000, 1, 4},
      {1000000, -5, -5},
      {500000, 3, 2},
      {500000, 1, 0},
      {0, 1000000, 0},
      {4294967295u, 2000000, 2147483647},  // saturates instead of wrapping
  };
  for (const auto& c : cases) {
    hw::Ports().Delay = c.delay;
    EXPECT_EQ(hw::TimeToCycle(c.time), c.want) << c.delay << " x " << c.time;
  }
  hw::Ports().Delay = 0;
}

TEST_F(TimingTest, WaitsCostTwoAccessesPerCycle) {
  const uint64_t a0 = bench->AccessCount(), t0 = bench->Now();
  hw::WaitCycles(0);
  EXPECT_EQ(bench->AccessCount(), a0);
  hw::WaitCycles(1000);
  EXPECT_EQ(bench->AccessCount() - a0, 2000u);
  EXPECT_EQ(bench->Now() - t0, 2000u * 1000);
  hw::Ports().Delay = 500000;
  const uint64_t t1 = bench->Now();
  hw::Wait(100);
  EXPECT_EQ(bench->Now() - t1, 100000u);
  hw::Ports().Delay = 0;
  const uint64_t t2 = bench->Now();
  hw::Wait(1000000);  // uncalibrated: no wait at all
  EXPECT_EQ(bench->Now(), t2);
}

TEST_F(TimingTest, CalibrationMeasuresTheBenchAndRestoresPriority) {
  for (uint64_t cost : {1000u, 500u}) {
    bench->SetAccessCost(cost);
    platform::ClearPriorityLog();
    seen.clear();
    const uint64_t t0 = bench->Now();
    uint32_t delay = 1, cycleTime = 1;
    ASSERT_TRUE(hw::CalibrateTiming(0x378, delay, cycleTime));
    const double want = 1e9 / (2.0 * static_cast<double>(cost));
    EXPECT_NEAR(delay, want, want * 0.01) << cost;
    EXPECT_EQ(cycleTime, cost);  // one sampling step is one port read
    const uint64_t took = bench->Now() - t0;
    EXPECT_GE(took, 3000000000u);
    EXPECT_LE(took, 4000000000u);
    using P = platform::TPriorityClass;
    EXPECT_EQ(platform::PriorityLog(), (std::vector<P>{P::RealTime, P::RealTime, P::Normal}));
    const std::string text = hw::TCalibratingForm::kCalibratingText;
    EXPECT_EQ(seen, (std::vector<TSeen>{{true, text}, {false, text}}));
  }
  // Nothing was stored.
  EXPECT_EQ(hw::Ports().Delay, 0u);
  EXPECT_EQ(hw::Ports().CycleTime, 0u);
}

TEST_F(TimingTest, ACLockThatNeverTicksEndsCalibrationWithAFailure) {
  bench->SetRtcTicking(false);
  uint32_t delay = 7, cycleTime = 7;
  EXPECT_FALSE(hw::CalibrateTiming(0x378, delay, cycleTime, std::chrono::milliseconds(50)));
  EXPECT_EQ(delay, 0u);
  EXPECT_EQ(cycleTime, 0u);
  EXPECT_FALSE(hw::CalibratingForm().Visible());
  EXPECT_EQ(platform::CurrentPriorityClass(), platform::TPriorityClass::Normal);
}

TEST_F(TimingTest, FiveSecondTest) {
  const uint64_t t0 = bench->Now();
  hw::RunTimingTest("500000");
  EXPECT_EQ(bench->Now() - t0, 5000000000u);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "This test have to be 5 seconds exactly,\rotherwise the calibration is not correct!");
  EXPECT_EQ(dialogs.beeps, 2);
  const std::string calibrating = hw::TCalibratingForm::kCalibratingText;
  const std::string testing = hw::TCalibratingForm::kTestingText;
  EXPECT_EQ(seen, (std::vector<TSeen>{
                      {false, testing}, {true, testing}, {false, testing}, {false, calibrating}}));
  EXPECT_TRUE(platform::PriorityLog().empty());  // runs at normal priority

  EXPECT_EQ(hw::TimingTestCycles("4294967297"), 5u);  // low 32 bits of the field: 1
  EXPECT_EQ(hw::TimingTestCycles("1000000"), 5000000u);
}

}  // namespace
