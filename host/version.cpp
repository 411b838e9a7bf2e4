// The library's version.  MVTS_VERSION is the project version of the build
// (CMakeLists.txt's project()), the one place it is written.
#include "host/host.hpp"

namespace mvts {

const char* version() { return MVTS_VERSION; }

}  // namespace mvts
