#include "script/engine/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "script/engine/script_test_util.h"

namespace {

using namespace script::engine;
using script_test::CompileError;
using script_test::RunScript;

TEST(ScriptEngine, UnitCallbackIsAskedForSystemAndRefusesForeignUnits) {
  std::vector<std::string> asked;
  TCompiler c;
  c.SetUnitCallback([&](TCompiler& comp, const std::string& unit) {
    asked.push_back(unit);
    if (unit == "SYSTEM") return comp.AddRoutine("procedure Out1_hi;");
    comp.ReportError("Unknown unit " + unit);
    return false;
  });
  EXPECT_TRUE(c.Compile("program P; uses System; begin Out1_hi; end."));
  EXPECT_EQ(asked, std::vector<std::string>{"SYSTEM"});
  asked.clear();
  EXPECT_FALSE(c.Compile("program P;\nuses Windows;\nbegin end."));
  EXPECT_EQ(asked, (std::vector<std::string>{"SYSTEM", "WINDOWS"}));
  ASSERT_FALSE(c.Messages().empty());
  const TCompilerMessage& m = c.Messages().back();
  EXPECT_TRUE(m.IsError());
  EXPECT_EQ(m.text, "Unknown unit WINDOWS");
  EXPECT_EQ(m.line, 2);
  EXPECT_EQ(m.column, 6);
  EXPECT_EQ(m.offset, 16);
  std::string code;
  EXPECT_FALSE(c.GetByteCode(code));
  // Without a message from the callback the compiler gives its own.
  TCompiler d;
  d.SetUnitCallback([](TCompiler&, const std::string& u) { return u == "SYSTEM"; });
  EXPECT_FALSE(d.Compile("uses Foo; begin end."));
  EXPECT_EQ(d.Messages().back().text, "Unknown unit 'Foo'");
}

// Declarations as the function library writes them, character for character.
const char* const kLibraryDecls[] = {
    "procedure AddMsg( msg: string );",
    "function GetSizeHexEdit: integer;",
    "procedure SetByteHexEdit( offset: integer; value: byte );",
    "function ReadPort( address: word ): integer;",
    "function IntToHex( Value: Integer; Digits: Integer ): string;",
    "function ConfigCom( baud:integer; data, parity, stop: byte ): boolean;",
    "function  ReadByteCom( var data: Byte ): boolean;",
    "function GetSample( pos: integer; var In1, In2, In3, In4: boolean ): boolean;",
    "procedure ConfigI2C( ClockTime, WriteTime: integer );",
    "function ReadByteI2C(Address: Word; var Data: Byte): Boolean;",
    "procedure Out1_hi;",
};

TEST(ScriptEngine, DeclarationTextsGiveCallShapes) {
  struct Case {
    const char* decl;
    bool isFunction;
    std::vector<bool> byRef;
    const char* name;
  };
  const Case cases[] = {
      {"procedure Out1_hi;", false, {}, "Out1_hi"},
      {"function  ReadByteCom( var data: Byte ): boolean;", true, {true}, "ReadByteCom"},
      {"function GetSample( pos: integer; var In1, In2, In3, In4: boolean ): boolean;",
       true,
       {false, true, true, true, true},
       "GetSample"},
      {"procedure P(const s: string; out x: Double; a: array of Byte);",
       false,
       {false, true, false},
       "P"},
  };
  for (const Case& c : cases) {
    std::string name;
    const auto shape = TCallShape::FromDeclaration(c.decl, &name);
    ASSERT_TRUE(shape) << c.decl;
    EXPECT_EQ(shape->isFunction, c.isFunction) << c.decl;
    EXPECT_EQ(shape->byRef, c.byRef) << c.decl;
    EXPECT_EQ(name, c.name);
  }
  for (const char* bad : {"procedure;", "function F(x: TFoo): Integer;", "begin end",
                          "procedure P(x: Integer", "function F: record end;"})
    EXPECT_FALSE(TCallShape::FromDeclaration(bad)) << bad;
  TCompiler c;
  EXPECT_FALSE(c.AddRoutine("procedure Broken(;"));
  EXPECT_TRUE(c.Messages().back().IsError());
}

TEST(ScriptEngine, HostRoutinesGetArgumentsAndSetVariables) {
  TCompiler c;
  c.SetUnitCallback([](TCompiler& comp, const std::string& unit) {
    if (unit != "SYSTEM") return false;
    for (const char* d : kLibraryDecls) EXPECT_TRUE(comp.AddRoutine(d)) << d;
    comp.AddRoutine("procedure AddMsgDebug(const S: string);");
    comp.DeclareStandardLibrary();
    return true;
  });
  const char* src = R"(program Prog1;
var d: Byte; a, b, x, y: Boolean; s: string;
begin
  if ReadByteI2C($A0, d) then AddMsgDebug('read ' + IntToStr(d));
  if GetSample(3, a, b, x, y) and a and not b and x and not y then AddMsgDebug('sample');
  s := IntToHex(255, 4);
  AddMsg(s + '/' + IntToStr(GetSizeHexEdit));
  Out1_hi;
end.)";
  ASSERT_TRUE(c.Compile(src)) << c.Messages().back().ToString();
  std::string code;
  ASSERT_TRUE(c.GetByteCode(code));

  std::vector<std::string> log;
  TExecutor e;
  auto bind = [&](const char* upper, const char* decl, std::function<void(THostCall&)> fn) {
    ASSERT_TRUE(e.BindFunction(upper, *TCallShape::FromDeclaration(decl), std::move(fn)));
  };
  bind("READBYTEI2C", "function ReadByteI2C(Address: Word; var Data: Byte): Boolean;",
       [&](THostCall& h) {
         EXPECT_EQ(h.Int(0), 0xA0);
         h.SetInt(1, 0x1FF);  // truncated to the Byte
         h.ResultBool(true);
       });
  bind("GETSAMPLE", kLibraryDecls[7], [&](THostCall& h) {
    EXPECT_EQ(h.ArgCount(), 5);
    EXPECT_EQ(h.Int(0), 3);
    h.SetBool(1, true);
    h.SetBool(2, false);
    h.SetBool(3, true);
    h.SetBool(4, false);
    h.ResultBool(true);
  });
  bind("INTTOHEX", kLibraryDecls[4], [&](THostCall& h) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", static_cast<int>(h.Int(1)),
                  static_cast<unsigned long long>(h.Int(0)));
    h.ResultStr(buf);
  });
  bind("ADDMSG", kLibraryDecls[0], [&](THostCall& h) { log.emplace_back(h.Str(0)); });
  bind("GETSIZEHEXEDIT", kLibraryDecls[1], [&](THostCall& h) { h.ResultInt(256); });
  bind("OUT1_HI", "procedure Out1_hi;", [&](THostCall&) { log.emplace_back("out1"); });
  bind("ADDMSGDEBUG", "procedure AddMsgDebug(const S: string);",
       [&](THostCall& h) { log.emplace_back(h.Str(0)); });
  // Routines that the program does not call need not be bound.
  ASSERT_EQ(e.LoadByteCode(code), 0);
  ASSERT_TRUE(e.Run());
  EXPECT_EQ(log, (std::vector<std::string>{"read 255", "sample", "00FF/256", "out1"}));
  EXPECT_EQ(e.State(), TRunState::Finished);

  // Loading checks the bindings.
  TExecutor unbound;
  EXPECT_EQ(unbound.LoadByteCode(code), static_cast<int>(TLoadError::UnboundRoutine));
  TExecutor wrongShape;
  for (const char* n :
       {"GETSAMPLE", "INTTOHEX", "ADDMSG", "GETSIZEHEXEDIT", "OUT1_HI", "ADDMSGDEBUG"})
    wrongShape.BindFunction(n, TCallShape{}, [](THostCall&) {});
  wrongShape.BindFunction("READBYTEI2C", TCallShape{true, {false, false}}, [](THostCall&) {});
  EXPECT_EQ(wrongShape.LoadByteCode(code), static_cast<int>(TLoadError::ShapeMismatch));
}

TEST(ScriptEngine, ByteCodeRoundTripAndCorruption) {
  TCompiler c;
  c.SetUnitCallback([](TCompiler&, const std::string& u) { return u == "SYSTEM"; });
  ASSERT_TRUE(c.Compile("var i: Integer; begin for i := 1 to 10 do ; end."));
  std::string code;
  ASSERT_TRUE(c.GetByteCode(code));
  TExecutor e;
  EXPECT_EQ(e.LoadByteCode(code), 0);
  EXPECT_TRUE(e.Run());
  EXPECT_EQ(e.LoadByteCode("not byte code"), static_cast<int>(TLoadError::BadHeader));
  EXPECT_EQ(e.LoadByteCode(""), static_cast<int>(TLoadError::BadHeader));
  for (size_t i = 8; i < code.size(); i += 7) {
    std::string bad = code;
    bad[i] = static_cast<char>(bad[i] ^ 0x5A);
    EXPECT_NE(e.LoadByteCode(bad), 0) << "byte " << i;
  }
  EXPECT_NE(e.LoadByteCode(code.substr(0, code.size() - 1)), 0);
  EXPECT_FALSE(e.Run());  // nothing loaded
}

TEST(ScriptEngine, MessagesCarryKindAndPosition) {
  TCompiler c;
  ASSERT_TRUE(
      c.Compile("program P;\nvar unused: Integer;\nfunction F: Integer;\nbegin\nend;\n"
                "begin\n  F;\nend."));
  ASSERT_EQ(c.Messages().size(), 2u);
  const auto& w = c.Messages()[0];
  EXPECT_EQ(w.kind, TMessageKind::Warning);
  EXPECT_EQ(w.line, 3);
  const auto& h = c.Messages()[1];
  EXPECT_EQ(h.kind, TMessageKind::Hint);
  EXPECT_EQ(h.text, "Variable 'unused' never used");
  EXPECT_EQ(h.ToString(), "[Hint] (2:5): Variable 'unused' never used");
  EXPECT_EQ(h.offset, 15);
  // A script that only compiles with hints still runs.
  const auto r = RunScript("var x: Integer; begin AddMsgDebug('run'); end.");
  EXPECT_TRUE(r.compiled);
  EXPECT_TRUE(r.ran);
  EXPECT_EQ(r.output, "run\n");
}

TEST(ScriptEngine, CompileErrorsAreReported) {
  struct Case {
    const char* src;
    const char* error;
  };
  const Case cases[] = {
      {"begin x := 1; end.", "Unknown identifier 'x'"},
      {"var i: Integer; begin i := 'ab'; end.",
       "Incompatible types in assignment: got 'String', expected 'Integer'"},
      {"var i: Integer; begin i := 1 i := 2; end.", "';' expected but identifier 'i' found"},
      {"const C = 1; begin C := 2; end.", "Left side cannot be assigned to"},
      {"begin break; end.", "Break outside a loop"},
      {"procedure P(a: Integer); begin end; begin P; end.",
       "Wrong number of parameters calling 'P': 0 given, 1 expected"},
      {"procedure P(var a: Integer); begin end; begin P(1); end.", "Variable required"},
      {"begin AddMsgDebug('abc); end.", "Unterminated string"},
      {"begin { open", "Unterminated comment"},
      {"var a, A: Integer; begin end.", "Duplicate identifier 'A'"},
      {"var i: Integer; begin for i := 1 to 2 do i := 3; end.", "Can't assign to 'i'"},
      {"procedure P; forward; begin end.", "Forward declaration of 'P' not resolved"},
      {"var i: Integer; begin if i then ; end.", "Boolean expression expected but 'Integer' found"},
      {"begin i := 1 div 0; end.", "Unknown identifier 'i'"},
      {"var i: Integer; begin i := 1 div 0; end.", "Division by zero"},
      {"begin raise; end.", "'raise' without an exception outside an except block"},
      {"var a: array[1..3] of Integer; begin a[4] := 0; end.", "Index out of range"},
      {"begin end", "'.' expected but end of file found"},
      {"begin ? end.", "Illegal character '?'"},
  };
  for (const Case& c : cases) EXPECT_EQ(CompileError(c.src), c.error) << c.src;
}

TEST(ScriptEngine, NestingBeyondTheLimitIsACompileError) {
  const int deep = TCompilerLimits::kMaxNesting + 5;
  std::string parens = "var i: Integer; begin i := " + std::string(deep, '(') + "1" +
                       std::string(deep, ')') + "; end.";
  EXPECT_NE(CompileError(parens).find("Nesting too deep"), std::string::npos);
  std::string blocks = "begin ";
  for (int i = 0; i < deep; ++i) blocks += "begin ";
  for (int i = 0; i < deep; ++i) blocks += "end; ";
  blocks += "end.";
  EXPECT_NE(CompileError(blocks).find("Nesting too deep"), std::string::npos);
  std::string nots = "var b: Boolean; begin b := " + std::string();
  for (int i = 0; i < 100000; ++i) nots += "not ";
  nots += "b; end.";
  EXPECT_NE(CompileError(nots).find("Nesting too deep"), std::string::npos);
  // A long flat expression is no nesting, but a tree too deep to generate is refused too.
  std::string sum = "var i: Integer; begin i := i";
  for (int i = 0; i < 100000; ++i) sum += " + i";
  sum += "; end.";
  EXPECT_EQ(CompileError(sum), "Expression too complex");
  // Within the limits all is well.
  std::string ok = "var i: Integer; begin i := " + std::string(50, '(') + "1" +
                   std::string(50, ')') + "; AddMsgDebug(IntToStr(i)); end.";
  EXPECT_EQ(RunScript(ok).output, "1\n");
}

TEST(ScriptEngine, RunTimeErrorsReportCodeTextProcedureAndPosition) {
  struct Case {
    const char* src;
    TErrorCode code;
    const char* text;
    int proc, line, col;
  };
  const Case cases[] = {
      {"procedure A; begin end;\nprocedure B(n: Integer);\nbegin\n  AddMsgDebug(IntToStr(10 div "
       "n));\nend;\nbegin\n  B(0);\nend.",
       TErrorCode::DivByZero, "Division by zero", 2, 4, 27},
      {"var a: array of Integer;\nbegin\n  SetLength(a, 3);\n  a[3] := 1;\nend.",
       TErrorCode::RangeError, "Range check error", 0, 4, 3},
      {"var s: string; c: Char;\nbegin\n  s := 'ab';\n  c := s[0];\nend.", TErrorCode::RangeError,
       "Range check error", 0, 4, 10},
      {"function F(n: Integer): Integer;\nbegin\n  Result := F(n + 1);\nend;\nbegin\n  F(0);\nend.",
       TErrorCode::StackOverflow, "Stack overflow", 1, 3, 13},
      {"begin\n  raise Exception.Create('boom');\nend.", TErrorCode::Exception, "boom", 0, 2, 3},
      {"var i: Integer;\nbegin\n  i := StrToInt('x1');\nend.", TErrorCode::ConvertError,
       "\"x1\" is an invalid integer", 0, 3, 8},
      {"var s: string;\nbegin\n  s := Format('%d', ['a']);\nend.", TErrorCode::FormatError,
       "Format '%d' invalid or incompatible with argument", 0, 3, 8},
      {"var d: Double;\nbegin\n  d := 0;\n  d := 1 / d;\nend.", TErrorCode::ZeroDivide,
       "Floating point division by zero", 0, 4, 10},
  };
  for (const Case& c : cases) {
    const auto r = RunScript(c.src);
    ASSERT_TRUE(r.compiled) << c.src;
    EXPECT_FALSE(r.ran) << c.src;
    EXPECT_EQ(r.excCode, static_cast<int>(c.code)) << c.src;
    EXPECT_EQ(r.excText, c.text) << c.src;
    EXPECT_EQ(r.excProc, c.proc) << c.src;
    EXPECT_EQ(r.excLine, c.line) << c.src;
    EXPECT_EQ(r.excCol, c.col) << c.src;
  }
}

TEST(ScriptEngine, HostExceptionsBecomeScriptExceptions) {
  TCompiler c;
  c.SetUnitCallback([](TCompiler& comp, const std::string& u) {
    comp.AddRoutine("procedure Fail(n: Integer);");
    comp.AddRoutine("procedure AddMsgDebug(const S: string);");
    return u == "SYSTEM";
  });
  ASSERT_TRUE(c.Compile(
      "begin try Fail(1); except on E: Exception do AddMsgDebug(E.Message); end; Fail(2); end."));
  std::string code, out;
  c.GetByteCode(code);
  TExecutor e;
  e.BindFunction("FAIL", TCallShape{false, {false}}, [](THostCall& h) {
    if (h.Int(0) == 1) return h.Raise("raised by host");
    throw std::runtime_error("thrown by host");
  });
  e.BindFunction("ADDMSGDEBUG", TCallShape{false, {false}},
                 [&](THostCall& h) { out += std::string(h.Str(0)) + "\n"; });
  ASSERT_EQ(e.LoadByteCode(code), 0);
  EXPECT_FALSE(e.Run());
  EXPECT_EQ(out, "raised by host\n");
  EXPECT_EQ(e.ExceptionCode(), static_cast<int>(TErrorCode::HostError));
  EXPECT_EQ(e.ExceptionText(), "thrown by host");
}

// Compiles and loads `src` with AddMsgDebug bound to a no-op.
void Load(TExecutor& e, const std::string& src) {
  TCompiler c;
  c.SetUnitCallback([](TCompiler& comp, const std::string& u) {
    comp.AddRoutine("procedure AddMsgDebug(const S: string);");
    return u == "SYSTEM";
  });
  ASSERT_TRUE(c.Compile(src));
  std::string code;
  c.GetByteCode(code);
  e.BindFunction("ADDMSGDEBUG", TCallShape{false, {false}}, [](THostCall&) {});
  ASSERT_EQ(e.LoadByteCode(code), 0);
}

TEST(ScriptEngine, StopEndsAnEndlessLoopQuickly) {
  const char* scripts[] = {
      "begin while True do ; end.",
      "var i: Integer; begin repeat i := i + 1; until False; end.",
      "procedure P; begin end; begin while True do P; end.",
      "begin Sleep(100000); end.",
  };
  for (const char* src : scripts) {
    TExecutor e;
    Load(e, src);
    std::atomic<bool> done{false};
    std::chrono::steady_clock::time_point stoppedAt;
    std::thread t([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      stoppedAt = std::chrono::steady_clock::now();
      e.Stop();
    });
    EXPECT_TRUE(e.Run()) << src;
    const auto took = std::chrono::steady_clock::now() - stoppedAt;
    t.join();
    EXPECT_EQ(e.State(), TRunState::Stopped) << src;
    EXPECT_EQ(e.ExceptionCode(), 0);
    // The latency itself is a millisecond; this only catches a stop that is not honoured
    // (the loops never end, the Sleep would take 100 s), with room for a loaded or
    // sanitized run.
    EXPECT_LT(took, std::chrono::seconds(5)) << src;
  }
}

TEST(ScriptEngine, PauseEndsTheRunAndResumeContinuesIt) {
  TExecutor e;
  Load(e, "var i: Int64; begin while i < 30000000 do i := i + 1; end.");
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    e.Pause();
  });
  EXPECT_TRUE(e.Run());
  t.join();
  if (e.State() == TRunState::Paused) {
    EXPECT_TRUE(e.Resume());
  }
  EXPECT_EQ(e.State(), TRunState::Finished);
}

TEST(ScriptEngine, LanguageDetails) {
  struct Case {
    const char* src;
    const char* out;
  };
  const Case cases[] = {
      // case on strings
      {"var s: string; begin s := 'b'; case s of 'a': AddMsgDebug('A'); 'b': AddMsgDebug('B'); "
       "end; end.",
       "B\n"},
      // appending a string to itself and in a var parameter
      {"var s: string; procedure Add(var t: string); begin t := t + t + '!'; end; begin s := 'ab'; "
       "s := s + s; Add(s); AddMsgDebug(s); end.",
       "abababab!\n"},
      // a copy is not changed by appending to the original
      {"var s, t: string; i: Integer; begin s := 'x'; t := s; for i := 1 to 3 do s := s + 'y'; "
       "AddMsgDebug(s + '/' + t); end.",
       "xyyy/x\n"},
      // global strings appended from a procedure
      {"var g: string; procedure P; var i: Integer; begin for i := 1 to 3 do g := g + IntToStr(i); "
       "end; begin P; P; AddMsgDebug(g); end.",
       "123123\n"},
      // typed constants, global initialisers
      {"const K: Byte = 7; var v: Integer = 5; begin AddMsgDebug(IntToStr(K + v)); end.", "12\n"},
      // uses SYSTEM is fine
      {"program P; uses SYSTEM; begin AddMsgDebug('ok'); end.", "ok\n"},
      // a var parameter to a dynamic array element survives the array being resized
      {"var a: array of Integer; procedure P(var x: Integer); begin SetLength(a, 1000); x := 5; "
       "end; begin SetLength(a, 1); P(a[0]); AddMsgDebug(IntToStr(Length(a))); end.",
       "1000\n"},
      // nested exceptions and finally blocks in routines
      {"procedure P; begin try raise Exception.Create('a'); finally AddMsgDebug('f'); end; end; "
       "begin try P; except on E: Exception do AddMsgDebug(E.Message); end; end.",
       "f\na\n"},
      // exception handler with else
      {"begin try raise Exception.Create('x'); except on E: EDivByZero do AddMsgDebug('no'); else "
       "AddMsgDebug('else'); end; end.",
       "else\n"},
      // records with strings copied into arrays
      {"type TR = record s: string; n: Integer; end; var a: array[0..1] of TR; r: TR; begin r.s := "
       "'q'; r.n := 1; a[1] := r; r.s := 'z'; AddMsgDebug(a[1].s + r.s); end.",
       "qz\n"},
  };
  for (const Case& c : cases) {
    const auto r = RunScript(c.src);
    ASSERT_TRUE(r.compiled) << c.src << "\n"
                            << (r.messages.empty() ? "" : r.messages.back().ToString());
    EXPECT_TRUE(r.ran) << c.src << ": " << r.excText;
    EXPECT_EQ(r.output, c.out) << c.src;
  }
}

TEST(ScriptEngine, ExecutorRunsAgainAndCompilerCompilesAgain) {
  TExecutor e;
  Load(e, "var s: string; i: Integer; begin for i := 1 to 3 do s := s + 'x'; AddMsgDebug(s); end.");
  EXPECT_TRUE(e.Run());
  EXPECT_TRUE(e.Run());  // globals start afresh
  EXPECT_EQ(e.State(), TRunState::Finished);
}

}  // namespace
