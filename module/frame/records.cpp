// The module's one export, mcn_main, the static records the host reads, and
// module_query.
#include <cstdint>
#include <cstring>

#include "abi/mcn_abi.h"
#include "module/frame/entries.hpp"
#include "module/frame/host.hpp"

namespace mvtsa {

extern "C" void* module_query(std::int32_t type);

namespace {

template <std::size_t N>
constexpr mcn_registration reg(const char (&name)[N], std::uint16_t inputs,
                               std::uint32_t outputs) {
  static_assert(N <= 26);
  mcn_registration r{};
  for (std::size_t i = 0; i < N; ++i) r.name[i] = name[i];
  r.max_inputs = inputs;
  r.kind = 0x49;
  r.zero = 0;
  r.one = 1;
  r.outputs_word = 0x20 + outputs;
  return r;
}

}  // namespace

// Registration table: twelve 40-byte records.
extern const mcn_registration kRegistrationTable[12];
const mcn_registration kRegistrationTable[12] = {
    reg("VNORMAL", 4, 1),  reg("VARMACOV", 6, 1),  reg("VARMAFIT", 3, 3),
    reg("VARMALIK", 7, 1), reg("VARMASIM", 9, 1),  reg("VTSROOT", 4, 1),
    reg("FARMALIK", 8, 1), reg("FARMASIM", 10, 1), reg("FARMACOV", 7, 1),
    reg("FARMAFIT", 4, 4), reg("FDIF", 2, 1),      reg("UCMSIM", 14, 1),
};

static const mcn_entry_fn kEntries[12] = {
    vnormal_entry,  varmacov_entry, varmafit_entry, varmalik_entry,
    varmasim_entry, vtsroot_entry,  farmalik_entry, farmasim_entry,
    farmacov_entry, farmafit_entry, fdif_entry,     ucmsim_entry,
};

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
  const std::uint64_t size = type == 1 ? 16 : 12 * 8 + 8;
  void* block = a->alloc(a, size, MCN_ALLOC_FLAGS);
  if (block == nullptr) {
    fatal_error(MCN_FATAL_REGISTRATION, 0);
    return nullptr;
  }
  auto* bytes = static_cast<unsigned char*>(block);
  if (type == 1) {
    const std::int32_t count = 12;
    const mcn_registration* table = kRegistrationTable;
    std::memcpy(bytes, &count, 4);
    std::memcpy(bytes + 8, &table, 8);
  } else {
    for (int i = 0; i < 12; ++i) std::memcpy(bytes + 8 + 8 * i, &kEntries[i], 8);
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
