// Size arithmetic in 64 bits for work areas and allocations.  Every
// operation saturates: a result that does not fit is kImpossibleSize, a size
// no host can give, so the allocation that follows fails through the normal
// path instead of wrapping round to a small block.
#pragma once

#include <cstdint>
#include <limits>

namespace mvtsa {

inline constexpr std::uint64_t kImpossibleSize = std::numeric_limits<std::uint64_t>::max();

// a b, or kImpossibleSize when it does not fit.
inline constexpr std::uint64_t checked_mul(std::uint64_t a, std::uint64_t b) {
  return a != 0 && b > kImpossibleSize / a ? kImpossibleSize : a * b;
}

// a + b, or kImpossibleSize when it does not fit.
inline constexpr std::uint64_t checked_add(std::uint64_t a, std::uint64_t b) {
  return b > kImpossibleSize - a ? kImpossibleSize : a + b;
}

// Bytes of `count` elements of `elem_size` bytes each.
inline constexpr std::uint64_t checked_bytes(std::uint64_t count, std::uint64_t elem_size) {
  return checked_mul(count, elem_size);
}

// Consecutive places in a work area of doubles: take(n) gives the offset of
// the next n and moves past them; end() is the area's size so far,
// kImpossibleSize once it does not fit.
class WorkOffsets {
 public:
  explicit constexpr WorkOffsets(std::uint64_t start = 0) : end_(start) {}
  constexpr std::uint64_t take(std::uint64_t n) {
    const std::uint64_t here = end_;
    end_ = checked_add(end_, n);
    return here;
  }
  constexpr std::uint64_t end() const { return end_; }

 private:
  std::uint64_t end_;
};

}  // namespace mvtsa
