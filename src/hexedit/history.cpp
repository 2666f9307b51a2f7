#include "hexedit/history.h"

#include <utility>

namespace hexedit {

THistory::THistory(int capacity) : ring_(static_cast<size_t>(kMinCapacity)) {
  SetCapacity(capacity);
}

void THistory::SetCapacity(int capacity) {
  if (capacity < kMinCapacity || capacity > kMaxCapacity) return;
  ring_.clear();
  ring_.resize(static_cast<size_t>(capacity));
  Clear();
}

void THistory::Clear() {
  for (auto& r : ring_) r = THistoryRecord{};
  head_ = count_ = top_ = 0;
  Changed();
}

int THistory::Wrap(int slot) const {
  const int n = Capacity();
  return ((slot % n) + n) % n;
}

void THistory::Add(THistoryRecord record) {
  ring_[static_cast<size_t>(head_)] = std::move(record);
  head_ = Wrap(head_ + 1);
  if (count_ < Capacity()) ++count_;
  top_ = count_;
  Changed();
}

const THistoryRecord* THistory::StepBack() {
  if (count_ <= 0) return nullptr;
  --count_;
  head_ = Wrap(head_ - 1);
  Changed();
  return &ring_[static_cast<size_t>(head_)];
}

const THistoryRecord* THistory::StepForward() {
  if (count_ >= top_) return nullptr;
  const THistoryRecord* r = &ring_[static_cast<size_t>(head_)];
  head_ = Wrap(head_ + 1);
  ++count_;
  Changed();
  return r;
}

void THistory::Changed() {
  if (OnChange) OnChange(CanUndo(), CanRedo());
}

}  // namespace hexedit
