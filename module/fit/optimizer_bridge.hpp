// The optimizer bridge shared by VARMAFIT and FARMAFIT: loads the optimizer
// module "orvnlbrg" through the host, lets its initializer hang its records on
// the bridge context, fills the option and caller records, prepares, runs and
// cleans up.  The objective callback of a fit finds the context and reports
// its value through the helpers below.
//
// The context is a zero-filled block of nlbrg::kContextBytes (544) bytes from
// host_alloc, one per fitting call; before optimizer_bridge the fit sets
// word 184 (n), 192 (parameter vector), 248/256 (its data and model records),
// 264 (host context word 816) and its own extra words (200/208 bounds,
// 216/224 the tail array, 232 parameter names).
#pragma once

#include <cstdint>

#include "abi/nlbrg_records.hpp"

namespace mvtsa {

inline constexpr char kOptimizerModule[] = "orvnlbrg";
inline constexpr char kNoteAlreadyLoaded[] = "Server is already loaded: you only load once.";
inline constexpr char kNoteCouldNotLoad[] = "could not load %s bridge: Bye.";
// What the bridge reports when the optimizer could not be loaded,
// initialized or prepared: the parameter vector still holds the start.
inline constexpr int kBridgeNotRun = 1;

enum class FitCaller { kVarmafit, kFarmafit };

// What the optimizer reports about its run (copied from its option record
// before the records are released).
struct BridgeStats {
  int iterations = 0;
  int evaluations = 0;
  int failed = 0;
  int gradient_evaluations = 0;  // of evaluations, those spent on differences
  int analytic = 0;              // of evaluations, those that gave a gradient
  int code = 0;
  double value = 0.0;
};

// What the fits of this thread did in their last call, summed over their
// optimizer runs: for tests and benchmarks that call the module in process.
// A fit clears it when it starts; each optimizer run adds to it.
struct FitReport {
  int runs = 0;
  int evaluations = 0;           // objective evaluations asked by the optimizer
  int gradient_evaluations = 0;  // of those, spent on finite differences
  int analytic = 0;              // of those, evaluations that gave a gradient
  int iterations = 0;
  int run_evaluations[2] = {0, 0};  // of the first two runs
  int extra_evaluations = 0;     // evaluations the fit made itself (starts)
  bool second_start_won = false; // FARMAFIT: the fit from the second start was kept
  bool start_moved = false;      // FARMAFIT: a start was moved inside the region
};
FitReport& fit_report();

// How the fits of this thread run, for tests and benchmarks that compare
// the two ways: with analytic_gradients false every fit hands the optimizer
// values only, as before the gradients existed.
struct FitSettings {
  bool analytic_gradients = true;
};
FitSettings& fit_settings();

struct BridgeCall {
  FitCaller caller = FitCaller::kVarmafit;
  nlbrg::ObjectiveCallback objective = nullptr;
  // FARMAFIT with opt[2] = 0: clear the caller record's state bytes and set
  // its words 4 and 44 to 1 before the run.
  bool reset_caller_state = false;
  const char* module = kOptimizerModule;
  // Iterations per parameter handed to the optimizer (option byte 208).
  double iteration_factor = nlbrg::kDefaultIterFactor;
  // Typical sizes of the n parameters (option byte 632), or null.
  const double* typical = nullptr;
  // The objective can give its gradient (option byte 640): it asks
  // bridge_gradient_wanted on each call.
  bool gradient = false;
  // Filled after a run when not null.
  BridgeStats* stats = nullptr;
};

// Loads the optimizer, fills its records and runs it on a prepared context.  Returns 1 (after
// the load note where one is due) when the optimizer could not be loaded,
// initialized or prepared, else the optimizer's result code: negative for a
// failure, zero or positive when the parameter vector holds the solution.
// The optimizer's records are always released before the return.
int optimizer_bridge(void* context, const BridgeCall& call);

// The word at byte 816 of the host's context record.
void* host_context_word();

// ---- For the objective callbacks: `args` is the optimizer's argument record.
// The bridge context: args -> 72 -> 104 -> 80.
void* bridge_context(void* args);
// A successful evaluation: the value goes to both value slots.
void bridge_report_value(void* args, double value);
// A failed evaluation: the marker goes to the slot at args -> 72 -> 104 + 56.
void bridge_report_failure(void* args, double marker);
// Where the optimizer wants the gradient of this evaluation (n doubles, the
// derivatives of the reported value), or null when it wants the value only.
double* bridge_gradient_wanted(void* args);
// The gradient has been written where bridge_gradient_wanted said.
void bridge_report_gradient(void* args);

// Context words as typed values.
template <class T>
inline T context_word(const void* context, std::size_t offset) {
  return nlbrg::get<T>(context, offset);
}
template <class T>
inline void set_context_word(void* context, std::size_t offset, T value) {
  nlbrg::put<T>(context, offset, value);
}

}  // namespace mvtsa
