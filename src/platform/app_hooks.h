// What long-running model code asks of the application around it.
#pragma once

#include <functional>

namespace platform {

// Lets the application handle its pending events once (repaints, a Cancel click).
// Device operations call it after every cell. Without a handler it does nothing.
void ProcessMessages();
void SetProcessMessagesHandler(std::function<void()> handler);

}  // namespace platform
