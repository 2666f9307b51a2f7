// The byte code: instructions, the loaded program image, its serialisation and checks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/engine/engine.h"
#include "script/engine/value.h"

namespace script::engine {

// Operand kinds: N unused, S frame slot, K unsigned 16-bit immediate, T (b and c together)
// 32-bit immediate; for d: I immediate, J jump target, F routine, H import, C integer
// constant, Q string constant, G global slot, L layout, A array descriptor, S frame slot.
#define VNX_OPS(X)       \
  X(NOP, N, N, N, N)     \
  X(MOV, S, S, N, N)     \
  X(LDI, S, N, N, I)     \
  X(LDK, S, N, N, C)     \
  X(LDG, S, N, N, G)     \
  X(STG, S, N, N, G)     \
  X(LDR, S, S, K, N)     \
  X(STR, S, S, K, N)     \
  X(ADDRL, S, N, N, S)   \
  X(ADDRG, S, N, N, G)   \
  X(ADDRR, S, S, K, N)   \
  X(MOVS, S, S, N, N)    \
  X(MOVSM, S, S, N, N)   \
  X(MOVSI, S, S, N, N)   \
  X(CPYSI, S, S, N, N)   \
  X(LDKS, S, N, N, Q)    \
  X(LDGS, S, N, N, G)    \
  X(STGS, S, N, N, G)    \
  X(LDRS, S, S, K, N)    \
  X(STRS, S, S, K, N)    \
  X(CAT, S, S, S, N)     \
  X(CATCS, S, S, S, N)   \
  X(CATSC, S, S, S, N)   \
  X(CATCC, S, S, S, N)   \
  X(CHRS, S, S, N, N)    \
  X(APP, S, S, N, N)     \
  X(APPC, S, S, N, N)    \
  X(APPR, S, S, K, N)    \
  X(APPRC, S, S, K, N)   \
  X(SLEN, S, S, N, N)    \
  X(SEQ, S, S, S, N)     \
  X(SNE, S, S, S, N)     \
  X(SLT, S, S, S, N)     \
  X(SLE, S, S, S, N)     \
  X(LDCH, S, S, S, N)    \
  X(STCH, S, S, S, N)    \
  X(SETLS, S, S, N, N)   \
  X(MOVA, S, S, N, N)    \
  X(MOVAM, S, S, N, N)   \
  X(MOVAI, S, S, N, N)   \
  X(CPYAI, S, S, N, N)   \
  X(LDGA, S, N, N, G)    \
  X(STGA, S, N, N, G)    \
  X(LDRA, S, S, K, N)    \
  X(STRA, S, S, K, N)    \
  X(ALEN, S, S, N, N)    \
  X(LDE, S, S, S, N)     \
  X(LDES, S, S, S, N)    \
  X(LDEA, S, S, S, N)    \
  X(STE, S, S, S, N)     \
  X(STES, S, S, S, N)    \
  X(STEA, S, S, S, N)    \
  X(ADDRE, S, S, S, N)   \
  X(SETLA, S, S, N, A)   \
  X(CPYV, S, S, N, L)    \
  X(CPYVI, S, S, N, L)   \
  X(RELV, S, N, N, L)    \
  X(ADD, S, S, S, N)     \
  X(SUB, S, S, S, N)     \
  X(MUL, S, S, S, N)     \
  X(DIV, S, S, S, N)     \
  X(MOD, S, S, S, N)     \
  X(AND, S, S, S, N)     \
  X(OR, S, S, S, N)      \
  X(XOR, S, S, S, N)     \
  X(SHL, S, S, S, N)     \
  X(SHR, S, S, S, N)     \
  X(SHL32, S, S, S, N)   \
  X(SHR32, S, S, S, N)   \
  X(ADD32, S, S, S, N)   \
  X(SUB32, S, S, S, N)   \
  X(MUL32, S, S, S, N)   \
  X(ADDK, S, S, K, N)    \
  X(SUBK, S, S, K, N)    \
  X(ADDK32, S, S, K, N)  \
  X(SUBK32, S, S, K, N)  \
  X(MULK, S, S, K, N)    \
  X(DIVK, S, S, K, N)    \
  X(MODK, S, S, K, N)    \
  X(NEG, S, S, N, N)     \
  X(NOT, S, S, N, N)     \
  X(BNOT, S, S, N, N)    \
  X(EQ, S, S, S, N)      \
  X(NE, S, S, S, N)      \
  X(LT, S, S, S, N)      \
  X(LE, S, S, S, N)      \
  X(TI8, S, S, N, N)     \
  X(TU8, S, S, N, N)     \
  X(TI16, S, S, N, N)    \
  X(TU16, S, S, N, N)    \
  X(TI32, S, S, N, N)    \
  X(TU32, S, S, N, N)    \
  X(ABS, S, S, N, N)     \
  X(ABS32, S, S, N, N)   \
  X(FADD, S, S, S, N)    \
  X(FSUB, S, S, S, N)    \
  X(FMUL, S, S, S, N)    \
  X(FDIV, S, S, S, N)    \
  X(FNEG, S, S, N, N)    \
  X(FEQ, S, S, S, N)     \
  X(FNE, S, S, S, N)     \
  X(FLT, S, S, S, N)     \
  X(FLE, S, S, S, N)     \
  X(I2F, S, S, N, N)     \
  X(F2SGL, S, S, N, N)   \
  X(FROUND, S, S, N, N)  \
  X(FTRUNC, S, S, N, N)  \
  X(FMATH, S, S, K, N)   \
  X(JMP, N, N, N, J)     \
  X(LOOP, N, N, N, J)    \
  X(JT, S, N, N, J)      \
  X(JF, S, N, N, J)      \
  X(JEQ, S, S, N, J)     \
  X(JNE, S, S, N, J)     \
  X(JLT, S, S, N, J)     \
  X(JLE, S, S, N, J)     \
  X(JEQK, S, T, T, J)    \
  X(JNEK, S, T, T, J)    \
  X(JLTK, S, T, T, J)    \
  X(JLEK, S, T, T, J)    \
  X(JGTK, S, T, T, J)    \
  X(JGEK, S, T, T, J)    \
  X(JFEQ, S, S, N, J)    \
  X(JFNE, S, S, N, J)    \
  X(JFLT, S, S, N, J)    \
  X(JFLE, S, S, N, J)    \
  X(FORI, S, S, N, J)    \
  X(FORD, S, S, N, J)    \
  X(CALL, S, N, N, F)    \
  X(CALLH, S, N, N, H)   \
  X(RET, N, N, N, N)     \
  X(I2S, S, S, N, N)     \
  X(F2S, S, S, N, N)     \
  X(S2I, S, S, N, N)     \
  X(S2ID, S, S, S, N)    \
  X(FMT, S, S, S, C)     \
  X(COPYS, S, S, S, N)   \
  X(POS, S, S, S, N)     \
  X(DELS, S, S, S, N)    \
  X(INSS, S, S, S, N)    \
  X(UPPER, S, S, N, N)   \
  X(LOWER, S, S, N, N)   \
  X(TRIM, S, S, N, N)    \
  X(SLEEP, S, N, N, N)   \
  X(RAISE, S, N, N, I)   \
  X(RERAISE, N, N, N, N) \
  X(TRY, N, N, N, J)     \
  X(TRYF, N, N, N, J)    \
  X(POPH, N, N, N, N)    \
  X(POPHF, N, N, N, N)   \
  X(ENDEXC, N, N, N, N)  \
  X(ENDFIN, N, N, N, N)  \
  X(POPFIN, N, N, N, N)  \
  X(CALLFIN, N, N, N, J) \
  X(EXCIDX, S, N, N, N)  \
  X(EXCMSG, S, S, N, N)  \
  X(EXCCLS, S, S, N, N)  \
  X(EXCIS, S, S, N, I)

enum TOp : uint16_t {
#define VNX_ENUM(name, a, b, c, d) OP_##name,
  VNX_OPS(VNX_ENUM)
#undef VNX_ENUM
      OP_COUNT
};

enum TOperandKind : uint8_t {
  OK_N,
  OK_S,
  OK_K,
  OK_T,
  OK_I,
  OK_J,
  OK_F,
  OK_H,
  OK_C,
  OK_Q,
  OK_G,
  OK_L,
  OK_A
};

struct TOpInfo {
  const char* name;
  TOperandKind a, b, c, d;
};
extern const TOpInfo kOpInfo[OP_COUNT];

struct TInstr {
  uint16_t op;
  uint16_t a;
  uint16_t b;
  uint16_t c;
  int32_t d;
};
static_assert(sizeof(TInstr) == 12);

// FMATH functions (operand c).
enum TMathFn : uint16_t {
  MF_SQRT,
  MF_SIN,
  MF_COS,
  MF_EXP,
  MF_LN,
  MF_ARCTAN,
  MF_INT,
  MF_FRAC,
  MF_COUNT
};

// Exception classes as the script names them (EXCIS operand d).
enum TExcClass : int32_t { EC_EXCEPTION = 0 };  // otherwise a TErrorCode

// Host parameter types.
enum THostType : uint8_t {
  HT_VOID,
  HT_I8,
  HT_U8,
  HT_I16,
  HT_U16,
  HT_I32,
  HT_U32,
  HT_I64,
  HT_BOOL,
  HT_CHAR,
  HT_STR,
  HT_F32,
  HT_F64,
  HT_ARR  // HT_ARR: element type in elem
};

struct THostParam {
  uint8_t type = HT_I32;
  uint8_t elem = HT_VOID;  // element type of HT_ARR
  bool byRef = false;
};

struct TImportInfo {
  std::string name;  // upper case
  std::string decl;  // declaration text as given
  std::vector<THostParam> params;
  uint8_t result = HT_VOID;
  TCallShape Shape() const;
};

struct TFuncInfo {
  std::string name;
  uint32_t entry = 0;  // first instruction
  uint32_t end = 0;    // one past the last
  uint32_t frameSize = 0;
  uint32_t paramStart = 0;  // first parameter slot (= result slots)
  uint32_t paramEnd = 0;    // first local slot
  uint32_t managedEnd = 0;  // slots [0, managedEnd) follow `layout`; the call area is above
  int32_t layout = -1;      // layout of slots [0, managedEnd)
  uint32_t srcPos = 0;
};

struct TModule {
  std::vector<TInstr> code;
  std::vector<uint32_t> pos;     // source offset per instruction
  std::vector<TFuncInfo> funcs;  // 0 = main program
  std::vector<TImportInfo> imports;
  std::vector<int64_t> kint;
  std::vector<std::string> kstr;
  std::vector<TLayout> layouts;
  std::vector<TArrDesc> descs;
  std::vector<uint32_t> lineStarts;  // offsets of the starts of the source lines
  uint32_t globals = 0;              // global slots (the first slots of the main frame)

  std::string Serialize() const;
  // Reads and checks an image; false for anything malformed.
  bool Deserialize(std::string_view data, TLoadError& err);
  // Structural checks of every instruction against its routine's frame and the tables.
  bool Validate() const;
  void LineCol(uint32_t offset, int& line, int& col) const;
  std::string Disassemble() const;
};

}  // namespace script::engine

namespace script::engine {

// Exception classes a script can name in `on E: X do` (EXCIS operand d), by upper-case
// name; -1 when unknown.
int ExcClassByName(std::string_view upperName);
bool ExcClassMatches(int cls, TErrorCode code);
const char* ExcClassName(TErrorCode code);

}  // namespace script::engine
