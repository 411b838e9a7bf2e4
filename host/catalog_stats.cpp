// The catalogue entries of the statistics module (orvmvtst): forecasts,
// residuals and standard errors of the ARFIMA and VARMA models, and sample
// statistics.  Each help text states the model it uses, with the sign of
// its MA part.
#include "host/catalog.hpp"

namespace mvts {

std::vector<FunctionDoc> farma_statistics_docs() { return {}; }

std::vector<FunctionDoc> varma_statistics_docs() { return {}; }

std::vector<FunctionDoc> sample_statistics_docs() {
  return {
      {"VTSACF", "sample auto- and cross-covariances and correlations of a series",
       {{"series", "observed series: a vector (one variable) or T x k, no missing values",
         kRequired},
        {"lag", "highest lag L (a whole number, 1 <= L < T)", "10 log10(T) cut to a whole number"}},
       {{"cov", "(k*(L+1)) x k: C(0) .. C(L) stacked, rows h*k .. h*k+k-1 hold lag h; "
                "C(h)[i][j] = (1/T) sum_t (y_t,i - m_i)(y_{t+h},j - m_j) with the sample mean m "
                "and the divisor T, the estimate of Gamma(h) = E[y_t y_{t+h}'] of VARMACOV"},
        {"corr", "(k*(L+1)) x k: the correlations C(h)[i][j] / sqrt(C(0)[i][i] C(0)[j][j]), "
                 "stacked likewise"}}},
  };
}

}  // namespace mvts
