// Checking ahead that the blocks a call will need fit what the host can
// still give, so that a size that follows from the arguments is refused
// before the work that would precede its allocation.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace mvtsa {

// Below this many bytes in all, blocks are not checked ahead: a refusal is
// then cheap where it happens.
inline constexpr std::uint64_t kRoomCheckFrom = std::uint64_t(16) << 20;

// Whether blocks of `sizes` bytes (at most eight), all live at once on top
// of what the call holds now, fit the host's limits.  Each is taken from the work allocator
// and all are given back before returning, so the host applies its own
// limits (one block, everything live) exactly as it will to the real
// blocks.  Returns 0, or status 1 after raising the host's error.
int check_room(std::initializer_list<std::uint64_t> sizes);

// The bytes of `count` doubles (checked_bytes).
std::uint64_t doubles(std::int64_t count);

}  // namespace mvtsa
