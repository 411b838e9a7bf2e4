#include "cli/summary.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace mvts::cli {
namespace {

constexpr double kLog2Pi = 1.8378770664093454836;  // ln(2 pi)
constexpr double kZ975 = 1.9599639845400542;       // the normal 0.975 quantile

// The whole lags of a lag-list argument, ascending and distinct, as the
// fits read them; none for an omitted argument.
std::vector<long> lags_of(const std::vector<Value>& args, std::size_t slot) {
  std::vector<long> lags;
  if (slot >= args.size() || args[slot].kind != Value::Kind::kNumeric) return lags;
  for (double x : args[slot].m.data)
    if (std::isfinite(x) && x >= 1) lags.push_back(long(std::trunc(x)));
  std::sort(lags.begin(), lags.end());
  lags.erase(std::unique(lags.begin(), lags.end()), lags.end());
  return lags;
}

std::string list_text(const std::vector<long>& lags) {
  std::string s = "[";
  for (std::size_t i = 0; i < lags.size(); ++i) {
    if (i) s += ' ';
    s += std::to_string(lags[i]);
  }
  return s + "]";
}

Value output_value(const CallResult& r, std::size_t i) {
  if (i >= r.outputs.size() || !r.outputs[i]) return Value::omitted();
  return Value::matrix(*r.outputs[i]);
}

// The failure of a statistics call as a note: its messages' texts.
std::string failure_note(const char* function, const CallResult& r) {
  std::string s = std::string(function) + " failed (status " + std::to_string(r.status) + ")";
  for (const Message& m : r.messages) s += ": " + m.text;
  return s;
}

// Standard errors from the cov output of an information call: the square
// roots of its diagonal, missing where the call gave no covariance.
void standard_errors(Host& host, const char* info, std::vector<Value> args, FitSummary* s,
                     std::size_t count) {
  s->se.assign(s->coef.size(), std::nan(""));
  const CallResult r = host.call(info, std::move(args));
  for (const Message& m : r.messages) s->notes.push_back(m.text);
  if (r.status != 0) {
    s->notes.push_back(failure_note(info, r));
    return;
  }
  if (r.outputs.size() < 2 || !r.outputs[1]) return;  // not negative definite: the note says so
  const Matrix& cov = *r.outputs[1];
  for (std::size_t i = 0; i < count && std::int32_t(i) < cov.rows && std::int32_t(i) < cov.cols; ++i)
    if (cov.at(std::int64_t(i), std::int64_t(i)) >= 0) s->se[i] = std::sqrt(cov.at(std::int64_t(i), std::int64_t(i)));
}

// The log-likelihood from standardised residuals r and the log-variances
// of the one-step predictions (log v, or log det F): -1/2 (sum r^2 + sum
// log v) - (observed values)/2 ln(2 pi).
void loglik_from_residuals(Host& host, const char* res, std::vector<Value> args, bool log_given,
                           FitSummary* s) {
  const CallResult r = host.call(res, std::move(args));
  if (r.status != 0 || r.outputs.size() < 2 || !r.outputs[0] || !r.outputs[1]) {
    s->llf = std::nan("");
    s->notes.push_back(failure_note(res, r));
    return;
  }
  const Matrix& e = *r.outputs[0];
  const Matrix& v = *r.outputs[r.outputs.size() > 2 ? 2 : 1];
  double sum = 0;
  std::int64_t values = 0, rows = 0;
  for (std::int64_t t = 0; t < e.rows; ++t) {
    bool any = false;
    for (std::int64_t j = 0; j < e.cols; ++j) {
      const double x = e.at(t, j);
      if (std::isnan(x)) continue;
      sum += x * x;
      ++values;
      any = true;
    }
    if (!any) continue;
    ++rows;
    const double w = v.at(t, 0);
    sum += log_given ? w : std::log(w);
  }
  s->llf = -0.5 * sum - 0.5 * double(values) * kLog2Pi;
  s->nobs = rows;
}

// The standard error of the estimated mean under the fitted model: for the
// generalised least-squares mean 1 / sqrt(1' G^-1 1), where 1' G^-1 1 is
// the sum of the squared standardised innovations of a series of ones; for
// the sample mean sqrt(1' G 1) / n from the autocovariances.  Missing, with
// a note, where the call fails.
double mean_standard_error(Host& host, std::vector<Value> model, bool exact, std::int64_t n,
                           FitSummary* s) {
  if (exact) {
    model[0] = Value::matrix(std::int32_t(n), 1, std::vector<double>(std::size_t(n), 1.0));
    model[8] = Value::scalar(0);
    const CallResult r = host.call("FARMARES", std::move(model));
    if (r.status == 0 && !r.outputs.empty() && r.outputs[0]) {
      double q = 0;
      for (double e : r.outputs[0]->data) q += e * e;
      return 1 / std::sqrt(q);
    }
    s->notes.push_back(failure_note("FARMARES", r));
    return std::nan("");
  }
  // FARMACOV: d phi theta sigma p q lag.
  const CallResult r = host.call(
      "FARMACOV", {model[1], model[2], model[3], model[4], model[5], model[6],
                   Value::scalar(double(std::max<std::int64_t>(n - 1, 1)))});
  if (r.status != 0 || r.outputs.empty() || !r.outputs[0]) {
    s->notes.push_back(failure_note("FARMACOV", r));
    return std::nan("");
  }
  const std::vector<double>& g = r.outputs[0]->data;
  double v = double(n) * g[0];
  for (std::int64_t h = 1; h < n && h < std::int64_t(g.size()); ++h)
    v += 2 * double(n - h) * g[std::size_t(h)];
  return v > 0 ? std::sqrt(v) / double(n) : std::nan("");
}

FitSummary arfima_summary(Host& host, std::string_view function, const std::vector<Value>& args,
                          const CallResult& fit) {
  FitSummary s;
  const std::vector<long> p = lags_of(args, 1), q = lags_of(args, 2);
  const bool exact = args.size() > 3 && args[3].kind == Value::Kind::kNumeric &&
                     !args[3].m.data.empty() && args[3].m.data[0] == 1;
  const bool with_mean = function == "FARMAFITMEAN";
  s.title = "ARFIMA(" + list_text(p) + ", d, " + list_text(q) + ")" +
            (with_mean ? " with a mean" : ", zero mean") + ", " +
            (exact ? "exact maximum likelihood" : "conditional sum of squares") + " (" +
            std::string(function) + ")";
  s.names.push_back("d");
  s.coef.push_back(fit.outputs[0]->data[0]);
  for (std::size_t i = 0; i < p.size(); ++i) {
    s.names.push_back("ar.L" + std::to_string(p[i]));
    s.coef.push_back(fit.outputs[1]->data[i]);
  }
  for (std::size_t i = 0; i < q.size(); ++i) {
    s.names.push_back("ma.L" + std::to_string(q[i]));
    s.coef.push_back(fit.outputs[2]->data[i]);
  }
  s.names.push_back("sigma2");
  s.coef.push_back(fit.outputs[3]->data[0]);
  const Value mean = with_mean ? output_value(fit, 4) : Value::scalar(0);
  if (with_mean) {
    s.names.push_back("mean");
    s.coef.push_back(mean.m.data[0]);
  }
  // FARMARES and FARMAINFO: series d phi theta sigma p q opt mean.
  auto model_args = [&] {
    return std::vector<Value>{args[0],
                              output_value(fit, 0),
                              p.empty() ? Value::omitted() : output_value(fit, 1),
                              q.empty() ? Value::omitted() : output_value(fit, 2),
                              output_value(fit, 3),
                              p.empty() ? Value::omitted() : args[1],
                              q.empty() ? Value::omitted() : args[2],
                              Value::scalar(exact ? 1 : 0),
                              mean};
  };
  loglik_from_residuals(host, "FARMARES", model_args(), false, &s);
  standard_errors(host, "FARMAINFO", model_args(), &s, s.coef.size() - (with_mean ? 1 : 0));
  if (with_mean) {
    s.se.back() = mean_standard_error(host, model_args(), exact, args[0].m.rows * args[0].m.cols, &s);
    s.notes.push_back(exact ? "the mean is the generalised least-squares mean, profiled out of "
                              "the likelihood"
                            : "the mean is the sample mean, removed before the fit");
  }
  if (std::fabs(s.coef[0]) > 0.49)
    s.notes.push_back("d is near the bound |d| < 0.5: its standard error is not reliable");
  return s;
}

FitSummary varma_summary(Host& host, const std::vector<Value>& args, const CallResult& fit) {
  FitSummary s;
  const std::vector<long> p = lags_of(args, 1), q = lags_of(args, 2);
  const Matrix& sigma = *fit.outputs[2];
  const int k = sigma.rows;
  s.title = "VARMA(" + list_text(p) + ", " + list_text(q) + "), k = " + std::to_string(k) +
            ", zero mean, exact maximum likelihood (VARMAFIT)";
  auto blocks = [&](const char* part, const std::vector<long>& lags, std::size_t out) {
    for (std::size_t b = 0; b < lags.size(); ++b)
      for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j) {
          s.names.push_back(std::string(part) + ".L" + std::to_string(lags[b]) + ".y" +
                            std::to_string(i + 1) + ".y" + std::to_string(j + 1));
          s.coef.push_back(fit.outputs[out]->at(std::int64_t(b) * k + i, j));
        }
  };
  blocks("ar", p, 0);
  blocks("ma", q, 1);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j <= i; ++j) {
      s.names.push_back("sigma.y" + std::to_string(i + 1) + ".y" + std::to_string(j + 1));
      s.coef.push_back(sigma.at(i, j));
    }
  // VARMARES and VARMAINFO: series phi theta sigma p q.
  auto model_args = [&] {
    return std::vector<Value>{args[0],
                              p.empty() ? Value::omitted() : output_value(fit, 0),
                              q.empty() ? Value::omitted() : output_value(fit, 1),
                              output_value(fit, 2),
                              p.empty() ? Value::omitted() : args[1],
                              q.empty() ? Value::omitted() : args[2]};
  };
  loglik_from_residuals(host, "VARMARES", model_args(), true, &s);
  standard_errors(host, "VARMAINFO", model_args(), &s, s.coef.size());
  return s;
}

std::string number(double x) {
  char buf[32];
  if (std::isnan(x)) return "          .";
  const double a = std::fabs(x);
  std::snprintf(buf, sizeof buf, (a != 0 && (a < 1e-3 || a >= 1e6)) ? "%11.3e" : "%11.4f", x);
  return buf;
}

}  // namespace

bool is_summarised_fit(std::string_view function) {
  return function == "FARMAFIT" || function == "FARMAFITMEAN" || function == "VARMAFIT";
}

FitSummary summarize_fit(Host& host, std::string_view function, const std::vector<Value>& args,
                         const CallResult& fit) {
  const char* needed = function == "VARMAFIT" ? "VARMAINFO" : "FARMAINFO";
  if (!host.find(needed))
    throw std::runtime_error(std::string("summary needs ") + needed +
                             " of the statistics module orvmvtst, which the loaded modules "
                             "do not register");
  return function == "VARMAFIT" ? varma_summary(host, args, fit)
                                : arfima_summary(host, function, args, fit);
}

Matrix summary_matrix(const FitSummary& s) {
  const auto m = std::int32_t(s.coef.size());
  Matrix out(m, 6);
  for (std::int32_t i = 0; i < m; ++i) {
    const double b = s.coef[std::size_t(i)], se = s.se[std::size_t(i)];
    const double z = b / se;
    out.at(i, 0) = b;
    out.at(i, 1) = se;
    out.at(i, 2) = z;
    out.at(i, 3) = std::erfc(std::fabs(z) / std::sqrt(2.0));
    out.at(i, 4) = b - kZ975 * se;
    out.at(i, 5) = b + kZ975 * se;
  }
  return out;
}

Matrix summary_criteria(const FitSummary& s) {
  const double m = double(s.coef.size()), n = double(s.nobs);
  Matrix out(1, 5);
  out.at(0, 0) = s.llf;
  out.at(0, 1) = -2 * s.llf + 2 * m;
  out.at(0, 2) = -2 * s.llf + m * std::log(n);
  out.at(0, 3) = -2 * s.llf + 2 * m * std::log(std::log(n));
  out.at(0, 4) = n;
  return out;
}

std::string summary_text(const FitSummary& s) {
  const Matrix t = summary_matrix(s), c = summary_criteria(s);
  std::size_t width = 6;
  for (const std::string& n : s.names) width = std::max(width, n.size());
  std::string out = s.title + "\n";
  out += "observations " + std::to_string(s.nobs) + ", log-likelihood " + number(c.at(0, 0)) +
         " (with -n/2 ln(2 pi))\nAIC " + number(c.at(0, 1)) + "   BIC " + number(c.at(0, 2)) +
         "   HQIC " + number(c.at(0, 3)) + "\n\n";
  out += std::string(width, ' ') +
         "       coef    std err          z      P>|z|     [0.025     0.975]\n";
  for (std::int32_t i = 0; i < t.rows; ++i) {
    std::string name = s.names[std::size_t(i)];
    out += name + std::string(width - name.size(), ' ');
    for (int j = 0; j < 6; ++j) out += number(t.at(i, j));
    out += "\n";
  }
  for (const std::string& n : s.notes) out += "note: " + n + "\n";
  return out;
}

}  // namespace mvts::cli
