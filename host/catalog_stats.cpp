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

namespace {

// The model of the VARMA statistics, as every help text states it.
#define MVTS_VARMA_MODEL                                                                   \
  "; the model: y_t - mu = sum_i Phi_i (y_{t-i} - mu) + e_t - sum_j Theta_j e_{t-j}, "       \
  "e_t ~ N(0, sigma), whose MA sign is the opposite of statsmodels' (its MA coefficient "     \
  "matrices are -Theta_j)"
#define MVTS_VARMA_LAG_RULE                                                                \
  "; the list is sorted, fractions cut off and repeats dropped, and the i-th smallest lag " \
  "takes the i-th block"

// The inputs the three share, in their order (those of VARMALIK).
std::vector<InputDoc> varma_model_inputs() {
  return {
      {"series", "observed series, T x k (k >= 2), one row per time point, T above the "
                 "largest lag; a row with a missing value adds nothing and is predicted",
       kRequired},
      {"phi", "AR coefficients: the k x k blocks Phi_1 .. Phi_p stacked, (k*p) x k; the AR "
              "part must be stationary", "no AR part"},
      {"theta", "MA coefficients: the k x k blocks Theta_1 .. Theta_q stacked, (k*q) x k, with "
                "the sign of e_t - Theta_1 e_{t-1} - ... (statsmodels' MA matrices are "
                "-Theta_j)", "no MA part"},
      {"sigma", "innovation covariance matrix, k x k, positive definite", "identity"},
      {"p", "AR lag list: the lags of the blocks of phi" MVTS_VARMA_LAG_RULE,
       "lags 1 .. number of blocks"},
      {"q", "MA lag list: the lags of the blocks of theta" MVTS_VARMA_LAG_RULE,
       "lags 1 .. number of blocks"},
  };
}

constexpr InputDoc kVarmaMean = {"mean", "mean vector mu of length k, subtracted from the "
                                 "series before filtering (and added back to forecasts)",
                                 "zero mean"};

}  // namespace

std::vector<FunctionDoc> varma_statistics_docs() {
  std::vector<InputDoc> fcst = varma_model_inputs();
  fcst.push_back({"h", "forecast horizon: the steps ahead, 1 .. h (a whole number >= 1)",
                  kRequired});
  fcst.push_back(kVarmaMean);
  fcst.push_back({"level", "coverage of the prediction intervals, 0 < level < 1", "0.95"});
  std::vector<InputDoc> model = varma_model_inputs();
  model.push_back(kVarmaMean);
  return {
      {"VARMAFCST", "h-step forecasts, their MSE matrices and prediction intervals, by the "
                    "Kalman filter over the whole series" MVTS_VARMA_MODEL,
       fcst,
       {{"forecast", "h x k: row j is the forecast of y_{T+j} from the whole series (the exact "
                     "best linear predictor), mu added back"},
        {"mse", "(h*k) x k: the k x k mean squared error matrices stacked, rows (j-1)*k .. "
                "j*k-1 hold horizon j"},
        {"interval", "h x 2k: row j holds the lower bounds of the k variables, then their "
                     "upper bounds, forecast -+ z sqrt(mse_ii) with z the normal quantile "
                     "(1 + level)/2"}}},
      {"VARMARES", "one-step innovations and standardised residuals from the Kalman filter of "
                   "the exact likelihood" MVTS_VARMA_MODEL,
       model,
       {{"resid", "T x k: the standardised innovations L(t)^-1 v(t), F(t) = L(t) L(t)' "
                  "(Cholesky); sum resid^2 + sum logdet = -2 VARMALIK loglik (method 2); "
                  "missing in a row with a missing value"},
        {"innov", "T x k: the innovations v(t) = y_t - E[y_t | earlier rows]; missing likewise"},
        {"logdet", "T x 1: log det F(t), F(t) the covariance of v(t); missing likewise",
         OutputShape::kVector}}},
      {"VARMAINFO", "observed information: the Hessian of the exact log-likelihood (Kalman "
                    "filter) by Richardson-extrapolated central differences, and its inverse"
                    MVTS_VARMA_MODEL,
       model,
       {{"hessian", "n x n, n = k^2 (p + q) + k (k+1)/2: second derivatives in the parameters "
                    "in this order: the entries of Phi_1 .. Phi_p (block by block, row by row "
                    "within a block), then those of Theta_1 .. Theta_q, then the lower "
                    "triangle of sigma by rows (sigma_11, sigma_21, sigma_22, ...); not "
                    "created, with a note, when the parameters lie within a difference step "
                    "of a bound"},
        {"cov", "n x n: the inverse of -hessian, the covariance matrix of the estimates at a "
                "maximum (standard errors: the square roots of its diagonal); not created, "
                "with a note, when -hessian is not positive definite"}}},
  };
}
#undef MVTS_VARMA_MODEL
#undef MVTS_VARMA_LAG_RULE

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
