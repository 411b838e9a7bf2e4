#include "module/ucm/ucm_sim.hpp"

#include <cmath>
#include <utility>

#include "module/frame/rng.hpp"

namespace mvtsa {
namespace {

// One step of a cycle; returns its contribution.
//   [psi  ]           [ cos l  sin l] [psi  ]        [z1]
//   [psi* ]  = rho *  [-sin l  cos l] [psi* ]  + sd  [z2]
double cycle_step(UcmCycle* c, std::uint32_t* seed) {
  const double p = c->psi, ps = c->psi_star;
  double np = c->rho * (c->cos_l * p + c->sin_l * ps);
  double nps = c->rho * (-c->sin_l * p + c->cos_l * ps);
  if (c->sd > kUcmPresent) {
    np += c->sd * rng_normal(seed);
    nps += c->sd * rng_normal(seed);
  }
  c->psi = np;
  c->psi_star = nps;
  return np;
}

// Trigonometric seasonal: harmonics j = 1 .. while 2j <= s - 1 at state
// positions (2(j-1), 2(j-1)+1), rotated by a_j; for even s the frequency-pi
// term at position s - 2 changes sign.
double trig_step(UcmSeasonal* sz, std::uint32_t* seed) {
  double* x = sz->state;
  const bool shock = sz->sd > kUcmPresent;
  double g = 0.0;
  std::int64_t pos = 0;
  for (std::int64_t j = 1; 2 * j <= sz->s - 1; ++j, pos += 2) {
    const double c = sz->trig_cs[pos], s = sz->trig_cs[pos + 1];
    double nx = c * x[pos] + s * x[pos + 1];
    double nxs = -s * x[pos] + c * x[pos + 1];
    if (shock) {
      nx += sz->sd * rng_normal(seed);
      nxs += sz->sd * rng_normal(seed);
    }
    x[pos] = nx;
    x[pos + 1] = nxs;
    g += nx;
  }
  if (sz->s % 2 == 0) {
    double v = -x[sz->s - 2];
    if (shock) v += sz->sd * rng_normal(seed);
    x[sz->s - 2] = v;
    g += v;
  }
  return g;
}

// Dummy-variable seasonal: the s values of one season sum to the disturbance.
double dummy_step(UcmSeasonal* sz, std::uint32_t* seed) {
  const std::int64_t q = sz->s - 1;
  const double* old = sz->state;
  double* nw = sz->next;
  double sum = 0.0;
  for (std::int64_t i = 0; i < q; ++i) sum += old[i];
  double v = -sum;
  if (sz->sd > kUcmPresent) v += sz->sd * rng_normal(seed);
  for (std::int64_t i = q - 1; i >= 1; --i) nw[i] = old[i - 1];
  nw[0] = v;
  std::swap(sz->state, sz->next);
  return v;
}

}  // namespace

void ucm_seasonal_init(UcmSeasonal* seas, const double* e, std::int64_t q, bool trig,
                       double sd, double* work) {
  seas->present = true;
  seas->trig = trig;
  seas->s = q + 1;
  seas->sd = sd;
  seas->state = work;
  seas->next = work + q;
  seas->trig_cs = work + 2 * q;
  if (trig) {
    for (std::int64_t i = 0; i < q; ++i) seas->state[i] = e[i];
    // The angles a_j = 2 pi j / s of the harmonics, evaluated once per call.
    for (std::int64_t j = 1; 2 * j <= q; ++j) {
      const double a = kTwoPi * double(j) / double(seas->s);
      seas->trig_cs[2 * (j - 1)] = std::cos(a);
      seas->trig_cs[2 * (j - 1) + 1] = std::sin(a);
    }
  } else {
    double sum = 0.0;
    for (std::int64_t i = 0; i < q; ++i) sum += e[i];
    seas->state[0] = -sum;
    for (std::int64_t i = 1; i < q; ++i) seas->state[i] = e[q - i];
  }
}

void ucm_cycle_init(UcmCycle* cyc, double psi, double psi_star, double period, double rho,
                    double sd) {
  cyc->present = true;
  cyc->psi = psi;
  cyc->psi_star = psi_star;
  const double lambda = kTwoPi / period;
  cyc->cos_l = std::cos(lambda);
  cyc->sin_l = std::sin(lambda);
  cyc->rho = rho;
  cyc->sd = sd;
}

void ucm_simulate(UcmModel* m, std::int64_t n, std::uint32_t* seed, double* y) {
  for (std::int64_t t = 0; t < n; ++t) {
    // Trend: the level moves by the slope before the slope's own update.
    double yt = 0.0;
    m->level += m->slope;
    if (m->sd_level > kUcmPresent) m->level += m->sd_level * rng_normal(seed);
    if (m->sd_slope > kUcmPresent) m->slope += m->sd_slope * rng_normal(seed);
    yt += m->level;
    for (auto& c : m->cycle)
      if (c.present && (std::fabs(c.psi) > kUcmPresent || std::fabs(c.psi_star) > kUcmPresent))
        yt += cycle_step(&c, seed);
    for (auto& sz : m->seasonal)
      if (sz.present) yt += sz.trig ? trig_step(&sz, seed) : dummy_step(&sz, seed);
    yt += m->sd_irregular * rng_normal(seed);
    y[t] = yt;
  }
}

}  // namespace mvtsa
