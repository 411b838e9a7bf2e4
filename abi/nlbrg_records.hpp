// Byte layout of the records shared between a fitting function (through its
// optimizer bridge) and the optimizer module orvnlbrg.  Both sides address
// the records by byte offset, so this header holds nothing but offsets,
// sizes, fixed values and two small accessors.
//
// The records:
//   bridge context   544 bytes, owned by the fitting function (zero-filled);
//   objective record callback word at byte 8            (optimizer allocates);
//   caller record    host-language and caller names     (optimizer allocates);
//   option record    options, parameter vector, bounds  (optimizer allocates);
//   operation table  cleanup, run, prepare              (optimizer, static);
//   argument record  what the objective callback receives (A); it links to
//                    the link record (A -> 72), which links to the state
//                    record (-> 104) and the value record (-> 144).  The
//                    context is at A -> 72 -> 104 -> 80, the value slots at
//                    *(A -> 72 -> 144 -> 416) and A -> 72 -> 104 + 56.
//
// Fields named Unread have offsets and values fixed by the layout but no use
// in this project: orvnlbrg never reads them.  The bridge fills them all the
// same, so that any optimizer module built to this layout finds them set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nlbrg {

// ---- Bridge context
inline constexpr std::size_t kContextBytes = 544;
inline constexpr std::size_t kCtxObjective = 0;    // objective record
inline constexpr std::size_t kCtxCaller = 16;      // caller record
inline constexpr std::size_t kCtxOptions = 32;     // option record
inline constexpr std::size_t kCtxHandle = 48;      // loaded module handle
inline constexpr std::size_t kCtxOperations = 96;  // operation table
inline constexpr std::size_t kCtxCount = 184;      // n, 32-bit
inline constexpr std::size_t kCtxParams = 192;     // n doubles
inline constexpr std::size_t kCtxLower = 200;      // n doubles or null
inline constexpr std::size_t kCtxUpper = 208;      // n doubles or null
inline constexpr std::size_t kCtxUnreadTail = 216;      // n + 1 doubles (VARMAFIT)
inline constexpr std::size_t kCtxUnreadTailLast = 224;  // its last element
inline constexpr std::size_t kCtxNames = 232;      // parameter name records
inline constexpr std::size_t kCtxData = 248;       // the fit's data record
inline constexpr std::size_t kCtxModel = 256;      // the fit's model record
inline constexpr std::size_t kCtxHostWord = 264;   // host context word 816

// ---- Objective record
inline constexpr std::size_t kObjectiveBytes = 16;
inline constexpr std::size_t kObjCallback = 8;

// ---- Operation table: pointer-sized words, each int(void* context)
inline constexpr int kOpCleanup = 0;
inline constexpr int kOpRun = 1;
inline constexpr int kOpPrepare = 4;
inline constexpr int kOperationWords = 5;
using Operation = int (*)(void* context);
// The objective callback: 0 with the value stored, 1 for a failed evaluation.
using ObjectiveCallback = int (*)(void* args);
// The module's entry, found by the host's entry lookup.  Its second argument
// points at a word that holds kInitializerWord; orvnlbrg does not read it.
using Initializer = int (*)(void* context, void* word);
inline constexpr std::int64_t kInitializerWord = 0;

// ---- Caller record
inline constexpr std::size_t kCallerBytes = 768;
// 32-bit words set to 1 when FARMAFIT resets the caller state.
inline constexpr std::size_t kCallerUnreadWordsSetToOne[] = {4, 44};
inline constexpr std::size_t kCallerHostWord = 192;
inline constexpr std::size_t kCallerUnreadStateFrom = 336;  // bytes 336..687
inline constexpr std::size_t kCallerUnreadStateBytes = 352;
inline constexpr std::size_t kCallerLanguage = 696;   // 32 characters
inline constexpr std::size_t kCallerLanguageLength = 728;
inline constexpr std::size_t kCallerName = 732;       // 32 characters
inline constexpr std::size_t kCallerNameLength = 764;
inline constexpr std::size_t kCallerNameRoom = 32;

// ---- Option record
inline constexpr std::size_t kOptionBytes = 768;
inline constexpr std::size_t kOptBounds = 19;        // 8-bit flag: bounds present
inline constexpr std::size_t kOptDigits = 88;        // 32-bit tolerance digits, 10
inline constexpr std::size_t kOptCount = 120;        // 32-bit n
// Fields set to fixed values by the initializer and again by the bridge.
inline constexpr std::size_t kOptUnreadWordsSetToFour[] = {28, 32};  // 32-bit
inline constexpr std::size_t kOptUnreadBytesSetToFour[] = {48, 49};  // 8-bit
inline constexpr std::size_t kOptUnreadWordsSetToOne[] = {164, 168}; // 32-bit
inline constexpr std::size_t kOptIterFactor = 208;   // double, 50.0
inline constexpr std::size_t kOptParams = 480;       // parameter vector
inline constexpr std::size_t kOptLower = 536;
inline constexpr std::size_t kOptUpper = 544;
inline constexpr std::size_t kOptContext = 560;
inline constexpr std::size_t kOptNames = 744;
// What the optimizer reports back after a run (its own fields).
inline constexpr std::size_t kOptOutIterations = 600;   // 32-bit
inline constexpr std::size_t kOptOutEvaluations = 604;  // 32-bit
inline constexpr std::size_t kOptOutFailed = 608;       // 32-bit failed evaluations
inline constexpr std::size_t kOptOutCode = 612;         // 32-bit result code
inline constexpr std::size_t kOptOutValue = 616;        // double, objective at the end
inline constexpr std::size_t kOptOutGradient = 624;     // 32-bit evaluations spent on differences
// Typical sizes of the parameters (n doubles, each > 0), or null for the
// optimizer's own choice; set by the fitting function (the module's own field).
inline constexpr std::size_t kOptTypical = 632;
// Gradients (the module's own fields).  The bridge sets byte 640 to 1 when
// the objective can return the gradient of its value.  Before each call the
// optimizer clears byte 656 and sets word 648 to an array of n doubles where
// it wants the gradient of that evaluation, or to null where it wants the
// value only; an objective that writes the gradient there sets byte 656 to 1.
// An objective that gives no gradient (byte 656 left at 0, or an entry that
// is not finite) is differenced as one that gives values only.
inline constexpr std::size_t kOptGradientOffered = 640;  // 32-bit flag, by the bridge
inline constexpr std::size_t kOptOutAnalytic = 644;      // 32-bit evaluations that gave a gradient
inline constexpr std::size_t kOptGradientSlot = 648;     // double*, by the optimizer per call
inline constexpr std::size_t kOptGradientGiven = 656;    // 32-bit flag, by the objective

// Values the bridge sets.
inline constexpr std::int32_t kDefaultDigits = 10;
inline constexpr double kDefaultIterFactor = 50.0;

// ---- Argument record of the objective callback and the records behind it
inline constexpr std::size_t kArgLink = 72;         // A -> link record
inline constexpr std::size_t kLinkState = 104;      // link -> state record
inline constexpr std::size_t kLinkValues = 144;     // link -> value record
inline constexpr std::size_t kStateContext = 80;    // state -> bridge context
inline constexpr std::size_t kStateValue = 56;      // double in the state record
inline constexpr std::size_t kValuesSlot = 416;     // value record -> double
inline constexpr std::size_t kArgBytes = 80;
inline constexpr std::size_t kLinkBytes = 152;
inline constexpr std::size_t kStateBytes = 88;
inline constexpr std::size_t kValuesBytes = 424;

// ---- Result codes of the run operation
inline constexpr int kConvergedGradient = 0;   // largest free gradient entry small
inline constexpr int kConvergedFunction = 1;   // relative change of f small, twice
inline constexpr int kNoProgress = 2;          // no descent even from a fresh Hessian
inline constexpr int kIterationLimit = 3;
inline constexpr int kBadSetup = -1;           // records inconsistent or bounds crossed
inline constexpr int kNoMemory = -2;
inline constexpr int kStartFailed = -10000000; // the objective fails at the start

// Every field lies inside its record, and the cleared caller state ends
// before the names.
static_assert(kCtxHostWord + 8 <= kContextBytes && kObjCallback + 8 <= kObjectiveBytes);
static_assert(kCallerNameLength + 4 <= kCallerBytes &&
              kCallerUnreadStateFrom + kCallerUnreadStateBytes <= kCallerLanguage);
static_assert(kOptNames + 8 <= kOptionBytes && kOptTypical + 8 <= kOptionBytes);
static_assert(kOptOutGradient + 4 <= kOptTypical && kOptTypical + 8 <= kOptGradientOffered &&
              kOptGradientGiven + 4 <= kOptNames);
static_assert(kArgLink + 8 <= kArgBytes && kLinkValues + 8 <= kLinkBytes &&
              kStateContext + 8 <= kStateBytes && kStateValue + 8 <= kStateBytes &&
              kValuesSlot + 8 <= kValuesBytes);

// ---- Accessors: records are addressed by byte offset, unaligned-safe.
template <class T>
inline T get(const void* record, std::size_t offset) {
  T v;
  std::memcpy(&v, static_cast<const unsigned char*>(record) + offset, sizeof v);
  return v;
}
template <class T>
inline void put(void* record, std::size_t offset, T v) {
  std::memcpy(static_cast<unsigned char*>(record) + offset, &v, sizeof v);
}

}  // namespace nlbrg
