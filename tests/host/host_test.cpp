// The host's own services: the sweep operator, utility files, pools,
// temporary blocks, module loading, messages and the context record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "abi/mcn_abi.h"
#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/sweep_inverse.hpp"

namespace {

class HostServices : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  mvts::Host host_;
};

std::vector<double> random_spd(int k, std::mt19937& gen) {
  std::normal_distribution<double> N;
  std::vector<double> b(std::size_t(k * k)), a(std::size_t(k * k), 0.0);
  for (double& x : b) x = N(gen);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) {
      for (int l = 0; l < k; ++l) a[i * k + j] += b[i * k + l] * b[j * k + l];
      if (i == j) a[i * k + j] += 0.5;
    }
  return a;
}

TEST_F(HostServices, SweepingEveryPivotLeavesTheInverse) {
  std::mt19937 gen(3);
  for (int k = 1; k <= 7; ++k) {
    const std::vector<double> a = random_spd(k, gen);
    std::vector<double> p(std::size_t(mvtsa::packed_size(k))), work(static_cast<std::size_t>(k));
    std::vector<char> flags(static_cast<std::size_t>(k));
    mvtsa::pack_symmetric(a.data(), k, p.data());
    ASSERT_EQ(mvtsa::sweep_inverse(p.data(), k, flags.data(), work.data()), k);
    for (int i = 0; i < k; ++i) {
      EXPECT_EQ(flags[i], '1');
      for (int j = 0; j < k; ++j) {
        double s = 0;
        for (int l = 0; l < k; ++l) s += a[i * k + l] * p[mvtsa::packed_index(l, j)];
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-10) << "k " << k;
      }
    }
  }
}

TEST_F(HostServices, SweepingASubsetLeavesTheInverseOfItsBlock) {
  // A = [[4, 2, 1], [2, 3, 0.5], [1, 0.5, 2]]; sweep pivots 0 and 1 only.
  const double a[9] = {4, 2, 1, 2, 3, 0.5, 1, 0.5, 2};
  double p[6];
  char flags[3] = {'0', '0', '0'};
  mvtsa::pack_symmetric(a, 3, p);
  EXPECT_EQ(mvtsa::sweep_pivot(p, 0, 3, flags, nullptr, 1e-12), 0);
  EXPECT_EQ(mvtsa::sweep_pivot(p, 1, 3, flags, nullptr, 1e-12), 0);
  EXPECT_EQ(flags[2], '0');
  // inverse of [[4, 2], [2, 3]] = [[3, -2], [-2, 4]] / 8
  EXPECT_NEAR(p[mvtsa::packed_index(0, 0)], 3.0 / 8, 1e-15);
  EXPECT_NEAR(p[mvtsa::packed_index(1, 0)], -2.0 / 8, 1e-15);
  EXPECT_NEAR(p[mvtsa::packed_index(1, 1)], 4.0 / 8, 1e-15);
}

TEST_F(HostServices, PivotAtOrBelowTheToleranceIsNotSwept) {
  const double a[4] = {1, 1, 1, 1};  // singular: the second pivot becomes 0
  double p[3], work[2];
  char flags[2];
  mvtsa::pack_symmetric(a, 2, p);
  EXPECT_EQ(mvtsa::sweep_inverse(p, 2, flags, work), 1);
  EXPECT_EQ(flags[0], '1');
  EXPECT_EQ(flags[1], '0');
  double q[3] = {1, 0, 1};
  char f2[2] = {'0', '0'};
  EXPECT_EQ(mvtsa::sweep_pivot(q, 0, 2, f2, nullptr, 1.0), 1);  // |1| is not above 1
  EXPECT_EQ(f2[0], '0');
  EXPECT_EQ(mvtsa::sweep_pivot(q, 5, 2, f2, nullptr, 0.0), 1);  // no such pivot
}

TEST_F(HostServices, UtilityFilesReadBackInWriteOrderAndVanishOnClose) {
  std::uint8_t desc[240];
  mvtsa::utility_descriptor(desc);
  EXPECT_EQ(std::memcmp(desc + 66, "UTILITY ", 8), 0);
  void* h = nullptr;
  ASSERT_EQ(mvtsa::utility_create(&h, desc), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(host_.open_utility_files(), 1);
  const double a[3] = {1.5, -2, 3}, b[2] = {7, 8};
  ASSERT_EQ(mvtsa::utility_write(h, a, sizeof a), 0);
  ASSERT_EQ(mvtsa::utility_write(h, b, sizeof b), 0);
  ASSERT_EQ(mvtsa::utility_rewind(h), 0);
  double r[5];
  ASSERT_EQ(mvtsa::utility_read(h, r, sizeof r), 0);
  EXPECT_EQ(r[0], 1.5);
  EXPECT_EQ(r[4], 8.0);
  EXPECT_EQ(mvtsa::utility_read(h, r, 8), MCN_UTILITY_READ_FAILED);  // past the end
  EXPECT_EQ(mvtsa::utility_close(h), 0);
  EXPECT_EQ(host_.open_utility_files(), 0);
  EXPECT_EQ(mvtsa::utility_close(h), MCN_UTILITY_CLOSE_FAILED);  // a closed handle is refused
}

// The descriptor the module hands utility_create, byte for byte: blanks at
// 0-7 and 34-65, "UTILITY " at 66, the words 0x84000008 at 80 and 1 at 84,
// zeros everywhere else.
TEST_F(HostServices, UtilityDescriptorBytes) {
  std::uint8_t desc[240];
  std::memset(desc, 0xAB, sizeof desc);
  mvtsa::utility_descriptor(desc);
  std::uint32_t w80 = 0, w84 = 0;
  std::memcpy(&w80, desc + 80, 4);
  std::memcpy(&w84, desc + 84, 4);
  EXPECT_EQ(w80, 0x84000008u);
  EXPECT_EQ(w84, 1u);
  for (int i = 0; i < 240; ++i) {
    if (i >= 80 && i < 88) continue;
    int want = 0;
    if (i < 8 || (i >= 34 && i < 66)) want = ' ';
    if (i >= 66 && i < 74) want = "UTILITY "[i - 66];
    EXPECT_EQ(int(desc[i]), want) << "byte " << i;
  }
}

TEST_F(HostServices, InjectedUtilityFailureGivesANegativeResult) {
  std::uint8_t desc[240];
  mvtsa::utility_descriptor(desc);
  void* h = nullptr;
  host_.fail_utility_at(2);
  ASSERT_EQ(mvtsa::utility_create(&h, desc), 0);
  const double x = 1;
  EXPECT_EQ(mvtsa::utility_write(h, &x, 8), MCN_UTILITY_WRITE_FAILED);
  EXPECT_EQ(mvtsa::utility_write(h, &x, 8), 0);
  EXPECT_EQ(mvtsa::utility_close(h), 0);
  // A refused file leaves no handle and nothing open.
  host_.fail_utility_at(1);
  EXPECT_EQ(mvtsa::utility_create(&h, desc), MCN_UTILITY_CREATE_REFUSED);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(host_.open_utility_files(), 0);
  // A close chosen to fail still closes the file.
  ASSERT_EQ(mvtsa::utility_create(&h, desc), 0);
  host_.fail_utility_at(1);
  EXPECT_EQ(mvtsa::utility_close(h), MCN_UTILITY_CLOSE_FAILED);
  EXPECT_EQ(host_.open_utility_files(), 0);
}

TEST_F(HostServices, PoolReleaseFreesEveryBlock) {
  mcn_allocator* pool = mvtsa::pool_create();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(host_.live_pools(), 1);
  for (int i = 0; i < 10; ++i) {
    auto* p = static_cast<double*>(mvtsa::pool_alloc(pool, 64));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[7], 0.0);  // zero-filled
  }
  mvtsa::pool_release(pool);
  EXPECT_EQ(host_.live_pools(), 0);
  EXPECT_EQ(host_.live_blocks(), 0);
}

// A released pool gives its memory back: what its blocks held leaves the
// host's count of memory in use, so that under a cap on memory live at once
// each new pool can take as much as the one released before it.  A block
// freed alone gives back its own bytes.
TEST_F(HostServices, ReleasedPoolGivesItsMemoryBack) {
  constexpr std::uint64_t kBlock = 64 << 10;
  constexpr int kBlocks = 12;
  const std::uint64_t before = host_.memory_in_use();
  host_.set_memory_limit(before + kBlocks * kBlock + kBlock / 2);
  for (int round = 0; round < 3; ++round) {
    mcn_allocator* pool = mvtsa::pool_create();
    ASSERT_NE(pool, nullptr) << round;
    void* first = nullptr;
    for (int i = 0; i < kBlocks; ++i) {
      void* p = mvtsa::pool_alloc(pool, kBlock);
      ASSERT_NE(p, nullptr) << "round " << round << " block " << i;
      if (i == 0) first = p;
    }
    EXPECT_EQ(host_.memory_in_use(), before + kBlocks * kBlock);
    EXPECT_EQ(mvtsa::pool_alloc(pool, kBlock), nullptr);  // the cap holds
    EXPECT_NE(mvtsa::error_pending(), 0);
    mvtsa::raise_error(mvtsa::error_pending());
    mvtsa::pool_free(pool, first);
    EXPECT_EQ(host_.memory_in_use(), before + (kBlocks - 1) * kBlock);
    mvtsa::pool_release(pool);
    EXPECT_EQ(host_.memory_in_use(), before) << round;
    EXPECT_EQ(host_.live_pools(), 0);
  }
}

TEST_F(HostServices, TemporaryBlockPairs) {
  void* a = mvtsa::temp_a_obtain(100);
  void* b = mvtsa::temp_b_obtain(100);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(host_.live_temp_blocks(), 2);
  mvtsa::temp_a_release(&a);
  mvtsa::temp_b_release(&b);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(host_.live_temp_blocks(), 0);
  host_.fail_allocation_at(1);
  EXPECT_EQ(mvtsa::temp_a_obtain(8), nullptr);
  EXPECT_NE(mvtsa::error_pending(), 0);
}

TEST_F(HostServices, WorkBlocksAreZeroFilledAndCounted) {
  {
    mvtsa::WorkBlock<double> w(1000);
    ASSERT_TRUE(w);
    EXPECT_EQ(w[999], 0.0);
    EXPECT_EQ(host_.live_blocks(), 1);
  }
  EXPECT_EQ(host_.live_blocks(), 0);
  mvtsa::WorkBlock<double> huge(std::uint64_t(1) << 62);  // the byte count overflows
  EXPECT_FALSE(huge);
  EXPECT_EQ(huge.status(), 1);
  EXPECT_EQ(host_.current().raised_error, MCN_ERROR_OUT_OF_MEMORY);
}

TEST_F(HostServices, ModuleLoadingFindsModulesByName) {
  mvts::Session s;  // loads orvmvtsa, which fixes the directory searched first
  s.activate();
  mvtsa::set_host_table(s.table());
  void* handle = nullptr;
  EXPECT_NE(mvtsa::module_load(&handle, "no_such_module"), 0);
  EXPECT_EQ(handle, nullptr);
  ASSERT_EQ(mvtsa::module_load(&handle, "orvmvtsa"), 0);
  ASSERT_NE(handle, nullptr);
  void* entry = nullptr;
  EXPECT_EQ(mvtsa::entry_lookup(handle, &entry), 0);
  EXPECT_NE(entry, nullptr);
  int not_a_handle = 0;
  EXPECT_NE(mvtsa::entry_lookup(&not_a_handle, &entry), 0);
}

TEST_F(HostServices, ContextRecordAndClockSeed) {
  void* host_word = nullptr;
  std::memcpy(&host_word, static_cast<unsigned char*>(mvtsa::context_block()) + 816, 8);
  EXPECT_NE(host_word, nullptr);
  const std::uint32_t s = mvtsa::clock_seed();
  EXPECT_GE(s, 1u);
  EXPECT_LT(s, 2147483647u);
  host_.set_clock_seed(77);
  EXPECT_EQ(mvtsa::clock_seed(), 77u);
}

TEST_F(HostServices, ErrorStateIsPendingUntilRaised) {
  host_.fail_allocation_at(1);
  EXPECT_EQ(mvtsa::host_alloc(16), nullptr);
  const int code = mvtsa::error_pending();
  EXPECT_NE(code, 0);
  mvtsa::raise_error(code);
  EXPECT_EQ(mvtsa::error_pending(), 0);
  EXPECT_EQ(host_.current().raised_error, code);
}

TEST(HostMessages, TextsFillTheirInsertsAndSayWhatWentWrong) {
  using mvts::InsertValue;
  EXPECT_EQ(mvts::message_text(351, {InsertValue(std::string("scalar")),
                                     InsertValue(std::string("matrix"))}),
            "An argument is a scalar where a matrix is required.");
  const std::string t = mvts::message_text(
      368, {InsertValue(std::int64_t(1)), InsertValue(std::int64_t(4)), InsertValue(1e152)});
  EXPECT_NE(t.find("column 1, row 4"), std::string::npos) << t;
  EXPECT_TRUE(mvts::message_is_note(359));
  EXPECT_TRUE(mvts::message_is_note(376));
  EXPECT_FALSE(mvts::message_is_note(353));
  // Every number the module issues has its own text.
  for (int n : {15, 88, 89, 143, 178, 248, 315, 316, 350, 351, 352, 353, 354, 355, 356, 357, 358,
                359, 360, 361, 365, 368, 369, 371, 372, 373, 376, 390}) {
    EXPECT_EQ(mvts::message_text(n, {}).rfind("Message ", 0), std::string::npos) << n;
  }
}

TEST(HostCalls, UnknownFunctionNameIsNotCalled) {
  mvts::Session s;
  EXPECT_EQ(s.call("NOSUCH", {}).status, -1);
  EXPECT_NE(s.find("vnormal"), nullptr);  // names are case-insensitive
}

}  // namespace

namespace {

// A call's state ends with it: the argument blamed, the messages, the error
// left pending and the outputs' place belong to that call only.
TEST(HostCalls, ACallLeavesNothingOfItselfBehind) {
  mvts::Session s;
  using mvts::Value;
  const auto bad = s.call("VNORMAL", {Value::row({0, 0}), Value::matrix(2, 2, {1, 2, 2, 1}),
                                      Value::scalar(3), Value::scalar(1)});
  EXPECT_EQ(bad.status, 8);
  EXPECT_EQ(bad.argument, 2);
  const auto good =
      s.call("VNORMAL", {Value::row({0, 0}), Value::omitted(), Value::scalar(3), Value::scalar(1)});
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(good.argument, 0);
  EXPECT_TRUE(good.messages.empty());
  ASSERT_EQ(good.outputs.size(), 1u);
  ASSERT_TRUE(good.outputs[0].has_value());
  EXPECT_EQ(good.outputs[0]->rows, 3);
  // Between calls no output can be made, and no error is pending.
  s.activate();
  mvtsa::set_host_table(s.table());
  EXPECT_EQ(mvtsa::error_pending(), 0);
  EXPECT_EQ(mvtsa::create_result(1, 1, 1), nullptr);
  EXPECT_EQ(s.current().raised_error, MCN_ERROR_BAD_OUTPUT);
}

// Loading by name and the module_load service share one search: a name that
// is not found says so, a file that is not a module says it cannot be loaded.
TEST(HostCalls, LoadingReportsWhatFailed) {
  mvts::Session s;
  std::string error;
  EXPECT_FALSE(s.load("no_such_module", &error));
  EXPECT_NE(error.find("module no_such_module not found"), std::string::npos) << error;
  const std::string not_a_module = std::string(MVTS_SOURCE_DIR) + "/CMakeLists.txt";
  EXPECT_FALSE(s.load(not_a_module, &error));
  EXPECT_EQ(error.rfind("cannot load " + not_a_module, 0), 0u) << error;
  s.activate();
  mvtsa::set_host_table(s.table());
  void* handle = &error;
  EXPECT_EQ(mvtsa::module_load(&handle, "no_such_module"), 2);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(mvtsa::module_load(&handle, not_a_module.c_str()), 3);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(s.functions().size(), 20u);  // the two modules' functions, no more
}

TEST(HostMemory, TotalLimitRefusesACallThatWouldHoldTooMuch) {
  mvts::Session s;
  const std::uint64_t base = s.memory_in_use();
  // Registration's blocks are given back once the functions are listed, and
  // their bytes with them: a loaded module holds nothing of the budget.
  EXPECT_EQ(base, 0u);
  // 10^5 draws of k = 2: a 1.6 MB result (the deviates are drawn a block
  // of rows at a time into it).
  const std::vector<mvts::Value> args = {mvts::Value::row({0, 0}), mvts::Value::omitted(),
                                         mvts::Value::scalar(1e5), mvts::Value::scalar(1)};
  s.set_memory_limit(1u << 20);
  auto r = s.call("VNORMAL", args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.raised_error, MCN_ERROR_OUT_OF_MEMORY);
  EXPECT_EQ(s.live_blocks(), 0);
  s.set_memory_limit(8u << 20);
  r = s.call("VNORMAL", args);
  EXPECT_EQ(r.status, 0);
  // Outputs belong to the caller once the call returns; work blocks are gone.
  const std::uint64_t rng_record = 40;
  EXPECT_LE(s.memory_in_use(), base + rng_record);
}

}  // namespace
