// The process priority class switch used around timing-critical code.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

enum class TPriorityClass : uint32_t { Normal = 0x20, High = 0x80, RealTime = 0x100 };

// Records the switch and, when system priorities are enabled, applies it: real time is
// SCHED_FIFO where permitted, high a lowered nice value where permitted; otherwise the
// process keeps its scheduling. Returns whether the system accepted it (always true while
// system priorities are disabled).
bool SetPriorityClass(TPriorityClass cls);

// Off by default; the hardware back ends turn it on. The bench runs in virtual time and
// must not starve the machine.
void EnableSystemPriorities(bool on);

// The most recent switches (at most 4096, oldest dropped) so tests can assert sequences.
std::vector<TPriorityClass> PriorityLog();
void ClearPriorityLog();
TPriorityClass CurrentPriorityClass();

}  // namespace platform
