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

} // namespace morvane
#else
namespace morvane {

void ExpArray(const double *in, double *out, int n) {
  for (int i = 0; i < n; ++i)
    out[i] = std::exp(in[i]);
}

} // namespace morvane
#endif
