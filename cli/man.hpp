// Documents generated from the catalogue and the general help, so that they
// say what `mvts help` says: the manual page mvts(1) (roff, for man) and the
// bash completion script (function names, their inputs as NAME=, the
// commands and options).  The build writes both with `mvts --man` and
// `mvts --bash-completion`.
#pragma once

#include <string>
#include <string_view>

namespace mvts::cli {

// The page in the man(7) macros, version in its header.
std::string man_page(std::string_view version);

// A bash script defining the completion function _mvts for the command mvts.
std::string bash_completion();

// Text made safe for a roff text line: backslashes as \e, hyphen-minus as
// \- (an option or a minus sign is copied as typed), and a line starting
// with a control character ('.' or '\'') guarded by \&.
std::string roff_escape(std::string_view text);

}  // namespace mvts::cli
