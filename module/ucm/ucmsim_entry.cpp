// UCMSIM(level, slope, cycle1, cycle2, cycle3, season1, init1, season2, init2,
//        season3, init3, irregular variance, n, seed) -> n x 1 series.
//
// Every slot is optional.  Component vectors shorter than their full form
// take for each lacking element the value an absent argument would give:
// initial values 0, variances 0, damping 1, seasonal type dummy; a cycle
// without its period is refused like a period below 2 (status 17).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/frame/room.hpp"
#include "module/frame/rng.hpp"
#include "module/ucm/ucm_sim.hpp"

namespace mvtsa {
namespace {

enum {
  kLevel = 0, kSlope = 1, kCycle1 = 2, kSeason1 = 5, kInit1 = 6,
  kIrregular = 11, kN = 12, kSeed = 13
};

// Element i (0-based) of a component vector, or `lacking` beyond its end.
double element(const MatrixArg& m, std::int64_t i, double lacking) {
  return i < m.size() ? m.data[i] : lacking;
}

bool is_matrix(const MatrixArg& m) { return m.rows >= 2 && m.cols >= 2; }

// Slots 1 and 2: (initial value, variance), a vector of 1 or 2.
int trend_part(const ArgList& in, int slot, double* init, double* sd) {
  if (!in.given(slot)) return kStatusOk;
  MatrixArg m;
  if (int st = in.fetch(slot, &m)) return st;
  if (m.length() >= 3 || is_matrix(m)) return kStatusRange;
  if (has_missing(in.slot(slot))) return kStatusMissing;
  *init = element(m, 0, 0.0);
  const double var = element(m, 1, 0.0);
  if (var < 0) return kStatusRange;
  *sd = std::sqrt(var);
  return kStatusOk;
}

// Slots 3 to 5: (psi, psi*, period, damping, variance).
int cycle_part(const ArgList& in, int slot, UcmCycle* cyc) {
  if (!in.given(slot)) return kStatusOk;
  MatrixArg m;
  if (int st = in.fetch(slot, &m)) return st;
  if (m.length() >= 6 || is_matrix(m)) return kStatusRange;
  if (has_missing(in.slot(slot))) return kStatusMissing;
  if (m.size() < 3) return kStatusMissing;  // no period
  const double period = m.data[2];
  if (!(period >= 2)) return kStatusMissing;
  const double rho = element(m, 3, 1.0);
  if (!(rho >= 0 && rho <= 1)) return kStatusRange;
  const double var = element(m, 4, 0.0);
  if (var < 0) return kStatusRange;
  ucm_cycle_init(cyc, element(m, 0, 0.0), element(m, 1, 0.0), period, rho, std::sqrt(var));
  return kStatusOk;
}

struct SeasonalForm {
  bool trig = false;
  double sd = 0.0;
};

// Slots 6, 8, 10: (type, variance); type cut to a whole number, 1 selects
// the trigonometric form.
int seasonal_form(const ArgList& in, int slot, SeasonalForm* form) {
  if (!in.given(slot)) return kStatusOk;
  MatrixArg m;
  if (int st = in.fetch(slot, &m)) return st;
  if (is_matrix(m)) return kStatusRange;
  if (has_missing(in.slot(slot))) return kStatusMissing;
  form->trig = std::trunc(element(m, 0, 0.0)) == 1.0;
  const double var = element(m, 1, 0.0);
  if (var < 0) return kStatusRange;
  form->sd = std::sqrt(var);
  return kStatusOk;
}

// Slots 7, 9, 11: the initial values e_0 .. e_{q-1}, copied to `copy`.
int seasonal_init(const ArgList& in, int slot, WorkBlock<double>* copy) {
  if (!in.given(slot)) return kStatusOk;
  MatrixArg m;
  if (int st = in.fetch(slot, &m)) return st;
  if (is_matrix(m)) return kStatusRange;
  if (has_missing(in.slot(slot))) return kStatusMissing;
  if (m.size() < 1) return kStatusRange;  // a season needs at least two values
  if (int st = copy->allocate(std::uint64_t(m.size()))) return st;
  std::copy_n(m.data, m.size(), copy->data());
  return kStatusOk;
}

int ucmsim(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // Entry: the note, then the generator record.
  issue_message(kMsgUcmNote);
  RngState* state = nullptr;
  if (int st = rng_state(&state)) return st;

  UcmModel model;
  // Slots 1-2: the trend.
  if (int st = trend_part(in, kLevel, &model.level, &model.sd_level)) return st;
  if (int st = trend_part(in, kSlope, &model.slope, &model.sd_slope)) return st;
  // Slots 3-5: the cycles.
  for (int c = 0; c < kUcmMaxCycles; ++c)
    if (int st = cycle_part(in, kCycle1 + c, &model.cycle[c])) return st;
  // Slots 6-11: the seasonal forms and initial values.
  SeasonalForm form[kUcmMaxSeasonals];
  WorkBlock<double> init[kUcmMaxSeasonals];
  for (int j = 0; j < kUcmMaxSeasonals; ++j) {
    if (int st = seasonal_form(in, kSeason1 + 2 * j, &form[j])) return st;
    if (int st = seasonal_init(in, kInit1 + 2 * j, &init[j])) return st;
  }
  // Slot 12: the irregular variance.
  if (in.given(kIrregular)) {
    MatrixArg m;
    if (int st = in.fetch(kIrregular, &m)) return st;
    if (!m.is_scalar()) return kStatusNotScalar;
    if (has_missing(in.slot(kIrregular))) return kStatusMissing;
    if (!(m.data[0] > 0)) return kStatusRange;
    model.sd_irregular = std::sqrt(m.data[0]);
  }
  // Slots 13-14: n and the seed.
  std::int64_t n = 100;
  if (in.given(kN))
    if (int st = in.whole_number(kN, &n)) return st;
  double seed_arg = 0.0;
  if (in.given(kSeed))
    if (int st = in.seed(kSeed, &seed_arg)) return st;
  std::uint32_t* seed = nullptr;
  if (int st = rng_start(Stream::kUcmsim, seed_arg, &seed)) return st;

  // Set-up: y and the seasonal states; y and the result are checked
  // together before the simulation.
  if (int st = check_room({doubles(n), doubles(n)})) return st;
  WorkBlock<double> y{std::uint64_t(n)};
  if (!y) return y.status();
  WorkBlock<double> seas_work[kUcmMaxSeasonals];
  for (int j = 0; j < kUcmMaxSeasonals; ++j) {
    if (!init[j]) continue;
    const std::int64_t q = std::int64_t(init[j].size());
    if (int st = seas_work[j].allocate(std::uint64_t(ucm_seasonal_work_size(q + 1)))) return st;
    ucm_seasonal_init(&model.seasonal[j], init[j].data(), q, form[j].trig, form[j].sd,
                      seas_work[j].data());
  }
  // Simulation.
  ucm_simulate(&model, n, seed, y.data());
  // Finish.
  double* out = create_result(1, static_cast<std::int32_t>(n), 1);
  if (!out) return kStatusHostError;
  std::copy_n(y.data(), n, out);
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t ucmsim_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::ucmsim(args, given); });
}
