// The catalogue entries of the statistics module (orvmvtst): forecasts,
// residuals and standard errors of the ARFIMA and VARMA models, and sample
// statistics.  Each help text states the model it uses, with the sign of
// its MA part.
#include "host/catalog.hpp"

namespace mvts {

namespace {

constexpr OutputShape kVector = OutputShape::kVector;
constexpr OutputShape kScalar = OutputShape::kScalar;

// The ARFIMA model of FARMAFCST, FARMARES, FARMAFITMEAN and FARMAINFO, and
// the arguments that state it.
#define MVTS_FARMA_MODEL                                                              \
  "phi(B) (1 - B)^d (y_t - mean) = theta(B) e_t, var(e_t) = sigma, with "              \
  "phi(B) = 1 - phi_1 B - ... - phi_p B^p and theta(B) = 1 - theta_1 B - ... - theta_q B^q"
#define MVTS_FARMA_MA_SIGN                                                              \
  "the MA sign is the opposite of statsmodels' (its ma.L1 is -theta_1 here)"
constexpr InputDoc kFarmaSeries = {"series", "observed series, a row or column vector without "
                                   "missing values, longer than the largest AR or MA lag",
                                   kRequired};
constexpr InputDoc kFarmaPhi = {"phi", "AR coefficients phi_1 .. phi_p (a vector) of the model "
                                MVTS_FARMA_MODEL, "no AR part"};
constexpr InputDoc kFarmaTheta = {"theta", "MA coefficients theta_1 .. theta_q (a vector) of "
                                  "theta(B) = 1 - theta_1 B - ...; " MVTS_FARMA_MA_SIGN,
                                  "no MA part"};
constexpr InputDoc kFarmaSigma = {"sigma", "innovation variance sigma = var(e_t), > 0", "1"};
#define MVTS_FARMA_LAG_RULE                                                             \
  " (as for FARMALIK: sorted, fractions cut off, repeats dropped, the i-th smallest lag " \
  "takes the i-th coefficient)"
constexpr InputDoc kFarmaArLags = {"p", "AR lag list: the lags of the elements of phi"
                                   MVTS_FARMA_LAG_RULE, "lags 1 .. number of phi"};
constexpr InputDoc kFarmaMaLags = {"q", "MA lag list: the lags of the elements of theta"
                                   MVTS_FARMA_LAG_RULE, "lags 1 .. number of theta"};
constexpr InputDoc kFarmaMean = {"mean", "the model's mean mu: subtracted from the series "
                                 "before filtering (and added back to forecasts)", "0"};
constexpr InputDoc kFarmaOpt = {"opt", "1 exact method (|d| < 0.5 - 2^-26.5), 0 conditional "
                                "sum of squares (|d| < 1 - 2^-26.5), as in FARMALIK", "0"};
constexpr InputDoc kFarmaDExact = {"d", "fractional differencing parameter, |d| < 0.5 - 2^-26.5; "
                                   "d = 0 is the ARMA model", kRequired};
constexpr InputDoc kFarmaDEither = {"d", "fractional differencing parameter, |d| below the "
                                    "method's bound (see opt); d = 0 is the ARMA model",
                                    kRequired};

}  // namespace

std::vector<FunctionDoc> farma_statistics_docs() {
  return {
      {"FARMAFCST", "forecasts of an ARFIMA(p, d, q) series with mean squared errors and intervals",
       {kFarmaSeries, kFarmaDExact, kFarmaPhi, kFarmaTheta, kFarmaSigma, kFarmaArLags,
        kFarmaMaLags,
        {"h", "forecast horizon: y(n+1) .. y(n+h) are predicted (a whole number >= 1)", "1"},
        kFarmaMean,
        {"level", "coverage of the normal prediction intervals, 0 < level < 1", "0.95"}},
       {{"forecast", "h x 1: the exact finite-sample best linear predictor of y(n+1) .. y(n+h) "
                     "from the whole series under the model " MVTS_FARMA_MODEL " ("
                     MVTS_FARMA_MA_SIGN "), by the Durbin-Levinson recursion on the model's "
                     "autocovariances", kVector},
        {"mse", "h x 1: the mean squared errors of the forecasts (the model's, for known "
                "parameters)", kVector},
        {"interval", "h x 2: lower and upper bounds forecast -+ z sqrt(mse), z the normal "
                     "quantile of (1 + level)/2"}}},
      {"FARMARES", "standardised one-step innovations (residuals) of an ARFIMA(p, d, q) model",
       {kFarmaSeries, kFarmaDEither, kFarmaPhi, kFarmaTheta, kFarmaSigma, kFarmaArLags,
        kFarmaMaLags, kFarmaOpt, kFarmaMean},
       {{"resid", "n x 1 standardised innovations of the model " MVTS_FARMA_MODEL " ("
                  MVTS_FARMA_MA_SIGN "): opt 1, e(t)/sqrt(v(t)) from the Durbin-Levinson "
                  "recursion of the exact likelihood, so that sum resid^2 + sum log var is -2 "
                  "times FARMALIK's exact log-likelihood; opt 0, e(t)/sqrt(sigma) from the "
                  "filter of the conditional likelihood: u = (1 - B)^d (y - mean) with u_0 = 0 "
                  "(FDIF's first value is missing), values before the start 0, and the "
                  "likelihood summing t >= max(p, q)", kVector},
        {"var", "n x 1 one-step prediction variances v(t) (exact method; sigma for every t "
                "with opt 0)", kVector}}},
      {"FARMAFITMEAN", "estimation of an ARFIMA(p, d, q) model with its mean",
       {{"series", "observed series, a row or column vector", kRequired},
        {"p", "AR lag list: the lags at which AR coefficients are estimated (as for FARMAFIT)",
         "no AR part"},
        {"q", "MA lag list: the lags at which MA coefficients are estimated (as for FARMAFIT)",
         "no MA part"},
        {"opt", "(method, technique) as for FARMAFIT: method 1 exact, with the generalised "
                "least-squares mean (1' G^-1 y)/(1' G^-1 1) profiled exactly in the "
                "likelihood; 0 conditional sum of squares, with the sample mean removed first",
         "0 0"}},
       {{"d", "1 x 1 estimate of d in the model " MVTS_FARMA_MODEL " (" MVTS_FARMA_MA_SIGN ")",
         kScalar},
        {"ar", "P x 1 AR coefficients by lag", kVector, "there is no AR part"},
        {"ma", "Q x 1 MA coefficients by lag", kVector, "there is no MA part"},
        {"sigma", "1 x 1 innovation variance", kScalar},
        {"mean", "1 x 1 estimate of the mean: the GLS mean at the estimates (exact method) or "
                 "the sample mean (conditional method)", kScalar}}},
      {"FARMAINFO", "observed information of an ARFIMA(p, d, q) model: Hessian and covariance",
       {kFarmaSeries, kFarmaDEither, kFarmaPhi, kFarmaTheta, kFarmaSigma, kFarmaArLags,
        kFarmaMaLags, kFarmaOpt, kFarmaMean},
       {{"hessian", "m x m Hessian of the log-likelihood of the model " MVTS_FARMA_MODEL " ("
                    MVTS_FARMA_MA_SIGN ") in (d, phi as given, theta as given, sigma), "
                    "m = 2 + p + q, by Richardson-extrapolated central differences; the "
                    "conditional method's likelihood is -((n - max(p, q)) log sigma + S/sigma)/2 "
                    "with S its sum of squares; with d at or within 2^-11 of its bound the row "
                    "and column of d are missing (d held, the rest differenced around it)"},
        {"cov", "m x m covariance of the estimates, the inverse of minus the Hessian; absent "
                "(with a note) when minus the Hessian is not positive definite or d is at its "
                "bound"}}},
  };
}

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
