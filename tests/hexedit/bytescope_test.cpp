#include "hexedit/bytescope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "hexedit/clipboard_payload.h"
#include "hexedit/file_io.h"
#include "hexedit/formats.h"
#include "hexedit/test_files.h"
#include "platform/clipboard.h"
#include "support/fake_dialogs.h"

namespace {

using hexedit::TBytescope;
using hexedit::TDataChange;
using hexedit::THexMode;
using hexedit::TKey;
using hexedit::TPane;
using platform::TModalResult;

class BytescopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClipboard(&clipboard);
    TBytescope::SetInsertMode(false);
  }
  void TearDown() override {
    platform::SetClipboard(nullptr);
    TBytescope::SetInsertMode(false);
  }

  void Load(std::vector<uint8_t> bytes) { scope.TakeContent(std::move(bytes), "Untitled7"); }
  void Load(const std::string& text) { Load(std::vector<uint8_t>(text.begin(), text.end())); }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(scope.Bytes().begin(), scope.Bytes().end());
  }
  std::string Text() const { return std::string(scope.Bytes().begin(), scope.Bytes().end()); }
  std::string ClipboardText() const {
    const auto t = clipboard.Item(platform::kClipboardText);
    return t ? std::string(t->begin(), t->end()) : "<none>";
  }
  void Type(const std::string& keys) {
    for (char c : keys) scope.EnterValue(c);
  }
  void Select(int32_t first, int32_t last) { scope.SetSelection(true, first, last); }

  testing_support::TFakeDialogs dialogs;
  platform::TMemoryClipboard clipboard;
  TBytescope scope;
};

// ---- Buffer access ------------------------------------------------------------------------

TEST_F(BytescopeTest, ByteAccessOutsideTheDataIsHarmless) {
  Load(std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(scope.GetByte(-1), 0);
  EXPECT_EQ(scope.GetByte(3), 0);
  EXPECT_EQ(scope.GetByte(2), 3);
  scope.SetByte(-1, 9);
  scope.SetByte(3, 9);
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{1, 2, 3}));
  scope.SetByte(1, 0xAA);
  EXPECT_EQ(scope.GetByte(1), 0xAA);
  EXPECT_FALSE(scope.Modified());  // direct access records nothing
  EXPECT_FALSE(scope.CanUndo());
}

TEST_F(BytescopeTest, SetDataSizeTakesTheLastIndexAndKeepsTheStorage) {
  EXPECT_TRUE(scope.SetDataSize(255));
  EXPECT_EQ(scope.DataSize(), 256);
  scope.SetByte(200, 7);
  const uint8_t* storage = scope.Data();
  EXPECT_TRUE(scope.SetDataSize(15));
  EXPECT_EQ(scope.DataSize(), 16);
  EXPECT_TRUE(scope.SetDataSize(255));
  EXPECT_EQ(scope.Data(), storage);  // no reallocation
  EXPECT_EQ(scope.GetByte(200), 0);  // bytes that become valid read 0
  EXPECT_TRUE(scope.SetDataSize(-1));
  EXPECT_EQ(scope.DataSize(), 0);
  EXPECT_FALSE(scope.SetDataSize(-2));
  EXPECT_FALSE(scope.SetDataSize(hexedit::kMaxBufferSize));
  EXPECT_EQ(scope.DataSize(), 0);
}

TEST_F(BytescopeTest, NewBufferWithLastIndexZeroHoldsOneZeroByte) {
  Load("abc");
  scope.NewBuffer("Untitled3", 0);
  EXPECT_EQ(scope.DataSize(), 1);
  EXPECT_EQ(scope.GetByte(0), 0);
  EXPECT_EQ(scope.FileName(), "Untitled3");
  EXPECT_EQ(scope.GetCaretPos(), 0);
  EXPECT_EQ(scope.Pane(), TPane::Value);
}

// ---- Typing -------------------------------------------------------------------------------

TEST_F(BytescopeTest, TypingTwoHexDigitsInOverwriteModeAndUndoingThem) {
  Load(std::vector<uint8_t>{0xFF, 0x00});
  scope.EnterValue('1');
  EXPECT_EQ(scope.GetByte(0), 0x01);
  EXPECT_EQ(scope.GetCaretPos(), 0);
  EXPECT_EQ(scope.DigitCount(), 1);
  scope.EnterValue('2');
  EXPECT_EQ(scope.GetByte(0), 0x12);
  EXPECT_EQ(scope.GetCaretPos(), 1);  // the caret moved on
  EXPECT_EQ(scope.DigitCount(), 0);
  EXPECT_TRUE(scope.Modified());
  scope.Undo();
  EXPECT_EQ(scope.GetByte(0), 0x01);
  scope.Undo();
  EXPECT_EQ(scope.GetByte(0), 0xFF);
  EXPECT_EQ(scope.DataSize(), 2);
  EXPECT_EQ(scope.GetCaretPos(), 0);
  EXPECT_FALSE(scope.CanUndo());
  EXPECT_TRUE(scope.Modified());  // undo leaves the flag
}

TEST_F(BytescopeTest, DecimalDigitBeyond255BeepsAndRestartsTheByte) {
  Load(std::vector<uint8_t>{0xFF});
  scope.StepHexMode();
  ASSERT_EQ(scope.HexMode(), THexMode::Decimal);
  Type("25");
  EXPECT_EQ(dialogs.beeps, 0);
  scope.EnterValue('6');
  EXPECT_EQ(dialogs.beeps, 1);
  EXPECT_EQ(scope.GetByte(0), 25);
  EXPECT_EQ(scope.DigitCount(), 0);
  EXPECT_EQ(scope.GetCaretPos(), 0);
  scope.EnterValue('7');  // starts the byte over
  EXPECT_EQ(scope.GetByte(0), 7);
}

TEST_F(BytescopeTest, BinaryModeTakesEightDigits) {
  Load(std::vector<uint8_t>{0, 0});
  scope.SetHexMode(THexMode::Binary);
  Type("1010010");
  EXPECT_EQ(scope.GetCaretPos(), 0);
  scope.EnterValue('1');
  EXPECT_EQ(scope.GetByte(0), 0xA5);
  EXPECT_EQ(scope.GetCaretPos(), 1);
  scope.EnterValue('2');  // not a binary digit
  EXPECT_EQ(dialogs.beeps, 1);
  EXPECT_EQ(scope.GetByte(1), 0);
}

TEST_F(BytescopeTest, OnlyDigitsOfTheBaseAreTaken) {
  Load(std::vector<uint8_t>{0x33});
  scope.EnterValue('g');
  scope.EnterValue(' ');
  EXPECT_EQ(dialogs.beeps, 2);
  EXPECT_EQ(scope.GetByte(0), 0x33);
  scope.EnterValue('a');
  scope.EnterValue('F');
  EXPECT_EQ(scope.GetByte(0), 0xAF);
  scope.SetHexMode(THexMode::Decimal);
  scope.GoTo(0);
  scope.EnterValue('a');
  EXPECT_EQ(dialogs.beeps, 3);
}

TEST_F(BytescopeTest, InsertModeInsertsTheFirstDigitAndOverwritesTheSecond) {
  Load(std::vector<uint8_t>{0xAA, 0xBB});
  scope.GoTo(1);
  EXPECT_TRUE(scope.ToggleInsertMode());
  Type("3C");
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{0xAA, 0x3C, 0xBB}));
  EXPECT_EQ(scope.GetCaretPos(), 2);
  scope.Undo();
  scope.Undo();
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{0xAA, 0xBB}));
}

TEST_F(BytescopeTest, TypingAtTheEndAppendsInOverwriteModeToo) {
  Load(std::vector<uint8_t>{0x01});
  scope.GoToEnd();
  Type("7f");
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{0x01, 0x7F}));
  EXPECT_EQ(scope.GetCaretPos(), 2);
}

TEST_F(BytescopeTest, TextColumnTakesCharactersAndMovesOn) {
  Load(std::vector<uint8_t>{0, 0, 0});
  scope.KeyDown(TKey::Tab);
  ASSERT_EQ(scope.Pane(), TPane::Text);
  scope.EnterValue('\t');  // control characters are ignored
  Type("Hi");
  EXPECT_EQ(Text(), std::string("Hi\0", 3));
  EXPECT_EQ(scope.GetCaretPos(), 2);
  EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(BytescopeTest, TypingOverASelectionReplacesItWithOneByte) {
  Load("abcdef");
  Select(1, 4);
  scope.EnterValue('4');
  EXPECT_EQ(Text(),
            "a\x04"
            "f");
  EXPECT_EQ(scope.GetCaretPos(), 1);
  EXPECT_FALSE(scope.HasSelection());
  scope.EnterValue('1');
  EXPECT_EQ(Text(), "aAf");
  scope.Undo();
  scope.Undo();
  EXPECT_EQ(Text(), "abcdef");
}

// ---- History --------------------------------------------------------------------------------

TEST_F(BytescopeTest, OnlyTheLastMaxUndoEditsCanBeUndone) {
  ASSERT_EQ(scope.MaxUndo(), 25);
  Load(std::vector<uint8_t>(30, 0));
  for (int i = 0; i < 30; ++i) {
    scope.GoTo(i);
    scope.EnterValue('1');
  }
  int undone = 0;
  while (scope.CanUndo()) {
    scope.Undo();
    ++undone;
  }
  EXPECT_EQ(undone, 25);
  std::vector<uint8_t> want(30, 0);
  for (int i = 0; i < 5; ++i) want[static_cast<size_t>(i)] = 1;  // the first five stay
  EXPECT_EQ(Bytes(), want);
  int redone = 0;
  while (scope.CanRedo()) {
    scope.Redo();
    ++redone;
  }
  EXPECT_EQ(redone, 25);
  EXPECT_EQ(Bytes(), std::vector<uint8_t>(30, 1));
}

TEST_F(BytescopeTest, RedoIsGoneAfterANewEdit) {
  Load("abc");
  scope.GoTo(0);
  scope.Delete();
  EXPECT_EQ(Text(), "bc");
  scope.Undo();
  EXPECT_EQ(Text(), "abc");
  EXPECT_TRUE(scope.CanRedo());
  scope.Redo();
  EXPECT_EQ(Text(), "bc");
  scope.Undo();
  scope.GoTo(2);
  scope.Delete();
  EXPECT_EQ(Text(), "ab");
  EXPECT_FALSE(scope.CanRedo());
}

TEST_F(BytescopeTest, MaxUndoTakesOnly1To4999AndEmptiesTheHistory) {
  Load("abc");
  scope.Delete();
  ASSERT_TRUE(scope.CanUndo());
  scope.SetMaxUndo(0);
  scope.SetMaxUndo(5000);
  EXPECT_EQ(scope.MaxUndo(), 25);
  EXPECT_TRUE(scope.CanUndo());
  scope.SetMaxUndo(4999);
  EXPECT_EQ(scope.MaxUndo(), 4999);
  EXPECT_FALSE(scope.CanUndo());
  scope.SetMaxUndo(1);
  scope.Delete();
  scope.Delete();
  scope.Undo();
  EXPECT_FALSE(scope.CanUndo());
  EXPECT_EQ(Text(), "c");
}

TEST_F(BytescopeTest, UndoRedoEventReportsBothFlags) {
  std::vector<std::pair<bool, bool>> events;
  scope.OnUndoRedo = [&](bool u, bool r) { events.emplace_back(u, r); };
  Load("ab");
  events.clear();
  scope.Delete();
  scope.Undo();
  scope.Redo();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0], std::make_pair(true, false));
  EXPECT_EQ(events[1], std::make_pair(false, true));
  EXPECT_EQ(events.back(), std::make_pair(true, false));
}

TEST_F(BytescopeTest, StepsThatNoLongerFitAreDroppedNotReplayed) {
  Load("abcdef");
  scope.GoTo(5);
  scope.Delete();                     // step at 5
  ASSERT_TRUE(scope.SetDataSize(1));  // a device frame shrinks the buffer
  scope.Undo();                       // cannot replay: position 5 is gone
  EXPECT_EQ(scope.DataSize(), 2);
  EXPECT_FALSE(scope.CanUndo());
  EXPECT_FALSE(scope.CanRedo());
}

// ---- Clipboard ------------------------------------------------------------------------------

TEST_F(BytescopeTest, CopyInTheValueColumnGivesHexTextAndThePayload) {
  Load(std::vector<uint8_t>{0x0A, 0xFF, 0x30});
  int pasteEnables = 0;
  scope.OnPasteEnable = [&] { ++pasteEnables; };
  Select(0, 1);
  scope.Copy();
  EXPECT_EQ(ClipboardText(), "0A FF ");
  const auto payload = clipboard.Item(hexedit::kHexTextFormat);
  ASSERT_TRUE(payload);
  EXPECT_EQ(*payload, (std::vector<unsigned char>{2, 0, 0, 0, 0x0A, 0xFF}));
  EXPECT_EQ(pasteEnables, 1);
  EXPECT_FALSE(scope.Modified());
  EXPECT_FALSE(scope.CanUndo());
}

TEST_F(BytescopeTest, CopyInTheTextColumnMasksControlBytes) {
  Load(std::vector<uint8_t>{'A', 0x0A, 0x00, 'z'});
  scope.SetPane(TPane::Text);
  scope.SelectAll();
  scope.Copy();
  EXPECT_EQ(ClipboardText(), "A..z");
}

TEST_F(BytescopeTest, CopyAsTextDumpsTheSelectedLines) {
  Load(std::vector<uint8_t>{0x41, 0x42, 0x00, 0x7E, 0xFF});
  scope.SetBytesPerLine(4);
  Select(1, 4);
  scope.CopyAsText();
  EXPECT_EQ(ClipboardText(),
            "000000: 41 42 00 7E  AB.~\n"
            "000004: FF           \xFF   ");
  scope.SetOffsetBaseAddress(0x100);
  scope.SetOffsetMode(hexedit::TOffsetMode::Decimal);
  scope.SetHexMode(THexMode::Decimal);
  scope.SetOffsetSeparator("|");
  Select(4, 4);
  scope.CopyAsText();
  EXPECT_EQ(ClipboardText(), "00000260| 255              \xFF   ");
  scope.SetHexMode(THexMode::Binary);
  scope.SetOffsetDigits(4);
  scope.SetOffsetMode(hexedit::TOffsetMode::Hexadecimal);
  scope.SetBytesPerLine(2);
  Select(0, 0);
  scope.CopyAsText();
  EXPECT_EQ(ClipboardText(), "0100| 01000001 01000010  AB");
}

TEST_F(BytescopeTest, OffsetDigitsAndDecimalOffsets) {
  Load(std::vector<uint8_t>(40, 0));
  EXPECT_EQ(scope.OffsetText(2), "000020");
  scope.SetOffsetDigits(0);
  scope.SetOffsetDigits(9);
  EXPECT_EQ(scope.OffsetDigits(), 6);
  scope.ToggleOffsetMode();
  EXPECT_EQ(scope.OffsetText(2), "00000032");  // 6 -> 8 decimal digits
  scope.SetOffsetDigits(4);
  EXPECT_EQ(scope.OffsetText(2), "00032");  // 4 -> 5
  scope.SetOffsetDigits(5);
  EXPECT_EQ(scope.OffsetText(2), "0000032");  // 5 -> 7
}

TEST_F(BytescopeTest, PasteInsertsEvenInOverwriteModeAndSelectsThePastedBytes) {
  Load("abcd");
  Select(1, 2);
  scope.Copy();
  scope.GoTo(4);
  scope.ClearSelection();
  scope.Paste();
  EXPECT_EQ(Text(), "abcdbc");
  EXPECT_EQ(scope.GetCaretPos(), 6);
  int32_t f = 0, l = 0;
  ASSERT_TRUE(scope.GetSelection(f, l));
  EXPECT_EQ(f, 4);
  EXPECT_EQ(l, 5);
  // Over a selection: one step that replaces it.
  Select(0, 0);
  scope.Paste();
  EXPECT_EQ(Text(), "bcbcdbc");
  scope.Undo();
  EXPECT_EQ(Text(), "abcdbc");
}

TEST_F(BytescopeTest, PasteTakesTextUpToItsZeroWhenThereIsNoPayload) {
  Load("xy");
  clipboard.SetItems({{platform::kClipboardText, {'h', 'i', 0, 'z'}}});
  ASSERT_TRUE(scope.CanPaste());
  scope.GoTo(1);
  scope.Paste();
  EXPECT_EQ(Text(), "xhiy");
  clipboard.SetItems({});
  EXPECT_FALSE(scope.CanPaste());
  scope.Paste();
  EXPECT_EQ(Text(), "xhiy");
}

TEST_F(BytescopeTest, CutCopiesAndDeletes) {
  Load("hello");
  Select(1, 3);
  scope.Cut();
  EXPECT_EQ(Text(), "ho");
  EXPECT_EQ(scope.GetCaretPos(), 1);
  EXPECT_FALSE(scope.HasSelection());
  scope.Paste();
  EXPECT_EQ(Text(), "hello");
}

TEST_F(BytescopeTest, HexTextPayloadIsBoundedByItsBytes) {
  EXPECT_FALSE(hexedit::ParseHexTextPayload(std::vector<unsigned char>{1, 0}));
  const auto cut = hexedit::ParseHexTextPayload(std::vector<unsigned char>{9, 0, 0, 0, 7});
  ASSERT_TRUE(cut);
  EXPECT_EQ(*cut, std::vector<uint8_t>{7});
}

// ---- Delete, fill, swap -------------------------------------------------------------------

TEST_F(BytescopeTest, DeleteTakesTheSelectionOrTheByteAtTheCaret) {
  Load("abcdef");
  scope.GoTo(2);
  scope.Delete();
  EXPECT_EQ(Text(), "abdef");
  Select(3, 4);
  scope.Delete();
  EXPECT_EQ(Text(), "abd");
  EXPECT_EQ(scope.GetCaretPos(), 3);
  scope.Delete();  // at the end: nothing
  EXPECT_EQ(Text(), "abd");
}

TEST_F(BytescopeTest, FillSetsEverySelectedByteInOneStep) {
  Load("abcdef");
  Select(4, 1);  // normalised
  scope.Fill('x');
  EXPECT_EQ(Text(), "axxxxf");
  scope.Undo();
  EXPECT_EQ(Text(), "abcdef");
}

TEST_F(BytescopeTest, SwapBytesOverFiveBytesSwapsTwoPairs) {
  Load(std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
  Select(0, 4);
  scope.SwapBytes();
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{2, 1, 4, 3, 5, 6}));
  scope.Undo();
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  Select(4, 20);  // clipped to the data: pair (4, 5)
  scope.SwapBytes();
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{1, 2, 3, 4, 6, 5}));
}

TEST_F(BytescopeTest, ReadOnlyRefusesEveryEdit) {
  Load("abc");
  scope.SetReadOnly(true);
  Select(0, 1);
  scope.EnterValue('1');
  scope.Delete();
  scope.Fill(0);
  scope.SwapBytes();
  scope.Cut();
  scope.Paste();
  scope.KeyDown(TKey::Backspace);
  EXPECT_FALSE(scope.Replace("a", true, "z", true));
  EXPECT_EQ(Text(), "abc");
  EXPECT_FALSE(scope.Modified());
  Select(0, 1);
  scope.Copy();  // reading is allowed
  EXPECT_EQ(ClipboardText(), "61 62 ");
}

// ---- Find and replace -----------------------------------------------------------------------

TEST_F(BytescopeTest, ForwardSearchFromAMatchFindsTheNextOne) {
  Load("xxabcxxabcxx");
  scope.GoTo(1);
  ASSERT_TRUE(scope.Find("abc", true, true));
  EXPECT_EQ(scope.GetCaretPos(), 2);
  int32_t f = 0, l = 0;
  ASSERT_TRUE(scope.GetSelection(f, l));
  EXPECT_EQ(f, 2);
  EXPECT_EQ(l, 4);
  ASSERT_TRUE(scope.Find("abc", true, true));
  EXPECT_EQ(scope.GetCaretPos(), 7);
  EXPECT_FALSE(scope.Find("abc", true, true));
  EXPECT_EQ(scope.GetCaretPos(), 12);  // a miss goes to the end
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "String or Hex Data not Found");
  EXPECT_EQ(dialogs.messages[0].buttons, unsigned{platform::mbOK});
}

TEST_F(BytescopeTest, ForwardSearchStartsOneByteAfterTheCaret) {
  Load("abcabc");
  scope.GoTo(0);
  ASSERT_TRUE(scope.Find("abc", true, true));
  EXPECT_EQ(scope.GetCaretPos(), 3);
}

TEST_F(BytescopeTest, BackwardSearchFromTheEndFindsTheLastMatch) {
  Load("abcxxabcab");
  scope.GoToEnd();
  ASSERT_TRUE(scope.Find("abc", true, false));
  EXPECT_EQ(scope.GetCaretPos(), 5);
  ASSERT_TRUE(scope.Find("abc", true, false));
  EXPECT_EQ(scope.GetCaretPos(), 0);
  // From the start the first window is the one at 0 itself.
  EXPECT_TRUE(scope.Find("abc", true, false));
  EXPECT_EQ(scope.GetCaretPos(), 0);
  scope.GoTo(4);
  EXPECT_FALSE(scope.Find("xab", true, false));
  EXPECT_EQ(scope.GetCaretPos(), 0);  // a backward miss goes to the start
  Load("xxxab");
  scope.GoToEnd();
  ASSERT_TRUE(scope.Find("ab", true, false));  // the last window of the data
  EXPECT_EQ(scope.GetCaretPos(), 3);
}

TEST_F(BytescopeTest, WithoutMatchCaseAbcFindsABC) {
  Load("xxABCxx");
  ASSERT_TRUE(scope.Find("abc", false, true));
  EXPECT_EQ(scope.GetCaretPos(), 2);
  scope.GoTo(0);
  EXPECT_FALSE(scope.Find("abc", true, true));
  Load("xxxaBc");
  scope.GoToEnd();
  EXPECT_TRUE(scope.Find("AbC", false, false));
  EXPECT_EQ(scope.GetCaretPos(), 3);
  Load("zzzzA");
  EXPECT_TRUE(scope.Find("a", false, true));
  EXPECT_EQ(scope.GetCaretPos(), 4);
}

TEST_F(BytescopeTest, EmptyPatternFindsNothing) {
  Load("abc");
  EXPECT_FALSE(scope.Find("", true, true));
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

// The search against a plain scan, over random data with a small alphabet so that
// matches and near-matches are frequent.
TEST_F(BytescopeTest, FindAgreesWithAPlainScan) {
  std::mt19937 rng(7);
  const std::string alphabet = "aAbB\x01";
  for (int round = 0; round < 400; ++round) {
    std::string data(rng() % 60 + 1, ' ');
    for (char& c : data) c = alphabet[rng() % alphabet.size()];
    std::string pattern(rng() % 4 + 1, ' ');
    for (char& c : pattern) c = alphabet[rng() % alphabet.size()];
    const bool matchCase = rng() % 2;
    const bool forward = rng() % 2;
    const int caret = static_cast<int>(rng() % (data.size() + 1));
    auto fold = [&](char c) {
      return !matchCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    };
    auto matchesAt = [&](int p) {
      if (p < 0 || p + pattern.size() > data.size()) return false;
      for (size_t i = 0; i < pattern.size(); ++i)
        if (fold(data[static_cast<size_t>(p) + i]) != fold(pattern[i])) return false;
      return true;
    };
    int want = -1;
    if (forward) {
      for (int p = caret + 1; p + static_cast<int>(pattern.size()) <= static_cast<int>(data.size());
           ++p)
        if (matchesAt(p)) {
          want = p;
          break;
        }
    } else {
      for (int p = std::max(caret - 1, 0); p >= 0; --p)
        if (matchesAt(p)) {
          want = p;
          break;
        }
    }
    Load(data);
    scope.GoTo(caret);
    const bool found = scope.Find(pattern, matchCase, forward);
    ASSERT_EQ(found, want >= 0) << data << " / " << pattern << " caret " << caret;
    if (found) {
      ASSERT_EQ(scope.GetCaretPos(), want) << data << " / " << pattern << " caret " << caret;
    }
  }
}

TEST_F(BytescopeTest, ReplaceChangesTheMatchAndSelectsTheReplacement) {
  Load("one two one");
  EXPECT_TRUE(scope.Replace("ONE", false, "three", true));  // from caret 0: the match at 8
  EXPECT_EQ(Text(), "one two three");
  int32_t f = 0, l = 0;
  ASSERT_TRUE(scope.GetSelection(f, l));
  EXPECT_EQ(f, 8);
  EXPECT_EQ(l, 12);
  EXPECT_TRUE(scope.Modified());
  scope.Undo();
  EXPECT_EQ(Text(), "one two one");
  const int beeps = dialogs.beeps;
  scope.GoTo(0);
  EXPECT_FALSE(scope.Replace("one", true, "", true));  // empty replacement
  EXPECT_EQ(dialogs.beeps, beeps + 1);
  EXPECT_FALSE(scope.Replace("zzz", true, "a", true));
  EXPECT_EQ(dialogs.beeps, beeps + 2);
  EXPECT_EQ(Text(), "one two one");
}

// ---- Modes ----------------------------------------------------------------------------------

TEST_F(BytescopeTest, StepBytesPerLineCycles) {
  EXPECT_EQ(scope.BytesPerLine(), 16);
  scope.StepBytesPerLine();
  EXPECT_EQ(scope.BytesPerLine(), 2);
  scope.StepBytesPerLine();
  EXPECT_EQ(scope.BytesPerLine(), 4);
  scope.StepBytesPerLine();
  EXPECT_EQ(scope.BytesPerLine(), 8);
  scope.StepBytesPerLine();
  EXPECT_EQ(scope.BytesPerLine(), 16);
  scope.SetBytesPerLine(5);
  scope.StepBytesPerLine();
  EXPECT_EQ(scope.BytesPerLine(), 2);
  scope.SetBytesPerLine(0);
  scope.SetBytesPerLine(255);
  EXPECT_EQ(scope.BytesPerLine(), 2);
  scope.SetBytesPerLine(254);
  EXPECT_EQ(scope.BytesPerLine(), 254);
}

TEST_F(BytescopeTest, HexModeAndOffsetModeCycle) {
  EXPECT_EQ(scope.ValueText(0x0A), "0A");
  scope.StepHexMode();
  EXPECT_EQ(scope.ValueText(0x0A), "010");
  scope.StepHexMode();
  EXPECT_EQ(scope.ValueText(0x0A), "00001010");
  scope.StepHexMode();
  EXPECT_EQ(scope.HexMode(), THexMode::Hexadecimal);
  scope.ToggleOffsetMode();
  EXPECT_EQ(scope.OffsetMode(), hexedit::TOffsetMode::Decimal);
  scope.ToggleOffsetMode();
  EXPECT_EQ(scope.OffsetMode(), hexedit::TOffsetMode::Hexadecimal);
  EXPECT_EQ(scope.TextChar(0x05), '.');
  scope.SetTextMaskChar('*');
  EXPECT_EQ(scope.TextChar(0x05), '*');
  scope.SetTextAllChars(true);
  EXPECT_EQ(scope.TextChar(0x05), '\x05');
}

TEST_F(BytescopeTest, InsertModeIsSharedByEveryControl) {
  TBytescope other;
  std::vector<bool> seen;
  other.OnChangeInputMode = [&](bool insert) { seen.push_back(insert); };
  EXPECT_TRUE(other.ToggleInsertMode());
  EXPECT_TRUE(TBytescope::InsertMode());
  Load("ab");
  Type("9");
  EXPECT_EQ(scope.DataSize(), 3);  // this control inserts too
  EXPECT_TRUE(scope.KeyDown(TKey::Insert));
  EXPECT_FALSE(TBytescope::InsertMode());
  EXPECT_EQ(seen, std::vector<bool>{true});
}

// ---- Keys -----------------------------------------------------------------------------------

TEST_F(BytescopeTest, NavigationKeysMoveTheCaretWithinTheData) {
  Load(std::vector<uint8_t>(40, 0));
  scope.KeyDown(TKey::Right);
  scope.KeyDown(TKey::Enter);
  EXPECT_EQ(scope.GetCaretPos(), 2);
  scope.KeyDown(TKey::Down);
  EXPECT_EQ(scope.GetCaretPos(), 18);
  scope.KeyDown(TKey::End);
  EXPECT_EQ(scope.GetCaretPos(), 31);
  scope.KeyDown(TKey::Home);
  EXPECT_EQ(scope.GetCaretPos(), 16);
  scope.KeyDown(TKey::Up);
  scope.KeyDown(TKey::Up);
  EXPECT_EQ(scope.GetCaretPos(), 0);
  scope.KeyDown(TKey::Left);
  EXPECT_EQ(scope.GetCaretPos(), 0);
  scope.KeyDown(TKey::End, hexedit::ssCtrl);
  EXPECT_EQ(scope.GetCaretPos(), 40);
  scope.KeyDown(TKey::Down);
  EXPECT_EQ(scope.GetCaretPos(), 40);
  scope.KeyDown(TKey::Home, hexedit::ssCtrl);
  EXPECT_EQ(scope.GetCaretPos(), 0);
}

TEST_F(BytescopeTest, ShiftedMovesSelectFromTheAnchor) {
  Load(std::vector<uint8_t>(40, 0));
  scope.GoTo(10);
  int32_t f = 0, l = 0;
  scope.KeyDown(TKey::Right, hexedit::ssShift);
  scope.KeyDown(TKey::Right, hexedit::ssShift);
  ASSERT_TRUE(scope.GetSelection(f, l));
  EXPECT_EQ(f, 10);
  EXPECT_EQ(l, 11);
  scope.KeyDown(TKey::Up, hexedit::ssShift);  // caret 12 - 16 = 0 ... clamps at 0
  ASSERT_TRUE(scope.GetSelection(f, l));
  EXPECT_EQ(f, 0);
  EXPECT_EQ(l, 9);
  scope.KeyDown(TKey::Down, hexedit::ssShift);  // 16
  scope.KeyDown(TKey::Left, hexedit::ssShift);
  scope.KeyDown(TKey::Left, hexedit::ssShift);
  scope.KeyDown(TKey::Left, hexedit::ssShift);
  scope.KeyDown(TKey::Left, hexedit::ssShift);
  scope.KeyDown(TKey::Left, hexedit::ssShift);
  scope.KeyDown(TKey::Left, hexedit::ssShift);  // back at the anchor
  EXPECT_FALSE(scope.HasSelection());
  scope.KeyDown(TKey::Right, hexedit::ssShift);
  scope.KeyDown(TKey::Right);  // an unshifted move clears the selection
  EXPECT_FALSE(scope.HasSelection());
  EXPECT_EQ(scope.GetCaretPos(), 12);
}

TEST_F(BytescopeTest, MouseDragSelectsLikeShiftedMoves) {
  Load(std::vector<uint8_t>(40, 0));
  scope.MouseDown(20, TPane::Text);
  EXPECT_EQ(scope.Pane(), TPane::Text);
  scope.MouseDrag(25);
  int32_t f = 0, l = 0;
  ASSERT_TRUE(scope.GetSelection(f, l));
  EXPECT_EQ(f, 20);
  EXPECT_EQ(l, 24);
  scope.MouseDrag(18);
  ASSERT_TRUE(scope.GetSelection(f, l));
  EXPECT_EQ(f, 18);
  EXPECT_EQ(l, 19);
}

TEST_F(BytescopeTest, BackspaceDeletesBeforeTheCaret) {
  Load("abc");
  scope.GoTo(2);
  scope.KeyDown(TKey::Backspace);
  EXPECT_EQ(Text(), "ac");
  EXPECT_EQ(scope.GetCaretPos(), 1);
  scope.GoTo(0);
  scope.KeyDown(TKey::Backspace);
  EXPECT_EQ(Text(), "ac");
  scope.SelectAll();
  scope.KeyDown(TKey::Backspace);
  EXPECT_EQ(scope.DataSize(), 0);
}

TEST_F(BytescopeTest, ControlKeysRunTheClipboardAndHistoryCommands) {
  Load("abcd");
  Select(0, 1);
  EXPECT_TRUE(scope.KeyDown(TKey::C, hexedit::ssCtrl));
  EXPECT_EQ(ClipboardText(), "61 62 ");
  EXPECT_TRUE(scope.KeyDown(TKey::X, hexedit::ssCtrl));
  EXPECT_EQ(Text(), "cd");
  EXPECT_TRUE(scope.KeyDown(TKey::Z, hexedit::ssCtrl));
  EXPECT_EQ(Text(), "abcd");
  EXPECT_TRUE(scope.KeyDown(TKey::Y, hexedit::ssCtrl));
  EXPECT_EQ(Text(), "cd");
  scope.GoToEnd();
  EXPECT_TRUE(scope.KeyDown(TKey::Insert, hexedit::ssShift));
  EXPECT_EQ(Text(), "cdab");
  EXPECT_TRUE(scope.KeyDown(TKey::V, hexedit::ssCtrl));
  EXPECT_EQ(Text(), "cdab");  // replaced the pasted selection by itself
  EXPECT_FALSE(scope.KeyDown(TKey::V));
}

TEST_F(BytescopeTest, PageKeysScrollByAPageOrGoToTheEnds) {
  Load(std::vector<uint8_t>(16 * 100, 0));
  scope.SetPageLines(10);
  scope.GoTo(5);
  scope.KeyDown(TKey::PageDown);
  EXPECT_EQ(scope.TopLine(), 10);
  EXPECT_EQ(scope.GetCaretPos(), 5 + 160);
  scope.KeyDown(TKey::PageUp);
  EXPECT_EQ(scope.TopLine(), 0);
  EXPECT_EQ(scope.GetCaretPos(), 5);
  scope.KeyDown(TKey::PageUp);  // on the first page: to the start
  EXPECT_EQ(scope.GetCaretPos(), 0);
  scope.GoTo(16 * 95);
  EXPECT_EQ(scope.TopLine(), 86);
  scope.KeyDown(TKey::PageDown);
  scope.KeyDown(TKey::PageDown);  // on the last page: to the end
  EXPECT_EQ(scope.GetCaretPos(), 1600);
}

TEST_F(BytescopeTest, GoToScrollsTheCaretIntoView) {
  Load(std::vector<uint8_t>(16 * 100, 0));
  scope.SetPageLines(10);
  int repaints = 0;
  scope.OnRepaint = [&] { ++repaints; };
  scope.GoTo(16 * 50);
  EXPECT_EQ(scope.TopLine(), 41);
  EXPECT_EQ(repaints, 1);
  scope.GoTo(16 * 45);
  EXPECT_EQ(scope.TopLine(), 41);
  EXPECT_EQ(repaints, 1);
  scope.GoTo(-5);
  EXPECT_EQ(scope.GetCaretPos(), 0);
  EXPECT_EQ(scope.TopLine(), 0);
}

TEST_F(BytescopeTest, DataChangesSayWhichRangeChanged) {
  std::vector<TDataChange> changes;
  scope.OnDataChange = [&](const TDataChange& c) { changes.push_back(c); };
  Load("abcdef");
  scope.GoTo(2);
  scope.EnterValue('4');
  Select(1, 3);
  scope.Delete();
  scope.Undo();
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].Position, 2);
  EXPECT_EQ(changes[0].OldLength, 1);
  EXPECT_EQ(changes[0].NewLength, 1);
  EXPECT_EQ(changes[1].Position, 1);
  EXPECT_EQ(changes[1].OldLength, 3);
  EXPECT_EQ(changes[1].NewLength, 0);
  EXPECT_EQ(changes[2].OldLength, 0);
  EXPECT_EQ(changes[2].NewLength, 3);
}

TEST_F(BytescopeTest, EditsNeverGrowTheBufferBeyondItsLimit) {
  ASSERT_TRUE(scope.SetDataSize(hexedit::kMaxBufferSize - 1));
  scope.GoToEnd();
  scope.EnterValue('1');
  EXPECT_EQ(scope.DataSize(), hexedit::kMaxBufferSize);
  EXPECT_EQ(dialogs.beeps, 1);
  EXPECT_FALSE(scope.CanUndo());
}

// ---- Files and closing ----------------------------------------------------------------------

TEST_F(BytescopeTest, LoadAndSaveKeepTheBytesExactly) {
  hexedit_test::TTempDir dir;
  const auto bytes = hexedit_test::RandomBytes(1000, 3);
  hexedit_test::WriteBytes(dir / "in.bin", bytes);
  Load("old");
  scope.Delete();
  ASSERT_TRUE(scope.LoadFromFile(dir / "in.bin"));
  EXPECT_EQ(Bytes(), bytes);
  EXPECT_EQ(scope.FileName(), dir / "in.bin");
  EXPECT_FALSE(scope.Modified());
  EXPECT_FALSE(scope.CanUndo());
  scope.GoTo(0);
  scope.EnterValue('0');
  ASSERT_TRUE(scope.SaveToFile(dir / "out.bin"));
  EXPECT_TRUE(dialogs.messages.empty());
  auto want = bytes;
  want[0] = 0;
  EXPECT_EQ(hexedit_test::ReadBytes(dir / "out.bin"), want);
  EXPECT_EQ(scope.FileName(), dir / "out.bin");
  EXPECT_FALSE(scope.Modified());
  EXPECT_FALSE(scope.CanUndo());
}

TEST_F(BytescopeTest, AFailedLoadLeavesTheBufferAsItWas) {
  hexedit_test::TTempDir dir;
  Load("keep");
  scope.GoTo(1);
  scope.Delete();
  hexedit::TFileError error;
  EXPECT_FALSE(scope.LoadFromFile(dir / "missing.bin", &error));
  EXPECT_NE(error.Message().find("missing.bin: cannot open"), std::string::npos);
  EXPECT_EQ(Text(), "kep");
  EXPECT_TRUE(scope.Modified());
  EXPECT_TRUE(scope.CanUndo());
  EXPECT_FALSE(scope.LoadFromFile(dir.path().string()));  // a directory
  EXPECT_EQ(Text(), "kep");
}

TEST_F(BytescopeTest, SaveAsksBeforeReplacingAFile) {
  hexedit_test::TTempDir dir;
  hexedit_test::WriteText(dir / "x.bin", "previous");
  Load("new");
  scope.Delete();
  dialogs.answers = {TModalResult::No};
  EXPECT_FALSE(scope.SaveToFile(dir / "x.bin"));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "File Exists. Overwrite?");
  EXPECT_EQ(dialogs.messages[0].buttons, unsigned{platform::mbYes | platform::mbNo});
  EXPECT_EQ(hexedit_test::ReadText(dir / "x.bin"), "previous");
  EXPECT_TRUE(scope.Modified());
  EXPECT_EQ(scope.FileName(), "Untitled7");
  dialogs.answers = {TModalResult::Yes};
  EXPECT_TRUE(scope.SaveToFile(dir / "x.bin"));
  EXPECT_EQ(hexedit_test::ReadText(dir / "x.bin"), "ew");
  // An empty name writes back to the buffer's own file without asking.
  scope.Delete();
  EXPECT_TRUE(scope.SaveToFile(""));
  EXPECT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(hexedit_test::ReadText(dir / "x.bin"), "w");
}

TEST_F(BytescopeTest, CloseQueryAsksOnlyWhenModified) {
  hexedit_test::TTempDir dir;
  hexedit_test::WriteText(dir / "c.bin", "abc");
  ASSERT_TRUE(scope.LoadFromFile(dir / "c.bin"));
  EXPECT_TRUE(scope.CloseQuery());
  EXPECT_TRUE(dialogs.messages.empty());
  scope.Delete();
  dialogs.answers = {TModalResult::Cancel, TModalResult::No, TModalResult::Yes};
  EXPECT_FALSE(scope.CloseQuery());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Save changes to " + (dir / "c.bin") + "?");
  EXPECT_EQ(dialogs.messages[0].buttons,
            unsigned{platform::mbYes | platform::mbNo | platform::mbCancel});
  EXPECT_TRUE(scope.CloseQuery());  // No: close without saving
  EXPECT_EQ(hexedit_test::ReadText(dir / "c.bin"), "abc");
  EXPECT_TRUE(scope.CloseQuery());  // Yes: saved
  EXPECT_EQ(hexedit_test::ReadText(dir / "c.bin"), "bc");
  EXPECT_FALSE(scope.Modified());
}

TEST_F(BytescopeTest, CloseQueryOnAnUntitledBufferRunsTheSaveDialog) {
  hexedit_test::TTempDir dir;
  Load("data");
  scope.Delete();
  dialogs.answers = {TModalResult::Yes, TModalResult::Yes};
  dialogs.fileNames = {""};  // the user cancels the save dialog: no closing
  EXPECT_FALSE(scope.CloseQuery());
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(dialogs.fileRequests[0].fileName, "");
  dialogs.fileNames = {dir / "saved.hex"};
  EXPECT_TRUE(scope.CloseQuery());
  EXPECT_EQ(hexedit_test::ReadText(dir / "saved.hex"), ":03000000617461C7\n:00000001FF\n");
  EXPECT_EQ(scope.FileName(), dir / "saved.hex");
}

TEST_F(BytescopeTest, AssigningAFileNameLoadsItOrMakesANewBuffer) {
  hexedit_test::TTempDir dir;
  hexedit_test::WriteText(dir / "f.bin", "xyz");
  EXPECT_TRUE(scope.AssignFileName(dir / "f.bin"));
  EXPECT_EQ(Text(), "xyz");
  EXPECT_TRUE(scope.AssignFileName("Untitled12"));
  EXPECT_EQ(scope.DataSize(), 1);
  EXPECT_EQ(scope.FileName(), "Untitled12");
}

TEST_F(BytescopeTest, MenuCommands) {
  hexedit_test::TTempDir dir;
  hexedit_test::WriteText(dir / "m.s19", "S106000041424333\n");
  int closes = 0;
  scope.OnClose = [&] { ++closes; };
  dialogs.fileNames = {dir / "m.s19"};
  ASSERT_TRUE(scope.MenuOpen());
  EXPECT_EQ(Text(), "ABC");
  scope.Delete();
  ASSERT_TRUE(scope.MenuSave());  // by the extension of its name, no dialog
  EXPECT_EQ(hexedit_test::ReadText(dir / "m.s19"),
            "S00800006D2E7331397F\nS1050000424375\nS5030001FB\nS9030000FC\n");
  dialogs.fileNames = {dir / "copy.bin"};
  ASSERT_TRUE(scope.MenuSaveAs());
  EXPECT_EQ(dialogs.fileRequests.back().fileName, dir / "m.s19");
  EXPECT_EQ(dialogs.fileRequests.back().filter, hexedit::kSaveDialogFilter);
  EXPECT_EQ(hexedit_test::ReadText(dir / "copy.bin"), "BC");
  scope.MenuNew();
  EXPECT_TRUE(scope.FileName().starts_with("Untitled"));
  EXPECT_EQ(scope.DataSize(), 1);
  dialogs.fileNames = {dir / "nothing-here.bin"};
  EXPECT_FALSE(scope.MenuOpen());
  EXPECT_EQ(dialogs.messages.back().text, "I/O Error ");
  scope.MenuClose();
  EXPECT_EQ(closes, 1);
}

}  // namespace
