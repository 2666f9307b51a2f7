// Any sequence of editing commands, keys and mouse actions leaves the buffer model
// consistent: the caret within 0..DataSize, a selection within the data, undo and redo
// never reaching outside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "hexedit/bytescope.h"
#include "platform/clipboard.h"

namespace {

void Check(const hexedit::TBytescope& s) {
  if (s.GetCaretPos() < 0 || s.GetCaretPos() > s.DataSize()) std::abort();
  int32_t f = 0, l = 0;
  if (s.GetSelection(f, l) && (f < 0 || l >= s.DataSize() || f > l)) std::abort();
  if (s.DigitCount() < 0 || s.DigitCount() >= 8) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Each run has its own clipboard, so runs do not feed each other.
  platform::TMemoryClipboard clipboard;
  platform::SetClipboard(&clipboard);
  hexedit::TBytescope::SetInsertMode(false);
  hexedit::TBytescope s;
  s.TakeContent(std::vector<uint8_t>(data[0] % 64, 0x5A), "Untitled1");
  s.SetPageLines(4);
  size_t i = 1;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    const uint8_t op = next(), arg = next();
    switch (op % 22) {
      case 0:
        s.EnterValue(static_cast<char>(arg));
        break;
      case 1:
        s.KeyDown(static_cast<hexedit::TKey>(arg % 18), arg >> 6);
        break;
      case 2:
        s.SetSelection(arg & 1, static_cast<int8_t>(arg) / 2, next() % 80);
        break;
      case 3:
        s.Copy();
        break;
      case 4:
        s.Paste();
        break;
      case 5:
        s.Cut();
        break;
      case 6:
        s.Delete();
        break;
      case 7:
        s.Fill(arg);
        break;
      case 8:
        s.SwapBytes();
        break;
      case 9:
        s.Undo();
        break;
      case 10:
        s.Redo();
        break;
      case 11: {
        std::string pattern(arg % 5, '\0');
        for (char& c : pattern) c = static_cast<char>(next());
        s.Find(pattern, op & 0x40, op & 0x80);
        break;
      }
      case 12: {
        std::string pattern(arg % 4, '\0'), replacement(next() % 4, '\0');
        for (char& c : pattern) c = static_cast<char>(next());
        for (char& c : replacement) c = static_cast<char>(next());
        s.Replace(pattern, op & 0x40, replacement, op & 0x80);
        break;
      }
      case 13:
        s.StepHexMode();
        break;
      case 14:
        s.ToggleInsertMode();
        break;
      case 15:
        s.SetBytesPerLine(arg);
        break;
      case 16:
        s.SetMaxUndo(arg % 8);
        break;
      case 17:
        s.GoTo(static_cast<int8_t>(arg) * 2);
        break;
      case 18:
        s.SetDataSize(static_cast<int8_t>(arg) % 100);
        break;
      case 19:
        s.CopyAsText();
        break;
      case 20:
        s.MouseDown(arg % 90, arg & 1 ? hexedit::TPane::Text : hexedit::TPane::Value, arg >> 7);
        break;
      default:
        s.MouseDrag(static_cast<int8_t>(arg));
        break;
    }
    Check(s);
  }
  hexedit::TBytescope::SetInsertMode(false);
  platform::SetClipboard(nullptr);
  return 0;
}
