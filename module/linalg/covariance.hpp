// Routines on covariance matrices shared by the VARMA and ARFIMA functions,
// one header per concern: packed symmetric storage (packed.hpp), the
// symmetry and positive-definiteness tests (covariance_checks.hpp) and the
// Cholesky and floored LDL' factorisations (cholesky.hpp).
#pragma once

#include "module/linalg/cholesky.hpp"
#include "module/linalg/covariance_checks.hpp"
#include "module/linalg/packed.hpp"
