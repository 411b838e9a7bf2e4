// The summary of a fit for the script prefix `summary`: the estimates with
// their standard errors, z statistics, p-values and 95% intervals, the
// log-likelihood with its constant and the information criteria.  The
// standard errors come from the statistics module's observed information
// at the estimate (FARMAINFO, VARMAINFO) and the log-likelihood from its
// residuals (FARMARES, VARMARES), so that it is the value of the model the
// fit estimated, mean included.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/host.hpp"

namespace mvts::cli {

// The fits a summary describes (upper case, as registered).
bool is_summarised_fit(std::string_view function);

struct FitSummary {
  std::string title;               // the model and the method
  std::vector<std::string> names;  // one per parameter
  std::vector<double> coef, se;    // se missing (NaN) where there is none
  double llf = 0;                  // with -n/2 ln(2 pi)
  std::int64_t nobs = 0;           // observations in the likelihood
  std::vector<std::string> notes;  // what the reader must know about the numbers
};

// The summary of a successful call of a fit: `args` are the values the fit
// was called with, `fit` its result.  Calls the statistics module on `host`;
// a failure there becomes a note (and missing standard errors), never an
// invented number.  Throws std::runtime_error when the statistics module
// is not loaded.
FitSummary summarize_fit(Host& host, std::string_view function, const std::vector<Value>& args,
                         const CallResult& fit);

// The table a reader sees, and the same numbers as a matrix for csv and
// json: one row per parameter (coef, std_err, z, p, lower, upper).
std::string summary_text(const FitSummary& s);
Matrix summary_matrix(const FitSummary& s);
// AIC, BIC and HQIC with every parameter counted (sigma and the mean too).
Matrix summary_criteria(const FitSummary& s);

}  // namespace mvts::cli
