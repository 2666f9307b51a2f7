// Helpers for the script engine tests: compile and run a program whose output goes through
// the host routine AddMsgDebug.
#pragma once

#include <string>
#include <vector>

#include "script/engine/engine.h"

namespace script_test {

struct TRunResult {
  bool compiled = false;
  bool ran = false;
  std::vector<script::engine::TCompilerMessage> messages;
  std::string output;  // AddMsgDebug lines, each ending in '\n'
  int excCode = 0;
  std::string excText;
  int excProc = 0;
  int excLine = 0;
  int excCol = 0;
};

// Declares AddMsgDebug for SYSTEM (plus `extraDecls`) and runs the program.
TRunResult RunScript(const std::string& source);

// Compiles with AddMsgDebug declared; returns the first error text ("" when it compiled).
std::string CompileError(const std::string& source);

}  // namespace script_test
