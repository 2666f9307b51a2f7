#include "script/engine/script_test_util.h"

namespace script_test {

using namespace script::engine;

namespace {

constexpr const char* kAddMsgDebug = "procedure AddMsgDebug(const S: string);";

void DeclareSystem(TCompiler& c) {
  c.SetUnitCallback([](TCompiler& comp, const std::string& unit) {
    if (unit != "SYSTEM") return false;
    comp.AddRoutine(kAddMsgDebug);
    return true;
  });
}

}  // namespace

TRunResult RunScript(const std::string& source) {
  TRunResult r;
  TCompiler comp;
  DeclareSystem(comp);
  r.compiled = comp.Compile(source);
  r.messages = comp.Messages();
  if (!r.compiled) return r;
  std::string code;
  if (!comp.GetByteCode(code)) return r;
  TExecutor exec;
  exec.BindFunction("ADDMSGDEBUG", *TCallShape::FromDeclaration(kAddMsgDebug),
                    [&r](THostCall& call) { r.output += std::string(call.Str(0)) + "\n"; });
  if (exec.LoadByteCode(code) != 0) return r;
  r.ran = exec.Run();
  r.excCode = exec.ExceptionCode();
  r.excText = exec.ExceptionText();
  r.excProc = exec.ExceptionProcNo();
  r.excLine = exec.ExceptionLine();
  r.excCol = exec.ExceptionColumn();
  return r;
}

std::string CompileError(const std::string& source) {
  TCompiler comp;
  DeclareSystem(comp);
  if (comp.Compile(source)) return "";
  for (const auto& m : comp.Messages())
    if (m.IsError()) return m.text;
  return "(no error message)";
}

}  // namespace script_test
