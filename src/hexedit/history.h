// The bounded undo and redo history of a buffer: a ring of change records.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace hexedit {

struct THistoryRecord {
  int32_t Position = 0;           // where the change starts
  std::vector<uint8_t> OldBytes;  // what the change removed
  std::vector<uint8_t> NewBytes;  // what the change put there
  char Kind = 'R';                // 'O': one byte overwritten; 'R': old bytes replaced by new
};

class THistory {
 public:
  static constexpr int kMinCapacity = 1;
  static constexpr int kMaxCapacity = 4999;

  explicit THistory(int capacity = 25);

  int Capacity() const { return static_cast<int>(ring_.size()); }
  // Takes a capacity in kMinCapacity..kMaxCapacity (others are ignored) and empties the
  // history.
  void SetCapacity(int capacity);
  void Clear();

  // Records a step at the head; when the ring is full the oldest step is overwritten.
  // Every step that could have been redone is gone afterwards.
  void Add(THistoryRecord record);
  // The step to undo (the head steps back over it), or nullptr when there is none.
  const THistoryRecord* StepBack();
  // The step to redo (the head steps on over it), or nullptr when there is none.
  const THistoryRecord* StepForward();

  bool CanUndo() const { return count_ >= 1; }
  bool CanRedo() const { return count_ < top_; }
  int Count() const { return count_; }  // undoable steps
  int Top() const { return top_; }      // count up to which redo is possible

  // Fires after every change of the history with (can undo, can redo).
  std::function<void(bool, bool)> OnChange;

 private:
  int Wrap(int slot) const;
  void Changed();

  std::vector<THistoryRecord> ring_;
  int head_ = 0;  // next slot to write
  int count_ = 0;
  int top_ = 0;
};

}  // namespace hexedit
