// The texts of `mvts help`, `mvts help FUNCTION` and `mvts list`.
#pragma once

#include <string>
#include <vector>

#include "host/catalog.hpp"

namespace mvts::cli {

// A block of the general help: the man page's section heading and the text
// `mvts help` prints, laid out for a terminal.
struct HelpBlock {
  const char* heading;
  const char* text;
};

std::string usage_text();
// The parts usage_text() is made of: the command forms and the blocks.
std::vector<std::string> synopsis_lines();
std::vector<HelpBlock> help_blocks();
std::string list_text();
std::string help_text(const FunctionDoc& f);

}  // namespace mvts::cli
