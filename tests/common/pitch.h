// The fundamental of recorded sound by a normalised autocorrelation, written
// for the tests (independent of the synthesiser it judges).
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

// The fundamental in Hz of samples [from, from + n) at `rate`: the shortest
// lag whose normalised autocorrelation comes within 10% of the best between
// `lowest` and 400 Hz, refined by a parabola; 0 when there is none.
inline double fundamental(const std::vector<int16_t> &s, size_t from, size_t n, int rate,
                          int lowest = 20) {
  int lo = rate / 400, hi = rate / lowest;
  if (from + n > s.size() || n <= size_t(hi) * 2) return 0;
  std::vector<double> x(n);
  double mean = 0;
  for (size_t i = 0; i < n; i++) mean += s[from + i];
  mean /= double(n);
  for (size_t i = 0; i < n; i++) x[i] = s[from + i] - mean;
  size_t m = n - size_t(hi) - 1;
  std::vector<double> r(size_t(hi) + 2, 0);
  double e0 = 0;
  for (size_t i = 0; i < m; i++) e0 += x[i] * x[i];
  if (e0 <= 0) return 0;
  double best = -1;
  for (int lag = lo; lag <= hi + 1; lag++) {
    double a = 0, e1 = 0;
    for (size_t i = 0; i < m; i++) {
      a += x[i] * x[i + size_t(lag)];
      e1 += x[i + size_t(lag)] * x[i + size_t(lag)];
    }
    r[size_t(lag)] = e1 > 0 ? a / std::sqrt(e0 * e1) : 0;
    if (lag <= hi && r[size_t(lag)] > best) best = r[size_t(lag)];
  }
  for (int lag = lo + 1; lag < hi; lag++) {
    double c = r[size_t(lag)];
    if (c >= 0.9 * best && c >= r[size_t(lag) - 1] && c >= r[size_t(lag) + 1]) {
      double a = r[size_t(lag) - 1], b = r[size_t(lag) + 1];
      double den = a - 2 * c + b;
      double shift = den != 0 ? 0.5 * (a - b) / den : 0;
      return rate / (lag + shift);
    }
  }
  return 0;
}

