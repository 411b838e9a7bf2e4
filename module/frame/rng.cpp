#include "module/frame/rng.hpp"

#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"

namespace mvtsa {
namespace {

// Reduces v modulo 2^31 - 1 using 2^31 = 1 (mod 2^31 - 1).
inline std::uint32_t fold(std::uint32_t v) {
  v = (v & kRngModulus) + (v >> 31);
  return v >= kRngModulus ? v - kRngModulus : v;
}

inline std::uint32_t add_mod(std::uint32_t a, std::uint32_t b) {  // a, b < 2^31 - 1
  std::uint32_t s = a + b;
  return s >= kRngModulus ? s - kRngModulus : s;
}

std::uint32_t host_clock() { return clock_seed(); }

}  // namespace

// The product x * a with a = ah * 2^16 + al (ah = 6060, al = 55934) and
// x = xh * 2^16 + xl, every partial product within 32 bits:
//   x a = xh ah 2^32 + (xh al + xl ah) 2^16 + xl al
// and 2^32 = 2, 2^31 = 1 (mod 2^31 - 1).
std::uint32_t rng_next(std::uint32_t x) {
  constexpr std::uint32_t ah = 6060u, al = 55934u;
  const std::uint32_t xh = x >> 16, xl = x & 0xFFFFu;
  // xh ah 2^32 = 2 xh ah; xh < 2^16, so 2 xh ah < 2^31 * 0.4: fits.
  std::uint32_t r = fold(2u * (xh * ah));
  // t = xh al + xl ah < 2^32 (xh al < 65536 * 55934 = 3.67e9 would not fit for
  // xh near 2^16, so the sum is formed in two folded halves).
  const std::uint32_t t1 = fold(xh * al);  // < 2^32
  const std::uint32_t t2 = fold(xl * ah);
  const std::uint32_t t = add_mod(t1, t2);  // < 2^31 - 1
  // t 2^16 with t = th 2^15 + tl: th 2^31 + tl 2^16 = th + tl 2^16.
  const std::uint32_t th = t >> 15, tl = t & 0x7FFFu;
  r = add_mod(r, fold(th + (tl << 16)));
  r = add_mod(r, fold(xl * al));
  return r;
}

double rng_normal(std::uint32_t* seed) {
  const double u1 = rng_uniform(seed);
  const double u2 = rng_uniform(seed);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

void rng_normal_fill(std::uint32_t* seed, double* out, std::int64_t n) {
  std::uint32_t s = *seed;
  for (std::int64_t i = 0; i < n; ++i) out[i] = rng_normal(&s);
  *seed = s;
}

int rng_state(RngState** out) {
  auto* ctx = static_cast<unsigned char*>(context_block());
  void* word;
  std::memcpy(&word, ctx + MCN_CONTEXT_RNG_WORD, sizeof word);
  if (word == nullptr) {
    word = host_alloc(sizeof(RngState));
    if (word == nullptr) return allocation_failed();
    if (int st = check_host_error()) {
      host_free(word);
      return st;
    }
    std::memcpy(ctx + MCN_CONTEXT_RNG_WORD, &word, sizeof word);
  }
  *out = static_cast<RngState*>(word);
  return kStatusOk;
}

void rng_resolve_seed(RngState::Entry* entry, double s, std::uint32_t (*clock)()) {
  if (s > 0) {
    // Truncated toward zero to a 32-bit integer (reduced modulo 2^32).
    entry->seed = static_cast<std::uint32_t>(std::fmod(std::trunc(s), 4294967296.0));
  } else if (entry->started == 1) {
    // continue the stream
  } else if (s < 0) {
    entry->seed = static_cast<std::uint32_t>(std::fmod(std::trunc(-s), 4294967296.0));
    entry->started = 1;
  } else {
    entry->seed = clock();
    entry->started = 1;
  }
}

bool rng_seed_is_zero(std::uint32_t seed) { return seed % kRngModulus == 0; }

int rng_check_seed(Stream stream, double s) {
  if (s == 0) return kStatusOk;  // the stream continues, or the clock gives the seed
  RngState::Entry e{};  // no record yet: the stream is not started
  void* word = nullptr;
  if (const auto* ctx = static_cast<const unsigned char*>(context_block()))
    std::memcpy(&word, ctx + MCN_CONTEXT_RNG_WORD, sizeof word);
  if (word) e = static_cast<const RngState*>(word)->stream[static_cast<int>(stream)];
  rng_resolve_seed(&e, s, nullptr);  // a seed other than 0 never asks the clock
  return rng_seed_is_zero(e.seed) ? fail_message(kMsgZeroSeed, {s}) : kStatusOk;
}

int rng_start(Stream stream, double s, std::uint32_t** seed_var) {
  RngState* state = nullptr;
  if (int st = rng_state(&state)) return st;
  RngState::Entry* e = &state->stream[static_cast<int>(stream)];
  // The stream changes only when the seed it would get is usable.
  RngState::Entry next = *e;
  rng_resolve_seed(&next, s, host_clock);
  if (rng_seed_is_zero(next.seed)) return fail_message(kMsgZeroSeed, {s});
  *e = next;
  *seed_var = &e->seed;
  return kStatusOk;
}

}  // namespace mvtsa
