#include "sim/lines.h"

#include <cctype>

namespace sim {

namespace {
constexpr const char* kNames[kLineCount] = {"Out1", "Out2", "Out3",  "Out4", "Out5", "Out6",
                                            "Out7", "Out8", "Power", "RTS",  "DTR",  "TXD",
                                            "In1",  "In2",  "In3",   "In4",  "CTS",  "StopBtn"};
}

const char* LineName(TLine line) {
  const auto i = static_cast<unsigned>(line);
  return i < kLineCount ? kNames[i] : "?";
}

std::optional<TLine> LineByName(std::string_view name) {
  for (unsigned i = 0; i < kLineCount; ++i) {
    std::string_view n = kNames[i];
    if (n.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < n.size() && same; ++k)
      same = std::tolower(static_cast<unsigned char>(n[k])) ==
             std::tolower(static_cast<unsigned char>(name[k]));
    if (same) return static_cast<TLine>(i);
  }
  return std::nullopt;
}

}  // namespace sim
