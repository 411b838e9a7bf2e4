// orvnlbrg: the optimizer module.  The fitting functions load it through the
// host, find its one export mcn_main and call it with their bridge context;
// it allocates its records (objective, caller, option), hangs them and its
// operation table (cleanup, run, prepare) on the context, and its run
// minimises the objective by bounded BFGS (bfgs.hpp), calling the fitting
// function's objective callback with an argument record through which the
// callback finds the context and the value slots (nlbrg_records.hpp).
//
// Option record fields that this method reads (their byte offsets are
// named once, in abi/nlbrg_records.hpp):
//   kOptBounds      (8-bit) bounds present: lower and upper bounds at
//                   kOptLower and kOptUpper;
//   kOptDigits      (32-bit) tolerance digits D (4..15, else kDefaultDigits):
//                   the run stops when the relative projected gradient
//                   (bfgs.hpp) is at most 10^-(D-3), or when the relative
//                   decrease of f is at most 10^-(D+5) on three iterations
//                   running; with given gradients also when the step's
//                   predicted decrease is at most 10^-(D+2) max(|f|, 1);
//   kOptCount       (32-bit) n, the number of parameters;
//   kOptIterFactor  (double) iterations per parameter F (finite, >= 0, else
//                   kDefaultIterFactor): the limit is floor(F * max(n, 2));
//   kOptParams      the parameter vector (start in, trial points, final point
//                   out);
//   kOptContext     the bridge context handed back to the objective;
//   kOptTypical     typical sizes of the parameters (n doubles) or null;
//   kOptGradientOffered (32-bit) 1: the objective can give its gradient
//                   (bfgs.hpp says when it is asked for; kOptGradientSlot and
//                   kOptGradientGiven carry it).
// The Unread option fields (kOptUnread*) and the caller record carry nothing
// that this method uses; the caller record keeps the names the bridge writes.
// After a run the option record holds (the module's own fields) the
// iterations (kOptOutIterations), the evaluations (kOptOutEvaluations), the
// failed evaluations (kOptOutFailed), the result code (kOptOutCode), the
// objective at the returned point (kOptOutValue), the evaluations spent on
// finite differences (kOptOutGradient) and those that gave a gradient
// (kOptOutAnalytic).  The returned point is the best one evaluated; it is not
// evaluated again.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "abi/nlbrg_records.hpp"
#include "optimizer/bfgs.hpp"

namespace nlbrg {
namespace {

constexpr double kMaxRelativeStep = 10.0;

unsigned char* record(void* context, std::size_t word) {
  return get<unsigned char*>(context, word);
}

// The records behind the argument record of one run, and the evaluation
// hook that writes a trial point and calls the objective through them.
struct Evaluator {
  ObjectiveCallback callback = nullptr;
  unsigned char* options = nullptr;
  double* shared_x = nullptr;
  std::int64_t n = 0;
  alignas(8) unsigned char a[kArgBytes] = {};
  alignas(8) unsigned char links[kLinkBytes] = {};
  alignas(8) unsigned char state[kStateBytes] = {};
  alignas(8) unsigned char values[kValuesBytes] = {};
  double slot = 0.0;

  void link(void* context) {
    put<void*>(a, kArgLink, links);
    put<void*>(links, kLinkState, state);
    put<void*>(links, kLinkValues, values);
    put<void*>(state, kStateContext, context);
    put<double*>(values, kValuesSlot, &slot);
  }
};

// One call of the objective at x; g (n doubles) where the gradient is
// wanted, else null.  *given: the objective wrote the gradient.
int call_objective(Evaluator* e, const double* x, double* f, double* g, bool* given) {
  std::memcpy(e->shared_x, x, sizeof(double) * std::size_t(e->n));
  e->slot = std::numeric_limits<double>::quiet_NaN();
  put<double>(e->state, kStateValue, e->slot);
  put<double*>(e->options, kOptGradientSlot, g);
  put<std::int32_t>(e->options, kOptGradientGiven, 0);
  const int failed = e->callback(e->a);
  *given = g && get<std::int32_t>(e->options, kOptGradientGiven) != 0;
  put<double*>(e->options, kOptGradientSlot, nullptr);
  if (failed != 0) return 1;
  *f = e->slot;
  return 0;
}

int evaluate(void* user, const double* x, double* f) {
  bool given = false;
  return call_objective(static_cast<Evaluator*>(user), x, f, nullptr, &given);
}

int evaluate_with_gradient(void* user, const double* x, double* f, double* g, bool* given) {
  return call_objective(static_cast<Evaluator*>(user), x, f, g, given);
}

int op_cleanup(void* context) {
  if (!context) return 0;
  for (std::size_t word : {kCtxObjective, kCtxCaller, kCtxOptions}) {
    std::free(record(context, word));
    put<void*>(context, word, nullptr);
  }
  put<void*>(context, kCtxOperations, nullptr);
  return 0;
}

// Checks that the records a run needs are in place: 0 or 1.
int op_prepare(void* context) {
  if (!context) return 1;
  unsigned char* objective = record(context, kCtxObjective);
  unsigned char* options = record(context, kCtxOptions);
  if (!objective || !options) return 1;
  if (!get<ObjectiveCallback>(objective, kObjCallback)) return 1;
  if (get<std::int32_t>(options, kOptCount) < 1 || !get<double*>(options, kOptParams)) return 1;
  if (get<std::uint8_t>(options, kOptBounds) != 0 &&
      (!get<double*>(options, kOptLower) || !get<double*>(options, kOptUpper)))
    return 1;
  return 0;
}

BfgsOptions options_from(const unsigned char* options, std::int64_t n) {
  BfgsOptions o;
  std::int32_t digits = get<std::int32_t>(options, kOptDigits);
  if (digits < 4 || digits > 15) digits = kDefaultDigits;
  o.ftol = std::pow(10.0, -(digits + 5));
  o.gtol = std::pow(10.0, -(digits - 3));
  o.typical = get<const double*>(options, kOptTypical);
  double factor = get<double>(options, kOptIterFactor);
  if (!std::isfinite(factor) || factor < 0) factor = kDefaultIterFactor;
  const double limit = std::floor(factor * double(n < 2 ? 2 : n));
  o.max_iterations = limit > 1e9 ? std::int64_t(1e9) : std::int64_t(limit);
  o.max_relative_step = kMaxRelativeStep;
  if (get<std::int32_t>(options, kOptGradientOffered) != 0) o.eval_gradient = evaluate_with_gradient;
  o.decrement_tol = std::pow(10.0, -(digits + 2));
  return o;
}

int op_run(void* context) {
  if (op_prepare(context) != 0) return kBadSetup;
  unsigned char* options = record(context, kCtxOptions);
  const std::int64_t n = get<std::int32_t>(options, kOptCount);
  double* x = get<double*>(options, kOptParams);
  const bool bounded = get<std::uint8_t>(options, kOptBounds) != 0;
  const double* lower = bounded ? get<double*>(options, kOptLower) : nullptr;
  const double* upper = bounded ? get<double*>(options, kOptUpper) : nullptr;
  void* handed = get<void*>(options, kOptContext);

  Evaluator e;
  e.callback = get<ObjectiveCallback>(record(context, kCtxObjective), kObjCallback);
  e.options = options;
  e.shared_x = x;
  e.n = n;
  e.link(handed ? handed : context);

  // Own copy of the point (the objective may rewrite the shared vector) and
  // the minimiser's work space.
  const std::uint64_t words = bfgs_work_size(n);
  if (words > (std::uint64_t(1) << 40)) return kNoMemory;
  auto* work = static_cast<double*>(std::calloc(std::size_t(words + std::uint64_t(n)),
                                                sizeof(double)));
  if (!work) return kNoMemory;
  double* point = work + words;
  std::memcpy(point, x, sizeof(double) * std::size_t(n));

  BfgsStats stats;
  const int code = bfgs_minimise(n, point, lower, upper, evaluate, &e, options_from(options, n),
                                 work, &stats);
  const double final_value = stats.f;
  std::memcpy(x, point, sizeof(double) * std::size_t(n));
  std::free(work);

  auto clip = [](std::int64_t v) {
    return std::int32_t(v > 2147483647 ? 2147483647 : v);
  };
  put<std::int32_t>(options, kOptOutIterations, clip(stats.iterations));
  put<std::int32_t>(options, kOptOutEvaluations, clip(stats.evaluations));
  put<std::int32_t>(options, kOptOutFailed, clip(stats.failed));
  put<std::int32_t>(options, kOptOutCode, code);
  put<std::int32_t>(options, kOptOutGradient, clip(stats.gradient_evaluations));
  put<std::int32_t>(options, kOptOutAnalytic, clip(stats.analytic));
  put<double>(options, kOptOutValue, code == kStartFailed || code == kBadSetup
                                         ? std::numeric_limits<double>::quiet_NaN()
                                         : final_value);
  return code;
}

void* const kOperations[kOperationWords] = {
    reinterpret_cast<void*>(&op_cleanup), reinterpret_cast<void*>(&op_run), nullptr, nullptr,
    reinterpret_cast<void*>(&op_prepare)};

}  // namespace
}  // namespace nlbrg

// Fills the context words kCtxObjective (objective record), kCtxCaller
// (caller record), kCtxOptions (option record, with the default option
// values) and kCtxOperations (operation table).
// Returns 0, or 1 when the records cannot be allocated (nothing is kept).
extern "C" __attribute__((visibility("default"))) int mcn_main(void* context, void* /*word*/) {
  using namespace nlbrg;
  if (!context) return 1;
  auto* objective = static_cast<unsigned char*>(std::calloc(1, kObjectiveBytes));
  auto* caller = static_cast<unsigned char*>(std::calloc(1, kCallerBytes));
  auto* options = static_cast<unsigned char*>(std::calloc(1, kOptionBytes));
  if (!objective || !caller || !options) {
    std::free(objective);
    std::free(caller);
    std::free(options);
    return 1;
  }
  for (std::size_t at : kOptUnreadWordsSetToFour) put<std::int32_t>(options, at, 4);
  for (std::size_t at : kOptUnreadBytesSetToFour) put<std::uint8_t>(options, at, 4);
  put<std::int32_t>(options, kOptDigits, kDefaultDigits);
  for (std::size_t at : kOptUnreadWordsSetToOne) put<std::int32_t>(options, at, 1);
  put<double>(options, kOptIterFactor, kDefaultIterFactor);
  put<void*>(context, kCtxObjective, objective);
  put<void*>(context, kCtxCaller, caller);
  put<void*>(context, kCtxOptions, options);
  put<const void*>(context, kCtxOperations, kOperations);
  return 0;
}
