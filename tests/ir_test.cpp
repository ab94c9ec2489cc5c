// End-to-end tests of vellisk-ir on recordings of known systems made in the test.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "plot/figure.h"
#include "response/analysis.h"
#include "response/compensation.h"
#include "response/fft.h"
#include "io/recording.h"
#include "response/store.h"
#include "response/timing.h"
#include "room/samples.h"
#include "run_vellisk.h"
#include "sweep/inverse_gen.h"
#include "sweep/out_of_memory.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

namespace {

// 2 s from 50 Hz to 3 kHz at 8 kHz, after 0.5 s of silence.
const std::vector<std::string> kNumbers = {"8000", "0.5", "50", "3000", "2", "0.5", "0.05", "0.02"};

SweepParams params_of(const std::vector<std::string>& numbers) {
  double n[8];
  for (int i = 0; i < 8; ++i) n[i] = std::stod(numbers[static_cast<std::size_t>(i)]);
  return {n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]};
}

// The sweep at a real sample index t from its start: the tapered sine of the
// sweep file, continued between samples, and 0 outside the sweep.
double sweep_at(const SweepDesign& d, double t) {
  const double n = d.sweeplen;
  if (t <= 0 || t >= n) return 0;
  double taper = 1;
  if (t < d.leadinlen) {
    taper = (0.42 - 0.5 * std::cos(d.leadinstep * t)) + 0.08 * std::cos(d.leadinstep2 * t);
  } else if (t > n - d.leadoutlen) {
    taper = (0.42 - 0.5 * std::cos(d.leadoutstep * (n - t))) +
            0.08 * std::cos(d.leadoutstep2 * (n - t));
  }
  return d.amplitude * taper * std::sin(d.phasescale * (std::exp(t * d.expstep) - 1));
}

// A recording of `channels` interleaved channels, frames long; system(c, t)
// gives channel c at frame t.
template <class System>
std::vector<float> record(int channels, std::int64_t frames, System system) {
  std::vector<float> data(static_cast<std::size_t>(frames * channels));
  for (std::int64_t t = 0; t < frames; ++t) {
    for (int c = 0; c < channels; ++c) {
      data[static_cast<std::size_t>(t * channels + c)] = static_cast<float>(system(c, t));
    }
  }
  return data;
}

void write_raw(const std::filesystem::path& path, const std::vector<float>& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()),
             static_cast<std::streamsize>(data.size() * sizeof(float)));
}

void write_sound(const std::filesystem::path& path, int format, const std::vector<float>& data,
                 int channels, int rate) {
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = rate;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  ASSERT_EQ(sf_writef_float(file, data.data(), static_cast<sf_count_t>(data.size()) / channels),
            static_cast<sf_count_t>(data.size()) / channels);
  sf_close(file);
}

// Any sound file libsndfile reads, or headerless float32, as interleaved floats.
std::vector<float> read_sound(const std::filesystem::path& path, int& channels) {
  if (path.extension() == ".pcm") return read_samples(path);
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return {};
  channels = info.channels;
  std::vector<float> data(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, data.data(), info.frames);
  sf_close(file);
  return data;
}

RunResult run_ir(const TempDir& dir, const std::vector<std::string>& args) {
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  return run_program(dir, args, setup);
}

std::vector<std::string> with(std::vector<std::string> options,
                              const std::vector<std::string>& numbers,
                              const std::vector<std::string>& files) {
  options.insert(options.end(), numbers.begin(), numbers.end());
  options.insert(options.end(), files.begin(), files.end());
  return options;
}

// One channel of interleaved data.
std::vector<double> channel_of(const std::vector<float>& data, int channels, int c) {
  std::vector<double> x;
  for (std::size_t i = static_cast<std::size_t>(c); i < data.size();
       i += static_cast<std::size_t>(channels)) {
    x.push_back(data[i]);
  }
  return x;
}

// The spectrum of x at the bins of a transform of at least x's length.
struct Bins {
  double hz_per_bin;
  std::vector<std::complex<double>> values;
};

Bins spectrum(const std::vector<double>& x, double rate) {
  const std::size_t size = fast_fft_size(x.size());
  FloatBuffer b = make_float_buffer(size + 2);
  for (std::size_t i = 0; i < x.size(); ++i) b[i] = static_cast<float>(x[i]);
  RealFft(size).forward(b.get());
  Bins s{rate / static_cast<double>(size), {}};
  for (std::size_t j = 0; j <= size / 2; ++j) s.values.emplace_back(b[2 * j], b[2 * j + 1]);
  return s;
}

double db(double x) { return 20 * std::log10(x); }

// A response file's spectrum with the band limit it keeps (for the sweep of `numbers`) divided
// out: the system's own.
Bins system_of(Bins h, const SweepParams& p) {
  const Compensation band(compute_design(p));
  for (std::size_t j = 1; j < h.values.size(); ++j) {
    h.values[j] /= band.band(static_cast<double>(j) * h.hz_per_bin);
  }
  return h;
}

// Where the band limit's own impulse response peaks, samples after its start: its
// sections run on an impulse.
double band_delay(const std::vector<std::string>& numbers) {
  std::vector<float> x(256, 0.0f);
  x[64] = 1;
  for (const auto& c : Compensation(compute_design(params_of(numbers))).sections()) {
    double s1 = 0, s2 = 0;
    for (float& v : x) {
      const double in = v, out = c[0] * in + s1;
      s1 = c[1] * in - c[4] * out + s2, s2 = c[2] * in - c[5] * out;
      v = static_cast<float>(out);
    }
  }
  return interpolated_peak(x.data(), std::ssize(x)).position - 64;
}

// The system's gain from 100 Hz to 2.5 kHz is gain, within 0.01 dB (compensated: with the
// band limit divided out).
void expect_gain(const std::vector<double>& ir, double gain, bool compensated = true) {
  const Bins h = compensated ? system_of(spectrum(ir, 8000), params_of(kNumbers)) : spectrum(ir, 8000);
  for (std::size_t j = 0; j < h.values.size(); ++j) {
    const double hz = static_cast<double>(j) * h.hz_per_bin;
    if (hz < 100 || hz > 2500) continue;
    ASSERT_NEAR(db(std::abs(h.values[j]) / gain), 0, 0.01) << hz << " Hz";
  }
}

// The loopback: the sweep file itself as the recording is the band-limited
// impulse at the zero instant, of unit gain across the band.
TEST(VelliskIr, LoopbackIsAUnitImpulseAtTheZeroInstant) {
  TempDir dir;
  const SweepDesign d = compute_design(params_of(kNumbers));
  std::vector<float> sweep;
  emit_sweep(d, [&sweep](double v) { sweep.push_back(static_cast<float>(v)); });
  write_raw(dir.work() / "sweep.pcm", sweep);
  const RunResult r =
      run_ir(dir, with({"-p", "0.5", "-l", "0.5"}, kNumbers, {"sweep.pcm", "ir.pcm"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Channel 1: arrival 0.0 samples (0.000 ms)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Response written: ir.pcm\n"), std::string::npos);
  int channels = 1;
  const std::vector<double> ir = channel_of(read_sound(dir.work() / "ir.pcm", channels), 1, 0);
  ASSERT_EQ(ir.size(), 8000u);
  const std::vector<float> x(ir.begin(), ir.end());
  EXPECT_NEAR(interpolated_peak(x.data(), 8000).position - 4000, band_delay(kNumbers), 0.01);
  expect_gain(ir, 1);
}

// Three channels through delays of whole and half samples and gains, and a
// silent one: each comes back with its own arrival and gain, and
// uncompensated, as the double-precision convolution with the inverse file
// gives it.
TEST(VelliskIr, KnownSystemsOnSeveralChannels) {
  TempDir dir;
  const SweepParams p = params_of(kNumbers);
  const SweepDesign d = compute_design(p);
  const double delays[] = {3, 12, 20.5, 0};
  const double gains[] = {1, 0.25, 1.5, 0};
  const std::int64_t frames = 2 * d.silencelen + d.sweeplen;
  const std::vector<float> rec = record(4, frames, [&](int c, std::int64_t t) {
    return gains[c] * sweep_at(d, static_cast<double>(t - d.silencelen) - delays[c]);
  });
  write_raw(dir.work() / "rec.pcm", rec);
  const RunResult r = run_ir(dir, with({"-c", "4", "-p", "0.5", "-l", "0.25", "--uncompensated"},
                                      kNumbers, {"rec.pcm", "ir.pcm"}));
  ASSERT_EQ(r.status, 0) << r.err;
  int channels = 4;
  const std::vector<float> out = read_sound(dir.work() / "ir.pcm", channels);
  const std::int64_t pre = 4000, window = 6000;
  ASSERT_EQ(out.size(), static_cast<std::size_t>(4 * window));

  std::vector<double> inverse;
  emit_inverse(d, normfactor(d),
               [&inverse](double v) { inverse.push_back(static_cast<float>(v)); });
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(testing::Message() << "channel " << c + 1);
    const std::vector<double> ir = channel_of(out, 4, c);
    if (gains[c] == 0) {
      for (const double v : ir) ASSERT_EQ(v, 0);
      EXPECT_NE(r.out.find("Channel 4: no response, every sample is 0\n"), std::string::npos);
      continue;
    }
    char arrival[64];
    std::snprintf(arrival, sizeof arrival, "Channel %d: arrival %.1f samples", c + 1, delays[c]);
    EXPECT_NE(r.out.find(arrival), std::string::npos) << r.out;
    char gain[64];
    std::snprintf(gain, sizeof gain, "in-band gain %.2f dB", db(gains[c]));
    EXPECT_NE(r.out.find(gain), std::string::npos) << r.out;
    expect_gain(ir, gains[c], false);
    // The reference: the recording convolved with the inverse file in double
    // precision, cut to the window, divided by amplitude.
    double worst = 0, peak = 0;
    for (std::int64_t i = 0; i < window; ++i) {
      const std::int64_t m = d.silencelen + d.sweeplen - pre + i;
      double sum = 0;
      for (std::int64_t k = 0; k < d.sweeplen && k <= m; ++k) {
        if (m - k < frames)
          sum +=
              inverse[static_cast<std::size_t>(k)] * rec[static_cast<std::size_t>((m - k) * 4 + c)];
      }
      sum /= p.amplitude;
      worst = std::max(worst, std::abs(sum - ir[static_cast<std::size_t>(i)]));
      peak = std::max(peak, std::abs(sum));
    }
    EXPECT_LT(db(worst / peak), -120);
  }
}

// The same recording as headerless float32, float WAV and 24-bit FLAC, written
// as the same three formats, gives the same response within their resolution.
TEST(VelliskIr, FormatsInAndOut) {
  TempDir dir;
  const SweepDesign d = compute_design(params_of(kNumbers));
  const std::vector<float> rec =
      record(2, 2 * d.silencelen + d.sweeplen, [&](int c, std::int64_t t) {
        return (c == 0 ? 0.9 : -0.4) * sweep_at(d, static_cast<double>(t - d.silencelen) - 10.5);
      });
  write_raw(dir.work() / "rec.pcm", rec);
  write_sound(dir.work() / "rec.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, rec, 2, 8000);
  write_sound(dir.work() / "rec.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, rec, 2, 8000);
  const struct {
    const char* in;
    const char* format;
    const char* out;
    double tolerance;
  } cases[] = {
      {"rec.pcm", "headerless float32", "a.pcm", 0},
      {"rec.wav", "WAV (Microsoft) 32 bit float", "b.wav", 0},
      {"rec.flac", "FLAC (Free Lossless Audio Codec) Signed 24 bit PCM", "c.flac", 0x1p-22}};
  std::vector<float> first;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    const RunResult r =
        run_ir(dir, with(c.in == std::string("rec.pcm") ? std::vector<std::string>{"-c", "2"}
                                                        : std::vector<std::string>{},
                         kNumbers, {c.in, c.out}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::string("Recording: ") + c.in + ", " + c.format +
                         ", 2 channels, 24000 frames"),
              std::string::npos)
        << r.out;
    int channels = 2;
    const std::vector<float> ir = read_sound(dir.work() / c.out, channels);
    EXPECT_EQ(channels, 2);
    if (first.empty()) first = ir;
    ASSERT_EQ(ir.size(), first.size());
    for (std::size_t i = 0; i < ir.size(); ++i) ASSERT_NEAR(ir[i], first[i], c.tolerance) << i;
  }
}

// A memoryless system y = g (x + a2 x^2 + a3 x^3), driven by the sweep x =
// A sin(phi), has H1 = g (1 + 3/4 a3 A^2) at 0 degrees, H2 = g a2 A / 2 at -90,
// H3 = g a3 A^2 / 4 at 180 and no H4, each over its own file's frequencies.
TEST(VelliskIr, HarmonicsOfAMemorylessSystemInClosedForm) {
  const double g = 0.8, a2 = 0.3, a3 = 0.2;
  const struct {
    std::vector<std::string> numbers;
    double delay;
  } cases[] = {
      {{"16000", "0.5", "50", "2000", "4", "0.5", "0.05", "0.01"}, 3.5},
      {{"44100", "0.7", "30", "5000", "4", "0.5", "0.05", "0.01"}, 0},
      {{"48000", "0.3", "20", "6000", "4", "0.5", "0.05", "0.01"}, 37.25},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.numbers[0] + " Hz");
    TempDir dir;
    const SweepParams p = params_of(c.numbers);
    const SweepDesign d = compute_design(p);
    write_raw(dir.work() / "rec.pcm",
              record(1, 2 * d.silencelen + d.sweeplen, [&](int, std::int64_t t) {
                const double x = sweep_at(d, static_cast<double>(t - d.silencelen) - c.delay);
                return g * (x + a2 * x * x + a3 * x * x * x);
              }));
    const RunResult r =
        run_ir(dir, with({"-H", "4", "-l", "0.2"}, c.numbers, {"rec.pcm", "ir.pcm"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const double a = p.amplitude;
    const struct {
      const char* file;
      double level;
      double degrees;
    } orders[] = {{"ir.pcm", g * (1 + 0.75 * a3 * a * a), 0},
                  {"ir-h2.pcm", g * a2 * a / 2, -90},
                  {"ir-h3.pcm", g * a3 * a * a / 4, 180},
                  {"ir-h4.pcm", 0, 0}};
    for (int k = 1; k <= 4; ++k) {
      SCOPED_TRACE(testing::Message() << "order " << k);
      const auto& o = orders[k - 1];
      int channels = 1;
      const Bins h =
          system_of(spectrum(channel_of(read_sound(dir.work() / o.file, channels), 1, 0), p.rate), p);
      std::vector<double> errors;
      for (std::size_t j = 0; j < h.values.size(); ++j) {
        const double hz = static_cast<double>(j) * h.hz_per_bin;
        if (hz < 4 * k * p.hzstart || hz > 0.8 * p.hzend) continue;
        if (o.level == 0) {
          ASSERT_LT(db(std::abs(h.values[j]) / orders[0].level), -80) << hz << " Hz";
          continue;
        }
        ASSERT_NEAR(db(std::abs(h.values[j]) / o.level), 0, 0.1) << hz << " Hz";
        // Without the delay and the window's pre, the phase is the system's own.
        const double lag = 2 * std::numbers::pi * hz * (0.1 * p.rate + c.delay) / p.rate;
        const double degrees =
            std::arg(h.values[j] * std::polar(1.0, lag)) * 180 / std::numbers::pi;
        errors.push_back(std::abs(std::remainder(degrees - o.degrees, 360.0)));
      }
      if (errors.empty()) continue;
      std::sort(errors.begin(), errors.end());
      EXPECT_LT(errors[errors.size() / 2], 1) << "median phase error, degrees";
      EXPECT_LT(errors.back(), 5) << "worst phase error, degrees";
    }
  }
}

// The number printed after `label` in the report, or NaN.
double reported(const std::string& out, const std::string& label) {
  const std::string::size_type at = out.find(label);
  return at == std::string::npos ? std::nan("") : std::stod(out.substr(at + label.size()));
}

// Loopback recordings made with a clock that runs (1 + drift) times as fast as
// the player's, the channel its own timing reference: the drift is measured,
// and --drift auto brings back the response of a recording without drift.
TEST(VelliskIr, ClockDriftMeasuredAndCorrected) {
  const std::vector<std::string> numbers = {"16000", "0.5", "50",   "7000",
                                            "10",    "0.5", "0.05", "0.01"};
  const SweepDesign d = compute_design(params_of(numbers));
  const double delay = 7.3;
  struct Run {
    double drift, arrival, peak;
    Bins gain;
  };
  const auto run = [&](double ppm, bool correct) {
    TempDir dir;
    const double stretch = 1 + ppm * 1e-6;
    const auto frames = static_cast<std::int64_t>((2 * d.silencelen + d.sweeplen) * stretch) + 100;
    write_raw(dir.work() / "rec.pcm", record(1, frames, [&](int, std::int64_t t) {
                return sweep_at(d, static_cast<double>(t) / stretch - d.silencelen - delay);
              }));
    const RunResult r =
        run_ir(dir, with(correct ? std::vector<std::string>{"--reference", "1", "--drift", "auto"}
                                 : std::vector<std::string>{"--reference", "1"},
                         numbers, {"rec.pcm", "ir.pcm"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Warning: a clock drift") != std::string::npos,
              !correct && std::abs(ppm) >= 20)
        << r.err;
    if (correct) {
      EXPECT_NEAR(reported(r.out, "latency of the playback and recording chain "), delay, 0.1);
    }
    int channels = 1;
    return Run{reported(r.out, correct ? "Drift corrected: " : "Clock drift: "),
               reported(r.out, "arrival "), reported(r.out, "impulse peak "),
               spectrum(channel_of(read_sound(dir.work() / "ir.pcm", channels), 1, 0), 16000)};
  };
  const Run still = run(0, false);
  EXPECT_NEAR(still.drift, 0, 2);
  for (const double ppm : {-50.0, 20.0, 100.0}) {
    SCOPED_TRACE(testing::Message() << ppm << " ppm");
    EXPECT_NEAR(run(ppm, false).drift, ppm, 2);
    const Run corrected = run(ppm, true);
    EXPECT_NEAR(corrected.peak, still.peak, 0.1);
    EXPECT_NEAR(corrected.arrival, still.arrival, 0.1);
    for (std::size_t j = 0; j < still.gain.values.size(); ++j) {
      const double hz = static_cast<double>(j) * still.gain.hz_per_bin;
      if (hz < 200 || hz > 5600) continue;
      ASSERT_NEAR(db(std::abs(corrected.gain.values[j]) / std::abs(still.gain.values[j])), 0, 0.1)
          << hz << " Hz";
    }
  }
}

// Recordings of measurements gone wrong each draw their warning, and only
// theirs; clean ones, through a wire at half gain or a dispersive filter with
// noise, draw none. The files are written all the same.
TEST(VelliskIr, WarningsOfMeasurementsGoneWrong) {
  const SweepDesign d = compute_design(params_of(kNumbers));
  const auto sweep = [&d](double t) { return sweep_at(d, t - d.silencelen); };
  std::minstd_rand random(1);
  std::normal_distribution<double> noise(0, 1e-4);
  // A decaying chirp, whose group delay falls with frequency; a dense decay of 5 ms.
  std::vector<double> chirp(400), dense(200);
  for (std::size_t n = 0; n < chirp.size(); ++n) {
    const double t = static_cast<double>(n);
    chirp[n] = (n == 0) + 0.05 * std::exp(-t / 80) * std::cos(0.05 * t + 0.0005 * t * t);
    if (n < dense.size()) dense[n] = (n == 0) + 0.15 * std::exp(-t / 40) * std::cos(2.5 * t * t);
  }
  const auto through = [&](const std::vector<double>& h) {
    return [&](int, double t) {
      double y = noise(random);
      for (std::size_t n = 0; n < h.size(); ++n) y += h[n] * sweep(t - static_cast<double>(n));
      return 0.8 * y;
    };
  };
  std::vector<std::string> shorter = kNumbers;
  shorter[4] = "1.8";
  const auto late = [&](double s) {
    return [&, s](int, double t) { return sweep(t + s * 8000) + noise(random); };
  };
  const char* elsewhere = "1: the response lies ";
  const struct {
    const char* name;
    int format;                                 // 0: headerless float32
    std::function<double(int, double)> system;  // channel, frame
    std::vector<std::string> warnings;
    std::vector<std::string> options = {}, numbers = kNumbers;
  } cases[] = {
      {"wire at half gain", 0, [&](int, double t) { return 0.5 * sweep(t); }, {}},
      {"dispersive filter with noise", SF_FORMAT_WAV | SF_FORMAT_PCM_24, through(chirp), {}},
      {"dense response in a short window", 0, through(dense), {}, {"-p", "0.001", "-l", "0.01"}},
      {"begun 0.5 s after playback",
       0,
       late(0.5),
       {"1: the response lies 0.500 s before the zero instant: the recording probably began "
        "that much after playback, and misses the sweep's start; --align moves the window onto "
        "it"}},
      {"begun 0.15 s after playback", 0, late(0.15), {elsewhere + std::string("0.150 s before")}},
      {"latency beyond --length",
       0,
       late(-0.1 - 1.0 / 8000),
       {elsewhere + std::string("0.100 s after the zero instant: the recorder probably started "
                                "that much before playback, or the latency is that long")},
       {"-l", "0.1"}},
      {"a duration of 1.8 s given for 2 s",
       0,
       late(0),
       {"1: the response does not look like an impulse, its peak only "},
       {},
       shorter},
      {"2 channels of 16 bits, the second clipped",
       SF_FORMAT_WAV | SF_FORMAT_PCM_16,
       [&](int c, double t) { return (1 + 1.5 * c) * sweep(t); },
       {"2: # samples of the recording are at full scale: it probably clipped; lower the "
        "playback or input level and measure again"}},
      {"float, clipped",
       SF_FORMAT_WAV | SF_FORMAT_FLOAT,
       [&](int, double t) { return std::clamp(3 * sweep(t), -1.0, 1.0); },
       {"1: # samples of the recording are at full scale"}},
      {"quiet",
       0,
       [&](int, double t) { return 0.002 * sweep(t); },
       {"1: the recording peaks at only -60.0 dBFS, so the measurement is limited by noise; "
        "raise the playback or input level"}},
      {"2 channels, the first silent",
       0,
       [&](int c, double t) { return c * sweep(t); },
       {"1: the recording is silent where the sweep should be (every sample read is 0); check "
        "the input's connection and channel"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const int channels = c.name[0] == '2' ? 2 : 1;
    const std::vector<float> rec =
        record(channels, d.silencelen + d.sweeplen + 10000,
               [&](int ch, std::int64_t t) { return c.system(ch, static_cast<double>(t)); });
    std::vector<std::string> options = c.options;
    std::string name = "rec.wav";
    if (c.format != 0) {
      write_sound(dir.work() / name, c.format, rec, channels, 8000);
    } else {
      write_raw(dir.work() / (name = "rec.pcm"), rec);
      options.insert(options.end(), {"-c", std::to_string(channels)});
    }
    const RunResult r = run_ir(dir, with(options, c.numbers, {name, "ir.wav"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.work() / "ir.wav"));
    std::string err;  // without the drift warning, the drift estimate's own matter
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("a clock drift of") == std::string::npos) err += line + "\n";
    }
    for (const std::string& w : c.warnings) {  // # stands for a count
      const std::size_t hash = std::min(w.find('#'), w.size());
      const std::size_t at = err.find("Warning: channel " + w.substr(0, hash));
      EXPECT_NE(at, std::string::npos) << w << "\n" << r.err;
      if (hash < w.size()) {
        EXPECT_NE(err.find(w.substr(hash + 1), at), std::string::npos) << w;
      }
    }
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), std::ssize(c.warnings)) << r.err;
    if (c.name == std::string("wire at half gain")) {
      EXPECT_NE(r.out.find(", in-band gain -6.02 dB, impulse peak -"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find(", recorded peak -12.04 dBFS\n"), std::string::npos) << r.out;
    }
  }
}

// libsndfile reads an integer code c of b bits as c / 2^(b - 1): the extreme
// codes, and only they, count as full scale, per channel; so do a companded
// format's extreme codes, and floats of magnitude 1 or more.
TEST(Recording, CountsSamplesAtFullScaleOfEachFormat) {
  for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8,
                           SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                           SF_FORMAT_WAV | SF_FORMAT_PCM_32, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                           SF_FORMAT_FLAC | SF_FORMAT_PCM_24, SF_FORMAT_WAV | SF_FORMAT_ULAW,
                           SF_FORMAT_WAV | SF_FORMAT_ALAW, SF_FORMAT_WAV | SF_FORMAT_FLOAT}) {
    SCOPED_TRACE(testing::Message() << std::hex << format);
    const int subtype = format & SF_FORMAT_SUBMASK;
    const bool companded = subtype == SF_FORMAT_ULAW || subtype == SF_FORMAT_ALAW;
    const int bits = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 ? 8
                     : subtype == SF_FORMAT_PCM_24                              ? 24
                     : subtype == SF_FORMAT_PCM_32                              ? 32
                                                                                : 16;
    // Channel 1: both extreme codes and the neighbours of one; channel 2: one
    // extreme. 2^31 - 2 reads as 1 in float, and a companded format's codes
    // are coarse: they take farther neighbours.
    const std::int64_t top = (std::int64_t{1} << (bits - 1)) - 1;
    const std::int64_t near = companded ? 4096 : bits == 32 ? 256 : 1;
    const auto code = [bits](std::int64_t v) { return static_cast<int>(v << (32 - bits)); };
    const std::vector<int> codes = {
        code(top), code(top - near),      code(-top - 1), code(top - near), code(-top - 1 + near),
        0,         code(-top - 1 + near), code(top)};
    const float floats[] = {1, 0.5f, -1.25f, 0.25f, 0.999f, -0.999f, 0, -1};
    TempDir dir;
    const std::string name = (dir.work() / "rec.snd").string();
    SF_INFO info{0, 8000, 2, format, 0, 0};
    SNDFILE* file = sf_open(name.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    subtype == SF_FORMAT_FLOAT ? sf_write_float(file, floats, 8)
                               : sf_write_int(file, codes.data(), 8);
    sf_close(file);

    Recording recording;
    ASSERT_EQ(recording.open(name.c_str(), false, 1), "");
    std::vector<float> a(6), b(6);
    float* out[] = {a.data(), b.data()};
    SampleLevels levels[2];
    ASSERT_FALSE(recording.read(-1, 6, 0, 2, out, levels));
    EXPECT_EQ(levels[0].clipped, 2);
    EXPECT_EQ(levels[1].clipped, 1);
    EXPECT_EQ(levels[0].peak, subtype == SF_FORMAT_FLOAT ? 1.25f : companded ? levels[1].peak : 1);
  }
}

// The level axis holds the curves, from a flat response to a hall's measured
// from 20 Hz, with ticks at round numbers.
TEST(Figure, LevelAxisFitsTheCurvesWithRoundTicks) {
  const struct {
    double lowest, highest;
  } cases[] = {{-6, 0}, {-62, -3}, {-95, 1.5}, {-140, 12}, {-400, 0}, {-20, -20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lowest << " to " << c.highest << " dB");
    const LevelAxis a = level_axis(c.lowest, c.highest);
    EXPECT_GE(a.top, c.highest + 3);
    EXPECT_LT(a.top, c.highest + 3 + 2 * a.step);
    EXPECT_LE(a.bottom, std::max(c.lowest, a.top - 200));
    EXPECT_GE(a.top - a.bottom, 40);
    EXPECT_LE(a.top - a.bottom, 200);
    EXPECT_EQ(std::fmod(a.top, a.step), 0);
    EXPECT_EQ(std::fmod(a.bottom, a.step), 0);
    EXPECT_LE((a.top - a.bottom) / a.step, 10) << "ticks";
  }
}

// A second-order section of the audio cookbook's filters, as sox applies them.
struct Biquad {
  double b0, b1, b2, a1, a2;  // over a0
  static Biquad allpass(double hz, double q, double rate) {
    const double w = 2 * std::numbers::pi * hz / rate, alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    return {(1 - alpha) / a0, -2 * std::cos(w) / a0, 1, -2 * std::cos(w) / a0, (1 - alpha) / a0};
  }
  static Biquad lowpass(double hz, double q, double rate) {
    const double w = 2 * std::numbers::pi * hz / rate, alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha, c = std::cos(w);
    return {(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
  }
};

// x through the sections in turn.
std::vector<double> filtered(std::vector<double> x, const std::vector<Biquad>& chain) {
  for (const Biquad& f : chain) {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (double& v : x) {
      const double y = f.b0 * v + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
      x2 = x1, x1 = v, y2 = y1, y1 = y, v = y;
    }
  }
  return x;
}

// Systems whose delay changes strongly with frequency, as a crossover's, a
// cabinet's or a room's does: sox's allpass 1000 2q, its lowpass 2000, and
// four allpasses whose group delay falls by 9 ms over the band.
const std::vector<std::vector<Biquad>> kDispersive = {
    {Biquad::allpass(1000, 2, 16000)},
    {Biquad::lowpass(2000, 0.707, 16000)},
    {Biquad::allpass(100, 0.7, 16000), Biquad::allpass(300, 0.7, 16000),
     Biquad::allpass(800, 0.7, 16000), Biquad::allpass(2500, 0.7, 16000)}};

// 10 s from 50 Hz to 7 kHz at 16 kHz: a period of 176000 samples.
const std::vector<std::string> kLong = {"16000", "0.5", "50", "7000", "10", "0.5", "0.05", "0.01"};

// The sweep file played `repeats` times back to back, each period's sample t
// at player time t + shift, as a recorder whose clock runs (1 + ppm 1e-6)
// times as fast records it, for `frames` frames.
std::vector<double> played(const SweepDesign& d, int repeats, double ppm, double shift,
                           std::int64_t frames) {
  const double period = 2.0 * d.silencelen + d.sweeplen;
  std::vector<double> x(static_cast<std::size_t>(frames));
  for (std::int64_t t = 0; t < frames; ++t) {
    const double at = static_cast<double>(t) / (1 + ppm * 1e-6) - shift;
    const double r = std::clamp(std::floor(at / period), 0.0, repeats - 1.0);
    x[static_cast<std::size_t>(t)] = sweep_at(d, at - r * period - d.silencelen);
  }
  return x;
}

// Position of a response's peak, samples after sample `pre`, to a hundredth of a sample.
double peak_at(const std::vector<double>& ir, std::int64_t pre) {
  const std::vector<float> x(ir.begin(), ir.end());
  return interpolated_peak(x.data(), static_cast<std::int64_t>(x.size())).position -
         static_cast<double>(pre);
}

// One sweep through a dispersive system, on one clock: its own delays are not
// taken for a clock drift, and --drift auto is refused for want of a reference.
TEST(VelliskIr, NoDriftReadFromOneSweepThroughASystem) {
  const SweepDesign d = compute_design(params_of(kLong));
  const std::int64_t frames = 2 * d.silencelen + d.sweeplen;
  for (std::size_t i = 0; i < kDispersive.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "system " << i);
    TempDir dir;
    const std::vector<double> y = filtered(played(d, 1, 0, 7.3, frames), kDispersive[i]);
    write_raw(dir.work() / "rec.pcm", std::vector<float>(y.begin(), y.end()));
    const RunResult r = run_ir(dir, with({"-l", "0.4"}, kLong, {"rec.pcm", "ir.pcm"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find("rift"), std::string::npos) << r.out;
    const RunResult a = run_ir(dir, with({"--drift", "auto"}, kLong, {"rec.pcm", "ir.pcm"}));
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.err.rfind("--drift auto needs a timing reference: --reference C", 0), 0u) << a.err;
  }
}

// A loopback on channel 1 and a dispersive system 600 samples later on
// channel 2, behind a chain of 123.4 samples' latency, recorded on a clock
// off by ppm: the drift is measured on the loopback, the loopback's arrival
// becomes the zero instant, and channel 2 arrives 600 samples after it, as
// the system alone on one clock does.
TEST(VelliskIr, TimingReferenceGivesLatencyAndDrift) {
  const SweepDesign d = compute_design(params_of(kLong));
  const std::vector<Biquad>& system = kDispersive[2];
  const auto frames_of = [&](double ppm) {
    return static_cast<std::int64_t>((2 * d.silencelen + d.sweeplen) * (1 + ppm * 1e-6)) + 6000;
  };
  // The system alone, on one clock and without latency. Its response has
  // several peaks of like height, so it is timed by cross-correlation.
  std::vector<float> own;
  {
    TempDir dir;
    const std::vector<double> y = filtered(played(d, 1, 0, 0, frames_of(0)), system);
    write_raw(dir.work() / "rec.pcm", std::vector<float>(y.begin(), y.end()));
    ASSERT_EQ(run_ir(dir, with({"-l", "0.4"}, kLong, {"rec.pcm", "ir.pcm"})).status, 0);
    int channels = 1;
    own = read_sound(dir.work() / "ir.pcm", channels);
  }
  const struct {
    double ppm;
    std::string drift;  // --drift's value; "" for none
    double latency;     // of the chain, samples; 0.3 s lies beyond the transform's spare room
  } cases[] = {{-40, "auto", 123.4}, {-40, "", 123.4}, {-40, "-40", 123.4},   {0, "auto", 123.4},
               {250, "auto", 123.4}, {0, "", 4800.25}, {-40, "auto", 4800.25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.ppm << " ppm, --drift " << c.drift << ", latency " << c.latency);
    TempDir dir;
    const std::int64_t frames = frames_of(c.ppm);
    const std::vector<double> loop = played(d, 1, c.ppm, c.latency, frames);
    const std::vector<double> far = filtered(played(d, 1, c.ppm, c.latency + 600, frames), system);
    write_raw(dir.work() / "rec.pcm", record(2, frames, [&](int ch, std::int64_t t) {
                return (ch == 0 ? loop : far)[static_cast<std::size_t>(t)];
              }));
    std::vector<std::string> options = {"-l", "0.4", "-c", "2", "--reference", "1"};
    if (!c.drift.empty()) options.insert(options.end(), {"--drift", c.drift});
    const RunResult r = run_ir(dir, with(options, kLong, {"rec.pcm", "ir.pcm"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(reported(r.out, c.drift == "auto" ? "Drift corrected: " : "Clock drift: "), c.ppm,
                0.5)
        << r.out;
    // Uncorrected, a drift of 40 ppm spreads the arrival over 6.4 samples.
    EXPECT_EQ(r.err.find("Warning: a clock drift of") != std::string::npos,
              c.drift.empty() && c.ppm != 0)
        << r.err;
    if (c.drift.empty() && c.ppm != 0) continue;
    // The latency, as the recorder's clock counts it.
    EXPECT_NEAR(reported(r.out, "latency of the playback and recording chain "),
                c.latency * (1 + c.ppm * 1e-6), 0.1);
    int channels = 2;
    const std::vector<float> out = read_sound(dir.work() / "ir.pcm", channels);
    EXPECT_NEAR(peak_at(channel_of(out, 2, 0), 1600), band_delay(kLong), 0.1);
    const std::vector<double> far_ir = channel_of(out, 2, 1);
    const std::vector<float> system_ir(far_ir.begin(), far_ir.end());
    EXPECT_NEAR(correlation_lag(own.data(), system_ir.data(), std::ssize(own)), 600, 0.25);
  }
  // A drift beyond the limit means numbers other than the played sweep's.
  TempDir dir;
  write_raw(dir.work() / "rec.pcm", record(2, frames_of(1500), [&](int, std::int64_t t) {
              return sweep_at(d, static_cast<double>(t) / 1.0015 - d.silencelen - 50);
            }));
  const RunResult r =
      run_ir(dir, with({"-l", "0.4", "-c", "2", "--reference", "2", "--drift", "auto"}, kLong,
                       {"rec.pcm", "ir.pcm"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Unable to correct the clock drift: the clock drift measured on the "
                        "reference (channel 2) (1499.9",
                        0),
            0u)
      << r.err;
  EXPECT_NE(r.err.find(" ppm) is beyond 1000 ppm, more than any two clocks differ; the eight "
                       "numbers given are probably not those of the played sweep\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.work() / "ir.pcm"));
}

// Four repeats through a dispersive system, recorded with noise on a clock
// 30 ppm fast: the drift comes from their spacing, and their average has 6 dB
// less noise than one. A door slam (80 ms of noise at -10 dBFS) in one
// repeat's sweep leaves that one out, of four or of two, and costs no more
// than the repeat would have added: the noise of the others' average.
TEST(VelliskIr, RepeatsGiveDriftAndAverage) {
  const SweepDesign d = compute_design(params_of(kLong));
  const double ppm = 30;
  const std::int64_t period = 2 * d.silencelen + d.sweeplen;
  const auto recording = [&](int repeats, int slammed) {
    const auto frames =
        static_cast<std::int64_t>(repeats * static_cast<double>(period) * (1 + ppm * 1e-6)) + 500;
    std::vector<double> y = filtered(played(d, repeats, ppm, 40.6, frames), kDispersive[0]);
    std::mt19937 random(17);
    std::normal_distribution<double> noise(0, 0.003), slam(0, std::pow(10, -10.0 / 20));
    for (double& v : y) v += noise(random);
    for (std::int64_t t = 0; slammed > 0 && t < 1280; ++t)
      y[static_cast<std::size_t>((slammed - 1) * period + d.silencelen + 80000 + t)] += slam(random);
    return y;
  };
  const auto run = [&](const std::vector<double>& rec, const std::string& repeats) {
    TempDir dir;
    write_raw(dir.work() / "rec.pcm", std::vector<float>(rec.begin(), rec.end()));
    const RunResult r = run_ir(
        dir, with({"-l", "0.4", "--repeat", repeats, "-H", "2"}, kLong, {"rec.pcm", "ir.pcm"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Warning") != std::string::npos, repeats != "1") << r.err;
    return r.out;
  };
  const std::string one = run(recording(1, 0), "1"), four = run(recording(4, 0), "4"),
                    loud = run(recording(4, 3), "4"), two = run(recording(2, 2), "2");
  EXPECT_EQ(one.find("rift"), std::string::npos) << one;
  EXPECT_NEAR(reported(four, "Clock drift: "), ppm, 0.2) << four;
  EXPECT_NEAR(reported(four, "peak-to-noise ") - reported(one, "peak-to-noise "), 6.0, 0.8)
      << one << four;
  // The noise's fall, as measured, is 10 lg K for K repeats kept.
  for (const auto& [out, left, averaged, kept] :
       {std::tuple{four, "", "Averaged: 4 of 4 repeats", 4},
        std::tuple{loud, "repeat 3 left out: ", "Averaged: 3 of 4 repeats", 3},
        std::tuple{two, "repeat 2 left out: ", "Averaged: 1 of 2 repeats", 1}}) {
    EXPECT_EQ(out.find("left out") != std::string::npos, *left != 0) << out;
    EXPECT_NE(out.find(left), std::string::npos) << out;
    EXPECT_EQ(out.find("left out", out.find("left out") + 1), std::string::npos) << out;
    EXPECT_NE(out.find(averaged), std::string::npos) << out;
    EXPECT_NEAR(reported(out, "noise down "), 10 * std::log10(kept), 0.5) << out;
    EXPECT_NEAR(reported(out, "Clock drift: "), ppm, 0.2) << out;
  }
  // Three clean repeats of four: 10 lg(4 / 3) dB less than four; one of two: one.
  EXPECT_NEAR(reported(loud, "peak-to-noise "), reported(four, "peak-to-noise ") - 1.25, 0.8)
      << loud;
  EXPECT_NEAR(reported(two, "peak-to-noise "), reported(one, "peak-to-noise "), 0.8) << two;
}

// Rows come back as they were put, from memory or, beyond the budget, from
// the scratch file.
TEST(RowStore, KeepsRowsInMemoryOrInAScratchFile) {
  for (const std::int64_t budget : {std::int64_t{1000}, std::int64_t{10}}) {
    SCOPED_TRACE(budget);
    RowStore store;
    ASSERT_EQ(store.open({5, 300, 7}, budget), "");
    std::vector<std::vector<float>> rows = {std::vector<float>(5), std::vector<float>(300),
                                            std::vector<float>(7)};
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (std::size_t i = 0; i < rows[r].size(); ++i)
        rows[r][i] = static_cast<float>(r * 1000 + i);
    }
    for (const std::size_t r : {2, 0, 1}) ASSERT_TRUE(store.put(r, rows[r].data()));
    std::vector<float> back(120);
    ASSERT_TRUE(store.get(1, 150, 120, back.data()));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), rows[1].begin() + 150));
    ASSERT_TRUE(store.get(2, 0, 7, back.data()));
    EXPECT_TRUE(std::equal(rows[2].begin(), rows[2].end(), back.begin()));
    // Four threads reading at once, each its own pieces, get what one would.
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
      readers.emplace_back([&, t] {
        std::vector<float> piece(3);
        for (int i = 0; i < 2000; ++i) {
          const auto at = static_cast<std::size_t>((i * 7 + t * 61) % 297);
          wrong[static_cast<std::size_t>(t)] +=
              !store.read(1, static_cast<std::int64_t>(at), 3, piece.data()).empty() ||
              !std::equal(piece.begin(), piece.end(), rows[1].begin() + static_cast<long>(at));
        }
      });
    }
    for (std::thread& r : readers) r.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
  }
}

// Memory the machine refuses is the library's Error with ProblemCode::out_of_memory and value 0
// (no need known, which the programs word as theirs): a buffer of the transforms or the room's,
// or a container within a computation, that could not be had.
TEST(OutOfMemory, AnAllocationRefusedIsAnErrorWithNoNeed) {
  const auto refused = [](const std::function<void()>& allocate) {
    try {
      allocate();
      ADD_FAILURE() << "allocated";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ProblemCode::out_of_memory);
      EXPECT_EQ(e.problem().value, 0);
    }
  };
  const std::size_t most = std::numeric_limits<std::size_t>::max();
  refused([most] { SampleBuffer().resize(most / sizeof(double)); });
  refused([] { memory_checked([]() -> int { throw std::bad_alloc(); }); });
#ifndef __SANITIZE_ADDRESS__  // whose allocator ends the process on a size it cannot serve
  refused([most] { make_float_buffer(most / 16, false); });
  refused([most] { SampleBuffer().resize(most / 32); });
#endif
}

TEST(VelliskIr, RefusalsComeBeforeAnyWork) {
  const auto numbers = [](std::size_t i, const char* value) {
    std::vector<std::string> n = kNumbers;
    n[i] = value;
    return n;
  };
  const struct {
    std::vector<std::string> args;
    std::string err;
    long file_size_limit = -1;
  } cases[] = {
      {with({}, numbers(3, "5000"), {"rec.wav", "ir.wav"}),
       "hzend (5000) must not exceed half the sample rate (4000)"},
      {with({}, numbers(1, "0"), {"rec.wav", "ir.wav"}),
       "amplitude (0) must not be 0 for a measurement: a silent sweep measures nothing, and the "
       "response cannot be scaled by it"},
      {with({}, kNumbers, {"none.wav", "ir.wav"}),
       "Unable to open recording (none.wav): No such file or directory"},
      {with({}, kNumbers, {"text.wav", "ir.wav"}),
       "recording (text.wav) cannot be read as sound: "},
      {with({}, kNumbers, {"fast.wav", "ir.wav"}),
       "recording (fast.wav) has a sample rate of 16000, not rate (8000)"},
      {with({}, kNumbers, {"short.wav", "ir.wav"}),
       "recording (short.wav) holds 100 frames, fewer than the end of the sweep at silencelen + "
       "sweeplen (20000)"},
      {with({}, kNumbers, {"nan.pcm", "ir.wav"}),
       "recording (nan.pcm) holds a sample that is not finite (nan) at frame 10000 of channel 1"},
      {with({}, kNumbers, {"odd.pcm", "ir.wav"}),
       "recording (odd.pcm) holds 7 bytes, not a whole number of frames of 1 float32 samples"},
      {with({"-c", "2"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--channels (2) is for headerless recordings; recording (rec.wav) says it has 1"},
      {with({"--length", "0"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--length (0) must be a number of seconds greater than 0"},
      {with({"--pre", "-1"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--pre (-1) must be a number of seconds, 0 or more"},
      {with({"-c", "0"}, kNumbers, {"rec.pcm", "ir.wav"}),
       "--channels (0) must be a whole number from 1 to 1024"},
      {with({}, kNumbers, {"rec.wav", "ir.mp3"}),
       "irfile (ir.mp3) must end in .wav, .w64, .flac, .pcm, .raw or .f32"},
      {with({}, kNumbers, {"rec.wav", "./rec.wav"}),
       "recording and irfile (rec.wav, ./rec.wav) must not name the same file: the response would "
       "overwrite the recording"},
      {with({}, kNumbers, {"rec.wav", "/dev/stdout"}), "irfile (/dev/stdout) must end in"},
      {with({}, kNumbers, {"rec.wav", "out.pcm"}),
       "irfile (out.pcm) must not name the program's standard output"},
      {with({"-H", "6"}, numbers(2, "500"), {"rec.wav", "ir.wav"}),
       "--harmonics (6) asks for order 6, whose band is empty: 6 * hzstart (3000) is not below "
       "hzend (3000); ask for fewer orders"},
      {with({"-H", "6", "-p", "0.07"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--harmonics (6) leaves order 6 less than 1 ms of response: 0.9 of the gap to order 7 (67.8 "
       "ms) less --pre (70 ms); use a longer sweep, fewer orders or a shorter --pre"},
      {with({"-H", "11"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--harmonics (11) must be a whole number from 2 to 10"},
      {with({"--drift", "2000"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--drift (2000) must be auto, or a number of ppm from -1000 to 1000"},
      // The library judges the values; the lines show each as it was given.
      {with({"--pre", "-1.50"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--pre (-1.50) must be a number of seconds, 0 or more"},
      {with({"--gate", "5ms"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--gate (5ms) must be a number of milliseconds greater than 0"},
      {with({"-H", "1"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--harmonics (1) must be a whole number from 2 to 10"},
      {with({"--smooth", "0"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--smooth (0) must be a whole number from 1 to 96"},
      {with({"--reference", "1.5"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--reference (1.5) must be a channel number from 1 to 1024"},
      {with({"--drift", "1e400"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--drift (1e400) must be auto, or a number of ppm from -1000 to 1000"},
      {with({"-l", "0.4"}, kNumbers, {"loud.wav", "ir.flac"}),
       "irfile (ir.flac): channel 1 reaches -1.362, beyond 24-bit full scale; write a .wav or "
       ".w64 file, which keeps it"},
      {with({"--plot", "fig.png"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--plot (fig.png) must name a file ending in .svg"},
      // Sizes are checked before any is converted or searched for.
      {with({"-l", "1e9"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--pre and --length (0.1, 1e+09) with this sweep make the transforms longer than "
       "1900000000 samples"},
      {with({"-p", "1e300"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--pre and --length (1e+300, 1) with this sweep make the transforms longer than"},
      {with({"-l", "200000"}, kNumbers, {"rec.wav", "ir.wav"}), "The run needs about "},
      {with({}, kNumbers, {"rec.wav", "none/ir.wav"}),
       "Unable to write none/ir.wav: No such file or directory"},
      // Names the system refuses, the text files' too, which follow the channels.
      {with({}, kNumbers, {"rec.wav", std::string(252, 'i') + ".wav"}),
       "Unable to write " + std::string(252, 'i') + ".wav: File name too long"},
      {with({"-H", "2", "--frd", std::string(249, 'f') + ".frd"}, kNumbers, {"rec.wav", "ir.wav"}),
       "Unable to write " + std::string(249, 'f') + "-h2.frd: File name too long"},
      {with({"--json", "folder.pcm"}, kNumbers, {"rec.wav", "ir.wav"}),
       "Unable to write folder.pcm: Is a directory"},
      {with({}, kNumbers, {"folder.pcm", "ir.wav"}),
       "recording (folder.pcm) is a folder, not a sound file"},
      // A drift that no clocks show, measured on noise, is refused, not applied.
      {with({"--reference", "1", "--drift", "auto"}, kNumbers, {"noise.pcm", "ir.wav"}),
       "Unable to correct the clock drift: the clock drift measured on the reference (channel 1) "
       "("},
      // A sweep of one sample has none left at a slower recorder's clock.
      {with({"--drift", "-1000"}, {"2", "1", "0.1", "1", "0.5", "0", "0", "0"},
            {"rec.pcm", "ir.wav"}),
       "--drift (-1000) cannot be corrected on this sweep: at the recorder's clock its 0 samples"},
      {with({}, numbers(1, "1e-300"), {"rec.wav", "ir.wav"}),
       "The response of channel 1 is not finite: it overflows 32-bit floats; amplitude (1e-300)"},
      {with({}, kNumbers, {"huge.pcm", "ir.wav"}), "The response of channel 1 is not finite"},
      // A later output that fails leaves the earlier ones, and the files they
      // would replace, as they were.
      {with({"-l", "0.4", "--plot", "fig.svg"}, kNumbers, {"rec.wav", "ir.wav"}),
       "Unable to write fig.svg: File too large", 50000},
      {with({"--drift", "auto"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--drift auto needs a timing reference: --reference C (a loopback channel) or --repeat N "
       "(N of 2 or more); one sweep through an unknown system cannot tell clock drift from the "
       "system's own delay"},
      {with({"--align", "--repeat", "2"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--align is for a single sweep without a reference: --repeat places the windows by its "
       "own timing; leave one of them out"},
      {with({"--reference", "1", "--align"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--align is for a single sweep without a reference: --reference places"},
      {with({"--repeat", "0"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--repeat (0) must be a whole number from 1 to 1000"},
      {with({"--reference", "2"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--reference (2) names a channel the recording does not have: recording (rec.wav) has 1"},
      {with({"--repeat", "4"}, kNumbers, {"twice.wav", "ir.wav"}),
       "recording (twice.wav) holds 50000 frames, 2 whole repeats of the sweep file (24000 "
       "samples), fewer than --repeat (4), whose last sweep ends at frame 92000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    TempDir dir;
    const SweepDesign d = compute_design(params_of(kNumbers));
    const std::vector<float> rec = record(
        1, 2 * d.silencelen + d.sweeplen,
        [&](int, std::int64_t t) { return sweep_at(d, static_cast<double>(t - d.silencelen)); });
    write_sound(dir.work() / "rec.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, rec, 1, 8000);
    write_sound(dir.work() / "fast.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, rec, 1, 16000);
    std::vector<float> twice = rec;
    twice.insert(twice.end(), rec.begin(), rec.end());
    twice.resize(50000);
    write_sound(dir.work() / "twice.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, twice, 1, 8000);
    std::vector<float> loud = rec;
    for (float& v : loud) v *= 3;
    write_sound(dir.work() / "loud.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, loud, 1, 8000);
    write_sound(dir.work() / "short.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                std::vector<float>(rec.begin(), rec.begin() + 100), 1, 8000);
    std::vector<float> nan = rec;
    nan[10000] = std::numeric_limits<float>::quiet_NaN();
    write_raw(dir.work() / "rec.pcm", rec);
    write_raw(dir.work() / "nan.pcm", nan);
    std::ofstream(dir.work() / "odd.pcm") << "1234567";
    std::ofstream(dir.work() / "text.wav") << "not a sound";
    std::vector<float> huge = rec;
    huge[10000] = 3e38f;
    write_raw(dir.work() / "huge.pcm", huge);
    std::vector<float> noise(3 * 8000);
    std::uint32_t seed = 1;
    for (float& v : noise)
      v = static_cast<float>((seed = seed * 1664525 + 1013904223) >> 8) / 0x1p24f - 0.5f;
    write_raw(dir.work() / "noise.pcm", noise);
    std::filesystem::create_directory(dir.work() / "folder.pcm");
    std::ofstream(dir.work() / "ir.wav") << "an earlier result";
    const auto before = list_files(dir.work());
    RunSetup setup;
    setup.program = VELLISK_IR_BINARY;
    setup.stdout_path = dir.work() / "out.pcm";
    setup.file_size_limit = c.file_size_limit;
    setup.time_limit = 60;
    const RunResult r = run_program(dir, c.args, setup);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    std::vector<std::string> after = list_files(dir.work());
    EXPECT_EQ(after.size(), before.size() + 1) << "only standard output's file is new";
    EXPECT_EQ(read_file(dir.work() / "ir.wav"), "an earlier result");
  }
}

}  // namespace
