// The clipboard forms of a run of buffer bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hexedit {

// The private clipboard format of the hex editor: a 32-bit little-endian byte count
// followed by the bytes.
inline constexpr const char* kHexTextFormat = "CF_HexText";

std::vector<unsigned char> MakeHexTextPayload(std::span<const uint8_t> bytes);
// The bytes of a payload; a count larger than the bytes present is cut to them, and a
// payload shorter than its count field gives nothing.
std::optional<std::vector<uint8_t>> ParseHexTextPayload(std::span<const unsigned char> payload);

}  // namespace hexedit
