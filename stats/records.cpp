// The statistics module's one export, mcn_main, its static records and
// module_query: the same ABI as orvmvtsa, with its own registration table.
#include <array>
#include <cstdint>
#include <iterator>

#include "abi/mcn_abi.h"
#include "module/frame/host.hpp"
#include "module/frame/registration.hpp"
#include "stats/entries.hpp"

namespace mvtsa {

extern "C" void* module_query(std::int32_t type);

namespace {

// The registration table, one row per function.
constexpr Routine kRoutines[] = {
    {"VTSACF", 2, 2, vtsacf_entry},
    {"FARMAFCST", 10, 3, farmafcst_entry},
    {"FARMARES", 9, 2, farmares_entry},
    {"FARMAFITMEAN", 4, 5, farmafitmean_entry},
    {"FARMAINFO", 9, 2, farmainfo_entry},
    {"VARMAFCST", 9, 3, varmafcst_entry},
    {"VARMARES", 7, 3, varmares_entry},
    {"VARMAINFO", 7, 2, varmainfo_entry},
};
constexpr std::int32_t kRoutineCount = std::int32_t(std::size(kRoutines));

static_assert(names_fit(kRoutines), "a registered name must fit its record with its terminator");

constexpr std::array<mcn_registration, kRoutineCount> kRegistrationTable = records(kRoutines);

}  // namespace

// Module descriptor (and the eight bytes that follow it) and the image
// information that points at it.
extern const mcn_module_descriptor kModuleDescriptor;
constinit const mcn_module_descriptor kModuleDescriptor =
    module_descriptor("orvmvtst", module_query);

static const char kNotice[] =
    "orvmvtst: forecasts, residuals and standard errors of multivariate and long-memory time "
    "series models";

extern const mcn_image_info kImageInfo;
constinit const mcn_image_info kImageInfo =
    image_info(&kImageInfo, &kModuleDescriptor, "Dec 10 2026", kNotice);

extern "C" void* module_query(std::int32_t type) {
  return answer_query(type, kRoutines, kRegistrationTable.data(), kRoutineCount);
}

}  // namespace mvtsa

// Hands the module the service table of the host that calls on this thread
// (null: none) and returns the image-information record.
extern "C" __attribute__((visibility("default"))) void* mcn_main(const mcn_host_table* table,
                                                                 void* /*second*/) {
  mvtsa::set_host_table(table);
  return const_cast<mcn_image_info*>(&mvtsa::kImageInfo);
}
