// Simulation of an unobserved-components model: local linear trend, up to
// three stochastic cycles, up to three seasonal components (dummy-variable or
// trigonometric) and an irregular term.
#pragma once

#include <cstdint>

#include "module/frame/tolerances.hpp"

namespace mvtsa {

// A standard deviation counts as present, and a cycle state as non-zero,
// only above this threshold (u).
inline constexpr double kUcmPresent = kRoundoffTol;
inline constexpr int kUcmMaxCycles = 3;
inline constexpr int kUcmMaxSeasonals = 3;

struct UcmCycle {
  bool present = false;
  double psi = 0.0, psi_star = 0.0;  // state (psi, psi*)
  double cos_l = 1.0, sin_l = 0.0;   // cos and sin of lambda = 2 pi / period
  double rho = 1.0;                  // damping, in [0, 1]
  double sd = 0.0;                   // disturbance standard deviation
};

struct UcmSeasonal {
  bool present = false;
  bool trig = false;       // trigonometric form, else dummy-variable form
  std::int64_t s = 0;      // season length, >= 2
  double sd = 0.0;         // disturbance standard deviation
  double* state = nullptr; // s - 1 doubles
  double* next = nullptr;  // s - 1 doubles (dummy form: the next state)
  double* trig_cs = nullptr;  // s - 1 doubles: cos a_j, sin a_j for each harmonic
};

struct UcmModel {
  double level = 0.0, slope = 0.0;
  double sd_level = 0.0, sd_slope = 0.0;
  UcmCycle cycle[kUcmMaxCycles];
  UcmSeasonal seasonal[kUcmMaxSeasonals];
  double sd_irregular = 1.0;
};

// Doubles of work space one seasonal component of length s needs (state,
// next state, harmonic table).
inline std::int64_t ucm_seasonal_work_size(std::int64_t s) { return 3 * (s - 1); }

// Sets up a seasonal component of length s = q + 1 from its initial values
// e_0 .. e_{q-1} over `work` (ucm_seasonal_work_size(s) doubles):
//   trigonometric: state = e;
//   dummy:         state_0 = -(e_0 + ... + e_{q-1}), state_i = e_{q-i},
// so that without disturbances the dummy form yields e_0, .., e_{q-1},
// -(their sum), repeating with period s.
void ucm_seasonal_init(UcmSeasonal* seas, const double* e, std::int64_t q, bool trig,
                       double sd, double* work);

// Sets up a cycle from its state, period (>= 2), damping and standard deviation.
void ucm_cycle_init(UcmCycle* cyc, double psi, double psi_star, double period, double rho,
                    double sd);

// Simulates y_1 .. y_n into y (n doubles), advancing the model's states and
// the generator seed.  Per step, in this order (each z one rng_normal):
//   trend:     mu += beta; mu += sd_level z; beta += sd_slope z;  y += mu
//   cycles:    (psi, psi*) <- rho R(lambda) (psi, psi*) + sd (z1, z2); y += psi
//              (skipped, drawing nothing, while the state is (0, 0))
//   seasonals: trigonometric: each harmonic pair rotated by a_j = 2 pi j / s,
//              the pi harmonic negated, each plus sd z;  y += sum of the
//              first elements of the pairs and the pi term;
//              dummy: new_0 = -sum(state) + sd z, new_i = old_{i-1}; y += new_0
//   irregular: y += sd_irregular z
// A disturbance is drawn only when its standard deviation exceeds 2^-53; the
// irregular deviate is drawn on every step.
void ucm_simulate(UcmModel* model, std::int64_t n, std::uint32_t* seed, double* y);

}  // namespace mvtsa
