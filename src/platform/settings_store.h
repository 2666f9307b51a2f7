// The program's settings under its key "Software\Dravon\Varnix2.2": sections are subkeys,
// integers are decimal text, window rectangles 16-byte binary values directly under the
// key. Kept in one text file (one "[key]" header per section, then "name"="text" or
// "name"=hex:.. lines) written atomically; a store without a file serves the tests.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

inline constexpr const char* kProgramKey = "Software\\Dravon\\Varnix2.2";

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect&) const = default;
};

class TSettingsStore {
 public:
  // $XDG_CONFIG_HOME (default ~/.config) + "/varnix/Varnix2.2.conf".
  static std::string DefaultPath();

  // Reads `path`. A missing file is an empty store; a line that cannot be read is skipped
  // and `warning` names the file and the lines. Returns false only when the file exists
  // but cannot be read at all (then the store is empty and `warning` says why).
  bool Load(const std::string& path, std::string* warning);
  // Writes to the path Load was given (a temporary file renamed over the old one, so a
  // failed write leaves the old file as it was). False with `reason` when it cannot.
  bool Save(std::string* reason) const;
  bool SaveTo(const std::string& path, std::string* reason) const;
  const std::string& Path() const { return path_; }

  // `section` is relative to the program key; "" is the key itself.
  bool ValueExists(const std::string& section, const std::string& name) const;
  std::optional<std::string> ReadString(const std::string& section, const std::string& name) const;
  std::string ReadString(const std::string& section, const std::string& name,
                         const std::string& def) const;
  // The default applies when the value is missing or its text is not a decimal number.
  int64_t ReadInteger(const std::string& section, const std::string& name, int64_t def) const;
  std::optional<std::vector<uint8_t>> ReadBinary(const std::string& section,
                                                 const std::string& name) const;
  void WriteString(const std::string& section, const std::string& name, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& name, int64_t value);
  void WriteBinary(const std::string& section, const std::string& name,
                   const std::vector<uint8_t>& value);
  void DeleteValue(const std::string& section, const std::string& name);

  // Window rectangles: 16 bytes, left, top, right, bottom as little-endian int32.
  std::optional<TRect> ReadRect(const std::string& name) const;
  void WriteRect(const std::string& name, const TRect& rect);

 private:
  using TValue = std::variant<std::string, std::vector<uint8_t>>;
  std::map<std::string, std::map<std::string, TValue>> sections_;
  std::string path_;
};

}  // namespace platform
