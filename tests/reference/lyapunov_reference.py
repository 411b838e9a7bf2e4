#!/usr/bin/python3
"""The 60-digit stationary covariance used by
tests/varma/initial_covariance_test.cpp (ExactSolutionNearAUnitRoot):
P = T P T' + Q solved as (I - T (x) T) vec P = vec Q in mpmath at 60
significant digits, for the exactly representable T and Q below, printed
rounded to 17 digits.  CI does not run it (the test holds the numbers).

  /usr/bin/python3 tests/reference/lyapunov_reference.py
"""
import mpmath as mp

mp.mp.dps = 60
# Companion form of a bivariate AR(2): Phi_1 = [[0.625, 0.25], [0, 0.2]],
# Phi_2 = diag(-(1 - 2^-20), 0.15); the first component's roots have modulus
# sqrt(1 - 2^-20), about 1 - 4.8e-7.
T = [[0, 0, 1, 0],
     [0, 0, 0, 1],
     [-(1 - mp.mpf(2) ** -20), 0, 0.625, 0.25],
     [0, 0.15, 0, 0.2]]
Q = [[1, 0.25, 0.5, 0],
     [0.25, 2, 0.125, 0.5],
     [0.5, 0.125, 1.5, -0.25],
     [0, 0.5, -0.25, 1]]
f = 4
A = mp.matrix(f * f, f * f)
b = mp.matrix(f * f, 1)
for i in range(f):
    for j in range(f):
        b[i * f + j] = Q[i][j]
        for r in range(f):
            for c in range(f):
                A[i * f + j, r * f + c] = (1 if (i, j) == (r, c) else 0) - mp.mpf(T[i][r]) * T[j][c]
x = mp.lu_solve(A, b)
for i in range(f):
    print(", ".join(mp.nstr(x[i * f + j], 17, min_fixed=-1, max_fixed=-1) for j in range(f)) + ",")
