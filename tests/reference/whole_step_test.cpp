// The kernel's whole steps against the independent reference, bit for bit:
// long runs at every order, realistic gains, step sizes in every Pade band and
// on the scaling path, states non-zero up to z10. The reference runs on the
// same build, through the same C library's exp and pow, so the bits agree on
// every platform.
#include "reference/whole_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kernel/differentiator.h"
#include "kernel/matrix_exponential.h"

namespace {

bool same(double x, double y) {
  if (std::isnan(x) && std::isnan(y)) return true;  // which NaN a NaN operation returns is the compiler's
  return std::memcmp(&x, &y, sizeof x) == 0;
}

struct Band {
  const char* name;
  double h;
};

void PrintTo(const Band& b, std::ostream* os) { *os << b.name; }

class WholeSteps : public ::testing::TestWithParam<Band> {};

TEST_P(WholeSteps, EqualTheReferenceBitForBit) {
  const double h = GetParam().h;
  corvel::differentiator_initialize();
  corvel::build_transition_matrix(h);
  reference::Matrix phi;
  reference::transition_matrix(h, phi);
  for (int k = 0; k < 121; ++k) ASSERT_TRUE(same(phi[k], corvel::transition_matrix[k])) << "matrix entry " << k;

  long compared = 0, finite = 0;
  for (int n = 1; n <= 10; ++n) {
    for (const double L : {3.0, 30.0, 400.0}) {
      // A start away from rest: every state non-zero, so every row of the
      // product and every gain take part from the first step on.
      double z[11], z_next[11], r[11], r_next[11];
      for (int i = 0; i < 11; ++i) z[i] = r[i] = 0.3 * (i + 1) * (i % 2 ? -1.0 : 1.0);
      for (int k = 0; k < 400; ++k) {
        const double t = k * std::fmin(h, 0.05);
        const double u = 2.0 * std::sin(1.3 * t) + 0.4 * t + 0.003 * std::sin(97.0 * k);
        double e = 0.0, e_ref = 0.0;
        corvel::differentiator_step(u, z, L, h, n, &e, z_next);
        reference::step(phi, u, r, L, h, n, &e_ref, r_next);
        ASSERT_TRUE(same(e, e_ref)) << "order " << n << ", L " << L << ", step " << k;
        for (int i = 0; i < 11; ++i) {
          ++compared;
          if (std::isfinite(z_next[i])) ++finite;
          ASSERT_TRUE(same(z_next[i], r_next[i])) << "order " << n << ", L " << L << ", step " << k << ", state " << i
                                                  << ": " << z_next[i] << " vs " << r_next[i];
        }
        std::memcpy(z, z_next, sizeof z);
        std::memcpy(r, r_next, sizeof r);
      }
    }
  }
  // Not a comparison of NaNs: most of the values are finite numbers.
  EXPECT_GT(finite, compared * 3 / 4) << finite << " of " << compared << " finite";
}

INSTANTIATE_TEST_SUITE_P(PadeBands, WholeSteps,
                         ::testing::Values(Band{"degree3_h0_001", 0.001}, Band{"degree3_h0_01", 0.01},
                                           Band{"degree5_h0_1", 0.1}, Band{"degree7_h0_5", 0.5},
                                           Band{"degree9_h1_5", 1.5}, Band{"degree13_h4", 4.0},
                                           Band{"scaled_once_h6", 6.0}, Band{"scaled_five_times_h100", 100.0},
                                           Band{"negative_h", -0.2}));

}  // namespace
