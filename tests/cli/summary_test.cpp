// The summary of a fit, checked against independent computations: the
// log-likelihood against FARMALIK's exact value with the constant added,
// the standard errors against FARMAINFO's covariance, the criteria against
// their definitions; and the usage errors of the prefix.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "cli/run.hpp"
#include "cli/summary.hpp"
#include "host/host.hpp"

namespace {

using namespace mvts;
using namespace mvts::cli;

constexpr double kLog2Pi = 1.8378770664093454836;

std::vector<double> arfima_series(Session& s, int n) {
  const CallResult y = s.call("FARMASIM", {Value::scalar(0.3), Value::scalar(0.4), Value::omitted(),
                                           Value::omitted(), Value::omitted(), Value::scalar(n),
                                           Value::omitted(), Value::omitted(), Value::omitted(),
                                           Value::scalar(17)});
  EXPECT_EQ(y.status, 0);
  return y.status == 0 ? y.outputs[0]->data : std::vector<double>{};
}

TEST(FitSummary, ArfimaNumbersAgreeWithTheLikelihoodAndTheInformation) {
  Session s;
  const int n = 400;
  const std::vector<double> y = arfima_series(s, n);
  ASSERT_EQ(y.size(), std::size_t(n));
  const std::vector<Value> args = {Value::column(y), Value::scalar(1), Value::omitted(),
                                   Value::scalar(1)};
  const CallResult fit = s.call("FARMAFIT", args);
  ASSERT_EQ(fit.status, 0);
  const FitSummary sum = summarize_fit(s, "FARMAFIT", args, fit);
  ASSERT_EQ(sum.names, (std::vector<std::string>{"d", "ar.L1", "sigma2"}));
  EXPECT_EQ(sum.nobs, n);
  // FARMALIK's exact value has no constant: the summary adds -n/2 ln(2 pi).
  const CallResult lik = s.call("FARMALIK", {Value::column(y), Value::matrix(*fit.outputs[0]),
                                             Value::matrix(*fit.outputs[1]), Value::omitted(),
                                             Value::matrix(*fit.outputs[3]), Value::scalar(1),
                                             Value::omitted(), Value::scalar(1)});
  ASSERT_EQ(lik.status, 0);
  const double llf = lik.outputs[0]->data[0] - 0.5 * n * kLog2Pi;
  EXPECT_NEAR(sum.llf, llf, 1e-9 * std::fabs(llf));
  // Standard errors: the square roots of the covariance's diagonal.
  const CallResult info = s.call("FARMAINFO", {Value::column(y), Value::matrix(*fit.outputs[0]),
                                               Value::matrix(*fit.outputs[1]), Value::omitted(),
                                               Value::matrix(*fit.outputs[3]), Value::scalar(1),
                                               Value::omitted(), Value::scalar(1)});
  ASSERT_EQ(info.status, 0);
  ASSERT_TRUE(info.outputs[1]);
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(sum.se[std::size_t(i)], std::sqrt(info.outputs[1]->at(i, i)));
  // The table and the criteria.
  const Matrix t = summary_matrix(sum), c = summary_criteria(sum);
  for (int i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(t.at(i, 2), sum.coef[std::size_t(i)] / sum.se[std::size_t(i)]);
    EXPECT_NEAR(t.at(i, 5) - t.at(i, 4), 2 * 1.959963984540054 * sum.se[std::size_t(i)], 1e-12);
    EXPECT_GT(t.at(i, 3), 0);
    EXPECT_LT(t.at(i, 3), 1);
  }
  EXPECT_NEAR(c.at(0, 1), -2 * sum.llf + 2 * 3, 1e-9);
  EXPECT_NEAR(c.at(0, 2), -2 * sum.llf + 3 * std::log(double(n)), 1e-9);
  EXPECT_NEAR(c.at(0, 3), -2 * sum.llf + 6 * std::log(std::log(double(n))), 1e-9);
}

TEST(FitSummary, MeanOfAShiftedSeriesMovesAndItsErrorStays) {
  Session s;
  std::vector<double> y = arfima_series(s, 300), shifted = y;
  for (double& v : shifted) v += 1000;
  for (double method : {0.0, 1.0}) {
    const std::vector<Value> a = {Value::column(y), Value::scalar(1), Value::omitted(),
                                  Value::scalar(method)};
    const std::vector<Value> b = {Value::column(shifted), Value::scalar(1), Value::omitted(),
                                  Value::scalar(method)};
    const CallResult fa = s.call("FARMAFITMEAN", a), fb = s.call("FARMAFITMEAN", b);
    ASSERT_EQ(fa.status, 0);
    ASSERT_EQ(fb.status, 0);
    const FitSummary sa = summarize_fit(s, "FARMAFITMEAN", a, fa);
    const FitSummary sb = summarize_fit(s, "FARMAFITMEAN", b, fb);
    ASSERT_EQ(sa.names.back(), "mean");
    EXPECT_NEAR(sb.coef.back() - sa.coef.back(), 1000, 1e-6);
    EXPECT_TRUE(std::isfinite(sa.se.back()));
    EXPECT_NEAR(sa.se.back(), sb.se.back(), 1e-5 * sa.se.back());
    EXPECT_NEAR(sa.llf, sb.llf, 1e-6 * std::fabs(sa.llf));
  }
}

TEST(FitSummary, VarmaNamesEveryBlockEntryAndTheLowerTriangle) {
  std::ostringstream out, err;
  Session s;
  Printer printer(Format::kJson, out, err);
  Runner runner(s, printer);
  const int status = runner.script(
      "y = VARMASIM phi=\"0.5 0.1; 0.1 0.4\" n=300 seed=7\nsummary VARMAFIT $y p=1\n", "t", false);
  ASSERT_EQ(status, kExitOk) << err.str();
  const std::string j = out.str();
  for (const char* name : {"\"ar.L1.y1.y2\"", "\"ar.L1.y2.y1\"", "\"sigma.y2.y1\"", "\"criteria\""})
    EXPECT_NE(j.find(name), std::string::npos) << name;
  EXPECT_EQ(j.find("\"sigma.y1.y2\""), std::string::npos);
}

TEST(FitSummary, ThePrefixTakesFitsOnly) {
  std::ostringstream out, err;
  Session s;
  Printer printer(Format::kTable, out, err);
  Runner runner(s, printer);
  EXPECT_EQ(runner.script("summary VARMALIK \"1 2; 3 4\" phi=\"0.5 0; 0 0.5\"\n", "t", false),
            kExitUsage);
  EXPECT_NE(err.str().find("summary describes a fit"), std::string::npos) << err.str();
  EXPECT_EQ(runner.call("FDIF", {}, true), kExitUsage);
  // A failed fit prints no summary and fails.
  out.str("");
  EXPECT_EQ(runner.call("FARMAFIT", {{"series=.", 6}}, true), kExitFailed);
  EXPECT_EQ(out.str().find("coef"), std::string::npos);
}

}  // namespace
