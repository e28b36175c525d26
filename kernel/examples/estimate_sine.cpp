// An example of the kernel's API on its own, without the host: runs the
// differentiator over sin(t) and prints its estimates beside the true signal
// and derivatives.
#include <cmath>
#include <cstdio>

#include "kernel/correction.h"
#include "kernel/differentiator.h"

int main() {
  const double h = 0.01, L = 20.0, n = 3.0;
  double z[corvel::kStateCount] = {}, z_next[corvel::kStateCount], e = 0.0;
  corvel::differentiator_initialize();
  z[0] = std::sin(0.0);
  std::printf("%8s %12s %12s %12s %12s %12s %12s\n", "t", "sin t", "z0", "cos t", "z1", "-sin t", "z2");
  for (int k = 0; k <= 1000; ++k) {
    const double t = k * h;
    corvel::differentiator_step(std::sin(t), z, L, h, n, &e, z_next);
    for (int i = 0; i < corvel::kStateCount; ++i) z[i] = z_next[i];
    // After the step z estimates the signal at t + h.
    const double next = t + h;
    if (k % 100 == 0) {
      std::printf("%8.2f %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f\n", next, std::sin(next), z[0], std::cos(next),
                  z[1], -std::sin(next), z[2]);
    }
  }
  return 0;
}
