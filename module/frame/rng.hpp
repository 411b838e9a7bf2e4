// The module's random number generator: a multiplicative congruential
// generator modulo 2^31 - 1 with multiplier 397204094, normal deviates by the
// Box-Muller cosine formula, and one stream per simulating function parked in
// the host's context record.
#pragma once

#include <cstdint>

namespace mvtsa {

inline constexpr std::uint32_t kRngModulus = 2147483647u;     // 2^31 - 1
inline constexpr std::uint32_t kRngMultiplier = 397204094u;   // 6060 * 65536 + 55934
inline constexpr double kTwoPi = 6.283185307179586;

// seed * 397204094 mod (2^31 - 1), exact for every seed from 0 to 2^32 - 1.
std::uint32_t rng_next(std::uint32_t seed);

// Replaces the seed by its successor and returns it divided by 2^31 - 1.
inline double rng_uniform(std::uint32_t* seed) {
  *seed = rng_next(*seed);
  return *seed / 2147483647.0;
}

// sqrt(-2 ln u1) cos(2 pi u2), u1 drawn before u2.
double rng_normal(std::uint32_t* seed);

// Fills out[0..n) with rng_normal deviates, in index order.
void rng_normal_fill(std::uint32_t* seed, double* out, std::int64_t n);

enum class Stream : int { kVnormal = 0, kVarmasim = 1, kFarmasim = 2, kUcmsim = 3 };

// The 40-byte generator record: four (started, seed) pairs.
struct RngState {
  struct Entry {
    std::uint32_t started;
    std::uint32_t seed;
  } stream[4];
  std::uint32_t unused[2];
};
static_assert(sizeof(RngState) == 40);

// Finds the record in the context word at byte 896, creating it on the first
// call.  Returns 0, or 1 after raising the host error of a failed allocation.
int rng_state(RngState** out);

// Starts a stream from the seed argument s (an omitted seed counts as 0):
//   s > 0: seed := trunc(s) (32 bits); the started flag is left unchanged;
//   else, started: the stored seed continues;
//   else s < 0: seed := trunc(-s); started := 1;
//   else: seed := clock_seed(); started := 1.
// On success *seed_var points at the stream's seed inside the record.
// A seed that is 0 modulo 2^31 - 1 would stay 0 (every uniform 0, every
// deviate infinite): it is refused with message 380 (status 100) and the
// stream is left as it was.
int rng_start(Stream stream, double s, std::uint32_t** seed_var);

// The same refusal, made right after the seed argument is read (before the
// outputs exist): whether the seed argument s would start the stream at 0.
// Seed 0 always passes (its seed comes from the stream or the clock).
// Allocates nothing.
int rng_check_seed(Stream stream, double s);

// Whether a generator seed is 0 modulo 2^31 - 1.
bool rng_seed_is_zero(std::uint32_t seed);

// The seed rule alone, for a given entry (no host access but clock_seed).
void rng_resolve_seed(RngState::Entry* entry, double s, std::uint32_t (*clock)());

}  // namespace mvtsa
