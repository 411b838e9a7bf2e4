// Cancelling a call from another thread (Host::cancel, what Ctrl-C and
// Session.cancel do): each long loop of the module asks the host, and the
// call ends with message 398, its memory given back and the session usable.
// Each call here runs for many seconds uncancelled (tens of seconds for the
// VARMAFIT of a moving average at lag 200, the FARMACOV whose 1000 AR
// roots lie within 2e-5 of the unit circle, the search for the 5000
// zeros of an AR polynomial, and the eigenvalues of a companion matrix of
// order 3000); the bound on how soon it ends
// after the request is a generous 10 s, so the test does not depend on the
// machine.
// scripts/tsan.sh runs this file under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "host/host.hpp"
#include "tests/support/series.hpp"

namespace {

using mvts::CallResult;
using mvts::Session;
using mvts::Value;

const Value kNone = Value::omitted();

bool has_message(const CallResult& r, int number) {
  for (const auto& m : r.messages)
    if (m.number == number) return true;
  return false;
}

// Runs the call on a thread, cancels it after `delay`, and returns the
// result with the seconds from the request to the call's end.
CallResult cancel_after(Session& s, const std::string& name, const std::vector<Value>& args,
                        std::chrono::milliseconds delay, double* seconds) {
  CallResult r;
  std::thread t([&] { r = s.call(name, args); });
  std::this_thread::sleep_for(delay);
  const auto asked = std::chrono::steady_clock::now();
  s.cancel();
  t.join();
  *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  return r;
}

TEST(Cancel, EveryLongLoopEndsTheCallWithMessage398) {
  Session s;
  // A bivariate autoregression with one block at lag 52, 2000 rows.
  const CallResult sim = s.call("VARMASIM", {Value::matrix(2, 2, {0.5, 0.1, 0.0, 0.3}), kNone, kNone,
                                             kNone, Value::scalar(2000), Value::scalar(52), kNone,
                                             kNone, Value::scalar(1)});
  ASSERT_EQ(sim.status, 0);
  ASSERT_TRUE(sim.outputs.at(0));
  const Value var52 = Value::matrix(2000, 2, sim.outputs[0]->data);
  const Value long_series = test_support::series(60000, 1);
  struct Case {
    const char* what;
    std::string name;
    std::vector<Value> args;
  };
  const Case cases[] = {
      {"VARMAFIT: optimizer and Kalman filter", "VARMAFIT", {var52, kNone, Value::scalar(200)}},
      {"VARMALIK method 2: Kalman filter", "VARMALIK",
       {test_support::series(40000, 2), Value::matrix(2, 2, {0.5, 0.1, 0.0, 0.3}),
        Value::matrix(2, 2, {0.2, 0.0, 0.0, 0.2}), kNone, Value::scalar(52), Value::scalar(60)}},
      {"FARMACOV: one table per AR root", "FARMACOV",
       {Value::scalar(0.3), Value::column({0.01, 0.98}), kNone, kNone, Value::column({1, 1000}),
        kNone, Value::scalar(5)}},
      {"FARMACOV: the zeros of an AR polynomial of degree 5000", "FARMACOV",
       {Value::scalar(0.45), Value::column({0.5, 0.1}), kNone, kNone, Value::column({1, 5000}),
        kNone, Value::scalar(5)}},
      {"VTSROOT: the eigenvalues of a companion matrix of order 3000", "VTSROOT",
       {Value::matrix(4, 2, {0.5, 0.0, 0.0, 0.5, 0.1, 0.0, 0.0, 0.1}), kNone,
        Value::column({1, 1500})}},
      {"VARMASIM: the stationarity test on a companion matrix of order 3000", "VARMASIM",
       {Value::matrix(4, 2, {0.5, 0.0, 0.0, 0.5, 0.1, 0.0, 0.0, 0.1}), kNone, kNone, kNone,
        Value::scalar(100), Value::column({1, 1500})}},
      // From n = 2048 the exact likelihood takes the superfast route (some
      // 80 ms at 60000); at 1e6 its recursion runs for seconds.
      {"FARMALIK exact: superfast recursion", "FARMALIK",
       {test_support::series(1000000, 1), Value::scalar(0.3), Value::scalar(0.5), kNone, kNone,
        kNone, kNone, Value::scalar(1)}},
      // d = 0.49 with an AR root of 0.99: the superfast route declines (its
      // predictor check) and Durbin-Levinson runs for seconds.
      {"FARMALIK exact: Durbin-Levinson", "FARMALIK",
       {long_series, Value::scalar(0.49), Value::scalar(0.99), kNone, kNone, kNone, kNone,
        Value::scalar(1)}},
      {"FARMAFIT exact: optimizer", "FARMAFIT",
       {long_series, Value::scalar(1), kNone, Value::scalar(1)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    double seconds = 0.0;
    const CallResult r = cancel_after(s, c.name, c.args, std::chrono::milliseconds(300), &seconds);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(has_message(r, 398));
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(s.live_blocks(), 0);
    EXPECT_EQ(s.live_pools(), 0);
    EXPECT_EQ(s.open_utility_files(), 0);
  }
  // The session goes on as a fresh one would.
  Session fresh;
  const std::vector<Value> cov = {Value::matrix(2, 2, {0.5, 0.1, 0.0, 0.3})};
  const CallResult after = s.call("VARMACOV", cov), want = fresh.call("VARMACOV", cov);
  ASSERT_EQ(after.status, 0);
  ASSERT_TRUE(after.outputs.at(0) && want.outputs.at(0));
  EXPECT_EQ(after.outputs[0]->data, want.outputs[0]->data);
}

// A request made while no call runs is forgotten when the next one starts.
TEST(Cancel, RequestBetweenCallsIsForgotten) {
  Session s;
  s.cancel();
  const CallResult r = s.call("FARMACOV", {Value::scalar(0.3), Value::scalar(0.5)});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(has_message(r, 398));
}

}  // namespace
