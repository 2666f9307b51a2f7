// The binary reader, through a real file descriptor: the buffer becomes the file's bytes
// exactly, and a file beyond the limit is refused without changing the buffer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hexedit/bytescope.h"
#include "hexedit/file_io.h"
#include "hexedit/formats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = ::memfd_create("bin_reader_fuzz", 0);
  if (fd < 0) std::abort();
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  const std::string name = "/proc/self/fd/" + std::to_string(fd);

  hexedit::TBytescope scope;
  scope.TakeContent({1, 2, 3}, "Untitled1");
  hexedit::TFileError error;
  if (!hexedit::ReadBufferFile(scope, name, hexedit::TBufferFormat::Binary, &error)) std::abort();
  if (static_cast<size_t>(scope.DataSize()) != size) std::abort();
  if (size && std::memcmp(scope.Data(), data, size) != 0) std::abort();

  // The same bytes through the memory source with a limit just below them.
  hexedit::TMemorySource source(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<uint8_t> image;
  const size_t limit = size ? size - 1 : 0;
  const bool ok = hexedit::DecodeBinary(source, image, error, limit);
  if (ok != (size == 0) || (!ok && !image.empty())) std::abort();
  return 0;
}
