#include "host/catalog.hpp"

#include <cctype>

namespace mvts {
namespace {

constexpr OutputShape kVector = OutputShape::kVector;
constexpr OutputShape kScalar = OutputShape::kScalar;

// Inputs shared by several functions.
// The VARMA model, y_t = sum_i Phi_i y_{t-i} + e_t - sum_j Theta_j e_{t-j}:
// the MA part enters with a minus sign, the opposite of statsmodels' VARMAX.
constexpr InputDoc kPhi = {"phi", "AR coefficients: the k x k blocks Phi_1 .. Phi_p stacked, (k*p) x k "
                           "(rows (i-1)k+1 .. ik hold Phi_i) of the model y_t = sum_i Phi_i y_{t-i} + "
                           "e_t - sum_j Theta_j e_{t-j}; row r of Phi_i is equation r",
                           "no AR part"};
constexpr InputDoc kTheta = {"theta", "MA coefficients: the k x k blocks Theta_1 .. Theta_q stacked, "
                             "(k*q) x k, entering as - Theta_j e_{t-j}: the opposite sign of "
                             "statsmodels' VARMAX, whose MA matrices are -Theta_j", "no MA part"};
constexpr InputDoc kSigmaK = {"sigma", "innovation covariance matrix, k x k, positive definite",
                              "identity"};
// A lag list is read in ascending order: sorted, repeats dropped, and the
// i-th smallest lag takes the i-th block (or element).  The help says so,
// since a list written in another order means another model.
#define MVTS_LAG_RULE                                                                    \
  "; the list is sorted, fractions cut off and repeats dropped, and the i-th smallest lag " \
  "takes the i-th one: the list \"2 1\" means \"1 2\", and \"1 1\" leaves the last one out"
constexpr InputDoc kArLags = {"p", "AR lag list: the lags of the blocks of phi" MVTS_LAG_RULE,
                              "lags 1 .. number of blocks"};
constexpr InputDoc kMaLags = {"q", "MA lag list: the lags of the blocks of theta" MVTS_LAG_RULE,
                              "lags 1 .. number of blocks"};
constexpr InputDoc kSeed = {"seed", "> 0 restarts the stream at this seed; <= 0 continues a started stream",
                            "0 (a stream not started yet: -s starts it at s, 0 from the clock)"};
constexpr InputDoc kN = {"n", "number of observations (a whole number >= 1)", "100"};
constexpr InputDoc kSeriesK = {"series", "observed series, T x k (k >= 2), one row per time point",
                               kRequired};
constexpr InputDoc kSeries1 = {"series", "observed series, a row or column vector", kRequired};
// The ARFIMA model, phi(B)(1 - B)^d y_t = theta(B) e_t with
// phi(B) = 1 - phi_1 B - ... and theta(B) = 1 - theta_1 B - ...: the MA
// part's sign is the opposite of statsmodels' (its ma.L1 is -theta_1).
constexpr InputDoc kPhi1 = {"phi", "AR coefficients phi_1 .. phi_p, a vector, of the model "
                            "phi(B)(1 - B)^d y_t = theta(B) e_t with phi(B) = 1 - phi_1 B - ...",
                            "no AR part"};
constexpr InputDoc kTheta1 = {"theta", "MA coefficients theta_1 .. theta_q, a vector, of "
                              "theta(B) = 1 - theta_1 B - ...: the opposite sign of statsmodels' "
                              "ma.L1 = -theta_1", "no MA part"};
constexpr InputDoc kSigma1 = {"sigma", "innovation variance, > 0", "1"};
constexpr InputDoc kArLags1 = {"p", "AR lag list: the lags of the elements of phi" MVTS_LAG_RULE,
                               "lags 1 .. p"};
constexpr InputDoc kMaLags1 = {"q", "MA lag list: the lags of the elements of theta" MVTS_LAG_RULE,
                               "lags 1 .. q"};
// The lag lists of the fits: the lags themselves, each a whole number.
#define MVTS_FIT_LAG_RULE                                                             \
  " (sorted, repeats dropped, fractions cut off: \"2\" is the one lag 2, \"1 2\" lags 1 " \
  "and 2)"
// d of FDIF, FARMALIK and FARMASIM: |d| at most 2^-26.5 is refused as well
// as |d| of 1 - 2^-26.5 and above.
constexpr const char* kDRange1 =
    "fractional differencing parameter, 2^-26.5 < |d| < 1 (2^-26.5 = 1.05e-8: d = 0 is refused)";
constexpr InputDoc kLag = {"lag", "highest lag L (a whole number >= 1)", "12"};

std::vector<FunctionDoc> build() {
  return {
      {"VNORMAL", "n independent draws of a k-variate normal vector",
       {{"mu", "mean vector of length k", "zero mean"},
        {"sigma", "covariance matrix, k x k, positive definite", "identity"},
        {"n", "number of draws (a whole number >= 1)", "100"},
        kSeed},
       {{"series", "n x k matrix, one draw per row"}}},
      {"VARMACOV", "theoretical cross-covariances of a VARMA model",
       {kPhi, kTheta, kSigmaK, kArLags, kMaLags, kLag},
       {{"cov", "(k*(L+1)) x k: Gamma(0) .. Gamma(L) stacked, Gamma(h) = E[y_t y_{t+h}']"}}},
      {"VARMASIM", "simulation of a VARMA model",
       {kPhi, kTheta,
        {"mu", "mean vector of length k, added to every observation", "zero mean"},
        kSigmaK, kN, kArLags, kMaLags,
        {"initial", "value of every pre-sample observation (a fixed start)",
         "a stationary start when the AR part is stationary, else 0"},
        kSeed},
       {{"series", "n x k simulated series"}}},
      {"VARMALIK", "Gaussian log-likelihood of a VARMA model for an observed series",
       {kSeriesK, kPhi, kTheta, kSigmaK, kArLags, kMaLags,
        {"method", "0 innovations algorithm, 1 conditional likelihood, 2 Kalman filter", "2"}},
       {{"loglik", "3 x 1: log-likelihood, sum of log determinants, sum of quadratic forms", kVector}}},
      {"VARMAFIT", "maximum-likelihood estimation of a VARMA model",
       {kSeriesK,
        {"p", "AR lag list: the lags at which AR blocks are estimated" MVTS_FIT_LAG_RULE,
         "no AR part"},
        {"q", "MA lag list: the lags at which MA blocks are estimated" MVTS_FIT_LAG_RULE,
         "no MA part"}},
       {{"ar", "(k*P) x k estimated AR blocks, one k x k block per listed lag in ascending order "
               "(only when p is given)"},
        {"ma", "(k*Q) x k estimated MA blocks Theta (entering as - Theta_j e_{t-j}), one per "
               "listed lag (only when q is given)"},
        {"sigma", "k x k estimated innovation covariance"}}},
      {"VTSROOT", "characteristic roots of the AR and MA polynomials of a VARMA model",
       {kPhi, kTheta, kArLags, kMaLags},
       {{"roots", "one row per root, the k*P AR roots first, then the k*Q MA roots (P, Q: the "
                  "largest lags); columns: 1 real part, 2 imaginary part, 3 modulus, 4 argument "
                  "in radians, 5 argument in degrees. The roots are the eigenvalues of the "
                  "companion matrix: the AR part is stationary when every AR root has modulus "
                  "below 1, and the MA part invertible when every MA root has"}}},
      {"FDIF", "fractional differencing (1 - B)^d of a series",
       {kSeries1, {"d", kDRange1, kRequired}},
       {{"series", "n x 1 differenced series; the first element is missing", kVector}}},
      {"FARMACOV", "autocovariances of an ARFIMA(p, d, q) model",
       {{"d", "fractional differencing parameter, 2^-26.5 < |d| < 0.5 (2^-26.5 = 1.05e-8: "
               "d = 0 is refused)", kRequired},
        kPhi1, kTheta1, kSigma1, kArLags1, kMaLags1, kLag},
       {{"cov", "(L+1) x 1 autocovariances gamma(0) .. gamma(L)", kVector}}},
      {"FARMALIK", "log-likelihood of an ARFIMA(p, d, q) model for a series",
       {kSeries1, {"d", kDRange1, kRequired},
        kPhi1, kTheta1, kSigma1, kArLags1, kMaLags1,
        {"opt", "1 exact method, 0 conditional sum of squares; the exact method needs "
                "|d| < 0.5 - 2^-26.5, and for a larger |d| the conditional sum of squares is "
                "used whatever opt says (rows 2 and 3 of loglik are then missing)", "0"}},
       {{"loglik", "3 x 1: log-likelihood, log determinant and quadratic form of the exact "
                   "method; the conditional sum of squares gives the log-likelihood and two "
                   "missing values", kVector}}},
      {"FARMASIM", "simulation of an ARFIMA(p, d, q) model",
       {{"d", kDRange1, kRequired},
        kPhi1, kTheta1,
        {"mu", "mean added to every value", "0"},
        kSigma1, kN, kArLags1, kMaLags1,
        {"initial", "value taken for observations before the first one", "0"},
        kSeed},
       {{"series", "n x 1 simulated series", kVector}}},
      {"FARMAFIT", "estimation of an ARFIMA(p, d, q) model",
       {kSeries1,
        {"p", "AR lag list: the lags at which AR coefficients are estimated" MVTS_FIT_LAG_RULE,
         "no AR part"},
        {"q", "MA lag list: the lags at which MA coefficients are estimated" MVTS_FIT_LAG_RULE,
         "no MA part"},
        {"opt", "(method, technique): method 1 exact, 0 conditional sum of squares", "0 0"}},
       {{"d", "1 x 1 estimate of d", kScalar},
        {"ar", "P x 1 AR coefficients phi, one per listed lag in ascending order", kVector,
         "there is no AR part"},
        {"ma", "Q x 1 MA coefficients theta (the sign of theta(B) = 1 - theta_1 B - ..., the "
               "opposite of statsmodels'), one per listed lag in ascending order", kVector,
         "there is no MA part"},
        {"sigma", "1 x 1 innovation variance", kScalar}}},
      {"UCMSIM", "simulation of an unobserved-components model",
       {{"level", "(initial level, level variance)", "0 0"},
        {"slope", "(initial slope, slope variance)", "0 0"},
        {"cycle1", "(psi, psi*, period, damping, variance)", "no cycle"},
        {"cycle2", "as cycle1", "no cycle"},
        {"cycle3", "as cycle1", "no cycle"},
        {"season1", "(type: 1 trigonometric, else dummy; variance)", "dummy, variance 0"},
        {"init1", "initial seasonal values e_0 .. e_{s-2}; gives season length s", "no season"},
        {"season2", "as season1", "dummy, variance 0"},
        {"init2", "as init1", "no season"},
        {"season3", "as season1", "dummy, variance 0"},
        {"init3", "as init1", "no season"},
        {"irregular", "irregular variance, > 0", "1"},
        kN, kSeed},
       {{"series", "n x 1 simulated series", kVector}}},
  };
}
#undef MVTS_LAG_RULE
#undef MVTS_FIT_LAG_RULE

}  // namespace

const std::vector<FunctionDoc>& catalog() {
  static const std::vector<FunctionDoc> docs = [] {
    std::vector<FunctionDoc> all = build();
    for (auto part : {farma_statistics_docs, varma_statistics_docs, sample_statistics_docs})
      for (FunctionDoc& f : part()) all.push_back(std::move(f));
    return all;
  }();
  return docs;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

const FunctionDoc* find_doc(std::string_view name) {
  for (const FunctionDoc& d : catalog())
    if (same_name(d.name, name)) return &d;
  return nullptr;
}

}  // namespace mvts
