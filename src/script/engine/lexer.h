// Tokens of the script language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace script::engine {

enum class TTok : uint8_t {
  Eof,
  Ident,
  Int,
  Real,
  Str,  // string literal (also single characters: `ival` is the char when `isChar`)
  // symbols
  Plus,
  Minus,
  Star,
  Slash,
  Eq,
  Ne,
  Lt,
  Gt,
  Le,
  Ge,
  LParen,
  RParen,
  LBrack,
  RBrack,
  Dot,
  Comma,
  Semi,
  Colon,
  Assign,
  DotDot,
  Caret,
  At,
  // keywords
  kAnd,
  kArray,
  kBegin,
  kCase,
  kConst,
  kDiv,
  kDo,
  kDownto,
  kElse,
  kEnd,
  kExcept,
  kExit,
  kFinally,
  kFor,
  kForward,
  kFunction,
  kIf,
  kIn,
  kMod,
  kNot,
  kOf,
  kOn,
  kOr,
  kOut,
  kProcedure,
  kProgram,
  kRaise,
  kRecord,
  kRepeat,
  kShl,
  kShr,
  kThen,
  kTo,
  kTry,
  kType,
  kUntil,
  kUses,
  kVar,
  kWhile,
  kWith,
  kXor,
  kBreak,
  kContinue,
  kGoto,
  kLabel,
  kSet,
  kFile,
  kClass,
  kUnit,
  kInterface,
  kImplementation,
  kNil,
  kPacked
};

struct TToken {
  TTok kind = TTok::Eof;
  std::string text;  // identifiers: upper case; string literals: the value
  std::string orig;  // identifiers as written
  int64_t ival = 0;
  double fval = 0;
  bool isChar = false;
  int offset = 0;
};

class TLexer {
 public:
  explicit TLexer(std::string_view src) : src_(src) {}
  // Reads the next token; false with `error` set on a lexical error.
  bool Next(TToken& t, std::string& error, int& errorOffset);

 private:
  bool SkipBlanks(std::string& error, int& errorOffset);
  std::string_view src_;
  size_t p_ = 0;
};

const char* TokName(TTok t);

}  // namespace script::engine
