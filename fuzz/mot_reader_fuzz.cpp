// The S-record reader takes any bytes without crashing or allocating beyond its limit;
// whatever it accepts, our writer writes and the reader reads back to the same image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "hexedit/file_io.h"
#include "hexedit/formats.h"

// A small limit keeps each run fast; the limit check is the same for any value.
constexpr size_t kLimit = size_t{1} << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  hexedit::TMemorySource source(text);
  std::vector<uint8_t> image;
  hexedit::TFileError error;
  if (!hexedit::DecodeSRecords(source, image, error, kLimit)) {
    if (!image.empty() || error.Cause.empty()) std::abort();
    return 0;
  }
  if (image.size() > kLimit) std::abort();
  if (image.empty()) return 0;
  hexedit::TStringSink sink;
  hexedit::EncodeSRecords(image, "fuzz", sink);
  hexedit::TMemorySource again(sink.text);
  std::vector<uint8_t> back;
  if (!hexedit::DecodeSRecords(again, back, error, kLimit) || back != image) std::abort();
  return 0;
}
