#include "framework/device_frame.h"

#include "framework/catalogue.h"

namespace framework {

void TDeviceFrame::CreateWnd() {
  SelectDeviceBox.Items.clear();
  for (const auto& row : E2Info()) SelectDeviceBox.Items.emplace_back(row.Name);
  SelectDeviceBox.ItemIndex = 0;
  SelectDeviceBoxChange();
}

void TDeviceFrame::FilterDevices(uint16_t mask) {
  SelectDeviceBox.Items.clear();
  for (const auto& row : E2Info())
    if ((row.Flags & mask) == mask) SelectDeviceBox.Items.emplace_back(row.Name);
  SelectDeviceBox.ItemIndex = -1;
  SelectDeviceBoxChange();
}

void TDeviceFrame::SelectDeviceBoxChange() {
  const int index = IndexOfDeviceName(SelectDeviceBox.Text());
  selected_ = static_cast<uint16_t>(index);
  if (index >= 0 && index < kDeviceCount) {
    e2InfoText.Caption = DeviceInfo(index).Info;
    if (OnSelectDevice) OnSelectDevice(*this, selected_);
  }
}

bool TDeviceFrame::SelectDeviceByCode(const std::string& code) {
  const auto rows = E2Info();
  for (const auto& row : rows) {
    if (code != row.Code) continue;
    return SelectByName(row.Name);
  }
  return false;
}

bool TDeviceFrame::SelectByName(const std::string& name) {
  const auto& items = SelectDeviceBox.Items;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] != name) continue;
    SelectDeviceBox.ItemIndex = static_cast<int>(i);
    SelectDeviceBoxChange();
    return true;
  }
  return false;
}

}  // namespace framework
