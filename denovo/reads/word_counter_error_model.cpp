#include "denovo/reads/word_counter_error_model.h"

#include <cmath>

namespace {

struct cascade_t {
  double h;       // chance that a word seen once passes both current filters
  double m_prev;  // share of the previous filter's entries that reached 2
  double m_cur;   // the same for the newest filter
};

// The filters after the first pass and n refinements, for a word seen
// once among loads a and lambda per entry.
cascade_t run_cascade(int32_t n, double a, double lambda) {
  const double c = 1 - std::exp(-(a + lambda));
  const double u = 1 - c;
  // Which of the two current filters the word passes, and whether it
  // passed the filter that the last refinement replaced.
  double p[8] = {c * c, c * u, c * u, u * u, 0, 0, 0, 0};
  cascade_t s{c * c, 0, 0};
  s.m_prev = s.m_cur = 1 - (lambda + 1) * std::exp(-lambda) * std::exp(-a);
  for (int32_t i = 0; i < n; i++) {
    const double mu = s.h * lambda;
    const double m = 1 - (mu + 1) * std::exp(-mu) * std::exp(-a);
    const double o = std::exp(-mu - a);
    const double q[8] = {s.h * (1 - o),       o * (p[0] + p[4]),       (p[1] + p[5]) * m, (p[1] + p[5]) * (1 - m),
                         (p[2] + p[6]) * m,   (p[2] + p[6]) * (1 - m), (p[3] + p[7]) * m, (p[3] + p[7]) * (1 - m)};
    s.h = s.h * (1 - o) + q[4];
    for (int j = 0; j < 8; j++) p[j] = q[j];
    s.m_prev = s.m_cur;
    s.m_cur = m;
  }
  return s;
}

}  // namespace

double word_counter_error_model(int32_t n, double a, double lambda, double *last_rate) {
  const cascade_t s = run_cascade(n, a, lambda);
  // The final table has half as many entries, so both loads double there.
  const double z = 1 - (2 * s.h * lambda + 1) * std::exp(-2 * s.h * lambda) * std::exp(-2 * a);
  if (last_rate != nullptr) *last_rate = s.m_cur;
  return 1 - s.m_cur * s.m_prev * z;
}

double word_counter_single_word_rejection(int32_t n, double a, double lambda) {
  const double h = run_cascade(n, a, lambda).h;
  // A word that passes the filters lands in a final entry of its own
  // unless another passing word shares it: the single words that pass
  // (load 2 h lambda in the half-size table) or any repeated word (2 a).
  return 1 - h * (1 - std::exp(-2 * h * lambda - 2 * a));
}

double word_counter_error_model_plain(int32_t n, double a, double lambda) {
  if (n <= 0) return 1;
  return word_counter_error_model(n, a, lambda, nullptr);
}

int32_t word_counter_estimate_loads(int32_t kind, int32_t d, uint64_t s2, uint64_t s3, uint64_t t, int32_t r,
                                    double *lambda, double *a) {
  if (kind == 0) {
    const double counters = std::ldexp(1.0, d + 1);  // A and B together
    const double f = static_cast<double>(s2) / counters;
    const double g = static_cast<double>(s3) / counters;
    if (f == 1) return 0;
    const double rho = (f - g) / (1 - f);
    // Positive root of lambda^2 / (2 (1 + lambda)) = rho.
    const double l = rho + std::sqrt(rho * rho + 2 * rho);
    const double log_ratio = std::log((1 - f) / (std::exp(-l) * (1 + l)));
    *lambda = l;
    *a = log_ratio > 0 ? 0 : -log_ratio;
    return 1;
  }
  if (kind != 1) return 0;
  const double p = static_cast<double>(t) / std::ldexp(1.0, d + 1);
  const double q = static_cast<double>(s2) / std::ldexp(1.0, d);
  double l = 0.5, step = 0.5, load = 0;
  bool halving = false;
  // Walks up by 0.5 until the model's last rate falls to q, then bisects.
  for (int i = 0; i < 20; i++) {
    load = -std::log((1 - p) / (std::exp(-l) * (1 + l)));
    double m = 0;
    word_counter_error_model(r + 1, load, l, &m);
    if (m > q) {
      l += step;
      if (halving) step /= 2;
    } else {
      if (!halving) {
        step /= 2;
        halving = true;
      }
      l -= step;
      step /= 2;
    }
  }
  *a = load;
  *lambda = l;
  return 1;
}
