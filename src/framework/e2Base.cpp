#include "framework/e2Base.h"

#include "base/convert.h"
#include "base/format.h"
#include "framework/catalogue.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "hw/ports.h"
#include "platform/app_hooks.h"
#include "platform/dialogs.h"

namespace framework {

namespace {
unsigned g_frameCount = 0;
}

TE2BaseFrame::TE2BaseFrame() { name_ = base::Format("E2BaseFrame_%u", g_frameCount++); }

bool TE2BaseFrame::AccessCell(char, uint16_t&, uint16_t, uint32_t) { return true; }

bool TE2BaseFrame::Wide() const { return DeviceInfo(deviceIndex_).Width == 16; }

uint32_t TE2BaseFrame::DeviceSize() const { return DeviceInfo(deviceIndex_).Size; }

uint16_t TE2BaseFrame::CellFromBuffer(uint32_t cell) const {
  if (!buffer_) return 0;
  if (!Wide()) return buffer_->GetByte(cell);
  return static_cast<uint16_t>(buffer_->GetByte(2ll * cell) * 256 +
                               buffer_->GetByte(2ll * cell + 1));
}

void TE2BaseFrame::CellToBuffer(uint32_t cell, uint16_t data) {
  if (!buffer_) return;
  if (!Wide()) {
    buffer_->SetByte(cell, static_cast<uint8_t>(data));
  } else {
    buffer_->SetByte(2ll * cell + 1, static_cast<uint8_t>(data));
    buffer_->SetByte(2ll * cell, static_cast<uint8_t>(data >> 8));
  }
}

void TE2BaseFrame::SetDevice(uint16_t deviceIndex) {
  deviceIndex_ = deviceIndex;
  BringToFront();
  const TE2Info& row = DeviceInfo(deviceIndex);
  start_ = 0;
  end_ = static_cast<int32_t>(row.Size) - 1;
  StartEdit.Caption = base::Format("%x", start_);
  EndEdit.Caption = base::Format("%x", end_);
  if (buffer_) {
    EraseBtn.Visible = (row.Flags & kFlagEraseAll) != 0;
    buffer_->SetDataSize(static_cast<int64_t>(row.Size) - 1);
    buffer_->Refresh();
    buffer_->SetModified(true);
  }
}

void TE2BaseFrame::StartEditChange() {
  const auto v = base::HexEntryToInt(StartEdit.Caption);
  if (v && *v >= 0 && *v <= end_) {
    start_ = *v;
    return;
  }
  platform::Dialogs().Beep();
  StartEdit.Caption = base::Format("%x", start_);
  StartEdit.SelectAll();
}

void TE2BaseFrame::EndEditChange() {
  const auto v = base::HexEntryToInt(EndEdit.Caption);
  if (v && *v >= 0 && static_cast<uint32_t>(*v) < DeviceSize()) {
    end_ = *v;
    return;
  }
  platform::Dialogs().Beep();
  EndEdit.Caption = base::Format("%x", end_);
  EndEdit.SelectAll();
}

bool TE2BaseFrame::BlankCheck() {
  const uint32_t size = DeviceSize();
  const uint32_t lastCell = Wide() ? (size - 1) / 2 : size - 1;
  const uint16_t blank = Wide() ? 0xFFFF : 0xFF;
  hw::PowerOn();
  e2StatusForm().BeginStatus(smBlankCheck, deviceIndex_, 0, static_cast<int32_t>(size) - 1);
  UserBreak = false;
  uint32_t notBlank = 0;
  bool result = true;
  for (uint32_t cell = 0;; ++cell) {
    uint16_t data = 0;
    result = AccessCell('R', data, deviceIndex_, cell);
    if (data != blank) ++notBlank;
    e2StatusForm().ShowProgress(ByteAddress(cell));
    platform::ProcessMessages();
    if (cell >= lastCell || UserBreak) break;
  }
  e2StatusForm().EndStatus(result, UserBreak, notBlank);
  hw::PowerOff();
  return notBlank == 0;
}

bool TE2BaseFrame::ReadRange() {
  const uint32_t first = FirstCell(), last = LastCell();
  hw::PowerOn();
  e2StatusForm().BeginStatus(smRead, deviceIndex_, start_, end_);
  UserBreak = false;
  bool result = true;
  for (uint32_t cell = first;; ++cell) {
    uint16_t data = 0;
    result = AccessCell('R', data, deviceIndex_, cell);
    CellToBuffer(cell, data);
    e2StatusForm().ShowProgress(ByteAddress(cell));
    platform::ProcessMessages();
    if (!result || cell >= last || UserBreak) break;
  }
  e2StatusForm().EndStatus(result, UserBreak, 0);
  if (buffer_) buffer_->Refresh();
  hw::PowerOff();
  return result;
}

bool TE2BaseFrame::ProgramRange() { return ProgramCells('E', false, 'C'); }

bool TE2BaseFrame::ProgramCells(char lead, bool leadAtFirstCell, char perCell) {
  const uint32_t first = FirstCell(), last = LastCell();
  hw::PowerOn();
  e2StatusForm().BeginStatus(smProgram, deviceIndex_, start_, end_);
  UserBreak = false;
  if (lead) {
    uint16_t unused = 0;
    AccessCell(lead, unused, deviceIndex_, leadAtFirstCell ? first : 0);
  }
  bool result = true;
  for (uint32_t cell = first;; ++cell) {
    uint16_t data = CellFromBuffer(cell);
    e2StatusForm().ShowProgress(ByteAddress(cell));
    uint16_t copy = data;
    AccessCell(perCell, copy, deviceIndex_, cell);
    result = AccessCell('W', data, deviceIndex_, cell);
    platform::ProcessMessages();
    if (!result || cell >= last || UserBreak) break;
  }
  e2StatusForm().EndStatus(result, UserBreak, 0);
  hw::PowerOff();
  return result;
}

bool TE2BaseFrame::VerifyRange() {
  const uint32_t first = FirstCell(), last = LastCell();
  hw::PowerOn();
  e2StatusForm().BeginStatus(smVerify, deviceIndex_, start_, end_);
  UserBreak = false;
  uint32_t differences = 0;
  bool result = true;
  for (uint32_t cell = first;; ++cell) {
    uint16_t data = 0;
    result = AccessCell('R', data, deviceIndex_, cell);
    const uint16_t expected = CellFromBuffer(cell);
    if (data != expected) {
      MessageForm().AddVerifyError(ByteAddress(cell), expected, data);
      ++differences;
    }
    e2StatusForm().ShowProgress(ByteAddress(cell));
    platform::ProcessMessages();
    if (!result || cell >= last || UserBreak) break;
  }
  e2StatusForm().EndStatus(result, UserBreak, differences);
  hw::PowerOff();
  return differences == 0;
}

bool TE2BaseFrame::EraseAll() {
  const int32_t size = static_cast<int32_t>(DeviceSize());
  hw::PowerOn();
  e2StatusForm().BeginStatus(smErase, deviceIndex_, 0, size - 1);
  UserBreak = false;
  uint16_t data = 0;
  AccessCell('E', data, deviceIndex_, 0);
  const bool result = AccessCell('A', data, deviceIndex_, 0);
  e2StatusForm().EndStatus(result, false, 0);
  hw::PowerOff();
  return result;
}

bool TE2BaseFrame::ReadStatusRegister() {
  const int32_t size = static_cast<int32_t>(DeviceSize());
  hw::PowerOn();
  e2StatusForm().BeginStatus(smReadStatus, deviceIndex_, 0, size - 1);
  uint16_t data = 0;
  const bool result = AccessCell('S', data, deviceIndex_, 0);
  RegisterEdit.Caption = base::Format("%2.2x", data);
  e2StatusForm().EndStatus(result, false, 0);
  hw::PowerOff();
  return result;
}

bool TE2BaseFrame::WriteStatusRegister() {
  const int32_t size = static_cast<int32_t>(DeviceSize());
  hw::PowerOn();
  e2StatusForm().BeginStatus(smSaveStatus, deviceIndex_, 0, size - 1);
  uint16_t enable = 0;
  AccessCell('E', enable, deviceIndex_, 0);
  bool result = false;
  if (const auto v = base::HexEntryToInt(RegisterEdit.Caption)) {
    uint16_t data = static_cast<uint16_t>(*v);
    result = AccessCell('T', data, deviceIndex_, 0);
  } else {
    platform::Dialogs().MessageBox("Warning", "Wrong Register value", platform::mbOK,
                                   platform::TMsgIcon::Exclamation);
  }
  e2StatusForm().EndStatus(result, false, 0);
  hw::PowerOff();
  return result;
}

}  // namespace framework
