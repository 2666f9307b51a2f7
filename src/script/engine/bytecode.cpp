#include "script/engine/bytecode.h"

#include <algorithm>
#include <cstring>

namespace script::engine {

const TOpInfo kOpInfo[OP_COUNT] = {
#define VNX_INFO(name, a, b, c, d) {#name, OK_##a, OK_##b, OK_##c, OK_##d},
    VNX_OPS(VNX_INFO)
#undef VNX_INFO
};

TCallShape TImportInfo::Shape() const {
  TCallShape s;
  s.isFunction = result != HT_VOID;
  for (const auto& p : params) s.byRef.push_back(p.byRef);
  return s;
}

namespace {

constexpr char kMagic[8] = {'V', 'N', 'X', 'B', 'C', 0, 0, 3};  // last byte: version

class TWriter {
 public:
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void I64(int64_t v) {
    U32(static_cast<uint32_t>(static_cast<uint64_t>(v)));
    U32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
  }
  void Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    out_ += s;
  }
  std::string& Out() { return out_; }

 private:
  std::string out_;
};

class TReader {
 public:
  explicit TReader(std::string_view d) : d_(d) {}
  bool ok() const { return ok_; }
  uint8_t U8() {
    if (p_ >= d_.size()) {
      ok_ = false;
      return 0;
    }
    return static_cast<uint8_t>(d_[p_++]);
  }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(U8()) << (8 * i);
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  int64_t I64() {
    const uint64_t lo = U32();
    const uint64_t hi = U32();
    return static_cast<int64_t>(lo | (hi << 32));
  }
  std::string Str() {
    const uint32_t n = U32();
    if (!ok_ || n > d_.size() - p_) {
      ok_ = false;
      return {};
    }
    std::string s(d_.substr(p_, n));
    p_ += n;
    return s;
  }
  // A count of items each at least `minBytes` long: refuses counts the data cannot hold.
  uint32_t Count(size_t minBytes) {
    const uint32_t n = U32();
    if (!ok_ || static_cast<uint64_t>(n) * std::max<size_t>(minBytes, 1) > d_.size() - p_) {
      ok_ = false;
      return 0;
    }
    return n;
  }
  bool AtEnd() const { return p_ == d_.size(); }

 private:
  std::string_view d_;
  size_t p_ = 0;
  bool ok_ = true;
};

uint64_t Fnv(std::string_view s) {
  uint64_t h = 1469598103934665603ULL;
  for (const char c : s) {
    h ^= static_cast<uint8_t>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

}  // namespace

std::string TModule::Serialize() const {
  TWriter w;
  w.U32(globals);
  w.U32(static_cast<uint32_t>(code.size()));
  for (size_t i = 0; i < code.size(); ++i) {
    const TInstr& in = code[i];
    w.U32(in.op | (static_cast<uint32_t>(in.a) << 16));
    w.U32(in.b | (static_cast<uint32_t>(in.c) << 16));
    w.I32(in.d);
    w.U32(pos[i]);
  }
  w.U32(static_cast<uint32_t>(funcs.size()));
  for (const auto& f : funcs) {
    w.Str(f.name);
    w.U32(f.entry);
    w.U32(f.end);
    w.U32(f.frameSize);
    w.U32(f.paramStart);
    w.U32(f.paramEnd);
    w.U32(f.managedEnd);
    w.I32(f.layout);
    w.U32(f.srcPos);
  }
  w.U32(static_cast<uint32_t>(imports.size()));
  for (const auto& im : imports) {
    w.Str(im.name);
    w.Str(im.decl);
    w.U8(im.result);
    w.U32(static_cast<uint32_t>(im.params.size()));
    for (const auto& p : im.params) {
      w.U8(p.type);
      w.U8(p.elem);
      w.U8(p.byRef ? 1 : 0);
    }
  }
  w.U32(static_cast<uint32_t>(kint.size()));
  for (const int64_t v : kint) w.I64(v);
  w.U32(static_cast<uint32_t>(kstr.size()));
  for (const auto& s : kstr) w.Str(s);
  w.U32(static_cast<uint32_t>(layouts.size()));
  for (const auto& l : layouts) {
    w.U32(static_cast<uint32_t>(l.kinds.size()));
    for (size_t i = 0; i < l.kinds.size(); ++i) {
      w.U8(static_cast<uint8_t>(l.kinds[i]));
      w.I32(l.arrDesc[i]);
    }
  }
  w.U32(static_cast<uint32_t>(descs.size()));
  for (const auto& d : descs) {
    w.I32(d.low);
    w.I32(d.count);
    w.I32(d.elemSlots);
    w.I32(d.elemLayout);
    w.U8(d.isStatic ? 1 : 0);
  }
  w.U32(static_cast<uint32_t>(lineStarts.size()));
  for (const uint32_t v : lineStarts) w.U32(v);

  std::string out(kMagic, sizeof kMagic);
  const uint64_t h = Fnv(w.Out());
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(h >> (8 * i)));
  out += w.Out();
  return out;
}

bool TModule::Deserialize(std::string_view data, TLoadError& err) {
  err = TLoadError::BadHeader;
  if (data.size() < 16 || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0) return false;
  err = TLoadError::Corrupt;
  uint64_t h = 0;
  for (int i = 0; i < 8; ++i)
    h |= static_cast<uint64_t>(static_cast<uint8_t>(data[8 + i])) << (8 * i);
  const std::string_view body = data.substr(16);
  if (Fnv(body) != h) return false;
  TReader r(body);
  *this = TModule{};
  globals = r.U32();
  const uint32_t nCode = r.Count(16);
  code.resize(nCode);
  pos.resize(nCode);
  for (uint32_t i = 0; i < nCode && r.ok(); ++i) {
    const uint32_t x = r.U32(), y = r.U32();
    code[i].op = static_cast<uint16_t>(x);
    code[i].a = static_cast<uint16_t>(x >> 16);
    code[i].b = static_cast<uint16_t>(y);
    code[i].c = static_cast<uint16_t>(y >> 16);
    code[i].d = r.I32();
    pos[i] = r.U32();
  }
  const uint32_t nFuncs = r.Count(36);
  funcs.resize(nFuncs);
  for (auto& f : funcs) {
    f.name = r.Str();
    f.entry = r.U32();
    f.end = r.U32();
    f.frameSize = r.U32();
    f.paramStart = r.U32();
    f.paramEnd = r.U32();
    f.managedEnd = r.U32();
    f.layout = r.I32();
    f.srcPos = r.U32();
  }
  const uint32_t nImports = r.Count(13);
  imports.resize(nImports);
  for (auto& im : imports) {
    im.name = r.Str();
    im.decl = r.Str();
    im.result = r.U8();
    const uint32_t np = r.Count(3);
    im.params.resize(np);
    for (auto& p : im.params) {
      p.type = r.U8();
      p.elem = r.U8();
      p.byRef = r.U8() != 0;
    }
  }
  const uint32_t nk = r.Count(8);
  kint.resize(nk);
  for (auto& v : kint) v = r.I64();
  const uint32_t ns = r.Count(4);
  kstr.resize(ns);
  for (auto& s : kstr) s = r.Str();
  const uint32_t nl = r.Count(4);
  layouts.resize(nl);
  for (auto& l : layouts) {
    const uint32_t n = r.Count(5);
    l.kinds.resize(n);
    l.arrDesc.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t k = r.U8();
      if (k > 3) return false;
      l.kinds[i] = static_cast<TSlotKind>(k);
      l.arrDesc[i] = r.I32();
      if (k != 0) l.managed = true;
    }
  }
  const uint32_t nd = r.Count(17);
  descs.resize(nd);
  for (auto& d : descs) {
    d.low = r.I32();
    d.count = r.I32();
    d.elemSlots = r.I32();
    d.elemLayout = r.I32();
    d.isStatic = r.U8() != 0;
  }
  const uint32_t nls = r.Count(4);
  lineStarts.resize(nls);
  for (auto& v : lineStarts) v = r.U32();
  if (!r.ok() || !r.AtEnd()) return false;
  if (!Validate()) return false;
  err = TLoadError::None;
  return true;
}

bool TModule::Validate() const {
  if (funcs.empty() || pos.size() != code.size()) return false;
  if (funcs[0].frameSize < globals) return false;
  for (const auto& d : descs) {
    if (d.elemLayout < 0 || static_cast<size_t>(d.elemLayout) >= layouts.size()) return false;
    if (d.elemSlots < 1 || static_cast<size_t>(d.elemSlots) != layouts[d.elemLayout].kinds.size())
      return false;
    if (d.count < 0 || (d.isStatic && static_cast<int64_t>(d.count) * d.elemSlots > kMaxArrSlots))
      return false;
  }
  for (const auto& l : layouts) {
    for (size_t i = 0; i < l.kinds.size(); ++i) {
      if (l.kinds[i] == TSlotKind::StatArr) {
        const int32_t ad = l.arrDesc[i];
        if (ad < 0 || static_cast<size_t>(ad) >= descs.size() || !descs[ad].isStatic) return false;
      }
    }
  }
  // Static arrays must not contain themselves (a layout cycle would recurse without end).
  for (size_t i = 0; i < descs.size(); ++i) {
    std::vector<int32_t> work{static_cast<int32_t>(i)};
    size_t steps = 0;
    while (!work.empty()) {
      if (++steps > descs.size() * 4 + 16) return false;
      const int32_t di = work.back();
      work.pop_back();
      const TLayout& el = layouts[descs[di].elemLayout];
      for (size_t k = 0; k < el.kinds.size(); ++k)
        if (el.kinds[k] == TSlotKind::StatArr) {
          if (el.arrDesc[k] == static_cast<int32_t>(i)) return false;
          work.push_back(el.arrDesc[k]);
        }
    }
  }
  for (const auto& f : funcs) {
    if (f.entry >= f.end || f.end > code.size()) return false;
    if (f.frameSize > 0xFFFF || f.paramStart > f.paramEnd || f.paramEnd > f.managedEnd ||
        f.managedEnd > f.frameSize)
      return false;
    if (f.layout < 0 || static_cast<size_t>(f.layout) >= layouts.size() ||
        layouts[f.layout].kinds.size() != f.managedEnd)
      return false;
    if (code[f.end - 1].op != OP_RET) return false;
    for (uint32_t pc = f.entry; pc < f.end; ++pc) {
      const TInstr& in = code[pc];
      if (in.op >= OP_COUNT) return false;
      const TOpInfo& oi = kOpInfo[in.op];
      auto slotOk = [&](TOperandKind k, uint32_t v) { return k != OK_S || v < f.frameSize; };
      if (!slotOk(oi.a, in.a) || !slotOk(oi.b, in.b) || !slotOk(oi.c, in.c)) return false;
      const uint32_t d = static_cast<uint32_t>(in.d);
      switch (oi.d) {
        case OK_J:
          if (d < f.entry || d >= f.end) return false;
          break;
        case OK_F:
          if (d >= funcs.size()) return false;
          break;
        case OK_H:
          if (d >= imports.size()) return false;
          break;
        case OK_C:
          if (d >= kint.size()) return false;
          break;
        case OK_Q:
          if (d >= kstr.size()) return false;
          break;
        case OK_G:
          if (d >= globals) return false;
          break;
        case OK_L:
          if (d >= layouts.size()) return false;
          break;
        case OK_A:
          if (d >= descs.size()) return false;
          break;
        case OK_S:
          if (d >= f.frameSize) return false;
          break;
        default:
          break;
      }
      switch (in.op) {
        case OP_CALL: {
          const TFuncInfo& g = funcs[d];
          if (static_cast<uint64_t>(in.a) + g.paramEnd > f.frameSize) return false;
          break;
        }
        case OP_CALLH:
          if (static_cast<uint64_t>(in.a) + 1 + imports[d].params.size() > f.frameSize)
            return false;
          break;
        case OP_FMT: {
          const uint64_t n = static_cast<uint64_t>(kint[d]) & 63;
          if (in.c + n > f.frameSize) return false;
          break;
        }
        case OP_COPYS:
          if (in.c + 1u >= f.frameSize) return false;
          break;
        case OP_FMATH:
          if (in.c >= MF_COUNT) return false;
          break;
        default:
          break;
      }
    }
  }
  for (const auto& im : imports) {
    if (im.result > HT_F64) return false;
    for (const auto& p : im.params)
      if (p.type > HT_ARR || p.type == HT_VOID || p.elem > HT_F64) return false;
  }
  return true;
}

void TModule::LineCol(uint32_t offset, int& line, int& col) const {
  if (lineStarts.empty()) {
    line = 1;
    col = static_cast<int>(offset) + 1;
    return;
  }
  auto it = std::upper_bound(lineStarts.begin(), lineStarts.end(), offset);
  const size_t idx =
      it == lineStarts.begin() ? 0 : static_cast<size_t>(it - lineStarts.begin()) - 1;
  line = static_cast<int>(idx) + 1;
  col = static_cast<int>(offset - lineStarts[idx]) + 1;
}

std::string TModule::Disassemble() const {
  std::string out;
  for (size_t fi = 0; fi < funcs.size(); ++fi) {
    const TFuncInfo& f = funcs[fi];
    out += "routine " + std::to_string(fi) + " " + f.name + " frame " +
           std::to_string(f.frameSize) + "\n";
    for (uint32_t pc = f.entry; pc < f.end; ++pc) {
      const TInstr& in = code[pc];
      const TOpInfo& oi = kOpInfo[in.op < OP_COUNT ? in.op : 0];
      out += "  " + std::to_string(pc) + ": " + oi.name;
      if (oi.a != OK_N) out += " " + std::to_string(in.a);
      if (oi.b != OK_N) out += " " + std::to_string(in.b);
      if (oi.c != OK_N) out += " " + std::to_string(in.c);
      if (oi.d != OK_N) out += " #" + std::to_string(in.d);
      out += "\n";
    }
  }
  return out;
}

}  // namespace script::engine

namespace script::engine {

namespace {
struct TExcClassRow {
  const char* name;
  const char* upper;
};
// Index = class id.
const TExcClassRow kExcClasses[] = {
    {"Exception", "EXCEPTION"},         {"EIntError", "EINTERROR"},
    {"EDivByZero", "EDIVBYZERO"},       {"ERangeError", "ERANGEERROR"},
    {"EConvertError", "ECONVERTERROR"}, {"EStackOverflow", "ESTACKOVERFLOW"},
    {"EOutOfMemory", "EOUTOFMEMORY"},   {"EMathError", "EMATHERROR"},
    {"EInvalidOp", "EINVALIDOP"},       {"EZeroDivide", "EZERODIVIDE"},
};
}  // namespace

int ExcClassByName(std::string_view upperName) {
  for (size_t i = 0; i < std::size(kExcClasses); ++i)
    if (upperName == kExcClasses[i].upper) return static_cast<int>(i);
  return -1;
}

const char* ExcClassName(TErrorCode code) {
  switch (code) {
    case TErrorCode::DivByZero:
      return "EDivByZero";
    case TErrorCode::RangeError:
      return "ERangeError";
    case TErrorCode::ConvertError:
    case TErrorCode::FormatError:
      return "EConvertError";
    case TErrorCode::StackOverflow:
      return "EStackOverflow";
    case TErrorCode::OutOfMemory:
      return "EOutOfMemory";
    case TErrorCode::InvalidOp:
      return "EInvalidOp";
    case TErrorCode::ZeroDivide:
      return "EZeroDivide";
    default:
      return "Exception";
  }
}

bool ExcClassMatches(int cls, TErrorCode code) {
  switch (cls) {
    case 0:
      return true;
    case 1:
      return code == TErrorCode::DivByZero || code == TErrorCode::RangeError;
    case 2:
      return code == TErrorCode::DivByZero;
    case 3:
      return code == TErrorCode::RangeError;
    case 4:
      return code == TErrorCode::ConvertError || code == TErrorCode::FormatError;
    case 5:
      return code == TErrorCode::StackOverflow;
    case 6:
      return code == TErrorCode::OutOfMemory;
    case 7:
      return code == TErrorCode::InvalidOp || code == TErrorCode::ZeroDivide;
    case 8:
      return code == TErrorCode::InvalidOp;
    case 9:
      return code == TErrorCode::ZeroDivide;
    default:
      return false;
  }
}

std::string ErrorCodeText(TErrorCode code) {
  switch (code) {
    case TErrorCode::None:
      return "No error";
    case TErrorCode::Exception:
      return "Exception";
    case TErrorCode::DivByZero:
      return "Division by zero";
    case TErrorCode::RangeError:
      return "Range check error";
    case TErrorCode::ConvertError:
      return "Invalid conversion";
    case TErrorCode::StackOverflow:
      return "Stack overflow";
    case TErrorCode::OutOfMemory:
      return "Out of memory";
    case TErrorCode::InvalidOp:
      return "Invalid floating point operation";
    case TErrorCode::ZeroDivide:
      return "Floating point division by zero";
    case TErrorCode::FormatError:
      return "Invalid format";
    case TErrorCode::HostError:
      return "Host routine failed";
    case TErrorCode::Internal:
      return "Internal error";
  }
  return "Unknown error";
}

}  // namespace script::engine
