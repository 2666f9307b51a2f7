#include "script/engine/value.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace script::engine {

namespace {

TStrRep* StrRaw(int32_t cap) {
  if (cap < 0 || cap > kMaxStrLen) throw TOutOfMemory{};
  void* mem = std::malloc(offsetof(TStrRep, data) + static_cast<size_t>(cap) + 1);
  if (!mem) throw TOutOfMemory{};
  auto* s = static_cast<TStrRep*>(mem);
  s->refs = 1;
  s->len = 0;
  s->cap = cap;
  s->data[0] = 0;
  return s;
}

}  // namespace

TStrRep* StrAlloc(int32_t len) {
  TStrRep* s = StrRaw(len);
  s->len = len;
  s->data[len] = 0;
  return s;
}

TStrRep* StrFrom(std::string_view v) {
  if (v.empty()) return nullptr;
  if (v.size() > static_cast<size_t>(kMaxStrLen)) throw TOutOfMemory{};
  TStrRep* s = StrAlloc(static_cast<int32_t>(v.size()));
  std::memcpy(s->data, v.data(), v.size());
  return s;
}

void StrFree(TStrRep* s) { std::free(s); }

void StrMakeUnique(TValue* slot, int32_t minCap) {
  TStrRep* s = slot->s;
  if (s && s->refs == 1 && s->cap >= minCap) return;
  const int32_t len = StrLen(s);
  int32_t cap = std::max(minCap, len);
  TStrRep* n = StrRaw(cap);
  n->len = len;
  if (len) std::memcpy(n->data, s->data, static_cast<size_t>(len));
  n->data[len] = 0;
  StrRelease(s);
  slot->s = n;
}

namespace {

void Grow(TValue* slot, int64_t need) {
  if (need > kMaxStrLen) throw TOutOfMemory{};
  TStrRep* s = slot->s;
  if (s && s->refs == 1 && s->cap >= need) return;
  int64_t cap = need;
  if (s && s->refs == 1)
    cap = std::max<int64_t>(need, static_cast<int64_t>(s->cap) * 2);
  else if (need > 16)
    cap = need + need / 2;
  if (cap > kMaxStrLen) cap = kMaxStrLen;
  if (s && s->refs == 1) {
    void* mem = std::realloc(s, offsetof(TStrRep, data) + static_cast<size_t>(cap) + 1);
    if (!mem) throw TOutOfMemory{};
    s = static_cast<TStrRep*>(mem);
    s->cap = static_cast<int32_t>(cap);
    slot->s = s;
    return;
  }
  StrMakeUnique(slot, static_cast<int32_t>(cap));
}

}  // namespace

void StrAppend(TValue* slot, std::string_view tail) {
  if (tail.empty()) return;
  const int32_t len = StrLen(slot->s);
  // tail may point into *slot's own string: keep it alive over a reallocation.
  TStrRep* keep = nullptr;
  if (slot->s && tail.data() >= slot->s->data && tail.data() < slot->s->data + slot->s->cap + 1) {
    keep = slot->s;
    StrAddRef(keep);
  }
  Grow(slot, static_cast<int64_t>(len) + static_cast<int64_t>(tail.size()));
  std::memcpy(slot->s->data + len, tail.data(), tail.size());
  slot->s->len = len + static_cast<int32_t>(tail.size());
  slot->s->data[slot->s->len] = 0;
  StrRelease(keep);
}

void StrAppendChar(TValue* slot, char c) {
  const int32_t len = StrLen(slot->s);
  Grow(slot, static_cast<int64_t>(len) + 1);
  slot->s->data[len] = c;
  slot->s->len = len + 1;
  slot->s->data[len + 1] = 0;
}

TStrRep* StrConcat(std::string_view a, std::string_view b) {
  const size_t n = a.size() + b.size();
  if (n == 0) return nullptr;
  if (n > static_cast<size_t>(kMaxStrLen)) throw TOutOfMemory{};
  TStrRep* s = StrAlloc(static_cast<int32_t>(n));
  if (!a.empty()) std::memcpy(s->data, a.data(), a.size());
  if (!b.empty()) std::memcpy(s->data + a.size(), b.data(), b.size());
  return s;
}

int StrCompare(const TStrRep* a, const TStrRep* b) {
  if (a == b) return 0;
  const std::string_view x = StrView(a), y = StrView(b);
  const size_t n = std::min(x.size(), y.size());
  const int c = n ? std::memcmp(x.data(), y.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
}

void StrSetLength(TValue* slot, int64_t len) {
  if (len <= 0) {
    StrRelease(slot->s);
    slot->s = nullptr;
    return;
  }
  if (len > kMaxStrLen) throw TOutOfMemory{};
  const int32_t old = StrLen(slot->s);
  StrMakeUnique(slot, static_cast<int32_t>(len));
  if (len > old) std::memset(slot->s->data + old, 0, static_cast<size_t>(len - old));
  slot->s->len = static_cast<int32_t>(len);
  slot->s->data[len] = 0;
}

// ---------------------------------------------------------------------------------------

TArrRep* ArrAlloc(const TTypeTables& t, int32_t desc, int64_t len) {
  const TArrDesc& d = (*t.descs)[static_cast<size_t>(desc)];
  const int64_t slots = len * d.elemSlots;
  if (len < 0 || slots > kMaxArrSlots) throw TOutOfMemory{};
  const size_t bytes =
      offsetof(TArrRep, data) + static_cast<size_t>(std::max<int64_t>(slots, 1)) * sizeof(TValue);
  void* mem = std::calloc(1, bytes);
  if (!mem) throw TOutOfMemory{};
  auto* a = static_cast<TArrRep*>(mem);
  a->refs = 1;
  a->len = static_cast<int32_t>(len);
  a->low = d.low;
  a->elemSlots = d.elemSlots;
  a->desc = desc;
  if (d.elemLayout >= 0 && (*t.layouts)[static_cast<size_t>(d.elemLayout)].managed) {
    for (int64_t i = 0; i < len; ++i) ValInit(t, a->data + i * d.elemSlots, d.elemLayout);
  }
  return a;
}

void ArrFree(const TTypeTables& t, TArrRep* a) {
  const TArrDesc& d = (*t.descs)[static_cast<size_t>(a->desc)];
  if (d.elemLayout >= 0 && (*t.layouts)[static_cast<size_t>(d.elemLayout)].managed) {
    for (int64_t i = 0; i < a->len; ++i) ValRelease(t, a->data + i * a->elemSlots, d.elemLayout);
  }
  std::free(a);
}

void ArrSetLength(const TTypeTables& t, TValue* slot, int32_t desc, int64_t len) {
  if (len < 0) len = 0;
  TArrRep* a = slot->a;
  const int32_t old = ArrLen(a);
  if (len == 0) {
    ArrRelease(t, a);
    slot->a = nullptr;
    return;
  }
  if (a && a->refs == 1 && len == old) return;
  const TArrDesc& d = (*t.descs)[static_cast<size_t>(a ? a->desc : desc)];
  TArrRep* n = ArrAlloc(t, a ? a->desc : desc, len);
  const int64_t keep = std::min<int64_t>(len, old);
  for (int64_t i = 0; i < keep; ++i) {
    if (d.elemLayout >= 0)
      ValCopy(t, n->data + i * d.elemSlots, a->data + i * d.elemSlots, d.elemLayout);
    else
      n->data[i * d.elemSlots] = a->data[i * d.elemSlots];
  }
  ArrRelease(t, a);
  slot->a = n;
}

// ---------------------------------------------------------------------------------------

void ValInit(const TTypeTables& t, TValue* v, int32_t layout) {
  const TLayout& l = (*t.layouts)[static_cast<size_t>(layout)];
  std::memset(static_cast<void*>(v), 0, l.kinds.size() * sizeof(TValue));
  if (!l.managed) return;
  for (size_t i = 0; i < l.kinds.size(); ++i) {
    if (l.kinds[i] == TSlotKind::StatArr) {
      const int32_t desc = l.arrDesc[i];
      v[i].a = ArrAlloc(t, desc, (*t.descs)[static_cast<size_t>(desc)].count);
    }
  }
}

void ValRelease(const TTypeTables& t, TValue* v, int32_t layout) {
  const TLayout& l = (*t.layouts)[static_cast<size_t>(layout)];
  if (!l.managed) return;
  for (size_t i = 0; i < l.kinds.size(); ++i) {
    switch (l.kinds[i]) {
      case TSlotKind::Plain:
        break;
      case TSlotKind::Str:
        StrRelease(v[i].s);
        v[i].s = nullptr;
        break;
      case TSlotKind::DynArr:
      case TSlotKind::StatArr:
        ArrRelease(t, v[i].a);
        v[i].a = nullptr;
        break;
    }
  }
}

void ValCopy(const TTypeTables& t, TValue* dst, const TValue* src, int32_t layout) {
  if (dst == src) return;
  const TLayout& l = (*t.layouts)[static_cast<size_t>(layout)];
  if (!l.managed) {
    std::memmove(static_cast<void*>(dst), src, l.kinds.size() * sizeof(TValue));
    return;
  }
  for (size_t i = 0; i < l.kinds.size(); ++i) {
    switch (l.kinds[i]) {
      case TSlotKind::Plain:
        dst[i] = src[i];
        break;
      case TSlotKind::Str: {
        TStrRep* s = src[i].s;
        StrAddRef(s);
        StrRelease(dst[i].s);
        dst[i].s = s;
        break;
      }
      case TSlotKind::DynArr: {
        TArrRep* a = src[i].a;
        ArrAddRef(a);
        ArrRelease(t, dst[i].a);
        dst[i].a = a;
        break;
      }
      case TSlotKind::StatArr: {
        TArrRep* d = dst[i].a;
        const TArrRep* s = src[i].a;
        if (d == s || !d || !s) break;
        const TArrDesc& ad = (*t.descs)[static_cast<size_t>(d->desc)];
        const int64_t n = std::min(d->len, s->len);
        if (ad.elemLayout >= 0) {
          for (int64_t k = 0; k < n; ++k)
            ValCopy(t, d->data + k * ad.elemSlots, s->data + k * ad.elemSlots, ad.elemLayout);
        }
        break;
      }
    }
  }
}

void ValCopyInit(const TTypeTables& t, TValue* dst, const TValue* src, int32_t layout) {
  const TLayout& l = (*t.layouts)[static_cast<size_t>(layout)];
  std::memcpy(static_cast<void*>(dst), src, l.kinds.size() * sizeof(TValue));
  if (!l.managed) return;
  for (size_t i = 0; i < l.kinds.size(); ++i) {
    switch (l.kinds[i]) {
      case TSlotKind::Plain:
        break;
      case TSlotKind::Str:
        StrAddRef(dst[i].s);
        break;
      case TSlotKind::DynArr:
        ArrAddRef(dst[i].a);
        break;
      case TSlotKind::StatArr: {
        const int32_t desc = l.arrDesc[i];
        const TArrDesc& ad = (*t.descs)[static_cast<size_t>(desc)];
        TArrRep* n = ArrAlloc(t, desc, ad.count);
        dst[i].a = n;
        const TArrRep* s = src[i].a;
        if (s && ad.elemLayout >= 0) {
          const int64_t cnt = std::min(n->len, s->len);
          for (int64_t k = 0; k < cnt; ++k)
            ValCopy(t, n->data + k * ad.elemSlots, s->data + k * ad.elemSlots, ad.elemLayout);
        }
        break;
      }
    }
  }
}

}  // namespace script::engine
