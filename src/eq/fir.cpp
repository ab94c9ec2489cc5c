// Correction FIRs: the smoothed response's deviation from the aligned target inverted with
// regularisation (boosts limited), given minimum, linear or mixed phase, at each rate; their gain
// and their files.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>

#include "eq/eq_internal.h"
#include "response/fft.h"
#include "sweep/design_text.h"
#include "sweep/out_of_memory.h"
#include "sweep/validation.h"
#include "sweep/wav_header.h"
#include "vellisk/version.h"

namespace vellisk {

namespace {

using cd = std::complex<double>;

[[noreturn]] void refuse(const std::string& line) {
  throw Error(Problem(ProblemCode::invalid_request, line));
}

// 0 at t <= 0, 1 at t >= 1, a raised cosine between.
double rise(double t) { return t <= 0 ? 0 : t >= 1 ? 1 : (1 - std::cos(std::numbers::pi * t)) / 2; }

// The regularisation at f: kInsideBeta / B^2 over the range (B the largest boost, as a gain of
// at least 1), rising as a raised cosine in log beta to kOutsideBeta over an octave beyond it.
constexpr double kInsideBeta = 0.01;      // 20 dB below the power of the largest boost
constexpr double kOutsideBeta = 1e4;      // where the correction is within 0.001 dB of none
constexpr double kCeilingSoftness = 0.1;  // dB: the width of the bend below the boost's limit

// The inversion of a plan's smoothed deviation from the aligned target (dB, on the fit's points).
struct Inversion {
  const EqPlan& plan;
  const EqCurve& deviation;
  double inside_beta = kInsideBeta / std::pow(10.0, plan.request.max_boost_db / 10);

  double beta_at(double f) const {
    if (f >= plan.low_hz && f <= plan.high_hz) return inside_beta;
    const double beyond =
        f < plan.low_hz ? std::log2(plan.low_hz / std::max(f, 1e-9)) : std::log2(f / plan.high_hz);
    return inside_beta * std::pow(kOutsideBeta / inside_beta, rise(beyond));
  }

  // The correction's gain at f, dB, before the preamp: the deviation d (as a gain) inverted
  // with regularisation toward no correction, the C that minimises |C d - 1|^2 + beta |C - 1|^2,
  // that is C = (d + beta) / (d^2 + beta); then bent smoothly below max_boost (a soft minimum,
  // within 0.07 dB of it at the limit), never beyond it.
  double correction_db(double f) const {
    const double d =
        std::pow(10.0, level_at(deviation, std::clamp(f, plan.low_hz, plan.high_hz)) / 20);
    const double beta = beta_at(f);
    const double g = 20 * std::log10((d + beta) / (d * d + beta));
    const double limit = plan.request.max_boost_db, k = kCeilingSoftness;
    // -k ln(e^(-g/k) + e^(-limit/k)), written to hold for any g.
    const double low = std::min(g, limit), high = std::max(g, limit);
    return (high - low) / k > 40 ? low : low - k * std::log1p(std::exp((low - high) / k));
  }
};

// The share of the gain that the mixed phase gives the linear part at f: 0 an octave's half
// below mixed_above, 1 half an octave above.
double linear_share(const FirRequest& fir, double f) {
  return rise(std::log2(f / fir.mixed_above_hz) + 0.5);
}

// The minimum-phase spectrum of log magnitudes g (natural log, bins 0 to n/2), by the folded
// real cepstrum, in place as complex bins of a transform of size n.
std::vector<cd> minimum_phase(const std::vector<double>& log_mag, std::size_t n, const RealFft& fft) {
  FloatBuffer b = make_float_buffer(n + 2);
  for (std::size_t k = 0; k <= n / 2; ++k) b[2 * k] = static_cast<float>(log_mag[k]);
  fft.inverse(b.get());  // the real cepstrum, times n
  const float scale = 1.0f / static_cast<float>(n);
  for (std::size_t t = 0; t < n; ++t) {
    const float fold = t == 0 || t == n / 2 ? 1.0f : t < n / 2 ? 2.0f : 0.0f;
    b[t] *= fold * scale;
  }
  b[n] = b[n + 1] = 0;
  fft.forward(b.get());
  std::vector<cd> h(n / 2 + 1);
  for (std::size_t k = 0; k <= n / 2; ++k) h[k] = std::exp(cd(b[2 * k], b[2 * k + 1]));
  return h;
}

// The taps of spectrum h (bins of a transform of size n), the first `length` of them.
std::vector<float> taps_of(const std::vector<cd>& h, std::size_t n, const RealFft& fft, int length) {
  FloatBuffer b = make_float_buffer(n + 2);
  for (std::size_t k = 0; k < h.size(); ++k) {
    b[2 * k] = static_cast<float>(h[k].real());
    b[2 * k + 1] = static_cast<float>(h[k].imag());
  }
  fft.inverse(b.get());
  std::vector<float> taps(static_cast<std::size_t>(length));
  for (std::size_t t = 0; t < taps.size(); ++t) taps[t] = b[t] / static_cast<float>(n);
  return taps;
}

// Shapes the taps' ends: a linear-phase FIR under a Hann window, symmetric to the sample; the
// others a half-Hann fade over their last tenth.
void shape(std::vector<float>& taps, EqPhase phase) {
  const std::size_t n = taps.size();
  if (phase == EqPhase::linear) {
    for (std::size_t t = 0; t < n / 2; ++t) {
      const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (static_cast<double>(t) + 0.5) /
                                            static_cast<double>(n));
      const float v = static_cast<float>(w * 0.5 * (taps[t] + taps[n - 1 - t]));
      taps[t] = taps[n - 1 - t] = v;
    }
    return;
  }
  const std::size_t fade = std::max<std::size_t>(n / 10, 1);
  for (std::size_t i = 0; i < fade; ++i) {
    const double w = 0.5 + 0.5 * std::cos(std::numbers::pi * (static_cast<double>(i) + 0.5) /
                                          static_cast<double>(fade));
    taps[n - fade + i] = static_cast<float>(taps[n - fade + i] * w);
  }
}

EqFir design_one(const Inversion& inversion, const FirRequest& fir, double rate, double preamp_db) {
  const std::size_t n = fast_fft_size(4 * static_cast<std::size_t>(fir.length));
  const RealFft fft(n);
  std::vector<double> lin(n / 2 + 1), mix(n / 2 + 1);  // ln of the magnitudes of both parts
  const double to_ln = std::log(10.0) / 20;
  for (std::size_t k = 0; k <= n / 2; ++k) {
    const double f = rate * static_cast<double>(k) / static_cast<double>(n);
    const double g = (inversion.correction_db(f) + preamp_db) * to_ln;
    const double share = fir.phase == EqPhase::linear ? 1 : fir.phase == EqPhase::minimum ? 0
                                                                                          : linear_share(fir, f);
    lin[k] = g * share;
    mix[k] = g * (1 - share);
  }
  EqFir out;
  out.rate = rate;
  out.preamp_db = preamp_db;
  out.latency_samples = fir.phase == EqPhase::minimum ? 0 : (fir.length - 1) / 2.0;
  std::vector<cd> h = minimum_phase(mix, n, fft);
  for (std::size_t k = 0; k <= n / 2; ++k) {
    const double delay = -2 * std::numbers::pi * static_cast<double>(k) * out.latency_samples /
                         static_cast<double>(n);
    h[k] *= std::exp(cd(lin[k], delay));
  }
  out.taps = taps_of(h, n, fft, fir.length);
  shape(out.taps, fir.phase);
  return out;
}

}  // namespace

int fir_length_needed(double rate, double low_hz) {
  return static_cast<int>(std::ceil(8 * rate / low_hz));
}

void check_fir(const EqPlan& plan, const FirRequest& fir) {
  if (fir.length < 16 || fir.length > kMaxFirLength) {
    refuse("--fir-length (" + std::to_string(fir.length) + ") must be 16 to " +
           std::to_string(kMaxFirLength));
  }
  for (const double rate : plan.request.rates) {
    const int needed = fir_length_needed(rate, plan.low_hz);
    if (fir.length < needed) {
      refuse("--fir-length (" + std::to_string(fir.length) + ") is too short for the range's lowest " +
             "frequency (" + number_text(plan.low_hz) + " Hz) at " + number_text(rate) +
             " Hz: it needs at least " + std::to_string(needed) + " taps (8 periods)");
    }
  }
  if (fir.phase == EqPhase::mixed &&
      !(fir.mixed_above_hz > plan.low_hz && fir.mixed_above_hz < plan.high_hz)) {
    refuse("--mixed-above (" + number_text(fir.mixed_above_hz) + " Hz) must lie within the range, " +
           number_text(plan.low_hz) + "-" + number_text(plan.high_hz) + " Hz");
  }
}

// The level the FIR aims at: the aligned target moved, within kTargetShiftDb in steps of 0.1 dB,
// to where the inversion's cost is least, by the fit's measure (the rms error to the target
// aligned to the corrected response, and, weighted, the level taken away on average): with
// boosts limited, the mean of the levels is not where the shape is matched best.
constexpr double kTargetShiftDb = 20;

EqCurve aimed_deviation(const EqPlan& plan, const EqCurve& aligned) {
  EqCurve best = aligned, trial = aligned;
  double least = 1e300;
  std::vector<double> gain(aligned.frequencies.size());
  for (int step = -200; step <= 200; ++step) {
    const double shift = kTargetShiftDb * step / 200.0;
    for (std::size_t i = 0; i < trial.level.size(); ++i) trial.level[i] = aligned.level[i] + shift;
    const Inversion inversion{plan, trial};
    for (std::size_t i = 0; i < gain.size(); ++i)
      gain[i] = inversion.correction_db(trial.frequencies[i]);
    const double cost = correction_cost(aligned.level, gain, plan.request.max_boost_db);
    if (cost < least - 1e-12) least = cost, best = trial;
  }
  return best;
}

std::vector<EqFir> design_fir(const EqPlan& plan, const EqCorrection& fit, const FirRequest& fir) {
  return memory_checked([&] {
    check_fir(plan, fir);
    EqCurve aligned = fit.smoothed;
    for (std::size_t i = 0; i < aligned.level.size(); ++i) aligned.level[i] -= fit.target.level[i];
    const EqCurve deviation = aimed_deviation(plan, aligned);
    const Inversion inversion{plan, deviation};
    // The preamp: the highest gain on a fine grid of every rate, taken out.
    double top = 0;
    for (const double rate : plan.request.rates) {
      for (double f = 1; f < rate / 2; f *= std::exp2(1.0 / 96))
        top = std::max(top, inversion.correction_db(f));
    }
    std::vector<EqFir> out;
    for (const double rate : plan.request.rates) {
      out.push_back(design_one(inversion, fir, rate, -top));
      out.back().after = error_to_target(aligned.level, fir_gain_db(out.back(), aligned.frequencies));
    }
    return out;
  });
}

std::vector<double> fir_gain_db(const EqFir& fir, const std::vector<double>& frequencies) {
  std::vector<double> g;
  g.reserve(frequencies.size());
  for (const double f : frequencies) {
    const cd step = std::polar(1.0, -2 * std::numbers::pi * f / fir.rate);
    cd z = 1, sum = 0;
    for (std::size_t t = 0; t < fir.taps.size(); ++t) {
      sum += static_cast<double>(fir.taps[t]) * z;
      z *= step;
      if ((t & 1023) == 1023) z /= std::abs(z);
    }
    g.push_back(20 * std::log10(std::max(std::abs(sum), 1e-15)));
  }
  return g;
}

EqCurve fir_predicted(const EqPlan& plan, const EqFir& fir) {
  EqCurve out;
  for (const double f : plan.measured.frequencies) {
    if (f < fir.rate / 2) out.frequencies.push_back(f);
  }
  out.level = fir_gain_db(fir, out.frequencies);
  for (std::size_t i = 0; i < out.level.size(); ++i) out.level[i] += plan.measured.level[i];
  return out;
}

std::string fir_raw_bytes(const EqFir& fir) {
  std::string bytes(fir.taps.size() * 4, '\0');
  std::memcpy(bytes.data(), fir.taps.data(), bytes.size());  // little-endian, as the machine
  return bytes;
}

std::string fir_wav_bytes(const EqFir& fir) {
  const std::string info = info_list(
      "vellisk-eq " VELLISK_VERSION,
      "correction FIR: latency=" + number_text(fir.latency_samples) + " gain=" + number_text(fir.preamp_db));
  return wav_header(static_cast<std::uint32_t>(fir.rate), static_cast<std::uint32_t>(fir.taps.size()), info) +
         fir_raw_bytes(fir);
}

}  // namespace vellisk
