// The views of a response (group delay, minimum phase, excess group delay, step, waterfall,
// spectrogram), of windows measured in-process through the README's design: sox's textbook
// filters, a measured cabinet and a resonance, against their closed forms.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "response/curves.h"
#include "response/fft.h"
#include "response/measurement.h"
#include "response/waterfall.h"
#include "run_vellisk.h"
#include "sweep/sweep_gen.h"


using namespace vellisk;

namespace {

using Complex = std::complex<double>;
constexpr double kRate = 48000;
// The README's design: 10 s from 20 Hz to 20 kHz, its band 23.28 Hz to 19698.85 Hz.
const SweepParams kDesign{kRate, 0.5, 20, 20000, 10, 1, 0.05, 0.005};
constexpr std::int64_t kPre = 4800;  // vellisk-ir's default, 0.1 s

// A biquad of the audio EQ cookbook, as sox runs it: b0 + b1 z^-1 + b2 z^-2 over a0 + ...
struct Biquad {
  double b[3], a[3];
  Complex at(double hz) const {
    const Complex z = std::polar(1.0, -2 * std::numbers::pi * hz / kRate);
    return (b[0] + b[1] * z + b[2] * z * z) / (a[0] + a[1] * z + a[2] * z * z);
  }
  // Its group delay, ms: the derivative of each polynomial's log, exactly.
  double delay_ms(double hz) const {
    const Complex z = std::polar(1.0, -2 * std::numbers::pi * hz / kRate);
    const auto part = [z](const double* c) {
      return ((c[1] * z + 2 * c[2] * z * z) / (c[0] + c[1] * z + c[2] * z * z)).real();
    };
    return (part(b) - part(a)) * 1000 / kRate;
  }
};

Biquad cookbook(const std::string& kind, double f0, double q, double gain_db = 0) {
  const double w = 2 * std::numbers::pi * f0 / kRate, c = std::cos(w);
  const double alpha = std::sin(w) / (2 * q), g = std::pow(10.0, gain_db / 40);
  if (kind == "allpass") return {{1 - alpha, -2 * c, 1 + alpha}, {1 + alpha, -2 * c, 1 - alpha}};
  if (kind == "highpass") return {{(1 + c) / 2, -(1 + c), (1 + c) / 2}, {1 + alpha, -2 * c, 1 - alpha}};
  return {{1 + alpha * g, -2 * c, 1 - alpha * g}, {1 + alpha / g, -2 * c, 1 - alpha / g}};
}

std::vector<float> played_sweep() {
  std::vector<float> s;
  emit_sweep(compute_design(kDesign), [&s](double v) { s.push_back(static_cast<float>(v)); });
  return s;
}

// x convolved with h, by a transform long enough that nothing wraps.
std::vector<float> convolved(const std::vector<float>& x, const std::vector<float>& h) {
  const auto n = static_cast<std::int64_t>(x.size() + h.size() - 1);
  const Spectrum a = spectrum_of(x.data(), static_cast<std::int64_t>(x.size()), kRate, n);
  const Spectrum b = spectrum_of(h.data(), static_cast<std::int64_t>(h.size()), kRate, n);
  FloatBuffer y = make_float_buffer(a.size + 2);
  for (std::size_t j = 0; j <= a.size / 2; ++j) {
    const Complex z = Complex(a.bins[2 * j], a.bins[2 * j + 1]) *
                      Complex(b.bins[2 * j], b.bins[2 * j + 1]) / static_cast<double>(a.size);
    y[2 * j] = static_cast<float>(z.real()), y[2 * j + 1] = static_cast<float>(z.imag());
  }
  real_fft(a.size).inverse(y.get());
  return {y.get(), y.get() + n};
}

// The sweep through sox's effect.
std::vector<float> through_sox(const std::string& effect) {
  TempDir dir;
  const std::vector<float> s = played_sweep();
  std::ofstream(dir.work() / "sweep.f32", std::ios::binary)
      .write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(4 * s.size()));
  const std::string command = "cd '" + dir.work().string() + "' && " + VELLISK_SOX +
                              " -t f32 -r 48000 -c 1 sweep.f32 -t f32 out.f32 " + effect;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(dir.work() / "out.f32", std::ios::binary);
  std::vector<float> y(s.size());
  in.read(reinterpret_cast<char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
  return y;
}

// guitarix-common's measured cabinet, taken at 48 kHz as it is, at a fifth of its level.
std::vector<float> cabinet() {
  const char* path = "/usr/share/gx_head/sounds/amps/Marshall MG 15.wav";
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << " (guitarix-common) cannot be read";
  if (file == nullptr) return {1};
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels)), h;
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  for (std::size_t i = 0; i < frames.size(); i += static_cast<std::size_t>(info.channels)) {
    h.push_back(0.2f * frames[i]);
  }
  return h;
}

// A window measured by vellisk-ir's own code from a recording `delay` samples late, as its
// .frd rows were taken from it, and what they were taken with.
struct Measured {
  std::vector<float> window;
  double delay = 0;  // pre + the arrival, as the .frd's
  Compensation edge;
  FrequencyResponse frd;
};

Measured measure_recording(std::vector<float> y, int delay) {
  y.insert(y.begin(), static_cast<std::size_t>(delay), 0.0f);
  y.resize(y.size() + 48000);
  TempDir dir;
  const std::filesystem::path path = dir.work() / "rec.f32";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
  Recording recording;
  EXPECT_EQ(recording.open(path.c_str(), true, 1), "");
  MeasurementSetup setup;
  setup.params = kDesign, setup.pre = kPre, setup.length = 48000;
  setup.responses = true, setup.threads = 2, setup.compensated = true;
  setup.limit_top = false;  // the window as analysed, without the file's low-pass
  RowStore store;
  EXPECT_EQ(store.open(row_lengths(plan_measurement(setup).layout, 1)), "");
  Measurement m;
  EXPECT_EQ(measure(setup, recording, store, m), "");
  Measured r;
  r.window.resize(static_cast<std::size_t>(m.layout.window(1)));
  EXPECT_TRUE(store.get(0, 0, m.layout.window(1), r.window.data()));
  r.delay = static_cast<double>(kPre) + m.channels[0].arrival;
  r.edge = m.plan.compensation;
  r.frd = m.channels[0].responses[0];
  return r;
}

vellisk::PhaseCurves curves_of(const Measured& m, int fraction = 0) {
  vellisk::CurveSetup s;
  s.rate = kRate, s.delay = m.delay, s.frequencies = m.frd.frequencies, s.fraction = fraction;
  s.edge = m.edge, s.band_low = m.edge.low(), s.band_high = m.edge.high();
  return vellisk::response_curves(m.window.data(), static_cast<std::int64_t>(m.window.size()), s);
}

double angle_deg(double a, double b) { return std::abs(std::remainder(a - b, 360.0)); }

}  // namespace

// sox's allpass, highpass and peaking equaliser, 59 samples late, through the README's design.
// The allpass's group delay is its closed form's (plus what of the latency the arrival leaves)
// within 0.02 ms from 100 Hz to 10 kHz; its magnitude is flat, so its minimum phase is 0 and
// its excess group delay all of its group delay. The highpasses and the equaliser are minimum
// phase: their minimum phase is their own, and their excess group delay is the latency's
// residual, flat within 0.05 ms. The band's first and last rows are checked too.
TEST(Curves, TextbookFiltersAgainstTheirClosedForms) {
  const struct {
    const char* effect;
    Biquad filter;
    bool minimum_phase;
  } cases[] = {{"allpass 300 0.7q", cookbook("allpass", 300, 0.7), false},
               {"highpass 30", cookbook("highpass", 30, std::sqrt(0.5)), true},
               {"highpass 100", cookbook("highpass", 100, std::sqrt(0.5)), true},
               {"gain -6 equalizer 1000 1q 6", cookbook("peaking", 1000, 1, 6), true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.effect);
    const Measured m = measure_recording(through_sox(c.effect), 59);
    const vellisk::PhaseCurves r = curves_of(m);
    ASSERT_EQ(r.frequencies, m.frd.frequencies);
    EXPECT_EQ(r.level, m.frd.level);  // the .frd's rows, bin for bin
    EXPECT_EQ(r.phase, m.frd.phase);
    const double residual = (static_cast<double>(kPre) + 59 - m.delay) * 1000 / kRate;
    for (std::size_t i = 0; i < r.frequencies.size(); ++i) {
      const double hz = r.frequencies[i];
      const double delay = c.filter.delay_ms(hz) + residual;
      const double phase = c.minimum_phase ? std::arg(c.filter.at(hz)) * 180 / std::numbers::pi : 0;
      const bool edge = i == 0 || i + 1 == r.frequencies.size();
      if (edge) {
        // The first row's group delay is not given where the window cuts the band limit.
        if (std::isfinite(r.group_delay[i])) {
          EXPECT_NEAR(r.group_delay[i], delay, i == 0 ? 0.1 : 0.01) << hz << " Hz";
        }
        EXPECT_EQ(std::isfinite(r.group_delay[i]), std::isfinite(r.excess_group_delay[i])) << hz << " Hz";
        EXPECT_LT(angle_deg(r.min_phase[i], phase), 1) << hz << " Hz";
      }
      if (hz < 100 || hz > 10000) continue;
      EXPECT_NEAR(r.group_delay[i], delay, 0.02) << hz << " Hz";
      EXPECT_LT(angle_deg(r.min_phase[i], phase), 0.3) << hz << " Hz";
      EXPECT_NEAR(r.excess_group_delay[i], c.minimum_phase ? residual : delay, 0.05) << hz << " Hz";
      if (testing::Test::HasFailure()) return;
    }
  }
}

// A measured guitar cabinet: its group delay, unsmoothed and over a 60 dB range, is that of the
// cabinet's own transform within 0.01 ms from 100 Hz to 10 kHz; smoothed, it stays the
// power-weighted mean, near it where the level is smooth.
TEST(Curves, MeasuredCabinetGroupDelayIsItsOwnTransforms) {
  const std::vector<float> h = cabinet();
  const Measured m = measure_recording(convolved(played_sweep(), h), 0);
  const vellisk::PhaseCurves raw = curves_of(m), smooth = curves_of(m, 6);
  for (std::size_t i = 0; i < raw.frequencies.size(); ++i) {
    const double hz = raw.frequencies[i];
    if (hz < 100 || hz > 10000) continue;
    Complex sum, moment;
    for (std::size_t k = 0; k < h.size(); ++k) {
      const Complex e = std::polar(1.0, -2 * std::numbers::pi * hz / kRate * static_cast<double>(k));
      sum += static_cast<double>(h[k]) * e;
      moment += static_cast<double>(k) * h[k] * e;
    }
    const double truth = ((moment / sum).real() - (m.delay - kPre)) * 1000 / kRate;
    EXPECT_NEAR(raw.group_delay[i], truth, 0.01) << hz << " Hz";
    EXPECT_TRUE(std::isfinite(smooth.group_delay[i]) && std::isfinite(smooth.excess_group_delay[i]));
    if (testing::Test::HasFailure()) return;
  }
}

// The step response sums in double precision: a million samples of 1e-4 sum to 100, where a
// float accumulator drifts by a percent.
TEST(Step, RunningSumKeepsItsPrecision) {
  const std::vector<float> x(1000000, 1e-4f);
  const std::vector<float> s = vellisk::step_response(x.data(), static_cast<std::int64_t>(x.size()));
  EXPECT_NEAR(s.back(), 1e6 * static_cast<double>(1e-4f), 1e-4);
  EXPECT_FLOAT_EQ(s.front(), 1e-4f);
}

namespace {

vellisk::TimeFrequencyLevels waterfall_of(const Measured& m) {
  vellisk::WaterfallSetup s = vellisk::waterfall_over(20);
  s.rate = kRate, s.arrival = m.delay;
  s.low_hz = m.edge.low(), s.high_hz = m.edge.high();
  EXPECT_FALSE(vellisk::check_waterfall(s));
  return vellisk::waterfall(m.window.data(), static_cast<std::int64_t>(m.window.size()), s);
}

// A two-pole resonance at 1 kHz, of 20 Hz bandwidth (poles at radius e^(-pi 20 / rate)).
std::vector<float> resonance(double direct) {
  const double r = std::exp(-std::numbers::pi * 20 / kRate), c = std::cos(2 * std::numbers::pi * 1000 / kRate);
  std::vector<double> y(48000);
  y[0] = 1 - r, y[1] = 2 * r * c * y[0];
  for (std::size_t i = 2; i < y.size(); ++i) y[i] = 2 * r * c * y[i - 1] - r * r * y[i - 2];
  y[0] += direct;
  return {y.begin(), y.end()};
}

}  // namespace

// The waterfall's slice at 0 ms is the .frd's spectrum before the band limit is divided out,
// bin for bin, and no row lies outside the band. A resonance of 20 Hz bandwidth, after a direct
// sound, rings down at 20 lg e^(-pi 20 0.01) = -5.46 dB per 10 ms.
TEST(Waterfall, ZeroSliceIsTheFrdsSpectrumAndAResonanceDecaysAtItsRate) {
  for (const auto& [name, h] : {std::pair<const char*, std::vector<float>>{"wire", {1.0f}},
                                {"cabinet", cabinet()}, {"resonance", resonance(1)}}) {
    SCOPED_TRACE(name);
    const Measured m = measure_recording(convolved(played_sweep(), h), 0);
    const vellisk::TimeFrequencyLevels w = waterfall_of(m);
    ASSERT_EQ(w.times_ms.size(), 101u);
    EXPECT_EQ(w.times_ms.back(), 20);
    EXPECT_LE(w.origin_ms, 0);
    EXPECT_GE(w.frequencies.front(), m.edge.low());
    EXPECT_LE(w.frequencies.back(), m.edge.high());
    EXPECT_LT(w.frequencies.front(), m.edge.low() * std::exp2(1.0 / 24));
    EXPECT_GT(w.frequencies.back(), m.edge.high() / std::exp2(1.0 / 24));
    const Spectrum s = spectrum_of(m.window.data(), static_cast<std::int64_t>(m.window.size()), kRate,
                                   2 * static_cast<std::int64_t>(m.window.size()));
    const FrequencyResponse frd = sample_response(s, w.frequencies, 1, m.delay, 0);
    for (std::size_t i = 0; i < w.frequencies.size(); ++i) {
      EXPECT_NEAR(w.level(0, i), frd.level[i], 0.01) << w.frequencies[i] << " Hz";
    }
    if (name != std::string("resonance")) continue;
    std::size_t f0 = 0;
    for (std::size_t i = 0; i < w.frequencies.size(); ++i) {
      if (std::abs(w.frequencies[i] - 1000) < std::abs(w.frequencies[f0] - 1000)) f0 = i;
    }
    // The decay's slope over 2 to 20 ms, past the direct sound, by least squares.
    double st = 0, sl = 0, stt = 0, stl = 0, count = 0;
    for (std::size_t k = 10; k < w.times_ms.size(); ++k) {
      const double t = w.times_ms[k], l = w.level(k, f0);
      st += t, sl += l, stt += t * t, stl += t * l, ++count;
    }
    const double slope = (count * stl - st * sl) / (count * stt - st * st);
    EXPECT_NEAR(10 * slope, 20 * std::log10(std::exp(-std::numbers::pi * 20 * 0.01)), 0.3);
  }
}

// The spectrogram of a resonance alone: its frames' level at 1 kHz falls at the same rate, and
// the frame centred on a unit impulse reads 0 dB at every frequency, each row's frame holding
// four of its periods.
TEST(Waterfall, SpectrogramReadsImpulsesAndDecays) {
  vellisk::SpectrogramSetup s;
  s.rate = kRate, s.arrival = 4800, s.low_hz = 100, s.high_hz = 10000;
  std::vector<float> x(48000);
  x[4800] = 1;
  const vellisk::TimeFrequencyLevels impulse = vellisk::spectrogram(x.data(), 48000, s);
  std::size_t centre = 0;
  while (impulse.times_ms[centre] < 0) ++centre;
  ASSERT_EQ(impulse.times_ms[centre], 0);
  for (std::size_t i = 0; i < impulse.frequencies.size(); ++i) {
    EXPECT_NEAR(impulse.level(centre, i), 0, 1e-4);
    // Half the row's frame on, out of it: 10 ms frames from 400 Hz, 20 ms from 200 Hz, 40 ms below.
    const double frame_ms =
        static_cast<double>(vellisk::spectrogram_frame(s, impulse.frequencies[i])) * 1000 / kRate;
    const double hz = impulse.frequencies[i];
    EXPECT_EQ(frame_ms, hz >= 400 ? 10 : hz >= 200 ? 20 : 40) << hz;
    const auto out = static_cast<std::size_t>(frame_ms / 2 / s.hop_ms) + 1;
    EXPECT_GT(impulse.level(centre + out - 2, i), -300) << hz;
    EXPECT_EQ(impulse.level(centre + out, i), -300) << hz;
  }
  const std::vector<float> ring = resonance(0);
  std::copy(ring.begin(), ring.begin() + 43200, x.begin() + 4800);
  const vellisk::TimeFrequencyLevels g = vellisk::spectrogram(x.data(), 48000, s);
  std::size_t f0 = 0;
  while (g.frequencies[f0] < 1000 * (1 - 1e-9)) ++f0;
  EXPECT_NEAR(g.level(centre + 16, f0) - g.level(centre + 8, f0),  // 20 to 40 ms
              20 * std::log10(std::exp(-std::numbers::pi * 20 * 0.02)), 0.05);
}

// sox's allpass and a wire, measured: past the frame that holds the arrival, every row of
// their spectrograms falls (within 2 dB, frame to frame) until it lies 50 dB below the map's
// peak, with no stripes of the band edge's ringing, and both channels' frames lie at the
// same times, hops from the arrival.
TEST(Waterfall, SpectrogramOfAnAllpassFallsWithoutStripes) {
  std::vector<std::vector<double>> axes;
  for (const char* effect : {"allpass 300 0.7q", "gain 0"}) {
    SCOPED_TRACE(effect);
    const Measured m = measure_recording(through_sox(effect), 59);
    vellisk::SpectrogramSetup s;
    s.rate = kRate, s.arrival = m.delay, s.first_ms = -20;
    s.low_hz = m.edge.low(), s.high_hz = m.edge.high();
    const vellisk::TimeFrequencyLevels g =
        vellisk::spectrogram(m.window.data(), static_cast<std::int64_t>(m.window.size()), s);
    axes.push_back(g.times_ms);
    double peak = -300;
    for (const double l : g.levels) peak = std::max(peak, l);
    for (std::size_t i = 0; i < g.frequencies.size(); ++i) {
      const double half_frame =
          static_cast<double>(vellisk::spectrogram_frame(s, g.frequencies[i])) * 500 / kRate;
      for (std::size_t k = 1; k < g.times_ms.size(); ++k) {
        if (g.times_ms[k - 1] < half_frame + 2 || g.level(k - 1, i) < peak - 50) continue;
        ASSERT_LT(g.level(k, i), g.level(k - 1, i) + 2)
            << g.frequencies[i] << " Hz, " << g.times_ms[k] << " ms";
      }
    }
    for (std::size_t k = 0; k < g.times_ms.size(); ++k) {
      EXPECT_DOUBLE_EQ(g.times_ms[k], (g.times_ms[0] / 2.5 + static_cast<double>(k)) * 2.5);
    }
  }
  EXPECT_EQ(axes[0].front(), axes[1].front());
}

TEST(Waterfall, SetupsOutOfRangeAreRefused) {
  using Code = vellisk::WaterfallError::Code;
  const auto setup = [](double start, double end, double step, double rise, int grid) {
    vellisk::WaterfallSetup s;
    s.start_ms = start, s.end_ms = end, s.step_ms = step, s.rise_ms = rise, s.points_per_octave = grid;
    return s;
  };
  const struct {
    vellisk::WaterfallSetup setup;
    Code code;
  } cases[] = {{setup(0, 0, 0.2, 0.2, 24), Code::bad_range},   {setup(-1, 20, 0.2, 0.2, 24), Code::bad_range},
               {setup(0, 2e4, 200, 1, 24), Code::bad_range},   {setup(0, 20, 0, 0.2, 24), Code::bad_step},
               {setup(0, 20, 0.2, -1, 24), Code::bad_rise},    {setup(0, 20, 0.2, 30, 24), Code::bad_rise},
               {setup(0, 500, 0.2, 1, 24), Code::too_many_slices}, {setup(0, 20, 0.2, 0.2, 0), Code::bad_grid}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    const auto e = vellisk::check_waterfall(c.setup);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code, c.code);
  }
  EXPECT_FALSE(vellisk::check_waterfall(vellisk::waterfall_over(500)));
}
