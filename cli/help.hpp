// The texts of `mvts help`, `mvts help FUNCTION` and `mvts list`.
#pragma once

#include <string>

#include "host/catalog.hpp"

namespace mvts::cli {

std::string usage_text();
std::string list_text();
std::string help_text(const FunctionDoc& f);

}  // namespace mvts::cli
