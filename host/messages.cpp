// The host's message texts.  Each text says what went wrong and, where it
// helps, what to do; {1}, {2}, {3} stand for the inserts.
#include <cstdio>
#include <map>
#include <string>

#include "host/host.hpp"

namespace mvts {
namespace {

// A note does not stop the call.  A message about an argument says what the
// input being checked must be; the host then names that input (its number
// and name) beside the text.
inline constexpr bool kAboutArgument = true;
struct Text {
  bool note;
  const char* text;
  bool argument = false;
};

const std::map<int, Text>& texts() {
  static const std::map<int, Text> t = {
      {15, {false, "The method argument must be a scalar or a vector, not a matrix.",
            kAboutArgument}},
      {88, {false, "The AR polynomial has a zero leading coefficient: the root finder found no roots."}},
      {89, {false, "The root finder gave up after finding {1} roots of the AR polynomial."}},
      {143, {false, "The optimization with technique {1} failed: the likelihood could not be "
                    "maximized from the starting values."}},
      {178, {false, "A covariance matrix of the model is singular: it could not be inverted."}},
      {248, {false, "The series is too short for the model: it needs more observations than "
                    "the AR order plus the MA order."}},
      {315, {false, "The computation failed numerically: a gamma function value for this d "
                    "overflowed or met a pole, or the series is not longer than the AR and MA "
                    "orders, or a sum of squares or determinant overflowed or is not positive."}},
      {316, {false, "The simulated series overflowed: the model is explosive for these start "
                    "values."}},
      {350, {false, "An argument has no rows or no columns.", kAboutArgument}},
      {351, {false, "An argument is a {1} where a {2} is required.", kAboutArgument}},
      {352, {false, "The dimensions of two arguments do not agree.", kAboutArgument}},
      {353, {false, "A count or lag is below 1 once cut to a whole number, or a lag-list "
                    "element is not positive.", kAboutArgument}},
      {354, {false, "Neither AR nor MA {1}s are given: the model needs at least one of them."}},
      {355, {false, "The number of rows of the {1} coefficient matrix is not a multiple of its "
                    "number of columns.", kAboutArgument}},
      {356, {false, "The {1} lag list does not have one element per coefficient block.",
             kAboutArgument}},
      {357, {false, "The covariance matrix is not square.", kAboutArgument}},
      {358, {false, "The series to simulate must be longer than the AR order."}},
      {359, {true, "The simulated value at observation {1} exceeds {2}: the simulation stops "
                   "there and only the observations before it are returned."}},
      {360, {false, "The AR part is not stationary (a characteristic root has modulus 1 or "
                    "more): the autocovariances do not exist."}},
      {361, {true, "The model is a pure MA process: its autocovariances beyond the MA order are "
                   "zero."}},
      {365, {false, "Neither the mean vector nor the covariance matrix is given, so the dimension "
                    "is unknown."}},
      {368, {true, "The series value in column {1}, row {2} (both counted from 0) exceeds {3} "
                   "in magnitude and is treated as missing."}},
      {369, {true, "The log-likelihood exceeds {1} in magnitude at a trial point; that point is "
                   "rejected."}},
      {371, {true, "The AR and MA coefficients are identical: they cancel, and the process is "
                   "white noise."}},
      {372, {false, "The differencing parameter d is outside its permitted range: |d| must "
                    "exceed 2^-26.5 (1.05e-8; a smaller |d|, d = 0 among them, differences "
                    "nothing and is refused) and stay below 0.5 - 2^-26.5 for FARMACOV, below "
                    "1 - 2^-26.5 for FDIF, FARMALIK and FARMASIM.",
             kAboutArgument}},
      {373, {false, "The AR polynomial has repeated roots: the autocovariance method needs "
                    "distinct roots."}},
      {376, {true, "UCMSIM simulates the trend, cycles, seasonals and irregular term of an "
                   "unobserved-components model."}},
      {380, {false, "The seed {1} would leave the random number generator at 0, where it draws "
                    "only zeros (a seed is cut to a whole number and taken modulo 2^32; 0 and "
                    "multiples of 2147483647 are refused). Give a whole number from 1 to "
                    "2147483646.",
             kAboutArgument}},
      {381, {false, "Result {1} holds a value that is not a finite number (row {2}, column {3}): "
                    "the computation overflowed for these inputs, so the call fails rather than "
                    "return missing values. Inputs of a smaller magnitude avoid it."}},
      {382, {false, "The conditional log-likelihood (method 1) overflowed: the residuals of the "
                    "MA recursion grow without bound, as they do when the MA part is far from "
                    "invertible. Methods 0 and 2 compute the exact likelihood of such a model."}},
      {390, {false, "The AR polynomial has a root on or inside the unit circle: the model is not "
                    "stationary."}},
      {395, {false, "The model has {1} coefficients in each equation, but the series has only "
                    "{2} complete rows beyond the largest lag: the fit cannot be identified. Use "
                    "fewer lags or a longer series."}},
      {396, {false, "The series has no complete row (every row holds a missing value or a value "
                    "treated as missing): there is nothing to fit."}},
      {397, {true, "The fit from a second start (d = 0 with Hannan-Rissanen ARMA values) reached a "
                   "log-likelihood {1} higher than the fit from the periodogram start; its "
                   "estimates are returned."}},
      {398, {false, "The call was cancelled before it finished (an interrupt such as Ctrl-C, or "
                    "its caller asked it to stop); it returned nothing."}},
      {400, {false, "The series has {1} observations, not more than the largest AR or MA lag "
                    "{2} of the model: it must be longer than the model.", kAboutArgument}},
      {401, {false, "d = {1} is outside the method's range: |d| must stay below 0.5 - 2^-26.5 "
                    "for the exact method (opt 1, and always for forecasts) and below "
                    "1 - 2^-26.5 for the conditional method; d = 0 is the ARMA model.",
             kAboutArgument}},
      {402, {false, "The AR polynomial 1 - phi_1 B - ... has a root on or inside the unit "
                    "circle: the model is not stationary, so its autocovariances, exact "
                    "likelihood and forecasts do not exist.", kAboutArgument}},
      {403, {false, "The {1} lag list leaves coefficient {2} without a lag of its own (a "
                    "repeated or fractional lag): every coefficient must have one to be a "
                    "parameter.", kAboutArgument}},
      {404, {true, "The Hessian of the log-likelihood is not negative definite at these "
                   "parameters: they are not at a maximum (or the model is not identified "
                   "there), so no covariance matrix is returned."}},
      {405, {true, "d = {1} is at or within 2^-11 of its bound: the likelihood has no interior "
                   "maximum in d there, so d is held (its row and column of the Hessian are "
                   "missing) and no covariance matrix is returned."}},
      {410, {false, "The series is not longer than the model (rows: {1}; largest AR or MA "
                    "lag: {2}): give more rows, or a model of lower order."}},
      {411, {false, "The AR coefficients phi are not stationary (a root of the AR polynomial "
                    "has modulus 1 or more, at 2^-26.5): the forecasts, residuals and "
                    "information of the exact likelihood need a stationary model."}},
      {412, {true, "The Hessian of the log-likelihood is not negative definite at these "
                   "parameters: they are not a maximum of the likelihood (or a parameter is "
                   "not identified), so cov is not created and there are no standard errors."}},
      {413, {true, "The parameters lie within a difference step of the model's bounds (an AR "
                   "part on the edge of stationarity or a sigma nearly singular): the Hessian "
                   "cannot be formed by differences there, and neither hessian nor cov is "
                   "created."}},
      {414, {false, "The level of the prediction intervals must lie strictly between 0 and 1 "
                    "(0.95 gives 95% intervals).", kAboutArgument}},
      {420, {false, "The lag {1} is not below the length of the series ({2} observations): "
                    "give a lag of at most the length less one."}},
  };
  return t;
}

std::string insert_text(const InsertValue& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(v));
  return buf;
}

}  // namespace

std::string message_text(int number, const std::vector<InsertValue>& inserts) {
  auto it = texts().find(number);
  if (it == texts().end()) {
    std::string s = "Message " + std::to_string(number);
    for (const InsertValue& v : inserts) {
      s += ' ';
      s += insert_text(v);
    }
    return s + ".";
  }
  std::string out;
  const std::string t = it->second.text;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '{' && i + 2 < t.size() && t[i + 2] == '}' && t[i + 1] >= '1' && t[i + 1] <= '9') {
      const std::size_t k = std::size_t(t[i + 1] - '1');
      out += k < inserts.size() ? insert_text(inserts[k]) : "?";
      i += 2;
    } else {
      out += t[i];
    }
  }
  return out;
}

bool message_is_note(int number) {
  auto it = texts().find(number);
  return it != texts().end() && it->second.note;
}

bool message_names_argument(int number) {
  auto it = texts().find(number);
  return it != texts().end() && it->second.argument;
}

std::string error_text(int code) {
  switch (code) {
    case MCN_ERROR_OUT_OF_MEMORY:
      return "The host could not provide the memory the call needs.";
    case MCN_ERROR_BAD_OUTPUT:
      return "The module asked for an output the function does not have.";
    case MCN_FATAL_REGISTRATION:
      return "Fatal: the module could not register its functions (no memory).";
    case MCN_ERROR_FLOATING_POINT:
      return "A floating-point overflow, division by zero or invalid operation occurred in a "
             "vector kernel; check the inputs for extreme values.";
    case MCN_ERROR_INTERNAL: return "An internal error occurred in the module.";
    case MCN_ERROR_RESULT_ROWS:
      return "The result would have more than 2147483647 rows, the most a result can hold; "
             "ask for fewer lags or observations.";
    default: return "Host error " + std::to_string(code) + ".";
  }
}

std::string argument_status_text(int status) {
  switch (status) {
    case 2: return "holds no value";
    case 6: return "must be a vector and is not one";
    case 8: return "is not positive definite";
    case 10: return "is not symmetric";
    case 11: return "lies outside its permitted range";
    case 13: return "is a character value where numbers are required";
    case 15: return "must be a scalar and has more than one element";
    case 17: return "contains missing values";
    case 18: return "holds a whole number above 2147483647";
    default: return {};
  }
}

std::string status_text(int status) {
  switch (status) {
    case -1: return "the covariance matrix is numerically singular (a Cholesky pivot below 1e-14)";
    case 1: return "a host error occurred, or an output could not be created";
    case 2: return "an argument holds no value";
    case 6: return "an argument that must be a vector is not one";
    case 8: return "a covariance matrix is not positive definite";
    case 10: return "a covariance matrix is not symmetric";
    case 11: return "a value lies outside its permitted range";
    case 13: return "a character value was given where numbers are required";
    case 15: return "an argument that must be a scalar has more than one element";
    case 17: return "an argument contains missing values";
    case 18: return "a whole number exceeds 2147483647";
    // Status 100 normally comes with the module's message, which then stands
    // in place of this line; without one it is the stop of a diverging
    // Kalman filter (a state covariance element reaching 1.34e154) or an
    // optimization that failed for no reason the objective recorded.
    case 100: return "the computation stopped without a message (a Kalman filter whose state "
                     "covariance diverges, or an optimization that failed, ends this way)";
    default: return {};
  }
}

}  // namespace mvts
