#include "morvane/core/VecExp.h"

#include <cmath>

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(MORVANE_VECTOR_EXP)
// The vector variants of exp exist in glibc's libmvec; math.h declares them only for -ffast-math.
extern "C" double exp(double) noexcept __attribute__((simd("notinbranch")));

namespace morvane {

__attribute__((target_clones("avx2", "default"))) void ExpArray(const double *__restrict in, double *__restrict out,
                                                                int n) {
#pragma omp simd
  for (int i = 0; i < n; ++i)
    out[i] = exp(in[i]);
}

__attribute__((target_clones("avx2", "default"))) void
BandExponents(double rayleigh, const double *__restrict q, double ozone, const double *__restrict sigmaO3, double no2,
              const double *__restrict sigmaNo2, double loschmidt, double *__restrict out, int n) {
#pragma omp simd
  for (int i = 0; i < n; ++i) {
    out[i] = rayleigh / q[i];
    out[n + i] = ozone * sigmaO3[i] * loschmidt;
    out[2 * n + i] = no2 * sigmaNo2[i] * loschmidt;
  }
}

} // namespace morvane
#else
namespace morvane {

void ExpArray(const double *in, double *out, int n) {
  for (int i = 0; i < n; ++i)
    out[i] = std::exp(in[i]);
}

void BandExponents(double rayleigh, const double *q, double ozone, const double *sigmaO3, double no2,
                   const double *sigmaNo2, double loschmidt, double *out, int n) {
  for (int i = 0; i < n; ++i) {
    out[i] = rayleigh / q[i];
    out[n + i] = ozone * sigmaO3[i] * loschmidt;
    out[2 * n + i] = no2 * sigmaNo2[i] * loschmidt;
  }
}

} // namespace morvane
#endif
