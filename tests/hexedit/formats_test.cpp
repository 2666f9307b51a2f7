#include "hexedit/formats.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hexedit/bytescope.h"
#include "hexedit/test_files.h"
#include "support/fake_dialogs.h"

namespace {

using hexedit::TBufferFormat;
using hexedit::TBytescope;
using hexedit::TFileError;
using hexedit_test::RandomBytes;
using hexedit_test::ReadBytes;
using hexedit_test::ReadText;
using hexedit_test::TTempDir;
using hexedit_test::WriteBytes;
using hexedit_test::WriteText;
using platform::TModalResult;

std::string IntelOf(const std::vector<uint8_t>& image) {
  hexedit::TStringSink sink;
  EXPECT_TRUE(hexedit::EncodeIntelHex(image, sink));
  return sink.text;
}

std::string SRecordsOf(const std::vector<uint8_t>& image, std::string_view header = "t") {
  hexedit::TStringSink sink;
  EXPECT_TRUE(hexedit::EncodeSRecords(image, header, sink));
  return sink.text;
}

struct TDecoded {
  bool ok = false;
  std::vector<uint8_t> image;
  TFileError error;
};

TDecoded Decode(TBufferFormat format, const std::string& text,
                size_t maxSize = hexedit::kMaxBufferSize) {
  TDecoded d;
  hexedit::TMemorySource source(text);
  d.ok = hexedit::Decode(format, source, d.image, d.error, maxSize);
  return d;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

// ---- Choice by extension ----------------------------------------------------------------------

TEST(BufferFormats, TheExtensionAloneChoosesTheFormat) {
  EXPECT_EQ(hexedit::ExtensionOf("C:/dump/eeprom.old.BIN"), ".bin");
  EXPECT_EQ(hexedit::ExtensionOf("dump"), "");
  EXPECT_EQ(hexedit::FormatOfName("DUMP.S28"), TBufferFormat::MotorolaS);
  EXPECT_EQ(hexedit::FormatOfName("a.s19"), TBufferFormat::MotorolaS);
  EXPECT_EQ(hexedit::FormatOfName("a.S37"), TBufferFormat::MotorolaS);
  EXPECT_EQ(hexedit::FormatOfName("a.mot"), TBufferFormat::MotorolaS);
  EXPECT_EQ(hexedit::FormatOfName("x/IMAGE.HEX"), TBufferFormat::IntelHex);
  EXPECT_EQ(hexedit::FormatOfName("dump.s28x"), TBufferFormat::Binary);
  EXPECT_EQ(hexedit::FormatOfName("dump"), TBufferFormat::Binary);
  EXPECT_EQ(hexedit::FormatOfName("dump.bin"), TBufferFormat::Binary);
  EXPECT_EQ(hexedit::DefaultExtOfFilterIndex(1), "");
  EXPECT_EQ(hexedit::DefaultExtOfFilterIndex(2), "bin");
  EXPECT_EQ(hexedit::DefaultExtOfFilterIndex(3), "hex");
  EXPECT_EQ(hexedit::DefaultExtOfFilterIndex(4), "s19");
  EXPECT_EQ(hexedit::DefaultExtOfFilterIndex(7), "");
}

// ---- Writers ----------------------------------------------------------------------------------

TEST(IntelHexWriter, WritesSixteenByteRecordsAndAnEndRecord) {
  EXPECT_EQ(IntelOf({0xDF}), ":01000000DF20\n:00000001FF\n");
  std::vector<uint8_t> image(17);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(IntelOf(image),
            ":10000000000102030405060708090A0B0C0D0E0F78\n"
            ":0100100010DF\n"
            ":00000001FF\n");
}

TEST(IntelHexWriter, AddsAType04RecordForEverySegmentAbove64KiB) {
  const auto text = IntelOf(std::vector<uint8_t>(0x20001, 0xA5));
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 0x2000u + 1 + 2 + 1);
  EXPECT_EQ(lines[0].substr(0, 9), ":10000000");  // no 04 record for the first segment
  EXPECT_EQ(lines[0x1000], ":020000040001F9");
  EXPECT_EQ(lines[0x1001].substr(0, 9), ":10000000");
  EXPECT_EQ(lines[0x2001], ":020000040002F8");
  EXPECT_EQ(lines[0x2002], ":01000000A55A");
  EXPECT_EQ(lines.back(), ":00000001FF");
}

TEST(SRecordWriter, PicksS1S2OrS3ByTheHighestAddress) {
  EXPECT_EQ(SRecordsOf({0xDF}, "HDR"), "S00600004844521B\nS1040000DF1C\nS5030001FB\nS9030000FC\n");
  auto lines = Lines(SRecordsOf(std::vector<uint8_t>(0x10000, 1)));
  EXPECT_EQ(lines[1].substr(0, 8), "S1130000");
  EXPECT_EQ(lines[lines.size() - 2], "S5031000EC");
  EXPECT_EQ(lines.back(), "S9030000FC");
  lines = Lines(SRecordsOf(std::vector<uint8_t>(0x10001, 1)));
  EXPECT_EQ(lines[1].substr(0, 10), "S214000000");
  EXPECT_EQ(lines[lines.size() - 3].substr(0, 10), "S205010000");
  EXPECT_EQ(lines[lines.size() - 2], "S5031001EB");
  EXPECT_EQ(lines.back(), "S804000000FB");
  // Above 16 MiB: S3 records; more than 0xFFFF records: an S6 count.
  lines = Lines(SRecordsOf(std::vector<uint8_t>(0x1000001, 1)));
  EXPECT_EQ(lines[1].substr(0, 12), "S31500000000");
  EXPECT_EQ(lines[lines.size() - 2], "S604100001EA");
  EXPECT_EQ(lines.back(), "S70500000000FA");
}

// ---- Readers ----------------------------------------------------------------------------------

TEST(IntelHexReader, RoundTripsOurOwnFiles) {
  for (size_t n : {1u, 15u, 16u, 17u, 255u, 65536u, 65537u, 200000u}) {
    const auto image = RandomBytes(n, static_cast<uint32_t>(n));
    const auto d = Decode(TBufferFormat::IntelHex, IntelOf(image));
    ASSERT_TRUE(d.ok) << d.error.Message();
    EXPECT_EQ(d.image, image) << n;
  }
}

TEST(SRecordReader, RoundTripsOurOwnFiles) {
  for (size_t n : {1u, 15u, 16u, 17u, 255u, 65536u, 65537u, 200000u}) {
    const auto image = RandomBytes(n, static_cast<uint32_t>(n));
    const auto d = Decode(TBufferFormat::MotorolaS, SRecordsOf(image));
    ASSERT_TRUE(d.ok) << d.error.Message();
    EXPECT_EQ(d.image, image) << n;
  }
}

TEST(IntelHexReader, AcceptsEitherCaseCrLfBlankLinesAndEveryRecordType) {
  const auto d = Decode(TBufferFormat::IntelHex,
                        "  :020000041234B4\r\n"  // linear base 0x12340000, replaced before any data
                        ":020000040000fa\r\n"
                        "\r\n"
                        ":04000003000001F008\r\n"  // start segment address: ignored
                        ":0400000500000100F6\r\n"  // start linear address: ignored
                        ":02000400abcd82 \r\n"     // two bytes at 4
                        ":00000001FF\r\n"
                        "anything after the end record is not read\n");
  ASSERT_TRUE(d.ok) << d.error.Message();
  EXPECT_EQ(d.image, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD}));
}

TEST(IntelHexReader, SegmentRecordsWrapWithinTheSegment) {
  // Segment 0x1000 (base 0x10000), offset 0xFFFF: the second byte wraps to 0x10000.
  const auto d = Decode(TBufferFormat::IntelHex,
                        ":020000021000EC\n"
                        ":02FFFF00112 2CD\n");
  EXPECT_FALSE(d.ok);  // a blank inside the digits
  const auto e = Decode(TBufferFormat::IntelHex,
                        ":020000021000EC\n"
                        ":02FFFF001122CD\n"
                        ":00000001FF\n");
  ASSERT_TRUE(e.ok) << e.error.Message();
  ASSERT_EQ(e.image.size(), 0x1FFFFu + 1);
  EXPECT_EQ(e.image[0x1FFFF], 0x11);
  EXPECT_EQ(e.image[0x10000], 0x22);
  EXPECT_EQ(e.image[0x10001], 0xFF);
}

TEST(IntelHexReader, GapsReadAsErasedBytesAndLaterRecordsWin) {
  const auto d = Decode(TBufferFormat::IntelHex,
                        ":0100020011EC\n"
                        ":02000000AABB99\n"
                        ":0100010022DC\n"
                        ":0100050033C7\n"
                        ":00000001FF\n");
  ASSERT_TRUE(d.ok) << d.error.Message();
  EXPECT_EQ(d.image, (std::vector<uint8_t>{0xAA, 0x22, 0x11, 0xFF, 0xFF, 0x33}));
}

TEST(SRecordReader, AcceptsHeadersCountsMixedAddressSizesAndNoEndRecord) {
  const auto d = Decode(TBufferFormat::MotorolaS,
                        "S00600004844521B\n"
                        "s1040000df1c\r\n"
                        "S2050000020EEA\n"  // 24-bit address 2
                        "\n"
                        "S5030002FA\n");
  ASSERT_TRUE(d.ok) << d.error.Message();
  EXPECT_EQ(d.image, (std::vector<uint8_t>{0xDF, 0xFF, 0x0E}));
  const auto e = Decode(TBufferFormat::MotorolaS,
                        "S1040000DF1C\n"
                        "S9030000FC\n"
                        "S1040001EE0C\n");  // after the end record: not read
  ASSERT_TRUE(e.ok) << e.error.Message();
  EXPECT_EQ(e.image, std::vector<uint8_t>{0xDF});
}

// ---- Bad input ----------------------------------------------------------------------------------

struct TBadCase {
  TBufferFormat format;
  std::string text;
  int line;
  std::string cause;
};

TEST(BufferReaders, BadInputFailsWithTheLineAndTheCause) {
  const TBadCase cases[] = {
      {TBufferFormat::IntelHex, ":0100000011EE\n:010000", 2, "the record is too short"},
      {TBufferFormat::IntelHex, ":0100000011EE\n:01000", 2, "odd number of hexadecimal digits"},
      {TBufferFormat::IntelHex, ":0100000011E\n", 1, "odd number of hexadecimal digits"},
      {TBufferFormat::IntelHex, ":01000000G1EE\n", 1,
       "'G' in column 10 is not a hexadecimal digit"},
      {TBufferFormat::IntelHex, "\n\n:0200000011EE\n", 3,
       "the record length 2 disagrees with the line, which holds 1 data bytes"},
      {TBufferFormat::IntelHex, ":0100000011EF\n", 1, "checksum EF is wrong, the record needs EE"},
      {TBufferFormat::IntelHex, ":00000006FA\n", 1, "unknown record type 06"},
      {TBufferFormat::IntelHex, ":0100000011EE\n", 0, "without an end-of-file record"},
      {TBufferFormat::IntelHex, "garbage\n", 1, "does not start with ':'"},
      {TBufferFormat::IntelHex, ":0100000411EA\n", 1, "a type 04 record must hold 2 bytes"},
      {TBufferFormat::IntelHex, ":0100000111ED\n", 1, "the end record holds data"},
      {TBufferFormat::IntelHex, ":020000041000EA\n:0100000011EE\n", 2,
       "data at address 10000000 reaches beyond the buffer limit of 268435456 bytes"},
      {TBufferFormat::IntelHex, ":02000004FFFFFC\n:01FFFF0011F0\n", 2, "beyond the buffer limit"},
      {TBufferFormat::IntelHex, ":" + std::string(5000, '0') + "\n", 1, "longer than 4096"},
      {TBufferFormat::IntelHex, std::string(5000, '0'), 1, "longer than 4096"},
      {TBufferFormat::MotorolaS, "S1040000DF1D\n", 1, "checksum 1D is wrong, the record needs 1C"},
      {TBufferFormat::MotorolaS, "S104000DF1C\n", 1, "odd number"},
      {TBufferFormat::MotorolaS, "S1050000DF1C\n", 1,
       "the record length 5 disagrees with the line, which holds 4 bytes after it"},
      {TBufferFormat::MotorolaS, "S4030000FC\n", 1, "'4' is not a record type"},
      {TBufferFormat::MotorolaS, "SX030000FC\n", 1, "'X' is not a record type"},
      {TBufferFormat::MotorolaS, "S\n", 1, "too short"},
      {TBufferFormat::MotorolaS, "S10200FD\n", 1, "too short for its 2-byte address"},
      {TBufferFormat::MotorolaS, "S1040000DF1C\nS5030002FA\n", 2,
       "the record count 2 disagrees with the 1 data records read"},
      {TBufferFormat::MotorolaS, "S3061000000000E9\n", 1, "beyond the buffer limit"},
      {TBufferFormat::MotorolaS, ":0100000011EE\n", 1, "does not start with 'S'"},
      {TBufferFormat::MotorolaS, "\n \n", 0, "holds no S-records"},
      {TBufferFormat::MotorolaS,
       "S1040000D\xff"
       "1C\n",
       1, "the byte FF in column 10"},
  };
  for (const auto& c : cases) {
    const auto d = Decode(c.format, c.text);
    EXPECT_FALSE(d.ok) << c.text;
    EXPECT_TRUE(d.image.empty());
    EXPECT_EQ(d.error.Line, c.line) << c.text;
    EXPECT_NE(d.error.Cause.find(c.cause), std::string::npos)
        << c.text << "\n  cause: " << d.error.Cause << "\n  want:  " << c.cause;
  }
}

TEST(BufferReaders, TheSizeLimitIsCheckedBeforeAllocating) {
  // A small limit shows the bound is the caller's: nothing beyond it is allocated.
  const auto d = Decode(TBufferFormat::IntelHex, ":0110000011DE\n:00000001FF\n", 0x1000);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.image.capacity(), 0u);
  const auto e = Decode(TBufferFormat::Binary, std::string(0x1001, 'x'), 0x1000);
  EXPECT_FALSE(e.ok);
  EXPECT_NE(e.error.Cause.find("larger than the buffer limit"), std::string::npos);
  const auto f = Decode(TBufferFormat::Binary, std::string(0x1000, 'x'), 0x1000);
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.image.size(), 0x1000u);
  EXPECT_TRUE(Decode(TBufferFormat::Binary, "").ok);
}

// ---- Files and buffers --------------------------------------------------------------------------

class BufferFilesTest : public ::testing::Test {
 protected:
  void Load(const std::string& text) {
    scope.TakeContent(std::vector<uint8_t>(text.begin(), text.end()), "Untitled5");
  }
  std::string Text() const { return std::string(scope.Bytes().begin(), scope.Bytes().end()); }

  testing_support::TFakeDialogs dialogs;
  TTempDir dir;
  TBytescope scope;
};

TEST_F(BufferFilesTest, AFailingReaderLeavesTheBufferAsItWas) {
  WriteText(dir / "bad.hex", ":0100000011EE\n:0100010022DD\n");  // second checksum wrong
  Load("keep");
  scope.Delete();
  TFileError error;
  EXPECT_FALSE(hexedit::LoadHexFile(scope, dir / "bad.hex", &error));
  EXPECT_EQ(error.Message(), (dir / "bad.hex") + ":2: checksum DD is wrong, the record needs DC");
  EXPECT_EQ(Text(), "eep");
  EXPECT_EQ(scope.FileName(), "Untitled5");
  EXPECT_TRUE(scope.Modified());
  EXPECT_TRUE(scope.CanUndo());
}

TEST_F(BufferFilesTest, ASuccessfulReaderSetsNameSizeAndClearsFlagAndHistory) {
  WriteText(dir / "ok.S19", "S1050002AABB93\n");
  Load("old");
  scope.Delete();
  ASSERT_TRUE(hexedit::OpenBufferFile(scope, dir / "ok.S19", true));
  EXPECT_EQ(Text(), "\xFF\xFF\xAA\xBB");
  EXPECT_EQ(scope.DataSize(), 4);
  EXPECT_EQ(scope.FileName(), dir / "ok.S19");
  EXPECT_FALSE(scope.Modified());
  EXPECT_FALSE(scope.CanUndo());
  EXPECT_EQ(scope.GetCaretPos(), 0);
}

TEST_F(BufferFilesTest, AHexFileOfRawBytesEndsUpLoadedAsBinary) {
  WriteBytes(dir / "raw.hex", {0x00, 0x01, 0xFE});
  TFileError why;
  ASSERT_TRUE(hexedit::OpenBufferFile(scope, dir / "raw.hex", true, &why));
  EXPECT_EQ(Text(), std::string("\x00\x01\xFE", 3));
  EXPECT_EQ(why.Line, 1);  // why the Intel HEX reader gave up
  EXPECT_FALSE(hexedit::OpenBufferFile(scope, dir / "raw.hex", false, &why));
  // dump.s28x and a name without extension are binary from the start.
  WriteText(dir / "dump.s28x", "S1040000DF1C\n");
  ASSERT_TRUE(hexedit::OpenBufferFile(scope, dir / "dump.s28x", true));
  EXPECT_EQ(Text(), "S1040000DF1C\n");
  EXPECT_FALSE(hexedit::OpenBufferFile(scope, dir / "absent.hex", true, &why));
  EXPECT_NE(why.Cause.find("cannot open"), std::string::npos);
}

TEST_F(BufferFilesTest, SavingAnEmptyBufferAsHexDoesNothing) {
  scope.NewBuffer("Untitled9", -1);
  scope.SetModified(true);
  EXPECT_FALSE(hexedit::SaveHexFile(scope, dir / "e.hex"));
  EXPECT_FALSE(hexedit::SaveMotFile(scope, dir / "e.s19"));
  EXPECT_FALSE(std::filesystem::exists(dir / "e.hex"));
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(scope.FileName(), "Untitled9");
  EXPECT_TRUE(scope.Modified());
  EXPECT_TRUE(scope.SaveToFile(dir / "e.bin"));  // binary: an empty file
  EXPECT_EQ(ReadText(dir / "e.bin"), "");
}

TEST_F(BufferFilesTest, TheHexAndSRecordWritersKeepTheHistoryTheBinaryWriterEmptiesIt) {
  Load("abc");
  scope.Delete();
  ASSERT_TRUE(hexedit::SaveHexFile(scope, dir / "h.hex"));
  EXPECT_TRUE(scope.CanUndo());
  EXPECT_FALSE(scope.Modified());
  EXPECT_EQ(scope.FileName(), dir / "h.hex");
  EXPECT_EQ(ReadText(dir / "h.hex"), ":02000000626339\n:00000001FF\n");
  ASSERT_TRUE(hexedit::SaveMotFile(scope, dir / "h.s19"));
  EXPECT_TRUE(scope.CanUndo());
  ASSERT_TRUE(hexedit::SaveBufferFile(scope, dir / "h.bin"));
  EXPECT_FALSE(scope.CanUndo());
  EXPECT_EQ(ReadText(dir / "h.bin"), "bc");
}

TEST_F(BufferFilesTest, SaveWithoutANameUsesTheWriterOfTheBuffersOwnName) {
  WriteText(dir / "own.hex", ":0100000011EE\n:00000001FF\n");
  ASSERT_TRUE(hexedit::OpenBufferFile(scope, dir / "own.hex", true));
  scope.EnterValue('4');
  ASSERT_TRUE(hexedit::SaveBufferFile(scope, ""));
  EXPECT_TRUE(dialogs.messages.empty());  // its own file: no question
  EXPECT_EQ(ReadText(dir / "own.hex"), ":0100000004FB\n:00000001FF\n");
}

TEST_F(BufferFilesTest, DecliningTheOverwriteQuestionChangesNothing) {
  WriteText(dir / "x.s19", "previous");
  Load("abc");
  scope.Delete();
  dialogs.answers = {TModalResult::No};
  TFileError error;
  EXPECT_FALSE(hexedit::SaveMotFile(scope, dir / "x.s19", &error));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, "Warning");
  EXPECT_EQ(dialogs.messages[0].text, "File Exists. Overwrite?");
  EXPECT_EQ(ReadText(dir / "x.s19"), "previous");
  EXPECT_EQ(scope.FileName(), "Untitled5");
  EXPECT_TRUE(scope.Modified());
  EXPECT_NE(error.Cause.find("not overwritten"), std::string::npos);
  EXPECT_TRUE(hexedit::WriteBufferFile(scope, dir / "x.s19", TBufferFormat::MotorolaS, false));
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(ReadText(dir / "x.s19"),
            "S0080000782E73313974\nS1050000626335\nS5030001FB\nS9030000FC\n");
}

TEST_F(BufferFilesTest, WritingReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  WriteText(dir / "p.bin", "old contents");
  ::chmod((dir / "p.bin").c_str(), 0640);
  std::filesystem::create_symlink(dir / "p.bin", dir / "link.bin");
  Load("new");
  dialogs.answers = {TModalResult::Yes};
  ASSERT_TRUE(scope.SaveToFile(dir / "link.bin"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.bin"));  // the link stays a link
  EXPECT_EQ(ReadText(dir / "p.bin"), "new");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "p.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // permissions kept
  auto names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"link.bin", "p.bin"}));
}

TEST_F(BufferFilesTest, AFailedWriteKeepsTheFileThatWasThere) {
  WriteText(dir / "keep.hex", "the previous file");
  Load(std::string(200000, 'x'));
  scope.Delete();
  // A file size limit makes the write fail part-way (EFBIG instead of the signal).
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* previous = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  dialogs.answers = {TModalResult::Yes};
  TFileError error;
  const bool saved = hexedit::SaveHexFile(scope, dir / "keep.hex", &error);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved);
  EXPECT_NE(error.Cause.find("write error"), std::string::npos) << error.Message();
  EXPECT_EQ(ReadText(dir / "keep.hex"), "the previous file");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.hex"});
  EXPECT_TRUE(scope.Modified());
  EXPECT_EQ(scope.FileName(), "Untitled5");
}

TEST_F(BufferFilesTest, AWriteIntoAMissingFolderFailsCleanly) {
  Load("abc");
  TFileError error;
  EXPECT_FALSE(hexedit::SaveHexFile(scope, dir / "no/such/folder/x.hex", &error));
  EXPECT_NE(error.Message().find("cannot write"), std::string::npos);
  EXPECT_EQ(scope.FileName(), "Untitled5");
}

TEST_F(BufferFilesTest, TheHourglassShowsWhileReadingAndWriting) {
  std::vector<bool> busy;
  scope.OnBusy = [&](bool b) { busy.push_back(b); };
  Load("abc");
  ASSERT_TRUE(hexedit::SaveHexFile(scope, dir / "b.hex"));
  ASSERT_TRUE(hexedit::LoadHexFile(scope, dir / "b.hex"));
  EXPECT_EQ(busy, (std::vector<bool>{true, false, true, false}));
}

}  // namespace
