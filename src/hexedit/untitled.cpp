#include "hexedit/untitled.h"

#include <atomic>

namespace hexedit {

namespace {
std::atomic<unsigned> g_untitledCounter{0};
}  // namespace

std::string NewUntitledName() {
  return "Untitled" + std::to_string(g_untitledCounter.fetch_add(1) + 1);
}

bool IsUntitledName(std::string_view name) { return name.starts_with("Untitled"); }

}  // namespace hexedit
