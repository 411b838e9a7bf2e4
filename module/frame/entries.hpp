// The twelve registered entry points (records.cpp registers them, one row of
// its registration table each) and the guard that every entry point runs its
// body under.
#pragma once

#include <cstdint>
#include <new>

#include "module/blas/blas.hpp"
#include "module/frame/host.hpp"

extern "C" {
std::int32_t vnormal_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t varmacov_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t varmafit_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t varmalik_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t varmasim_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t vtsroot_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmalik_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmasim_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmacov_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmafit_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t fdif_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t ucmsim_entry(void** args, const std::int32_t* given) noexcept;
}

namespace mvtsa {

// The functions whose outputs hold missing values by contract (the list and
// its rules are in finite_outputs.cpp); every other function promises a
// number in every element of every output it creates.
enum class MissingByContract { kNone, kFdif, kFarmalik, kFarmafit, kFarmainfo, kVarmares };

// The check at the end of every successful call: a value that is not a
// finite number where the function promises one is an overflow, and the
// call fails (message 381 naming the output, row and column; status 1)
// instead of returning missing values with status 0.
int check_finite_outputs(MissingByContract contract);

// Runs an entry body so that no exception crosses the C boundary, a
// floating-point fault recorded by a vector kernel ends the call as a host
// error (status 1), and a successful call has returned finite numbers
// wherever it promises them.
template <class Body>
std::int32_t run_entry(Body body, MissingByContract contract = MissingByContract::kNone) noexcept {
  clear_fp_fault();
  forget_created_outputs();
  int status;
  try {
    status = body();
  } catch (const std::bad_alloc&) {
    status = allocation_failed();
  } catch (...) {
    raise_error(MCN_ERROR_INTERNAL);
    status = kStatusHostError;
  }
  if (fp_fault() != kFpNone && status != kStatusHostError) {
    raise_error(MCN_ERROR_FLOATING_POINT);
    status = kStatusHostError;
  }
  clear_fp_fault();
  if (status == kStatusOk) status = check_finite_outputs(contract);
  forget_created_outputs();
  return status;
}

}  // namespace mvtsa
