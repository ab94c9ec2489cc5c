// Band design: base-10 mid-band frequencies (IEC 61260-1, 5.2 and 5.4) and Butterworth band-passes.
#include "room/bands.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "sweep/cancel.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace vellisk {

namespace {

using Complex = std::complex<double>;

// The octave ratio G = 10^(3/10) and the reference frequency, Hz.
const double kG = std::pow(10.0, 0.3);
constexpr double kReference = 1000;

constexpr const char* kOctaveLabels[] = {"63", "125", "250", "500", "1k", "2k", "4k", "8k"};
constexpr const char* kThirdLabels[] = {
    "50",  "63", "80",    "100",  "125", "160",  "200",   "250", "315", "400",  "500", "630",
    "800", "1k", "1.25k", "1.6k", "2k",  "2.5k", "3.15k", "4k",  "5k",  "6.3k", "8k",  "10k"};

// The order of the analogue low-pass prototype: four poles, eight in the band-pass
// (three would leave the top bands short of the stopband limits once warped).
constexpr int kOrder = 4;

Complex response(const std::vector<Section>& sections, Complex z) {
  const Complex zi = 1.0 / z;
  Complex h = 1;
  for (const Section& s : sections) {
    h *= (s.b0 + zi * (s.b1 + zi * s.b2)) / (1.0 + zi * (s.a1 + zi * s.a2));
  }
  return h;
}

}  // namespace

std::string band_name(const std::string& label) {
  if (!label.empty() && label.back() == 'k') return label.substr(0, label.size() - 1) + " kHz";
  return label + " Hz";
}

std::vector<Band> analysis_bands(bool third, double rate, std::vector<std::string>& left_out) {
  const int b = third ? 3 : 1;
  const int first = third ? -13 : -4;  // 50 Hz, 63 Hz
  const int count = third ? 24 : 8;
  std::vector<Band> bands;
  for (int i = 0; i < count; ++i) {
    Band band;
    band.label = third ? kThirdLabels[i] : kOctaveLabels[i];
    band.centre = kReference * std::pow(kG, static_cast<double>(first + i) / b);
    band.lower = band.centre * std::pow(kG, -1.0 / (2 * b));
    band.upper = band.centre * std::pow(kG, 1.0 / (2 * b));
    if (band.upper > 0.45 * rate) {
      left_out.push_back(band.label);
    } else {
      bands.push_back(band);
    }
  }
  return bands;
}

std::vector<Section> band_pass(double lower, double upper, double rate) {
  // Prewarped edges, rad/s, of the analogue band-pass s -> (s^2 + w0^2) / (B s).
  const double pi = std::numbers::pi;
  const double wl = 2 * rate * std::tan(pi * lower / rate);
  const double wu = 2 * rate * std::tan(pi * upper / rate);
  const double w0 = std::sqrt(wl * wu);
  const double bw = wu - wl;
  // Each prototype pole p gives the band-pass poles s^2 - p B s + w0^2 = 0; the
  // bilinear transform takes them to z = (1 + s/2fs) / (1 - s/2fs), the zeros
  // at s = 0 to z = 1 and those at infinity to z = -1. The poles in the upper
  // half plane, each with its conjugate, make the sections.
  std::vector<Section> sections;
  for (int k = 1; k <= kOrder; ++k) {
    const Complex p = std::polar(1.0, pi * (2 * k + kOrder - 1) / (2 * kOrder));
    const Complex root = std::sqrt(p * p * bw * bw - 4 * w0 * w0);
    for (const Complex s : {(p * bw + root) / 2.0, (p * bw - root) / 2.0}) {
      const Complex z = (1.0 + s / (2 * rate)) / (1.0 - s / (2 * rate));
      if (z.imag() > 0) sections.push_back({1, 0, -1, -2 * z.real(), std::norm(z)});
    }
  }
  // Unit gain at the digital frequency w0 maps to, where the cascade peaks.
  const double peak = rate / pi * std::atan(w0 / (2 * rate));
  const double gain = 1 / std::abs(response(sections, std::polar(1.0, 2 * pi * peak / rate)));
  const double each = std::pow(gain, 1.0 / static_cast<double>(sections.size()));
  for (Section& s : sections) {
    s.b0 *= each;
    s.b2 *= each;
  }
  return sections;
}

double magnitude(const std::vector<Section>& sections, double f, double rate) {
  return std::abs(response(sections, std::polar(1.0, 2 * std::numbers::pi * f / rate)));
}

namespace {

// While it lives, results and operands below the smallest normal double
// (1e-308) count as 0: a filter's ringing decays into that range after any
// stretch of silence, where each operation would otherwise cost a hundred.
class FlushDenormals {
 public:
#if defined(__SSE__)
  FlushDenormals() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040); }
  ~FlushDenormals() { _mm_setcsr(saved_); }

 private:
  unsigned saved_;
#endif
};

// The samples filtered between two looks at the caller's cancel flag: about a millisecond's work.
constexpr std::int64_t kPollEvery = 65536;

// The cascade in direct form I, every section in one pass over the samples:
// the sections' recurrences then run side by side, and each waits only on one
// product and one difference of the last output (the other terms are summed
// first, off that path).
template <int kSections>
void cascade(const Section* s, double* y, std::int64_t n, const CancelFlag* cancel) {
  double x1[kSections] = {}, x2[kSections] = {}, y1[kSections] = {}, y2[kSections] = {};
  for (std::int64_t block = 0; block < n; block += kPollEvery) {
    throw_if_cancelled(cancel);
    for (std::int64_t i = block; i < std::min(n, block + kPollEvery); ++i) {
      double v = y[i];
      for (int k = 0; k < kSections; ++k) {
        const double ahead = s[k].b0 * v + s[k].b1 * x1[k] + s[k].b2 * x2[k] - s[k].a2 * y2[k];
        const double out = ahead - s[k].a1 * y1[k];
        x2[k] = x1[k], x1[k] = v;
        y2[k] = y1[k], y1[k] = out;
        v = out;
      }
      y[i] = v;
    }
  }
}

// Cascades of four sections on one input, side by side, a lane each: as many
// independent recurrences, and lanes a vector unit can pack. Backward, the
// recursion runs from the last sample to the first: the time-reversed
// filtering, without reversing anything. Every lane rounds as a cascade of its
// own would, on any vector unit.
// kLanes doubles, added and multiplied together (GCC's and Clang's vector types).
template <int kLanes>
struct LanesOf;
template <>
struct LanesOf<2> {
  typedef double type __attribute__((vector_size(16)));
};
template <>
struct LanesOf<4> {
  typedef double type __attribute__((vector_size(32)));
};

template <bool kBackward, int kLanes>
[[gnu::always_inline]] inline void cascade_lanes(const Section* const* s, const double* x,
                                                 double* const* y, std::int64_t n,
                                                 const CancelFlag* cancel) {
  using Lanes = typename LanesOf<kLanes>::type;
  Lanes b0[4], b1[4], b2[4], a1[4], a2[4];
  for (int k = 0; k < 4; ++k) {
    for (int l = 0; l < kLanes; ++l) {
      b0[k][l] = s[l][k].b0, b1[k][l] = s[l][k].b1, b2[k][l] = s[l][k].b2;
      a1[k][l] = s[l][k].a1, a2[k][l] = s[l][k].a2;
    }
  }
  Lanes x1[4] = {}, x2[4] = {}, y1[4] = {}, y2[4] = {};
  for (std::int64_t block = 0; block < n; block += kPollEvery) {
    throw_if_cancelled(cancel);
    for (std::int64_t j = block; j < std::min(n, block + kPollEvery); ++j) {
      const std::int64_t i = kBackward ? n - 1 - j : j;
      Lanes v;
      for (int l = 0; l < kLanes; ++l) v[l] = x[i];
      for (int k = 0; k < 4; ++k) {
        const Lanes ahead = b0[k] * v + b1[k] * x1[k] + b2[k] * x2[k] - a2[k] * y2[k];
        const Lanes out = ahead - a1[k] * y1[k];
        x2[k] = x1[k], x1[k] = v;
        y2[k] = y1[k], y1[k] = out;
        v = out;
      }
      for (int l = 0; l < kLanes; ++l) y[l][i] = v[l];
    }
  }
}

template <int kLanes>
void cascades(const Section* const* s, const double* x, double* const* y, std::int64_t n,
              bool backward, const CancelFlag* cancel) {
  if (backward) {
    cascade_lanes<true, kLanes>(s, x, y, n, cancel);
  } else {
    cascade_lanes<false, kLanes>(s, x, y, n, cancel);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four lanes fill the 256-bit registers of AVX where the processor has them (its
// additions and products, not fused ones: the same roundings).
[[gnu::target("avx")]] void cascades_avx(const Section* const* s, const double* x,
                                         double* const* y, std::int64_t n, bool backward,
                                         const CancelFlag* cancel) {
  if (backward) {
    cascade_lanes<true, 4>(s, x, y, n, cancel);
  } else {
    cascade_lanes<false, 4>(s, x, y, n, cancel);
  }
}

void four_cascades(const Section* const* s, const double* x, double* const* y, std::int64_t n,
                   bool backward, const CancelFlag* cancel) {
  static const bool avx = __builtin_cpu_supports("avx");
  if (avx) {
    cascades_avx(s, x, y, n, backward, cancel);
  } else {
    cascades<4>(s, x, y, n, backward, cancel);
  }
}
#else
void four_cascades(const Section* const* s, const double* x, double* const* y, std::int64_t n,
                   bool backward, const CancelFlag* cancel) {
  cascades<4>(s, x, y, n, backward, cancel);
}
#endif

}  // namespace

void filter_pair(const std::vector<Section>& a, const std::vector<Section>& b, const double* x,
                 double* ya, double* yb, std::int64_t n, bool reversed, const CancelFlag* cancel) {
  if (a.size() != 4 || b.size() != 4) {
    filter(a, x, ya, n, reversed, cancel);
    filter(b, x, yb, n, reversed, cancel);
    return;
  }
  const FlushDenormals flush;
  const Section* s[] = {a.data(), b.data()};
  double* y[] = {ya, yb};
  cascades<2>(s, x, y, n, reversed, cancel);
}

void filter_four(const std::vector<Section>* const filters[4], const double* x, double* const y[4],
                 std::int64_t n, bool reversed, const CancelFlag* cancel) {
  const Section* s[4];
  for (int l = 0; l < 4; ++l) {
    if (filters[l]->size() != 4) {
      filter_pair(*filters[0], *filters[1], x, y[0], y[1], n, reversed, cancel);
      filter_pair(*filters[2], *filters[3], x, y[2], y[3], n, reversed, cancel);
      return;
    }
    s[l] = filters[l]->data();
  }
  const FlushDenormals flush;
  four_cascades(s, x, y, n, reversed, cancel);
}

void filter(const std::vector<Section>& sections, const double* x, double* y, std::int64_t n,
            bool reversed, const CancelFlag* cancel) {
  if (reversed) {
    std::reverse_copy(x, x + n, y);
  } else if (x != y) {
    std::copy(x, x + n, y);
  }
  const FlushDenormals flush;
  std::size_t k = 0;
  for (; k + 4 <= sections.size(); k += 4) cascade<4>(sections.data() + k, y, n, cancel);
  for (; k < sections.size(); ++k) cascade<1>(sections.data() + k, y, n, cancel);
  if (reversed) std::reverse(y, y + n);
}

double group_delay(const std::vector<Section>& sections, double f, double rate) {
  // The phase's slope over a small step, in cycles per Hz.
  const double step = 1e-4 * f;
  const auto at = [&](double hz) {
    return response(sections, std::polar(1.0, 2 * std::numbers::pi * hz / rate));
  };
  return -std::arg(at(f + step) / at(f - step)) / (2 * std::numbers::pi * 2 * step);
}

double ringing_time(const std::vector<Section>& sections, double rate, double fraction) {
  // The impulse response, sample by sample from rest: first its whole energy
  // (until a stretch adds less than 1e-15 of what came before), then the sample
  // where all but `fraction` of it has come. Memory does not grow with the rate.
  const auto impulse_response = [&sections](const auto& each) {
    std::vector<double> x1(sections.size()), x2(sections.size()), y1(sections.size()),
        y2(sections.size());
    for (std::int64_t i = 0;; ++i) {
      double v = i == 0 ? 1 : 0;
      for (std::size_t k = 0; k < sections.size(); ++k) {
        const Section& s = sections[k];
        const double out = s.b0 * v + s.b1 * x1[k] + s.b2 * x2[k] - s.a1 * y1[k] - s.a2 * y2[k];
        x2[k] = x1[k], x1[k] = v, y2[k] = y1[k], y1[k] = out;
        v = out;
      }
      if (!each(i, v * v)) return i;
    }
  };
  const auto limit = static_cast<std::int64_t>(std::ceil(4 * rate));  // 4 s: past any band's
  double total = 0, stretch = 0;
  const std::int64_t end = impulse_response([&](std::int64_t i, double e) {
    total += e, stretch += e;
    if ((i + 1) % 1024 != 0) return i + 1 < limit;
    const bool more = stretch > 1e-15 * total;
    stretch = 0;
    return more && i + 1 < limit;
  });
  double sum = 0;
  const std::int64_t at = impulse_response([&](std::int64_t i, double e) {
    sum += e;
    return sum < (1 - fraction) * total && i < end;
  });
  return static_cast<double>(at + 1) / rate;
}

}  // namespace vellisk
