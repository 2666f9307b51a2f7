// The common base of the serial-memory device frames: the address range, the operation
// buttons, and the loops that run an operation over the range. A family supplies
// AccessCell, one bus command on one cell, and may replace whole operations.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/family_frame.h"

namespace framework {

class TE2BaseFrame : public TFamilyFrame {
 public:
  TE2BaseFrame();
  TE2BaseFrame(const TE2BaseFrame&) = delete;
  TE2BaseFrame& operator=(const TE2BaseFrame&) = delete;

  // ---- virtual operations, in slot order ----
  // op: R read, W write, E enable writing, C erase cell, A erase all, S read status
  // register, T write status register, D disable writing, L recall. The base does nothing.
  virtual bool AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address);
  virtual bool BlankCheck();
  virtual bool ProgramRange();
  virtual bool ReadRange();
  virtual bool VerifyRange();
  virtual bool EraseAll();

  void SetDevice(uint16_t deviceIndex) override;
  void StartEditChange();
  void EndEditChange();
  bool ReadStatusRegister();
  bool WriteStatusRegister();

  // The buttons.
  void ReadBtnClick() { ReadRange(); }
  void ProgramBtnClick() { ProgramRange(); }
  void VerifyBtnClick() { VerifyRange(); }
  void BlankCheckBtnClick() { BlankCheck(); }
  void EraseBtnClick() { EraseAll(); }

  uint16_t DeviceIndex() const { return deviceIndex_; }
  int32_t StartAddress() const { return start_; }
  int32_t EndAddress() const { return end_; }

  // Controls, named as the window names them.
  TControl Label1{"Start"}, Label2{"End"};
  TControl StartEdit, EndEdit;
  TControl ReadBtn{"Read"}, ProgramBtn{"Program"}, VerifyBtn{"Verify"};
  TControl BlankCheckBtn{"Blank Check"}, EraseBtn{"Erase All", false};
  TControl RegisterLabel{"Status Register", false}, RegisterEdit{"", false};
  TControl ReadStatusBtn{"Read Stat. Register", false};
  TControl WriteStatusBtn{"Write Stat. Register", false};

 protected:
  // 16-bit devices keep cell n in buffer bytes 2n (high) and 2n+1 (low).
  bool Wide() const;
  uint16_t CellFromBuffer(uint32_t cell) const;
  void CellToBuffer(uint32_t cell, uint16_t data);
  uint32_t DeviceSize() const;
  // The cells of the range in the edits, and the buffer address a cell is shown at.
  uint32_t FirstCell() const { return static_cast<uint32_t>(start_) / (Wide() ? 2 : 1); }
  uint32_t LastCell() const { return static_cast<uint32_t>(end_) / (Wide() ? 2 : 1); }
  uint32_t ByteAddress(uint32_t cell) const { return Wide() ? 2 * cell : cell; }
  // The programming loop the families share. `lead` is sent once before the first cell
  // (at address 0, or at the first cell when leadAtFirstCell; 0 sends nothing) and
  // `perCell` before every W; the loop stops after a failed W, the last cell or a break.
  bool ProgramCells(char lead, bool leadAtFirstCell, char perCell);

  uint16_t deviceIndex_ = 0;
  int32_t start_ = 0;
  int32_t end_ = 0;
};

}  // namespace framework
