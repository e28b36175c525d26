#include "reference/whole_step.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace reference {

namespace {

constexpr int kN = 11;
int at(int r, int c) { return r + kN * c; }

const double kInf = std::numeric_limits<double>::infinity();
// The quiet NaN with the sign bit set that the block's power rules return.
double minus_nan() {
  const unsigned long long bits = 0xFFF8000000000000ull;
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// The block's power: special cases first, the library's pow last.
double power(double base, double exponent) {
  if (base != base || exponent != exponent) return minus_nan();
  if (exponent == kInf || exponent == -kInf) {
    const double m = std::fabs(base);
    if (m == 1.0) return minus_nan();
    if (m > 1.0) return exponent > 0.0 ? kInf : 0.0;
    return exponent > 0.0 ? 0.0 : kInf;
  }
  if (std::fabs(exponent) == 0.0) return 1.0;
  if (std::fabs(exponent) == 1.0) return exponent > 0.0 ? base : 1.0 / base;
  if (exponent == 2.0) return base * base;
  if (exponent == 0.5 && base >= 0.0) return std::sqrt(base);
  if (base < 0.0 && exponent > std::floor(exponent)) return minus_nan();
  return std::pow(base, exponent);
}

void copy(const Matrix from, Matrix to) { std::memcpy(to, from, sizeof(Matrix)); }

void product(const Matrix x, const Matrix y, Matrix out) {
  for (int c = 0; c < kN; ++c) {
    for (int r = 0; r < kN; ++r) {
      double sum = 0.0;
      for (int k = 0; k < kN; ++k) sum = sum + x[at(r, k)] * y[at(k, c)];
      out[at(r, c)] = sum;
    }
  }
}

// B := X with A X = B: LU with partial pivoting of a copy of A, then forward
// and back substitution column by column.
void solve(const Matrix a, Matrix b) {
  Matrix w;
  copy(a, w);
  for (int j = 0; j + 1 < kN; ++j) {
    int p = j;
    double best = std::fabs(w[at(j, j)]);
    for (int i = j + 1; i < kN; ++i) {
      if (std::fabs(w[at(i, j)]) > best) {
        p = i;
        best = std::fabs(w[at(i, j)]);
      }
    }
    const bool exchange = !(w[at(p, j)] == 0.0) && p != j;
    if (!(w[at(p, j)] == 0.0)) {
      if (p != j) {
        for (int c = 0; c < kN; ++c) {
          const double t = w[at(j, c)];
          w[at(j, c)] = w[at(p, c)];
          w[at(p, c)] = t;
        }
      }
      for (int i = j + 1; i < kN; ++i) w[at(i, j)] = w[at(i, j)] / w[at(j, j)];
    }
    for (int c = j + 1; c < kN; ++c) {
      const double t = w[at(j, c)];
      if (t == 0.0) continue;
      for (int i = j + 1; i < kN; ++i) w[at(i, c)] = w[at(i, c)] - t * w[at(i, j)];
    }
    if (exchange) {
      for (int c = 0; c < kN; ++c) {
        const double t = b[at(j, c)];
        b[at(j, c)] = b[at(p, c)];
        b[at(p, c)] = t;
      }
    }
  }
  for (int c = 0; c < kN; ++c) {
    for (int k = 0; k < kN; ++k) {
      const double t = b[at(k, c)];
      if (t == 0.0) continue;
      for (int i = k + 1; i < kN; ++i) b[at(i, c)] = b[at(i, c)] - t * w[at(i, k)];
    }
    for (int k = kN - 1; k >= 0; --k) {
      if (b[at(k, c)] == 0.0) continue;
      b[at(k, c)] = b[at(k, c)] / w[at(k, k)];
      for (int i = 0; i < k; ++i) b[at(i, c)] = b[at(i, c)] - b[at(k, c)] * w[at(i, k)];
    }
  }
}

// x := x + c I
void add_identity(Matrix x, double c) {
  for (int i = 0; i < kN; ++i) x[at(i, i)] = x[at(i, i)] + c;
}

// The [m/m] Pade approximant of exp(A): F = I + (V - U)^-1 2U.
void pade(const Matrix a, int m, Matrix f) {
  Matrix a2, a4, a6, a8, v, t, inner;
  product(a, a, a2);
  if (m != 3) product(a2, a2, a4);
  if (m != 3 && m != 5) product(a4, a2, a6);
  if (m == 9) product(a6, a2, a8);
  double d = 0.0;
  switch (m) {
    case 3:
      for (int k = 0; k < 121; ++k) inner[k] = a2[k];
      add_identity(inner, 60.0);
      for (int k = 0; k < 121; ++k) v[k] = 12.0 * a2[k];
      d = 120.0;
      break;
    case 5:
      for (int k = 0; k < 121; ++k) inner[k] = 420.0 * a2[k] + a4[k];
      add_identity(inner, 15120.0);
      for (int k = 0; k < 121; ++k) v[k] = 30.0 * a4[k] + 3360.0 * a2[k];
      d = 30240.0;
      break;
    case 7:
      for (int k = 0; k < 121; ++k) inner[k] = (1512.0 * a4[k] + a6[k]) + 277200.0 * a2[k];
      add_identity(inner, 8648640.0);
      for (int k = 0; k < 121; ++k) v[k] = (56.0 * a6[k] + 25200.0 * a4[k]) + 1995840.0 * a2[k];
      d = 17297280.0;
      break;
    case 9:
      for (int k = 0; k < 121; ++k) inner[k] = ((3960.0 * a6[k] + a8[k]) + 2162160.0 * a4[k]) + 302702400.0 * a2[k];
      add_identity(inner, 8821612800.0);
      for (int k = 0; k < 121; ++k) {
        v[k] = ((110880.0 * a6[k] + 90.0 * a8[k]) + 30270240.0 * a4[k]) + 2075673600.0 * a2[k];
      }
      d = 17643225600.0;
      break;
    default: {
      Matrix w, z;
      for (int k = 0; k < 121; ++k) w[k] = (16380.0 * a4[k] + a6[k]) + 40840800.0 * a2[k];
      for (int k = 0; k < 121; ++k) z[k] = (182.0 * a6[k] + 960960.0 * a4[k]) + 1323241920.0 * a2[k];
      Matrix g;
      for (int k = 0; k < 121; ++k) {
        g[k] = ((33522128640.0 * a6[k] + 10559470521600.0 * a4[k]) + 1187353796428800.0 * a2[k]);
      }
      add_identity(g, 32382376266240000.0);
      product(a6, w, t);
      for (int k = 0; k < 121; ++k) inner[k] = t[k] + g[k];
      product(a6, z, t);
      for (int k = 0; k < 121; ++k) {
        v[k] = ((670442572800.0 * a6[k] + t[k]) + 129060195264000.0 * a4[k]) + 7771770303897600.0 * a2[k];
      }
      d = 64764752532480000.0;
    }
  }
  product(a, inner, f);  // U, held in f
  add_identity(v, d);
  for (int k = 0; k < 121; ++k) {
    v[k] = v[k] - f[k];
    f[k] = 2.0 * f[k];
  }
  solve(v, f);
  add_identity(f, 1.0);
}

struct Row {
  int n, j;
  double divisor;
  double c[10];  // highest power first
  int degree;
};

// P(n, j) and D(n, j) for every order and entry.
const Row kTable[] = {
    {1, 1, 1, {1}, 0},
    {2, 1, 2, {1, 5}, 1}, {2, 2, -1, {1}, 0},
    {3, 1, 3, {1, 4, 13}, 2}, {3, 2, -1, {1, 3}, 1}, {3, 3, 1, {1}, 0},
    {4, 1, 12, {3, 11, 29, 77}, 3}, {4, 2, -12, {11, 38, 71}, 2}, {4, 3, 2, {3, 7}, 1}, {4, 4, -1, {1}, 0},
    {5, 1, 10, {2, 7, 17, 37, 87}, 4}, {5, 2, -6, {5, 18, 39, 58}, 3}, {5, 3, 4, {7, 22, 31}, 2},
    {5, 4, -1, {2, 4}, 1}, {5, 5, 1, {1}, 0},
    {6, 1, 60, {10, 34, 79, 159, 309, 669}, 5}, {6, 2, -180, {137, 502, 1137, 1972, 2552}, 4},
    {6, 3, 8, {15, 53, 101, 111}, 3}, {6, 4, -6, {17, 50, 59}, 2}, {6, 5, 2, {5, 9}, 1}, {6, 6, -1, {1}, 0},
    {7, 1, 105, {15, 50, 113, 218, 393, 708, 1443}, 6}, {7, 2, -90, {63, 233, 538, 978, 1483, 1745}, 5},
    {7, 3, 15, {29, 109, 234, 349, 329}, 4}, {7, 4, -6, {21, 73, 127, 115}, 3}, {7, 5, 6, {25, 70, 73}, 2},
    {7, 6, -1, {3, 5}, 1}, {7, 7, 1, {1}, 0},
    {8, 1, 280, {35, 115, 255, 479, 829, 1389, 2369, 4609}, 7},
    {8, 2, -560, {363, 1350, 3149, 5844, 9309, 12886, 14139}, 6},
    {8, 3, 240, {469, 1831, 4186, 7046, 9041, 7667}, 5}, {8, 4, -240, {967, 3692, 7602, 10172, 7807}, 4},
    {8, 5, 6, {35, 120, 195, 154}, 3}, {8, 6, -4, {23, 62, 59}, 2}, {8, 7, 2, {7, 11}, 1}, {8, 8, -1, {1}, 0},
    {9, 1, 252, {28, 91, 199, 367, 619, 997, 1585, 2593, 4861}, 8},
    {9, 2, -2520, {1522, 5681, 13332, 25015, 40730, 59343, 76864, 79913}, 7},
    {9, 3, 15120, {29531, 118284, 281055, 504320, 731505, 846564, 663941}, 6},
    {9, 4, -120, {534, 2165, 4900, 7770, 8830, 6041}, 5}, {9, 5, 144, {1069, 4124, 8214, 10124, 6709}, 4},
    {9, 6, -2, {18, 61, 94, 67}, 3}, {9, 7, 12, {91, 238, 211}, 2}, {9, 8, -1, {4, 6}, 1}, {9, 9, 1, {1}, 0},
    {10, 1, 2520, {252, 812, 1757, 3197, 5297, 8321, 12731, 19451, 30791, 55991}, 9},
    {10, 2, -25200, {14258, 53356, 125709, 237422, 391135, 583152, 796379, 980326, 976263}, 8},
    {10, 3, 30240, {58635, 239237, 583413, 1088715, 1685045, 2207595, 2368203, 1748357}, 7},
    {10, 4, -15120, {72368, 305916, 735555, 1283060, 1730010, 1755672, 1102859}, 6},
    {10, 5, 288, {2565, 10693, 23978, 36258, 37553, 22009}, 5},
    {10, 6, -240, {3013, 11708, 22698, 26228, 15553}, 4}, {10, 7, 24, {315, 1057, 1561, 1027}, 3},
    {10, 8, -3, {29, 74, 62}, 2}, {10, 9, 2, {9, 13}, 1}, {10, 10, -1, {1}, 0},
};

const Row& row(int n, int j) {
  for (const Row& r : kTable) {
    if (r.n == n && r.j == j) return r;
  }
  return kTable[0];
}

double polynomial(const Row& r, double F) {
  auto f_to = [F](int m) { return m == 1 ? F : m == 2 ? F * F : power(F, m); };
  if (r.degree == 0) return r.c[0];
  double sum = f_to(r.degree) * r.c[0];
  for (int i = 1; i < r.degree; ++i) sum = sum + f_to(r.degree - i) * r.c[i];
  return sum + r.c[r.degree];
}

}  // namespace

void transition_matrix(double h, Matrix phi) {
  Matrix a = {};
  for (int r = 0; r + 1 < kN; ++r) a[at(r, r + 1)] = h;
  double norm = 0.0;
  for (int c = 0; c < kN; ++c) {
    double sum = 0.0;
    for (int r = 0; r < kN; ++r) sum = sum + std::fabs(a[at(r, c)]);
    if (sum != sum) {
      norm = minus_nan();
      break;
    }
    if (sum > norm) norm = sum;
  }
  const double theta[] = {0.01495585217958292, 0.253939833006323, 0.9504178996162932, 2.097847961257068,
                          5.371920351148152};
  const int degree[] = {3, 5, 7, 9, 13};
  if (norm <= theta[4]) {
    for (int i = 0; i < 5; ++i) {
      if (norm <= theta[i]) {
        pade(a, degree[i], phi);
        return;
      }
    }
  }
  const double x = norm / theta[4];
  double s = 0.0;
  if (!(x != x) && x != kInf && x != -kInf) {
    int e = 0;
    const double mantissa = std::frexp(x, &e);
    s = mantissa == 0.5 ? e - 1 : e;
  }
  const double f = power(2.0, s);
  Matrix b;
  for (int k = 0; k < 121; ++k) b[k] = a[k] / f;
  pade(b, 13, phi);
  Matrix t;
  for (int i = 0; i < static_cast<int>(s); ++i) {
    product(phi, phi, t);
    copy(t, phi);
  }
}

void step(const Matrix phi, double u, const double z[11], double L, double h, double n, double* e_out,
          double z_next[11]) {
  const double e = u - z[0];
  *e_out = e;
  const double a = std::fabs(e);
  double F = 0.0;
  if (!(a == 0.0)) F = std::exp((-(power(a, -1.0 / (n + 1.0)) * L)) * h);

  double k[kN] = {};
  const int order = n >= 1.0 && n < 11.0 ? static_cast<int>(n) : 0;
  if (order != 0) {
    const double N = order + 1.0;
    const double g = (F - 1.0) / h;
    k[0] = (N - F * N) * a;
    const double s = order == 7 ? (std::sqrt(a) * (F - 1.0)) / h : std::sqrt(a) * g;
    const double w1 = s * s;
    k[1] = ((w1 * polynomial(row(order, 1), F)) * h) / row(order, 1).divisor;
    for (int j = 2; j <= order; ++j) {
      const double w = power(power(a, 1.0 / (j + 1)) * g, j + 1.0);
      k[j] = ((w * polynomial(row(order, j), F)) * h) / row(order, j).divisor;
    }
  }
  const int count = !(n + 1.0 >= 1.0) ? 0 : n + 1.0 >= 11.0 ? 11 : static_cast<int>(n + 1.0);
  double p[kN] = {};
  for (int j = 0; j < count; ++j) p[j] = z[j];
  for (int i = 0; i < kN; ++i) {
    double sum = 0.0;
    for (int j = 0; j < kN; ++j) sum = sum + phi[at(i, j)] * p[j];
    z_next[i] = sum;
  }
  const double stored = *e_out;
  const double sgn = stored < 0.0 ? -1.0 : stored > 0.0 ? 1.0 : stored == 0.0 ? 0.0 : stored;
  for (int i = 0; i < kN; ++i) z_next[i] = k[i] * sgn + z_next[i];
}

}  // namespace reference
