// The two kinds of failure of the command line that are not a call's.
#pragma once

#include <stdexcept>

namespace mvts::cli {

// Bad syntax, an unknown name or an unreadable file: exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be written, or a result of the command line that
// cannot fit in memory: exit status 1, like a failed call.
class ResourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace mvts::cli
