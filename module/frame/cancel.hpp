// Whether the caller has asked the running call to stop: the one host
// service a numerical kernel may ask (through the host's cancel_requested
// cell, one atomic load), so that a long loop ends the call soon after
// Ctrl-C.  Kernels ask every few thousand operations and hand a code of
// their own back; the entry point then ends the call with cancelled()
// (frame/host.hpp), message 398.
#pragma once

namespace mvtsa {

// True once the caller has asked the running call to stop.  False where no
// host table is set or the host has no such service.
bool cancel_requested();

}  // namespace mvtsa
