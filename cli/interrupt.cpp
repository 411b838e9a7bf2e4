#include "cli/interrupt.hpp"

#include <atomic>
#include <csignal>

namespace mvts::cli {
namespace {

// What the handler touches: lock-free atomics only, so that it is safe to
// run between any two instructions of the main program.
std::atomic<Host*> g_host{nullptr};
volatile std::sig_atomic_t g_interrupted = 0;
struct sigaction g_previous {};

extern "C" void on_interrupt(int) {
  g_interrupted = 1;
  if (Host* h = g_host.load()) h->cancel();
}

}  // namespace

InterruptGuard::InterruptGuard(Host& host) {
  static_assert(std::atomic<Host*>::is_always_lock_free);
  g_host.store(&host);
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;  // the second Ctrl-C takes the default action
  sigaction(SIGINT, &sa, &g_previous);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &g_previous, nullptr);
  g_host.store(nullptr);
}

bool interrupted() { return g_interrupted != 0; }

}  // namespace mvts::cli
