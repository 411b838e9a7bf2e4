// The module's one export, mcn_main, the static records the host reads, and
// module_query.
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "abi/mcn_abi.h"
#include "module/frame/entries.hpp"
#include "module/frame/host.hpp"
#include "module/frame/registration.hpp"

namespace mvtsa {

extern "C" void* module_query(std::int32_t type);

namespace {

// The registration table, one row per function.
constexpr Routine kRoutines[] = {
    {"VNORMAL", 4, 1, vnormal_entry},     {"VARMACOV", 6, 1, varmacov_entry},
    {"VARMAFIT", 3, 3, varmafit_entry},   {"VARMALIK", 7, 1, varmalik_entry},
    {"VARMASIM", 9, 1, varmasim_entry},   {"VTSROOT", 4, 1, vtsroot_entry},
    {"FARMALIK", 8, 1, farmalik_entry},   {"FARMASIM", 10, 1, farmasim_entry},
    {"FARMACOV", 7, 1, farmacov_entry},   {"FARMAFIT", 4, 4, farmafit_entry},
    {"FDIF", 2, 1, fdif_entry},           {"UCMSIM", 14, 1, ucmsim_entry},
};
constexpr std::int32_t kRoutineCount = std::int32_t(std::size(kRoutines));

static_assert(names_fit(kRoutines), "a registered name must fit its record with its terminator");

constexpr std::array<mcn_registration, kRoutineCount> kRegistrationTable = records(kRoutines);

}  // namespace

// Module descriptor (and the eight bytes that follow it) and the image
// information that points at it.
extern const mcn_module_descriptor kModuleDescriptor;
constinit const mcn_module_descriptor kModuleDescriptor =
    module_descriptor("orvmvtsa", module_query);

static const char kNotice[] = "orvmvtsa: multivariate and long-memory time series, build data";

extern const mcn_image_info kImageInfo;
constinit const mcn_image_info kImageInfo =
    image_info(&kImageInfo, &kModuleDescriptor, "Dec 09 2026", kNotice);

extern "C" void* module_query(std::int32_t type) {
  return answer_query(type, kRoutines, kRegistrationTable.data(), kRoutineCount);
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
