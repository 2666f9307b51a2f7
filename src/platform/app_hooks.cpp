#include "platform/app_hooks.h"

namespace platform {

namespace {
std::function<void()>& Handler() {
  static std::function<void()> handler;
  return handler;
}
}  // namespace

void ProcessMessages() {
  if (auto& h = Handler()) h();
}

void SetProcessMessagesHandler(std::function<void()> handler) { Handler() = std::move(handler); }

}  // namespace platform
