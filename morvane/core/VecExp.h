#pragma once

namespace morvane {

// out[i] = exp(in[i]) for i < n; vectorised through the C library's vector math functions where the
// compiler and the processor allow (within two units in the last place of the scalar function).
void ExpArray(const double *in, double *out, int n);

} // namespace morvane
