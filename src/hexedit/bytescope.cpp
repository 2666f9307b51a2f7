#include "hexedit/bytescope.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "base/format.h"
#include "hexedit/clipboard_payload.h"
#include "hexedit/formats.h"
#include "hexedit/untitled.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"

namespace hexedit {

namespace {

bool g_insertMode = false;  // shared by every control; user-interface thread only

constexpr char kHexDigits[] = "0123456789ABCDEF";

int DigitsPerByte(THexMode mode) {
  switch (mode) {
    case THexMode::Decimal:
      return 3;
    case THexMode::Binary:
      return 8;
    default:
      return 2;
  }
}

int BaseOf(THexMode mode) {
  switch (mode) {
    case THexMode::Decimal:
      return 10;
    case THexMode::Binary:
      return 2;
    default:
      return 16;
  }
}

// The value of a digit of the base, or -1.
int DigitValue(char key, int base) {
  int d = -1;
  if (key >= '0' && key <= '9') d = key - '0';
  if (key >= 'A' && key <= 'F') d = key - 'A' + 10;
  if (key >= 'a' && key <= 'f') d = key - 'a' + 10;
  return d < base ? d : -1;
}

uint8_t LowerAscii(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; }

int32_t ClampTo(int64_t v, int64_t lo, int64_t hi) {
  return static_cast<int32_t>(std::clamp(v, lo, hi));
}

}  // namespace

TBytescope::TBytescope() {
  history_.OnChange = [this](bool canUndo, bool canRedo) {
    if (OnUndoRedo) OnUndoRedo(canUndo, canRedo);
  };
}

// ---- Buffer access -------------------------------------------------------------------------

bool TBytescope::SetDataSize(int64_t lastIndex) {
  if (lastIndex < -1 || lastIndex >= kMaxBufferSize) return false;
  const auto size = static_cast<int32_t>(lastIndex + 1);
  const size_t storage = data_.size();
  if (static_cast<size_t>(size) > storage) data_.resize(static_cast<size_t>(size));  // zeroed
  if (size > dataSize_) {
    const auto staleEnd = std::min(static_cast<size_t>(size), storage);
    if (static_cast<size_t>(dataSize_) < staleEnd)
      std::fill(data_.begin() + dataSize_, data_.begin() + static_cast<ptrdiff_t>(staleEnd), 0);
  }
  dataSize_ = size;
  if (caret_ > dataSize_) PlaceCaret(dataSize_, false);
  Repaint();
  return true;
}

uint8_t TBytescope::GetByte(int64_t position) const {
  return position >= 0 && position < dataSize_ ? data_[static_cast<size_t>(position)] : 0;
}

void TBytescope::SetByte(int64_t position, uint8_t value) {
  if (position >= 0 && position < dataSize_) data_[static_cast<size_t>(position)] = value;
}

bool TBytescope::AssignFileName(const std::string& name) {
  if (IsUntitledName(name)) {
    NewBuffer(name, 0);
    return true;
  }
  return LoadFromFile(name);
}

void TBytescope::Refresh() {
  ScrollToCaret();
  Repaint();
}

void TBytescope::NewBuffer(const std::string& name, int32_t lastIndex) {
  std::vector<uint8_t> zeros;
  if (lastIndex >= 0 && lastIndex < kMaxBufferSize)
    zeros.resize(static_cast<size_t>(lastIndex) + 1);
  TakeContent(std::move(zeros), name);
}

void TBytescope::TakeContent(std::vector<uint8_t>&& image, const std::string& name) {
  // The storage only grows: a smaller image is copied into it.
  const size_t n = image.size();
  if (n > data_.size())
    data_.swap(image);
  else
    std::copy(image.begin(), image.end(), data_.begin());
  dataSize_ = static_cast<int32_t>(n);
  fileName_ = name;
  modified_ = false;
  history_.Clear();
  topLine_ = 0;
  pane_ = TPane::Value;
  PlaceCaret(0, false);
  SetSelection(false, 0, 0);
  Repaint();
}

bool TBytescope::LoadFromFile(const std::string& name, TFileError* error) {
  return ReadBufferFile(*this, name, TBufferFormat::Binary, error);
}

bool TBytescope::SaveToFile(const std::string& name, TFileError* error) {
  return WriteBufferFile(*this, name, TBufferFormat::Binary, true, error);
}

bool TBytescope::CloseQuery() {
  if (!modified_) return true;
  const auto answer = platform::Dialogs().MessageBox(
      "Confirm", "Save changes to " + fileName_ + "?",
      platform::mbYes | platform::mbNo | platform::mbCancel, platform::TMsgIcon::Question);
  // Closing after a failed or cancelled save would lose the changes: refuse then.
  if (answer == platform::TModalResult::Yes) return MenuSave();
  return answer == platform::TModalResult::No;
}

// ---- Caret and selection ----------------------------------------------------------------

void TBytescope::PlaceCaret(int64_t position, bool keepAnchor) {
  caret_ = ClampTo(position, 0, dataSize_);
  digits_ = 0;
  if (!keepAnchor) anchor_ = caret_;
  const bool scrolled = ScrollToCaret();
  if (OnMoveCaret) OnMoveCaret();
  if (scrolled) Repaint();
}

void TBytescope::GoTo(int64_t position) { PlaceCaret(position, false); }

bool TBytescope::ScrollToCaret() {
  const int32_t line = caret_ / bytesPerLine_;
  const int32_t old = topLine_;
  if (line < topLine_)
    topLine_ = line;
  else if (line >= topLine_ + pageLines_)
    topLine_ = line - pageLines_ + 1;
  return topLine_ != old;
}

void TBytescope::SetPane(TPane pane) {
  pane_ = pane;
  digits_ = 0;
  if (OnMoveCaret) OnMoveCaret();
}

void TBytescope::SetSelection(bool selected, int64_t first, int64_t last) {
  selected_ = selected;
  selFirst_ = ClampTo(first, INT32_MIN, INT32_MAX);
  selLast_ = ClampTo(last, INT32_MIN, INT32_MAX);
  if (OnChangeSelection) OnChangeSelection(selected_, selFirst_, selLast_);
}

void TBytescope::SelectAll() {
  SetSelection(true, 0, dataSize_ - 1);
  Repaint();
}

bool TBytescope::GetSelection(int32_t& first, int32_t& last) const {
  if (!selected_) return false;
  first = std::max(std::min(selFirst_, selLast_), 0);
  last = std::min(std::max(selFirst_, selLast_), dataSize_ - 1);
  return first <= last;
}

bool TBytescope::HasSelection() const {
  int32_t f = 0, l = 0;
  return GetSelection(f, l);
}

void TBytescope::ExtendTo(int64_t position) {
  PlaceCaret(position, true);
  if (caret_ > anchor_)
    SetSelection(true, anchor_, caret_ - 1);
  else if (caret_ < anchor_)
    SetSelection(true, caret_, anchor_ - 1);
  else
    SetSelection(false, anchor_, anchor_);
}

// ---- Moving bytes and recording steps ---------------------------------------------------

std::vector<uint8_t> TBytescope::Slice(int32_t first, int32_t length) const {
  const auto b = data_.begin() + first;
  return std::vector<uint8_t>(b, b + length);
}

bool TBytescope::ApplyReplace(int32_t pos, int32_t oldLength, std::span<const uint8_t> bytes) {
  const int64_t newLength = static_cast<int64_t>(bytes.size());
  const int64_t newSize = int64_t{dataSize_} - oldLength + newLength;
  if (newSize > kMaxBufferSize) return false;
  if (static_cast<size_t>(newSize) > data_.size()) data_.resize(static_cast<size_t>(newSize));
  uint8_t* d = data_.data();
  const int64_t tail = dataSize_ - (pos + oldLength);
  if (newLength != oldLength && tail > 0)
    std::memmove(d + pos + newLength, d + pos + oldLength, static_cast<size_t>(tail));
  if (!bytes.empty()) std::memcpy(d + pos, bytes.data(), bytes.size());
  dataSize_ = static_cast<int32_t>(newSize);
  return true;
}

void TBytescope::Changed(const TDataChange& change) {
  if (OnDataChange) OnDataChange(change);
}

void TBytescope::Repaint() {
  if (OnRepaint) OnRepaint();
}

void TBytescope::Beep() { platform::Dialogs().Beep(); }

bool TBytescope::ReplaceStep(int32_t pos, int32_t oldLength, std::vector<uint8_t> bytes) {
  THistoryRecord r{pos, Slice(pos, oldLength), std::move(bytes), 'R'};
  if (!ApplyReplace(pos, oldLength, r.NewBytes)) {
    Beep();  // the buffer would grow beyond its limit
    return false;
  }
  const auto newLength = static_cast<int32_t>(r.NewBytes.size());
  history_.Add(std::move(r));
  modified_ = true;
  Changed({pos, oldLength, newLength});
  return true;
}

void TBytescope::OverwriteStep(int32_t pos, uint8_t value) {
  auto& byte = data_[static_cast<size_t>(pos)];
  history_.Add({pos, {byte}, {value}, 'O'});
  byte = value;
  modified_ = true;
  Changed({pos, 1, 1});
}

void TBytescope::DeleteRange(int32_t first, int32_t length) { ReplaceStep(first, length, {}); }

void TBytescope::ReplayStep(const THistoryRecord& r, bool undo) {
  const auto& removed = undo ? r.NewBytes : r.OldBytes;
  const auto& inserted = undo ? r.OldBytes : r.NewBytes;
  const auto removedLength = static_cast<int32_t>(removed.size());
  // The size may have been set from outside since the step was recorded; a step that no
  // longer fits cannot be replayed, and neither can any step before it.
  const bool fits = r.Position >= 0 && int64_t{r.Position} + removedLength <= dataSize_ &&
                    (r.Kind != 'O' || (removedLength == 1 && inserted.size() == 1));
  if (!fits || !ApplyReplace(r.Position, removedLength, inserted)) {
    history_.Clear();
    Beep();
    return;
  }
  Changed({r.Position, removedLength, static_cast<int32_t>(inserted.size())});
  SetSelection(false, selFirst_, selLast_);
  PlaceCaret(r.Position, false);
}

// ---- Editing commands -------------------------------------------------------------------

void TBytescope::Undo() {
  if (!Editable()) return;
  if (const THistoryRecord* r = history_.StepBack()) ReplayStep(*r, true);
}

void TBytescope::Redo() {
  if (!Editable()) return;
  if (const THistoryRecord* r = history_.StepForward()) ReplayStep(*r, false);
}

void TBytescope::Cut() {
  if (!Editable() || !HasSelection()) return;
  Copy();
  Delete();
}

void TBytescope::Copy() {
  int32_t f = 0, l = 0;
  if (!GetSelection(f, l)) return;
  const std::span<const uint8_t> bytes(data_.data() + f, static_cast<size_t>(l - f + 1));
  std::vector<unsigned char> text;
  if (pane_ == TPane::Value) {
    text.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
      text.push_back(static_cast<unsigned char>(kHexDigits[b >> 4]));
      text.push_back(static_cast<unsigned char>(kHexDigits[b & 15]));
      text.push_back(' ');
    }
  } else {
    text.reserve(bytes.size());
    for (uint8_t b : bytes) text.push_back(b < 32 ? static_cast<unsigned char>(textMaskChar_) : b);
  }
  platform::Clipboard().SetItems(
      {{kHexTextFormat, MakeHexTextPayload(bytes)}, {platform::kClipboardText, std::move(text)}});
  if (OnPasteEnable) OnPasteEnable();
}

void TBytescope::CopyAsText() {
  int32_t f = 0, l = 0;
  if (!GetSelection(f, l)) return;
  std::string dump;
  for (const auto& line : TextLines(f / bytesPerLine_, l / bytesPerLine_)) {
    if (!dump.empty()) dump += '\n';
    dump += line;
  }
  platform::Clipboard().SetItems(
      {{platform::kClipboardText, std::vector<unsigned char>(dump.begin(), dump.end())}});
  if (OnPasteEnable) OnPasteEnable();
}

namespace {

// What Paste takes: the CF_HexText bytes, else the text up to a terminating zero.
std::vector<uint8_t> ClipboardBytes() {
  auto& clipboard = platform::Clipboard();
  if (const auto payload = clipboard.Item(kHexTextFormat))
    if (auto bytes = ParseHexTextPayload(*payload)) return std::move(*bytes);
  if (const auto text = clipboard.Item(platform::kClipboardText)) {
    const auto end = std::find(text->begin(), text->end(), 0);
    return std::vector<uint8_t>(text->begin(), end);
  }
  return {};
}

}  // namespace

bool TBytescope::CanPaste() const {
  auto& clipboard = platform::Clipboard();
  return clipboard.Item(kHexTextFormat) || clipboard.Item(platform::kClipboardText);
}

void TBytescope::Paste() {
  if (!Editable()) return;
  std::vector<uint8_t> bytes = ClipboardBytes();
  if (bytes.empty()) return;
  int32_t f = 0, l = 0;
  const bool selected = GetSelection(f, l);
  const int32_t pos = selected ? f : caret_;
  const auto n = static_cast<int32_t>(bytes.size());
  if (!ReplaceStep(pos, selected ? l - f + 1 : 0, std::move(bytes))) return;
  PlaceCaret(int64_t{pos} + n, false);
  SetSelection(true, pos, int64_t{pos} + n - 1);
}

void TBytescope::Delete() {
  if (!Editable()) return;
  int32_t f = 0, l = 0;
  if (GetSelection(f, l)) {
    DeleteRange(f, l - f + 1);
    PlaceCaret(f, false);
  } else if (caret_ < dataSize_) {
    DeleteRange(caret_, 1);
    PlaceCaret(caret_, false);
  }
  SetSelection(false, selFirst_, selLast_);
}

void TBytescope::Fill(uint8_t value) {
  int32_t f = 0, l = 0;
  if (!Editable() || !GetSelection(f, l)) return;
  ReplaceStep(f, l - f + 1, std::vector<uint8_t>(static_cast<size_t>(l - f + 1), value));
}

void TBytescope::SwapBytes() {
  int32_t f = 0, l = 0;
  if (!Editable() || !GetSelection(f, l)) return;
  std::vector<uint8_t> bytes = Slice(f, l - f + 1);
  // Pairs (p, p + 1) from the first selected byte; an odd last byte stays.
  for (size_t p = 0; p + 1 < bytes.size(); p += 2) std::swap(bytes[p], bytes[p + 1]);
  ReplaceStep(f, l - f + 1, std::move(bytes));
}

int32_t TBytescope::FindPosition(std::string_view pattern, bool matchCase, bool forward) const {
  const int64_t n = dataSize_;
  const auto m = static_cast<int64_t>(pattern.size());
  if (m == 0 || m > n) return -1;
  const uint8_t* d = data_.data();

  // Without match case the pattern is lower-cased and data bytes 'A'..'Z' compare as
  // their lower-case letters; the shift table then holds each pattern letter in both
  // cases, so that a shift never jumps over a match that differs only in case.
  std::array<uint8_t, 256> fold{};
  for (int c = 0; c < 256; ++c)
    fold[static_cast<size_t>(c)] =
        matchCase ? static_cast<uint8_t>(c) : LowerAscii(static_cast<uint8_t>(c));
  std::vector<uint8_t> pat(static_cast<size_t>(m));
  for (int64_t i = 0; i < m; ++i)
    pat[static_cast<size_t>(i)] = fold[static_cast<uint8_t>(pattern[static_cast<size_t>(i)])];
  std::array<int64_t, 256> shift;
  shift.fill(m);
  auto setShift = [&](uint8_t c, int64_t value) {
    shift[c] = value;
    if (!matchCase && c >= 'a' && c <= 'z') shift[c - 32u] = value;
  };
  // The key byte (last of the pattern forward, first backward) compares as it is: its
  // shift becomes 0 in `skip`, so the inner loop is a bare chain of table look-ups that
  // stops exactly at the windows worth comparing; after a comparison the window moves on
  // by the key byte's own shift.
  auto skipTable = [&](uint8_t key, std::array<int64_t, 256>& skip) {
    skip = shift;
    skip[key] = 0;
    if (!matchCase && key >= 'a' && key <= 'z') skip[key - 32u] = 0;
    return shift[key];
  };
  std::array<int64_t, 256> skip;
  // A one-byte pattern that needs no case folding is a plain byte search.
  const bool plainByte = matchCase || !(pat[0] >= 'a' && pat[0] <= 'z');

  if (forward) {
    const int64_t start = int64_t{caret_} + 1;  // the first window ends at caret + m
    if (start + m > n) return -1;
    if (m == 1 && plainByte) {
      const void* hit = std::memchr(d + start, pat[0], static_cast<size_t>(n - start));
      return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - d) : -1;
    }
    for (int64_t i = 0; i + 1 < m; ++i) setShift(pat[static_cast<size_t>(i)], m - 1 - i);
    const uint8_t last = pat[static_cast<size_t>(m - 1)];
    const int64_t keyShift = skipTable(last, skip);
    // Window ends p; windows that lie within the data end before n.
    for (int64_t p = start + m - 1;; p += keyShift) {
      for (int64_t k; p < n && (k = skip[d[p]]) != 0;) p += k;
      if (p >= n) return -1;
      int64_t j = 1;
      while (j < m && fold[d[p - j]] == pat[static_cast<size_t>(m - 1 - j)]) ++j;
      if (j == m) return static_cast<int32_t>(p - m + 1);
    }
  }

  // Backward: the first window starts at caret - 1, or at the last window that lies
  // within the data when that is earlier.
  int64_t p = std::min(std::max<int64_t>(int64_t{caret_} - 1, 0), n - m);
  if (m == 1 && plainByte) {
    const void* hit = ::memrchr(d, pat[0], static_cast<size_t>(p + 1));
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - d) : -1;
  }
  for (int64_t i = m - 1; i >= 1; --i) setShift(pat[static_cast<size_t>(i)], i);
  const int64_t keyShift = skipTable(pat[0], skip);
  for (;; p -= keyShift) {
    for (int64_t k; p >= 0 && (k = skip[d[p]]) != 0;) p -= k;
    if (p < 0) return -1;
    int64_t j = 1;
    while (j < m && fold[d[p + j]] == pat[static_cast<size_t>(j)]) ++j;
    if (j == m) return static_cast<int32_t>(p);
  }
}

bool TBytescope::Find(std::string_view pattern, bool matchCase, bool forward) {
  const int32_t pos = FindPosition(pattern, matchCase, forward);
  if (pos >= 0) {
    GoTo(pos);
    SetSelection(true, pos, int64_t{pos} + static_cast<int64_t>(pattern.size()) - 1);
    Repaint();
    return true;
  }
  if (forward)
    GoToEnd();
  else
    GoToStart();
  SetSelection(false, selFirst_, selLast_);
  Repaint();
  platform::Dialogs().MessageBox("Warning", "String or Hex Data not Found", platform::mbOK,
                                 platform::TMsgIcon::Exclamation);
  return false;
}

bool TBytescope::Replace(std::string_view pattern, bool matchCase, std::string_view replacement,
                         bool forward) {
  if (!Editable()) return false;
  if (!Find(pattern, matchCase, forward) || pattern.empty() || replacement.empty()) {
    Beep();
    return false;
  }
  const int32_t pos = caret_;
  if (!ReplaceStep(pos, static_cast<int32_t>(pattern.size()),
                   std::vector<uint8_t>(replacement.begin(), replacement.end())))
    return false;
  SetSelection(true, pos, int64_t{pos} + static_cast<int64_t>(replacement.size()) - 1);
  Repaint();
  return true;
}

void TBytescope::EnterValue(char key) {
  if (!Editable()) return;
  const bool text = pane_ == TPane::Text;
  const auto code = static_cast<uint8_t>(key);
  int value = 0;
  if (text) {
    if (code < 32) return;
    value = code;
  } else {
    value = DigitValue(key, BaseOf(hexMode_));
    if (value < 0) {
      Beep();
      return;
    }
  }
  // A further digit needs the byte it was started on.
  if (digits_ > 0 && caret_ >= dataSize_) digits_ = 0;

  if (digits_ == 0) {
    const auto byte = static_cast<uint8_t>(value);
    int32_t f = 0, l = 0;
    if (GetSelection(f, l)) {
      if (!ReplaceStep(f, l - f + 1, {byte})) return;
      PlaceCaret(f, false);
      SetSelection(false, selFirst_, selLast_);
    } else if (!g_insertMode && caret_ < dataSize_) {
      OverwriteStep(caret_, byte);
    } else if (!ReplaceStep(caret_, 0, {byte})) {
      return;
    }
    if (text)
      PlaceCaret(int64_t{caret_} + 1, false);
    else
      digits_ = 1;
    return;
  }

  const int v = data_[static_cast<size_t>(caret_)] * BaseOf(hexMode_) + value;
  if (v > 255) {
    digits_ = 0;
    Beep();
    return;
  }
  OverwriteStep(caret_, static_cast<uint8_t>(v));
  if (++digits_ == DigitsPerByte(hexMode_)) PlaceCaret(int64_t{caret_} + 1, false);
}

// ---- Modes ----------------------------------------------------------------------------------

bool TBytescope::InsertMode() { return g_insertMode; }
void TBytescope::SetInsertMode(bool insert) { g_insertMode = insert; }

bool TBytescope::ToggleInsertMode() {
  g_insertMode = !g_insertMode;
  if (OnChangeInputMode) OnChangeInputMode(g_insertMode);
  return g_insertMode;
}

void TBytescope::ToggleOffsetMode() {
  SetOffsetMode(offsetMode_ == TOffsetMode::Hexadecimal ? TOffsetMode::Decimal
                                                        : TOffsetMode::Hexadecimal);
}

void TBytescope::StepHexMode() {
  switch (hexMode_) {
    case THexMode::Hexadecimal:
      return SetHexMode(THexMode::Decimal);
    case THexMode::Decimal:
      return SetHexMode(THexMode::Binary);
    default:
      return SetHexMode(THexMode::Hexadecimal);
  }
}

void TBytescope::StepBytesPerLine() {
  switch (bytesPerLine_) {
    case 2:
      return SetBytesPerLine(4);
    case 4:
      return SetBytesPerLine(8);
    case 8:
      return SetBytesPerLine(16);
    default:  // 16 and every other value
      return SetBytesPerLine(2);
  }
}

// ---- Keys and mouse -------------------------------------------------------------------------

bool TBytescope::KeyDown(TKey key, unsigned shift) {
  const bool withShift = (shift & ssShift) != 0;
  if (shift & ssCtrl) {
    switch (key) {
      case TKey::X:
        Cut();
        return true;
      case TKey::C:
      case TKey::Insert:
        Copy();
        return true;
      case TKey::V:
        Paste();
        return true;
      case TKey::Z:
        Undo();
        return true;
      case TKey::Y:
        Redo();
        return true;
      case TKey::Home:
      case TKey::End: {
        const int32_t target = key == TKey::Home ? 0 : dataSize_;
        if (withShift) return ExtendTo(target), true;
        GoTo(target);
        SetSelection(false, selFirst_, selLast_);
        return true;
      }
      default:
        return false;
    }
  }

  // Navigation targets; Page Up and Page Down scroll by one page, or go to the start or
  // the end from the first or last page.
  const int64_t caret = caret_;
  const int32_t lineStart = caret_ / bytesPerLine_ * bytesPerLine_;
  int64_t target = caret;
  bool navigation = true;
  switch (key) {
    case TKey::Right:
    case TKey::Enter:
      target = caret + 1;
      break;
    case TKey::Left:
      target = caret - 1;
      break;
    case TKey::Up:
      target = caret - bytesPerLine_;
      break;
    case TKey::Down:
      target = caret + bytesPerLine_;
      break;
    case TKey::Home:
      target = lineStart;
      break;
    case TKey::End:
      target = int64_t{lineStart} + bytesPerLine_ - 1;
      break;
    case TKey::PageUp:
      if (topLine_ == 0) {
        target = 0;
      } else {
        topLine_ = std::max(topLine_ - pageLines_, 0);
        target = caret - int64_t{bytesPerLine_} * pageLines_;
        Repaint();
      }
      break;
    case TKey::PageDown: {
      const int32_t lastTop = std::max(LineCount() - pageLines_, 0);
      if (topLine_ >= lastTop) {
        target = dataSize_;
      } else {
        topLine_ = std::min(topLine_ + pageLines_, lastTop);
        target = caret + int64_t{bytesPerLine_} * pageLines_;
        Repaint();
      }
      break;
    }
    default:
      navigation = false;
      break;
  }

  if (withShift) {
    if (key == TKey::Insert) {
      Paste();
      return true;
    }
    if (!navigation || key == TKey::Enter) return false;
    ExtendTo(target);
    return true;
  }

  switch (key) {
    case TKey::Backspace: {
      int32_t f = 0, l = 0;
      if (!Editable()) break;
      if (GetSelection(f, l)) {
        DeleteRange(f, l - f + 1);
        PlaceCaret(f, false);
      } else if (caret_ > 0) {
        DeleteRange(caret_ - 1, 1);
        PlaceCaret(caret - 1, false);
      }
      break;
    }
    case TKey::Tab:
      SetPane(pane_ == TPane::Value ? TPane::Text : TPane::Value);
      break;
    case TKey::Insert:
      ToggleInsertMode();
      break;
    case TKey::Delete:
      Delete();
      break;
    case TKey::X:
    case TKey::C:
    case TKey::V:
    case TKey::Z:
    case TKey::Y:
      return false;  // plain letters are typed (EnterValue)
    default:
      if (navigation) GoTo(target);
      break;
  }
  SetSelection(false, selFirst_, selLast_);
  return true;
}

void TBytescope::MouseDown(int64_t position, TPane pane, unsigned shift) {
  SetPane(pane);
  if (shift & ssShift) {
    ExtendTo(position);
    return;
  }
  GoTo(position);
  SetSelection(false, selFirst_, selLast_);
}

void TBytescope::MouseDrag(int64_t position) { ExtendTo(position); }

// ---- Pop-up menu ----------------------------------------------------------------------------

void TBytescope::MenuNew() {
  if (!CloseQuery()) return;
  NewBuffer(NewUntitledName(), 0);
}

bool TBytescope::MenuOpen() {
  if (!CloseQuery()) return false;
  std::string name;
  if (!platform::Dialogs().OpenFileDialog({}, name)) return false;
  if (OpenBufferFile(*this, name, true)) return true;
  platform::Dialogs().MessageBox("Warning", "I/O Error ", platform::mbOK,
                                 platform::TMsgIcon::Exclamation);
  return false;
}

bool TBytescope::MenuSave() {
  if (IsUntitledName(fileName_)) return MenuSaveAs();
  return SaveBufferFile(*this, "");
}

bool TBytescope::MenuSaveAs() {
  platform::TFileDialogRequest request;
  request.filter = kSaveDialogFilter;
  request.fileName = IsUntitledName(fileName_) ? "" : fileName_;
  std::string name;
  if (!platform::Dialogs().SaveFileDialog(request, name)) return false;
  return SaveBufferFile(*this, name);
}

void TBytescope::MenuClose() {
  if (OnClose) OnClose();
}

// ---- Properties -----------------------------------------------------------------------------

void TBytescope::SetOffsetDigits(int digits) {
  if (digits < 1 || digits > 8) return;
  offsetDigits_ = digits;
  Repaint();
}

void TBytescope::SetTextMaskChar(char c) {
  textMaskChar_ = c;
  Repaint();
}

void TBytescope::SetOffsetSeparator(const std::string& separator) {
  offsetSeparator_ = separator;
  Repaint();
}

void TBytescope::SetOffsetBaseAddress(int64_t base) {
  offsetBase_ = base;
  Repaint();
}

void TBytescope::SetMaxUndo(int maxUndo) { history_.SetCapacity(maxUndo); }

void TBytescope::SetBytesPerLine(int bytes) {
  if (bytes < 1 || bytes > 254) return;
  bytesPerLine_ = bytes;
  topLine_ = std::min(topLine_, LineCount() - 1);
  ScrollToCaret();
  Repaint();
}

void TBytescope::SetOffsetMode(TOffsetMode mode) {
  offsetMode_ = mode;
  Repaint();
}

void TBytescope::SetHexMode(THexMode mode) {
  hexMode_ = mode;
  digits_ = 0;
  Repaint();
}

void TBytescope::SetTextAllChars(bool all) {
  textAllChars_ = all;
  Repaint();
}

// ---- Column contents ------------------------------------------------------------------------

int32_t TBytescope::LineCount() const { return dataSize_ / bytesPerLine_ + 1; }

void TBytescope::SetTopLine(int64_t line) {
  topLine_ = ClampTo(line, 0, LineCount() - 1);
  Repaint();
}

void TBytescope::SetPageLines(int lines) {
  pageLines_ = std::max(lines, 1);
  if (ScrollToCaret()) Repaint();
}

std::string TBytescope::OffsetFormat() const {
  if (offsetMode_ == TOffsetMode::Hexadecimal)
    return base::Format("%%%d.%dx", offsetDigits_, offsetDigits_);
  const int digits = offsetDigits_ + (offsetDigits_ < 5 ? 1 : 2);
  return base::Format("%%%d.%dd", digits, digits);
}

std::string TBytescope::OffsetText(int32_t line) const {
  return base::Format(OffsetFormat(), int64_t{line} * bytesPerLine_ + offsetBase_);
}

std::string TBytescope::ValueText(uint8_t value) const {
  switch (hexMode_) {
    case THexMode::Decimal:
      return {static_cast<char>('0' + value / 100), static_cast<char>('0' + value / 10 % 10),
              static_cast<char>('0' + value % 10)};
    case THexMode::Binary: {
      std::string s(8, '0');
      for (int i = 0; i < 8; ++i)
        if (value & (0x80 >> i)) s[static_cast<size_t>(i)] = '1';
      return s;
    }
    default:
      return {kHexDigits[value >> 4], kHexDigits[value & 15]};
  }
}

char TBytescope::TextChar(uint8_t value) const {
  return value < 32 && !textAllChars_ ? textMaskChar_ : static_cast<char>(value);
}

std::vector<std::string> TBytescope::TextLines(int32_t firstLine, int32_t lastLine) const {
  std::vector<std::string> lines;
  const std::string format = OffsetFormat();
  const size_t blanks = static_cast<size_t>(DigitsPerByte(hexMode_)) + 1;
  for (int32_t line = std::max(firstLine, 0); line <= lastLine; ++line) {
    const int64_t start = int64_t{line} * bytesPerLine_;
    std::string s = base::Format(format, start + offsetBase_) + offsetSeparator_ + ' ';
    for (int i = 0; i < bytesPerLine_; ++i) {
      if (start + i < dataSize_)
        s += ValueText(data_[static_cast<size_t>(start + i)]) + ' ';
      else
        s.append(blanks, ' ');
    }
    s += ' ';
    for (int i = 0; i < bytesPerLine_; ++i) {
      if (start + i >= dataSize_) {
        s += ' ';
        continue;
      }
      const uint8_t b = data_[static_cast<size_t>(start + i)];
      s += b < 32 ? textMaskChar_ : static_cast<char>(b);
    }
    lines.push_back(std::move(s));
  }
  return lines;
}

}  // namespace hexedit
