// The entry points of the statistics module (records.cpp registers them,
// one row of its registration table each): forecasts, residuals, standard
// errors and sample statistics of the models of orvmvtsa, run under the same
// guard as the twelve (module/frame/entries.hpp).
#pragma once

#include <cstdint>

#include "module/frame/entries.hpp"

extern "C" {
std::int32_t vtsacf_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmafcst_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmares_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmafitmean_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t farmainfo_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t varmafcst_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t varmares_entry(void** args, const std::int32_t* given) noexcept;
std::int32_t varmainfo_entry(void** args, const std::int32_t* given) noexcept;
}
