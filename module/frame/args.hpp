// Argument checking shared by every entry point: each input is classified by
// its role, and each role runs a fixed sequence of checks.  Every check
// function returns 0 or the status that ends the call (after issuing the
// host message where one is due).
#pragma once

#include <cstdint>
#include <vector>

#include "module/frame/host.hpp"

namespace mvtsa {

// Normalised lag list: distinct lags ascending, and the order (largest lag).
struct LagList {
  bool given = false;
  int count_given = 0;          // elements before repeats were dropped
  std::vector<double> lags;     // distinct, ascending
  std::int64_t order = 0;       // largest lag, truncated
};

// The shape of m as message 351 names it: "scalar", "vector" or "matrix".
const char* shape_word(const MatrixArg& m);

class ArgList {
 public:
  ArgList(void** args, const std::int32_t* given)
      : args_(args), count_(given ? *given : 0) {}

  // Given: the count of given inputs exceeds i and slot i is not null.
  bool given(int i) const { return i >= 0 && i < count_ && args_ && args_[i] != nullptr; }
  void* slot(int i) const { return given(i) ? args_[i] : nullptr; }
  int count() const { return count_; }

  // Fetches a given input: no value -> 2; character -> 13.
  int fetch(int i, MatrixArg* m) const;
  // Fetches input i again (after create_result); an omitted input gives an
  // empty MatrixArg.
  MatrixArg refetch(int i) const;

  // Coefficient matrix.  `dim` is the dimension fixed so far (0: none); it is
  // set from the columns.  `which` is "AR" or "MA".  blocks = rows / cols.
  int coefficients(int i, const char* which, int* dim, MatrixArg* m, int* blocks) const;
  // The AR and MA coefficient matrices of a VARMA model, each optional (an
  // omitted one has 0 blocks); neither given: message 354 "coefficient".
  int coefficient_pair(int phi_slot, int theta_slot, int* dim, MatrixArg* phi, int* p,
                       MatrixArg* theta, int* q) const;
  // A T x k series with k >= 2, missing values allowed: omitted or no value
  // 2; character 13; a dimension below 1: message 350; one column: 351.
  int series(int i, MatrixArg* m) const;
  // Square matrix (covariance).
  int square(int i, int* dim, MatrixArg* m) const;
  // Vector (mean); its length must equal *dim when that is set, else sets it.
  int vector(int i, int* dim, MatrixArg* m) const;
  // Lag list for a coefficient matrix with `blocks` blocks.
  int lag_list(int i, int blocks, const char* which, LagList* out) const;
  // Whole-number scalar: the truncated value.
  int whole_number(int i, std::int64_t* value) const;
  // Seed scalar: any value.
  int seed(int i, double* value) const;

 private:
  // The checks every numeric array role starts with: fetch, then no missing
  // value (17), then at least one row and one column (350).
  int fetch_complete(int i, MatrixArg* m) const;

  void** args_;
  int count_;
};

// Screens a T x k series row by row: an element above the series bound in
// magnitude draws message 368 (column, row, bound) and counts as missing
// from then on.  Infinities draw the message too when `infinities_draw` is
// set (the fits); otherwise they are simply missing (the likelihood).
// `copy`, when not null, receives the screened series.  Returns whether the
// series holds a missing value afterwards.
bool screen_series(const double* y, std::int64_t T, int k, bool infinities_draw, double* copy);

// Sorts ascending and drops repeats; the order is the largest element
// truncated toward zero.
void normalise_lags(const double* values, std::int64_t n, LagList* out);

// Spreads `blocks` blocks of k*k doubles (stacked as given) over a
// zero-filled array of lags.order blocks: the j-th given block goes to the
// lag equal to the j-th smallest listed lag.  Blocks beyond the number of
// distinct lags, and blocks at a fractional lag, are placed nowhere.
// Without a list (lags.given false) block j goes to lag j + 1.
void spread_blocks(const double* given_blocks, int blocks, int k, const LagList& lags,
                   double* out);

// The number of blocks after spreading (the order, or the block count when
// no list is given).
inline std::int64_t lag_order(const LagList& lags, int blocks) {
  return lags.given ? lags.order : blocks;
}

}  // namespace mvtsa
