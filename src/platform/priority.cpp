#include "platform/priority.h"

#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <deque>
#include <mutex>

namespace platform {

namespace {

constexpr size_t kLogLimit = 4096;

std::mutex g_mutex;
std::deque<TPriorityClass> g_log;
std::atomic<bool> g_system{false};
std::atomic<TPriorityClass> g_current{TPriorityClass::Normal};

bool ApplyToSystem(TPriorityClass cls) {
  sched_param sp{};
  switch (cls) {
    case TPriorityClass::RealTime:
      sp.sched_priority = sched_get_priority_min(SCHED_FIFO);
      if (sched_setscheduler(0, SCHED_FIFO, &sp) == 0) return true;
      // Not permitted: the best we may have is a raised nice value.
      return setpriority(PRIO_PROCESS, 0, -10) == 0;
    case TPriorityClass::High:
      sp.sched_priority = 0;
      sched_setscheduler(0, SCHED_OTHER, &sp);
      return setpriority(PRIO_PROCESS, 0, -5) == 0;
    case TPriorityClass::Normal:
      sp.sched_priority = 0;
      sched_setscheduler(0, SCHED_OTHER, &sp);
      return setpriority(PRIO_PROCESS, 0, 0) == 0;
  }
  return false;
}

}  // namespace

bool SetPriorityClass(TPriorityClass cls) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.push_back(cls);
    if (g_log.size() > kLogLimit) g_log.pop_front();
  }
  g_current.store(cls, std::memory_order_relaxed);
  return g_system.load(std::memory_order_relaxed) ? ApplyToSystem(cls) : true;
}

void EnableSystemPriorities(bool on) { g_system.store(on, std::memory_order_relaxed); }

std::vector<TPriorityClass> PriorityLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return {g_log.begin(), g_log.end()};
}

void ClearPriorityLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log.clear();
}

TPriorityClass CurrentPriorityClass() { return g_current.load(std::memory_order_relaxed); }

}  // namespace platform
