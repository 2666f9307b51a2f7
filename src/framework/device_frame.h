// The device chooser: a drop-down list of catalogue devices, an information line and a
// run button. The programmer window uses two, each analyser page one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/controls.h"

namespace framework {

class TDeviceFrame {
 public:
  static constexpr uint16_t kNoDevice = 0xFFFF;

  // Fills the list with every catalogue row and selects the first.
  void CreateWnd();
  void FilterDevices(uint16_t mask);
  void SelectDeviceBoxChange();
  bool SelectDeviceByCode(const std::string& code);
  // Picks the list entry with this text (what the user does), then runs the handler.
  bool SelectByName(const std::string& name);

  uint16_t SelectedIndex() const { return selected_; }

  TListControl SelectDeviceBox;
  TControl e2InfoText;
  TControl RunButton;
  std::function<void(TDeviceFrame& sender, uint16_t index)> OnSelectDevice;
  std::function<void()> OnRunClick;

 private:
  uint16_t selected_ = kNoDevice;
};

}  // namespace framework
