// The programmer panel beside each hex editor page: the Programmer tab dispatches a picked
// device to the frame of its family (by the first four characters of its code); the
// Emulator tab runs the bus emulators and lists what they saw.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/device_frame.h"
#include "framework/family_frame.h"

namespace framework {

// One row of the frame factory.
struct TFrameClass {
  const char* ClassName;
  const char* Prefix;
  // Makes the frame; nullptr while this version cannot program the family.
  std::unique_ptr<TFamilyFrame> (*Create)();
  // Runs the family's bus emulator for a device and lists its events; nullptr when the
  // family has none (yet).
  void (*Emulate)(TFamilyFrame& frame, uint16_t deviceIndex, TListControl& list);
};
inline constexpr size_t kFrameClassCount = 21;
const std::array<TFrameClass, kFrameClassCount>& FrameClasses();

// Stands in for a family this version cannot program yet: picking one of its devices
// says so instead of offering buttons that would do nothing.
class TUnavailableFrame final : public TFamilyFrame {
 public:
  explicit TUnavailableFrame(const TFrameClass& cls);
  void SetDevice(uint16_t deviceIndex) override;
  TControl InfoLabel;
  const TFrameClass& Class() const { return cls_; }

 private:
  const TFrameClass& cls_;
};

// The pseudo-device "File": the buffer belongs to the hex editor alone.
class TFileFrame final : public TFamilyFrame {
 public:
  TFileFrame() { name_ = "FileFrame"; }
  void SetDevice(uint16_t) override { BringToFront(); }
};

class TProgrammerFrame {
 public:
  static constexpr int kProgrammerTab = 0;
  static constexpr int kEmulatorTab = 1;

  // The frames get `buffer` (the page's hex edit control).
  explicit TProgrammerFrame(hexedit::TBytescope* buffer);
  void CreateWnd();

  // Programmer chooser's OnSelectDevice.
  void Dispatch(uint16_t deviceIndex);
  // Emulator chooser's run button.
  void EmulatorRun();
  void ClearListClick();
  // "Save": asks for a file name and writes the list, one line each. False when the user
  // cancelled or the file could not be written (the reason goes to a message box).
  bool SaveClick();

  // The frame of a code prefix, nullptr when the prefix is not in the table.
  TFamilyFrame* FrameOf(const std::string& prefix) const;
  TFamilyFrame* FrontFrame() const { return front_; }
  uint16_t EmuDeviceIndex() const { return emuDevice_; }

  int ActivePage = kProgrammerTab;
  TDeviceFrame DeviceFrame1;  // Programmer tab
  TDeviceFrame DeviceFrame2;  // Emulator tab
  TListControl ListBox1;

 private:
  std::vector<std::unique_ptr<TFamilyFrame>> frames_;  // in factory order
  TFamilyFrame* front_ = nullptr;
  uint16_t emuDevice_ = 0;
};

}  // namespace framework
