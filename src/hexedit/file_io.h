// Byte sources and sinks for the buffer readers and writers, the reason a file operation
// failed, and writing a file through a temporary file and a rename.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hexedit {

// Why a read or write failed: the file, the line (0 when no line applies) and the cause.
struct TFileError {
  std::string FileName;
  int Line = 0;
  std::string Cause;

  // "name:12: cause", "name: cause", or just the cause when there is no name.
  std::string Message() const;
};

class TByteSource {
 public:
  virtual ~TByteSource() = default;
  // Reads up to n bytes; returns the count, 0 at the end, or -1 on an error (Error() says
  // which).
  virtual ptrdiff_t Read(uint8_t* buffer, size_t n) = 0;
  virtual std::string Error() const { return {}; }
  // How many bytes the source is expected to hold; 0 when unknown. Only sizes buffers.
  virtual uint64_t SizeHint() const { return 0; }
};

class TMemorySource final : public TByteSource {
 public:
  explicit TMemorySource(std::string_view bytes) : bytes_(bytes) {}
  ptrdiff_t Read(uint8_t* buffer, size_t n) override;
  uint64_t SizeHint() const override { return bytes_.size(); }

 private:
  std::string_view bytes_;
};

// Reads a file; Open reports failure (missing, unreadable, a directory) in `error`.
class TFileSource final : public TByteSource {
 public:
  TFileSource() = default;
  ~TFileSource() override;
  TFileSource(const TFileSource&) = delete;
  TFileSource& operator=(const TFileSource&) = delete;

  bool Open(const std::string& name, TFileError& error);
  ptrdiff_t Read(uint8_t* buffer, size_t n) override;
  std::string Error() const override { return error_; }
  // The file's size when Open found a regular file.
  uint64_t SizeHint() const override { return size_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string error_;
};

// Reads a whole source into `bytes`, refusing more than maxSize bytes.
bool ReadAll(TByteSource& source, std::vector<uint8_t>& bytes, size_t maxSize, TFileError& error);

class TByteSink {
 public:
  virtual ~TByteSink() = default;
  // Takes all n bytes; false on an error.
  virtual bool Write(const void* data, size_t n) = 0;
};

class TStringSink final : public TByteSink {
 public:
  bool Write(const void* data, size_t n) override {
    text.append(static_cast<const char*>(data), n);
    return true;
  }
  std::string text;
};

// Writes a file so that a failure never destroys the file that was there: the bytes go to
// a new temporary file beside it, which replaces the file by a rename on Commit. A file
// being replaced keeps its permission bits; a new file gets 0666 less the umask. When
// `name` is a symbolic link, the file it points to is replaced.
class TAtomicFileWriter final : public TByteSink {
 public:
  TAtomicFileWriter() = default;
  ~TAtomicFileWriter() override;  // removes the temporary file unless committed
  TAtomicFileWriter(const TAtomicFileWriter&) = delete;
  TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

  bool Open(const std::string& name, TFileError& error);
  bool Write(const void* data, size_t n) override;
  bool Commit(TFileError& error);

 private:
  void Abandon();

  std::string target_;
  std::string temp_;
  std::string writeError_;
  int fd_ = -1;
};

bool FileExists(const std::string& name);

}  // namespace hexedit
