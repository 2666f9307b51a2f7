#include "script/engine/lexer.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

namespace script::engine {

namespace {

const std::unordered_map<std::string, TTok>& Keywords() {
  static const std::unordered_map<std::string, TTok> k = {
      {"AND", TTok::kAnd},
      {"ARRAY", TTok::kArray},
      {"BEGIN", TTok::kBegin},
      {"CASE", TTok::kCase},
      {"CONST", TTok::kConst},
      {"DIV", TTok::kDiv},
      {"DO", TTok::kDo},
      {"DOWNTO", TTok::kDownto},
      {"ELSE", TTok::kElse},
      {"END", TTok::kEnd},
      {"EXCEPT", TTok::kExcept},
      {"FINALLY", TTok::kFinally},
      {"FOR", TTok::kFor},
      {"FORWARD", TTok::kForward},
      {"FUNCTION", TTok::kFunction},
      {"IF", TTok::kIf},
      {"IN", TTok::kIn},
      {"MOD", TTok::kMod},
      {"NOT", TTok::kNot},
      {"OF", TTok::kOf},
      {"ON", TTok::kOn},
      {"OR", TTok::kOr},
      {"OUT", TTok::kOut},
      {"PROCEDURE", TTok::kProcedure},
      {"PROGRAM", TTok::kProgram},
      {"RAISE", TTok::kRaise},
      {"RECORD", TTok::kRecord},
      {"REPEAT", TTok::kRepeat},
      {"SHL", TTok::kShl},
      {"SHR", TTok::kShr},
      {"THEN", TTok::kThen},
      {"TO", TTok::kTo},
      {"TRY", TTok::kTry},
      {"TYPE", TTok::kType},
      {"UNTIL", TTok::kUntil},
      {"USES", TTok::kUses},
      {"VAR", TTok::kVar},
      {"WHILE", TTok::kWhile},
      {"WITH", TTok::kWith},
      {"XOR", TTok::kXor},
      {"GOTO", TTok::kGoto},
      {"LABEL", TTok::kLabel},
      {"SET", TTok::kSet},
      {"FILE", TTok::kFile},
      {"CLASS", TTok::kClass},
      {"UNIT", TTok::kUnit},
      {"INTERFACE", TTok::kInterface},
      {"IMPLEMENTATION", TTok::kImplementation},
      {"NIL", TTok::kNil},
      {"PACKED", TTok::kPacked},
  };
  return k;
}

bool IsIdStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexVal(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const char* TokName(TTok t) {
  switch (t) {
    case TTok::Eof:
      return "end of file";
    case TTok::Ident:
      return "identifier";
    case TTok::Int:
      return "integer";
    case TTok::Real:
      return "real number";
    case TTok::Str:
      return "string";
    case TTok::Plus:
      return "'+'";
    case TTok::Minus:
      return "'-'";
    case TTok::Star:
      return "'*'";
    case TTok::Slash:
      return "'/'";
    case TTok::Eq:
      return "'='";
    case TTok::Ne:
      return "'<>'";
    case TTok::Lt:
      return "'<'";
    case TTok::Gt:
      return "'>'";
    case TTok::Le:
      return "'<='";
    case TTok::Ge:
      return "'>='";
    case TTok::LParen:
      return "'('";
    case TTok::RParen:
      return "')'";
    case TTok::LBrack:
      return "'['";
    case TTok::RBrack:
      return "']'";
    case TTok::Dot:
      return "'.'";
    case TTok::Comma:
      return "','";
    case TTok::Semi:
      return "';'";
    case TTok::Colon:
      return "':'";
    case TTok::Assign:
      return "':='";
    case TTok::DotDot:
      return "'..'";
    case TTok::Caret:
      return "'^'";
    case TTok::At:
      return "'@'";
    default:
      break;
  }
  for (const auto& [name, tok] : Keywords())
    if (tok == t) {
      static thread_local std::string buf;
      buf = "'" + name + "'";
      return buf.c_str();
    }
  return "token";
}

bool TLexer::SkipBlanks(std::string& error, int& errorOffset) {
  for (;;) {
    while (p_ < src_.size() && static_cast<unsigned char>(src_[p_]) <= ' ') ++p_;
    if (p_ >= src_.size()) return true;
    const char c = src_[p_];
    if (c == '{') {
      const size_t e = src_.find('}', p_ + 1);
      if (e == std::string_view::npos) {
        error = "Unterminated comment";
        errorOffset = static_cast<int>(p_);
        return false;
      }
      p_ = e + 1;
    } else if (c == '(' && p_ + 1 < src_.size() && src_[p_ + 1] == '*') {
      const size_t e = src_.find("*)", p_ + 2);
      if (e == std::string_view::npos) {
        error = "Unterminated comment";
        errorOffset = static_cast<int>(p_);
        return false;
      }
      p_ = e + 2;
    } else if (c == '/' && p_ + 1 < src_.size() && src_[p_ + 1] == '/') {
      while (p_ < src_.size() && src_[p_] != '\n') ++p_;
    } else {
      return true;
    }
  }
}

bool TLexer::Next(TToken& t, std::string& error, int& errorOffset) {
  t = TToken{};
  if (!SkipBlanks(error, errorOffset)) return false;
  t.offset = static_cast<int>(p_);
  if (p_ >= src_.size()) {
    t.kind = TTok::Eof;
    return true;
  }
  const char c = src_[p_];
  if (IsIdStart(c)) {
    const size_t s = p_;
    while (p_ < src_.size() && (IsIdStart(src_[p_]) || IsDigit(src_[p_]))) ++p_;
    t.orig = std::string(src_.substr(s, p_ - s));
    t.text = t.orig;
    for (auto& ch : t.text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const auto& kw = Keywords();
    auto it = kw.find(t.text);
    t.kind = it == kw.end() ? TTok::Ident : it->second;
    return true;
  }
  if (IsDigit(c) || c == '$') {
    if (c == '$') {
      ++p_;
      uint64_t v = 0;
      int n = 0;
      while (p_ < src_.size() && HexVal(src_[p_]) >= 0) {
        if (n == 16) {
          error = "Integer constant too large";
          errorOffset = t.offset;
          return false;
        }
        if (v != 0 || HexVal(src_[p_]) != 0) ++n;
        v = v * 16 + static_cast<uint64_t>(HexVal(src_[p_]));
        ++p_;
      }
      if (p_ == static_cast<size_t>(t.offset) + 1) {
        error = "Invalid hexadecimal number";
        errorOffset = t.offset;
        return false;
      }
      t.kind = TTok::Int;
      t.ival = static_cast<int64_t>(v);
      return true;
    }
    const size_t s = p_;
    while (p_ < src_.size() && IsDigit(src_[p_])) ++p_;
    bool real = false;
    if (p_ + 1 < src_.size() && src_[p_] == '.' && IsDigit(src_[p_ + 1])) {
      real = true;
      ++p_;
      while (p_ < src_.size() && IsDigit(src_[p_])) ++p_;
    }
    if (p_ < src_.size() && (src_[p_] == 'e' || src_[p_] == 'E')) {
      size_t q = p_ + 1;
      if (q < src_.size() && (src_[q] == '+' || src_[q] == '-')) ++q;
      if (q < src_.size() && IsDigit(src_[q])) {
        real = true;
        p_ = q;
        while (p_ < src_.size() && IsDigit(src_[p_])) ++p_;
      }
    }
    const std::string num(src_.substr(s, p_ - s));
    if (real) {
      t.kind = TTok::Real;
      t.fval = std::strtod(num.c_str(), nullptr);
      return true;
    }
    uint64_t v = 0;
    for (const char d : num) {
      const uint64_t nv = v * 10 + static_cast<uint64_t>(d - '0');
      if (v > 922337203685477580ULL || nv > 9223372036854775807ULL) {
        // Too large for Int64: read it as a real number, as Pascal does.
        t.kind = TTok::Real;
        t.fval = std::strtod(num.c_str(), nullptr);
        return true;
      }
      v = nv;
    }
    t.kind = TTok::Int;
    t.ival = static_cast<int64_t>(v);
    return true;
  }
  if (c == '\'' || c == '#') {
    std::string val;
    int parts = 0;
    for (;;) {
      if (p_ < src_.size() && src_[p_] == '\'') {
        ++p_;
        for (;;) {
          if (p_ >= src_.size() || src_[p_] == '\n' || src_[p_] == '\r') {
            error = "Unterminated string";
            errorOffset = t.offset;
            return false;
          }
          if (src_[p_] == '\'') {
            if (p_ + 1 < src_.size() && src_[p_ + 1] == '\'') {
              val += '\'';
              p_ += 2;
              continue;
            }
            ++p_;
            break;
          }
          val += src_[p_++];
        }
        ++parts;
      } else if (p_ < src_.size() && src_[p_] == '#') {
        ++p_;
        int64_t v = 0;
        bool any = false;
        if (p_ < src_.size() && src_[p_] == '$') {
          ++p_;
          while (p_ < src_.size() && HexVal(src_[p_]) >= 0) {
            v = v * 16 + HexVal(src_[p_++]);
            any = true;
            if (v > 255) break;
          }
        } else {
          while (p_ < src_.size() && IsDigit(src_[p_])) {
            v = v * 10 + (src_[p_++] - '0');
            any = true;
            if (v > 255) break;
          }
        }
        if (!any || v > 255) {
          error = "Invalid character code";
          errorOffset = t.offset;
          return false;
        }
        val += static_cast<char>(v);
        ++parts;
      } else {
        break;
      }
    }
    t.kind = TTok::Str;
    t.text = std::move(val);
    t.isChar = t.text.size() == 1;
    if (t.isChar) t.ival = static_cast<unsigned char>(t.text[0]);
    (void)parts;
    return true;
  }
  ++p_;
  auto two = [&](char n) {
    if (p_ < src_.size() && src_[p_] == n) {
      ++p_;
      return true;
    }
    return false;
  };
  switch (c) {
    case '+':
      t.kind = TTok::Plus;
      break;
    case '-':
      t.kind = TTok::Minus;
      break;
    case '*':
      t.kind = TTok::Star;
      break;
    case '/':
      t.kind = TTok::Slash;
      break;
    case '=':
      t.kind = TTok::Eq;
      break;
    case '<':
      t.kind = two('>') ? TTok::Ne : (two('=') ? TTok::Le : TTok::Lt);
      break;
    case '>':
      t.kind = two('=') ? TTok::Ge : TTok::Gt;
      break;
    case '(':
      t.kind = TTok::LParen;
      break;
    case ')':
      t.kind = TTok::RParen;
      break;
    case '[':
      t.kind = TTok::LBrack;
      break;
    case ']':
      t.kind = TTok::RBrack;
      break;
    case '.':
      t.kind = two('.') ? TTok::DotDot : TTok::Dot;
      break;
    case ',':
      t.kind = TTok::Comma;
      break;
    case ';':
      t.kind = TTok::Semi;
      break;
    case ':':
      t.kind = two('=') ? TTok::Assign : TTok::Colon;
      break;
    case '^':
      t.kind = TTok::Caret;
      break;
    case '@':
      t.kind = TTok::At;
      break;
    default:
      error = std::string("Illegal character '") +
              (static_cast<unsigned char>(c) >= 32
                   ? std::string(1, c)
                   : "#" + std::to_string(static_cast<unsigned char>(c))) +
              "'";
      errorOffset = t.offset;
      return false;
  }
  return true;
}

}  // namespace script::engine
