#pragma once

namespace morvane {

// out[i] = exp(in[i]) for i < n; vectorised through the C library's vector math functions where the
// compiler and the processor allow (within two units in the last place of the scalar function).
void ExpArray(const double *in, double *out, int n);

// The exponents of one pass band: out[i] = rayleigh / q[i], out[n + i] = ozone * sigmaO3[i] * loschmidt and
// out[2n + i] = no2 * sigmaNo2[i] * loschmidt (left to right), vectorised; every operation is rounded as
// in scalar code, so the values are the same.
void BandExponents(double rayleigh, const double *q, double ozone, const double *sigmaO3, double no2,
                   const double *sigmaNo2, double loschmidt, double *out, int n);

} // namespace morvane
