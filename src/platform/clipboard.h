// The clipboard as the models see it: named formats, each a block of bytes. The GUI binds
// it to the system clipboard; until then (command line, tests) a process-wide in-memory
// clipboard stands in, so copy and paste work between the models of one run.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The plain-text format; its bytes are the text without a terminating zero.
inline constexpr const char* kClipboardText = "text/plain";

class IClipboard {
 public:
  using TItems = std::vector<std::pair<std::string, std::vector<unsigned char>>>;
  virtual ~IClipboard() = default;
  // Replaces the whole content with these formats.
  virtual void SetItems(TItems items) = 0;
  // The bytes of one format, or nothing when the clipboard does not hold it.
  virtual std::optional<std::vector<unsigned char>> Item(const std::string& format) const = 0;
};

class TMemoryClipboard final : public IClipboard {
 public:
  void SetItems(TItems items) override {
    items_.clear();
    for (auto& [format, bytes] : items) items_[format] = std::move(bytes);
  }
  std::optional<std::vector<unsigned char>> Item(const std::string& format) const override {
    const auto it = items_.find(format);
    if (it == items_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::vector<unsigned char>> items_;
};

namespace detail {
inline IClipboard*& InstalledClipboard() {
  static IClipboard* installed = nullptr;
  return installed;
}
inline TMemoryClipboard& MemoryClipboard() {
  static TMemoryClipboard clipboard;
  return clipboard;
}
}  // namespace detail

// The process-wide clipboard (user-interface thread only).
inline IClipboard& Clipboard() {
  IClipboard* c = detail::InstalledClipboard();
  return c ? *c : detail::MemoryClipboard();
}
// Not owned; nullptr restores the in-memory clipboard.
inline void SetClipboard(IClipboard* clipboard) { detail::InstalledClipboard() = clipboard; }

}  // namespace platform
