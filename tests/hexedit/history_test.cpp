#include "hexedit/history.h"

#include <gtest/gtest.h>

namespace {

using hexedit::THistory;
using hexedit::THistoryRecord;

THistoryRecord Step(int32_t position) { return {position, {1}, {2}, 'O'}; }

TEST(History, TheRingKeepsTheLastCapacitySteps) {
  THistory h(3);
  for (int i = 0; i < 5; ++i) h.Add(Step(i));
  EXPECT_EQ(h.Count(), 3);
  EXPECT_EQ(h.Top(), 3);
  EXPECT_EQ(h.StepBack()->Position, 4);
  EXPECT_EQ(h.StepBack()->Position, 3);
  EXPECT_EQ(h.StepBack()->Position, 2);
  EXPECT_EQ(h.StepBack(), nullptr);  // steps 0 and 1 were overwritten
  EXPECT_FALSE(h.CanUndo());
  EXPECT_TRUE(h.CanRedo());
  EXPECT_EQ(h.StepForward()->Position, 2);
  EXPECT_EQ(h.StepForward()->Position, 3);
  EXPECT_EQ(h.StepForward()->Position, 4);
  EXPECT_EQ(h.StepForward(), nullptr);
}

TEST(History, RecordingCutsOffRedo) {
  THistory h(10);
  std::vector<std::pair<bool, bool>> events;
  h.OnChange = [&](bool u, bool r) { events.emplace_back(u, r); };
  h.Add(Step(0));
  h.Add(Step(1));
  h.StepBack();
  EXPECT_EQ(h.Top(), 2);
  h.Add(Step(7));
  EXPECT_EQ(h.Count(), 2);
  EXPECT_EQ(h.Top(), 2);
  EXPECT_FALSE(h.CanRedo());
  EXPECT_EQ(h.StepBack()->Position, 7);
  EXPECT_EQ(h.StepBack()->Position, 0);
  EXPECT_EQ(events.size(), 6u);  // one per change
  EXPECT_EQ(events.back(), std::make_pair(false, true));
}

TEST(History, CapacityOutsideItsRangeIsIgnored) {
  THistory h;
  EXPECT_EQ(h.Capacity(), 25);
  h.Add(Step(0));
  h.SetCapacity(0);
  h.SetCapacity(5000);
  EXPECT_EQ(h.Capacity(), 25);
  EXPECT_TRUE(h.CanUndo());
  h.SetCapacity(2);
  EXPECT_EQ(h.Capacity(), 2);
  EXPECT_FALSE(h.CanUndo());
}

}  // namespace
