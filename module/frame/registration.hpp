// A module's registration table and the answers to the host's registration
// query, shared by the two modules that register functions (orvmvtsa with
// the twelve subroutines, orvmvtst with the statistics built on them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "abi/mcn_abi.h"

namespace mvtsa {

// Copies the text of a string literal, terminator included, into the start
// of a fixed field (the rest of the field stays zero).
template <std::size_t F, std::size_t N>
constexpr void copy_text(char (&field)[F], const char (&text)[N]) {
  static_assert(N <= F, "the text must fit its field with its terminator");
  for (std::size_t i = 0; i < N; ++i) field[i] = text[i];
}

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
// bytes, the registration kind, and the outputs as MCN_OUTPUTS_BASE + their
// number.
constexpr mcn_registration record(const Routine& r) {
  mcn_registration out{};
  for (std::size_t i = 0; r.name[i] != '\0'; ++i) out.name[i] = r.name[i];
  out.max_inputs = r.inputs;
  out.kind = MCN_REGISTRATION_KIND;
  out.zero = 0;
  out.one = 1;
  out.outputs_word = MCN_OUTPUTS_BASE + r.outputs;
  return out;
}

// The module descriptor of a module named `name` (eight characters, stored
// without a terminator) whose registration query is `query`.
constexpr mcn_module_descriptor module_descriptor(const char (&name)[9],
                                                  mcn_module_query_fn query) {
  mcn_module_descriptor d{};
  d.zero = 0;
  d.all_ones = MCN_DESCRIPTOR_ALL_ONES;
  d.size_a = MCN_DESCRIPTOR_SIZE;
  d.size_b = MCN_DESCRIPTOR_SIZE;
  for (std::size_t i = 0; i < sizeof d.name; ++i) d.name[i] = name[i];
  d.pad = 0;
  d.query = query;
  d.one = 1;
  d.code = MCN_DESCRIPTOR_CODE;
  d.trailer_word = MCN_DESCRIPTOR_TRAILER_WORD;
  d.trailer_count = MCN_DESCRIPTOR_TRAILER_COUNT;
  return d;
}

// The version and build identifier both modules' image records carry.
inline constexpr char kImageVersion[] = "1.0";
inline constexpr char kImageBuildId[] = "mvts-1.0.0";

// The image-information record of a module: `self` is the address of the
// record being made (its descriptor list points into it), `descriptor` the
// module's one descriptor; the date reads "Mon DD YYYY".
template <std::size_t D>
constexpr mcn_image_info image_info(const mcn_image_info* self,
                                    const mcn_module_descriptor* descriptor,
                                    const char (&build_date)[D], const char* notice) {
  mcn_image_info r{};
  copy_text(r.marker, MCN_IMAGE_MARKER);
  r.magic = MCN_IMAGE_MAGIC;
  r.eight = MCN_IMAGE_EIGHT;
  copy_text(r.version, kImageVersion);
  copy_text(r.build_id, kImageBuildId);
  copy_text(r.build_date, build_date);
  r.descriptor_list = &self->descriptors[0];
  r.notice = notice;
  copy_text(r.tag, MCN_IMAGE_TAG);
  r.descriptors[0] = descriptor;
  r.descriptors[1] = nullptr;
  return r;
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
