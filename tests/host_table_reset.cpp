// Linked into every test executable: after each test the module code linked
// into the executable forgets the host table a test handed it
// (mvtsa::set_host_table).  The table belongs to a host the test owned and
// has destroyed, and the kernels ask it whether the call has been cancelled
// (frame/cancel.hpp), so a table left behind would be read after its host
// is gone by the next test that runs a kernel without a host of its own.
#include <gtest/gtest.h>

#include "module/frame/host.hpp"

namespace {

class HostTableReset : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo&) override { mvtsa::set_host_table(nullptr); }
};

const bool kRegistered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new HostTableReset);
  return true;
}();

}  // namespace
