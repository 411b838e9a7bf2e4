// A module's registration table and the answers to the host's registration
// query, shared by the two modules that register functions (orvmvtsa with
// the twelve subroutines, orvmvtst with the statistics built on them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "abi/mcn_abi.h"

namespace mvtsa {

// One row of a registration table: the function's name (upper case), the
// most inputs it takes, its number of outputs and its entry point.  The host
// registers the functions in the order of the rows.
struct Routine {
  const char* name;
  std::uint16_t inputs;
  std::uint32_t outputs;
  mcn_entry_fn entry;
};

// A row as the 40-byte record the host reads: the name NUL-padded to 26
// bytes, kind 0x49, and the outputs as 0x20 + their number.
constexpr mcn_registration record(const Routine& r) {
  mcn_registration out{};
  for (std::size_t i = 0; r.name[i] != '\0'; ++i) out.name[i] = r.name[i];
  out.max_inputs = r.inputs;
  out.kind = 0x49;
  out.zero = 0;
  out.one = 1;
  out.outputs_word = 0x20 + r.outputs;
  return out;
}

// Every name is non-empty and fits its record with its terminator.
template <std::size_t N>
constexpr bool names_fit(const Routine (&rows)[N]) {
  for (const Routine& r : rows) {
    std::size_t n = 0;
    while (r.name[n] != '\0') ++n;
    if (n == 0 || n >= sizeof(mcn_registration::name)) return false;
  }
  return true;
}

template <std::size_t N>
constexpr std::array<mcn_registration, N> records(const Routine (&rows)[N]) {
  std::array<mcn_registration, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = record(rows[i]);
  return out;
}

// The answer to module_query: type 1 is the count and the address of the
// records, type 2 the entry points after an 8-byte header; both in a block
// from the host's registration allocator, which the host gives back.  Any
// other type, or a block the host cannot give, answers null (the latter
// after a fatal registration error).
void* answer_query(std::int32_t type, const Routine* rows, const mcn_registration* table,
                   std::int32_t count);

}  // namespace mvtsa
