// The status window every device operation shows, and the message window that keeps
// their results. One instance of each for the whole program.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "platform/settings_store.h"

namespace framework {

// Set by the status window's Cancel button; range operations clear it when they start
// and stop after the cell during which it became true.
inline std::atomic<bool> UserBreak{false};

enum TStatusMode : uint8_t {
  smBlankCheck = 0,
  smRead = 1,
  smProgram = 2,
  smVerify = 3,
  smErase = 4,
  smReadStatus = 5,
  smSaveStatus = 6,
  smConnect = 7,
  smEmulate = 8,
};

class TMessageForm {
 public:
  static constexpr const char* kCaption = "Messages";
  static constexpr const char* kSettingsValue = "MessageWindow";
  // A long session must not grow the list without end: past this the oldest lines go.
  static constexpr size_t kMaxLines = 100000;

  const std::deque<std::string>& MessageList() const { return lines_; }
  int ItemIndex() const { return itemIndex_; }  // the selected line, -1 for none
  bool Visible() const { return visible_; }
  const platform::TRect& Bounds() const { return bounds_; }
  void SetBounds(const platform::TRect& r) { bounds_ = r; }

  void Add(const std::string& line);
  void SelectLast();
  void ClearMessagesClick();  // the popup's "Clear Messages"
  void Show();
  void Hide();
  void Toggle() { visible_ ? Hide() : Show(); }

  void AddVerifyError(uint32_t address, uint16_t expected, uint16_t read);

  // The position and size kept in the settings store.
  void ReadSettings(const platform::TSettingsStore& store);
  void WriteSettings(platform::TSettingsStore& store) const;

  // The view repaints on it; the command line prints every added line.
  std::function<void()> OnChange;
  std::function<void(const std::string&)> OnLine;

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  std::deque<std::string> lines_;
  int itemIndex_ = -1;
  bool visible_ = false;
  platform::TRect bounds_{0, 0, 429, 154};  // design size
};

class Te2StatusForm {
 public:
  static constexpr const char* kPushButtonText = "Push button to stop";

  void BeginStatus(uint8_t mode, int deviceIndex, int32_t start, int32_t end);
  void ShowProgress(uint32_t address);
  void EndStatus(bool result, bool userBreak, uint32_t errors);
  void CancelClick();  // BitBtn1

  static const char* ModeText(uint8_t mode);
  static const char* ResultPrefix(uint8_t mode);

  // What the window shows.
  uint8_t Mode() const { return mode_; }
  const std::string& StatusText() const { return statusText_; }
  const std::string& DeviceLabel() const { return deviceLabel_; }
  const std::string& RangeLabel() const { return rangeLabel_; }
  bool Visible() const { return visible_; }
  bool CancelVisible() const { return cancelVisible_; }
  bool PushBtnLabelVisible() const { return !cancelVisible_; }
  // For a progress bar: the range and the address last shown.
  int32_t RangeStart() const { return start_; }
  int32_t RangeEnd() const { return end_; }
  uint32_t ProgressAddress() const { return progress_; }

  // Painted at once on every change (the operation keeps the UI thread busy).
  std::function<void(const Te2StatusForm&)> OnChange;
  // Runs while the final text stays up before the window goes; by default two seconds
  // of busy-wait. A view may keep painting during it; the command line has no window
  // to keep up and replaces it.
  std::function<void()> OnCloseWait;

 private:
  void Changed() {
    if (OnChange) OnChange(*this);
  }
  uint8_t mode_ = 0;
  int deviceIndex_ = 0;
  int32_t start_ = 0, end_ = 0;
  uint32_t progress_ = 0;
  std::string modeText_, statusText_, deviceLabel_, rangeLabel_;
  bool visible_ = false;
  bool cancelVisible_ = true;
};

Te2StatusForm& e2StatusForm();
TMessageForm& MessageForm();

}  // namespace framework
