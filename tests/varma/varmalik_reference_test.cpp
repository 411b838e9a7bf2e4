// VARMALIK (exact likelihood by the innovations algorithm and by the Kalman
// filter) against reference tables from an independent peer's Kalman filter,
// with stationary and known starts and a series with missing values
// (tests/reference/make_tables.py says how the numbers were made).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "tests/support/reference.hpp"

namespace {

using mvts::Value;
using test_support::blocks;
using test_support::kEps;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct LikCase {
  const char* name;
  const char* region;
  int k;
  int T;
  std::vector<double> series;      // T x k, NaN for missing
  std::vector<double> phi, theta;  // stacked k x k blocks
  bool sigma_omitted;              // call without sigma (the identity)
  std::vector<double> sigma;
  std::vector<double> methods;     // methods checked against the table
  int tol;                         // in units of eps, relative to |D| + |S|
  std::vector<double> want;        // log-likelihood, D, S (no 2 pi constant)
  double peer_llf;                 // the peer's own log-likelihood (with constant)
};

// BEGIN GENERATED TABLE (tests/reference/make_tables.py)
// Peer: statsmodels 0.13.5+dfsg, scipy 1.10.1, numpy 1.24.2.
// statsmodels' VARMAX Kalman filter (MA blocks entered as -Theta;
// stationary start by the peer's Lyapunov solver, or the known start 1e6 diag(Sigma)):
// D = sum over complete rows of log det F_t (Z P_t Z' from predicted_state_cov),
// S = sum over complete rows of v_t' F_t^-1 v_t (forecasts_error); a row with any
// missing value is wholly missing for the peer.  -(D + S)/2 - (T_obs k/2) log 2pi
// equals the peer's llf (last field) to 1e-9 relative.  Tolerance:
// |ours - table| <= tol * eps * (|D| + |S|) for each of the three values.
const LikCase kLikCases[] = {
  {"Varma11", "stationary, complete series", 2, 40, {
      1.03515625, -0.50390625, 0.8671875,
      0.69140625, -0.90234375, -0.5546875,
      -0.52734375, 1.00390625, 0.09765625,
      -1.3046875, 1.81640625, 2.52734375,
      2.71484375, -0.0234375, 0.859375,
      -0.734375, -0.12890625, 1.578125,
      0.6640625, -2.40234375, -0.4765625,
      -0.046875, -0.38671875, -0.55078125,
      -2.4453125, 0.09375, -0.7890625,
      -2.01953125, -0.015625, 4.04296875,
      -1.296875, -1.31640625, -0.6953125,
      -1.25390625, -0.62109375, -0.97265625,
      1.078125, 2.19921875, -0.62890625,
      -1.83203125, -2.46484375, -0.40234375,
      0.546875, -1.05078125, -1.3203125,
      0.86328125, 1.14453125, 1.61328125,
      0.08203125, -2.3828125, 0.359375,
      1.06640625, -0.40625, 0.8515625,
      2.71484375, 0.4140625, 0.5390625,
      0.2109375, -2.140625, -1.16796875,
      -1.96875, 2.67578125, 1.44921875,
      -1.47265625, 0.01953125, -2.546875,
      0.08203125, 4.29296875, -0.28515625,
      -1.8984375, 1.12109375, -0.9765625,
      1.046875, 3.05078125, 1.23046875,
      -1.609375, 1.41796875, -0.640625,
      0.0234375, 2.23046875}, {
      0.5, 0.125, 0.25,
      -0.25}, {
      0.375, -0.25, 0.125,
      0.5}, false, {
      2.0, 0.75, 0.75,
      1.5}, {
      0.0, 2.0}, 16,
    {
      -59.016067686213404, 36.649720637068427, 81.382414735358381},
    -132.53115034258721},
  {"Var2ThreeSeries", "stationary, complete series", 3, 30, {
      0.3046875, 0.7265625, -1.81640625,
      0.7734375, 0.71484375, 0.55078125,
      -0.20703125, 1.03515625, 0.8515625,
      -1.2421875, 0.4921875, 1.27734375,
      -1.57421875, 0.5859375, 3.734375,
      -2.3828125, 0.92578125, 3.66796875,
      -0.6875, 0.76953125, 0.81640625,
      1.8203125, -0.43359375, -1.5,
      -1.51171875, -0.16796875, 0.125,
      -2.9140625, -1.3203125, 1.84765625,
      -1.82421875, -1.63671875, -2.27734375,
      -0.08984375, 0.74609375, -1.953125,
      0.78125, 0.2109375, -0.76953125,
      0.48046875, 0.3359375, -1.2421875,
      3.20703125, 3.15625, -0.5234375,
      3.71484375, 0.5625, -1.58984375,
      2.68359375, -0.15625, -3.43359375,
      1.12890625, -2.01953125, 0.26953125,
      0.67578125, 0.1328125, 1.62890625,
      -1.24609375, -1.25, 2.0,
      0.3046875, 0.09765625, 0.36328125,
      -0.48828125, 0.9765625, -1.91015625,
      -1.03125, -0.73828125, -2.77734375,
      -1.81640625, -1.578125, 0.859375,
      1.359375, 0.34375, -1.54296875,
      0.03515625, -0.62890625, -1.41015625,
      -0.58203125, 0.2578125, -2.57421875,
      -0.7734375, -0.2265625, 0.3828125,
      0.10546875, 0.23828125, 0.609375,
      -0.6875, 0.04296875, 0.1875}, {
      0.375, 0.125, -0.0625,
      0.0625, 0.25, 0.125,
      -0.125, 0.0, 0.5,
      -0.125, 0.0625, 0.0,
      0.0, 0.1875, -0.0625,
      0.0625, 0.0, -0.25}, {}, false, {
      1.5, 0.25, -0.5,
      0.25, 1.0, 0.125,
      -0.5, 0.125, 2.0}, {
      0.0, 2.0}, 16,
    {
      -61.789116825442811, 29.020980809769295, 94.557252841116323},
    -144.49358481386335},
  {"Vma2IdentitySigma", "stationary, complete series", 2, 36, {
      2.6328125, -0.76171875, -0.546875,
      1.18359375, 1.32421875, -0.48046875,
      -0.42578125, -1.5390625, -1.546875,
      -0.06640625, 0.9609375, 0.05078125,
      -0.74609375, -0.2890625, 1.97265625,
      0.421875, -2.28125, -0.28515625,
      0.7421875, 0.56640625, -2.41796875,
      0.44140625, 0.68359375, -0.29296875,
      0.671875, 1.82421875, -1.1484375,
      -0.54296875, 2.4453125, 1.0390625,
      0.10546875, -0.98046875, 1.0,
      -0.58984375, -0.7109375, -1.74609375,
      0.79296875, 0.7890625, 0.91015625,
      -0.50390625, 0.8125, -0.3984375,
      0.76953125, 0.25, -0.71484375,
      -1.99609375, 0.25, -0.0234375,
      0.79296875, -0.14453125, -2.1484375,
      0.45703125, 2.89453125, 1.5703125,
      -1.5390625, -1.1875, 1.046875,
      -1.30859375, -0.72265625, 0.44921875,
      -0.9140625, -0.41796875, -0.171875,
      0.953125, -1.140625, 0.4609375,
      -0.48046875, -0.58984375, -1.12890625,
      5.171875, 2.578125, -1.0546875}, {}, {
      0.5, -0.25, 0.125,
      0.75, -0.25, 0.0,
      0.375, 0.125}, true, {
      1.0, 0.0, 0.0,
      1.0}, {
      0.0, 2.0}, 16,
    {
      -41.627032459638855, 1.853264561805513, 81.400800357472193},
    -107.79060685037528},
  {"Var2NearUnitRoot", "stationary, AR root modulus 0.96875", 2, 40, {
      10.0625, 2.72265625, 10.484375,
      3.9375, 11.2265625, 2.4375,
      11.62890625, -1.08984375, 10.5625,
      -4.2890625, 8.63671875, -5.5390625,
      6.62109375, -2.890625, 5.79296875,
      1.08203125, 5.70703125, 4.21875,
      8.51953125, 3.96875, 10.2734375,
      0.49609375, 12.26953125, -2.66015625,
      13.34765625, -3.48828125, 14.171875,
      -3.7421875, 13.0, -1.828125,
      10.83203125, 1.0546875, 10.94140625,
      2.41015625, 10.5859375, 2.4296875,
      12.2421875, 2.078125, 13.74609375,
      0.1171875, 14.3359375, -1.546875,
      13.73828125, -1.875, 12.84765625,
      -1.32421875, 14.28125, 0.4375,
      16.6796875, 1.953125, 17.6640625,
      1.25, 17.3984375, 0.78125,
      17.09375, -1.40625, 18.0234375,
      -2.65234375, 17.625, -2.20703125,
      15.16015625, 0.12109375, 15.0234375,
      2.1875, 15.21484375, 2.53515625,
      14.640625, 0.953125, 12.76171875,
      -1.65234375, 10.9921875, -1.77734375,
      8.39453125, -0.30859375, 7.6953125,
      1.44140625, 6.73046875, 3.1171875,
      7.80078125, 2.96484375}, {
      1.46875, 0.0625, 0.0,
      1.25, -0.484375, 0.0,
      0.0, -0.875}, {}, false, {
      1.0, 0.25, 0.25,
      0.5}, {
      0.0, 2.0}, 32,
    {
      -33.708099805399982, -24.871964382566013, 92.288163993365984},
    -107.22318246177379},
  {"Varma11Missing", "missing values (rows 3, 10 partly, 17 and 18 wholly)", 2, 40, {
      2.53125, 2.45703125, 1.203125,
      1.171875, 1.3515625, -3.53515625,
      kNaN, 2.0546875, 1.52734375,
      -1.72265625, 0.00390625, 2.39453125,
      2.53125, 0.7421875, 2.47265625,
      -0.17578125, 0.8984375, -0.81640625,
      1.53125, 3.25390625, 2.16796875,
      kNaN, -1.5703125, 0.0625,
      1.94140625, 1.55859375, -0.68359375,
      -1.54296875, 1.00390625, 0.59765625,
      -0.50390625, -0.6953125, -1.4609375,
      2.265625, kNaN, kNaN,
      kNaN, kNaN, -0.01953125,
      -0.63671875, 0.125, 0.23828125,
      -0.48828125, -0.51953125, 0.015625,
      2.45703125, 0.2734375, -0.9140625,
      0.24609375, -1.0625, -1.71484375,
      0.73828125, -1.94921875, -0.44140625,
      -0.76953125, 1.6796875, -0.93359375,
      -0.68359375, 2.21484375, 1.48828125,
      0.33203125, -0.71875, 0.6875,
      0.2734375, 1.6640625, 0.57421875,
      0.984375, 1.296875, 0.828125,
      -1.17578125, 0.60546875, 0.359375,
      -3.00390625, -1.4765625, -1.03515625,
      -0.41015625, -3.34375, 0.12890625,
      -1.61328125, 0.109375}, {
      0.5, 0.125, 0.25,
      -0.25}, {
      0.375, -0.25, 0.125,
      0.5}, false, {
      2.0, 0.75, 0.75,
      1.5}, {
      0.0, 2.0}, 16,
    {
      -51.837361552529998, 35.8937494388014, 67.780973666258603},
    -118.00093594326644},
  {"RandomWalkDiffuseStart", "not stationary: P(1) = 1e6 diag(Sigma)", 2, 20, {
      -0.59375, 0.62890625, 0.4453125,
      1.66015625, 2.26171875, 1.27734375,
      2.80859375, 0.91015625, 1.3828125,
      0.20703125, 1.51953125, -0.70703125,
      1.328125, 0.41015625, 1.8984375,
      0.984375, 2.2421875, 0.80859375,
      0.375, 1.80078125, -1.1328125,
      2.015625, -1.2421875, 2.15234375,
      -0.98828125, 1.8203125, -0.0859375,
      0.53515625, 0.703125, -1.15625,
      1.890625, -1.66796875, 2.265625,
      -0.16015625, 0.1015625, -0.47265625,
      0.67578125, 0.42578125, 2.03515625,
      1.03125}, {
      1.0, 0.0, 0.0,
      1.0}, {}, false, {
      1.0, 0.5, 0.5,
      2.0}, {
      2.0}, 32,
    {
      -36.976154309729722, 38.956868267261527, 34.995440352197917},
    -73.733695637916625},
};
// END GENERATED TABLE

TEST(VarmalikReference, ExactLikelihoodsMatchThePeer) {
  mvts::Session s;
  for (const LikCase& c : kLikCases) {
    const Value sigma = c.sigma_omitted ? Value::omitted() : Value::matrix(c.k, c.k, c.sigma);
    const double tol = c.tol * kEps * (std::fabs(c.want[1]) + std::fabs(c.want[2]));
    for (double method : c.methods) {
      SCOPED_TRACE(std::string(c.name) + " (" + c.region + "), method " +
                   std::to_string(int(method)));
      auto r = s.call("VARMALIK", {Value::matrix(c.T, c.k, c.series), blocks(c.phi, c.k),
                                   blocks(c.theta, c.k), sigma, Value::omitted(),
                                   Value::omitted(), Value::scalar(method)});
      ASSERT_EQ(r.status, 0);
      ASSERT_TRUE(r.outputs.size() == 1 && r.outputs[0]);
      const mvts::Matrix& v = *r.outputs[0];
      ASSERT_EQ(v.rows, 3);
      EXPECT_NEAR(v.at(0, 0), c.want[0], tol) << "log-likelihood";
      EXPECT_NEAR(v.at(1, 0), c.want[1], tol) << "D";
      EXPECT_NEAR(v.at(2, 0), c.want[2], tol) << "S";
      EXPECT_EQ(s.live_blocks(), 0);
    }
  }
}

// The peer's log-likelihood leaves out rows with a missing value and adds the
// 2 pi constant; ours adds log det F(t) of every row.  Taking the constant
// and those rows' log-determinants off ours must give the peer's value, so
// the missing-value case is pinned to the peer's own figure as well.
TEST(VarmalikReference, MissingRowsDifferFromThePeerOnlyByTheirLogDeterminants) {
  mvts::Session s;
  for (const LikCase& c : kLikCases) {
    int observed = 0;
    std::vector<int> missing_rows;
    for (int t = 0; t < c.T; ++t) {
      bool miss = false;
      for (int j = 0; j < c.k; ++j) miss = miss || std::isnan(c.series[std::size_t(t) * c.k + j]);
      if (miss) missing_rows.push_back(t); else ++observed;
    }
    if (missing_rows.empty()) continue;
    SCOPED_TRACE(c.name);
    // log det F(t) of the missing rows: D of the series cut after row t minus
    // D of the series cut before it (the filter only looks backwards)
    double missing_logdet = 0.0;
    for (int t : missing_rows) {
      double d[2];
      for (int cut = 0; cut < 2; ++cut) {
        const int rows = t + cut;
        if (rows == 0) { d[cut] = 0.0; continue; }
        std::vector<double> head(c.series.begin(), c.series.begin() + std::size_t(rows) * c.k);
        auto r = s.call("VARMALIK", {Value::matrix(rows, c.k, head), blocks(c.phi, c.k),
                                     blocks(c.theta, c.k), Value::matrix(c.k, c.k, c.sigma)});
        ASSERT_EQ(r.status, 0);
        d[cut] = r.outputs[0]->at(1, 0);
      }
      missing_logdet += d[1] - d[0];
    }
    auto full = s.call("VARMALIK", {Value::matrix(c.T, c.k, c.series), blocks(c.phi, c.k),
                                    blocks(c.theta, c.k), Value::matrix(c.k, c.k, c.sigma)});
    ASSERT_EQ(full.status, 0);
    const double two_pi_term = 0.5 * observed * c.k * std::log(2.0 * M_PI);
    const double ours = full.outputs[0]->at(0, 0) + 0.5 * missing_logdet - two_pi_term;
    EXPECT_NEAR(ours, c.peer_llf, 1e-9 * std::fabs(c.peer_llf));
  }
}

}  // namespace
