#include "framework/programmer_frame.h"

#include <fstream>

#include "devices/i2c.h"
#include "devices/microwire.h"
#include "devices/spi.h"
#include "devices/spi8.h"
#include "framework/catalogue.h"
#include "platform/dialogs.h"

namespace framework {

namespace {

std::unique_ptr<TFamilyFrame> MakeFileFrame() { return std::make_unique<TFileFrame>(); }

// The 21 frame classes in creation order; a family fills in its row when it is built.
const std::array<TFrameClass, kFrameClassCount> kFrameClasses{{
    {"TI2CFrame", "i2cn", devices::MakeI2CFrame, devices::EmulateI2CFrame},
    {"TI2CXFrame", "i2cx", devices::MakeI2CXFrame, nullptr},
    {"TMicrowireFrame", "miwi", devices::CreateMicrowireFrame, devices::EmulateMicrowireToList},
    {"TSPIFrame", "spis", devices::CreateSPIFrame, nullptr},
    {"TSDE2506Frame", "sdes", nullptr, nullptr},
    {"TCXKFrame", "cxso", nullptr, nullptr},
    {"TTC89Frame", "tcto", nullptr, nullptr},
    {"TX2444Frame", "xxio", nullptr, nullptr},
    {"TF77007Frame", "ford", nullptr, nullptr},
    {"TI2CSFrame", "i2cs", nullptr, nullptr},
    {"TSPI8Frame", "spi8", devices::CreateSPI8Frame, nullptr},
    {"TM68HC05BFrame", "mc05", nullptr, nullptr},
    {"TM68HC11EFrame", "mc11", nullptr, nullptr},
    {"TPIC12CXXXFrame", "p12c", nullptr, nullptr},
    {"TPIC16CXXXFrame", "p16c", nullptr, nullptr},
    {"TPIC16FXXXFrame", "p16f", nullptr, nullptr},
    {"TM6M800Frame", "m6m8", nullptr, nullptr},
    {"TFileFrame", "file", MakeFileFrame, nullptr},
    {"THCS200Frame", "hcs2", nullptr, nullptr},
    {"THCSXXXFrame", "hcsx", nullptr, nullptr},
    {"TFlash32Frame", "fl32", nullptr, nullptr},
}};

std::string PrefixOf(uint16_t index) {
  if (index >= kDeviceCount) return "";
  return std::string(DeviceInfo(index).Code).substr(0, 4);
}

std::string UnavailableText(uint16_t index) {
  return std::string("Programming ") + DeviceInfo(index).Name +
         " is not available in this version of Varnix.";
}

}  // namespace

const std::array<TFrameClass, kFrameClassCount>& FrameClasses() { return kFrameClasses; }

TUnavailableFrame::TUnavailableFrame(const TFrameClass& cls) : cls_(cls) { name_ = cls.ClassName; }

void TUnavailableFrame::SetDevice(uint16_t deviceIndex) {
  BringToFront();
  InfoLabel.Caption = UnavailableText(deviceIndex);
  platform::Dialogs().MessageBox("Warning", InfoLabel.Caption, platform::mbOK,
                                 platform::TMsgIcon::Exclamation);
}

TProgrammerFrame::TProgrammerFrame(hexedit::TBytescope* buffer) {
  for (const TFrameClass& cls : kFrameClasses) {
    std::unique_ptr<TFamilyFrame> frame =
        cls.Create ? cls.Create() : std::make_unique<TUnavailableFrame>(cls);
    frame->SetBuffer(buffer);
    frame->OnBringToFront = [this](TFamilyFrame& f) { front_ = &f; };
    frames_.push_back(std::move(frame));
  }
}

void TProgrammerFrame::CreateWnd() {
  for (auto& f : frames_) f->CreateWnd();
  DeviceFrame2.FilterDevices(kFlagEmulator);
  DeviceFrame2.OnSelectDevice = [this](TDeviceFrame&, uint16_t index) { emuDevice_ = index; };
  DeviceFrame2.OnRunClick = [this] { EmulatorRun(); };
  DeviceFrame1.FilterDevices(kFlagProgrammer);
  DeviceFrame1.OnSelectDevice = [this](TDeviceFrame&, uint16_t index) { Dispatch(index); };
  DeviceFrame1.RunButton.Visible = false;
  DeviceFrame1.SelectDeviceBox.ItemIndex = 0;  // shown, without running the handler
}

TFamilyFrame* TProgrammerFrame::FrameOf(const std::string& prefix) const {
  for (size_t i = 0; i < kFrameClasses.size(); ++i)
    if (prefix == kFrameClasses[i].Prefix) return frames_[i].get();
  return nullptr;
}

void TProgrammerFrame::Dispatch(uint16_t deviceIndex) {
  if (TFamilyFrame* f = FrameOf(PrefixOf(deviceIndex))) f->SetDevice(deviceIndex);
}

void TProgrammerFrame::EmulatorRun() {
  const std::string prefix = PrefixOf(emuDevice_);
  for (size_t i = 0; i < kFrameClasses.size(); ++i) {
    if (prefix != kFrameClasses[i].Prefix) continue;
    if (kFrameClasses[i].Emulate) {
      kFrameClasses[i].Emulate(*frames_[i], emuDevice_, ListBox1);
    } else if (prefix == "i2cn" || prefix == "miwi") {
      platform::Dialogs().MessageBox("Warning",
                                     std::string("Emulating ") + DeviceInfo(emuDevice_).Name +
                                         " is not available in this version of Varnix.",
                                     platform::mbOK, platform::TMsgIcon::Exclamation);
    }
    return;
  }
}

void TProgrammerFrame::ClearListClick() {
  ListBox1.Items.clear();
  ListBox1.ItemIndex = -1;
}

bool TProgrammerFrame::SaveClick() {
  std::string name;
  if (!platform::Dialogs().SaveFileDialog({}, name)) return false;
  // Written beside the target and renamed over it, so a failed write keeps the old file.
  const std::string tmp = name + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    for (const auto& line : ListBox1.Items) out << line << "\n";
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      platform::Dialogs().MessageBox("Warning", "Cannot write " + name, platform::mbOK,
                                     platform::TMsgIcon::Exclamation);
      return false;
    }
  }
  if (std::rename(tmp.c_str(), name.c_str()) != 0) {
    std::remove(tmp.c_str());
    platform::Dialogs().MessageBox("Warning", "Cannot write " + name, platform::mbOK,
                                   platform::TMsgIcon::Exclamation);
    return false;
  }
  return true;
}

}  // namespace framework
