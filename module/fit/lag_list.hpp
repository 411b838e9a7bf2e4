// The lag lists of the two fitting functions (VARMAFIT's AR and MA lags,
// FARMAFIT's p and q), read the same way by both.
#pragma once

#include "module/frame/args.hpp"

namespace mvtsa {

// A lag list of VARMAFIT or FARMAFIT (input i, given): no value 2,
// character 13, missing values 17, a dimension below 1 message 350, a
// matrix message 351 ("matrix", "vector"), an element below 1 (so also one
// in (0, 1), whose integer part names no lag) message 353, an element above
// 2147483647 status 18.  Fills *lags with the distinct integer lags
// ascending, *count and *order (the largest).
int fit_lag_list(const ArgList& in, int i, WorkBlock<int>* lags, int* count, int* order);

}  // namespace mvtsa
