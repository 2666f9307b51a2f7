// The compiler: a one-pass recursive-descent parser that checks types while it builds an
// expression tree per expression and generates typed instructions for every statement as
// soon as it is read. Slots: parameters and locals get fixed slots as they are declared;
// temporaries are numbered in three pools (plain, string, array) and the argument area
// in a fourth, and all four are placed after the locals when the routine ends.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <numbers>
#include <unordered_map>

#include "script/engine/bytecode.h"
#include "script/engine/engine.h"
#include "script/engine/lexer.h"

namespace script::engine {

std::string TCompilerMessage::ToString() const {
  const char* k = kind == TMessageKind::Error     ? "Error"
                  : kind == TMessageKind::Warning ? "Warning"
                                                  : "Hint";
  return std::string("[") + k + "] (" + std::to_string(line) + ":" + std::to_string(column) +
         "): " + text;
}

namespace {

struct TCompileError {
  int pos;
  std::string msg;
};

enum class TK : uint8_t { Int, Real, Bool, Char, Str, Arr, DynArr, Rec, Void, Exc };
enum TIntKind : uint8_t { I8, U8, I16, U16, I32, U32, I64 };

struct TType;
struct TField {
  std::string name, orig;
  TType* type;
  int off;
};

struct TType {
  TK k = TK::Void;
  uint8_t ik = I32;     // integers
  bool single = false;  // reals
  std::string name;
  TType* elem = nullptr;
  int64_t low = 0, high = -1;  // static arrays
  std::vector<TField> fields;
  int slots = 1;
  int layout = -1;
  int desc = -1;
  bool managed = false;
};

bool IsOrdinal(const TType* t) { return t->k == TK::Int || t->k == TK::Bool || t->k == TK::Char; }
bool IsCompound(const TType* t) { return t->k == TK::Rec || t->k == TK::Arr; }

int64_t IntMin(uint8_t ik) {
  switch (ik) {
    case I8:
      return -128;
    case U8:
    case U16:
    case U32:
      return 0;
    case I16:
      return -32768;
    case I32:
      return INT32_MIN;
    default:
      return INT64_MIN;
  }
}
int64_t IntMax(uint8_t ik) {
  switch (ik) {
    case I8:
      return 127;
    case U8:
      return 255;
    case I16:
      return 32767;
    case U16:
      return 65535;
    case I32:
      return INT32_MAX;
    case U32:
      return UINT32_MAX;
    default:
      return INT64_MAX;
  }
}

struct TConstVal {
  int64_t i = 0;
  double f = 0;
  std::string s;
};

enum class SK : uint8_t { Var, Const, Type, Func, Host, Builtin, ExcClass };
enum class TStorage : uint8_t { Global, Local, Ref };

struct TFuncDecl;

struct TSym {
  SK k = SK::Var;
  std::string name, orig;
  int pos = 0;
  TType* type = nullptr;
  TStorage st = TStorage::Local;
  int slot = 0;
  bool isConst = false;  // const parameter or for-loop counter: not assignable
  bool isParam = false;
  bool used = false;
  bool isExcVar = false;
  TConstVal cv;
  TFuncDecl* fn = nullptr;
  int builtin = 0;
  int excClass = 0;
};

enum class PMode : uint8_t { Value, Var, Const, Out };

struct TParam {
  std::string name, orig;
  TType* type;
  PMode mode;
  bool byRef;
  int off;  // slot offset after the result slots
};

struct TFuncDecl {
  std::string name, orig;
  std::vector<TParam> params;
  TType* result = nullptr;  // nullptr: procedure
  int index = -1;           // module routine or import index
  bool host = false;
  bool defined = false;
  int pos = 0;
  int resultSlots = 0;
  int paramSlots = 0;
  std::string decl;
  std::vector<THostParam> hostParams;
  uint8_t hostResult = HT_VOID;
};

enum class NK : uint8_t { Const, Var, Field, Index, Call, Unary, Binary, Conv, ExcMsg, ExcCls };
enum class Conv : uint8_t { IntToReal, ToSingle, CharToStr, Trunc };
enum Builtin : int {
  B_NONE,
  B_INTTOSTR,
  B_STRTOINT,
  B_STRTOINTDEF,
  B_FLOATTOSTR,
  B_FORMAT,
  B_LENGTH,
  B_SETLENGTH,
  B_HIGH,
  B_LOW,
  B_COPY,
  B_POS,
  B_DELETE,
  B_INSERT,
  B_UPPERCASE,
  B_LOWERCASE,
  B_TRIM,
  B_CHR,
  B_ORD,
  B_INC,
  B_DEC,
  B_ABS,
  B_ODD,
  B_SUCC,
  B_PRED,
  B_ROUND,
  B_TRUNC,
  B_SQR,
  B_SQRT,
  B_SLEEP,
  B_SIN,
  B_COS,
  B_EXP,
  B_LN,
  B_ARCTAN,
  B_INT,
  B_FRAC,
  B_EXIT,
  B_BREAK,
  B_CONTINUE
};

struct TNode {
  NK k;
  TType* type = nullptr;
  int pos = 0;
  TConstVal cv;
  TSym* sym = nullptr;
  TNode* a = nullptr;
  TNode* b = nullptr;
  int off = 0;
  TTok op = TTok::Eof;
  Conv conv = Conv::IntToReal;
  TFuncDecl* fn = nullptr;
  int builtin = 0;
  std::vector<TNode*> args;
  int depth = 1;
};

// Temporary slot tags (relocated when the routine ends).
constexpr int kPlainTag = 0x4000;
constexpr int kStrTag = 0x6000;
constexpr int kArrTag = 0x7000;
constexpr int kCallTag = 0x7800;
constexpr int kMaxExprDepth = 400;

struct TLoc {
  enum Kind { Slot, Global, Ref } k = Slot;
  int slot = 0;  // Slot: the slot; Global: the global slot; Ref: the slot holding a pointer
  int off = 0;
};

struct TLoop {
  std::vector<int> breaks, continues;
  size_t tryDepth = 0;
};

struct TTry {
  enum Kind { ExceptBody, FinallyBody, InExcept, InFinally } kind;
  std::vector<int> finCalls;  // CALLFIN instructions to patch with the finally address
};

struct TFuncState {
  TFuncDecl* decl = nullptr;
  int modIndex = 0;
  bool isMain = false;
  int nLocals = 0;
  std::vector<TSlotKind> kinds;
  std::vector<int32_t> arrDesc;
  int plainTop = 0, plainMax = 0, strTop = 0, strMax = 0, arrTop = 0, arrMax = 0, callTop = 0,
      callMax = 0;
  std::vector<int> exitPatches;
  std::vector<TLoop> loops;
  std::vector<TTry> tries;
  uint32_t entry = 0;
  bool resultSet = false;
  std::vector<TSym*> locals;
};

}  // namespace

struct TCompiler::Impl {
  TUnitCallback callback;
  std::vector<TCompilerMessage> messages;
  std::vector<std::string> preDeclared;
  std::vector<std::string> pendingDecls;
  bool inCallback = false;
  int callbackPos = 0;
  bool callbackError = false;
  std::string byteCode;
  bool haveCode = false;

  // Per compile
  std::string_view src;
  std::vector<uint32_t> lineStarts;
  TLexer* lex = nullptr;
  TToken tok, prevTok;
  std::deque<TType> types;
  std::deque<TSym> syms;
  std::deque<TFuncDecl> funcs;
  std::deque<TNode> nodes;
  std::vector<std::unordered_map<std::string, TSym*>> scopes;
  TModule mod;
  TFuncState* fs = nullptr;
  int nesting = 0;
  int curPos = 0;
  std::vector<std::pair<TSym*, TNode*>> globalInits;
  std::vector<TFuncDecl*> hostDecls;

  TType *tI8, *tU8, *tI16, *tU16, *tI32, *tU32, *tI64, *tBool, *tChar, *tStr, *tSingle, *tDouble,
      *tVoid, *tExc;

  // ------------------------------------------------------------------ messages
  void LineCol(int off, int& line, int& col) const {
    auto it = std::upper_bound(lineStarts.begin(), lineStarts.end(), static_cast<uint32_t>(off));
    const size_t idx =
        it == lineStarts.begin() ? 0 : static_cast<size_t>(it - lineStarts.begin()) - 1;
    line = static_cast<int>(idx) + 1;
    col = off - static_cast<int>(lineStarts.empty() ? 0 : lineStarts[idx]) + 1;
  }
  void AddMessage(TMessageKind k, int pos, std::string text) {
    TCompilerMessage m;
    m.kind = k;
    m.text = std::move(text);
    m.offset = pos;
    LineCol(pos, m.line, m.column);
    messages.push_back(std::move(m));
  }
  [[noreturn]] void Error(int pos, std::string msg) { throw TCompileError{pos, std::move(msg)}; }
  [[noreturn]] void Error(std::string msg) { Error(tok.offset, std::move(msg)); }

  struct TDepth {
    Impl* c;
    explicit TDepth(Impl* cc) : c(cc) {
      if (++c->nesting > TCompilerLimits::kMaxNesting)
        c->Error("Nesting too deep (more than " + std::to_string(TCompilerLimits::kMaxNesting) +
                 " levels)");
    }
    ~TDepth() { --c->nesting; }
  };

  // ------------------------------------------------------------------ tokens
  void Next() {
    prevTok = tok;
    std::string err;
    int errPos = 0;
    if (!lex->Next(tok, err, errPos)) Error(errPos, err);
  }
  bool Is(TTok k) const { return tok.kind == k; }
  bool Accept(TTok k) {
    if (tok.kind == k) {
      Next();
      return true;
    }
    return false;
  }
  void Expect(TTok k) {
    if (tok.kind != k) Error(std::string(TokName(k)) + " expected but " + TokDesc() + " found");
    Next();
  }
  std::string TokDesc() const {
    if (tok.kind == TTok::Ident) return "identifier '" + tok.orig + "'";
    return TokName(tok.kind);
  }
  std::string ExpectIdent() {
    if (tok.kind != TTok::Ident) Error("Identifier expected but " + TokDesc() + " found");
    std::string s = tok.text;
    Next();
    return s;
  }

  // ------------------------------------------------------------------ types
  TType* NewType(TK k) {
    types.emplace_back();
    types.back().k = k;
    return &types.back();
  }
  TType* IntType(uint8_t ik, const char* name) {
    TType* t = NewType(TK::Int);
    t->ik = ik;
    t->name = name;
    return t;
  }
  void MakeBasicTypes() {
    tI8 = IntType(I8, "ShortInt");
    tU8 = IntType(U8, "Byte");
    tI16 = IntType(I16, "SmallInt");
    tU16 = IntType(U16, "Word");
    tI32 = IntType(I32, "Integer");
    tU32 = IntType(U32, "Cardinal");
    tI64 = IntType(I64, "Int64");
    tBool = NewType(TK::Bool);
    tBool->name = "Boolean";
    tChar = NewType(TK::Char);
    tChar->name = "Char";
    tStr = NewType(TK::Str);
    tStr->name = "String";
    tStr->managed = true;
    tSingle = NewType(TK::Real);
    tSingle->single = true;
    tSingle->name = "Single";
    tDouble = NewType(TK::Real);
    tDouble->name = "Double";
    tVoid = NewType(TK::Void);
    tVoid->name = "procedure";
    tExc = NewType(TK::Exc);
    tExc->name = "Exception";
  }
  std::string TypeName(const TType* t) const {
    if (!t->name.empty()) return t->name;
    switch (t->k) {
      case TK::Arr:
        return "array[" + std::to_string(t->low) + ".." + std::to_string(t->high) + "] of " +
               TypeName(t->elem);
      case TK::DynArr:
        return "array of " + TypeName(t->elem);
      case TK::Rec:
        return "record";
      default:
        return "?";
    }
  }
  int LayoutOf(TType* t) {
    if (t->layout >= 0) return t->layout;
    TLayout l;
    auto add = [&](TSlotKind k, int32_t d) {
      l.kinds.push_back(k);
      l.arrDesc.push_back(d);
      if (k != TSlotKind::Plain) l.managed = true;
    };
    switch (t->k) {
      case TK::Str:
        add(TSlotKind::Str, -1);
        break;
      case TK::DynArr:
        DescOf(t);
        add(TSlotKind::DynArr, t->desc);
        break;
      case TK::Arr:
        add(TSlotKind::StatArr, DescOf(t));
        break;
      case TK::Rec:
        for (auto& f : t->fields) {
          const TLayout& fl = mod.layouts[static_cast<size_t>(LayoutOf(f.type))];
          for (size_t i = 0; i < fl.kinds.size(); ++i) add(fl.kinds[i], fl.arrDesc[i]);
        }
        break;
      default:
        add(TSlotKind::Plain, -1);
        break;
    }
    mod.layouts.push_back(std::move(l));
    t->layout = static_cast<int>(mod.layouts.size()) - 1;
    return t->layout;
  }
  int DescOf(TType* t) {
    if (t->desc >= 0) return t->desc;
    TArrDesc d;
    d.isStatic = t->k == TK::Arr;
    d.low = d.isStatic ? static_cast<int32_t>(t->low) : 0;
    d.count = d.isStatic ? static_cast<int32_t>(t->high - t->low + 1) : 0;
    d.elemSlots = t->elem->slots;
    d.elemLayout = LayoutOf(t->elem);
    mod.descs.push_back(d);
    t->desc = static_cast<int>(mod.descs.size()) - 1;
    return t->desc;
  }
  bool SameType(const TType* a, const TType* b) const {
    if (a == b) return true;
    if (a->k != b->k) return false;
    switch (a->k) {
      case TK::Int:
        return a->ik == b->ik;
      case TK::Real:
        return a->single == b->single;
      case TK::Bool:
      case TK::Char:
      case TK::Str:
      case TK::Void:
        return true;
      case TK::DynArr:
        return SameType(a->elem, b->elem);
      case TK::Arr:
        return a->low == b->low && a->high == b->high && SameType(a->elem, b->elem);
      default:
        return false;
    }
  }

  // ------------------------------------------------------------------ symbols
  TSym* Lookup(const std::string& name) {
    for (auto it = scopes.rbegin(); it != scopes.rend(); ++it) {
      auto f = it->find(name);
      if (f != it->end()) return f->second;
    }
    return nullptr;
  }
  TSym* Declare(const std::string& name, const std::string& orig, SK k, int pos) {
    auto& sc = scopes.back();
    if (sc.count(name)) Error(pos, "Duplicate identifier '" + orig + "'");
    syms.emplace_back();
    TSym* s = &syms.back();
    s->k = k;
    s->name = name;
    s->orig = orig;
    s->pos = pos;
    sc[name] = s;
    return s;
  }
  void DeclareBuiltins() {
    struct B {
      const char* n;
      int id;
    };
    static const B kB[] = {
        {"INTTOSTR", B_INTTOSTR},
        {"STRTOINT", B_STRTOINT},
        {"STRTOINTDEF", B_STRTOINTDEF},
        {"FLOATTOSTR", B_FLOATTOSTR},
        {"FORMAT", B_FORMAT},
        {"LENGTH", B_LENGTH},
        {"SETLENGTH", B_SETLENGTH},
        {"HIGH", B_HIGH},
        {"LOW", B_LOW},
        {"COPY", B_COPY},
        {"POS", B_POS},
        {"DELETE", B_DELETE},
        {"INSERT", B_INSERT},
        {"UPPERCASE", B_UPPERCASE},
        {"LOWERCASE", B_LOWERCASE},
        {"TRIM", B_TRIM},
        {"CHR", B_CHR},
        {"ORD", B_ORD},
        {"INC", B_INC},
        {"DEC", B_DEC},
        {"ABS", B_ABS},
        {"ODD", B_ODD},
        {"SUCC", B_SUCC},
        {"PRED", B_PRED},
        {"ROUND", B_ROUND},
        {"TRUNC", B_TRUNC},
        {"SQR", B_SQR},
        {"SQRT", B_SQRT},
        {"SLEEP", B_SLEEP},
        {"SIN", B_SIN},
        {"COS", B_COS},
        {"EXP", B_EXP},
        {"LN", B_LN},
        {"ARCTAN", B_ARCTAN},
        {"INT", B_INT},
        {"FRAC", B_FRAC},
        {"EXIT", B_EXIT},
        {"BREAK", B_BREAK},
        {"CONTINUE", B_CONTINUE},
    };
    for (const B& b : kB) Declare(b.n, b.n, SK::Builtin, 0)->builtin = b.id;
    struct T {
      const char* n;
      TType* t;
    };
    const T kT[] = {
        {"SHORTINT", tI8},   {"BYTE", tU8},         {"SMALLINT", tI16},   {"WORD", tU16},
        {"INTEGER", tI32},   {"LONGINT", tI32},     {"CARDINAL", tU32},   {"LONGWORD", tU32},
        {"DWORD", tU32},     {"INT64", tI64},       {"BOOLEAN", tBool},   {"CHAR", tChar},
        {"ANSICHAR", tChar}, {"STRING", tStr},      {"ANSISTRING", tStr}, {"SINGLE", tSingle},
        {"DOUBLE", tDouble}, {"EXTENDED", tDouble}, {"REAL", tDouble}};
    for (const T& t : kT) Declare(t.n, t.n, SK::Type, 0)->type = t.t;
    auto c = [&](const char* n, TType* t, int64_t i, double f) {
      TSym* s = Declare(n, n, SK::Const, 0);
      s->type = t;
      s->cv.i = i;
      s->cv.f = f;
    };
    c("TRUE", tBool, 1, 0);
    c("FALSE", tBool, 0, 0);
    c("MAXINT", tI32, INT32_MAX, 0);
    c("PI", tDouble, 0, std::numbers::pi);
    for (const char* e :
         {"EXCEPTION", "EINTERROR", "EDIVBYZERO", "ERANGEERROR", "ECONVERTERROR", "ESTACKOVERFLOW",
          "EOUTOFMEMORY", "EMATHERROR", "EINVALIDOP", "EZERODIVIDE"})
      Declare(e, e, SK::ExcClass, 0)->excClass = ExcClassByName(e);
  }

  // ------------------------------------------------------------------ code emission
  int Emit(uint16_t op, int a = 0, int b = 0, int c = 0, int32_t d = 0) {
    TInstr in;
    in.op = op;
    in.a = static_cast<uint16_t>(a);
    in.b = static_cast<uint16_t>(b);
    in.c = static_cast<uint16_t>(c);
    in.d = d;
    mod.code.push_back(in);
    mod.pos.push_back(static_cast<uint32_t>(curPos));
    return static_cast<int>(mod.code.size()) - 1;
  }
  int Here() const { return static_cast<int>(mod.code.size()); }
  void Patch(int at, int target) { mod.code[static_cast<size_t>(at)].d = target; }
  void PatchAll(std::vector<int>& v, int target) {
    for (int at : v) Patch(at, target);
    v.clear();
  }

  int NewPlain() {
    if (fs->plainTop >= 0x2000) Error(curPos, "Expression too complex");
    const int s = kPlainTag + fs->plainTop++;
    fs->plainMax = std::max(fs->plainMax, fs->plainTop);
    return s;
  }
  int NewStr() {
    if (fs->strTop >= 0x1000) Error(curPos, "Expression too complex");
    const int s = kStrTag + fs->strTop++;
    fs->strMax = std::max(fs->strMax, fs->strTop);
    return s;
  }
  int NewArr() {
    if (fs->arrTop >= 0x800) Error(curPos, "Expression too complex");
    const int s = kArrTag + fs->arrTop++;
    fs->arrMax = std::max(fs->arrMax, fs->arrTop);
    return s;
  }
  int NewCall(int n) {
    if (fs->callTop + n >= 0x800) Error(curPos, "Expression too complex");
    const int s = kCallTag + fs->callTop;
    fs->callTop += n;
    fs->callMax = std::max(fs->callMax, fs->callTop);
    return s;
  }
  static bool IsStrTemp(int s) { return s >= kStrTag && s < kArrTag; }
  static bool IsArrTemp(int s) { return s >= kArrTag && s < kCallTag; }
  static bool IsCallSlot(int s) { return s >= kCallTag; }
  int NewTempFor(const TType* t) {
    if (t->k == TK::Str) return NewStr();
    if (t->k == TK::DynArr || t->k == TK::Arr) return NewArr();
    return NewPlain();
  }
  struct TTempMark {
    int p, s, a, c;
  };
  TTempMark Mark() const { return {fs->plainTop, fs->strTop, fs->arrTop, fs->callTop}; }
  void Release(const TTempMark& m) {
    fs->plainTop = m.p;
    fs->strTop = m.s;
    fs->arrTop = m.a;
    fs->callTop = m.c;
  }
  int AllocLocal(TType* t) {
    const int s = fs->nLocals;
    if (s + t->slots >= kPlainTag) Error(curPos, "Too many variables");
    fs->nLocals += t->slots;
    const TLayout& l = mod.layouts[static_cast<size_t>(LayoutOf(t))];
    for (size_t i = 0; i < l.kinds.size(); ++i) {
      fs->kinds.push_back(l.kinds[i]);
      fs->arrDesc.push_back(l.arrDesc[i]);
    }
    return s;
  }
  int AllocPlainLocal() {
    const int s = fs->nLocals;
    if (s + 1 >= kPlainTag) Error(curPos, "Too many variables");
    ++fs->nLocals;
    fs->kinds.push_back(TSlotKind::Plain);
    fs->arrDesc.push_back(-1);
    return s;
  }

  void BeginRoutine(TFuncState& st, TFuncDecl* d) {
    st.decl = d;
    st.entry = static_cast<uint32_t>(mod.code.size());
    fs = &st;
  }
  void EndRoutine(TFuncState& st, int modIndex, const std::string& name, int pos,
                  uint32_t paramStart, uint32_t paramEnd) {
    Emit(OP_RET);
    const int P = st.plainMax, S = st.strMax, A = st.arrMax;
    const int L = st.nLocals;
    auto reloc = [&](int v) -> int {
      if (v < kPlainTag) return v;
      if (v < kStrTag) return L + (v - kPlainTag);
      if (v < kArrTag) return L + P + (v - kStrTag);
      if (v < kCallTag) return L + P + S + (v - kArrTag);
      return L + P + S + A + (v - kCallTag);
    };
    const int frame = L + P + S + A + st.callMax + 1;
    if (frame > 0xFFF0) Error(pos, "Routine too large");
    for (size_t i = st.entry; i < mod.code.size(); ++i) {
      TInstr& in = mod.code[i];
      const TOpInfo& oi = kOpInfo[in.op];
      if (oi.a == OK_S) in.a = static_cast<uint16_t>(reloc(in.a));
      if (oi.b == OK_S) in.b = static_cast<uint16_t>(reloc(in.b));
      if (oi.c == OK_S) in.c = static_cast<uint16_t>(reloc(in.c));
      if (oi.d == OK_S) in.d = reloc(in.d);
    }
    TLayout l;
    l.kinds = st.kinds;
    l.arrDesc = st.arrDesc;
    l.kinds.resize(static_cast<size_t>(L), TSlotKind::Plain);
    l.arrDesc.resize(static_cast<size_t>(L), -1);
    for (int i = 0; i < P; ++i) {
      l.kinds.push_back(TSlotKind::Plain);
      l.arrDesc.push_back(-1);
    }
    for (int i = 0; i < S; ++i) {
      l.kinds.push_back(TSlotKind::Str);
      l.arrDesc.push_back(-1);
    }
    for (int i = 0; i < A; ++i) {
      l.kinds.push_back(TSlotKind::DynArr);
      l.arrDesc.push_back(-1);
    }
    for (auto k : l.kinds)
      if (k != TSlotKind::Plain) l.managed = true;
    mod.layouts.push_back(std::move(l));
    TFuncInfo& fi = mod.funcs[static_cast<size_t>(modIndex)];
    fi.name = name;
    fi.entry = st.entry;
    fi.end = static_cast<uint32_t>(mod.code.size());
    fi.frameSize = static_cast<uint32_t>(frame);
    fi.paramStart = paramStart;
    fi.paramEnd = paramEnd;
    fi.managedEnd = static_cast<uint32_t>(L + P + S + A);
    fi.layout = static_cast<int32_t>(mod.layouts.size()) - 1;
    fi.srcPos = static_cast<uint32_t>(pos);
    // Hints for variables never used.
    for (TSym* s : st.locals)
      if (!s->used && !s->isParam && !s->isExcVar)
        AddMessage(TMessageKind::Hint, s->pos, "Variable '" + s->orig + "' never used");
  }

  // ------------------------------------------------------------------ nodes
  TNode* NewNode(NK k, TType* t, int pos) {
    nodes.emplace_back();
    TNode* n = &nodes.back();
    n->k = k;
    n->type = t;
    n->pos = pos;
    return n;
  }
  void SetDepth(TNode* n) {
    int d = 0;
    if (n->a) d = std::max(d, n->a->depth);
    if (n->b) d = std::max(d, n->b->depth);
    for (TNode* x : n->args) d = std::max(d, x->depth);
    n->depth = d + 1;
    if (n->depth > kMaxExprDepth) Error(n->pos, "Expression too complex");
  }
  TNode* IntConst(int64_t v, int pos, TType* t = nullptr) {
    if (!t) t = (v >= INT32_MIN && v <= INT32_MAX) ? tI32 : tI64;
    TNode* n = NewNode(NK::Const, t, pos);
    n->cv.i = v;
    return n;
  }
  TNode* RealConst(double v, int pos) {
    TNode* n = NewNode(NK::Const, tDouble, pos);
    n->cv.f = v;
    return n;
  }
  TNode* StrConst(std::string v, int pos) {
    TNode* n = NewNode(NK::Const, tStr, pos);
    n->cv.s = std::move(v);
    return n;
  }
  TNode* BoolConst(bool v, int pos) { return IntConst(v ? 1 : 0, pos, tBool); }
  static bool IsConst(const TNode* n) { return n->k == NK::Const; }

  // Implicit conversion of n to type t for assignment and value parameters.
  TNode* Coerce(TNode* n, TType* t, const char* what = "assignment") {
    TType* s = n->type;
    if (SameType(s, t) && !(t->k == TK::Int && s->ik != t->ik)) return n;
    switch (t->k) {
      case TK::Int:
        if (s->k == TK::Int) {
          if (IsConst(n)) {
            TNode* c = IntConst(n->cv.i, n->pos, t);
            if (n->cv.i < IntMin(t->ik) || n->cv.i > IntMax(t->ik)) c->cv.i = Wrap(n->cv.i, t->ik);
            return c;
          }
          if (IntMin(s->ik) >= IntMin(t->ik) && IntMax(s->ik) <= IntMax(t->ik)) {
            TNode* c = NewNode(NK::Conv, t, n->pos);  // widening: no code
            c->conv = Conv::Trunc;
            c->a = n;
            c->off = 1;  // no-op marker
            SetDepth(c);
            return c;
          }
          TNode* c = NewNode(NK::Conv, t, n->pos);
          c->conv = Conv::Trunc;
          c->a = n;
          SetDepth(c);
          return c;
        }
        break;
      case TK::Real:
        if (s->k == TK::Int || s->k == TK::Real) {
          if (IsConst(n)) {
            double v = s->k == TK::Int ? static_cast<double>(n->cv.i) : n->cv.f;
            if (t->single) v = static_cast<double>(static_cast<float>(v));
            TNode* c = RealConst(v, n->pos);
            c->type = t;
            return c;
          }
          TNode* c = n;
          if (s->k == TK::Int) {
            c = NewNode(NK::Conv, tDouble, n->pos);
            c->conv = Conv::IntToReal;
            c->a = n;
            SetDepth(c);
          }
          if (t->single && !(s->k == TK::Real && s->single)) {
            TNode* d = NewNode(NK::Conv, t, n->pos);
            d->conv = Conv::ToSingle;
            d->a = c;
            SetDepth(d);
            return d;
          }
          if (c != n) return c;
          TNode* d = NewNode(NK::Conv, t, n->pos);  // single to double: no code
          d->conv = Conv::Trunc;
          d->off = 1;
          d->a = n;
          SetDepth(d);
          return d;
        }
        break;
      case TK::Str:
        if (s->k == TK::Char) {
          if (IsConst(n)) return StrConst(std::string(1, static_cast<char>(n->cv.i)), n->pos);
          TNode* c = NewNode(NK::Conv, tStr, n->pos);
          c->conv = Conv::CharToStr;
          c->a = n;
          SetDepth(c);
          return c;
        }
        break;
      case TK::Char:
        if (s->k == TK::Str && IsConst(n) && n->cv.s.size() == 1)
          return IntConst(static_cast<unsigned char>(n->cv.s[0]), n->pos, tChar);
        break;
      default:
        break;
    }
    Error(n->pos, std::string("Incompatible types in ") + what + ": got '" + TypeName(s) +
                      "', expected '" + TypeName(t) + "'");
  }
  static int64_t Wrap(int64_t v, uint8_t ik) {
    switch (ik) {
      case I8:
        return static_cast<int8_t>(v);
      case U8:
        return static_cast<uint8_t>(v);
      case I16:
        return static_cast<int16_t>(v);
      case U16:
        return static_cast<uint16_t>(v);
      case I32:
        return static_cast<int32_t>(v);
      case U32:
        return static_cast<uint32_t>(v);
      default:
        return v;
    }
  }

  // ------------------------------------------------------------------ expressions
  TNode* ParseExpr() {
    TDepth g(this);
    TNode* l = ParseSimple();
    for (;;) {
      const TTok op = tok.kind;
      if (op != TTok::Eq && op != TTok::Ne && op != TTok::Lt && op != TTok::Gt && op != TTok::Le &&
          op != TTok::Ge && op != TTok::kIn)
        return l;
      const int pos = tok.offset;
      Next();
      if (op == TTok::kIn) {
        l = ParseSetIn(l, pos);
        continue;
      }
      TNode* r = ParseSimple();
      l = MakeBinary(op, l, r, pos);
    }
  }
  TNode* ParseSetIn(TNode* x, int pos) {
    if (!IsOrdinal(x->type)) Error(pos, "Ordinal expression expected before 'in'");
    Expect(TTok::LBrack);
    TNode* result = nullptr;
    if (!Is(TTok::RBrack)) {
      for (;;) {
        TNode* lo = ParseExpr();
        TNode* test;
        if (Accept(TTok::DotDot)) {
          TNode* hi = ParseExpr();
          test = MakeBinary(TTok::kAnd, MakeBinary(TTok::Ge, x, lo, pos),
                            MakeBinary(TTok::Le, x, hi, pos), pos);
        } else {
          test = MakeBinary(TTok::Eq, x, lo, pos);
        }
        result = result ? MakeBinary(TTok::kOr, result, test, pos) : test;
        if (!Accept(TTok::Comma)) break;
      }
    }
    Expect(TTok::RBrack);
    return result ? result : BoolConst(false, pos);
  }
  TNode* ParseSimple() {
    TNode* l = ParseTerm();
    for (;;) {
      const TTok op = tok.kind;
      if (op != TTok::Plus && op != TTok::Minus && op != TTok::kOr && op != TTok::kXor) return l;
      const int pos = tok.offset;
      Next();
      TNode* r = ParseTerm();
      l = MakeBinary(op, l, r, pos);
    }
  }
  TNode* ParseTerm() {
    TNode* l = ParseFactor();
    for (;;) {
      const TTok op = tok.kind;
      if (op != TTok::Star && op != TTok::Slash && op != TTok::kDiv && op != TTok::kMod &&
          op != TTok::kAnd && op != TTok::kShl && op != TTok::kShr)
        return l;
      const int pos = tok.offset;
      Next();
      TNode* r = ParseFactor();
      l = MakeBinary(op, l, r, pos);
    }
  }
  TNode* ParseFactor() {
    TDepth g(this);
    const int pos = tok.offset;
    switch (tok.kind) {
      case TTok::Int: {
        const int64_t v = tok.ival;
        Next();
        return IntConst(v, pos);
      }
      case TTok::Real: {
        const double v = tok.fval;
        Next();
        return RealConst(v, pos);
      }
      case TTok::Str: {
        if (tok.isChar) {
          const int64_t v = tok.ival;
          Next();
          return IntConst(v, pos, tChar);
        }
        std::string v = tok.text;
        Next();
        return StrConst(std::move(v), pos);
      }
      case TTok::LParen: {
        Next();
        TNode* e = ParseExpr();
        Expect(TTok::RParen);
        return e;
      }
      case TTok::kNot: {
        Next();
        TNode* e = ParseFactor();
        return MakeUnary(TTok::kNot, e, pos);
      }
      case TTok::Minus: {
        Next();
        TNode* e = ParseFactor();
        return MakeUnary(TTok::Minus, e, pos);
      }
      case TTok::Plus: {
        Next();
        TNode* e = ParseFactor();
        if (e->type->k != TK::Int && e->type->k != TK::Real) Error(pos, "Operator not applicable");
        return e;
      }
      case TTok::Ident:
        return ParseDesignator(false);
      default:
        Error("Expression expected but " + TokDesc() + " found");
    }
  }

  TNode* MakeUnary(TTok op, TNode* e, int pos) {
    TType* t = e->type;
    if (op == TTok::kNot) {
      if (t->k == TK::Bool) {
        if (IsConst(e)) return BoolConst(!e->cv.i, pos);
      } else if (t->k == TK::Int) {
        if (IsConst(e)) return IntConst(Wrap(~e->cv.i, t->ik), pos, t);
      } else {
        Error(pos, "Operator 'not' not applicable to '" + TypeName(t) + "'");
      }
      TNode* n = NewNode(NK::Unary, t, pos);
      n->op = op;
      n->a = e;
      SetDepth(n);
      return n;
    }
    if (t->k == TK::Int) {
      if (IsConst(e))
        return IntConst(static_cast<int64_t>(0 - static_cast<uint64_t>(e->cv.i)), pos);
      TNode* n = NewNode(NK::Unary, tI64, pos);
      n->op = op;
      n->a = e;
      SetDepth(n);
      return n;
    }
    if (t->k == TK::Real) {
      if (IsConst(e)) return RealConst(-e->cv.f, pos);
      TNode* n = NewNode(NK::Unary, tDouble, pos);
      n->op = op;
      n->a = e;
      SetDepth(n);
      return n;
    }
    Error(pos, "Operator '-' not applicable to '" + TypeName(t) + "'");
  }

  TNode* ToReal(TNode* n) { return n->type->k == TK::Real ? n : Coerce(n, tDouble); }

  TNode* MakeBinary(TTok op, TNode* l, TNode* r, int pos) {
    TType* lt = l->type;
    TType* rt = r->type;
    auto bin = [&](TType* t) {
      TNode* n = NewNode(NK::Binary, t, pos);
      n->op = op;
      n->a = l;
      n->b = r;
      SetDepth(n);
      return n;
    };
    const bool bothConst = IsConst(l) && IsConst(r);
    auto bad = [&]() -> TNode* {
      Error(pos, std::string("Operator ") + TokName(op) + " not applicable to '" + TypeName(lt) +
                     "' and '" + TypeName(rt) + "'");
    };
    const bool lInt = lt->k == TK::Int, rInt = rt->k == TK::Int;
    const bool lNum = lInt || lt->k == TK::Real, rNum = rInt || rt->k == TK::Real;
    switch (op) {
      case TTok::Plus:
        if ((lt->k == TK::Str || lt->k == TK::Char) && (rt->k == TK::Str || rt->k == TK::Char)) {
          if (bothConst) {
            auto sv = [](TNode* n) {
              return n->type->k == TK::Char ? std::string(1, static_cast<char>(n->cv.i)) : n->cv.s;
            };
            return StrConst(sv(l) + sv(r), pos);
          }
          return bin(tStr);
        }
        [[fallthrough]];
      case TTok::Minus:
      case TTok::Star:
        if (lInt && rInt) {
          if (bothConst) {
            const uint64_t a = static_cast<uint64_t>(l->cv.i), b = static_cast<uint64_t>(r->cv.i);
            const uint64_t v = op == TTok::Plus ? a + b : op == TTok::Minus ? a - b : a * b;
            return IntConst(static_cast<int64_t>(v), pos);
          }
          return bin(tI64);
        }
        if (lNum && rNum) {
          l = ToReal(l);
          r = ToReal(r);
          if (bothConst) {
            const double a = l->cv.f, b = r->cv.f;
            return RealConst(op == TTok::Plus ? a + b : op == TTok::Minus ? a - b : a * b, pos);
          }
          return bin(tDouble);
        }
        return bad();
      case TTok::Slash:
        if (lNum && rNum) {
          l = ToReal(l);
          r = ToReal(r);
          if (bothConst && r->cv.f != 0) return RealConst(l->cv.f / r->cv.f, pos);
          return bin(tDouble);
        }
        return bad();
      case TTok::kDiv:
      case TTok::kMod:
        if (lInt && rInt) {
          if (bothConst) {
            if (r->cv.i == 0) Error(pos, "Division by zero");
            const int64_t a = l->cv.i, b = r->cv.i;
            int64_t v;
            if (b == -1)
              v = op == TTok::kDiv ? static_cast<int64_t>(0 - static_cast<uint64_t>(a)) : 0;
            else
              v = op == TTok::kDiv ? a / b : a % b;
            return IntConst(v, pos);
          }
          return bin(tI64);
        }
        return bad();
      case TTok::kShl:
      case TTok::kShr:
        if (lInt && rInt) {
          TType* t = lt->ik == I64 ? tI64 : (lt->ik == U32 ? tU32 : tI32);
          if (bothConst) {
            int64_t v;
            if (t == tI64 || l->type == tI32)  // constants: 64-bit like Free Pascal's folding
              v = op == TTok::kShl
                      ? static_cast<int64_t>(static_cast<uint64_t>(l->cv.i) << (r->cv.i & 63))
                      : static_cast<int64_t>(static_cast<uint64_t>(l->cv.i) >> (r->cv.i & 63));
            else
              v = op == TTok::kShl
                      ? Wrap(static_cast<int64_t>(static_cast<uint32_t>(l->cv.i) << (r->cv.i & 31)),
                             t->ik)
                      : Wrap(static_cast<int64_t>(static_cast<uint32_t>(l->cv.i) >> (r->cv.i & 31)),
                             t->ik);
            return IntConst(v, pos);
          }
          return bin(t);
        }
        return bad();
      case TTok::kAnd:
      case TTok::kOr:
      case TTok::kXor:
        if (lt->k == TK::Bool && rt->k == TK::Bool) {
          if (bothConst) {
            const bool a = l->cv.i, b = r->cv.i;
            return BoolConst(op == TTok::kAnd  ? (a && b)
                             : op == TTok::kOr ? (a || b)
                                               : (a != b),
                             pos);
          }
          // Short-circuit forms fold a constant left operand.
          if (IsConst(l) && op != TTok::kXor) {
            if (op == TTok::kAnd) return l->cv.i ? r : l;
            return l->cv.i ? l : r;
          }
          return bin(tBool);
        }
        if (lInt && rInt) {
          if (bothConst) {
            const int64_t a = l->cv.i, b = r->cv.i;
            return IntConst(op == TTok::kAnd ? (a & b) : op == TTok::kOr ? (a | b) : (a ^ b), pos);
          }
          return bin(SameType(lt, rt) ? lt : tI64);
        }
        return bad();
      case TTok::Eq:
      case TTok::Ne:
      case TTok::Lt:
      case TTok::Gt:
      case TTok::Le:
      case TTok::Ge: {
        auto cmp = [&](int c) -> bool {
          switch (op) {
            case TTok::Eq:
              return c == 0;
            case TTok::Ne:
              return c != 0;
            case TTok::Lt:
              return c < 0;
            case TTok::Gt:
              return c > 0;
            case TTok::Le:
              return c <= 0;
            default:
              return c >= 0;
          }
        };
        if ((lInt && rInt) || (lt->k == TK::Char && rt->k == TK::Char) ||
            (lt->k == TK::Bool && rt->k == TK::Bool)) {
          if (bothConst)
            return BoolConst(cmp(l->cv.i < r->cv.i ? -1 : l->cv.i > r->cv.i ? 1 : 0), pos);
          return bin(tBool);
        }
        if (lNum && rNum) {
          l = ToReal(l);
          r = ToReal(r);
          if (bothConst)
            return BoolConst(cmp(l->cv.f < r->cv.f ? -1 : l->cv.f > r->cv.f ? 1 : 0), pos);
          return bin(tBool);
        }
        if ((lt->k == TK::Str || lt->k == TK::Char) && (rt->k == TK::Str || rt->k == TK::Char)) {
          l = Coerce(l, tStr);
          r = Coerce(r, tStr);
          if (bothConst) return BoolConst(cmp(l->cv.s.compare(r->cv.s)), pos);
          return bin(tBool);
        }
        return bad();
      }
      default:
        return bad();
    }
  }

  // Identifiers, selectors and calls. `stmt`: at the start of a statement.
  TNode* ParseDesignator(bool stmt) {
    const int pos = tok.offset;
    const std::string name = tok.text;
    const std::string orig = tok.orig;
    TSym* s = Lookup(name);
    if (!s) Error(pos, "Unknown identifier '" + orig + "'");
    Next();
    TNode* n = nullptr;
    switch (s->k) {
      case SK::Var:
        s->used = true;
        if (s->isExcVar) {
          Expect(TTok::Dot);
          const int p2 = tok.offset;
          const std::string f = ExpectIdent();
          TNode* e = NewNode(f == "MESSAGE" ? NK::ExcMsg : NK::ExcCls, tStr, p2);
          if (f != "MESSAGE" && f != "CLASSNAME")
            Error(p2, "Unknown member '" + prevTok.orig + "'");
          e->sym = s;
          return e;
        }
        n = NewNode(NK::Var, s->type, pos);
        n->sym = s;
        break;
      case SK::Const: {
        n = NewNode(NK::Const, s->type, pos);
        n->cv = s->cv;
        break;
      }
      case SK::Type: {
        // Type cast: T(expr) between ordinal types.
        Expect(TTok::LParen);
        TNode* e = ParseExpr();
        Expect(TTok::RParen);
        TType* t = s->type;
        if (IsOrdinal(t) && IsOrdinal(e->type)) {
          if (IsConst(e)) {
            n = IntConst(t->k == TK::Int
                             ? Wrap(e->cv.i, t->ik)
                             : (t->k == TK::Bool ? (e->cv.i != 0) : static_cast<uint8_t>(e->cv.i)),
                         pos, t);
          } else {
            n = NewNode(NK::Conv, t, pos);
            n->conv = Conv::Trunc;
            n->a = e;
            if (t->k == TK::Bool) {
              n = MakeBinary(TTok::Ne, e, IntConst(0, pos, e->type), pos);
            }
            SetDepth(n);
          }
        } else if (t->k == TK::Real && (e->type->k == TK::Real || e->type->k == TK::Int)) {
          n = Coerce(e, t);
        } else if (t->k == TK::Str && (e->type->k == TK::Str || e->type->k == TK::Char)) {
          n = Coerce(e, t);
        } else if (SameType(t, e->type)) {
          n = e;
        } else {
          Error(pos, "Invalid type cast");
        }
        break;
      }
      case SK::Func:
      case SK::Host:
        n = ParseCall(s->fn, pos, stmt);
        break;
      case SK::Builtin:
        n = ParseBuiltin(s->builtin, pos, stmt);
        if (!n) return nullptr;
        break;
      case SK::ExcClass:
        Error(pos, "Exception class '" + orig + "' can only be used in raise and on");
    }
    // Selectors.
    for (;;) {
      if (Is(TTok::Dot)) {
        if (n->type->k != TK::Rec) Error("Record expected before '.'");
        Next();
        const int p2 = tok.offset;
        const std::string f = ExpectIdent();
        const TField* fld = nullptr;
        for (const auto& x : n->type->fields)
          if (x.name == f) fld = &x;
        if (!fld) Error(p2, "Unknown field '" + prevTok.orig + "'");
        TNode* m = NewNode(NK::Field, fld->type, p2);
        m->a = n;
        m->off = fld->off;
        SetDepth(m);
        n = m;
      } else if (Is(TTok::LBrack)) {
        Next();
        for (;;) {
          const int p2 = tok.offset;
          TNode* idx = ParseExpr();
          TType* bt = n->type;
          TNode* m;
          if (bt->k == TK::Str) {
            if (idx->type->k != TK::Int) Error(p2, "Integer index expected");
            m = NewNode(NK::Index, tChar, p2);
          } else if (bt->k == TK::Arr || bt->k == TK::DynArr) {
            if (!IsOrdinal(idx->type)) Error(p2, "Ordinal index expected");
            if (bt->k == TK::Arr && IsConst(idx) && (idx->cv.i < bt->low || idx->cv.i > bt->high))
              Error(p2, "Index out of range");
            m = NewNode(NK::Index, bt->elem, p2);
          } else {
            Error(p2, "Array or string expected before '['");
          }
          m->a = n;
          m->b = idx;
          SetDepth(m);
          n = m;
          if (!Accept(TTok::Comma)) break;
        }
        Expect(TTok::RBrack);
      } else {
        break;
      }
    }
    return n;
  }

  std::vector<TNode*> ParseArgs() {
    std::vector<TNode*> args;
    if (Accept(TTok::LParen)) {
      if (!Is(TTok::RParen)) {
        for (;;) {
          args.push_back(ParseExpr());
          if (!Accept(TTok::Comma)) break;
        }
      }
      Expect(TTok::RParen);
    }
    return args;
  }

  bool IsLvalue(const TNode* n) const {
    switch (n->k) {
      case NK::Var:
        return !n->sym->isConst;
      case NK::Field:
        return IsLvalue(n->a) || n->a->k == NK::Call;
      case NK::Index:
        return n->a->type->k != TK::Str && (IsLvalue(n->a) || n->a->type->k == TK::DynArr);
      default:
        return false;
    }
  }
  void RequireVar(const TNode* n, int pos) {
    if (!IsLvalue(n)) Error(pos, "Variable required");
  }

  TNode* ParseCall(TFuncDecl* f, int pos, bool stmt) {
    std::vector<TNode*> args = ParseArgs();
    if (args.size() != f->params.size())
      Error(pos, "Wrong number of parameters calling '" + f->orig +
                     "': " + std::to_string(args.size()) + " given, " +
                     std::to_string(f->params.size()) + " expected");
    for (size_t i = 0; i < args.size(); ++i) {
      const TParam& p = f->params[i];
      if (p.mode == PMode::Var || p.mode == PMode::Out) {
        RequireVar(args[i], args[i]->pos);
        if (!SameType(args[i]->type, p.type))
          Error(args[i]->pos, "Types of actual and formal var parameters must be identical: got '" +
                                  TypeName(args[i]->type) + "', expected '" + TypeName(p.type) +
                                  "'");
      } else if (p.byRef) {
        if (!SameType(args[i]->type, p.type))
          Error(args[i]->pos, "Incompatible type for parameter '" + p.orig + "'");
      } else if (IsCompound(p.type) || p.type->k == TK::DynArr) {
        if (!SameType(args[i]->type, p.type))
          Error(args[i]->pos, "Incompatible type for parameter '" + p.orig + "': got '" +
                                  TypeName(args[i]->type) + "', expected '" + TypeName(p.type) +
                                  "'");
      } else {
        args[i] = Coerce(args[i], p.type, "parameter");
      }
    }
    if (!stmt && !f->result) Error(pos, "Procedure '" + f->orig + "' has no value");
    TNode* n = NewNode(NK::Call, f->result ? f->result : tVoid, pos);
    n->fn = f;
    n->args = std::move(args);
    SetDepth(n);
    return n;
  }

  TNode* Builtin1(int id, TType* t, int pos, std::vector<TNode*> args) {
    TNode* n = NewNode(NK::Call, t, pos);
    n->builtin = id;
    n->args = std::move(args);
    SetDepth(n);
    return n;
  }

  TNode* ParseBuiltin(int id, int pos, bool stmt) {
    if (id == B_EXIT || id == B_BREAK || id == B_CONTINUE) {
      if (!stmt) Error(pos, "Statement expected");
      if (id == B_EXIT && Is(TTok::LParen)) {
        Next();
        TNode* v = nullptr;
        if (!Is(TTok::RParen)) v = ParseExpr();
        Expect(TTok::RParen);
        return Builtin1(id, tVoid, pos, v ? std::vector<TNode*>{v} : std::vector<TNode*>{});
      }
      return Builtin1(id, tVoid, pos, {});
    }
    if (id == B_FORMAT) {
      Expect(TTok::LParen);
      TNode* f = Coerce(ParseExpr(), tStr, "parameter");
      Expect(TTok::Comma);
      Expect(TTok::LBrack);
      std::vector<TNode*> args{f};
      if (!Is(TTok::RBrack)) {
        for (;;) {
          TNode* a = ParseExpr();
          const TK k = a->type->k;
          if (k != TK::Int && k != TK::Real && k != TK::Str && k != TK::Char)
            Error(a->pos, "Invalid argument for Format");
          args.push_back(a);
          if (args.size() > 29) Error(a->pos, "Too many arguments for Format");
          if (!Accept(TTok::Comma)) break;
        }
      }
      Expect(TTok::RBrack);
      Expect(TTok::RParen);
      return Builtin1(id, tStr, pos, std::move(args));
    }
    if ((id == B_HIGH || id == B_LOW) && Is(TTok::LParen)) {
      // High(T) / Low(T) of a type name.
      TLexer save = *lex;
      TToken saveTok = tok;
      Next();
      TSym* ts = Is(TTok::Ident) ? Lookup(tok.text) : nullptr;
      if (ts && ts->k == SK::Type) {
        Next();
        Expect(TTok::RParen);
        TType* t = ts->type;
        const bool hi = id == B_HIGH;
        switch (t->k) {
          case TK::Int:
            return IntConst(hi ? IntMax(t->ik) : IntMin(t->ik), pos, t);
          case TK::Char:
            return IntConst(hi ? 255 : 0, pos, tChar);
          case TK::Bool:
            return IntConst(hi ? 1 : 0, pos, tBool);
          case TK::Arr:
            return IntConst(hi ? t->high : t->low, pos);
          default:
            Error(pos, "Ordinal type or array expected");
        }
      }
      *lex = save;
      tok = saveTok;
    }
    std::vector<TNode*> args = ParseArgs();
    auto need = [&](size_t lo, size_t hi) {
      if (args.size() < lo || args.size() > hi) Error(pos, "Wrong number of parameters");
    };
    auto intArg = [&](size_t i) {
      if (args[i]->type->k != TK::Int) Error(args[i]->pos, "Integer expression expected");
    };
    auto strArg = [&](size_t i) { args[i] = Coerce(args[i], tStr, "parameter"); };
    auto realArg = [&](size_t i) {
      if (args[i]->type->k != TK::Int && args[i]->type->k != TK::Real)
        Error(args[i]->pos, "Real expression expected");
      args[i] = ToReal(args[i]);
    };
    auto fold1 = [&](TNode* n) -> TNode* { return n; };
    (void)fold1;
    TNode* r = nullptr;
    switch (id) {
      case B_INTTOSTR:
        need(1, 1);
        intArg(0);
        if (IsConst(args[0])) return StrConst(std::to_string(args[0]->cv.i), pos);
        r = Builtin1(id, tStr, pos, args);
        break;
      case B_STRTOINT:
        need(1, 1);
        strArg(0);
        r = Builtin1(id, tI32, pos, args);
        break;
      case B_STRTOINTDEF:
        need(2, 2);
        strArg(0);
        intArg(1);
        args[1] = Coerce(args[1], tI64);
        r = Builtin1(id, tI32, pos, args);
        break;
      case B_FLOATTOSTR:
        need(1, 1);
        realArg(0);
        r = Builtin1(id, tStr, pos, args);
        break;
      case B_LENGTH:
        need(1, 1);
        if (args[0]->type->k == TK::Char) return IntConst(1, pos);
        if (args[0]->type->k == TK::Str) {
          if (IsConst(args[0])) return IntConst(static_cast<int64_t>(args[0]->cv.s.size()), pos);
        } else if (args[0]->type->k == TK::Arr) {
          return IntConst(args[0]->type->high - args[0]->type->low + 1, pos);
        } else if (args[0]->type->k != TK::DynArr) {
          Error(args[0]->pos, "String or array expected");
        }
        r = Builtin1(id, tI32, pos, args);
        break;
      case B_SETLENGTH:
        need(2, 2);
        if (args[0]->type->k != TK::Str && args[0]->type->k != TK::DynArr)
          Error(args[0]->pos, "String or dynamic array variable expected");
        RequireVar(args[0], args[0]->pos);
        intArg(1);
        if (!stmt) Error(pos, "Procedure has no value");
        r = Builtin1(id, tVoid, pos, args);
        break;
      case B_HIGH:
      case B_LOW: {
        // High/Low of a type name.
        need(1, 1);
        TType* t = args[0]->type;
        if (t->k == TK::Arr)
          return IntConst(id == B_HIGH ? t->high : t->low, pos,
                          t->elem && false
                              ? tI32
                              : (t->low >= INT32_MIN && t->high <= INT32_MAX ? tI32 : tI64));
        if (t->k == TK::DynArr || t->k == TK::Str) {
          if (id == B_LOW) return IntConst(t->k == TK::Str ? 1 : 0, pos);
          r = Builtin1(id, tI32, pos, args);
          break;
        }
        Error(args[0]->pos, "Array expected");
      }
      case B_COPY:
        need(3, 3);
        strArg(0);
        intArg(1);
        intArg(2);
        r = Builtin1(id, tStr, pos, args);
        break;
      case B_POS:
        need(2, 2);
        strArg(0);
        strArg(1);
        r = Builtin1(id, tI32, pos, args);
        break;
      case B_DELETE:
        need(3, 3);
        if (args[0]->type->k != TK::Str) Error(args[0]->pos, "String variable expected");
        RequireVar(args[0], args[0]->pos);
        intArg(1);
        intArg(2);
        r = Builtin1(id, tVoid, pos, args);
        break;
      case B_INSERT:
        need(3, 3);
        strArg(0);
        if (args[1]->type->k != TK::Str) Error(args[1]->pos, "String variable expected");
        RequireVar(args[1], args[1]->pos);
        intArg(2);
        r = Builtin1(id, tVoid, pos, args);
        break;
      case B_UPPERCASE:
      case B_LOWERCASE:
      case B_TRIM:
        need(1, 1);
        strArg(0);
        r = Builtin1(id, tStr, pos, args);
        break;
      case B_CHR:
        need(1, 1);
        intArg(0);
        if (IsConst(args[0])) return IntConst(static_cast<uint8_t>(args[0]->cv.i), pos, tChar);
        r = Builtin1(id, tChar, pos, args);
        break;
      case B_ORD:
        need(1, 1);
        if (!IsOrdinal(args[0]->type)) Error(args[0]->pos, "Ordinal expression expected");
        if (IsConst(args[0])) return IntConst(args[0]->cv.i, pos);
        r = Builtin1(id, args[0]->type->k == TK::Int && args[0]->type->ik == I64 ? tI64 : tI32, pos,
                     args);
        break;
      case B_INC:
      case B_DEC:
        need(1, 2);
        if (!IsOrdinal(args[0]->type)) Error(args[0]->pos, "Ordinal variable expected");
        RequireVar(args[0], args[0]->pos);
        if (args.size() == 2) intArg(1);
        if (!stmt) Error(pos, "Procedure has no value");
        r = Builtin1(id, tVoid, pos, args);
        break;
      case B_ABS:
        need(1, 1);
        if (args[0]->type->k == TK::Int) {
          if (IsConst(args[0]))
            return IntConst(args[0]->cv.i < 0
                                ? static_cast<int64_t>(0 - static_cast<uint64_t>(args[0]->cv.i))
                                : args[0]->cv.i,
                            pos);
          r = Builtin1(id, args[0]->type->ik == I64 ? tI64 : tI32, pos, args);
        } else {
          realArg(0);
          r = Builtin1(id, tDouble, pos, args);
        }
        break;
      case B_ODD:
        need(1, 1);
        intArg(0);
        r = Builtin1(id, tBool, pos, args);
        break;
      case B_SUCC:
      case B_PRED:
        need(1, 1);
        if (!IsOrdinal(args[0]->type)) Error(args[0]->pos, "Ordinal expression expected");
        r = Builtin1(id, args[0]->type->k == TK::Int ? tI64 : args[0]->type, pos, args);
        break;
      case B_ROUND:
      case B_TRUNC:
        need(1, 1);
        realArg(0);
        r = Builtin1(id, tI64, pos, args);
        break;
      case B_SQR:
        need(1, 1);
        if (args[0]->type->k == TK::Int) return MakeBinary(TTok::Star, args[0], args[0], pos);
        realArg(0);
        return MakeBinary(TTok::Star, args[0], args[0], pos);
      case B_SQRT:
      case B_SIN:
      case B_COS:
      case B_EXP:
      case B_LN:
      case B_ARCTAN:
      case B_INT:
      case B_FRAC:
        need(1, 1);
        realArg(0);
        r = Builtin1(id, tDouble, pos, args);
        break;
      case B_SLEEP:
        need(1, 1);
        intArg(0);
        r = Builtin1(id, tVoid, pos, args);
        break;
      default:
        Error(pos, "Unknown routine");
    }
    if (!stmt && r->type == tVoid) Error(pos, "Procedure has no value");
    return r;
  }

  // ------------------------------------------------------------------ code generation: values
  bool InMainFrame() const { return fs->isMain; }

  TLoc VarLoc(TSym* s) {
    TLoc l;
    if (s->st == TStorage::Global) {
      l.k = InMainFrame() ? TLoc::Slot : TLoc::Global;
      l.slot = s->slot;
    } else if (s->st == TStorage::Local) {
      l.k = TLoc::Slot;
      l.slot = s->slot;
    } else {
      l.k = TLoc::Ref;
      l.slot = s->slot;
    }
    return l;
  }

  // The slot holding the array pointer of an array at loc (borrowed, or a protected copy).
  int ArrPtr(const TLoc& l, bool protect) {
    switch (l.k) {
      case TLoc::Slot:
        if (protect) {
          const int t = NewArr();
          Emit(OP_MOVA, t, l.slot);
          return t;
        }
        return l.slot;
      case TLoc::Global: {
        const int t = protect ? NewArr() : NewPlain();
        Emit(protect ? OP_LDGA : OP_LDG, t, 0, 0, l.slot);
        return t;
      }
      case TLoc::Ref: {
        const int t = protect ? NewArr() : NewPlain();
        Emit(protect ? OP_LDRA : OP_LDR, t, l.slot, l.off);
        return t;
      }
    }
    return 0;
  }

  TLoc GenLoc(TNode* n, bool protect) {
    switch (n->k) {
      case NK::Var:
        return VarLoc(n->sym);
      case NK::Field: {
        TLoc l = GenLoc(n->a, protect);
        if (l.k == TLoc::Ref) {
          if (l.off + n->off > 0xFFFF) Error(n->pos, "Record too large");
          l.off += n->off;
        } else {
          l.slot += n->off;
        }
        return l;
      }
      case NK::Index: {
        const int ix = GenVal(n->b);
        TLoc bl = GenLoc(n->a, protect);
        const int arr = ArrPtr(bl, protect && n->a->type->k == TK::DynArr);
        const int p = NewPlain();
        Emit(OP_ADDRE, p, arr, ix);
        return TLoc{TLoc::Ref, p, 0};
      }
      case NK::Call: {
        // A record (or static array) returned by a function: its result slots.
        const int base = GenCall(n, -1, true);
        return TLoc{TLoc::Slot, base, 0};
      }
      default:
        Error(n->pos, "Variable required");
    }
  }

  int AddrOf(const TLoc& l, int want = -1) {
    switch (l.k) {
      case TLoc::Slot: {
        const int t = want >= 0 ? want : NewPlain();
        Emit(OP_ADDRL, t, 0, 0, l.slot);
        return t;
      }
      case TLoc::Global: {
        const int t = want >= 0 ? want : NewPlain();
        Emit(OP_ADDRG, t, 0, 0, l.slot);
        return t;
      }
      case TLoc::Ref:
        if (l.off == 0) {
          if (want >= 0 && want != l.slot) {
            Emit(OP_MOV, want, l.slot);
            return want;
          }
          return l.slot;
        } else {
          const int t = want >= 0 ? want : NewPlain();
          Emit(OP_ADDRR, t, l.slot, l.off);
          return t;
        }
    }
    return 0;
  }

  // Loads the value at loc into a slot (for plain, string and dynamic array values).
  int LoadLoc(const TLoc& l, TType* t, int want) {
    const TK k = t->k;
    if (l.k == TLoc::Slot) {
      if (want >= 0 && want != l.slot) {
        Emit(k == TK::Str ? OP_MOVS : (k == TK::DynArr ? OP_MOVA : OP_MOV), want, l.slot);
        return want;
      }
      return l.slot;
    }
    const int dst = want >= 0 ? want : NewTempFor(t);
    if (l.k == TLoc::Global)
      Emit(k == TK::Str ? OP_LDGS : (k == TK::DynArr ? OP_LDGA : OP_LDG), dst, 0, 0, l.slot);
    else
      Emit(k == TK::Str ? OP_LDRS : (k == TK::DynArr ? OP_LDRA : OP_LDR), dst, l.slot, l.off);
    return dst;
  }

  void StoreLoc(const TLoc& l, TType* t, int v) {
    const TK k = t->k;
    switch (l.k) {
      case TLoc::Slot:
        if (l.slot == v) return;
        if (k == TK::Str)
          Emit(IsStrTemp(v) ? OP_MOVSM : OP_MOVS, l.slot, v);
        else if (k == TK::DynArr)
          Emit(IsArrTemp(v) ? OP_MOVAM : OP_MOVA, l.slot, v);
        else
          Emit(OP_MOV, l.slot, v);
        return;
      case TLoc::Global:
        Emit(k == TK::Str ? OP_STGS : (k == TK::DynArr ? OP_STGA : OP_STG), v, 0, 0, l.slot);
        return;
      case TLoc::Ref:
        Emit(k == TK::Str ? OP_STRS : (k == TK::DynArr ? OP_STRA : OP_STR), v, l.slot, l.off);
        return;
    }
  }

  // Is slot s one that string/array instructions may write (it holds a valid reference)?
  static bool ManagedOk(int s) {
    return s >= 0 && !IsCallSlot(s) && !(s >= kPlainTag && s < kStrTag);
  }

  // Generates n; returns the slot holding its value. want >= 0 asks for that slot (for
  // strings and arrays only slots that hold a valid reference: variables and temporaries).
  int GenVal(TNode* n, int want = -1) {
    const int savedPos = curPos;
    curPos = n->pos;
    const int r = GenValInner(n, want);
    curPos = savedPos;
    return r;
  }

  int Dst(const TNode* n, int want) { return want >= 0 ? want : NewTempFor(n->type); }

  int GenValInner(TNode* n, int want) {
    TType* t = n->type;
    switch (n->k) {
      case NK::Const: {
        if (t->k == TK::Str) {
          const int d = Dst(n, want);
          Emit(OP_LDKS, d, 0, 0, StrIndex(n->cv.s));
          return d;
        }
        const int d = Dst(n, want);
        if (t->k == TK::Real) {
          int64_t bits;
          std::memcpy(&bits, &n->cv.f, 8);
          Emit(OP_LDK, d, 0, 0, IntIndex(bits));
        } else if (n->cv.i >= INT32_MIN && n->cv.i <= INT32_MAX) {
          Emit(OP_LDI, d, 0, 0, static_cast<int32_t>(n->cv.i));
        } else {
          Emit(OP_LDK, d, 0, 0, IntIndex(n->cv.i));
        }
        return d;
      }
      case NK::Var:
      case NK::Field: {
        if (IsCompound(t)) Error(n->pos, "Record or array value not allowed here");
        TLoc l = GenLoc(n, false);
        return LoadLoc(l, t, want);
      }
      case NK::Index: {
        if (n->a->type->k == TK::Str) {
          const int ix = GenVal(n->b);
          const int s = GenVal(n->a);
          const int d = Dst(n, want);
          Emit(OP_LDCH, d, s, ix);
          return d;
        }
        if (IsCompound(t)) Error(n->pos, "Record or array value not allowed here");
        const int ix = GenVal(n->b);
        TLoc bl = GenLoc(n->a, false);
        const int arr = ArrPtr(bl, false);
        const int d = Dst(n, want);
        Emit(t->k == TK::Str ? OP_LDES : (t->k == TK::DynArr ? OP_LDEA : OP_LDE), d, arr, ix);
        return d;
      }
      case NK::Call:
        if (n->builtin) return GenBuiltin(n, want);
        return GenCall(n, want, false);
      case NK::Conv: {
        if (n->off == 1) return GenVal(n->a, want);  // no code
        switch (n->conv) {
          case Conv::IntToReal: {
            const int v = GenVal(n->a);
            const int d = Dst(n, want);
            Emit(OP_I2F, d, v);
            return d;
          }
          case Conv::ToSingle: {
            const int v = GenVal(n->a);
            const int d = Dst(n, want);
            Emit(OP_F2SGL, d, v);
            return d;
          }
          case Conv::CharToStr: {
            const int v = GenVal(n->a);
            const int d = Dst(n, want);
            Emit(OP_CHRS, d, v);
            return d;
          }
          case Conv::Trunc: {
            const int d0 = want >= 0 ? want : NewPlain();
            const int v = GenVal(n->a, d0);
            EmitTrunc(t, d0, v);
            return d0;
          }
        }
        return 0;
      }
      case NK::Unary: {
        if (n->op == TTok::kNot) {
          const int v = GenVal(n->a);
          const int d = Dst(n, want);
          if (t->k == TK::Bool) {
            Emit(OP_BNOT, d, v);
          } else {
            Emit(OP_NOT, d, v);
            if (t->ik == U8 || t->ik == U16 || t->ik == U32) EmitTrunc(t, d, d);
          }
          return d;
        }
        const int v = GenVal(n->a);
        const int d = Dst(n, want);
        Emit(t->k == TK::Real ? OP_FNEG : OP_NEG, d, v);
        return d;
      }
      case NK::Binary:
        return GenBinary(n, want, false);
      case NK::ExcMsg:
      case NK::ExcCls: {
        const int d = Dst(n, want);
        Emit(n->k == NK::ExcMsg ? OP_EXCMSG : OP_EXCCLS, d, n->sym->slot);
        return d;
      }
    }
    return 0;
  }

  void EmitTrunc(TType* t, int d, int v) {
    if (t->k == TK::Int) {
      static const uint16_t ops[] = {OP_TI8, OP_TU8, OP_TI16, OP_TU16, OP_TI32, OP_TU32};
      if (t->ik == I64) {
        if (d != v) Emit(OP_MOV, d, v);
      } else {
        Emit(ops[t->ik], d, v);
      }
    } else if (t->k == TK::Char) {
      Emit(OP_TU8, d, v);
    } else if (t->k == TK::Bool) {
      Emit(OP_NE, d, v, ZeroSlot());
    } else if (d != v) {
      Emit(OP_MOV, d, v);
    }
  }
  int ZeroSlot() {
    const int z = NewPlain();
    Emit(OP_LDI, z, 0, 0, 0);
    return z;
  }

  int StrIndex(const std::string& s) {
    for (size_t i = 0; i < mod.kstr.size(); ++i)
      if (mod.kstr[i] == s) return static_cast<int>(i);
    mod.kstr.push_back(s);
    return static_cast<int>(mod.kstr.size()) - 1;
  }
  std::unordered_map<int64_t, int> kintIndex;
  int IntIndex(int64_t v) {
    auto it = kintIndex.find(v);
    if (it != kintIndex.end()) return it->second;
    mod.kint.push_back(v);
    const int i = static_cast<int>(mod.kint.size()) - 1;
    kintIndex[v] = i;
    return i;
  }

  static bool SmallK(const TNode* n) {
    return n->k == NK::Const && n->type->k == TK::Int && n->cv.i >= -32768 && n->cv.i <= 32767;
  }

  // wrap32: the result goes straight into an Integer variable (32-bit wrapping forms).
  int GenBinary(TNode* n, int want, bool wrap32) {
    TNode* l = n->a;
    TNode* r = n->b;
    const TTok op = n->op;
    TType* lt = l->type;
    if (op == TTok::kAnd || op == TTok::kOr) {
      if (lt->k == TK::Bool) {
        // Short-circuit into a value.
        const int d = want >= 0 ? want : NewPlain();
        std::vector<int> toFalse;
        GenJump(n, false, toFalse);
        Emit(OP_LDI, d, 0, 0, 1);
        const int j = Emit(OP_JMP);
        PatchAll(toFalse, Here());
        Emit(OP_LDI, d, 0, 0, 0);
        Patch(j, Here());
        return d;
      }
    }
    if (lt->k == TK::Str || lt->k == TK::Char) {
      if (op == TTok::Plus) {
        const int a = GenVal(l);
        const int b = GenVal(r);
        const int d = want >= 0 ? want : NewStr();
        const bool lc = lt->k == TK::Char, rc = r->type->k == TK::Char;
        Emit(lc && rc ? OP_CATCC : lc ? OP_CATCS : rc ? OP_CATSC : OP_CAT, d, a, b);
        return d;
      }
    }
    // Comparisons into a value.
    if (op == TTok::Eq || op == TTok::Ne || op == TTok::Lt || op == TTok::Gt || op == TTok::Le ||
        op == TTok::Ge) {
      const int a = GenVal(l);
      const int b = GenVal(r);
      const int d = want >= 0 ? want : NewPlain();
      const TK k = lt->k;
      uint16_t eq, ne, lt_, le;
      if (k == TK::Str) {
        eq = OP_SEQ, ne = OP_SNE, lt_ = OP_SLT, le = OP_SLE;
      } else if (k == TK::Real) {
        eq = OP_FEQ, ne = OP_FNE, lt_ = OP_FLT, le = OP_FLE;
      } else {
        eq = OP_EQ, ne = OP_NE, lt_ = OP_LT, le = OP_LE;
      }
      switch (op) {
        case TTok::Eq:
          Emit(eq, d, a, b);
          break;
        case TTok::Ne:
          Emit(ne, d, a, b);
          break;
        case TTok::Lt:
          Emit(lt_, d, a, b);
          break;
        case TTok::Le:
          Emit(le, d, a, b);
          break;
        case TTok::Gt:
          Emit(lt_, d, b, a);
          break;
        default:
          Emit(le, d, b, a);
          break;
      }
      return d;
    }
    if (n->type->k == TK::Real) {
      const int a = GenVal(l);
      const int b = GenVal(r);
      const int d = want >= 0 ? want : NewPlain();
      const uint16_t o = op == TTok::Plus    ? OP_FADD
                         : op == TTok::Minus ? OP_FSUB
                         : op == TTok::Star  ? OP_FMUL
                                             : OP_FDIV;
      Emit(o, d, a, b);
      return d;
    }
    // Integers (and Boolean xor / and / or as bit operations).
    const int a = GenVal(l);
    if ((op == TTok::Plus || op == TTok::Minus || op == TTok::Star || op == TTok::kDiv ||
         op == TTok::kMod) &&
        SmallK(r)) {
      const int d = want >= 0 ? want : NewPlain();
      const int k = static_cast<int>(r->cv.i);
      uint16_t o;
      switch (op) {
        case TTok::Plus:
          o = wrap32 ? OP_ADDK32 : OP_ADDK;
          break;
        case TTok::Minus:
          o = wrap32 ? OP_SUBK32 : OP_SUBK;
          break;
        case TTok::Star:
          o = OP_MULK;
          break;
        case TTok::kDiv:
          o = OP_DIVK;
          break;
        default:
          o = OP_MODK;
          break;
      }
      Emit(o, d, a, 0, 0);
      mod.code.back().c = static_cast<uint16_t>(static_cast<int16_t>(k));
      if (wrap32 && (o == OP_MULK || o == OP_DIVK)) Emit(OP_TI32, d, d);  // x mod k fits
      return d;
    }
    const int b = GenVal(r);
    const int d = want >= 0 ? want : NewPlain();
    bool needTrunc = false;
    switch (op) {
      case TTok::Plus:
        Emit(wrap32 ? OP_ADD32 : OP_ADD, d, a, b);
        break;
      case TTok::Minus:
        Emit(wrap32 ? OP_SUB32 : OP_SUB, d, a, b);
        break;
      case TTok::Star:
        Emit(wrap32 ? OP_MUL32 : OP_MUL, d, a, b);
        break;
      case TTok::kDiv:
        Emit(OP_DIV, d, a, b);
        needTrunc = wrap32;
        break;
      case TTok::kMod:
        Emit(OP_MOD, d, a, b);
        needTrunc = wrap32;
        break;
      case TTok::kAnd:
        Emit(OP_AND, d, a, b);
        break;
      case TTok::kOr:
        Emit(OP_OR, d, a, b);
        break;
      case TTok::kXor:
        Emit(OP_XOR, d, a, b);
        break;
      case TTok::kShl:
      case TTok::kShr: {
        TType* t = n->type;
        if (t->ik == I64) {
          Emit(op == TTok::kShl ? OP_SHL : OP_SHR, d, a, b);
        } else {
          Emit(op == TTok::kShl ? OP_SHL32 : OP_SHR32, d, a, b);
          if (t->ik == U32 && op == TTok::kShl) Emit(OP_TU32, d, d);
          if (t->ik == I32 && op == TTok::kShr) Emit(OP_TI32, d, d);
        }
        break;
      }
      default:
        Error(n->pos, "Operator not supported");
    }
    if (needTrunc) Emit(OP_TI32, d, d);
    return d;
  }

  // Emits jumps taken when cond evaluates to `when`; the jumps are added to `out`.
  void GenJump(TNode* c, bool when, std::vector<int>& out) {
    const int savedPos = curPos;
    curPos = c->pos;
    GenJumpInner(c, when, out);
    curPos = savedPos;
  }
  void GenJumpInner(TNode* c, bool when, std::vector<int>& out) {
    if (IsConst(c)) {
      if ((c->cv.i != 0) == when) out.push_back(Emit(OP_JMP));
      return;
    }
    if (c->k == NK::Unary && c->op == TTok::kNot && c->type->k == TK::Bool) {
      GenJump(c->a, !when, out);
      return;
    }
    if (c->k == NK::Binary && c->a->type->k == TK::Bool &&
        (c->op == TTok::kAnd || c->op == TTok::kOr)) {
      const bool isAnd = c->op == TTok::kAnd;
      if (isAnd != when) {
        // and/false, or/true: either operand decides.
        GenJump(c->a, when, out);
        GenJump(c->b, when, out);
      } else {
        std::vector<int> skip;
        GenJump(c->a, !when, skip);
        GenJump(c->b, when, out);
        PatchAll(skip, Here());
      }
      return;
    }
    if (c->k == NK::Binary) {
      const TTok op = c->op;
      const TK k = c->a->type->k;
      const bool rel = op == TTok::Eq || op == TTok::Ne || op == TTok::Lt || op == TTok::Gt ||
                       op == TTok::Le || op == TTok::Ge;
      if (rel && (k == TK::Int || k == TK::Char || k == TK::Bool || k == TK::Real)) {
        // Normalise to "jump if a OP b".
        TTok o = op;
        if (!when) {
          switch (o) {
            case TTok::Eq:
              o = TTok::Ne;
              break;
            case TTok::Ne:
              o = TTok::Eq;
              break;
            case TTok::Lt:
              o = TTok::Ge;
              break;
            case TTok::Ge:
              o = TTok::Lt;
              break;
            case TTok::Gt:
              o = TTok::Le;
              break;
            default:
              o = TTok::Gt;
              break;
          }
        }
        const int a = GenVal(c->a);
        if (k != TK::Real && IsConst(c->b) && c->b->cv.i >= INT32_MIN && c->b->cv.i <= INT32_MAX) {
          const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(c->b->cv.i));
          uint16_t jo;
          switch (o) {
            case TTok::Eq:
              jo = OP_JEQK;
              break;
            case TTok::Ne:
              jo = OP_JNEK;
              break;
            case TTok::Lt:
              jo = OP_JLTK;
              break;
            case TTok::Le:
              jo = OP_JLEK;
              break;
            case TTok::Gt:
              jo = OP_JGTK;
              break;
            default:
              jo = OP_JGEK;
              break;
          }
          out.push_back(Emit(jo, a, static_cast<int>(v & 0xFFFF), static_cast<int>(v >> 16)));
          return;
        }
        const int b = GenVal(c->b);
        const bool real = k == TK::Real;
        switch (o) {
          case TTok::Eq:
            out.push_back(Emit(real ? OP_JFEQ : OP_JEQ, a, b));
            break;
          case TTok::Ne:
            out.push_back(Emit(real ? OP_JFNE : OP_JNE, a, b));
            break;
          case TTok::Lt:
            out.push_back(Emit(real ? OP_JFLT : OP_JLT, a, b));
            break;
          case TTok::Le:
            out.push_back(Emit(real ? OP_JFLE : OP_JLE, a, b));
            break;
          case TTok::Gt:
            out.push_back(Emit(real ? OP_JFLT : OP_JLT, b, a));
            break;
          default:
            out.push_back(Emit(real ? OP_JFLE : OP_JLE, b, a));
            break;
        }
        return;
      }
    }
    const int v = GenVal(c);
    out.push_back(Emit(when ? OP_JT : OP_JF, v));
  }

  // ------------------------------------------------------------------ calls
  // Passes a value for a parameter of type t into call slot dst.
  void GenArgValue(TNode* a, TType* t, int dst) {
    if (t->k == TK::Str) {
      const int v = GenVal(a);
      Emit(IsStrTemp(v) ? OP_MOVSI : OP_CPYSI, dst, v);
    } else if (t->k == TK::DynArr) {
      const int v = GenVal(a);
      Emit(IsArrTemp(v) ? OP_MOVAI : OP_CPYAI, dst, v);
    } else if (IsCompound(t)) {
      const int srcp = AddrOf(GenLoc(a, true));
      const int dp = NewPlain();
      Emit(OP_ADDRL, dp, 0, 0, dst);
      Emit(OP_CPYVI, dp, srcp, 0, LayoutOf(t));
      if (a->k == NK::Call && mod.layouts[static_cast<size_t>(LayoutOf(t))].managed)
        Emit(OP_RELV, srcp, 0, 0, LayoutOf(t));
    } else {
      GenVal(a, dst);
    }
  }

  // Returns the slot of the result (the call's base slot for compound results when
  // compoundLoc; a temporary or want otherwise).
  int GenCall(TNode* n, int want, bool compoundLoc) {
    TFuncDecl* f = n->fn;
    const int nslots =
        f->host ? 1 + static_cast<int>(f->params.size()) : f->resultSlots + f->paramSlots;
    const int base = NewCall(std::max(nslots, 1));
    for (size_t i = 0; i < f->params.size(); ++i) {
      const TParam& p = f->params[i];
      const int dst = base + (f->host ? 1 + static_cast<int>(i) : f->resultSlots + p.off);
      TNode* a = n->args[i];
      if (p.byRef) {
        if (!IsLvalue(a) && a->k != NK::Call) Error(a->pos, "Variable required");
        const int mark = curPos;
        curPos = a->pos;
        AddrOf(GenLoc(a, true), dst);
        curPos = mark;
      } else {
        GenArgValue(a, p.type, dst);
      }
    }
    curPos = n->pos;
    if (f->host) {
      Emit(OP_CALLH, base, 0, 0, ImportIndex(f));
    } else {
      Emit(OP_CALL, base, 0, 0, f->index);
    }
    TType* t = f->result;
    if (!t) return base;
    if (IsCompound(t)) {
      if (compoundLoc) return base;
      Error(n->pos, "Record or array value not allowed here");
    }
    if (t->k == TK::Str) {
      const int d = ManagedOk(want) ? want : NewStr();
      Emit(OP_MOVSM, d, base);
      return d;
    }
    if (t->k == TK::DynArr) {
      const int d = ManagedOk(want) ? want : NewArr();
      Emit(OP_MOVAM, d, base);
      return d;
    }
    if (want >= 0 && want != base) {
      Emit(OP_MOV, want, base);
      return want;
    }
    return base;
  }

  int ImportIndex(TFuncDecl* f) {
    if (f->index >= 0) return f->index;
    TImportInfo im;
    im.name = f->name;
    im.decl = f->decl;
    im.params = f->hostParams;
    im.result = f->hostResult;
    mod.imports.push_back(std::move(im));
    f->index = static_cast<int>(mod.imports.size()) - 1;
    return f->index;
  }

  int GenBuiltin(TNode* n, int want) {
    auto& a = n->args;
    auto dstStr = [&]() { return ManagedOk(want) ? want : NewStr(); };
    auto dstPlain = [&]() { return want >= 0 ? want : NewPlain(); };
    switch (n->builtin) {
      case B_INTTOSTR: {
        const int v = GenVal(a[0]);
        const int d = dstStr();
        Emit(OP_I2S, d, v);
        return d;
      }
      case B_FLOATTOSTR: {
        const int v = GenVal(a[0]);
        const int d = dstStr();
        Emit(OP_F2S, d, v);
        return d;
      }
      case B_STRTOINT: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        Emit(OP_S2I, d, v);
        return d;
      }
      case B_STRTOINTDEF: {
        const int v = GenVal(a[0]);
        const int def = GenVal(a[1]);
        const int d = dstPlain();
        Emit(OP_S2ID, d, v, def);
        return d;
      }
      case B_FORMAT: {
        const int fmt = GenVal(a[0]);
        const int n1 = static_cast<int>(a.size()) - 1;
        std::vector<int> slots;
        for (int i = 0; i < n1; ++i) {
          TNode* x = a[static_cast<size_t>(i) + 1];
          if (x->type->k == TK::Str) {
            slots.push_back(GenVal(x));
          } else {
            const int s = NewPlain();
            GenVal(x, s);
            slots.push_back(s);
          }
        }
        // Arguments must be consecutive: copy them into a fresh run of plain slots.
        int first = 0;
        if (n1 > 0) {
          first = NewPlain();
          for (int i = 1; i < n1; ++i) NewPlain();
          for (int i = 0; i < n1; ++i) Emit(OP_MOV, first + i, slots[static_cast<size_t>(i)]);
        }
        uint64_t packed = static_cast<uint64_t>(n1);
        for (int i = 0; i < n1; ++i) {
          const TK k = a[static_cast<size_t>(i) + 1]->type->k;
          const uint64_t code = k == TK::Int ? 0 : k == TK::Real ? 1 : k == TK::Str ? 2 : 3;
          packed |= code << (6 + 2 * i);
        }
        const int d = dstStr();
        Emit(OP_FMT, d, fmt, first, IntIndex(static_cast<int64_t>(packed)));
        return d;
      }
      case B_LENGTH: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        Emit(a[0]->type->k == TK::Str ? OP_SLEN : OP_ALEN, d, v);
        return d;
      }
      case B_HIGH: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        Emit(a[0]->type->k == TK::Str ? OP_SLEN : OP_ALEN, d, v);
        if (a[0]->type->k != TK::Str) Emit(OP_SUBK, d, d, 1);
        return d;
      }
      case B_COPY: {
        const int s = GenVal(a[0]);
        const int i0 = NewPlain();
        const int i1 = NewPlain();
        GenVal(a[1], i0);
        GenVal(a[2], i1);
        const int d = dstStr();
        Emit(OP_COPYS, d, s, i0);
        return d;
      }
      case B_POS: {
        const int s1 = GenVal(a[0]);
        const int s2 = GenVal(a[1]);
        const int d = dstPlain();
        Emit(OP_POS, d, s1, s2);
        return d;
      }
      case B_UPPERCASE:
      case B_LOWERCASE:
      case B_TRIM: {
        const int s = GenVal(a[0]);
        const int d = dstStr();
        Emit(n->builtin == B_UPPERCASE   ? OP_UPPER
             : n->builtin == B_LOWERCASE ? OP_LOWER
                                         : OP_TRIM,
             d, s);
        return d;
      }
      case B_CHR: {
        const int d = dstPlain();
        const int v = GenVal(a[0], d);
        Emit(OP_TU8, d, v);
        return d;
      }
      case B_ORD:
        return GenVal(a[0], want);
      case B_ABS: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        if (n->type->k == TK::Real) {
          // |x| = x < 0 ? -x : x
          const int z = NewPlain();
          int64_t zero = 0;
          Emit(OP_LDK, z, 0, 0, IntIndex(zero));
          if (d != v) Emit(OP_MOV, d, v);
          const int j = Emit(OP_JFLE, z, v);
          Emit(OP_FNEG, d, v);
          Patch(j, Here());
        } else {
          Emit(n->type->ik == I64 ? OP_ABS : OP_ABS32, d, v);
        }
        return d;
      }
      case B_ODD: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        const int one = NewPlain();
        Emit(OP_LDI, one, 0, 0, 1);
        Emit(OP_AND, d, v, one);
        return d;
      }
      case B_SUCC:
      case B_PRED: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        Emit(n->builtin == B_SUCC ? OP_ADDK : OP_SUBK, d, v, 1);
        if (n->type->k != TK::Int) EmitTrunc(n->type, d, d);
        return d;
      }
      case B_ROUND:
      case B_TRUNC: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        Emit(n->builtin == B_ROUND ? OP_FROUND : OP_FTRUNC, d, v);
        return d;
      }
      case B_SQRT:
      case B_SIN:
      case B_COS:
      case B_EXP:
      case B_LN:
      case B_ARCTAN:
      case B_INT:
      case B_FRAC: {
        const int v = GenVal(a[0]);
        const int d = dstPlain();
        const int fn = n->builtin == B_SQRT     ? MF_SQRT
                       : n->builtin == B_SIN    ? MF_SIN
                       : n->builtin == B_COS    ? MF_COS
                       : n->builtin == B_EXP    ? MF_EXP
                       : n->builtin == B_LN     ? MF_LN
                       : n->builtin == B_ARCTAN ? MF_ARCTAN
                       : n->builtin == B_INT    ? MF_INT
                                                : MF_FRAC;
        Emit(OP_FMATH, d, v, fn);
        return d;
      }
      default:
        Error(n->pos, "Procedure has no value");
    }
  }

  // Builtin procedures used as statements.
  void GenBuiltinStmt(TNode* n) {
    auto& a = n->args;
    switch (n->builtin) {
      case B_SETLENGTH: {
        const int len = GenVal(a[1]);
        const int p = AddrOf(GenLoc(a[0], false));
        if (a[0]->type->k == TK::Str)
          Emit(OP_SETLS, p, len);
        else
          Emit(OP_SETLA, p, len, 0, DescOf(a[0]->type));
        return;
      }
      case B_DELETE: {
        const int i0 = GenVal(a[1]);
        const int i1 = GenVal(a[2]);
        const int p = AddrOf(GenLoc(a[0], false));
        Emit(OP_DELS, p, i0, i1);
        return;
      }
      case B_INSERT: {
        const int s = GenVal(a[0]);
        const int i0 = GenVal(a[2]);
        const int p = AddrOf(GenLoc(a[1], false));
        Emit(OP_INSS, s, p, i0);
        return;
      }
      case B_INC:
      case B_DEC: {
        // x := x +/- n, in the variable's own type.
        TNode* x = a[0];
        TNode* amount = a.size() > 1 ? a[1] : IntConst(1, n->pos);
        TNode* sum;
        if (x->type->k == TK::Int) {
          sum = MakeBinary(n->builtin == B_INC ? TTok::Plus : TTok::Minus, x, amount, n->pos);
        } else {
          // Char / Boolean: arithmetic on the ordinal value.
          TNode* ord = NewNode(NK::Conv, tI64, n->pos);
          ord->conv = Conv::Trunc;
          ord->off = 1;
          ord->a = x;
          sum = MakeBinary(n->builtin == B_INC ? TTok::Plus : TTok::Minus, ord, amount, n->pos);
          TNode* back = NewNode(NK::Conv, x->type, n->pos);
          back->conv = Conv::Trunc;
          back->a = sum;
          sum = back;
        }
        GenAssign(x, sum, n->pos);
        return;
      }
      case B_SLEEP: {
        const int v = GenVal(a[0]);
        Emit(OP_SLEEP, v);
        return;
      }
      case B_EXIT:
        if (!a.empty()) {
          if (!fs->decl || !fs->decl->result) Error(n->pos, "Exit with a value outside a function");
          GenAssignResult(a[0], n->pos);
        }
        GenJumpOut(0, n->pos);
        return;
      case B_BREAK:
      case B_CONTINUE:
        if (fs->loops.empty())
          Error(n->pos,
                std::string(n->builtin == B_BREAK ? "Break" : "Continue") + " outside a loop");
        GenJumpOut(n->builtin == B_BREAK ? 1 : 2, n->pos);
        return;
      default:
        // A function used as a statement: evaluate and drop.
        GenVal(n);
        return;
    }
  }

  // kind 0: exit, 1: break, 2: continue. Leaves the try blocks in between.
  void GenJumpOut(int kind, int pos) {
    (void)pos;
    const size_t stop = kind == 0 ? 0 : fs->loops.back().tryDepth;
    for (size_t i = fs->tries.size(); i > stop; --i) {
      TTry& t = fs->tries[i - 1];
      switch (t.kind) {
        case TTry::ExceptBody:  // 'except' or 'finally' is not known yet: patched there
        case TTry::FinallyBody:
          t.finCalls.push_back(Emit(OP_POPH));
          break;
        case TTry::InExcept:
          Emit(OP_ENDEXC);
          break;
        case TTry::InFinally:
          Emit(OP_POPFIN);
          break;
      }
    }
    const int j = Emit(OP_JMP);
    if (kind == 0)
      fs->exitPatches.push_back(j);
    else if (kind == 1)
      fs->loops.back().breaks.push_back(j);
    else
      fs->loops.back().continues.push_back(j);
  }

  void GenAssignResult(TNode* v, int pos) {
    TSym* r = Lookup("RESULT");
    if (!r || r->k != SK::Var) Error(pos, "No result here");
    TNode* target = NewNode(NK::Var, r->type, pos);
    target->sym = r;
    fs->resultSet = true;
    GenAssign(target, Coerce(v, r->type), pos);
  }

  // ------------------------------------------------------------------ assignment
  void GenAssign(TNode* lhs, TNode* rhs, int pos) {
    curPos = pos;
    TType* t = lhs->type;
    if (lhs->k == NK::Var && lhs->sym->st == TStorage::Local && lhs->sym->slot == 0 && fs->decl &&
        fs->decl->result && lhs->sym->name == "RESULT")
      fs->resultSet = true;
    // s[i] := c
    if (lhs->k == NK::Index && lhs->a->type->k == TK::Str) {
      TNode* v = Coerce(rhs, tChar);
      const int cv = GenVal(v);
      const int ix = GenVal(lhs->b);
      const int p = AddrOf(GenLoc(lhs->a, false));
      Emit(OP_STCH, p, ix, cv);
      return;
    }
    if (IsCompound(t)) {
      if (!SameType(t, rhs->type))
        Error(pos, "Incompatible types in assignment: got '" + TypeName(rhs->type) +
                       "', expected '" + TypeName(t) + "'");
      const int srcp = AddrOf(GenLoc(rhs, true));
      const int dst = AddrOf(GenLoc(lhs, false));
      const int lay = LayoutOf(t);
      Emit(OP_CPYV, dst, srcp, 0, lay);
      if (rhs->k == NK::Call && mod.layouts[static_cast<size_t>(lay)].managed)
        Emit(OP_RELV, srcp, 0, 0, lay);
      return;
    }
    if (t->k == TK::DynArr) {
      if (!SameType(t, rhs->type))
        Error(pos, "Incompatible types in assignment: got '" + TypeName(rhs->type) +
                       "', expected '" + TypeName(t) + "'");
    } else {
      rhs = Coerce(rhs, t);
    }
    // s := s + a + b ...: append in place.
    if (t->k == TK::Str && lhs->k == NK::Var && rhs->k == NK::Binary && rhs->op == TTok::Plus) {
      std::vector<TNode*> parts;
      TNode* x = rhs;
      while (x->k == NK::Binary && x->op == TTok::Plus && x->type->k == TK::Str) {
        parts.push_back(x->b);
        x = x->a;
      }
      if (x->k == NK::Var && x->sym == lhs->sym) {
        std::reverse(parts.begin(), parts.end());
        std::vector<std::pair<int, bool>> vals;
        for (TNode* p : parts) {
          TNode* q = p;
          if (q->k == NK::Conv && q->conv == Conv::CharToStr) q = q->a;
          vals.emplace_back(GenVal(q), q->type->k == TK::Char);
        }
        TLoc l = VarLoc(lhs->sym);
        if (l.k == TLoc::Slot) {
          for (auto [v, isChar] : vals) Emit(isChar ? OP_APPC : OP_APP, l.slot, v);
        } else {
          const int p = AddrOf(l);
          for (auto [v, isChar] : vals) Emit(isChar ? OP_APPRC : OP_APPR, p, v, 0);
        }
        return;
      }
    }
    // a[i] := v for arrays of one-slot elements.
    if (lhs->k == NK::Index && !IsCompound(t)) {
      const int v = GenVal(rhs);
      const int ix = GenVal(lhs->b);
      const int arr = ArrPtr(GenLoc(lhs->a, false), false);
      Emit(t->k == TK::Str ? OP_STES : (t->k == TK::DynArr ? OP_STEA : OP_STE), v, arr, ix);
      return;
    }
    if (lhs->k == NK::Var) {
      TLoc l = VarLoc(lhs->sym);
      if (l.k == TLoc::Slot) {
        GenInto(rhs, l.slot, t);
        return;
      }
    }
    const int v = GenVal(rhs);
    TLoc l = GenLoc(lhs, false);
    StoreLoc(l, t, v);
  }

  // Generates rhs straight into a variable slot of type t.
  void GenInto(TNode* rhs, int slot, TType* t) {
    if (t->k == TK::Int && t->ik == I32) {
      TNode* x = rhs;
      if (x->k == NK::Conv && x->conv == Conv::Trunc && x->off == 0) x = x->a;
      if (x->k == NK::Binary && x->type->k == TK::Int &&
          (x->op == TTok::Plus || x->op == TTok::Minus || x->op == TTok::Star ||
           x->op == TTok::kDiv || x->op == TTok::kMod)) {
        GenBinary(x, slot, true);
        return;
      }
    }
    const int v = GenVal(rhs, slot);
    if (v != slot) StoreLoc(TLoc{TLoc::Slot, slot, 0}, t, v);
  }

  // ------------------------------------------------------------------ statements
  void ParseStatement() {
    TDepth g(this);
    const TTempMark mark = Mark();
    curPos = tok.offset;
    switch (tok.kind) {
      case TTok::kBegin:
        Next();
        ParseStatementList(TTok::kEnd);
        Expect(TTok::kEnd);
        break;
      case TTok::kIf:
        ParseIf();
        break;
      case TTok::kWhile:
        ParseWhile();
        break;
      case TTok::kRepeat:
        ParseRepeat();
        break;
      case TTok::kFor:
        ParseFor();
        break;
      case TTok::kCase:
        ParseCase();
        break;
      case TTok::kTry:
        ParseTry();
        break;
      case TTok::kRaise:
        ParseRaise();
        break;
      case TTok::Ident:
        ParseSimpleStatement();
        break;
      case TTok::kWith:
        Error("'with' is not supported");
      case TTok::kGoto:
        Error("'goto' is not supported");
      default:
        break;  // empty statement
    }
    Release(mark);
  }

  void ParseStatementList(TTok end1, TTok end2 = TTok::Eof) {
    for (;;) {
      ParseStatement();
      if (Accept(TTok::Semi)) continue;
      if (Is(end1) || (end2 != TTok::Eof && Is(end2))) return;
      Error(std::string("';' expected but ") + TokDesc() + " found");
    }
  }

  void ParseSimpleStatement() {
    const int pos = tok.offset;
    // Assignment to the function name = assignment to Result.
    if (fs->decl && fs->decl->result && tok.text == fs->decl->name) {
      TLexer save = *lex;
      TToken saveTok = tok;
      Next();
      if (Is(TTok::Assign)) {
        Next();
        TNode* v = ParseExpr();
        GenAssignResult(v, pos);
        return;
      }
      *lex = save;
      tok = saveTok;
    }
    TNode* d = ParseDesignator(true);
    if (!d) return;
    if (Is(TTok::Assign)) {
      Next();
      if (!IsLvalue(d)) {
        if (d->k == NK::Var && d->sym->isConst)
          Error(pos, "Can't assign to '" + d->sym->orig + "'");
        if (!(d->k == NK::Index && d->a->type->k == TK::Str && IsLvalue(d->a)))
          Error(pos, "Left side cannot be assigned to");
      }
      d->sym ? (void)0 : (void)0;
      TNode* v = ParseExpr();
      GenAssign(d, v, pos);
      return;
    }
    if (d->k != NK::Call) Error(pos, "Illegal expression: statement expected");
    curPos = pos;
    if (d->builtin) {
      GenBuiltinStmt(d);
    } else {
      const int base = GenCall(d, -1, true);
      // Drop a result that holds references.
      TType* t = d->fn->result;
      if (t && IsCompound(t) && mod.layouts[static_cast<size_t>(LayoutOf(t))].managed) {
        const int p = NewPlain();
        Emit(OP_ADDRL, p, 0, 0, base);
        Emit(OP_RELV, p, 0, 0, LayoutOf(t));
      }
    }
  }

  TNode* ParseBoolExpr() {
    const int pos = tok.offset;
    TNode* c = ParseExpr();
    if (c->type->k != TK::Bool)
      Error(pos, "Boolean expression expected but '" + TypeName(c->type) + "' found");
    return c;
  }

  void ParseIf() {
    Next();
    TNode* c = ParseBoolExpr();
    Expect(TTok::kThen);
    std::vector<int> toElse;
    {
      const TTempMark m = Mark();
      GenJump(c, false, toElse);
      Release(m);
    }
    ParseStatement();
    if (Accept(TTok::kElse)) {
      const int j = Emit(OP_JMP);
      PatchAll(toElse, Here());
      ParseStatement();
      Patch(j, Here());
    } else {
      PatchAll(toElse, Here());
    }
  }

  void BeginLoop() {
    TLoop l;
    l.tryDepth = fs->tries.size();
    fs->loops.push_back(std::move(l));
  }

  void ParseWhile() {
    const int pos = tok.offset;
    Next();
    const int top = Here();
    TNode* c = ParseBoolExpr();
    Expect(TTok::kDo);
    std::vector<int> toEnd;
    curPos = pos;
    {
      const TTempMark m = Mark();
      GenJump(c, false, toEnd);
      Release(m);
    }
    BeginLoop();
    ParseStatement();
    curPos = pos;
    PatchAll(fs->loops.back().continues, Here());
    Emit(OP_LOOP, 0, 0, 0, top);
    PatchAll(toEnd, Here());
    PatchAll(fs->loops.back().breaks, Here());
    fs->loops.pop_back();
  }

  void ParseRepeat() {
    const int pos = tok.offset;
    Next();
    const int top = Here();
    BeginLoop();
    ParseStatementList(TTok::kUntil);
    Expect(TTok::kUntil);
    PatchAll(fs->loops.back().continues, Here());
    TNode* c = ParseBoolExpr();
    curPos = pos;
    std::vector<int> toEnd;
    {
      const TTempMark m = Mark();
      GenJump(c, true, toEnd);
      Release(m);
    }
    Emit(OP_LOOP, 0, 0, 0, top);
    PatchAll(toEnd, Here());
    PatchAll(fs->loops.back().breaks, Here());
    fs->loops.pop_back();
  }

  void ParseFor() {
    const int pos = tok.offset;
    Next();
    const int vpos = tok.offset;
    const std::string name = ExpectIdent();
    TSym* v = Lookup(name);
    if (!v || v->k != SK::Var) Error(vpos, "Unknown identifier '" + prevTok.orig + "'");
    if (!IsOrdinal(v->type)) Error(vpos, "Ordinal type expected for the loop counter");
    TLoc l = VarLoc(v);
    if (l.k != TLoc::Slot || v->isConst) Error(vpos, "Illegal counter variable");
    v->used = true;
    Expect(TTok::Assign);
    TNode* from = Coerce(ParseExpr(), v->type);
    bool down = false;
    if (Accept(TTok::kDownto))
      down = true;
    else
      Expect(TTok::kTo);
    TNode* to = Coerce(ParseExpr(), v->type);
    Expect(TTok::kDo);
    curPos = pos;
    // The limit lives in a temporary for the whole loop.
    const int lim = NewPlain();
    GenVal(from, l.slot);
    GenVal(to, lim);
    std::vector<int> skip;
    skip.push_back(Emit(down ? OP_JLT : OP_JLT, down ? l.slot : lim, down ? lim : l.slot));
    const int top = Here();
    BeginLoop();
    v->isConst = true;
    ParseStatement();
    v->isConst = false;
    curPos = pos;
    PatchAll(fs->loops.back().continues, Here());
    Emit(down ? OP_FORD : OP_FORI, l.slot, lim, 0, top);
    PatchAll(skip, Here());
    PatchAll(fs->loops.back().breaks, Here());
    fs->loops.pop_back();
  }

  void ParseCase() {
    const int pos = tok.offset;
    Next();
    TNode* sel = ParseExpr();
    if (!IsOrdinal(sel->type) && sel->type->k != TK::Str) Error(pos, "Ordinal expression expected");
    const bool isStr = sel->type->k == TK::Str;
    Expect(TTok::kOf);
    curPos = pos;
    int s;
    if (isStr) {
      s = NewStr();
      GenVal(sel, s);
    } else {
      s = NewPlain();
      GenVal(sel, s);
    }
    std::vector<int> toEnd;
    std::vector<std::pair<int64_t, int64_t>> seen;
    while (!Is(TTok::kElse) && !Is(TTok::kEnd)) {
      std::vector<int> toBody;
      for (;;) {
        const int lpos = tok.offset;
        TNode* lo = ParseExpr();
        TNode* hi = nullptr;
        if (Accept(TTok::DotDot)) hi = ParseExpr();
        if (!IsConst(lo) || (hi && !IsConst(hi))) Error(lpos, "Constant expression expected");
        if (isStr) {
          lo = Coerce(lo, tStr);
          if (hi) Error(lpos, "Ranges are not allowed for strings");
          const int k = NewStr();
          Emit(OP_LDKS, k, 0, 0, StrIndex(lo->cv.s));
          const int b = NewPlain();
          Emit(OP_SEQ, b, s, k);
          toBody.push_back(Emit(OP_JT, b));
        } else {
          lo = Coerce(lo, sel->type->k == TK::Int ? tI64 : sel->type);
          if (hi) hi = Coerce(hi, sel->type->k == TK::Int ? tI64 : sel->type);
          const int64_t a = lo->cv.i, b = hi ? hi->cv.i : lo->cv.i;
          for (auto [x, y] : seen)
            if (a <= y && b >= x) Error(lpos, "Duplicate case label");
          seen.emplace_back(a, b);
          auto k32 = [&](int64_t v, uint16_t op, std::vector<int>& out) {
            if (v >= INT32_MIN && v <= INT32_MAX) {
              const uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(v));
              out.push_back(Emit(op, s, static_cast<int>(u & 0xFFFF), static_cast<int>(u >> 16)));
            } else {
              const int t = NewPlain();
              Emit(OP_LDK, t, 0, 0, IntIndex(v));
              const uint16_t o2 = op == OP_JEQK ? OP_JEQ : op == OP_JLTK ? OP_JLT : OP_JLE;
              if (op == OP_JGTK)
                out.push_back(Emit(OP_JLT, t, s));
              else
                out.push_back(Emit(o2, s, t));
            }
          };
          if (!hi) {
            k32(a, OP_JEQK, toBody);
          } else {
            std::vector<int> skip;
            k32(a, OP_JLTK, skip);
            k32(b, OP_JLEK, toBody);
            PatchAll(skip, Here());
          }
        }
        if (!Accept(TTok::Comma)) break;
      }
      Expect(TTok::Colon);
      const int next = Emit(OP_JMP);
      PatchAll(toBody, Here());
      ParseStatement();
      toEnd.push_back(Emit(OP_JMP));
      Patch(next, Here());
      if (!Accept(TTok::Semi)) break;
    }
    if (Accept(TTok::kElse)) {
      ParseStatementList(TTok::kEnd);
    }
    Expect(TTok::kEnd);
    PatchAll(toEnd, Here());
  }

  void ParseTry() {
    const int pos = tok.offset;
    Next();
    const int tryAt = Emit(OP_TRY);
    fs->tries.push_back(TTry{TTry::ExceptBody, {}});
    ParseStatementList(TTok::kExcept, TTok::kFinally);
    curPos = pos;
    if (Accept(TTok::kFinally)) {
      mod.code[static_cast<size_t>(tryAt)].op = OP_TRYF;
      fs->tries.back().kind = TTry::FinallyBody;
      Emit(OP_POPHF);
      const int fin = Here();
      Patch(tryAt, fin);
      for (int at : fs->tries.back().finCalls) {
        mod.code[static_cast<size_t>(at)].op = OP_CALLFIN;
        Patch(at, fin);
      }
      fs->tries.back().finCalls.clear();
      fs->tries.back().kind = TTry::InFinally;
      ParseStatementList(TTok::kEnd);
      Expect(TTok::kEnd);
      Emit(OP_ENDFIN);
      fs->tries.pop_back();
      return;
    }
    Expect(TTok::kExcept);
    fs->tries.back().finCalls.clear();  // they stay POPH
    Emit(OP_POPH);
    const int jEnd = Emit(OP_JMP);
    Patch(tryAt, Here());
    fs->tries.back().kind = TTry::InExcept;
    std::vector<int> toEnd;
    if (Is(TTok::kOn)) {
      const TTempMark m = Mark();
      const int idx = NewPlain();
      Emit(OP_EXCIDX, idx);
      while (Accept(TTok::kOn)) {
        const int opos = tok.offset;
        std::string vname, vorig, cname;
        std::string first = ExpectIdent();
        std::string firstOrig = prevTok.orig;
        if (Accept(TTok::Colon)) {
          vname = first;
          vorig = firstOrig;
          cname = ExpectIdent();
        } else {
          cname = first;
        }
        TSym* cs = Lookup(cname);
        if (!cs || cs->k != SK::ExcClass) Error(opos, "Exception class expected");
        Expect(TTok::kDo);
        const int b = NewPlain();
        Emit(OP_EXCIS, b, idx, 0, cs->excClass);
        const int jNext = Emit(OP_JF, b);
        scopes.emplace_back();
        if (!vname.empty()) {
          TSym* ev = Declare(vname, vorig, SK::Var, opos);
          ev->isExcVar = true;
          ev->type = tExc;
          ev->slot = idx;
          ev->used = true;
        }
        ParseStatement();
        scopes.pop_back();
        Emit(OP_ENDEXC);
        toEnd.push_back(Emit(OP_JMP));
        Patch(jNext, Here());
        if (!Accept(TTok::Semi)) break;
      }
      if (Accept(TTok::kElse)) {
        ParseStatementList(TTok::kEnd);
        Emit(OP_ENDEXC);
        toEnd.push_back(Emit(OP_JMP));
      } else {
        Emit(OP_RERAISE);
      }
      (void)m;
    } else {
      ParseStatementList(TTok::kEnd);
      Emit(OP_ENDEXC);
    }
    Expect(TTok::kEnd);
    fs->tries.pop_back();
    PatchAll(toEnd, Here());
    Patch(jEnd, Here());
  }

  void ParseRaise() {
    const int pos = tok.offset;
    Next();
    curPos = pos;
    if (Is(TTok::Semi) || Is(TTok::kEnd) || Is(TTok::kElse) || Is(TTok::kUntil) ||
        Is(TTok::kExcept) || Is(TTok::kFinally)) {
      bool inExcept = false;
      for (auto& t : fs->tries)
        if (t.kind == TTry::InExcept) inExcept = true;
      if (!inExcept) Error(pos, "'raise' without an exception outside an except block");
      Emit(OP_RERAISE);
      return;
    }
    const int cpos = tok.offset;
    const std::string cname = ExpectIdent();
    TSym* cs = Lookup(cname);
    if (!cs || cs->k != SK::ExcClass) Error(cpos, "Exception class expected");
    Expect(TTok::Dot);
    const std::string ctor = ExpectIdent();
    TNode* msg;
    if (ctor == "CREATE") {
      Expect(TTok::LParen);
      msg = Coerce(ParseExpr(), tStr, "parameter");
      Expect(TTok::RParen);
    } else if (ctor == "CREATEFMT") {
      // Reuse Format's parser: CreateFmt(fmt, [args]).
      msg = ParseBuiltin(B_FORMAT, cpos, false);
    } else {
      Error(prevTok.offset, "Create or CreateFmt expected");
    }
    const int v = GenVal(msg);
    curPos = pos;
    TErrorCode code = TErrorCode::Exception;
    switch (cs->excClass) {
      case 2:
        code = TErrorCode::DivByZero;
        break;
      case 3:
        code = TErrorCode::RangeError;
        break;
      case 4:
        code = TErrorCode::ConvertError;
        break;
      case 5:
        code = TErrorCode::StackOverflow;
        break;
      case 6:
        code = TErrorCode::OutOfMemory;
        break;
      case 8:
        code = TErrorCode::InvalidOp;
        break;
      case 9:
        code = TErrorCode::ZeroDivide;
        break;
      default:
        break;
    }
    Emit(OP_RAISE, v, 0, 0, static_cast<int32_t>(code));
  }

  // ------------------------------------------------------------------ declarations
  TType* ParseType() {
    TDepth g(this);
    const int pos = tok.offset;
    if (Accept(TTok::kPacked)) {
      if (!Is(TTok::kArray) && !Is(TTok::kRecord)) Error("'array' or 'record' expected");
    }
    if (Accept(TTok::kArray)) {
      if (Accept(TTok::kOf)) {
        TType* e = ParseType();
        TType* t = NewType(TK::DynArr);
        t->elem = e;
        t->managed = true;
        return t;
      }
      Expect(TTok::LBrack);
      std::vector<std::pair<int64_t, int64_t>> dims;
      for (;;) {
        const int dpos = tok.offset;
        int64_t lo, hi;
        TNode* a = ParseSimple();
        if (Accept(TTok::DotDot)) {
          TNode* b = ParseSimple();
          if (!IsConst(a) || !IsConst(b) || !IsOrdinal(a->type) || !IsOrdinal(b->type))
            Error(dpos, "Constant ordinal bounds expected");
          lo = a->cv.i;
          hi = b->cv.i;
        } else if (a->k == NK::Const && false) {
          lo = hi = 0;
        } else {
          Error(dpos, "'..' expected");
        }
        if (hi < lo) Error(dpos, "Upper bound less than lower bound");
        if (hi - lo >= 100000000 || lo < INT32_MIN || hi > INT32_MAX)
          Error(dpos, "Array too large");
        dims.emplace_back(lo, hi);
        if (!Accept(TTok::Comma)) break;
      }
      Expect(TTok::RBrack);
      Expect(TTok::kOf);
      TType* e = ParseType();
      for (size_t i = dims.size(); i-- > 0;) {
        TType* t = NewType(TK::Arr);
        t->low = dims[i].first;
        t->high = dims[i].second;
        t->elem = e;
        t->managed = true;
        if ((t->high - t->low + 1) * e->slots > kMaxArrSlots) Error(pos, "Array too large");
        e = t;
      }
      return e;
    }
    if (Accept(TTok::kRecord)) {
      TType* t = NewType(TK::Rec);
      t->slots = 0;
      while (!Is(TTok::kEnd)) {
        std::vector<std::pair<std::string, std::string>> names;
        std::vector<int> poss;
        for (;;) {
          poss.push_back(tok.offset);
          names.emplace_back(ExpectIdent(), prevTok.orig);
          if (!Accept(TTok::Comma)) break;
        }
        Expect(TTok::Colon);
        TType* ft = ParseType();
        for (size_t i = 0; i < names.size(); ++i) {
          for (auto& f : t->fields)
            if (f.name == names[i].first)
              Error(poss[i], "Duplicate field '" + names[i].second + "'");
          t->fields.push_back(TField{names[i].first, names[i].second, ft, t->slots});
          t->slots += ft->slots;
          if (ft->managed) t->managed = true;
          if (t->slots > 8000) Error(poss[i], "Record too large");
        }
        if (!Accept(TTok::Semi)) break;
      }
      Expect(TTok::kEnd);
      if (t->slots == 0) {
        t->slots = 1;  // an empty record still takes a slot
        t->fields.clear();
      }
      return t;
    }
    if (Is(TTok::Ident)) {
      const std::string name = ExpectIdent();
      TSym* s = Lookup(name);
      if (!s || s->k != SK::Type) {
        // Subrange of constants: lo..hi -> the integer type that holds it.
        Error(pos, "Type identifier expected but '" + prevTok.orig + "' found");
      }
      if (s->type == tStr && Accept(TTok::LBrack)) {  // string[n]: a string
        ParseExpr();
        Expect(TTok::RBrack);
      }
      return s->type;
    }
    if (Is(TTok::Int) || Is(TTok::Minus) || Is(TTok::Str)) {
      TNode* a = ParseSimple();
      Expect(TTok::DotDot);
      TNode* b = ParseSimple();
      if (!IsConst(a) || !IsConst(b) || !IsOrdinal(a->type)) Error(pos, "Constant bounds expected");
      if (a->type->k == TK::Char) return tChar;
      const int64_t lo = a->cv.i, hi = b->cv.i;
      for (TType* t : {tU8, tI8, tU16, tI16, tI32, tU32, tI64})
        if (lo >= IntMin(t->ik) && hi <= IntMax(t->ik)) return t;
      return tI64;
    }
    Error("Type expected but " + TokDesc() + " found");
  }

  void ParseConstSection() {
    Next();
    while (Is(TTok::Ident)) {
      const int pos = tok.offset;
      const std::string name = ExpectIdent();
      const std::string orig = prevTok.orig;
      TType* t = nullptr;
      if (Accept(TTok::Colon)) t = ParseType();
      Expect(TTok::Eq);
      TNode* v = ParseExpr();
      if (t) v = Coerce(v, t);
      if (!IsConst(v)) Error(pos, "Constant expression expected");
      TSym* s = Declare(name, orig, SK::Const, pos);
      s->type = v->type;
      s->cv = v->cv;
      Expect(TTok::Semi);
    }
  }

  void ParseTypeSection() {
    Next();
    while (Is(TTok::Ident)) {
      const int pos = tok.offset;
      const std::string name = ExpectIdent();
      const std::string orig = prevTok.orig;
      Expect(TTok::Eq);
      TType* t = ParseType();
      if (t->name.empty() && (t->k == TK::Rec || t->k == TK::Arr || t->k == TK::DynArr))
        t->name = orig;
      TSym* s = Declare(name, orig, SK::Type, pos);
      s->type = t;
      Expect(TTok::Semi);
    }
  }

  void ParseVarSection(bool global) {
    Next();
    while (Is(TTok::Ident)) {
      std::vector<std::pair<std::string, std::string>> names;
      std::vector<int> poss;
      for (;;) {
        poss.push_back(tok.offset);
        names.emplace_back(ExpectIdent(), prevTok.orig);
        if (!Accept(TTok::Comma)) break;
      }
      Expect(TTok::Colon);
      TType* t = ParseType();
      TNode* init = nullptr;
      if (Accept(TTok::Eq)) {
        if (names.size() != 1) Error("Only one variable can be initialised");
        init = Coerce(ParseExpr(), t);
        if (!IsConst(init)) Error(init->pos, "Constant expression expected");
      }
      for (size_t i = 0; i < names.size(); ++i) {
        TSym* s = Declare(names[i].first, names[i].second, SK::Var, poss[i]);
        s->type = t;
        s->st = global ? TStorage::Global : TStorage::Local;
        const int savedPos = curPos;
        curPos = poss[i];
        s->slot = AllocLocal(t);
        curPos = savedPos;
        fs->locals.push_back(s);
        if (init) globalInits.emplace_back(s, init);
      }
      Expect(TTok::Semi);
    }
  }

  // Parameter list and result of a routine header (after the name).
  void ParseParams(TFuncDecl* f, bool isFunc, bool hostDecl) {
    if (Accept(TTok::LParen)) {
      if (!Is(TTok::RParen)) {
        for (;;) {
          PMode mode = PMode::Value;
          if (Accept(TTok::kVar))
            mode = PMode::Var;
          else if (Accept(TTok::kConst))
            mode = PMode::Const;
          else if (Accept(TTok::kOut))
            mode = PMode::Out;
          std::vector<std::pair<std::string, std::string>> names;
          for (;;) {
            names.emplace_back(ExpectIdent(), prevTok.orig);
            if (!Accept(TTok::Comma)) break;
          }
          Expect(TTok::Colon);
          TType* t;
          if (Accept(TTok::kArray)) {
            Expect(TTok::kOf);
            TType* e = ParseType();
            t = NewType(TK::DynArr);
            t->elem = e;
            t->managed = true;
          } else {
            t = ParseType();
          }
          for (auto& [n, o] : names) {
            for (auto& p : f->params)
              if (p.name == n) Error(prevTok.offset, "Duplicate parameter '" + o + "'");
            TParam p;
            p.name = n;
            p.orig = o;
            p.type = t;
            p.mode = mode;
            p.byRef =
                mode == PMode::Var || mode == PMode::Out || (mode == PMode::Const && IsCompound(t));
            if (hostDecl) p.byRef = mode == PMode::Var || mode == PMode::Out;
            f->params.push_back(p);
          }
          if (!Accept(TTok::Semi)) break;
        }
      }
      Expect(TTok::RParen);
    }
    if (isFunc) {
      Expect(TTok::Colon);
      f->result = ParseType();
    }
    int off = 0;
    for (auto& p : f->params) {
      p.off = off;
      off += p.byRef ? 1 : p.type->slots;
    }
    f->paramSlots = off;
    f->resultSlots = f->result ? f->result->slots : 1;
  }

  bool SameSignature(const TFuncDecl* a, const TFuncDecl* b) const {
    if (a->params.size() != b->params.size()) return false;
    if ((a->result == nullptr) != (b->result == nullptr)) return false;
    if (a->result && !SameType(a->result, b->result)) return false;
    for (size_t i = 0; i < a->params.size(); ++i)
      if (a->params[i].mode != b->params[i].mode || !SameType(a->params[i].type, b->params[i].type))
        return false;
    return true;
  }

  void ParseRoutine() {
    const bool isFunc = Is(TTok::kFunction);
    Next();
    const int pos = tok.offset;
    const std::string name = ExpectIdent();
    const std::string orig = prevTok.orig;
    funcs.emplace_back();
    TFuncDecl* f = &funcs.back();
    f->name = name;
    f->orig = orig;
    f->pos = pos;
    if (Is(TTok::Dot)) Error("Methods are not supported");
    ParseParams(f, isFunc, false);
    Expect(TTok::Semi);
    TSym* existing = scopes.back().count(name) ? scopes.back()[name] : nullptr;
    TFuncDecl* target = f;
    if (existing) {
      if (existing->k != SK::Func || existing->fn->defined)
        Error(pos, "Duplicate identifier '" + orig + "'");
      // Body of a forward declaration: the header may repeat the parameters or leave them out.
      TFuncDecl* fw = existing->fn;
      if (!(f->params.empty() && !f->result && !isFunc) && !SameSignature(fw, f))
        Error(pos, "Declaration of '" + orig + "' differs from its forward declaration");
      if ((fw->result != nullptr) != isFunc)
        Error(pos, "Declaration of '" + orig + "' differs from its forward declaration");
      target = fw;
    } else {
      TSym* s = Declare(name, orig, SK::Func, pos);
      s->fn = f;
      f->index = static_cast<int>(mod.funcs.size());
      mod.funcs.emplace_back();
      mod.funcs.back().name = orig;
    }
    if (Accept(TTok::kForward)) {
      if (existing) Error(pos, "Duplicate forward declaration of '" + orig + "'");
      Expect(TTok::Semi);
      return;
    }
    target->defined = true;
    CompileBody(target);
    Expect(TTok::Semi);
  }

  void CompileBody(TFuncDecl* f) {
    if (fs && !fs->isMain) Error("Nested routines are not supported");
    TFuncState* outer = fs;
    TFuncState st;
    BeginRoutine(st, f);
    scopes.emplace_back();
    // Result and parameters.
    const int rs = f->resultSlots;
    if (f->result) {
      TSym* r = Declare("RESULT", "Result", SK::Var, f->pos);
      r->type = f->result;
      r->st = TStorage::Local;
      r->slot = AllocLocal(f->result);
      r->isParam = true;
    } else {
      AllocPlainLocal();
    }
    (void)rs;
    for (auto& p : f->params) {
      TSym* s = Declare(p.name, p.orig, SK::Var, f->pos);
      s->type = p.type;
      s->isParam = true;
      s->isConst = p.mode == PMode::Const;
      if (p.byRef) {
        s->st = TStorage::Ref;
        s->slot = AllocPlainLocal();
      } else {
        s->st = TStorage::Local;
        s->slot = AllocLocal(p.type);
      }
    }
    const uint32_t paramEnd = static_cast<uint32_t>(st.nLocals);
    // Local declarations.
    for (;;) {
      if (Is(TTok::kVar))
        ParseVarSection(false);
      else if (Is(TTok::kConst))
        ParseConstSection();
      else if (Is(TTok::kType))
        ParseTypeSection();
      else if (Is(TTok::kProcedure) || Is(TTok::kFunction))
        Error("Nested routines are not supported");
      else
        break;
    }
    if (!Is(TTok::kBegin)) Error("'begin' expected but " + TokDesc() + " found");
    Next();
    ParseStatementList(TTok::kEnd);
    curPos = tok.offset;
    Expect(TTok::kEnd);
    PatchAll(st.exitPatches, Here());
    if (f->result && !st.resultSet)
      AddMessage(TMessageKind::Warning, f->pos,
                 "Function result of '" + f->orig + "' might not be set");
    EndRoutine(st, f->index, f->orig, f->pos, static_cast<uint32_t>(f->resultSlots), paramEnd);
    scopes.pop_back();
    fs = outer;
  }

  // ------------------------------------------------------------------ host declarations
  static bool HostTypeOf(const TType* t, uint8_t& out) {
    switch (t->k) {
      case TK::Int: {
        static const uint8_t m[] = {HT_I8, HT_U8, HT_I16, HT_U16, HT_I32, HT_U32, HT_I64};
        out = m[t->ik];
        return true;
      }
      case TK::Bool:
        out = HT_BOOL;
        return true;
      case TK::Char:
        out = HT_CHAR;
        return true;
      case TK::Str:
        out = HT_STR;
        return true;
      case TK::Real:
        out = t->single ? HT_F32 : HT_F64;
        return true;
      default:
        return false;
    }
  }

  // Parses a declaration text into a host routine (in its own small lexer).
  TFuncDecl* ParseHostDecl(std::string_view text, std::string& err) {
    TLexer lx(text);
    TLexer* saveLex = lex;
    TToken saveTok = tok, savePrev = prevTok;
    std::string_view saveSrc = src;
    lex = &lx;
    TFuncDecl* result = nullptr;
    try {
      Next();
      const bool isFunc = Is(TTok::kFunction);
      if (!isFunc && !Is(TTok::kProcedure)) Error("'procedure' or 'function' expected");
      Next();
      funcs.emplace_back();
      TFuncDecl* f = &funcs.back();
      f->name = ExpectIdent();
      f->orig = prevTok.orig;
      f->host = true;
      f->decl = std::string(text);
      ParseParams(f, isFunc, true);
      Accept(TTok::Semi);
      if (!Is(TTok::Eof)) Error("End of declaration expected");
      for (auto& p : f->params) {
        THostParam hp;
        hp.byRef = p.byRef;
        if (p.type->k == TK::DynArr) {
          hp.type = HT_ARR;
          if (!HostTypeOf(p.type->elem, hp.elem)) Error("Unsupported parameter type");
        } else if (!HostTypeOf(p.type, hp.type)) {
          Error("Unsupported parameter type '" + TypeName(p.type) + "'");
        }
        f->hostParams.push_back(hp);
      }
      if (f->result && !HostTypeOf(f->result, f->hostResult)) Error("Unsupported result type");
      f->index = -1;
      result = f;
    } catch (const TCompileError& e) {
      err = e.msg;
    }
    lex = saveLex;
    tok = saveTok;
    prevTok = savePrev;
    src = saveSrc;
    return result;
  }

  bool AddRoutine(std::string_view text) {
    if (!inCallback) {
      preDeclared.emplace_back(text);
      std::string err;
      // Check it now so that the caller learns of a bad text at once.
      Impl probe;
      probe.MakeBasicTypes();
      probe.scopes.emplace_back();
      probe.DeclareBuiltins();
      if (!probe.ParseHostDecl(text, err)) {
        preDeclared.pop_back();
        AddMessage(TMessageKind::Error, 0,
                   "Invalid declaration '" + std::string(text) + "': " + err);
        return false;
      }
      return true;
    }
    std::string err;
    TFuncDecl* f = ParseHostDecl(text, err);
    if (!f) {
      AddMessage(TMessageKind::Error, callbackPos,
                 "Invalid declaration '" + std::string(text) + "': " + err);
      callbackError = true;
      return false;
    }
    if (scopes.back().count(f->name) && scopes.back()[f->name]->k == SK::Host) {
      AddMessage(TMessageKind::Error, callbackPos, "Duplicate identifier '" + f->orig + "'");
      callbackError = true;
      return false;
    }
    TSym* s = nullptr;
    syms.emplace_back();
    s = &syms.back();
    s->k = SK::Host;
    s->name = f->name;
    s->orig = f->orig;
    s->fn = f;
    scopes.back()[f->name] = s;
    return true;
  }

  bool AskUnit(const std::string& unit, int pos) {
    callbackPos = pos;
    callbackError = false;
    if (!callback) {
      if (unit == "SYSTEM") return true;
      return false;
    }
    inCallback = true;
    bool ok = false;
    try {
      ok = callback(*owner, unit);
    } catch (...) {
      ok = false;
    }
    inCallback = false;
    if (callbackError) ok = false;
    return ok;
  }
  TCompiler* owner = nullptr;

  // ------------------------------------------------------------------ program
  void CompileProgram() {
    MakeBasicTypes();
    scopes.clear();
    scopes.emplace_back();  // builtins
    DeclareBuiltins();
    scopes.emplace_back();  // SYSTEM unit
    for (const auto& d : preDeclared) {
      inCallback = true;
      AddRoutine(d);
      inCallback = false;
    }
    if (!AskUnit("SYSTEM", 0)) {
      if (!callbackError) AddMessage(TMessageKind::Error, 0, "Unable to declare unit 'SYSTEM'");
      throw TCompileError{-1, ""};
    }
    scopes.emplace_back();  // program
    TFuncState main;
    main.isMain = true;
    fs = &main;
    mod.funcs.emplace_back();
    Next();
    std::string progName = "Main";
    if (Accept(TTok::kProgram)) {
      progName = prevTok.orig;
      progName = tok.orig.empty() ? "Main" : tok.orig;
      ExpectIdent();
      Expect(TTok::Semi);
    } else if (Is(TTok::kUnit)) {
      Error("A program expected, not a unit");
    }
    if (Accept(TTok::kUses)) {
      for (;;) {
        const int upos = tok.offset;
        const std::string u = ExpectIdent();
        const std::string uorig = prevTok.orig;
        if (u != "SYSTEM") {
          if (!AskUnit(u, upos)) {
            if (!callbackError) Error(upos, "Unknown unit '" + uorig + "'");
            throw TCompileError{-1, ""};
          }
        }
        if (!Accept(TTok::Comma)) break;
      }
      Expect(TTok::Semi);
    }
    for (;;) {
      if (Is(TTok::kVar))
        ParseVarSection(true);
      else if (Is(TTok::kConst))
        ParseConstSection();
      else if (Is(TTok::kType))
        ParseTypeSection();
      else if (Is(TTok::kProcedure) || Is(TTok::kFunction))
        ParseRoutine();
      else
        break;
    }
    for (auto& f : funcs)
      if (!f.host && !f.defined && f.index >= 0)
        Error(f.pos, "Forward declaration of '" + f.orig + "' not resolved");
    if (!Is(TTok::kBegin)) Error("'begin' expected but " + TokDesc() + " found");
    const int mainPos = tok.offset;
    mod.globals = static_cast<uint32_t>(main.nLocals);
    BeginRoutine(main, nullptr);
    main.isMain = true;
    curPos = mainPos;
    for (auto& [s, init] : globalInits) {
      const TTempMark m = Mark();
      GenInto(init, s->slot, s->type);
      Release(m);
    }
    Next();
    ParseStatementList(TTok::kEnd);
    curPos = tok.offset;
    Expect(TTok::kEnd);
    if (!Is(TTok::Dot)) Error("'.' expected but " + TokDesc() + " found");
    PatchAll(main.exitPatches, Here());
    EndRoutine(main, 0, progName, mainPos, 0, 0);
    fs = nullptr;
    for (auto& l : lineStarts) mod.lineStarts.push_back(l);
    if (!mod.Validate()) Error(mainPos, "Internal error: invalid code");
  }
};

TCompiler::TCompiler() : impl_(std::make_unique<Impl>()) { impl_->owner = this; }
TCompiler::~TCompiler() = default;

void TCompiler::SetUnitCallback(TUnitCallback callback) { impl_->callback = std::move(callback); }

bool TCompiler::AddRoutine(std::string_view declaration) { return impl_->AddRoutine(declaration); }

void TCompiler::ReportError(std::string text) {
  impl_->AddMessage(TMessageKind::Error, impl_->callbackPos, std::move(text));
  impl_->callbackError = true;
}

const std::vector<TCompilerMessage>& TCompiler::Messages() const { return impl_->messages; }

bool TCompiler::GetByteCode(std::string& out) const {
  if (!impl_->haveCode) return false;
  out = impl_->byteCode;
  return true;
}

bool TCompiler::Compile(std::string_view source) {
  Impl& c = *impl_;
  c.messages.clear();
  c.haveCode = false;
  c.byteCode.clear();
  // Fresh per-compile state.
  c.types.clear();
  c.syms.clear();
  c.funcs.clear();
  c.nodes.clear();
  c.scopes.clear();
  c.mod = TModule{};
  c.kintIndex.clear();
  c.globalInits.clear();
  c.fs = nullptr;
  c.nesting = 0;
  c.curPos = 0;
  c.src = source;
  c.lineStarts.clear();
  c.lineStarts.push_back(0);
  for (size_t i = 0; i < source.size(); ++i)
    if (source[i] == '\n') c.lineStarts.push_back(static_cast<uint32_t>(i + 1));
  if (source.size() > static_cast<size_t>(TCompilerLimits::kMaxSourceBytes)) {
    c.AddMessage(TMessageKind::Error, 0, "Source text too large");
    return false;
  }
  TLexer lex(source);
  c.lex = &lex;
  c.tok = TToken{};
  try {
    c.CompileProgram();
  } catch (const TCompileError& e) {
    if (e.pos >= 0) c.AddMessage(TMessageKind::Error, e.pos, e.msg);
    c.lex = nullptr;
    return false;
  }
  c.lex = nullptr;
  c.byteCode = c.mod.Serialize();
  c.haveCode = true;
  // Free the trees; keep the messages and the byte code.
  c.nodes.clear();
  return true;
}

std::optional<TCallShape> TCallShape::FromDeclaration(std::string_view declaration,
                                                      std::string* name) {
  TCompiler::Impl probe;
  probe.MakeBasicTypes();
  probe.scopes.emplace_back();
  probe.DeclareBuiltins();
  std::string err;
  auto* f = probe.ParseHostDecl(declaration, err);
  if (!f) return std::nullopt;
  TCallShape s;
  s.isFunction = f->result != nullptr;
  for (const auto& p : f->params) s.byRef.push_back(p.byRef);
  if (name) *name = f->orig;
  return s;
}

}  // namespace script::engine
