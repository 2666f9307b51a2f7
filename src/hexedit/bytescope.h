// TBytescope: the model of the hex edit control that holds a device buffer. It owns the
// bytes, the caret and selection, the undo history and the editing commands; a widget
// shows it and forwards keys and mouse actions to it, and hears back through the On...
// callbacks which range changed. Questions to the user go through platform::Dialogs(),
// clipboard exchange through platform::Clipboard(). User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hexedit/history.h"

namespace hexedit {

struct TFileError;

// The largest buffer: readers refuse files that would make a larger one, and no edit
// grows a buffer beyond it.
inline constexpr int32_t kMaxBufferSize = int32_t{256} << 20;

enum class TOffsetMode { Hexadecimal = 0, Decimal = 1 };
enum class THexMode { Hexadecimal = 0, Decimal = 1, Binary = 2 };
enum class TPane { Value, Text };  // the column the caret is in

// The keys the control handles, as a widget reports them.
enum class TKey {
  Backspace,
  Tab,
  Enter,
  Left,
  Right,
  Up,
  Down,
  Home,
  End,
  PageUp,
  PageDown,
  Insert,
  Delete,
  X,
  C,
  V,
  Z,
  Y,
};
enum TShiftState : unsigned { ssShift = 1, ssCtrl = 2 };

// A change of the data: OldLength bytes at Position were replaced by NewLength bytes.
// When the lengths differ everything from Position to the end moved.
struct TDataChange {
  int32_t Position = 0;
  int32_t OldLength = 0;
  int32_t NewLength = 0;
};

class TBytescope {
 public:
  TBytescope();
  TBytescope(const TBytescope&) = delete;
  TBytescope& operator=(const TBytescope&) = delete;

  // ---- Buffer access (device frames, scripts, other windows) ----------------------------
  // DataSize := lastIndex + 1 (callers pass size - 1). The storage only grows; bytes that
  // become valid read 0. False (nothing changed) for a size outside 0..kMaxBufferSize.
  bool SetDataSize(int64_t lastIndex);
  int32_t DataSize() const { return dataSize_; }
  // The byte at a position, 0 outside 0..DataSize-1. Neither accessor records history or
  // touches the modified flag; SetByte ignores positions outside.
  uint8_t GetByte(int64_t position) const;
  void SetByte(int64_t position, uint8_t value);
  // The DataSize bytes, contiguous, for callers that index them directly.
  uint8_t* Data() { return data_.data(); }
  const uint8_t* Data() const { return data_.data(); }
  std::span<const uint8_t> Bytes() const { return {data_.data(), static_cast<size_t>(dataSize_)}; }

  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; }
  // The FileName property as the window assigns it: an untitled name gives a new buffer
  // of one byte, any other name loads that file as binary.
  bool AssignFileName(const std::string& name);

  // Recompute the layout and repaint (after SetByte/SetDataSize from outside).
  void Refresh();
  // A new buffer of lastIndex + 1 zero bytes named `name`, scrolled to the top, caret at
  // 0 in the value column.
  void NewBuffer(const std::string& name, int32_t lastIndex);
  // The buffer becomes `image` (DataSize = its size), named `name`, unmodified, with an
  // empty history, scrolled to the top and the caret at 0. Readers end with this.
  void TakeContent(std::vector<uint8_t>&& image, const std::string& name);
  // Binary reader and writer. An empty name saves to FileName; a named file that exists
  // is replaced only after "File Exists. Overwrite?" is answered Yes.
  bool LoadFromFile(const std::string& name, TFileError* error = nullptr);
  bool SaveToFile(const std::string& name, TFileError* error = nullptr);
  // Whether the buffer may close: a modified buffer asks "Save changes to <name>?"; Yes
  // saves as the pop-up menu's Save does and allows closing only when that saved, No
  // allows, Cancel refuses.
  bool CloseQuery();
  void ClearHistory() { history_.Clear(); }
  const THistory& History() const { return history_; }

  // ---- Caret and selection --------------------------------------------------------------
  int32_t GetCaretPos() const { return caret_; }
  TPane Pane() const { return pane_; }
  int DigitCount() const { return digits_; }  // digits typed into the current byte so far
  // Caret to the position clamped to 0..DataSize, scrolled into view; the typed digits
  // start over.
  void GoTo(int64_t position);
  void GoToStart() { GoTo(0); }
  void GoToEnd() { GoTo(dataSize_); }
  void SetPane(TPane pane);

  void SetSelection(bool selected, int64_t first, int64_t last);
  void ClearSelection() { SetSelection(false, selFirst_, selLast_); }
  void SelectAll();
  // The selection, normalised (first <= last, within the data); false when there is none.
  bool GetSelection(int32_t& first, int32_t& last) const;
  bool HasSelection() const;

  // ---- Editing commands: nothing when read-only; each sets the modified flag and records
  // one history step. -------------------------------------------------------------------
  void Undo();
  void Redo();
  bool CanUndo() const { return history_.CanUndo(); }
  bool CanRedo() const { return history_.CanRedo(); }
  void Cut();
  void Copy();        // no history: the selection as CF_HexText and as text
  void CopyAsText();  // no history: the display lines of the selection as text
  void Paste();
  bool CanPaste() const;
  void Delete();
  void Fill(uint8_t value);
  void SwapBytes();
  bool Find(std::string_view pattern, bool matchCase, bool forward);
  bool Replace(std::string_view pattern, bool matchCase, std::string_view replacement,
               bool forward);
  // Typing: a key in the value column or a character in the text column.
  void EnterValue(char key);

  // The program-wide insert mode (false: overwrite), shared by every control.
  static bool InsertMode();
  static void SetInsertMode(bool insert);
  bool ToggleInsertMode();
  void ToggleOffsetMode();
  void StepHexMode();
  void StepBytesPerLine();

  // Keys with the shift state (ssShift | ssCtrl); false when the control does not use it.
  bool KeyDown(TKey key, unsigned shift = 0);
  // Mouse: a press puts the caret (Shift extends the selection), a drag selects.
  void MouseDown(int64_t position, TPane pane, unsigned shift = 0);
  void MouseDrag(int64_t position);

  // Pop-up menu commands. New, Open: ask CloseQuery first. Save: the writer by the
  // extension of FileName, through the save dialog when the name is untitled. SaveAs: the
  // save dialog first. Close fires OnClose.
  void MenuNew();
  bool MenuOpen();
  bool MenuSave();
  bool MenuSaveAs();
  void MenuClose();

  // ---- Properties that change the content of the columns --------------------------------
  int OffsetDigits() const { return offsetDigits_; }
  void SetOffsetDigits(int digits);  // 1..8, others ignored
  char TextMaskChar() const { return textMaskChar_; }
  void SetTextMaskChar(char c);
  const std::string& OffsetSeparator() const { return offsetSeparator_; }
  void SetOffsetSeparator(const std::string& separator);
  int64_t OffsetBaseAddress() const { return offsetBase_; }
  void SetOffsetBaseAddress(int64_t base);
  int MaxUndo() const { return history_.Capacity(); }
  void SetMaxUndo(int maxUndo);  // 1..4999, others ignored; empties the history
  int BytesPerLine() const { return bytesPerLine_; }
  void SetBytesPerLine(int bytes);  // 1..254, others ignored; the caret keeps its position
  TOffsetMode OffsetMode() const { return offsetMode_; }
  void SetOffsetMode(TOffsetMode mode);
  THexMode HexMode() const { return hexMode_; }
  void SetHexMode(THexMode mode);
  bool TextAllChars() const { return textAllChars_; }
  void SetTextAllChars(bool all);

  // ---- What the widget draws ------------------------------------------------------------
  // Display lines: enough for every byte and for the caret at DataSize.
  int32_t LineCount() const;
  int32_t TopLine() const { return topLine_; }
  void SetTopLine(int64_t line);  // scrolling by the widget
  int32_t PageLines() const { return pageLines_; }
  void SetPageLines(int lines);  // how many lines the widget shows (at least 1)
  // Offset column of a line: (line start + OffsetBaseAddress) in the offset base,
  // zero-padded, without the separator.
  std::string OffsetText(int32_t line) const;
  // Value column of one byte: 2, 3 or 8 digits.
  std::string ValueText(uint8_t value) const;
  // Text column of one byte.
  char TextChar(uint8_t value) const;
  // The text dump of lines first..last as CopyAsText and printing produce it.
  std::vector<std::string> TextLines(int32_t firstLine, int32_t lastLine) const;

  // ---- Events ---------------------------------------------------------------------------
  std::function<void(const TDataChange&)> OnDataChange;
  std::function<void()> OnRepaint;  // layout, modes or scrolling changed: draw it all
  std::function<void(bool canUndo, bool canRedo)> OnUndoRedo;
  std::function<void(bool selected, int32_t first, int32_t last)> OnChangeSelection;
  std::function<void()> OnMoveCaret;
  std::function<void(bool insertMode)> OnChangeInputMode;
  std::function<void()> OnPasteEnable;
  std::function<void()> OnClose;
  std::function<void(bool busy)> OnBusy;  // hourglass on while loading or saving

 private:
  bool Editable() const { return !readOnly_; }
  // Moves bytes: n old bytes at pos replaced by `bytes`. False when the result would be
  // larger than kMaxBufferSize.
  bool ApplyReplace(int32_t pos, int32_t oldLength, std::span<const uint8_t> bytes);
  // An "R" step: the bytes at pos..pos+oldLength-1 become `bytes`.
  bool ReplaceStep(int32_t pos, int32_t oldLength, std::vector<uint8_t> bytes);
  // An "O" step: one byte overwritten.
  void OverwriteStep(int32_t pos, uint8_t value);
  void Changed(const TDataChange& change);
  void Repaint();
  void PlaceCaret(int64_t position, bool keepAnchor);
  bool ScrollToCaret();
  void ExtendTo(int64_t position);  // caret there, selection from the anchor
  void ReplayStep(const THistoryRecord& r, bool undo);
  std::vector<uint8_t> Slice(int32_t first, int32_t length) const;
  std::string OffsetFormat() const;
  int32_t FindPosition(std::string_view pattern, bool matchCase, bool forward) const;
  void DeleteRange(int32_t first, int32_t length);
  void Beep();

  std::vector<uint8_t> data_;  // storage; only grows
  int32_t dataSize_ = 0;
  std::string fileName_;
  bool modified_ = false;
  bool readOnly_ = false;

  int32_t caret_ = 0;
  TPane pane_ = TPane::Value;
  int digits_ = 0;
  bool selected_ = false;
  int32_t selFirst_ = 0, selLast_ = 0;
  int32_t anchor_ = 0;

  THistory history_;

  int offsetDigits_ = 6;
  char textMaskChar_ = '.';
  std::string offsetSeparator_ = ":";
  int64_t offsetBase_ = 0;
  int bytesPerLine_ = 16;
  TOffsetMode offsetMode_ = TOffsetMode::Hexadecimal;
  THexMode hexMode_ = THexMode::Hexadecimal;
  bool textAllChars_ = false;
  int32_t topLine_ = 0;
  int32_t pageLines_ = 16;
};

}  // namespace hexedit
