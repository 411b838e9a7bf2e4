// Multivariate normal draws (mvn_draw, mvn_transform) and the covariance
// argument of the VARMA functions (covariance_argument), called as kernels
// through an active host: the stream they take, their invariances and their
// failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/frame/rng.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/covariance_argument.hpp"
#include "module/varma/mvn_draw.hpp"

namespace {

using Vec = std::vector<double>;

class MvnKernels : public ::testing::Test {
 protected:
  void SetUp() override {
    h_.activate();
    mvtsa::set_host_table(h_.table());
  }
  // n draws of dimension k through mvn_draw; the status in *st.
  Vec draw(const Vec& packed_sigma, const Vec& mu, std::int64_t n, int k, double seed, int* st) {
    Vec out(std::size_t(n * k)), work(std::size_t(k * (k + 1) / 2 + k));
    *st = mvtsa::mvn_draw(out.data(), mu.empty() ? nullptr : mu.data(), packed_sigma.data(), n,
                          k, seed, work.data(), mvtsa::Stream::kVnormal);
    return out;
  }
  // The first `count` standard normal deviates of the generator from `seed`.
  static Vec deviates(std::uint32_t seed, std::int64_t count) {
    Vec z(static_cast<std::size_t>(count));
    mvtsa::rng_normal_fill(&seed, z.data(), count);
    return z;
  }
  mvts::Host h_;
};

TEST(MvnTransform, LowerTriangularProductPerRow) {
  const double l[3] = {2, 1, 3};  // L = [[2, 0], [1, 3]]
  const double z[4] = {1, 2, -1, 0.5};
  double out[4];
  mvtsa::mvn_transform(out, z, l, 2, 2);
  EXPECT_EQ(out[0], 2.0);
  EXPECT_EQ(out[1], 1.0 + 6.0);
  EXPECT_EQ(out[2], -2.0);
  EXPECT_EQ(out[3], -1.0 + 1.5);
}

// With Sigma = I and no mean the draws are the generator's deviates in index
// order, and the stream moves on by k (n + 1): the next call continues k
// deviates past the last row it returned.
TEST_F(MvnKernels, IdentityDrawsAreTheStreamAndTheStreamSkipsOneRow) {
  const int k = 3;
  const Vec eye = {1, 0, 1, 0, 0, 1};
  int st = -2;
  const Vec first = draw(eye, {}, 4, k, -11, &st);  // -11: starts the stream at 11
  ASSERT_EQ(st, 0);
  const Vec next = draw(eye, {}, 2, k, 0, &st);  // 0: the started stream continues
  ASSERT_EQ(st, 0);
  const Vec z = deviates(11, k * (4 + 1) + k * 2);
  for (int i = 0; i < 4 * k; ++i) EXPECT_EQ(first[std::size_t(i)], z[std::size_t(i)]) << i;
  for (int i = 0; i < 2 * k; ++i)
    EXPECT_EQ(next[std::size_t(i)], z[std::size_t(k * 5 + i)]) << i;
}

// Rows drawn in blocks (4096 rows at a time) equal the same rows of a longer
// draw: the block boundary changes no bit, and a row depends only on its
// index and the seed.
TEST_F(MvnKernels, RowsDoNotDependOnTheLengthOrTheBlocks) {
  const Vec sigma = {4, 2, 3};  // [[4, 2], [2, 3]]
  const Vec mu = {1, -2};
  int st = -2;
  const Vec shorter = draw(sigma, mu, 4095, 2, 5, &st);
  ASSERT_EQ(st, 0);
  const Vec longer = draw(sigma, mu, 9000, 2, 5, &st);
  ASSERT_EQ(st, 0);
  for (std::size_t i = 0; i < shorter.size(); ++i) ASSERT_EQ(shorter[i], longer[i]) << i;
}

// x = mu + L z with L L' = Sigma: the sample mean and covariance of many
// draws, against mu and Sigma (each within 5 standard errors).
TEST_F(MvnKernels, SampleMomentsMatchMeanAndCovariance) {
  const int k = 3;
  const Vec full = {2.0, 0.6, -0.3, 0.6, 1.0, 0.2, -0.3, 0.2, 0.5};
  Vec packed(6);
  mvtsa::pack_symmetric(full.data(), k, packed.data());
  const Vec mu = {10, -1, 0.25};
  const std::int64_t n = 200000;
  int st = -2;
  const Vec x = draw(packed, mu, n, k, 123, &st);
  ASSERT_EQ(st, 0);
  for (int a = 0; a < k; ++a) {
    double m = 0;
    for (std::int64_t t = 0; t < n; ++t) m += x[std::size_t(t * k + a)];
    m /= double(n);
    EXPECT_NEAR(m, mu[std::size_t(a)], 5 * std::sqrt(full[std::size_t(a * k + a)] / double(n)));
    for (int b = 0; b <= a; ++b) {
      double c = 0;
      for (std::int64_t t = 0; t < n; ++t)
        c += (x[std::size_t(t * k + a)] - mu[std::size_t(a)]) *
             (x[std::size_t(t * k + b)] - mu[std::size_t(b)]);
      c /= double(n);
      const double saa = full[std::size_t(a * k + a)], sbb = full[std::size_t(b * k + b)],
                   sab = full[std::size_t(a * k + b)];
      EXPECT_NEAR(c, sab, 5 * std::sqrt((saa * sbb + sab * sab) / double(n))) << a << b;
    }
  }
}

TEST_F(MvnKernels, SingularCovarianceAndRefusedMemoryFail) {
  int st = 0;
  (void)draw({1, 1, 1}, {}, 3, 2, 1, &st);  // [[1, 1], [1, 1]]: second pivot 0
  EXPECT_EQ(st, -1);
  // The deviates' block is the draw's one host allocation once the
  // generator record exists.
  (void)draw({1, 0, 1}, {}, 3, 2, 1, &st);
  ASSERT_EQ(st, 0);
  const std::int64_t before = h_.live_blocks();
  h_.fail_allocation_at(1);
  (void)draw({1, 0, 1}, {}, 3, 2, 1, &st);
  EXPECT_EQ(st, mvtsa::kStatusHostError);
  EXPECT_EQ(h_.live_blocks(), before);
}

TEST_F(MvnKernels, CovarianceArgumentVerdicts) {
  Vec packed(3, -1.0);
  EXPECT_EQ(mvtsa::covariance_argument(nullptr, 2, packed.data()), 0);
  EXPECT_EQ(packed, (Vec{1, 0, 1}));  // omitted: the identity

  Vec asym = {1, 0.5, 0.4, 1};
  EXPECT_EQ(mvtsa::covariance_argument(asym.data(), 2, packed.data()), mvtsa::kStatusNotSymmetric);
  Vec missing = {1, NAN, NAN, 1};
  EXPECT_EQ(mvtsa::covariance_argument(missing.data(), 2, packed.data()), mvtsa::kStatusMissing);
  Vec indefinite = {1, 2, 2, 1};
  EXPECT_EQ(mvtsa::covariance_argument(indefinite.data(), 2, packed.data()), mvtsa::kStatusNotPd);
  Vec singular = {1, 1, 1, 1};
  EXPECT_EQ(mvtsa::covariance_argument(singular.data(), 2, packed.data()), mvtsa::kStatusNotPd);

  // Within 2^-26.5 of symmetric: averaged in place, packed as averaged.
  const double d = 0x1p-30;
  Vec near = {2, 0.5 + d, 0.5, 3};
  ASSERT_EQ(mvtsa::covariance_argument(near.data(), 2, packed.data()), 0);
  EXPECT_EQ(near[1], near[2]);
  EXPECT_EQ(packed, (Vec{2, near[1], 3}));
}

// The verdict does not depend on the units: the same matrix scaled by
// 2^-900 or 2^900 (exact) is positive definite, or not, alike.
TEST_F(MvnKernels, CovarianceArgumentIsScaleFree) {
  for (double scale : {0x1p-900, 1.0, 0x1p900}) {
    Vec pd = {4 * scale, 1.9 * scale, 1.9 * scale, 1 * scale};
    Vec not_pd = {4 * scale, 2.1 * scale, 2.1 * scale, 1 * scale};
    Vec packed(3);
    EXPECT_EQ(mvtsa::covariance_argument(pd.data(), 2, packed.data()), 0) << scale;
    EXPECT_EQ(packed[1], 1.9 * scale);
    EXPECT_EQ(mvtsa::covariance_argument(not_pd.data(), 2, packed.data()), mvtsa::kStatusNotPd)
        << scale;
  }
}

TEST_F(MvnKernels, CovarianceArgumentHandsBackARefusedTest) {
  Vec s = {2, 0.5, 0.5, 3};
  Vec packed(3);
  h_.fail_allocation_at(1);  // the test's work block
  EXPECT_EQ(mvtsa::covariance_argument(s.data(), 2, packed.data()), mvtsa::kStatusHostError);
  EXPECT_EQ(h_.live_blocks(), 0);
}

}  // namespace
