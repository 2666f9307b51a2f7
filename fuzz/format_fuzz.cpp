// Format strings from anywhere (scripts pass their own) must never crash the program.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/convert.h"
#include "base/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    (void)base::Format(text, 42, -7, 3.25, "abc", int64_t{-1});
  } catch (const base::EFormatError&) {
  }
  (void)base::TryStrToInt(text);
  (void)base::TryStrToInt64(text);
  return 0;
}
