// A bus master on the bench's input lines, scripted in virtual time: a time-ordered list
// of line changes and sampling points, played lazily as the bench asks for the inputs.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/device.h"

namespace sim {

class TScriptedSource : public TVirtualDevice {
 public:
  void OnLines(uint64_t t, uint32_t levels, uint32_t changed) override;
  TDrive Drive(uint64_t t) override;
  // Virtual time at which the last scripted step happens.
  uint64_t EndTime() const { return cursorT_; }
  bool Finished() const { return next_ == steps_.size(); }

 protected:
  enum class TKind : uint8_t { High, Low, Release, Sample };
  struct TStep {
    uint64_t t;
    TKind kind;
    TLine line;   // the line driven, or sampled
    int32_t tag;  // for samples: what the sample is for
  };
  explicit TScriptedSource(uint64_t startAt) : cursorT_(startAt) {}
  // Script building: steps are appended at cursor + offset; offsets never go backwards.
  void Put(uint64_t offset, TKind kind, TLine line, int32_t tag = 0);
  void Move(uint64_t ns) { cursorT_ += ns; }
  // How the master holds a line before its script starts.
  void Initially(TLine line, bool high) {
    (high ? drive_.high : drive_.low) |= Bit(line);
    (high ? drive_.low : drive_.high) &= ~Bit(line);
  }
  uint64_t Cursor() const { return cursorT_; }
  // A sample of `line` (an output of the PC side, or one this master drives) at t.
  virtual void OnSample(uint64_t t, int32_t tag, bool level) = 0;
  // The level the master sees on a line: its own drive wired-AND with the PC's output.
  bool Seen(TLine line) const;
  void SetOpenDrain(TLine input, TLine output) {
    odInput_ = input;
    odOutput_ = output;
  }

 private:
  void Play(uint64_t t, bool inclusive);

  std::vector<TStep> steps_;
  size_t next_ = 0;
  uint64_t cursorT_;
  uint64_t lastPut_ = 0;
  uint32_t levels_ = 0;  // what the PC drives, as last told
  TDrive drive_;
  TLine odInput_ = TLine::Count;
  TLine odOutput_ = TLine::Count;
};

}  // namespace sim
