// What the programmer panel knows of a device frame: it is given the page's buffer, it
// is created with its window, and picking a device of its family hands it the index.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/controls.h"

namespace hexedit {
class TBytescope;
}

namespace framework {

class TFamilyFrame {
 public:
  virtual ~TFamilyFrame() = default;
  // Takes the device and comes to the front of the panel.
  virtual void SetDevice(uint16_t deviceIndex) = 0;
  // The window's creation; families hide or show controls after the inherited part.
  virtual void CreateWnd() {}

  void SetBuffer(hexedit::TBytescope* buffer) { buffer_ = buffer; }
  hexedit::TBytescope* Buffer() const { return buffer_; }
  const std::string& Name() const { return name_; }

  // The frame came to the front of its parent (the view raises it).
  std::function<void(TFamilyFrame&)> OnBringToFront;

 protected:
  void BringToFront() {
    if (OnBringToFront) OnBringToFront(*this);
  }
  hexedit::TBytescope* buffer_ = nullptr;  // the page's buffer; not owned
  std::string name_;
};

}  // namespace framework
