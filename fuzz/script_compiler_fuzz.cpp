// Arbitrary text through the script compiler: it must neither crash nor hang, whatever it
// gets (nesting beyond the compiler's limit is a compile error, not a deep recursion).
// Programs that compile are also loaded, and run with small limits and a bounded time, so
// that the byte code and the machine see the same inputs.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "script/engine/engine.h"

using namespace script::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  TCompiler comp;
  comp.SetUnitCallback([](TCompiler& c, const std::string& unit) {
    if (unit != "SYSTEM") {
      c.ReportError("Unknown unit");
      return false;
    }
    c.AddRoutine("procedure AddMsgDebug(const S: string);");
    c.AddRoutine("function ReadByteI2C(Address: Word; var Data: Byte): Boolean;");
    return true;
  });
  if (!comp.Compile(text)) return 0;
  for (const auto& m : comp.Messages()) (void)m.ToString();
  std::string code;
  if (!comp.GetByteCode(code)) __builtin_trap();
  TExecutor exec;
  exec.BindFunction("ADDMSGDEBUG", TCallShape{false, {false}},
                    [](THostCall& h) { (void)h.Str(0); });
  exec.BindFunction("READBYTEI2C", TCallShape{true, {false, true}}, [](THostCall& h) {
    h.SetInt(1, h.Int(0));
    h.ResultBool(true);
  });
  if (exec.LoadByteCode(code) != 0) __builtin_trap();
  exec.SetLimits(1 << 16, 200);
  // A run that loops is stopped after a few milliseconds.
  std::mutex mu;
  std::condition_variable cv;
  bool finished = false;
  std::thread stopper([&] {
    std::unique_lock<std::mutex> lock(mu);
    if (!cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return finished; })) exec.Stop();
  });
  exec.Run();
  {
    std::lock_guard<std::mutex> lock(mu);
    finished = true;
  }
  cv.notify_one();
  stopper.join();
  return 0;
}
