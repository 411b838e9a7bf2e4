// The argument-check loop of the entry-point tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.hpp"

namespace test_support {

// One call with a faulty argument: what is wrong, the arguments, the status
// the call must end with and the number of the message that stops it (0: the
// status alone names the fault and the call issues no message).
struct ArgumentCase {
  std::string what;
  std::vector<mvts::Value> args;
  int status;
  int message;
};

// The numbers of the messages a call issued, in their order.
inline std::vector<int> message_numbers(const mvts::CallResult& r) {
  std::vector<int> v;
  for (const mvts::Message& m : r.messages) v.push_back(m.number);
  return v;
}

// Calls `name` with each case's arguments.  Every call ends with the case's
// status; its messages are `notes` (the notes the function issues on entry,
// before any check) followed by the case's message, if any; it creates no
// output and leaves no work block behind.
inline void expect_argument_failures(mvts::Session& s, const char* name,
                                     const std::vector<ArgumentCase>& cases,
                                     const std::vector<int>& notes = {}) {
  for (const ArgumentCase& c : cases) {
    SCOPED_TRACE(std::string(name) + ": " + c.what);
    const mvts::CallResult r = s.call(name, c.args);
    EXPECT_EQ(r.status, c.status);
    std::vector<int> want = notes;
    if (c.message) want.push_back(c.message);
    EXPECT_EQ(message_numbers(r), want);
    for (std::size_t i = 0; i < notes.size() && i < r.messages.size(); ++i)
      EXPECT_TRUE(r.messages[i].note) << "message " << i;
    for (const auto& out : r.outputs) EXPECT_FALSE(out.has_value());
    EXPECT_EQ(s.live_blocks(), 0);
  }
}

}  // namespace test_support
