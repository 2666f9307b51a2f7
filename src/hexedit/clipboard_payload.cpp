#include "hexedit/clipboard_payload.h"

#include <algorithm>

namespace hexedit {

std::vector<unsigned char> MakeHexTextPayload(std::span<const uint8_t> bytes) {
  std::vector<unsigned char> p(4 + bytes.size());
  const auto n = static_cast<uint32_t>(bytes.size());
  for (int i = 0; i < 4; ++i) p[static_cast<size_t>(i)] = static_cast<unsigned char>(n >> (8 * i));
  std::copy(bytes.begin(), bytes.end(), p.begin() + 4);
  return p;
}

std::optional<std::vector<uint8_t>> ParseHexTextPayload(std::span<const unsigned char> payload) {
  if (payload.size() < 4) return std::nullopt;
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | payload[static_cast<size_t>(i)];
  const size_t k = std::min<size_t>(n, payload.size() - 4);
  return std::vector<uint8_t>(payload.begin() + 4, payload.begin() + 4 + static_cast<ptrdiff_t>(k));
}

}  // namespace hexedit
