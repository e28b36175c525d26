#include "kernel/correction.h"

#include <cmath>

#include "kernel/safe_pow.h"

namespace corvel {

namespace {

// The gains of order n are the unique ones for which Phi_n - K e0^T has the
// characteristic polynomial (lambda - F)^(n+1); written here as
// K_j = (1 - F)^(j+1) P(n, j)(F) / (|D(n, j)| h^j), with P(n, j)(1) =
// C(n+1, j+1) |D(n, j)|.
constexpr CorrectionRow kRows[] = {
    // n = 1
    {0, {1}, 1},
    // n = 2
    {1, {1, 5}, 2},
    {0, {1}, -1},
    // n = 3
    {2, {1, 4, 13}, 3},
    {1, {1, 3}, -1},
    {0, {1}, 1},
    // n = 4
    {3, {3, 11, 29, 77}, 12},
    {2, {11, 38, 71}, -12},
    {1, {3, 7}, 2},
    {0, {1}, -1},
    // n = 5
    {4, {2, 7, 17, 37, 87}, 10},
    {3, {5, 18, 39, 58}, -6},
    {2, {7, 22, 31}, 4},
    {1, {2, 4}, -1},
    {0, {1}, 1},
    // n = 6
    {5, {10, 34, 79, 159, 309, 669}, 60},
    {4, {137, 502, 1137, 1972, 2552}, -180},
    {3, {15, 53, 101, 111}, 8},
    {2, {17, 50, 59}, -6},
    {1, {5, 9}, 2},
    {0, {1}, -1},
    // n = 7
    {6, {15, 50, 113, 218, 393, 708, 1443}, 105},
    {5, {63, 233, 538, 978, 1483, 1745}, -90},
    {4, {29, 109, 234, 349, 329}, 15},
    {3, {21, 73, 127, 115}, -6},
    {2, {25, 70, 73}, 6},
    {1, {3, 5}, -1},
    {0, {1}, 1},
    // n = 8
    {7, {35, 115, 255, 479, 829, 1389, 2369, 4609}, 280},
    {6, {363, 1350, 3149, 5844, 9309, 12886, 14139}, -560},
    {5, {469, 1831, 4186, 7046, 9041, 7667}, 240},
    {4, {967, 3692, 7602, 10172, 7807}, -240},
    {3, {35, 120, 195, 154}, 6},
    {2, {23, 62, 59}, -4},
    {1, {7, 11}, 2},
    {0, {1}, -1},
    // n = 9
    {8, {28, 91, 199, 367, 619, 997, 1585, 2593, 4861}, 252},
    {7, {1522, 5681, 13332, 25015, 40730, 59343, 76864, 79913}, -2520},
    {6, {29531, 118284, 281055, 504320, 731505, 846564, 663941}, 15120},
    {5, {534, 2165, 4900, 7770, 8830, 6041}, -120},
    {4, {1069, 4124, 8214, 10124, 6709}, 144},
    {3, {18, 61, 94, 67}, -2},
    {2, {91, 238, 211}, 12},
    {1, {4, 6}, -1},
    {0, {1}, 1},
    // n = 10
    {9, {252, 812, 1757, 3197, 5297, 8321, 12731, 19451, 30791, 55991}, 2520},
    {8, {14258, 53356, 125709, 237422, 391135, 583152, 796379, 980326, 976263}, -25200},
    {7, {58635, 239237, 583413, 1088715, 1685045, 2207595, 2368203, 1748357}, 30240},
    {6, {72368, 305916, 735555, 1283060, 1730010, 1755672, 1102859}, -15120},
    {5, {2565, 10693, 23978, 36258, 37553, 22009}, 288},
    {4, {3013, 11708, 22698, 26228, 15553}, -240},
    {3, {315, 1057, 1561, 1027}, 24},
    {2, {29, 74, 62}, -3},
    {1, {9, 13}, 2},
    {0, {1}, -1},
};

static_assert(sizeof kRows / sizeof kRows[0] == 55, "one row per order n and entry 1..n");

// Index of row (n, 1): the rows of orders 1..n-1 come first.
constexpr int first_row(int n) { return (n - 1) * n / 2; }

// F^m as the gains use it: F itself, F * F, and safe_pow above that. Each
// power is computed once per step and shared by every entry that needs it
// (the same arguments give the same bits).
class PowersOfF {
 public:
  PowersOfF(double F, int highest) {
    power_[1] = F;
    power_[2] = F * F;
    for (int m = 3; m <= highest; ++m) power_[m] = safe_pow(F, m);
  }
  double operator[](int m) const { return power_[m]; }

 private:
  double power_[kMaxOrder + 1] = {};
};

// Terms F^m * c_m added from the highest power down, the constant last.
double evaluate(const CorrectionRow& row, const PowersOfF& F) {
  if (row.degree == 0) return row.coefficients[0];
  double sum = F[row.degree] * row.coefficients[0];
  for (int i = 1; i < row.degree; ++i) sum = sum + F[row.degree - i] * row.coefficients[i];
  return sum + row.coefficients[row.degree];
}

// The doubles nearest 1/m, m = 3..11, as 1.0 / m gives them.
double root_exponent(int m) { return 1.0 / m; }

}  // namespace

const CorrectionRow* correction_row(int n, int j) {
  if (n < kMinOrder || n > kMaxOrder || j < 1 || j > n) return nullptr;
  return &kRows[first_row(n) + j - 1];
}

int whole_order(double n) {
  // The range test comes first so that NaN, infinities and huge values never
  // reach the integer conversion.
  if (!(n >= kMinOrder && n < kMaxOrder + 1)) return 0;
  return static_cast<int>(n);
}

void correction_vector(double n, double e, double F, double h, double k[kStateCount]) {
  for (int i = 0; i < kStateCount; ++i) k[i] = 0.0;
  const int order = whole_order(n);
  if (order == 0) return;

  const double N = order + 1.0;
  const double a = std::fabs(e);
  const double g = (F - 1.0) / h;

  k[0] = (N - F * N) * a;

  // Order 7 forms s with the product before the division; the two forms can
  // differ in the last bit.
  const double s = order == 7 ? (std::sqrt(a) * (F - 1.0)) / h : std::sqrt(a) * g;
  const double W1 = s * s;
  const CorrectionRow& first = *correction_row(order, 1);
  const PowersOfF powers(F, first.degree);  // entry 1 has the highest degree, n - 1
  k[1] = ((W1 * evaluate(first, powers)) * h) / first.divisor;

  for (int j = 2; j <= order; ++j) {
    const double Wj = safe_pow(safe_pow(a, root_exponent(j + 1)) * g, j + 1.0);
    const CorrectionRow& row = *correction_row(order, j);
    k[j] = ((Wj * evaluate(row, powers)) * h) / row.divisor;
  }
}

}  // namespace corvel
