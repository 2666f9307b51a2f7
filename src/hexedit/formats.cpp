#include "hexedit/formats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>

#include "base/format.h"
#include "platform/dialogs.h"

namespace hexedit {

namespace {

// ---- Reading lines --------------------------------------------------------------------------

// Longest line a reader takes. The longest record (255 data bytes) is 521 characters; the
// rest leaves room for blanks. A longer line is an error, which bounds the line buffer.
constexpr size_t kMaxLine = 4096;
constexpr size_t kChunk = size_t{1} << 20;

class TLineReader {
 public:
  // The buffer holds a chunk of input, or the whole input when it is smaller.
  explicit TLineReader(TByteSource& source)
      : source_(source),
        size_(static_cast<size_t>(
            std::clamp<uint64_t>(source.SizeHint() + 1, 2 * kMaxLine + 2, kChunk))),
        buffer_(new char[size_]) {}

  // The next line without its line end; false at the end of the input or on an error
  // (Failed() then says which).
  bool Next(std::string_view& line) {
    for (;;) {
      const char* b = buffer_.get() + begin_;
      const size_t avail = end_ - begin_;
      const void* nl = avail ? std::memchr(b, '\n', avail) : nullptr;
      if (nl || (eof_ && avail > 0)) {
        const size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - b) : avail;
        ++line_;
        if (len > kMaxLine)
          return Fail(line_, base::Format("the line is longer than %u characters",
                                          static_cast<uint32_t>(kMaxLine)));
        begin_ += nl ? len + 1 : len;
        line = std::string_view(b, len);
        return true;
      }
      if (eof_) return false;
      if (avail > kMaxLine)
        return Fail(line_ + 1, base::Format("the line is longer than %u characters",
                                            static_cast<uint32_t>(kMaxLine)));
      std::memmove(buffer_.get(), b, avail);
      begin_ = 0;
      end_ = avail;
      const ptrdiff_t k =
          source_.Read(reinterpret_cast<uint8_t*>(buffer_.get()) + end_, size_ - end_);
      if (k < 0) return Fail(0, source_.Error());
      if (k == 0)
        eof_ = true;
      else
        end_ += static_cast<size_t>(k);
    }
  }

  int Line() const { return line_; }
  bool Failed() const { return failed_; }
  const TFileError& Error() const { return error_; }

 private:
  bool Fail(int line, std::string cause) {
    failed_ = true;
    error_.Line = line;
    error_.Cause = std::move(cause);
    return false;
  }

  TByteSource& source_;
  size_t size_;
  std::unique_ptr<char[]> buffer_;  // not zeroed: only what was read is looked at
  size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
  int line_ = 0;
  bool failed_ = false;
  TFileError error_;
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// ---- Hex digits -----------------------------------------------------------------------------

constexpr std::array<int8_t, 256> MakeHexValues() {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
  return t;
}
constexpr std::array<int8_t, 256> kHexValues = MakeHexValues();

std::string CharName(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 32 && u < 127) return std::string("'") + c + "'";
  return base::Format("the byte %2.2x", u);
}

// Decodes a run of hex digit pairs starting at column `column` of its line into `out`
// (room for kMaxLine / 2 bytes). False with the cause when it is not one.
bool DecodeHexDigits(std::string_view digits, size_t column, uint8_t* out, size_t& n,
                     std::string& cause) {
  const auto* p = reinterpret_cast<const unsigned char*>(digits.data());
  const size_t len = digits.size();
  size_t i = 0;
  for (; i + 1 < len; i += 2) {
    const int hi = kHexValues[p[i]], lo = kHexValues[p[i + 1]];
    if ((hi | lo) < 0) break;
    out[i / 2] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (i + 1 < len || (i < len && kHexValues[p[i]] < 0)) {
    const size_t bad = kHexValues[p[i]] < 0 ? i : i + 1;
    cause = base::Format("%s in column %u is not a hexadecimal digit", CharName(digits[bad]),
                         static_cast<uint32_t>(column + bad));
    return false;
  }
  if (i < len) {
    cause = "the line has an odd number of hexadecimal digits";
    return false;
  }
  n = len / 2;
  return true;
}

// ---- Building the image ---------------------------------------------------------------------

class TImage {
 public:
  TImage(std::vector<uint8_t>& bytes, size_t maxSize) : bytes_(bytes), maxSize_(maxSize) {
    bytes_.clear();
  }

  // Puts n bytes at an address; the space up to it reads as 0xFF (erased).
  bool Put(uint64_t address, const uint8_t* data, size_t n, std::string& cause) {
    if (address + n > maxSize_) {
      cause = base::Format("data at address %x reaches beyond the buffer limit of %u bytes",
                           address, static_cast<uint64_t>(maxSize_));
      return false;
    }
    const auto end = static_cast<size_t>(address + n);
    if (end > bytes_.size()) {
      if (end > bytes_.capacity())
        bytes_.reserve(std::min(std::max(end, 2 * bytes_.capacity()), maxSize_));
      bytes_.resize(end, 0xFF);
    }
    if (n) std::memcpy(bytes_.data() + address, data, n);
    return true;
  }

 private:
  std::vector<uint8_t>& bytes_;
  size_t maxSize_;
};

// ---- Writing --------------------------------------------------------------------------------

struct THexPairs {
  char pair[256][2];
  constexpr THexPairs() : pair{} {
    constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
      pair[i][0] = digits[i >> 4];
      pair[i][1] = digits[i & 15];
    }
  }
};
constexpr THexPairs kHexPairs;

inline char* PutHex(char* p, uint8_t b) {
  p[0] = kHexPairs.pair[b][0];
  p[1] = kHexPairs.pair[b][1];
  return p + 2;
}

// Collects lines and hands them to the sink in blocks of up to kChunk bytes.
class TChunkWriter {
 public:
  // `expected`: about how many bytes will be written, to size the block.
  TChunkWriter(TByteSink& sink, uint64_t expected)
      : sink_(sink),
        block_(static_cast<size_t>(std::min<uint64_t>(expected, kChunk))),
        buffer_(new char[block_ + 2 * kMaxLine]) {}
  // Room for a line of at most 2 * kMaxLine characters.
  char* Line() {
    if (used_ > block_) Flush();
    return buffer_.get() + used_;
  }
  void Done(const char* end) { used_ = static_cast<size_t>(end - buffer_.get()); }
  bool Flush() {
    if (used_ && ok_) ok_ = sink_.Write(buffer_.get(), used_);
    used_ = 0;
    return ok_;
  }

 private:
  TByteSink& sink_;
  size_t block_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  bool ok_ = true;
};

// Records of 16 data bytes.
constexpr size_t kRecordBytes = 16;

char* IntelRecord(char* p, uint8_t type, uint16_t address, const uint8_t* data, size_t n) {
  *p++ = ':';
  unsigned sum = static_cast<unsigned>(n) + (address >> 8) + (address & 0xFF) + type;
  p = PutHex(p, static_cast<uint8_t>(n));
  p = PutHex(p, static_cast<uint8_t>(address >> 8));
  p = PutHex(p, static_cast<uint8_t>(address));
  p = PutHex(p, type);
  for (size_t i = 0; i < n; ++i) {
    sum += data[i];
    p = PutHex(p, data[i]);
  }
  p = PutHex(p, static_cast<uint8_t>(0x100 - (sum & 0xFF)));
  *p++ = '\n';
  return p;
}

char* SRecord(char* p, int type, uint32_t address, int addressBytes, const uint8_t* data,
              size_t n) {
  *p++ = 'S';
  *p++ = static_cast<char>('0' + type);
  const auto count = static_cast<uint8_t>(addressBytes + n + 1);
  unsigned sum = count;
  p = PutHex(p, count);
  for (int i = addressBytes - 1; i >= 0; --i) {
    const auto b = static_cast<uint8_t>(address >> (8 * i));
    sum += b;
    p = PutHex(p, b);
  }
  for (size_t i = 0; i < n; ++i) {
    sum += data[i];
    p = PutHex(p, data[i]);
  }
  p = PutHex(p, static_cast<uint8_t>(~sum));
  *p++ = '\n';
  return p;
}

// Hourglass while a reader or writer runs.
class TBusy {
 public:
  explicit TBusy(TBytescope& scope) : scope_(scope) {
    if (scope_.OnBusy) scope_.OnBusy(true);
  }
  ~TBusy() {
    if (scope_.OnBusy) scope_.OnBusy(false);
  }
  TBusy(const TBusy&) = delete;
  TBusy& operator=(const TBusy&) = delete;

 private:
  TBytescope& scope_;
};

bool Fail(TFileError* out, TFileError error) {
  if (out) *out = std::move(error);
  return false;
}

}  // namespace

// ---- Choice by extension --------------------------------------------------------------------

std::string ExtensionOf(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(name.substr(dot));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

TBufferFormat FormatOfName(std::string_view name) {
  const std::string ext = ExtensionOf(name);
  if (ext == ".hex") return TBufferFormat::IntelHex;
  if (ext == ".s19" || ext == ".s28" || ext == ".s37" || ext == ".mot")
    return TBufferFormat::MotorolaS;
  return TBufferFormat::Binary;
}

std::string DefaultExtOfFilterIndex(int filterIndex) {
  switch (filterIndex) {
    case 2:
      return "bin";
    case 3:
      return "hex";
    case 4:
      return "s19";
    default:
      return "";
  }
}

// ---- Decoders -------------------------------------------------------------------------------

bool DecodeIntelHex(TByteSource& source, std::vector<uint8_t>& image, TFileError& error,
                    size_t maxSize) {
  TImage out(image, maxSize);
  TLineReader reader(source);
  std::string cause;
  auto fail = [&](std::string why) {
    error.Line = reader.Line();
    error.Cause = std::move(why);
    image.clear();
    return false;
  };
  uint8_t rec[kMaxLine / 2 + 1];
  uint32_t base = 0;       // from the last type 02 or 04 record
  bool segmented = false;  // type 02: addresses wrap within the 64 KiB segment
  std::string_view raw;
  while (reader.Next(raw)) {
    const std::string_view line = Trim(raw);
    if (line.empty()) continue;
    if (line[0] != ':') return fail("the line does not start with ':'");
    size_t n = 0;
    const auto column = static_cast<size_t>(line.data() - raw.data()) + 2;
    if (!DecodeHexDigits(line.substr(1), column, rec, n, cause)) return fail(cause);
    if (n < 5) return fail("the record is too short");
    const size_t count = rec[0];
    if (n != count + 5)
      return fail(
          base::Format("the record length %u disagrees with the line, which holds %u data bytes",
                       static_cast<uint32_t>(count), static_cast<uint32_t>(n - 5)));
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < n; ++i) sum += rec[i];
    const auto expected = static_cast<uint8_t>(0x100 - (sum & 0xFF));
    if (rec[n - 1] != expected)
      return fail(
          base::Format("checksum %2.2x is wrong, the record needs %2.2x", rec[n - 1], expected));
    const uint32_t offset = static_cast<uint32_t>(rec[1]) << 8 | rec[2];
    const uint8_t type = rec[3];
    const uint8_t* data = rec + 4;
    const uint32_t word = count >= 2 ? static_cast<uint32_t>(data[0]) << 8 | data[1] : 0;
    switch (type) {
      case 0x00:
        if (segmented && offset + count > 0x10000) {
          const size_t first = 0x10000 - offset;
          if (!out.Put(uint64_t{base} + offset, data, first, cause) ||
              !out.Put(base, data + first, count - first, cause))
            return fail(cause);
        } else if (!out.Put(uint64_t{base} + offset, data, count, cause)) {
          return fail(cause);
        }
        break;
      case 0x01:
        if (count != 0) return fail("the end record holds data");
        return true;
      case 0x02:
      case 0x04:
        if (count != 2) return fail(base::Format("a type %2.2x record must hold 2 bytes", type));
        base = type == 0x02 ? word << 4 : word << 16;
        segmented = type == 0x02;
        break;
      case 0x03:
      case 0x05:  // start addresses: nothing to load
        if (count != 4) return fail(base::Format("a type %2.2x record must hold 4 bytes", type));
        break;
      default:
        return fail(base::Format("unknown record type %2.2x", type));
    }
  }
  if (reader.Failed()) {
    error = reader.Error();
    image.clear();
    return false;
  }
  error.Line = 0;
  error.Cause = "the file ends without an end-of-file record (type 01)";
  image.clear();
  return false;
}

bool DecodeSRecords(TByteSource& source, std::vector<uint8_t>& image, TFileError& error,
                    size_t maxSize) {
  // Address bytes of S0..S9; S4 does not exist.
  static constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
  TImage out(image, maxSize);
  TLineReader reader(source);
  std::string cause;
  auto fail = [&](std::string why) {
    error.Line = reader.Line();
    error.Cause = std::move(why);
    image.clear();
    return false;
  };
  uint8_t rec[kMaxLine / 2 + 1];
  uint32_t dataRecords = 0;
  bool anyRecord = false;
  std::string_view raw;
  while (reader.Next(raw)) {
    const std::string_view line = Trim(raw);
    if (line.empty()) continue;
    if (line[0] != 'S' && line[0] != 's') return fail("the line does not start with 'S'");
    if (line.size() < 2) return fail("the record is too short");
    if (line[1] < '0' || line[1] > '9' || line[1] == '4')
      return fail(base::Format("%s is not a record type", CharName(line[1])));
    const int type = line[1] - '0';
    size_t n = 0;
    const auto column = static_cast<size_t>(line.data() - raw.data()) + 3;
    if (!DecodeHexDigits(line.substr(2), column, rec, n, cause)) return fail(cause);
    if (n < 1) return fail("the record is too short");
    const size_t count = rec[0];
    if (n != count + 1)
      return fail(base::Format(
          "the record length %u disagrees with the line, which holds %u bytes after it",
          static_cast<uint32_t>(count), static_cast<uint32_t>(n - 1)));
    const int addressBytes = kAddressBytes[type];
    if (count < static_cast<size_t>(addressBytes) + 1)
      return fail(base::Format("the record is too short for its %d-byte address", addressBytes));
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < n; ++i) sum += rec[i];
    const auto expected = static_cast<uint8_t>(~sum);
    if (rec[n - 1] != expected)
      return fail(
          base::Format("checksum %2.2x is wrong, the record needs %2.2x", rec[n - 1], expected));
    uint32_t address = 0;
    for (int i = 0; i < addressBytes; ++i) address = address << 8 | rec[1 + i];
    const uint8_t* data = rec + 1 + addressBytes;
    const size_t length = count - static_cast<size_t>(addressBytes) - 1;
    anyRecord = true;
    switch (type) {
      case 1:
      case 2:
      case 3:
        if (!out.Put(address, data, length, cause)) return fail(cause);
        ++dataRecords;
        break;
      case 5:
      case 6: {
        const uint32_t mask = type == 5 ? 0xFFFF : 0xFFFFFF;
        if (address != (dataRecords & mask))
          return fail(base::Format("the record count %u disagrees with the %u data records read",
                                   address, dataRecords));
        break;
      }
      case 7:
      case 8:
      case 9:
        return true;
      default:  // S0: the header
        break;
    }
  }
  if (reader.Failed()) {
    error = reader.Error();
    image.clear();
    return false;
  }
  if (!anyRecord) {
    error.Line = 0;
    error.Cause = "the file holds no S-records";
    image.clear();
    return false;
  }
  return true;
}

bool DecodeBinary(TByteSource& source, std::vector<uint8_t>& image, TFileError& error,
                  size_t maxSize) {
  return ReadAll(source, image, maxSize, error);
}

bool Decode(TBufferFormat format, TByteSource& source, std::vector<uint8_t>& image,
            TFileError& error, size_t maxSize) {
  switch (format) {
    case TBufferFormat::IntelHex:
      return DecodeIntelHex(source, image, error, maxSize);
    case TBufferFormat::MotorolaS:
      return DecodeSRecords(source, image, error, maxSize);
    default:
      return DecodeBinary(source, image, error, maxSize);
  }
}

// ---- Encoders -------------------------------------------------------------------------------

bool EncodeIntelHex(std::span<const uint8_t> image, TByteSink& sink) {
  TChunkWriter w(sink, image.size() / kRecordBytes * 44 + 64);
  uint32_t upper = 0;  // the upper 16 address bits in force; 0 needs no record
  for (size_t a = 0; a < image.size(); a += kRecordBytes) {
    char* p = w.Line();
    const auto high = static_cast<uint32_t>(a >> 16);
    if (high != upper) {
      const uint8_t word[2] = {static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high)};
      p = IntelRecord(p, 0x04, 0, word, 2);
      upper = high;
    }
    const size_t n = std::min(kRecordBytes, image.size() - a);
    w.Done(IntelRecord(p, 0x00, static_cast<uint16_t>(a), image.data() + a, n));
  }
  w.Done(IntelRecord(w.Line(), 0x01, 0, nullptr, 0));
  return w.Flush();
}

bool EncodeSRecords(std::span<const uint8_t> image, std::string_view header, TByteSink& sink) {
  TChunkWriter w(sink, image.size() / kRecordBytes * 46 + 256);
  const uint64_t highest = image.empty() ? 0 : image.size() - 1;
  const int addressBytes = highest <= 0xFFFF ? 2 : highest <= 0xFFFFFF ? 3 : 4;
  const int dataType = addressBytes - 1;  // S1, S2, S3
  const int endType = 11 - addressBytes;  // S9, S8, S7
  // The header's text, cut to what one record holds comfortably.
  header = header.substr(0, 64);
  w.Done(
      SRecord(w.Line(), 0, 0, 2, reinterpret_cast<const uint8_t*>(header.data()), header.size()));
  uint32_t records = 0;
  for (size_t a = 0; a < image.size(); a += kRecordBytes, ++records) {
    const size_t n = std::min(kRecordBytes, image.size() - a);
    w.Done(
        SRecord(w.Line(), dataType, static_cast<uint32_t>(a), addressBytes, image.data() + a, n));
  }
  if (records <= 0xFFFF)
    w.Done(SRecord(w.Line(), 5, records, 2, nullptr, 0));
  else if (records <= 0xFFFFFF)
    w.Done(SRecord(w.Line(), 6, records, 3, nullptr, 0));
  w.Done(SRecord(w.Line(), endType, 0, addressBytes, nullptr, 0));
  return w.Flush();
}

// ---- Buffers and files ----------------------------------------------------------------------

bool ReadBufferFile(TBytescope& scope, const std::string& name, TBufferFormat format,
                    TFileError* error) {
  TBusy busy(scope);
  TFileError err;
  TFileSource source;
  if (!source.Open(name, err)) return Fail(error, std::move(err));
  std::vector<uint8_t> image;
  const bool ok = format == TBufferFormat::Binary ? ReadAll(source, image, kMaxBufferSize, err)
                                                  : Decode(format, source, image, err);
  err.FileName = name;
  if (!ok) return Fail(error, std::move(err));
  scope.TakeContent(std::move(image), name);
  return true;
}

bool LoadHexFile(TBytescope& scope, const std::string& name, TFileError* error) {
  return ReadBufferFile(scope, name, TBufferFormat::IntelHex, error);
}

bool LoadMotFile(TBytescope& scope, const std::string& name, TFileError* error) {
  return ReadBufferFile(scope, name, TBufferFormat::MotorolaS, error);
}

bool OpenBufferFile(TBytescope& scope, const std::string& name, bool binaryFallback,
                    TFileError* error) {
  const TBufferFormat format = FormatOfName(name);
  if (ReadBufferFile(scope, name, format, error)) return true;
  if (format == TBufferFormat::Binary || !binaryFallback) return false;
  TFileError binaryError;
  if (ReadBufferFile(scope, name, TBufferFormat::Binary, &binaryError)) return true;
  return Fail(error, std::move(binaryError));
}

bool WriteBufferFile(TBytescope& scope, const std::string& name, TBufferFormat format,
                     bool confirmOverwrite, TFileError* error) {
  const std::string target = name.empty() ? scope.FileName() : name;
  if (format != TBufferFormat::Binary && scope.DataSize() == 0)
    return Fail(error, {target, 0, "the buffer is empty; nothing was written"});
  if (!name.empty() && confirmOverwrite && FileExists(name) &&
      platform::Dialogs().MessageBox(
          "Warning", "File Exists. Overwrite?", platform::mbYes | platform::mbNo,
          platform::TMsgIcon::Exclamation) != platform::TModalResult::Yes)
    return Fail(error, {target, 0, "the file exists and was not overwritten"});

  TBusy busy(scope);
  TFileError err;
  TAtomicFileWriter file;
  if (!file.Open(target, err)) return Fail(error, std::move(err));
  const std::span<const uint8_t> bytes = scope.Bytes();
  switch (format) {
    case TBufferFormat::IntelHex:
      EncodeIntelHex(bytes, file);
      break;
    case TBufferFormat::MotorolaS: {
      const auto slash = target.find_last_of('/');
      EncodeSRecords(bytes, slash == std::string::npos ? target : target.substr(slash + 1), file);
      break;
    }
    default:
      file.Write(bytes.data(), bytes.size());
      break;
  }
  if (!file.Commit(err)) return Fail(error, std::move(err));
  scope.SetModified(false);
  scope.SetFileName(target);
  if (format == TBufferFormat::Binary) scope.ClearHistory();
  return true;
}

bool SaveHexFile(TBytescope& scope, const std::string& name, TFileError* error) {
  return WriteBufferFile(scope, name, TBufferFormat::IntelHex, true, error);
}

bool SaveMotFile(TBytescope& scope, const std::string& name, TFileError* error) {
  return WriteBufferFile(scope, name, TBufferFormat::MotorolaS, true, error);
}

bool SaveBufferFile(TBytescope& scope, const std::string& name, TFileError* error) {
  const TBufferFormat format = FormatOfName(name.empty() ? scope.FileName() : name);
  return WriteBufferFile(scope, name, format, true, error);
}

}  // namespace hexedit
