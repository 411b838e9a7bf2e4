// The module's one export, mcn_main, the static records the host reads, and
// module_query.
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "abi/mcn_abi.h"
#include "module/frame/entries.hpp"
#include "module/frame/host.hpp"

namespace mvtsa {

extern "C" void* module_query(std::int32_t type);

namespace {

// The registration table: one row per function, as in a routine-registration
// table, holding its name (upper case), the most inputs it takes, its number
// of outputs and its entry point.  The host registers the functions in this
// order; the records it reads and the list of entry points both come from
// these rows.
struct Routine {
  const char* name;
  std::uint16_t inputs;
  std::uint32_t outputs;
  mcn_entry_fn entry;
};

constexpr Routine kRoutines[] = {
    {"VNORMAL", 4, 1, vnormal_entry},     {"VARMACOV", 6, 1, varmacov_entry},
    {"VARMAFIT", 3, 3, varmafit_entry},   {"VARMALIK", 7, 1, varmalik_entry},
    {"VARMASIM", 9, 1, varmasim_entry},   {"VTSROOT", 4, 1, vtsroot_entry},
    {"FARMALIK", 8, 1, farmalik_entry},   {"FARMASIM", 10, 1, farmasim_entry},
    {"FARMACOV", 7, 1, farmacov_entry},   {"FARMAFIT", 4, 4, farmafit_entry},
    {"FDIF", 2, 1, fdif_entry},           {"UCMSIM", 14, 1, ucmsim_entry},
};
constexpr std::int32_t kRoutineCount = std::int32_t(std::size(kRoutines));

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

constexpr bool names_fit() {
  for (const Routine& r : kRoutines) {
    std::size_t n = 0;
    while (r.name[n] != '\0') ++n;
    if (n == 0 || n >= sizeof(mcn_registration::name)) return false;
  }
  return true;
}
static_assert(names_fit(), "a registered name must fit its record with its terminator");

constexpr std::array<mcn_registration, kRoutineCount> records() {
  std::array<mcn_registration, kRoutineCount> out{};
  for (std::int32_t i = 0; i < kRoutineCount; ++i) out[std::size_t(i)] = record(kRoutines[i]);
  return out;
}

constexpr std::array<mcn_registration, kRoutineCount> kRegistrationTable = records();

}  // namespace

// Module descriptor and the eight bytes that follow it.
extern const mcn_module_descriptor kModuleDescriptor;
const mcn_module_descriptor kModuleDescriptor = {
    0, 0xFFFF, 1024, 1024, {'o', 'r', 'v', 'm', 'v', 't', 's', 'a'}, 0, module_query, 1, 9683,
    0x2043C3D5u, 15u,
};

static const char kNotice[] = "orvmvtsa: multivariate and long-memory time series, build data";

extern const mcn_image_info kImageInfo;
const mcn_image_info kImageInfo = {
    "ORV_Image_Information=",
    0xB0BDEBEDu,
    8u,
    "1.0",
    "mvts-1.0.0",
    "Dec 09 2026",
    &kImageInfo.descriptors[0],
    kNotice,
    "001",
    {&kModuleDescriptor, nullptr},
};

extern "C" void* module_query(std::int32_t type) {
  if (type != 1 && type != 2) return nullptr;
  mcn_allocator* a = host_table()->registration;
  const std::uint64_t size = type == 1 ? 16 : std::uint64_t(kRoutineCount) * 8 + 8;
  void* block = a->alloc(a, size, MCN_ALLOC_FLAGS);
  if (block == nullptr) {
    fatal_error(MCN_FATAL_REGISTRATION, 0);
    return nullptr;
  }
  auto* bytes = static_cast<unsigned char*>(block);
  if (type == 1) {
    const mcn_registration* table = kRegistrationTable.data();
    std::memcpy(bytes, &kRoutineCount, 4);
    std::memcpy(bytes + 8, &table, 8);
  } else {
    for (std::int32_t i = 0; i < kRoutineCount; ++i)
      std::memcpy(bytes + 8 + 8 * i, &kRoutines[i].entry, 8);
  }
  return block;
}

}  // namespace mvtsa

// Hands the module the service table of the host that calls on this thread
// (null: none) and returns the image-information record.  The host calls it
// once when it loads the module and again around each call, on the calling
// thread; it allocates nothing and cannot fail.
extern "C" __attribute__((visibility("default"))) void* mcn_main(const mcn_host_table* table,
                                                                 void* /*second*/) {
  mvtsa::set_host_table(table);
  return const_cast<mcn_image_info*>(&mvtsa::kImageInfo);
}
