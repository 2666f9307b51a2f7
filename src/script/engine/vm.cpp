// The executor: a register machine over 8-byte slots. Every routine has a frame of slots
// (result, parameters, locals, temporaries, then the area where it builds the arguments of
// its calls); a call makes the callee's frame start at the caller's argument area, so
// arguments are never copied. The main program's frame starts at slot 0 and its first
// slots are the global variables.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "base/format.h"
#include "script/engine/bytecode.h"
#include "script/engine/engine.h"
#include "script/engine/rtl.h"

// The interpreter dispatches with computed gotos (a GNU extension that GCC and Clang have).
#pragma GCC diagnostic ignored "-Wpedantic"

namespace script::engine {

namespace {

struct TBinding {
  TCallShape shape;
  THostFn fn = nullptr;
  void* user = nullptr;
  std::function<void(THostCall&)> sfn;
};

struct TFuncRt {
  const TInstr* entry;
  uint32_t frameSize;
  uint32_t paramStart;
  uint32_t paramEnd;
  uint32_t managedEnd;
  int32_t layout;
  bool managed;
  bool hasStatArr;
};

struct TFrame {
  const TInstr* retPc;
  TValue* fp;
  int32_t func;
};

struct THandler {
  uint32_t pc;
  uint32_t depth;
  uint32_t excTop;
  uint32_t finTop;
  bool fin;
};

struct TExc {
  TErrorCode code = TErrorCode::None;
  std::string msg;
  int32_t func = 0;
  uint32_t pos = 0;
};

struct TFin {
  uint8_t kind;  // 0 normal, 1 jump, 2 exception
  uint32_t retPc;
  TExc exc;
};

// A run-time error inside an instruction.
struct TRunError {
  TErrorCode code;
  std::string msg;
};

}  // namespace

struct TExecutor::Impl {
  std::unordered_map<std::string, TBinding> bindings;
  TModule mod;
  bool loaded = false;
  std::vector<const TBinding*> importBind;
  std::vector<bool> importManaged;
  std::vector<TStrRep*> kstrReps;
  std::vector<TFuncRt> funcs;
  TTypeTables tables;
  // The value stack: calloc'ed so that untouched pages cost nothing.
  struct TFreeDeleter {
    void operator()(TValue* p) const { std::free(p); }
  };
  std::unique_ptr<TValue[], TFreeDeleter> stack;
  size_t stackSize = 0;
  size_t maxSlots = 4u << 20;
  int maxDepth = 20000;
  std::vector<TFrame> frames;
  int depth = -1;  // index of the current frame; -1 when nothing runs
  std::vector<THandler> handlers;
  std::vector<TExc> handled;
  std::vector<TFin> fins;
  const TInstr* pc = nullptr;

  ~Impl() { Clear(); }

  void FreeConstants() {
    for (TStrRep* s : kstrReps) StrFree(s);
    kstrReps.clear();
  }
  void Clear() {
    UnwindAll();
    FreeConstants();
  }
  void ReleaseRange(TValue* fp, const TFuncRt& f, uint32_t from) {
    if (!f.managed) return;
    const TLayout& l = mod.layouts[static_cast<size_t>(f.layout)];
    for (uint32_t i = from; i < f.managedEnd; ++i) {
      switch (l.kinds[i]) {
        case TSlotKind::Plain:
          break;
        case TSlotKind::Str:
          StrRelease(fp[i].s);
          fp[i].s = nullptr;
          break;
        case TSlotKind::DynArr:
        case TSlotKind::StatArr:
          ArrRelease(tables, fp[i].a);
          fp[i].a = nullptr;
          break;
      }
    }
  }
  void InitLocals(TValue* fp, const TFuncRt& f) {
    const TLayout& l = mod.layouts[static_cast<size_t>(f.layout)];
    for (uint32_t i = 0; i < f.managedEnd; ++i)
      if (i >= f.paramStart && i < f.paramEnd)
        continue;
      else if (l.kinds[i] == TSlotKind::StatArr) {
        const int32_t d = l.arrDesc[i];
        fp[i].a = ArrAlloc(tables, d, mod.descs[static_cast<size_t>(d)].count);
      }
  }
  void UnwindAll() {
    while (depth >= 0) {
      const TFrame& fr = frames[static_cast<size_t>(depth)];
      ReleaseRange(fr.fp, funcs[static_cast<size_t>(fr.func)], 0);
      --depth;
    }
    handlers.clear();
    handled.clear();
    fins.clear();
  }
};

TExecutor::TExecutor() : impl_(std::make_unique<Impl>()) {}
TExecutor::~TExecutor() = default;

bool TExecutor::Bind(std::string_view upperName, const TCallShape& shape, THostFn fn, void* user) {
  if (upperName.empty() || !fn) return false;
  std::string key(upperName);
  for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  TBinding b;
  b.shape = shape;
  b.fn = fn;
  b.user = user;
  impl_->bindings[key] = std::move(b);
  return true;
}

bool TExecutor::BindFunction(std::string_view upperName, const TCallShape& shape,
                             std::function<void(THostCall&)> fn) {
  if (upperName.empty() || !fn) return false;
  std::string key(upperName);
  for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  TBinding b;
  b.shape = shape;
  b.sfn = std::move(fn);
  impl_->bindings[key] = std::move(b);
  return true;
}

void TExecutor::SetLimits(int maxSlots, int maxCallDepth) {
  if (maxSlots > 1024) impl_->maxSlots = static_cast<size_t>(maxSlots);
  if (maxCallDepth > 16) impl_->maxDepth = maxCallDepth;
}

int TExecutor::LoadByteCode(std::string_view data) {
  Impl& m = *impl_;
  if (state_ == TRunState::Running) return static_cast<int>(TLoadError::Busy);
  m.Clear();
  m.loaded = false;
  request_.store(0, std::memory_order_relaxed);
  TLoadError err = TLoadError::None;
  if (!m.mod.Deserialize(data, err)) return static_cast<int>(err);
  m.importBind.assign(m.mod.imports.size(), nullptr);
  m.importManaged.assign(m.mod.imports.size(), false);
  for (size_t i = 0; i < m.mod.imports.size(); ++i) {
    const TImportInfo& im = m.mod.imports[i];
    auto it = m.bindings.find(im.name);
    if (it == m.bindings.end()) return static_cast<int>(TLoadError::UnboundRoutine);
    if (!(it->second.shape == im.Shape())) return static_cast<int>(TLoadError::ShapeMismatch);
    m.importBind[i] = &it->second;
    for (const auto& p : im.params)
      if (!p.byRef && (p.type == HT_STR || p.type == HT_ARR)) m.importManaged[i] = true;
  }
  for (const auto& s : m.mod.kstr) {
    TStrRep* r = StrFrom(s);
    if (!r) r = StrAlloc(0);
    r->refs = -1;  // immortal
    m.kstrReps.push_back(r);
  }
  m.funcs.clear();
  for (const auto& f : m.mod.funcs) {
    TFuncRt rt{};
    rt.entry = m.mod.code.data() + f.entry;
    rt.frameSize = f.frameSize;
    rt.paramStart = f.paramStart;
    rt.paramEnd = f.paramEnd;
    rt.managedEnd = f.managedEnd;
    rt.layout = f.layout;
    const TLayout& l = m.mod.layouts[static_cast<size_t>(f.layout)];
    rt.managed = l.managed;
    for (uint32_t i = 0; i < f.managedEnd; ++i)
      if ((i < f.paramStart || i >= f.paramEnd) && l.kinds[i] == TSlotKind::StatArr)
        rt.hasStatArr = true;
    m.funcs.push_back(rt);
  }
  m.tables.layouts = &m.mod.layouts;
  m.tables.descs = &m.mod.descs;
  m.loaded = true;
  state_ = TRunState::Idle;
  return 0;
}

void TExecutor::Stop() { request_.store(1, std::memory_order_relaxed); }
void TExecutor::Pause() {
  int expected = 0;
  request_.compare_exchange_strong(expected, 2, std::memory_order_relaxed);
}

std::string TExecutor::ExceptionProcName() const {
  const Impl& m = *impl_;
  if (excProc_ >= 0 && static_cast<size_t>(excProc_) < m.mod.funcs.size())
    return m.mod.funcs[static_cast<size_t>(excProc_)].name;
  return {};
}

bool TExecutor::Run() {
  const bool ok = Execute(false);
  request_.store(0, std::memory_order_relaxed);
  return ok;
}
bool TExecutor::Resume() {
  if (state_ != TRunState::Paused) return false;
  const bool ok = Execute(true);
  request_.store(0, std::memory_order_relaxed);
  return ok;
}

// ---------------------------------------------------------------------------------------
// THostCall

TValue* THostCall::Slot(int i) const {
  TValue* v = base_ + 1 + i;
  return info_->params[static_cast<size_t>(i)].byRef ? v->p : v;
}

int THostCall::ArgCount() const { return static_cast<int>(info_->params.size()); }

namespace {
int64_t TruncTo(uint8_t type, int64_t v) {
  switch (type) {
    case HT_I8:
      return static_cast<int8_t>(v);
    case HT_U8:
      return static_cast<uint8_t>(v);
    case HT_CHAR:
      return static_cast<uint8_t>(v);
    case HT_I16:
      return static_cast<int16_t>(v);
    case HT_U16:
      return static_cast<uint16_t>(v);
    case HT_I32:
      return static_cast<int32_t>(v);
    case HT_U32:
      return static_cast<uint32_t>(v);
    case HT_BOOL:
      return v != 0;
    default:
      return v;
  }
}
bool IsRealType(uint8_t t) { return t == HT_F32 || t == HT_F64; }
}  // namespace

int64_t THostCall::Int(int i) const {
  const TValue* v = Slot(i);
  const uint8_t t = info_->params[static_cast<size_t>(i)].type;
  if (IsRealType(t)) return static_cast<int64_t>(v->f);
  return v->i;
}

double THostCall::Real(int i) const {
  const TValue* v = Slot(i);
  const uint8_t t = info_->params[static_cast<size_t>(i)].type;
  if (IsRealType(t)) return v->f;
  return static_cast<double>(v->i);
}

std::string_view THostCall::Str(int i) const {
  const TValue* v = Slot(i);
  if (info_->params[static_cast<size_t>(i)].type != HT_STR) return {};
  return StrView(v->s);
}

int THostCall::ArrayLength(int i) const {
  if (info_->params[static_cast<size_t>(i)].type != HT_ARR) return 0;
  return ArrLen(Slot(i)->a);
}

int64_t THostCall::ArrayInt(int i, int index) const {
  if (index < 0 || index >= ArrayLength(i)) return 0;
  const TArrRep* a = Slot(i)->a;
  const uint8_t et = info_->params[static_cast<size_t>(i)].elem;
  const TValue& v = a->data[static_cast<size_t>(index) * static_cast<size_t>(a->elemSlots)];
  return IsRealType(et) ? static_cast<int64_t>(v.f) : v.i;
}

double THostCall::ArrayReal(int i, int index) const {
  if (index < 0 || index >= ArrayLength(i)) return 0;
  const TArrRep* a = Slot(i)->a;
  const uint8_t et = info_->params[static_cast<size_t>(i)].elem;
  const TValue& v = a->data[static_cast<size_t>(index) * static_cast<size_t>(a->elemSlots)];
  return IsRealType(et) ? v.f : static_cast<double>(v.i);
}

std::string_view THostCall::ArrayStr(int i, int index) const {
  if (index < 0 || index >= ArrayLength(i)) return {};
  const uint8_t et = info_->params[static_cast<size_t>(i)].elem;
  if (et != HT_STR) return {};
  const TArrRep* a = Slot(i)->a;
  return StrView(a->data[static_cast<size_t>(index) * static_cast<size_t>(a->elemSlots)].s);
}

void THostCall::SetArrayInt(int i, int index, int64_t v) {
  if (index < 0 || index >= ArrayLength(i)) return;
  TArrRep* a = Slot(i)->a;
  const uint8_t et = info_->params[static_cast<size_t>(i)].elem;
  TValue& e = a->data[static_cast<size_t>(index) * static_cast<size_t>(a->elemSlots)];
  if (IsRealType(et))
    e.f = static_cast<double>(v);
  else if (et != HT_STR)
    e.i = TruncTo(et, v);
}

void THostCall::SetInt(int i, int64_t v) {
  const THostParam& p = info_->params[static_cast<size_t>(i)];
  if (!p.byRef) return;
  TValue* s = Slot(i);
  if (IsRealType(p.type))
    s->f = p.type == HT_F32 ? static_cast<double>(static_cast<float>(v)) : static_cast<double>(v);
  else if (p.type != HT_STR && p.type != HT_ARR)
    s->i = TruncTo(p.type, v);
}

void THostCall::SetReal(int i, double v) {
  const THostParam& p = info_->params[static_cast<size_t>(i)];
  if (!p.byRef) return;
  TValue* s = Slot(i);
  if (IsRealType(p.type))
    s->f = p.type == HT_F32 ? static_cast<double>(static_cast<float>(v)) : v;
  else if (p.type != HT_STR && p.type != HT_ARR && std::isfinite(v) && std::fabs(v) < 9.2e18)
    s->i = TruncTo(p.type, static_cast<int64_t>(v));
}

void THostCall::SetStr(int i, std::string_view v) {
  const THostParam& p = info_->params[static_cast<size_t>(i)];
  if (!p.byRef || p.type != HT_STR) return;
  TValue* s = Slot(i);
  TStrRep* n = StrFrom(v);
  StrRelease(s->s);
  s->s = n;
}

void THostCall::ResultInt(int64_t v) {
  const uint8_t t = info_->result;
  if (IsRealType(t))
    base_[0].f = static_cast<double>(v);
  else if (t != HT_STR && t != HT_VOID)
    base_[0].i = TruncTo(t, v);
}

void THostCall::ResultReal(double v) {
  const uint8_t t = info_->result;
  if (IsRealType(t)) base_[0].f = t == HT_F32 ? static_cast<double>(static_cast<float>(v)) : v;
}

void THostCall::ResultStr(std::string_view v) {
  if (info_->result != HT_STR) return;
  TStrRep* n = StrFrom(v);
  StrRelease(base_[0].s);
  base_[0].s = n;
}

void THostCall::Raise(std::string message) {
  raised_ = true;
  raise_ = std::move(message);
}

// ---------------------------------------------------------------------------------------
// The interpreter

namespace {

std::string_view V(const TValue& v) { return StrView(v.s); }

void SetStr(TValue& dst, TStrRep* n) {
  StrRelease(dst.s);
  dst.s = n;
}

bool ExcMatchesCls(int cls, TErrorCode code) { return ExcClassMatches(cls, code); }

}  // namespace

bool TExecutor::Execute(bool resume) {
  Impl& m = *impl_;
  if (!m.loaded) return false;
  if (state_ == TRunState::Running) return false;
  const TFuncRt* funcs = m.funcs.data();
  const TInstr* code = m.mod.code.data();
  const TTypeTables& tables = m.tables;
  TStrRep* const* kstr = m.kstrReps.data();
  const int64_t* kint = m.mod.kint.data();

  if (!resume) {
    m.UnwindAll();
    if (m.stackSize != m.maxSlots || !m.stack) {
      m.stack.reset(static_cast<TValue*>(std::calloc(m.maxSlots, sizeof(TValue))));
      if (!m.stack) {
        m.stackSize = 0;
        state_ = TRunState::Raised;
        excCode_ = TErrorCode::OutOfMemory;
        excText_ = "Out of memory";
        return false;
      }
      m.stackSize = m.maxSlots;
    }
    if (m.frames.size() != static_cast<size_t>(m.maxDepth) + 1)
      m.frames.assign(static_cast<size_t>(m.maxDepth) + 1, TFrame{});
    const TFuncRt& f0 = funcs[0];
    if (f0.frameSize > m.stackSize) {
      state_ = TRunState::Raised;
      excCode_ = TErrorCode::StackOverflow;
      excText_ = "Stack overflow";
      return false;
    }
    std::memset(static_cast<void*>(m.stack.get()), 0, f0.frameSize * sizeof(TValue));
    m.depth = 0;
    m.frames[0] = TFrame{nullptr, m.stack.get(), 0};
    try {
      m.InitLocals(m.stack.get(), f0);
    } catch (const TOutOfMemory&) {
      m.UnwindAll();
      state_ = TRunState::Raised;
      excCode_ = TErrorCode::OutOfMemory;
      excText_ = "Out of memory";
      return false;
    }
    m.pc = f0.entry;
  }
  // A Stop or Pause that came before the run started is honoured at its first check; the
  // request is cleared when the run returns (below) and when byte code is loaded.
  excCode_ = TErrorCode::None;
  excText_.clear();
  excProc_ = 0;
  excPos_ = 0;
  excLine_ = excCol_ = 0;
  state_ = TRunState::Running;

  TValue* const G = m.stack.get();
  TValue* const stackEnd = m.stack.get() + m.stackSize;
  TFrame* const frames = m.frames.data();
  const int maxDepth = m.maxDepth;
  const TInstr* pc = m.pc;
  int depth = m.depth;
  TValue* R = frames[depth].fp;

  TErrorCode errCode = TErrorCode::None;
  std::string errMsg;
  TExc reraise;
  bool haveReraise = false;

  static void* const kLabels[OP_COUNT] = {
#define VNX_LABEL(name, a, b, c, d) &&L_##name,
      VNX_OPS(VNX_LABEL)
#undef VNX_LABEL
  };
#define NEXT              \
  do {                    \
    I = pc++;             \
    goto* kLabels[I->op]; \
  } while (0)
#define CASE(name) L_##name
#define CHECK_REQUEST()                                         \
  do {                                                          \
    if (request_.load(std::memory_order_relaxed)) goto request; \
  } while (0)
#define FAIL(code_, msg_) \
  do {                    \
    errCode = (code_);    \
    errMsg = (msg_);      \
    goto raise;           \
  } while (0)

  for (;;) {
    try {
      {
        const TInstr* I;
      dispatch:
        NEXT;
        CASE(NOP) : NEXT;
        CASE(MOV) : R[I->a] = R[I->b];
        NEXT;
        CASE(LDI) : R[I->a].i = I->d;
        NEXT;
        CASE(LDK) : R[I->a].i = kint[I->d];
        NEXT;
        CASE(LDG) : R[I->a] = G[I->d];
        NEXT;
        CASE(STG) : G[I->d] = R[I->a];
        NEXT;
        CASE(LDR) : R[I->a] = R[I->b].p[I->c];
        NEXT;
        CASE(STR) : R[I->b].p[I->c] = R[I->a];
        NEXT;
        CASE(ADDRL) : R[I->a].p = R + I->d;
        NEXT;
        CASE(ADDRG) : R[I->a].p = G + I->d;
        NEXT;
        CASE(ADDRR) : R[I->a].p = R[I->b].p + I->c;
        NEXT;
        // ---- strings
        CASE(MOVS) : if (I->a != I->b) {
          TStrRep* s = R[I->b].s;
          StrAddRef(s);
          SetStr(R[I->a], s);
        }
        NEXT;
        CASE(MOVSM) : if (I->a != I->b) {
          TStrRep* s = R[I->b].s;
          R[I->b].s = nullptr;
          SetStr(R[I->a], s);
        }
        NEXT;
        CASE(MOVSI) : if (I->a != I->b) {
          R[I->a].s = R[I->b].s;
          R[I->b].s = nullptr;
        }
        NEXT;
        CASE(CPYSI) : R[I->a].s = R[I->b].s;
        StrAddRef(R[I->a].s);
        NEXT;
        CASE(LDKS) : SetStr(R[I->a], kstr[I->d]);
        NEXT;
        CASE(LDGS) : {
          TStrRep* s = G[I->d].s;
          StrAddRef(s);
          SetStr(R[I->a], s);
          NEXT;
        }
        CASE(STGS) : {
          TStrRep* s = R[I->a].s;
          StrAddRef(s);
          SetStr(G[I->d], s);
          NEXT;
        }
        CASE(LDRS) : {
          TStrRep* s = R[I->b].p[I->c].s;
          StrAddRef(s);
          SetStr(R[I->a], s);
          NEXT;
        }
        CASE(STRS) : {
          TStrRep* s = R[I->a].s;
          StrAddRef(s);
          SetStr(R[I->b].p[I->c], s);
          NEXT;
        }
        CASE(CAT) : SetStr(R[I->a], StrConcat(V(R[I->b]), V(R[I->c])));
        NEXT;
        CASE(CATCS) : {
          const char ch = static_cast<char>(R[I->b].i);
          SetStr(R[I->a], StrConcat(std::string_view(&ch, 1), V(R[I->c])));
          NEXT;
        }
        CASE(CATSC) : {
          const char ch = static_cast<char>(R[I->c].i);
          SetStr(R[I->a], StrConcat(V(R[I->b]), std::string_view(&ch, 1)));
          NEXT;
        }
        CASE(CATCC) : {
          const char ch[2] = {static_cast<char>(R[I->b].i), static_cast<char>(R[I->c].i)};
          SetStr(R[I->a], StrConcat(std::string_view(ch, 2), {}));
          NEXT;
        }
        CASE(CHRS) : {
          const char ch = static_cast<char>(R[I->b].i);
          SetStr(R[I->a], StrConcat(std::string_view(&ch, 1), {}));
          NEXT;
        }
        CASE(APP) : StrAppend(&R[I->a], V(R[I->b]));
        NEXT;
        CASE(APPC) : StrAppendChar(&R[I->a], static_cast<char>(R[I->b].i));
        NEXT;
        CASE(APPR) : StrAppend(R[I->a].p + I->c, V(R[I->b]));
        NEXT;
        CASE(APPRC) : StrAppendChar(R[I->a].p + I->c, static_cast<char>(R[I->b].i));
        NEXT;
        CASE(SLEN) : R[I->a].i = StrLen(R[I->b].s);
        NEXT;
        CASE(SEQ) : R[I->a].i = StrCompare(R[I->b].s, R[I->c].s) == 0;
        NEXT;
        CASE(SNE) : R[I->a].i = StrCompare(R[I->b].s, R[I->c].s) != 0;
        NEXT;
        CASE(SLT) : R[I->a].i = StrCompare(R[I->b].s, R[I->c].s) < 0;
        NEXT;
        CASE(SLE) : R[I->a].i = StrCompare(R[I->b].s, R[I->c].s) <= 0;
        NEXT;
        CASE(LDCH) : {
          const TStrRep* s = R[I->b].s;
          const int64_t idx = R[I->c].i;
          if (idx < 1 || idx > StrLen(s)) FAIL(TErrorCode::RangeError, "Range check error");
          R[I->a].i = static_cast<uint8_t>(s->data[idx - 1]);
          NEXT;
        }
        CASE(STCH) : {
          TValue* slot = R[I->a].p;
          const int64_t idx = R[I->b].i;
          const int32_t len = StrLen(slot->s);
          if (idx < 1 || idx > len) FAIL(TErrorCode::RangeError, "Range check error");
          StrMakeUnique(slot, len);
          slot->s->data[idx - 1] = static_cast<char>(R[I->c].i);
          NEXT;
        }
        CASE(SETLS) : StrSetLength(R[I->a].p, R[I->b].i);
        NEXT;
        // ---- arrays
        CASE(MOVA) : if (I->a != I->b) {
          TArrRep* a = R[I->b].a;
          ArrAddRef(a);
          ArrRelease(tables, R[I->a].a);
          R[I->a].a = a;
        }
        NEXT;
        CASE(MOVAM) : if (I->a != I->b) {
          TArrRep* a = R[I->b].a;
          R[I->b].a = nullptr;
          ArrRelease(tables, R[I->a].a);
          R[I->a].a = a;
        }
        NEXT;
        CASE(MOVAI) : if (I->a != I->b) {
          R[I->a].a = R[I->b].a;
          R[I->b].a = nullptr;
        }
        NEXT;
        CASE(CPYAI) : R[I->a].a = R[I->b].a;
        ArrAddRef(R[I->a].a);
        NEXT;
        CASE(LDGA) : {
          TArrRep* a = G[I->d].a;
          ArrAddRef(a);
          ArrRelease(tables, R[I->a].a);
          R[I->a].a = a;
          NEXT;
        }
        CASE(STGA) : {
          TArrRep* a = R[I->a].a;
          ArrAddRef(a);
          ArrRelease(tables, G[I->d].a);
          G[I->d].a = a;
          NEXT;
        }
        CASE(LDRA) : {
          TArrRep* a = R[I->b].p[I->c].a;
          ArrAddRef(a);
          ArrRelease(tables, R[I->a].a);
          R[I->a].a = a;
          NEXT;
        }
        CASE(STRA) : {
          TArrRep* a = R[I->a].a;
          ArrAddRef(a);
          TValue& dst = R[I->b].p[I->c];
          ArrRelease(tables, dst.a);
          dst.a = a;
          NEXT;
        }
        CASE(ALEN) : R[I->a].i = ArrLen(R[I->b].a);
        NEXT;
#define ELEM(arr_, idx_, out_)                                                                     \
  TArrRep* arr_ = R[I->b].a;                                                                       \
  if (!arr_) FAIL(TErrorCode::RangeError, "Range check error");                                    \
  const uint64_t idx_ = static_cast<uint64_t>(R[I->c].i - arr_->low);                              \
  if (idx_ >= static_cast<uint64_t>(arr_->len)) FAIL(TErrorCode::RangeError, "Range check error"); \
  TValue& out_ = arr_->data[idx_ * static_cast<uint64_t>(arr_->elemSlots)]
        CASE(LDE) : {
          ELEM(arr, idx, e);
          R[I->a] = e;
          NEXT;
        }
        CASE(LDES) : {
          ELEM(arr, idx, e);
          TStrRep* s = e.s;
          StrAddRef(s);
          SetStr(R[I->a], s);
          NEXT;
        }
        CASE(LDEA) : {
          ELEM(arr, idx, e);
          TArrRep* a = e.a;
          ArrAddRef(a);
          ArrRelease(tables, R[I->a].a);
          R[I->a].a = a;
          NEXT;
        }
        CASE(STE) : {
          ELEM(arr, idx, e);
          e = R[I->a];
          NEXT;
        }
        CASE(STES) : {
          ELEM(arr, idx, e);
          TStrRep* s = R[I->a].s;
          StrAddRef(s);
          SetStr(e, s);
          NEXT;
        }
        CASE(STEA) : {
          ELEM(arr, idx, e);
          TArrRep* a = R[I->a].a;
          ArrAddRef(a);
          ArrRelease(tables, e.a);
          e.a = a;
          NEXT;
        }
        CASE(ADDRE) : {
          ELEM(arr, idx, e);
          R[I->a].p = &e;
          NEXT;
        }
#undef ELEM
        CASE(SETLA) : {
          const int64_t n = R[I->b].i;
          if (n > 0x7FFFFFFF) FAIL(TErrorCode::OutOfMemory, "Out of memory");
          ArrSetLength(tables, R[I->a].p, I->d, n);
          NEXT;
        }
        CASE(CPYV) : ValCopy(tables, R[I->a].p, R[I->b].p, I->d);
        NEXT;
        CASE(CPYVI) : ValCopyInit(tables, R[I->a].p, R[I->b].p, I->d);
        NEXT;
        CASE(RELV) : ValRelease(tables, R[I->a].p, I->d);
        NEXT;
        // ---- integers
#define IBIN(name, expr)         \
  CASE(name) : {                 \
    const int64_t x = R[I->b].i; \
    const int64_t y = R[I->c].i; \
    R[I->a].i = (expr);          \
    NEXT;                        \
  }
#define U(v) static_cast<uint64_t>(v)
#define S64(v) static_cast<int64_t>(v)
#define S32(v) static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v)))
        IBIN(ADD, S64(U(x) + U(y)))
        IBIN(SUB, S64(U(x) - U(y)))
        IBIN(MUL, S64(U(x) * U(y)))
        IBIN(AND, x & y)
        IBIN(OR, x | y)
        IBIN(XOR, x ^ y)
        IBIN(SHL, S64(U(x) << (y & 63)))
        IBIN(SHR, S64(U(x) >> (y & 63)))
        IBIN(SHL32, S32(static_cast<uint32_t>(x) << (y & 31)))
        IBIN(SHR32, S64(static_cast<uint32_t>(x) >> (y & 31)))
        IBIN(ADD32, S32(U(x) + U(y)))
        IBIN(SUB32, S32(U(x) - U(y)))
        IBIN(MUL32, S32(U(x) * U(y)))
        IBIN(EQ, x == y)
        IBIN(NE, x != y)
        IBIN(LT, x < y)
        IBIN(LE, x <= y)
        CASE(DIV) : {
          const int64_t x = R[I->b].i, y = R[I->c].i;
          if (y == 0) FAIL(TErrorCode::DivByZero, "Division by zero");
          if (x == static_cast<int32_t>(x) && y > 0 && y <= INT32_MAX)
            R[I->a].i = static_cast<int32_t>(x) / static_cast<int32_t>(y);
          else
            R[I->a].i = y == -1 ? S64(0 - U(x)) : x / y;
          NEXT;
        }
        CASE(MOD) : {
          const int64_t x = R[I->b].i, y = R[I->c].i;
          if (y == 0) FAIL(TErrorCode::DivByZero, "Division by zero");
          if (x == static_cast<int32_t>(x) && y > 0 && y <= INT32_MAX)
            R[I->a].i = static_cast<int32_t>(x) % static_cast<int32_t>(y);
          else
            R[I->a].i = y == -1 ? 0 : x % y;
          NEXT;
        }
#define IBINK(name, expr)                         \
  CASE(name) : {                                  \
    const int64_t x = R[I->b].i;                  \
    const int64_t y = static_cast<int16_t>(I->c); \
    R[I->a].i = (expr);                           \
    NEXT;                                         \
  }
        IBINK(ADDK, S64(U(x) + U(y)))
        IBINK(SUBK, S64(U(x) - U(y)))
        IBINK(ADDK32, S32(U(x) + U(y)))
        IBINK(SUBK32, S32(U(x) - U(y)))
        IBINK(MULK, S64(U(x) * U(y)))
        CASE(DIVK) : {
          const int64_t x = R[I->b].i, y = static_cast<int16_t>(I->c);
          if (y == 0) FAIL(TErrorCode::DivByZero, "Division by zero");
          if (x == static_cast<int32_t>(x) && y > 0 && y <= INT32_MAX)
            R[I->a].i = static_cast<int32_t>(x) / static_cast<int32_t>(y);
          else
            R[I->a].i = y == -1 ? S64(0 - U(x)) : x / y;
          NEXT;
        }
        CASE(MODK) : {
          const int64_t x = R[I->b].i, y = static_cast<int16_t>(I->c);
          if (y == 0) FAIL(TErrorCode::DivByZero, "Division by zero");
          if (x == static_cast<int32_t>(x) && y > 0 && y <= INT32_MAX)
            R[I->a].i = static_cast<int32_t>(x) % static_cast<int32_t>(y);
          else
            R[I->a].i = y == -1 ? 0 : x % y;
          NEXT;
        }
        CASE(NEG) : R[I->a].i = S64(0 - U(R[I->b].i));
        NEXT;
        CASE(NOT) : R[I->a].i = ~R[I->b].i;
        NEXT;
        CASE(BNOT) : R[I->a].i = R[I->b].i ^ 1;
        NEXT;
        CASE(TI8) : R[I->a].i = static_cast<int8_t>(R[I->b].i);
        NEXT;
        CASE(TU8) : R[I->a].i = static_cast<uint8_t>(R[I->b].i);
        NEXT;
        CASE(TI16) : R[I->a].i = static_cast<int16_t>(R[I->b].i);
        NEXT;
        CASE(TU16) : R[I->a].i = static_cast<uint16_t>(R[I->b].i);
        NEXT;
        CASE(TI32) : R[I->a].i = static_cast<int32_t>(R[I->b].i);
        NEXT;
        CASE(TU32) : R[I->a].i = static_cast<uint32_t>(R[I->b].i);
        NEXT;
        CASE(ABS) : {
          const int64_t x = R[I->b].i;
          R[I->a].i = x < 0 ? S64(0 - U(x)) : x;
          NEXT;
        }
        CASE(ABS32) : {
          const int64_t x = R[I->b].i;
          R[I->a].i = S32(x < 0 ? 0 - U(x) : U(x));
          NEXT;
        }
        // ---- reals
        CASE(FADD) : R[I->a].f = R[I->b].f + R[I->c].f;
        NEXT;
        CASE(FSUB) : R[I->a].f = R[I->b].f - R[I->c].f;
        NEXT;
        CASE(FMUL) : R[I->a].f = R[I->b].f * R[I->c].f;
        NEXT;
        CASE(FDIV) : {
          const double x = R[I->b].f, y = R[I->c].f;
          if (y == 0) {
            if (x == 0 || std::isnan(x))
              FAIL(TErrorCode::InvalidOp, "Invalid floating point operation");
            FAIL(TErrorCode::ZeroDivide, "Floating point division by zero");
          }
          R[I->a].f = x / y;
          NEXT;
        }
        CASE(FNEG) : R[I->a].f = -R[I->b].f;
        NEXT;
        CASE(FEQ) : R[I->a].i = R[I->b].f == R[I->c].f;
        NEXT;
        CASE(FNE) : R[I->a].i = R[I->b].f != R[I->c].f;
        NEXT;
        CASE(FLT) : R[I->a].i = R[I->b].f < R[I->c].f;
        NEXT;
        CASE(FLE) : R[I->a].i = R[I->b].f <= R[I->c].f;
        NEXT;
        CASE(I2F) : R[I->a].f = static_cast<double>(R[I->b].i);
        NEXT;
        CASE(F2SGL) : R[I->a].f = static_cast<double>(static_cast<float>(R[I->b].f));
        NEXT;
        CASE(FROUND) : {
          int64_t v;
          if (!rtl::RoundToInt(R[I->b].f, v))
            FAIL(TErrorCode::InvalidOp, "Invalid floating point operation");
          R[I->a].i = v;
          NEXT;
        }
        CASE(FTRUNC) : {
          int64_t v;
          if (!rtl::TruncToInt(R[I->b].f, v))
            FAIL(TErrorCode::InvalidOp, "Invalid floating point operation");
          R[I->a].i = v;
          NEXT;
        }
        CASE(FMATH) : {
          const double x = R[I->b].f;
          double r = 0;
          switch (I->c) {
            case MF_SQRT:
              if (x < 0) FAIL(TErrorCode::InvalidOp, "Invalid floating point operation");
              r = std::sqrt(x);
              break;
            case MF_SIN:
              r = std::sin(x);
              break;
            case MF_COS:
              r = std::cos(x);
              break;
            case MF_EXP:
              r = std::exp(x);
              break;
            case MF_LN:
              if (x <= 0) FAIL(TErrorCode::InvalidOp, "Invalid floating point operation");
              r = std::log(x);
              break;
            case MF_ARCTAN:
              r = std::atan(x);
              break;
            case MF_INT:
              r = std::trunc(x);
              break;
            case MF_FRAC:
              r = x - std::trunc(x);
              break;
            default:
              break;
          }
          R[I->a].f = r;
          NEXT;
        }
        // ---- jumps
        CASE(JMP) : pc = code + I->d;
        NEXT;
        CASE(LOOP) : pc = code + I->d;
        CHECK_REQUEST();
        NEXT;
        CASE(JT) : if (R[I->a].i) pc = code + I->d;
        NEXT;
        CASE(JF) : if (!R[I->a].i) pc = code + I->d;
        NEXT;
#define JCMP(name, expr)         \
  CASE(name) : {                 \
    const int64_t x = R[I->a].i; \
    const int64_t y = R[I->b].i; \
    if (expr) pc = code + I->d;  \
    NEXT;                        \
  }
        JCMP(JEQ, x == y)
        JCMP(JNE, x != y)
        JCMP(JLT, x < y)
        JCMP(JLE, x <= y)
#define JCMPK(name, expr)                                                               \
  CASE(name) : {                                                                        \
    const int64_t x = R[I->a].i;                                                        \
    const int64_t y = static_cast<int32_t>(I->b | (static_cast<uint32_t>(I->c) << 16)); \
    if (expr) pc = code + I->d;                                                         \
    NEXT;                                                                               \
  }
        JCMPK(JEQK, x == y)
        JCMPK(JNEK, x != y)
        JCMPK(JLTK, x < y)
        JCMPK(JLEK, x <= y)
        JCMPK(JGTK, x > y)
        JCMPK(JGEK, x >= y)
#define JFCMP(name, expr)       \
  CASE(name) : {                \
    const double x = R[I->a].f; \
    const double y = R[I->b].f; \
    if (expr) pc = code + I->d; \
    NEXT;                       \
  }
        JFCMP(JFEQ, x == y)
        JFCMP(JFNE, x != y)
        JFCMP(JFLT, x < y)
        JFCMP(JFLE, x <= y)
        CASE(FORI) : if (R[I->a].i < R[I->b].i) {
          ++R[I->a].i;
          pc = code + I->d;
          CHECK_REQUEST();
        }
        NEXT;
        CASE(FORD) : if (R[I->a].i > R[I->b].i) {
          --R[I->a].i;
          pc = code + I->d;
          CHECK_REQUEST();
        }
        NEXT;
        // ---- calls
        CASE(CALL) : {
          const TFuncRt& f = funcs[I->d];
          TValue* nfp = R + I->a;
          if (depth >= maxDepth || nfp + f.frameSize > stackEnd)
            FAIL(TErrorCode::StackOverflow, "Stack overflow");
          if (request_.load(std::memory_order_relaxed)) {
            --pc;  // the call happens on resume
            goto request;
          }
          ++depth;
          frames[depth] = TFrame{pc, nfp, I->d};
          for (uint32_t k = 0; k < f.paramStart; ++k) nfp[k].i = 0;
          for (uint32_t k = f.paramEnd; k < f.frameSize; ++k) nfp[k].i = 0;
          R = nfp;
          pc = f.entry;
          if (f.hasStatArr) m.InitLocals(nfp, f);
          NEXT;
        }
        CASE(CALLH) : {
          const TImportInfo& im = m.mod.imports[static_cast<size_t>(I->d)];
          const TBinding* b = m.importBind[static_cast<size_t>(I->d)];
          TValue* base = R + I->a;
          base[0].i = 0;
          THostCall call(this, base, &im, b->user);
          TErrorCode hostCode = TErrorCode::Exception;
          try {
            if (b->fn)
              b->fn(call);
            else
              b->sfn(call);
          } catch (const TOutOfMemory&) {
            throw;
          } catch (const std::exception& e) {
            call.raised_ = true;
            call.raise_ = e.what();
            hostCode = TErrorCode::HostError;
          } catch (...) {
            call.raised_ = true;
            call.raise_ = "Host routine failed";
            hostCode = TErrorCode::HostError;
          }
          if (m.importManaged[static_cast<size_t>(I->d)]) {
            for (size_t k = 0; k < im.params.size(); ++k) {
              const THostParam& p = im.params[k];
              if (p.byRef) continue;
              if (p.type == HT_STR) StrRelease(base[1 + k].s);
              if (p.type == HT_ARR) ArrRelease(tables, base[1 + k].a);
            }
          }
          if (call.raised_) {
            if (im.result == HT_STR) {
              StrRelease(base[0].s);
              base[0].s = nullptr;
            }
            FAIL(hostCode, call.raise_);
          }
          goto dispatch;  // a direct jump runs the destructors
        }
        CASE(RET) : {
          const TFuncRt& f = funcs[frames[depth].func];
          if (f.managed) m.ReleaseRange(R, f, f.paramStart);
          pc = frames[depth].retPc;
          if (depth == 0) {
            // End of the main program: release its own slots (globals) too.
            m.ReleaseRange(R, f, 0);
            depth = -1;
            m.depth = -1;
            m.handlers.clear();
            m.handled.clear();
            m.fins.clear();
            state_ = TRunState::Finished;
            return true;
          }
          --depth;
          R = frames[depth].fp;
          NEXT;
        }
        // ---- library
        CASE(I2S) : {
          char buf[24];
          const auto r = std::to_chars(buf, buf + sizeof buf, R[I->b].i);
          SetStr(R[I->a], StrFrom(std::string_view(buf, static_cast<size_t>(r.ptr - buf))));
          NEXT;
        }
        CASE(F2S) : SetStr(R[I->a], StrFrom(rtl::FloatToStr(R[I->b].f)));
        NEXT;
        CASE(S2I) : {
          const auto v = rtl::StrToInt(V(R[I->b]));
          if (!v) FAIL(TErrorCode::ConvertError, rtl::InvalidIntegerText(V(R[I->b])));
          R[I->a].i = *v;
          NEXT;
        }
        CASE(S2ID) : {
          const auto v = rtl::StrToInt(V(R[I->b]));
          R[I->a].i = v ? *v : R[I->c].i;
          NEXT;
        }
        CASE(FMT) : {
          const uint64_t packed = static_cast<uint64_t>(kint[I->d]);
          const int n = static_cast<int>(packed & 63);
          std::vector<base::TFormatArg> args;
          args.reserve(static_cast<size_t>(n));
          for (int k = 0; k < n; ++k) {
            const TValue& v = R[I->c + k];
            switch ((packed >> (6 + 2 * k)) & 3) {
              case 0:
                args.emplace_back(v.i);
                break;
              case 1:
                args.emplace_back(v.f);
                break;
              case 2:
                args.emplace_back(V(v));
                break;
              default:
                args.emplace_back(static_cast<char>(v.i));
                break;
            }
          }
          std::string out;
          try {
            out = base::FormatV(V(R[I->b]), args);
          } catch (const base::EFormatError& e) {
            FAIL(TErrorCode::FormatError, e.what());
          }
          SetStr(R[I->a], StrFrom(out));
          goto dispatch;  // a direct jump runs the destructors
        }
        CASE(COPYS) : SetStr(R[I->a], StrFrom(rtl::Copy(V(R[I->b]), R[I->c].i, R[I->c + 1].i)));
        NEXT;
        CASE(POS) : R[I->a].i = rtl::Pos(V(R[I->b]), V(R[I->c]));
        NEXT;
        CASE(DELS) : {
          TValue* slot = R[I->a].p;
          const int64_t len = StrLen(slot->s);
          int64_t idx = R[I->b].i, cnt = R[I->c].i;
          if (idx < 1 || idx > len || cnt <= 0) NEXT;
          if (cnt > len - idx + 1) cnt = len - idx + 1;
          const std::string_view s = V(*slot);
          std::string r(s.substr(0, static_cast<size_t>(idx - 1)));
          r += s.substr(static_cast<size_t>(idx - 1 + cnt));
          SetStr(*slot, StrFrom(r));
          goto dispatch;  // a direct jump runs the destructors
        }
        CASE(INSS) : {
          TValue* slot = R[I->b].p;
          const int64_t len = StrLen(slot->s);
          int64_t idx = R[I->c].i;
          if (idx < 1) idx = 1;
          if (idx > len + 1) idx = len + 1;
          const std::string_view s = V(*slot);
          std::string r(s.substr(0, static_cast<size_t>(idx - 1)));
          r += V(R[I->a]);
          r += s.substr(static_cast<size_t>(idx - 1));
          SetStr(*slot, StrFrom(r));
          goto dispatch;  // a direct jump runs the destructors
        }
        CASE(UPPER) : SetStr(R[I->a], StrFrom(rtl::UpperCase(V(R[I->b]))));
        NEXT;
        CASE(LOWER) : SetStr(R[I->a], StrFrom(rtl::LowerCase(V(R[I->b]))));
        NEXT;
        CASE(TRIM) : SetStr(R[I->a], StrFrom(rtl::Trim(V(R[I->b]))));
        NEXT;
        CASE(SLEEP) : {
          const int64_t ms = R[I->a].i;
          if (ms > 0) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            for (;;) {
              if (request_.load(std::memory_order_relaxed)) goto request;
              const auto now = std::chrono::steady_clock::now();
              if (now >= until) break;
              const auto left = until - now;
              std::this_thread::sleep_for(
                  left < std::chrono::microseconds(500) ? left : std::chrono::microseconds(500));
            }
          }
          NEXT;
        }
        // ---- exceptions
        CASE(RAISE) : FAIL(static_cast<TErrorCode>(I->d), std::string(V(R[I->a])));
        CASE(RERAISE) : if (m.handled.empty()) FAIL(TErrorCode::Exception, "Exception");
        reraise = std::move(m.handled.back());
        m.handled.pop_back();
        haveReraise = true;
        goto raise;
        CASE(TRY)
            : CASE(TRYF)
            : m.handlers.push_back(
                  THandler{static_cast<uint32_t>(I->d), static_cast<uint32_t>(depth),
                           static_cast<uint32_t>(m.handled.size()),
                           static_cast<uint32_t>(m.fins.size()), I->op == OP_TRYF});
        NEXT;
        CASE(POPH) : if (!m.handlers.empty()) m.handlers.pop_back();
        NEXT;
        CASE(POPHF) : if (!m.handlers.empty()) m.handlers.pop_back();
        m.fins.push_back(TFin{0, 0, {}});
        NEXT;
        CASE(ENDEXC) : if (!m.handled.empty()) m.handled.pop_back();
        NEXT;
        CASE(ENDFIN) : {
          if (m.fins.empty()) NEXT;
          TFin f = std::move(m.fins.back());
          m.fins.pop_back();
          if (f.kind == 1) {
            pc = code + f.retPc;
          } else if (f.kind == 2) {
            reraise = std::move(f.exc);
            haveReraise = true;
            goto raise;
          }
          goto dispatch;  // a direct jump runs the destructors
        }
        CASE(POPFIN) : if (!m.fins.empty()) m.fins.pop_back();
        NEXT;
        CASE(CALLFIN) : if (!m.handlers.empty()) m.handlers.pop_back();
        m.fins.push_back(TFin{1, static_cast<uint32_t>(pc - code), {}});
        pc = code + I->d;
        NEXT;
        CASE(EXCIDX) : R[I->a].i = static_cast<int64_t>(m.handled.size()) - 1;
        NEXT;
        CASE(EXCMSG) : {
          const int64_t k = R[I->b].i;
          const std::string msg =
              k >= 0 && static_cast<size_t>(k) < m.handled.size() ? m.handled[k].msg : "";
          SetStr(R[I->a], StrFrom(msg));
          goto dispatch;  // a direct jump runs the destructors
        }
        CASE(EXCCLS) : {
          const int64_t k = R[I->b].i;
          const char* name = k >= 0 && static_cast<size_t>(k) < m.handled.size()
                                 ? ExcClassName(m.handled[k].code)
                                 : "Exception";
          SetStr(R[I->a], StrFrom(name));
          NEXT;
        }
        CASE(EXCIS) : {
          const int64_t k = R[I->b].i;
          R[I->a].i = k >= 0 && static_cast<size_t>(k) < m.handled.size() &&
                      ExcMatchesCls(I->d, m.handled[k].code);
          NEXT;
        }
      }
    } catch (const TOutOfMemory&) {
      errCode = TErrorCode::OutOfMemory;
      errMsg = "Out of memory";
    } catch (const std::bad_alloc&) {
      errCode = TErrorCode::OutOfMemory;
      errMsg = "Out of memory";
    }

  raise : {
    // pc points past the failing instruction.
    TExc exc;
    if (haveReraise) {
      exc = std::move(reraise);
      haveReraise = false;
    } else {
      exc.code = errCode;
      exc.msg = std::move(errMsg);
      exc.func = frames[depth].func;
      const size_t at = static_cast<size_t>(pc - code) - 1;
      exc.pos = at < m.mod.pos.size() ? m.mod.pos[at] : 0;
    }
    errMsg.clear();
    if (m.handlers.empty()) {
      depth = depth < 0 ? -1 : depth;
      m.depth = depth;
      m.UnwindAll();
      state_ = TRunState::Raised;
      excCode_ = exc.code;
      excText_ = exc.msg.empty() ? ErrorCodeText(exc.code) : exc.msg;
      excProc_ = exc.func;
      excPos_ = static_cast<int>(exc.pos);
      m.mod.LineCol(exc.pos, excLine_, excCol_);
      return false;
    }
    const THandler h = m.handlers.back();
    m.handlers.pop_back();
    while (depth > static_cast<int>(h.depth)) {
      const TFrame& fr = frames[depth];
      m.ReleaseRange(fr.fp, funcs[fr.func], 0);
      --depth;
    }
    R = frames[depth].fp;
    m.handled.resize(std::min<size_t>(m.handled.size(), h.excTop));
    m.fins.resize(std::min<size_t>(m.fins.size(), h.finTop));
    if (h.fin)
      m.fins.push_back(TFin{2, 0, std::move(exc)});
    else
      m.handled.push_back(std::move(exc));
    pc = code + h.pc;
    continue;
  }

  request : {
    const int req = request_.load(std::memory_order_relaxed);
    m.depth = depth;
    m.pc = pc;
    if (req == 2) {
      state_ = TRunState::Paused;
      return true;
    }
    m.UnwindAll();
    state_ = TRunState::Stopped;
    return true;
  }
  }
#undef CHECK_REQUEST
#undef FAIL
}

}  // namespace script::engine
