// The end-of-call check of every entry point: no missing value where a
// function promises a number.
#include <cstdint>
#include <cstring>

#include "module/frame/entries.hpp"

namespace mvtsa {
namespace {

// Whether row r of output 1 is wholly missing.
bool first_output_row_missing(std::int64_t r) {
  for (int o = 0; o < created_output_count(); ++o) {
    const CreatedOutput& c = created_output(o);
    if (c.output != 1 || !c.data || r >= c.rows) continue;
    for (std::int64_t j = 0; j < c.cols; ++j)
      if (!is_missing(c.data[r * c.cols + j])) return false;
    return true;
  }
  return false;
}

// Missing values that a function returns by contract, by output number and
// 0-based element index (row-major).  Everything else must be finite.
//   FDIF      output 1, element 0: the first difference has no predecessor.
//   FARMALIK  output 1, elements 1 and 2 (ln det and the quadratic form):
//             the conditional sum of squares method has neither; the exact
//             method's are finite whenever its log-likelihood (element 0) is.
//   FARMAFIT  outputs 2 and 3 as 1 x 1: the model has no AR (MA) part
//             (FARMAFITMEAN likewise).
//   FARMAINFO output 1, row and column 1: d at its bound, where the Hessian
//             has no row or column for it (note 405).
//   VARMARES  outputs 1 - 3, the rows the likelihood leaves out: those whose
//             standardised innovations (output 1) are wholly missing.
// VARMASIM's output shortened after note 359 holds only the finite
// observations before the overflow, and needs no exception.
bool missing_by_contract(MissingByContract contract, const CreatedOutput& out,
                         std::int64_t element) {
  switch (contract) {
    case MissingByContract::kFdif:
      return out.output == 1 && element == 0;
    case MissingByContract::kFarmalik:
      return out.output == 1 && (element == 1 || element == 2);
    case MissingByContract::kFarmafit:
      return (out.output == 2 || out.output == 3) && out.rows == 1 && out.cols == 1;
    case MissingByContract::kFarmainfo:
      return out.output == 1 && (element / out.cols == 0 || element % out.cols == 0);
    case MissingByContract::kVarmares:
      return out.output <= 3 && first_output_row_missing(element / out.cols);
    case MissingByContract::kNone:
      break;
  }
  return false;
}

// Whether any of x[0..n) is a missing value (all eleven exponent bits set),
// tested on the bits so that the scan raises no floating-point flag and
// vectorises.
bool any_nonfinite(const double* x, std::int64_t n) {
  constexpr std::uint64_t kExponent = 0x7FF0000000000000ULL;
  std::uint64_t found = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, x + i, sizeof bits);
    found |= static_cast<std::uint64_t>((bits & kExponent) == kExponent);
  }
  return found != 0;
}

}  // namespace

int check_finite_outputs(MissingByContract contract) {
  for (int o = 0; o < created_output_count(); ++o) {
    const CreatedOutput& out = created_output(o);
    const std::int64_t n = std::int64_t(out.rows) * out.cols;
    if (!out.data || !any_nonfinite(out.data, n)) continue;
    for (std::int64_t e = 0; e < n; ++e) {
      if (!is_missing(out.data[e]) || missing_by_contract(contract, out, e)) continue;
      issue_message(kMsgResultOverflow, {out.output, static_cast<long long>(e / out.cols + 1),
                                         static_cast<long long>(e % out.cols + 1)});
      return kStatusHostError;
    }
  }
  return kStatusOk;
}

}  // namespace mvtsa
