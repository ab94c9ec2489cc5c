// The RBJ cookbook's peaking and shelving biquads, and their gain.
#include <cmath>
#include <numbers>

#include "vellisk/eq.h"

namespace vellisk {

Biquad biquad_of(const EqFilter& filter, double rate) {
  const double a = std::pow(10.0, filter.gain_db / 40);
  const double w0 = 2 * std::numbers::pi * filter.frequency_hz / rate;
  const double c = std::cos(w0);
  const double alpha = std::sin(w0) / (2 * filter.q);
  double b0, b1, b2, a0, a1, a2;
  if (filter.type == EqFilterType::peaking) {
    b0 = 1 + alpha * a;
    b1 = -2 * c;
    b2 = 1 - alpha * a;
    a0 = 1 + alpha / a;
    a1 = -2 * c;
    a2 = 1 - alpha / a;
  } else {
    // The cookbook's low shelf (s = 1) and high shelf (s = -1) in one.
    const double s = filter.type == EqFilterType::low_shelf ? 1 : -1;
    const double root = 2 * std::sqrt(a) * alpha;
    b0 = a * ((a + 1) - s * (a - 1) * c + root);
    b1 = s * 2 * a * ((a - 1) - s * (a + 1) * c);
    b2 = a * ((a + 1) - s * (a - 1) * c - root);
    a0 = (a + 1) + s * (a - 1) * c + root;
    a1 = -s * 2 * ((a - 1) + s * (a + 1) * c);
    a2 = (a + 1) + s * (a - 1) * c - root;
  }
  return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

double biquad_gain_db(const Biquad& q, double rate, double frequency_hz) {
  // |H|^2 in phi = 4 sin^2(w / 2), which keeps its precision at low frequencies.
  const double s = std::sin(std::numbers::pi * frequency_hz / rate);
  const double phi = 4 * s * s;
  const double sb = q.b0 + q.b1 + q.b2;
  const double sa = 1 + q.a1 + q.a2;
  const double num = sb * sb - (q.b0 * q.b1 + 4 * q.b0 * q.b2 + q.b1 * q.b2) * phi +
                     q.b0 * q.b2 * phi * phi;
  const double den = sa * sa - (q.a1 + 4 * q.a2 + q.a1 * q.a2) * phi + q.a2 * phi * phi;
  return 10 * std::log10(num / den);
}

std::vector<double> filters_gain_db(const std::vector<EqFilter>& filters, double rate,
                                    const std::vector<double>& frequencies) {
  std::vector<double> gain(frequencies.size(), 0.0);
  for (const EqFilter& f : filters) {
    const Biquad q = biquad_of(f, rate);
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
      gain[i] += biquad_gain_db(q, rate, frequencies[i]);
    }
  }
  return gain;
}

}  // namespace vellisk
