// Several sessions in one process: each keeps its own host table, generator
// streams, message log and memory for the whole of every call, whether they
// are used one after the other on one thread or on several threads at once.
// scripts/tsan.sh runs this file under ThreadSanitizer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/host.hpp"
#include "tests/support/series.hpp"

namespace {

using mvts::CallResult;
using mvts::Session;
using mvts::Value;
using test_support::series;

const Value kNone = Value::omitted();

Value diag2(double x) { return Value::matrix(2, 2, {x, 0, 0, x}); }

// FNV-1a over everything a caller sees of a call: status, raised error,
// messages (number and text), notes and every output bit for bit.
struct Digest {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  void bytes(const void* p, std::size_t n) {
    auto* c = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ c[i]) * 0x100000001b3ULL;
  }
  void word(std::int64_t v) { bytes(&v, sizeof v); }
  void text(const std::string& s) {
    word(std::int64_t(s.size()));
    bytes(s.data(), s.size());
  }
};

std::uint64_t digest(const CallResult& r) {
  Digest d;
  d.word(r.status);
  d.word(r.raised_error);
  for (const mvts::Message& m : r.messages) {
    d.word(m.number);
    d.text(m.text);
  }
  for (const std::string& n : r.notes) d.text(n);
  for (const auto& out : r.outputs) {
    d.word(out ? 1 : 0);
    if (!out) continue;
    d.word(out->rows);
    d.word(out->cols);
    d.bytes(out->data.data(), out->data.size() * sizeof(double));
  }
  return d.h;
}

struct Call {
  const char* name;
  std::vector<Value> args;
};

// The i-th call of session s.  Most simulations continue the session's own
// stream (seed 0), every fifth restarts it, so that the results depend on
// every earlier simulating call of that session and of no other.  The mix
// takes in every function, argument errors with their messages, and now and
// then a fit, which runs the optimizer module through the host.
Call mixed_call(int s, int i) {
  const double seed = i % 5 == 0 ? -(1000.0 * s + i + 1) : 0.0;
  const double x = 0.1 + 0.01 * ((s + i) % 7);  // varies the coefficients a little
  if (i % 500 == 250) return {"VARMAFIT", {series(30, 2), Value::scalar(1)}};
  if (i % 500 == 499) return {"FARMAFIT", {series(40, 1), Value::scalar(1)}};
  switch ((i * 7 + s) % 13) {
    case 0:
      return {"VNORMAL", {Value::row({1, 2}), diag2(1 + x), Value::scalar(4), Value::scalar(seed)}};
    case 1:
      return {"VARMASIM", {diag2(x), diag2(0.2), kNone, kNone, Value::scalar(12), kNone, kNone,
                           kNone, Value::scalar(seed)}};
    case 2:
      return {"VARMACOV", {diag2(x), diag2(0.2), diag2(1), kNone, kNone, Value::scalar(4)}};
    case 3:
      return {"VARMALIK", {series(15, 2), diag2(x), diag2(0.2), kNone, kNone, kNone,
                           Value::scalar(i % 3)}};
    case 4:
      return {"VTSROOT", {Value::matrix(2, 2, {0.5, x, 0.2, 0.3}), diag2(0.4)}};
    case 5:
      return {"FDIF", {Value::row({1, 2, 3, 4, 5, 6}), Value::scalar(x)}};
    case 6:
      return {"FARMACOV", {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(x), kNone,
                           kNone, kNone, Value::scalar(6)}};
    case 7:
      return {"FARMASIM", {Value::scalar(0.3), Value::scalar(0.5), kNone, kNone, kNone,
                           Value::scalar(15), kNone, kNone, kNone, Value::scalar(seed)}};
    case 8:
      return {"FARMALIK", {series(20, 1), Value::scalar(0.3), Value::scalar(x), kNone, kNone,
                           kNone, kNone, Value::scalar(i % 2)}};
    case 9:
      return {"UCMSIM", {Value::scalar(10), Value::scalar(1), Value::row({1, 0, 4, 0.9, 0.1}),
                         kNone, kNone, kNone, Value::row({1, 2, 3}), kNone, kNone, kNone, kNone,
                         Value::scalar(0.5), Value::scalar(10), Value::scalar(seed)}};
    case 10:  // a missing value in an argument: status 17
      return {"VARMACOV", {Value::matrix(2, 2, {0.5, std::nan(""), 0, 0.5}), kNone, diag2(1)}};
    case 11:  // a stopping message with an insert
      return {"VARMACOV", {Value::matrix(3, 2, {0.5, 0, 0, 0.5, 0.1, 0}), kNone, diag2(1)}};
    default:  // a note with inserts, and a shortened series
      return {"VARMASIM", {diag2(3), kNone, kNone, kNone, Value::scalar(400), kNone, kNone,
                           kNone, Value::scalar(seed == 0 ? 7 : seed)}};
  }
}

std::unique_ptr<Session> new_session(int s) {
  auto session = std::make_unique<Session>();
  session->set_clock_seed(std::uint32_t(s + 1));
  return session;
}

TEST(Sessions, AnInnerSessionLeavesTheOuterOneIntact) {
  const std::vector<Value> cov = {diag2(0.5), diag2(0.2), diag2(1), kNone, kNone,
                                  Value::scalar(3)};
  const std::vector<Value> draw = {Value::row({0, 0}), diag2(1), Value::scalar(3),
                                   Value::scalar(0)};
  // The reference: one session alone, started with the same clock seed.
  Session ref;
  ref.set_clock_seed(5);
  const CallResult ref_cov = ref.call("VARMACOV", cov);
  const CallResult ref_first = ref.call("VNORMAL", draw);
  const CallResult ref_second = ref.call("VNORMAL", draw);
  ASSERT_EQ(ref_cov.status, 0);
  ASSERT_EQ(ref_second.status, 0);

  Session a;
  a.set_clock_seed(5);
  EXPECT_EQ(digest(a.call("VARMACOV", cov)), digest(ref_cov));
  EXPECT_EQ(digest(a.call("VNORMAL", draw)), digest(ref_first));
  {
    Session b;
    b.set_clock_seed(9);
    const CallResult rb = b.call("VNORMAL", draw);
    EXPECT_EQ(rb.status, 0);
    EXPECT_NE(digest(rb), digest(ref_first));  // b's stream is its own
    EXPECT_EQ(b.call("VARMACOV", cov).status, 0);
  }
  // a reads its arguments, allocates and draws through its own table after
  // b's is gone, and its stream continues where it stopped.
  EXPECT_EQ(digest(a.call("VARMACOV", cov)), digest(ref_cov));
  EXPECT_EQ(digest(a.call("VNORMAL", draw)), digest(ref_second));
  EXPECT_EQ(a.live_blocks(), 0);
}

TEST(Sessions, InterleavedSessionsKeepTheirOwnMessagesAndMemory) {
  Session a, b;
  const CallResult ra =
      a.call("VARMACOV", {Value::matrix(3, 2, {0.5, 0, 0, 0.5, 0.1, 0}), kNone, diag2(1)});
  const CallResult rb = b.call("FDIF", {Value::row({1, 2, 3}), Value::scalar(0.4)});
  ASSERT_EQ(ra.status, 100);
  ASSERT_EQ(ra.messages.size(), 1u) << ra.messages[0].text;
  EXPECT_EQ(ra.messages[0].number, 355);
  EXPECT_EQ(rb.status, 0);
  EXPECT_TRUE(rb.messages.empty());
  // A failed allocation set up on b fails b's next call only.
  b.fail_allocation_at(1);
  EXPECT_EQ(a.call("FDIF", {Value::row({1, 2, 3}), Value::scalar(0.4)}).status, 0);
  EXPECT_EQ(b.call("FDIF", {Value::row({1, 2, 3}), Value::scalar(0.4)}).status, 1);
  EXPECT_EQ(a.live_blocks(), 0);
  EXPECT_EQ(b.live_blocks(), 0);
}

// 4 threads, each with 4 sessions of its own, make 1000 mixed calls on each
// session, taking the sessions in turn; midway each thread also uses a
// short-lived fifth session.  Every call's result must be bit-identical to
// the same session's calls made serially on one thread.
TEST(Sessions, FourThreadsOfFourSessionsMatchASerialRun) {
  constexpr int kThreads = 4, kPerThread = 4, kCalls = 1000;
  constexpr int kSessions = kThreads * kPerThread;
  using Digests = std::vector<std::vector<std::uint64_t>>;  // [session][call]

  auto run = [&](int first, Digests* out) {
    std::vector<std::unique_ptr<Session>> sessions;
    for (int j = 0; j < kPerThread; ++j) sessions.push_back(new_session(first + j));
    for (int i = 0; i < kCalls; ++i) {
      for (int j = 0; j < kPerThread; ++j) {
        const Call c = mixed_call(first + j, i);
        (*out)[std::size_t(first + j)][std::size_t(i)] = digest(sessions[std::size_t(j)]->call(
            c.name, c.args));
      }
      if (i == kCalls / 2) {
        Session passing;
        const Call c = mixed_call(first, 1);
        (void)passing.call(c.name, c.args);
      }
    }
    for (auto& s : sessions) {
      EXPECT_EQ(s->live_blocks(), 0);
      EXPECT_EQ(s->live_pools(), 0);
    }
  };

  Digests serial(kSessions, std::vector<std::uint64_t>(kCalls));
  for (int t = 0; t < kThreads; ++t) run(t * kPerThread, &serial);

  Digests threaded(kSessions, std::vector<std::uint64_t>(kCalls));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(run, t * kPerThread, &threaded);
  for (std::thread& th : threads) th.join();

  int differing = 0;
  for (int s = 0; s < kSessions; ++s)
    for (int i = 0; i < kCalls; ++i)
      if (threaded[std::size_t(s)][std::size_t(i)] != serial[std::size_t(s)][std::size_t(i)]) {
        if (++differing <= 5) ADD_FAILURE() << "session " << s << " call " << i << " differs";
      }
  EXPECT_EQ(differing, 0);
}

}  // namespace
