// Text from a file or a command line shown on a terminal or in a message.
#pragma once

#include <string>
#include <string_view>

namespace mvts::cli {

// Text from a file or a command line made safe to show on a terminal:
// control bytes, bytes that are not UTF-8, C1 controls and the characters
// that reorder bidirectional text are written as \xNN or \uNNNN escapes,
// and '"' and '\' are escaped, so that no byte of the text can act on the
// terminal.
std::string printable(std::string_view text);

// printable(text) in double quotes, cut after 60 bytes (at a character
// boundary, "..." marking the cut).
std::string in_quotes(std::string_view text);

}  // namespace mvts::cli
