#include "framework/status.h"

#include "base/format.h"
#include "framework/catalogue.h"
#include "hw/timing.h"

namespace framework {

namespace {

struct TModeTexts {
  const char* status;
  const char* prefix;
};
constexpr TModeTexts kModes[] = {
    {" Blank Checking...", "Blank Checking: "},
    {" Reading...", "Reading: "},
    {" Programming...", "Programming: "},
    {" Verifying...", "Verifying: "},
    {" Erasing...", "Erasing: "},
    {" Read Status Register...", ""},
    {" Save Status Register...", ""},
    {" Connecting...", "Connecting: "},
    {" Emulating...", ""},
};

std::string NameOf(int index) {
  if (index < 0 || index >= static_cast<int>(kDeviceCount)) return "";
  return DeviceInfo(index).Name;
}

}  // namespace

// ---- TMessageForm -----------------------------------------------------------------------

void TMessageForm::Add(const std::string& line) {
  lines_.push_back(line);
  if (lines_.size() > kMaxLines) {
    lines_.pop_front();
    if (itemIndex_ >= 0) --itemIndex_;
  }
  if (OnLine) OnLine(line);
  Changed();
}

void TMessageForm::SelectLast() {
  itemIndex_ = static_cast<int>(lines_.size()) - 1;
  Changed();
}

void TMessageForm::ClearMessagesClick() {
  lines_.clear();
  itemIndex_ = -1;
  Changed();
}

void TMessageForm::Show() {
  visible_ = true;
  Changed();
}

void TMessageForm::Hide() {
  visible_ = false;
  Changed();
}

void TMessageForm::AddVerifyError(uint32_t address, uint16_t expected, uint16_t read) {
  Add(base::Format("Verify Error [%x] = %2.2x Read %2.2x", address, expected, read));
}

void TMessageForm::ReadSettings(const platform::TSettingsStore& store) {
  if (const auto r = store.ReadRect(kSettingsValue)) bounds_ = *r;
}

void TMessageForm::WriteSettings(platform::TSettingsStore& store) const {
  store.WriteRect(kSettingsValue, bounds_);
}

// ---- Te2StatusForm ----------------------------------------------------------------------

const char* Te2StatusForm::ModeText(uint8_t mode) {
  return mode < std::size(kModes) ? kModes[mode].status : "";
}

const char* Te2StatusForm::ResultPrefix(uint8_t mode) {
  return mode < std::size(kModes) ? kModes[mode].prefix : "";
}

void Te2StatusForm::BeginStatus(uint8_t mode, int deviceIndex, int32_t start, int32_t end) {
  mode_ = mode;
  deviceIndex_ = deviceIndex;
  start_ = start;
  end_ = end;
  progress_ = static_cast<uint32_t>(start);
  modeText_ = ModeText(mode);
  statusText_ = modeText_;
  rangeLabel_ = base::Format("%x - %x", start, end);
  deviceLabel_ = NameOf(deviceIndex);
  cancelVisible_ = mode != smEmulate;  // the emulator stops on the adapter's button
  visible_ = true;
  Changed();
}

void Te2StatusForm::ShowProgress(uint32_t address) {
  progress_ = address;
  statusText_ = modeText_ + base::Format(" %2.2x", address);
  Changed();
}

void Te2StatusForm::EndStatus(bool result, bool userBreak, uint32_t errors) {
  if (userBreak)
    statusText_ = modeText_ + " User Break";
  else if (errors >= 1)
    statusText_ = modeText_ + base::Format(" %d", errors) + " Errors Found";
  else if (result)
    statusText_ = modeText_ + " Success";
  else
    statusText_ = modeText_ + " Errors Found";
  Changed();

  std::string line = ResultPrefix(mode_);
  bool bringUp = false;
  if (errors >= 1) {
    line += base::Format(" %d ", errors) + "Errors Found";
    bringUp = true;
  } else if (userBreak) {
    line += "User Break";
  } else if (result) {
    line += "Success";
  } else {
    line += "Errors Found";
    bringUp = true;
  }
  line += "  Device: " + NameOf(deviceIndex_) + base::Format(" Range: %x - %2.2x", start_, end_);
  TMessageForm& messages = MessageForm();
  messages.Add(line);
  messages.SelectLast();
  if (bringUp) messages.Show();

  if (OnCloseWait)
    OnCloseWait();
  else
    hw::Wait(2000000);
  visible_ = false;
  Changed();
}

void Te2StatusForm::CancelClick() { UserBreak = true; }

Te2StatusForm& e2StatusForm() {
  static Te2StatusForm form;
  return form;
}

TMessageForm& MessageForm() {
  static TMessageForm form;
  return form;
}

}  // namespace framework
