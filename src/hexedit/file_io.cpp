#include "hexedit/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/format.h"

namespace hexedit {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

}  // namespace

std::string TFileError::Message() const {
  if (FileName.empty()) return Line > 0 ? base::Format("line %d: %s", Line, Cause) : Cause;
  if (Line > 0) return base::Format("%s:%d: %s", FileName, Line, Cause);
  return FileName + ": " + Cause;
}

ptrdiff_t TMemorySource::Read(uint8_t* buffer, size_t n) {
  const size_t k = n < bytes_.size() ? n : bytes_.size();
  if (k) std::memcpy(buffer, bytes_.data(), k);
  bytes_.remove_prefix(k);
  return static_cast<ptrdiff_t>(k);
}

TFileSource::~TFileSource() {
  if (fd_ >= 0) ::close(fd_);
}

bool TFileSource::Open(const std::string& name, TFileError& error) {
  error = {name, 0, {}};
  fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error.Cause = "cannot open: " + ErrnoText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    error.Cause = "cannot open: " + ErrnoText(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error.Cause = "cannot open: it is a directory";
    return false;
  }
  size_ = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

ptrdiff_t TFileSource::Read(uint8_t* buffer, size_t n) {
  for (;;) {
    const ssize_t k = ::read(fd_, buffer, n);
    if (k >= 0) return k;
    if (errno == EINTR) continue;
    error_ = "read error: " + ErrnoText(errno);
    return -1;
  }
}

bool ReadAll(TByteSource& source, std::vector<uint8_t>& bytes, size_t maxSize, TFileError& error) {
  // One byte beyond the limit tells a source of exactly maxSize bytes from a larger one.
  const size_t cap = maxSize + 1;
  constexpr size_t kFirst = size_t{64} << 10;
  const uint64_t hint = source.SizeHint();
  bytes.clear();
  bytes.resize(static_cast<size_t>(std::min<uint64_t>(hint ? hint + 1 : kFirst, cap)));
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes.resize(std::min(cap, 2 * bytes.size()));
    const ptrdiff_t k = source.Read(bytes.data() + used, bytes.size() - used);
    if (k < 0) {
      error.Cause = source.Error();
      bytes.clear();
      return false;
    }
    if (k == 0) break;
    used += static_cast<size_t>(k);
    if (used > maxSize) {
      error.Cause = base::Format("the file is larger than the buffer limit of %u bytes",
                                 static_cast<uint64_t>(maxSize));
      bytes.clear();
      bytes.shrink_to_fit();
      return false;
    }
  }
  bytes.resize(used);
  return true;
}

TAtomicFileWriter::~TAtomicFileWriter() { Abandon(); }

void TAtomicFileWriter::Abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool TAtomicFileWriter::Open(const std::string& name, TFileError& error) {
  static std::atomic<unsigned> serial{0};
  error = {name, 0, {}};
  target_ = name;
  std::error_code ec;
  if (std::filesystem::is_symlink(name, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(name, ec);
    if (!ec) target_ = resolved.string();
  }
  struct stat st {};
  const bool replacing = ::stat(target_.c_str(), &st) == 0;
  if (replacing && !S_ISREG(st.st_mode)) {
    error.Cause = "cannot write: not a regular file";
    return false;
  }
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = base::Format("%s.tmp-%d-%u", target_, static_cast<int>(::getpid()), serial++);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error.Cause = "cannot write: " + ErrnoText(errno);
    temp_.clear();
    return false;
  }
  if (replacing) (void)::fchmod(fd_, st.st_mode & 07777);
  return true;
}

bool TAtomicFileWriter::Write(const void* data, size_t n) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t k = ::write(fd_, p, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      writeError_ = "write error: " + ErrnoText(errno);
      Abandon();
      return false;
    }
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

bool TAtomicFileWriter::Commit(TFileError& error) {
  error = {target_, 0, {}};
  if (fd_ < 0) {
    error.Cause = writeError_.empty() ? "write error" : writeError_;
    Abandon();
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    error.Cause = "write error: " + ErrnoText(errno);
    Abandon();
    return false;
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    error.Cause = "cannot replace the file: " + ErrnoText(errno);
    Abandon();
    return false;
  }
  temp_.clear();
  return true;
}

bool FileExists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0;
}

}  // namespace hexedit
