// The role checks of the argument list, called directly on argument blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/host.hpp"
#include "module/frame/args.hpp"

namespace {

using mvts::Value;

class Args : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  int last_message() const {
    const auto& m = host_.current().messages;
    return m.empty() ? 0 : m.back().number;
  }
  mvts::Host host_;
};

TEST_F(Args, GivenMeansCountAndNonNullSlot) {
  mvts::ArgumentBlock b({Value::scalar(1), Value::omitted(), Value::no_value()});
  mvtsa::ArgList in(b.slots(), b.given());
  EXPECT_TRUE(in.given(0));
  EXPECT_FALSE(in.given(1));
  EXPECT_TRUE(in.given(2));
  EXPECT_FALSE(in.given(3));
  std::int32_t two = 1;  // a count of 1: slot 2 is not read
  mvtsa::ArgList fewer(b.slots(), &two);
  EXPECT_FALSE(fewer.given(2));
}

TEST_F(Args, CoefficientMatrixChecksInOrder) {
  const Value ok = Value::matrix(4, 2, {0.5, 0, 0, 0.5, 0.1, 0, 0, 0.1});
  mvts::ArgumentBlock b({ok, Value::matrix(3, 2, {1, 2, 3, 4, 5, 6}), Value::scalar(1),
                         Value::row({1, 2, 3, 4}), Value::matrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1}),
                         Value::matrix(2, 2, {1, NAN, 0, 1})});
  mvtsa::ArgList in(b.slots(), b.given());
  int dim = 0, blocks = 0;
  mvtsa::MatrixArg m;
  EXPECT_EQ(in.coefficients(0, "AR", &dim, &m, &blocks), 0);
  EXPECT_EQ(dim, 2);
  EXPECT_EQ(blocks, 2);
  EXPECT_EQ(in.coefficients(1, "MA", &dim, &m, &blocks), 100);
  EXPECT_EQ(last_message(), 355);
  EXPECT_EQ(std::get<std::string>(host_.current().messages.back().inserts[0]), "MA");
  EXPECT_EQ(in.coefficients(2, "MA", &dim, &m, &blocks), 100);
  EXPECT_EQ(last_message(), 351);
  EXPECT_EQ(in.coefficients(3, "MA", &dim, &m, &blocks), 100);
  EXPECT_EQ(std::get<std::string>(host_.current().messages.back().inserts[0]), "vector");
  EXPECT_EQ(in.coefficients(4, "MA", &dim, &m, &blocks), 100);
  EXPECT_EQ(last_message(), 352);
  EXPECT_EQ(in.coefficients(5, "MA", &dim, &m, &blocks), 17);
}

TEST_F(Args, LagListCountsElementsBeforeDroppingRepeats) {
  mvts::ArgumentBlock b({Value::row({3, 1, 3}), Value::row({3, 1}), Value::row({0, 1}),
                         Value::matrix(2, 2, {1, 2, 3, 4}), Value::scalar(2),
                         Value::row({-1, 2}), Value::row({3e9, 1})});
  mvtsa::ArgList in(b.slots(), b.given());
  mvtsa::LagList lags;
  EXPECT_EQ(in.lag_list(0, 2, "AR", &lags), 100);
  EXPECT_EQ(last_message(), 356);
  EXPECT_EQ(in.lag_list(1, 2, "AR", &lags), 0);
  EXPECT_EQ(lags.lags, (std::vector<double>{1, 3}));
  EXPECT_EQ(lags.order, 3);
  EXPECT_EQ(in.lag_list(2, 2, "AR", &lags), 100);
  EXPECT_EQ(last_message(), 353);
  EXPECT_EQ(in.lag_list(3, 4, "AR", &lags), 100);
  EXPECT_EQ(last_message(), 351);
  EXPECT_EQ(in.lag_list(4, 1, "MA", &lags), 0);  // a 1 x 1 list is accepted
  EXPECT_EQ(lags.order, 2);
  EXPECT_EQ(in.lag_list(5, 2, "AR", &lags), 100);
  EXPECT_EQ(last_message(), 353);
  EXPECT_EQ(in.lag_list(6, 2, "AR", &lags), 18);
}

TEST_F(Args, BlocksGoInTheirGivenOrderToAscendingLags) {
  // Blocks 1 and 2 with list (3, 1): block 1 at lag 1, block 2 at lag 3.
  const double blocks[8] = {1, 1, 1, 1, 2, 2, 2, 2};
  for (const std::vector<double>& list : {std::vector<double>{3, 1}, std::vector<double>{1, 3}}) {
    mvtsa::LagList lags;
    mvtsa::normalise_lags(list.data(), 2, &lags);
    std::vector<double> out(12, -1.0);
    mvtsa::spread_blocks(blocks, 2, 2, lags, out.data());
    EXPECT_EQ(out, (std::vector<double>{1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 2, 2}));
  }
}

TEST_F(Args, RepeatedLagsKeepTheFirstBlocksAndFractionalLagsPlaceNothing) {
  const double blocks[12] = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3};
  mvtsa::LagList lags;
  const double list[3] = {2, 2, 1};
  mvtsa::normalise_lags(list, 3, &lags);
  EXPECT_EQ(lags.order, 2);
  std::vector<double> out(8, -1.0);
  mvtsa::spread_blocks(blocks, 3, 2, lags, out.data());
  EXPECT_EQ(out, (std::vector<double>{1, 1, 1, 1, 2, 2, 2, 2}));
  const double frac[2] = {1.5, 3};
  mvtsa::normalise_lags(frac, 2, &lags);
  std::vector<double> f(12, -1.0);
  mvtsa::spread_blocks(blocks, 2, 2, lags, f.data());
  EXPECT_EQ(f, (std::vector<double>{0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2}));
}

TEST_F(Args, WholeNumberAndSeedScalars) {
  mvts::ArgumentBlock b({Value::scalar(2.9), Value::scalar(0.5), Value::scalar(3e9),
                         Value::column({1, 2}), Value::scalar(-4.5), Value::matrix(0, 1, {}),
                         Value::scalar(2147483647.0)});
  mvtsa::ArgList in(b.slots(), b.given());
  std::int64_t n = 0;
  double seed = 0;
  EXPECT_EQ(in.whole_number(0, &n), 0);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(in.whole_number(1, &n), 100);
  EXPECT_EQ(in.whole_number(2, &n), 18);
  EXPECT_EQ(in.whole_number(3, &n), 15);
  EXPECT_EQ(in.seed(3, &seed), 15);
  EXPECT_EQ(in.seed(4, &seed), 0);
  EXPECT_EQ(seed, -4.5);
  EXPECT_EQ(in.whole_number(5, &n), 15);  // an empty matrix is no scalar
  EXPECT_EQ(in.whole_number(6, &n), 0);
  EXPECT_EQ(n, 2147483647);
}

TEST_F(Args, SeriesScreeningMarksValuesBeyondTheBoundMissing) {
  const double y[6] = {1.0, 1e200, INFINITY, -2.0, NAN, -1e153};
  double copy[6];
  EXPECT_TRUE(mvtsa::screen_series(y, 3, 2, false, copy));
  // 1e200 at (row 0, column 1) and -1e153 at (row 2, column 1); the infinity
  // and the NaN are simply missing.
  const auto& m = host_.current().messages;
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].number, 368);
  EXPECT_EQ(std::get<std::int64_t>(m[0].inserts[0]), 1);
  EXPECT_EQ(std::get<std::int64_t>(m[0].inserts[1]), 0);
  EXPECT_EQ(std::get<std::int64_t>(m[1].inserts[1]), 2);
  EXPECT_EQ(copy[0], 1.0);
  EXPECT_TRUE(std::isnan(copy[1]));
  EXPECT_TRUE(std::isinf(copy[2]));
  EXPECT_TRUE(std::isnan(copy[5]));
  // The fits also report infinities.
  EXPECT_TRUE(mvtsa::screen_series(y, 3, 2, true, nullptr));
  EXPECT_EQ(host_.current().messages.size(), 5u);
  const double clean[2] = {1.0, 2.0};
  EXPECT_FALSE(mvtsa::screen_series(clean, 1, 2, true, nullptr));
}

}  // namespace
