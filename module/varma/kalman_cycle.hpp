// The covariances the Kalman filter keeps of its last steps, and the
// repeating steady state or short cycle they reveal.
//
// P(t+1), P(t|t) and the gain of step t depend on P(t) alone.  When the
// prediction P(t+1) equals P(t+1-L) to the last bit (L <= kFilterRing) and
// the L updates in between used complete rows, the covariances repeat with
// period L for as long as the rows stay complete (rounding settles into a
// fixed point or a short cycle): each later step takes the moments kept for
// its phase, and only the state is carried forward.
#pragma once

#include <cstdint>

#include "module/varma/varma_kalman.hpp"

namespace mvtsa {

class CovarianceCycle {
 public:
  // Slots of predicted covariances kept: P(t+1) besides the last kFilterRing.
  static constexpr std::int64_t kPredictedSlots = kFilterRing + 1;

  CovarianceCycle() = default;
  // The rings in the caller's work: kPredictedSlots f x f matrices at
  // P_ring, kFilterRing f x f at Ptt_ring and kFilterRing f x k at K_ring.
  CovarianceCycle(std::int64_t f, std::int64_t k, double* P_ring, double* Ptt_ring,
                  double* K_ring)
      : ff_(f * f), fk_(f * k), f_(f), P_ring_(P_ring), Ptt_ring_(Ptt_ring), K_ring_(K_ring) {}

  // The slots of step j: P(j) in slot j mod kPredictedSlots, P(j|j) and the
  // gain in slot j mod kFilterRing, so that those of the last steps are kept
  // without copies.
  double* P_of(std::int64_t j) const { return P_ring_ + (j % kPredictedSlots) * ff_; }
  double* Ptt_of(std::int64_t j) const { return Ptt_ring_ + (j % kFilterRing) * ff_; }
  double* K_of(std::int64_t j) const { return K_ring_ + (j % kFilterRing) * fk_; }

  // Whether the covariances repeat, and the step of the kept cycle whose
  // moments step t takes while they do.
  bool repeating() const { return period_ > 0; }
  std::int64_t phase(std::int64_t t) const { return first_ + (t - first_) % period_; }

  // Step t has been updated with a complete row or not: the run of complete
  // rows whose moments are kept.
  void count_row(bool complete);
  // P(t1) has been predicted into its slot: the step of the run, the
  // nearest first, whose P it equals to the last bit (the cycle of period
  // t1 - that step then starts there), or -1.
  std::int64_t match(std::int64_t t1);
  // A row that is not complete at step t ends the cycle: P(t) is taken from
  // its phase into its own slot, and the full recursion resumes from it.
  void end(std::int64_t t);

 private:
  std::int64_t ff_ = 0, fk_ = 0, f_ = 0;
  double* P_ring_ = nullptr;
  double* Ptt_ring_ = nullptr;
  double* K_ring_ = nullptr;
  std::int64_t run_ = 0;     // complete rows just before t whose moments are kept
  std::int64_t period_ = 0;  // L while repeating, else 0
  std::int64_t first_ = 0;   // the first step of the kept cycle
};

// Whether A and B (f x f) are equal to the last bit: the diagonals first,
// where successive covariances of a filter usually part.
bool same_bits(const double* A, const double* B, std::int64_t f);

}  // namespace mvtsa
