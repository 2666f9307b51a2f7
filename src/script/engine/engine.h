// The script engine: a compiler for the Pascal-like script language that turns a source
// text into a compact byte code, and an executor (virtual machine) that runs that byte
// code on the calling thread. It offers the compiler and executor operations the script
// runner needs: a unit callback (the compiler asks for "SYSTEM" on its own; any other unit in
// `uses` is a compile error unless the callback declares it), host routines declared from
// their declaration texts verbatim and bound in the executor by upper-case name and call
// shape, messages with kind and position, byte code fetch and load, run, stop and pause
// (honoured within a millisecond: checked at every backward jump and every call), and,
// after a run, the exception code, its text, the procedure number and the position.
//
// The language: see docs in src/script/engine/README.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace script::engine {

// ---------------------------------------------------------------------------------------
// Compiler

enum class TMessageKind { Error, Warning, Hint };

struct TCompilerMessage {
  TMessageKind kind = TMessageKind::Error;
  std::string text;
  int line = 1;    // 1-based
  int column = 1;  // 1-based, in characters (bytes) of the line
  int offset = 0;  // 0-based character offset in the source text (what an editor's caret takes)

  bool IsError() const { return kind == TMessageKind::Error; }
  // "[Error] (3:5): Unknown identifier 'X'", "[Hint] (2:5): Variable 'I' never used", ...
  std::string ToString() const;
};

// The limits of the compiler; nesting deeper than kMaxNesting (statements inside
// statements, parentheses, operators, type constructors) is a compile error.
struct TCompilerLimits {
  static constexpr int kMaxNesting = 128;
  static constexpr int kMaxSourceBytes = 16 * 1024 * 1024;
};

class TCompiler {
 public:
  // Called with the unit name in upper case. The compiler calls it with "SYSTEM" at the
  // start of every compile; `uses` asks for every other unit. Answer true when the unit was
  // declared (for SYSTEM: after declaring the routines with AddRoutine). For an unknown unit
  // answer false (ReportError may give the message; otherwise the compiler gives one).
  using TUnitCallback = std::function<bool(TCompiler&, const std::string& unitName)>;

  TCompiler();
  ~TCompiler();
  TCompiler(const TCompiler&) = delete;
  TCompiler& operator=(const TCompiler&) = delete;

  void SetUnitCallback(TUnitCallback callback);

  // Declares a host routine from its declaration text, e.g. "procedure Out1_hi;" or
  // "function ReadByteI2C(var data: byte): boolean;". Parameter types: Byte, ShortInt, Word,
  // SmallInt, Integer/LongInt, Cardinal/LongWord, Int64, Boolean, Char, String,
  // Single/Double/Extended/Real, and "array of T" of those; modes: value, var, const, out.
  // Returns false (and adds an error message) for a text it cannot read or a duplicate name.
  // Normally called from the unit callback for "SYSTEM"; may also be called before Compile.
  bool AddRoutine(std::string_view declaration);

  // The standard library (IntToStr, Copy, Format, ...) is built into the language; this
  // call exists so that callers can keep the usual declare sequence and does nothing.
  void DeclareStandardLibrary() {}

  // For the unit callback: adds an error message at the position of the unit name.
  void ReportError(std::string text);

  // Compiles a whole program. Returns true when no error was found (hints and warnings may
  // be present). The compiler stops at the first error.
  bool Compile(std::string_view source);

  const std::vector<TCompilerMessage>& Messages() const;

  // The byte code of the last successful compile; false when there is none.
  bool GetByteCode(std::string& out) const;

 private:
  friend struct TCallShape;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The call shape of a routine: whether it returns a value and, per parameter, whether it
// is passed as a variable (var/out) rather than by value (value/const).
struct TCallShape {
  bool isFunction = false;
  std::vector<bool> byRef;

  bool operator==(const TCallShape&) const = default;
  // Reads a declaration text as AddRoutine does; name (optional) receives the routine's
  // name as written.
  static std::optional<TCallShape> FromDeclaration(std::string_view declaration,
                                                   std::string* name = nullptr);
};

// ---------------------------------------------------------------------------------------
// Executor

// Exception codes after a run (0: none).
enum class TErrorCode : int {
  None = 0,
  Exception = 1,      // raised by the script (raise Exception.Create(...)) or a host routine
  DivByZero = 2,      // integer division or modulo by zero
  RangeError = 3,     // array or string index out of range
  ConvertError = 4,   // StrToInt and friends
  StackOverflow = 5,  // recursion deeper than the executor's limits
  OutOfMemory = 6,    // a string or array larger than the engine allows
  InvalidOp = 7,      // invalid floating-point operation (Sqrt(-1), Trunc(1e300), ...)
  ZeroDivide = 8,     // floating-point division by zero
  FormatError = 9,    // Format string that does not fit its arguments
  HostError = 10,     // a host routine failed (threw a C++ exception)
  Internal = 11,      // corrupt byte code detected while running
};

// The text an editor shows for a code, e.g. "Division by zero".
std::string ErrorCodeText(TErrorCode code);

// Load errors (TExecutor::LoadByteCode): 0 = loaded.
enum class TLoadError : int {
  None = 0,
  BadHeader = 1,  // not byte code of this engine, or a different version
  Corrupt = 2,    // check sum or structure wrong
  UnboundRoutine = 3,
  ShapeMismatch = 4,  // a routine is bound with another call shape than it was declared with
  Busy = 5,           // a run is in progress
};

enum class TRunState { Idle, Running, Finished, Stopped, Paused, Raised };

class TExecutor;
struct TImportInfo;
union TValue;

// What a host routine sees of its call. Parameters are numbered from 0 in declaration
// order. Reading works for value and var parameters; Set* works for var parameters (the
// value is converted to the declared type, e.g. truncated to a Byte). A function sets its
// result with the Result* call that fits its declared result type.
class THostCall {
 public:
  int ArgCount() const;
  int64_t Int(int i) const;  // any ordinal (integer types, Boolean, Char)
  bool Bool(int i) const { return Int(i) != 0; }
  double Real(int i) const;  // real types, or an ordinal converted
  std::string_view Str(int i) const;
  // Arrays ("array of T" parameters).
  int ArrayLength(int i) const;
  int64_t ArrayInt(int i, int index) const;
  double ArrayReal(int i, int index) const;
  std::string_view ArrayStr(int i, int index) const;
  void SetArrayInt(int i, int index, int64_t v);

  void SetInt(int i, int64_t v);
  void SetBool(int i, bool v) { SetInt(i, v ? 1 : 0); }
  void SetReal(int i, double v);
  void SetStr(int i, std::string_view v);

  void ResultInt(int64_t v);
  void ResultBool(bool v) { ResultInt(v ? 1 : 0); }
  void ResultReal(double v);
  void ResultStr(std::string_view v);

  // Raises a script exception when the routine returns (code Exception, text as given).
  void Raise(std::string message);

  TExecutor& Executor() const { return *exec_; }
  void* User() const { return user_; }

 private:
  friend class TExecutor;
  THostCall(TExecutor* exec, TValue* base, const TImportInfo* info, void* user)
      : exec_(exec), base_(base), info_(info), user_(user) {}
  TValue* Slot(int i) const;
  TExecutor* exec_;
  TValue* base_;
  const TImportInfo* info_;
  void* user_;
  std::string raise_;
  bool raised_ = false;
};

using THostFn = void (*)(THostCall& call);

class TExecutor {
 public:
  TExecutor();
  ~TExecutor();
  TExecutor(const TExecutor&) = delete;
  TExecutor& operator=(const TExecutor&) = delete;

  // Binds a host routine under its name (compared in upper case) with its call shape.
  // Returns false for an empty name. A later Bind of the same name replaces the earlier.
  bool Bind(std::string_view upperName, const TCallShape& shape, THostFn fn, void* user = nullptr);
  // The same with any callable (one std::function call per routine call).
  bool BindFunction(std::string_view upperName, const TCallShape& shape,
                    std::function<void(THostCall&)> fn);
  // The run-time library is built in; kept for the usual bind sequence.
  void BindStandardLibrary() {}

  // Loads byte code from TCompiler::GetByteCode; every imported routine must be bound with
  // the shape it was declared with. Returns a TLoadError as int (0 = loaded).
  int LoadByteCode(std::string_view data);

  // Sizes of the value stack (8-byte slots) and the call stack; a run that needs more ends
  // with StackOverflow. Defaults: 4 Mi slots, 20000 calls.
  void SetLimits(int maxSlots, int maxCallDepth);

  // Runs the main program on the calling thread from its start. Returns true when the run
  // ended without an unhandled exception: finished, stopped or paused.
  bool Run();
  // Continues a paused run where it paused.
  bool Resume();

  // From any thread: end the running script at its next check (every backward jump and
  // every call; Sleep checks every millisecond). Stop ends it for good; Pause ends the
  // current Run so that Resume can continue it. A request made before Run starts ends that
  // run at its first check; the request is cleared when Run or Resume returns.
  void Stop();
  void Pause();
  bool StopRequested() const { return request_.load(std::memory_order_relaxed) != 0; }

  TRunState State() const { return state_; }

  // After a run: the exception code (TErrorCode as int, 0 = none), its message text, the
  // number of the procedure it happened in (0 = main program, then the routines in the
  // order of their bodies), that procedure's name, and the position (0-based character
  // offset in the source, and line and column).
  int ExceptionCode() const { return static_cast<int>(excCode_); }
  const std::string& ExceptionText() const { return excText_; }
  int ExceptionProcNo() const { return excProc_; }
  std::string ExceptionProcName() const;
  int ExceptionPos() const { return excPos_; }
  int ExceptionLine() const { return excLine_; }
  int ExceptionColumn() const { return excCol_; }

 private:
  friend class THostCall;
  struct Impl;
  bool Execute(bool resume);
  std::unique_ptr<Impl> impl_;
  std::atomic<int> request_{0};  // 0 none, 1 stop, 2 pause
  TRunState state_ = TRunState::Idle;
  TErrorCode excCode_ = TErrorCode::None;
  std::string excText_;
  int excProc_ = 0;
  int excPos_ = 0;
  int excLine_ = 0;
  int excCol_ = 0;
};

}  // namespace script::engine
