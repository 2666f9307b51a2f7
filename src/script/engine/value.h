// Run-time values of the virtual machine: 8-byte slots, reference-counted strings and
// arrays, and the layouts that say which slots of a compound value hold references.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace script::engine {

struct TStrRep;
struct TArrRep;

union TValue {
  int64_t i;
  double f;
  TStrRep* s;
  TArrRep* a;
  TValue* p;
};
static_assert(sizeof(TValue) == 8);

// Slot kinds inside a layout.
enum class TSlotKind : uint8_t { Plain = 0, Str = 1, DynArr = 2, StatArr = 3 };

// The layout of a value of some type: one kind per slot; for StatArr slots, the index of
// the array descriptor that says how to create the array.
struct TLayout {
  std::vector<TSlotKind> kinds;
  std::vector<int32_t> arrDesc;  // per slot: array descriptor index for StatArr, else -1
  bool managed = false;          // any slot not Plain
};

// An array type as the machine sees it.
struct TArrDesc {
  int32_t low = 0;
  int32_t count = 0;        // static arrays: the element count
  int32_t elemSlots = 1;    // slots per element
  int32_t elemLayout = -1;  // layout index of the element
  bool isStatic = false;
};

// Strings: length-counted, reference-counted, copy on write. nullptr is the empty string.
// refs < 0 marks an immortal string (constants of the loaded program).
struct TStrRep {
  int32_t refs;
  int32_t len;
  int32_t cap;
  char data[1];
};

// Arrays (static and dynamic): a header and the element slots.
struct TArrRep {
  int32_t refs;
  int32_t len;
  int32_t low;
  int32_t elemSlots;
  int32_t desc;  // array descriptor index
  int32_t pad;
  TValue data[1];
};

constexpr int32_t kMaxStrLen = 0x3FFFFFF0;
constexpr int64_t kMaxArrSlots = 1 << 27;  // 1 GiB of slots

// Thrown (inside the VM only) when an allocation exceeds the limits above.
struct TOutOfMemory {};

TStrRep* StrAlloc(int32_t len);  // refs 1, len set, content uninitialised, NUL-terminated
TStrRep* StrFrom(std::string_view s);
inline std::string_view StrView(const TStrRep* s) {
  return s ? std::string_view(s->data, static_cast<size_t>(s->len)) : std::string_view();
}
inline int32_t StrLen(const TStrRep* s) { return s ? s->len : 0; }
inline void StrAddRef(TStrRep* s) {
  if (s && s->refs > 0) ++s->refs;
}
void StrFree(TStrRep* s);
inline void StrRelease(TStrRep* s) {
  if (s && s->refs > 0 && --s->refs == 0) StrFree(s);
}
// Makes *slot uniquely owned (copying when shared or immortal); keeps at least minCap.
void StrMakeUnique(TValue* slot, int32_t minCap);
// Appends to the string in *slot in place when it is unique (amortised growth).
void StrAppend(TValue* slot, std::string_view tail);
void StrAppendChar(TValue* slot, char c);
// a + b as a new string (refs 1); nullptr when both are empty.
TStrRep* StrConcat(std::string_view a, std::string_view b);
int StrCompare(const TStrRep* a, const TStrRep* b);
void StrSetLength(TValue* slot, int64_t len);

// Arrays. `descs`/`layouts` are the loaded program's tables.
struct TTypeTables {
  const std::vector<TLayout>* layouts = nullptr;
  const std::vector<TArrDesc>* descs = nullptr;
};
TArrRep* ArrAlloc(const TTypeTables& t, int32_t desc, int64_t len);  // zeroed and initialised
void ArrFree(const TTypeTables& t, TArrRep* a);
inline void ArrAddRef(TArrRep* a) {
  if (a) ++a->refs;
}
inline void ArrRelease(const TTypeTables& t, TArrRep* a) {
  if (a && --a->refs == 0) ArrFree(t, a);
}
inline int32_t ArrLen(const TArrRep* a) { return a ? a->len : 0; }
// SetLength on a dynamic array slot: unique copy when shared, new elements zeroed.
void ArrSetLength(const TTypeTables& t, TValue* slot, int32_t desc, int64_t len);

// Values of a layout.
void ValInit(const TTypeTables& t, TValue* v, int32_t layout);     // zero + create static arrays
void ValRelease(const TTypeTables& t, TValue* v, int32_t layout);  // release references
// Copies src over dst (dst holds a valid value of the same layout, released slot by slot;
// static arrays are copied element by element into dst's own array).
void ValCopy(const TTypeTables& t, TValue* dst, const TValue* src, int32_t layout);
// Copies src into uninitialised dst (references added, static arrays cloned).
void ValCopyInit(const TTypeTables& t, TValue* dst, const TValue* src, int32_t layout);

}  // namespace script::engine
