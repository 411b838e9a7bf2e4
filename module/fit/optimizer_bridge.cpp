#include "module/fit/optimizer_bridge.hpp"

#include <cstring>

#include "module/frame/host.hpp"

namespace mvtsa {
namespace {

using nlbrg::get;
using nlbrg::put;

unsigned char* word_record(void* context, std::size_t offset) {
  return get<unsigned char*>(context, offset);
}

int could_not_load(const char* name) {
  print_note(kNoteCouldNotLoad, name);
  return kBridgeNotRun;
}

// Copies a name of up to 32 characters into a zeroed 32-byte field and
// stores its length in the 32-bit word that follows the field.
void put_name(unsigned char* rec, std::size_t at, std::size_t length_at, const char* name) {
  std::memset(rec + at, 0, nlbrg::kCallerNameRoom);
  std::size_t len = std::strlen(name);
  if (len > nlbrg::kCallerNameRoom) len = nlbrg::kCallerNameRoom;
  std::memcpy(rec + at, name, len);
  put<std::int32_t>(rec, length_at, static_cast<std::int32_t>(len));
}

// Fills the objective callback, the option record and the caller record.
void fill_records(void* context, const BridgeCall& call) {
  using namespace nlbrg;
  unsigned char* objective = word_record(context, kCtxObjective);
  unsigned char* options = word_record(context, kCtxOptions);
  unsigned char* caller = word_record(context, kCtxCaller);
  put<ObjectiveCallback>(objective, kObjCallback, call.objective);

  const bool farma = call.caller == FitCaller::kFarmafit;
  const double* lower = get<double*>(context, kCtxLower);
  const double* upper = get<double*>(context, kCtxUpper);
  const bool bounds = farma && lower && upper;
  put<std::uint8_t>(options, kOptBounds, bounds ? 1 : 0);
  for (std::size_t at : kOptUnreadWordsSetToFour) put<std::int32_t>(options, at, 4);
  for (std::size_t at : kOptUnreadBytesSetToFour) put<std::uint8_t>(options, at, 4);
  put<std::int32_t>(options, kOptDigits, kDefaultDigits);
  put<std::int32_t>(options, kOptCount, get<std::int32_t>(context, kCtxCount));
  for (std::size_t at : kOptUnreadWordsSetToOne) put<std::int32_t>(options, at, 1);
  put<double>(options, kOptIterFactor, call.iteration_factor);
  put<void*>(options, kOptParams, get<void*>(context, kCtxParams));
  put<const double*>(options, kOptLower, bounds ? lower : nullptr);
  put<const double*>(options, kOptUpper, bounds ? upper : nullptr);
  put<void*>(options, kOptContext, context);
  if (farma) put<void*>(options, kOptNames, get<void*>(context, kCtxNames));
  put<const double*>(options, kOptTypical, call.typical);
  put<std::int32_t>(options, kOptGradientOffered, call.gradient ? 1 : 0);

  put<void*>(caller, kCallerHostWord, get<void*>(context, kCtxHostWord));
  put_name(caller, kCallerLanguage, kCallerLanguageLength, farma ? "QMX" : "Qmx");
  put_name(caller, kCallerName, kCallerNameLength, farma ? "FARMAFIT" : "farmafit");
  if (farma && call.reset_caller_state) {
    std::memset(caller + kCallerUnreadStateFrom, 0, kCallerUnreadStateBytes);
    for (std::size_t at : kCallerUnreadWordsSetToOne) put<std::int32_t>(caller, at, 1);
  }
}

}  // namespace

FitReport& fit_report() {
  thread_local FitReport report;
  return report;
}

FitSettings& fit_settings() {
  thread_local FitSettings settings;
  return settings;
}

void* host_context_word() {
  const unsigned char* block = static_cast<const unsigned char*>(context_block());
  return block ? get<void*>(block, MCN_CONTEXT_HOST_WORD) : nullptr;
}

int optimizer_bridge(void* context, const BridgeCall& call) {
  using namespace nlbrg;
  // One load per context: a second one is refused with a note.
  if (get<void*>(context, kCtxHandle)) {
    print_note(kNoteAlreadyLoaded, nullptr);
    return could_not_load("");
  }
  // Load the module into context word 48.
  void** handle = reinterpret_cast<void**>(static_cast<unsigned char*>(context) + kCtxHandle);
  if (module_load(handle, call.module) != 0 || !*handle) return could_not_load(call.module);
  // Its entry, called with the context and a zeroed word.  A module
  // without an entry cannot have hung its records on the context, so it
  // counts as not loaded.
  void* entry = nullptr;
  if (entry_lookup(*handle, &entry) != 0 || !entry) return could_not_load(call.module);
  std::int64_t word = kInitializerWord;
  if (reinterpret_cast<Initializer>(entry)(context, &word) != 0)
    return could_not_load(call.module);
  auto* ops = get<void* const*>(context, kCtxOperations);
  const Operation cleanup = ops ? reinterpret_cast<Operation>(ops[kOpCleanup]) : nullptr;
  if (!ops || !word_record(context, kCtxObjective) || !word_record(context, kCtxOptions) ||
      !word_record(context, kCtxCaller)) {
    if (cleanup) cleanup(context);
    return could_not_load(call.module);
  }
  // The records the optimizer reads.
  fill_records(context, call);
  // Prepare, run, release the records.
  const auto prepare = reinterpret_cast<Operation>(ops[kOpPrepare]);
  const auto run = reinterpret_cast<Operation>(ops[kOpRun]);
  int report = kBridgeNotRun;
  if (prepare && run && prepare(context) == 0) {
    report = run(context);
    const unsigned char* options = word_record(context, kCtxOptions);
    BridgeStats st;
    st.iterations = get<std::int32_t>(options, kOptOutIterations);
    st.evaluations = get<std::int32_t>(options, kOptOutEvaluations);
    st.failed = get<std::int32_t>(options, kOptOutFailed);
    st.gradient_evaluations = get<std::int32_t>(options, kOptOutGradient);
    st.analytic = get<std::int32_t>(options, kOptOutAnalytic);
    st.code = get<std::int32_t>(options, kOptOutCode);
    st.value = get<double>(options, kOptOutValue);
    if (call.stats) *call.stats = st;
    FitReport& r = fit_report();
    if (r.runs < 2) r.run_evaluations[r.runs] = st.evaluations;
    ++r.runs;
    r.evaluations += st.evaluations;
    r.gradient_evaluations += st.gradient_evaluations;
    r.analytic += st.analytic;
    r.iterations += st.iterations;
  }
  if (cleanup) cleanup(context);
  return report;
}

void* bridge_context(void* args) {
  using namespace nlbrg;
  unsigned char* links = get<unsigned char*>(args, kArgLink);
  unsigned char* state = get<unsigned char*>(links, kLinkState);
  return get<void*>(state, kStateContext);
}

void bridge_report_value(void* args, double value) {
  using namespace nlbrg;
  unsigned char* links = get<unsigned char*>(args, kArgLink);
  unsigned char* state = get<unsigned char*>(links, kLinkState);
  unsigned char* values = get<unsigned char*>(links, kLinkValues);
  *get<double*>(values, kValuesSlot) = value;
  put<double>(state, kStateValue, value);
}

void bridge_report_failure(void* args, double marker) {
  using namespace nlbrg;
  unsigned char* links = get<unsigned char*>(args, kArgLink);
  unsigned char* state = get<unsigned char*>(links, kLinkState);
  put<double>(state, kStateValue, marker);
}

double* bridge_gradient_wanted(void* args) {
  const unsigned char* options = word_record(bridge_context(args), nlbrg::kCtxOptions);
  return options ? get<double*>(options, nlbrg::kOptGradientSlot) : nullptr;
}

void bridge_report_gradient(void* args) {
  unsigned char* options = word_record(bridge_context(args), nlbrg::kCtxOptions);
  if (options) put<std::int32_t>(options, nlbrg::kOptGradientGiven, 1);
}

}  // namespace mvtsa
