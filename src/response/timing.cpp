// The timing reference's arrival, the repeats' lags and the drift they give, and the
// measurement made around them.
#include "response/timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "response/analysis.h"
#include "response/fft.h"
#include "response/repeats.h"
#include "sweep/settings.h"
#include "sweep/validation.h"
#include "vellisk/problem.h"

namespace vellisk {

namespace {

// One measurement: a single sweep, or the average of the repeats.
std::string measure_pass(const TimingSetup& t, MeasurementSetup& setup, SampleSource& recording,
                         RowStore& store, Measurement& m, TimingResult& result) {
  if (t.repeats > 1) return measure_repeats(t, setup, recording, store, m, result);
  const int channels = setup.only_channel >= 0 ? 1 : recording.info().channels;
  if (std::string e = store.open(row_lengths(plan_measurement(setup).layout, channels));
      !e.empty()) {
    return e;
  }
  if (std::string e = measure_fitted(setup, recording, store, m); !e.empty()) return e;
  result.shift = setup.shift;
  result.frames_needed =
      m.plan.zero + static_cast<std::int64_t>(std::ceil(m.offset)) + m.layout.last;
  if (t.reference >= 0) {
    result.latency = static_cast<double>(result.shift) + m.offset;
    const ChannelResult& r = m.channels[setup.only_channel >= 0 ? 0 : t.reference];
    // The fit finds what the inverse filter left: the drift beyond the one applied.
    result.drift_measured = r.drift.measured;
    result.drift = setup.drift + r.drift.drift;
  }
  return "";
}

}  // namespace

std::string timing_error(const TimingSetup& t, const SweepDesign& d, int channels,
                         std::int64_t frames, const std::string& name) {
  if (t.reference >= channels) {
    return std::string(marked(Setting::reference)) + " (" +
           std::to_string(t.reference + 1) +
           ") names a channel the recording does not have: recording (" + name + ") has " +
           std::to_string(channels);
  }
  if (t.drift_auto && t.reference < 0 && t.repeats < 2) {
    return std::string(marked(Setting::drift)) + " auto needs a timing reference: " +
           marked(Setting::reference) + " C (a loopback channel) or " +
           marked(Setting::repeat) +
           " N (N of 2 or more); one sweep through an unknown system cannot tell clock drift "
           "from the system's own delay";
  }
  const std::int64_t period = std::int64_t{d.sweeplen} + 2 * std::int64_t{d.silencelen};
  const std::int64_t end = (t.repeats - 1) * period + d.silencelen + d.sweeplen;
  if (t.repeats > 1 && frames < end) {
    const std::int64_t whole =
        frames < d.silencelen + d.sweeplen ? 0 : (frames - d.silencelen - d.sweeplen) / period + 1;
    return "recording (" + name + ") holds " + std::to_string(frames) + " frames, " +
           std::to_string(whole) + " whole " + (whole == 1 ? "repeat" : "repeats") +
           " of the sweep file (" + std::to_string(period) + " samples), fewer than " + marked(Setting::repeat) + " (" +
           std::to_string(t.repeats) + "), whose last sweep ends at frame " + std::to_string(end);
  }
  return "";
}

void prepare_timing(const TimingSetup& t, MeasurementSetup& setup) {
  if (t.reference >= 0) {
    setup.timing_channel = t.reference;
    setup.drift_channel = t.reference;
    setup.timing = [c = t.reference](const float* origin, const Measurement& m, double& offset) {
      return reference_arrival(origin, m, c, offset);
    };
  } else if (t.repeats > 1) {
    setup.timing = [](const float*, const Measurement&, double& offset) {
      offset = 0;
      return std::string();
    };
  }
}

std::string reference_arrival(const float* origin, const Measurement& m, int channel,
                              double& offset) {
  const Layout& l = m.layout;
  const Peak peak = interpolated_peak(origin - l.pre, l.window(1));
  const std::string what = "the timing reference (channel " + std::to_string(channel + 1) + ")";
  if (peak.value == 0) {
    return what +
           " holds no response: every sample of its window is 0; is the loopback wired "
           "to that channel?";
  }
  if (peak.position < 1 || peak.position > static_cast<double>(l.window(1) - 2)) {
    return what + " peaks at the edge of the window, " +
           number_text(peak.position - static_cast<double>(l.pre)) +
           " samples from the zero instant: its arrival is not within " +
           marked(Setting::pre) + " and " + marked(Setting::length);
  }
  // The loopback's file is the band limit's own response, matched to find where it begins.
  offset = m.plan.compensation.arrival(origin - l.pre, l.window(1)) - static_cast<double>(l.pre);
  return "";
}

std::string drift_limit_error(const SweepParams& params, double drift, const std::string& how,
                              bool applying) {
  char what[128];
  std::snprintf(what, sizeof what, "the clock drift measured %s (%.6g ppm)", how.c_str(),
                drift * 1e6);
  const std::string e = drift_error(params, drift, what);
  if (e.empty()) return "";
  return (applying ? "Unable to correct the clock drift: " : "Unable to use the clock drift: ") +
         e + "; the eight numbers given are probably not those of the played sweep";
}

std::string measure_timed(const TimingSetup& t, MeasurementSetup& setup, SampleSource& recording,
                          RowStore& store, Measurement& m, TimingResult& result) {
  const std::string how =
      t.repeats > 1 ? std::string("from the spacing of the repeats")
                    : "on the reference (channel " + std::to_string(t.reference + 1) + ")";
  if (t.drift_auto) {
    // A first pass measures the drift on the linear responses alone.
    MeasurementSetup probe = setup;
    probe.orders = 1;
    probe.curves = false;
    if (t.reference >= 0) probe.only_channel = t.reference;
    TimingResult first;
    Measurement pm;
    RowStore scratch;
    if (std::string e = measure_pass(t, probe, recording, scratch, pm, first); !e.empty()) {
      return e;
    }
    if (!first.drift_measured) {
      return "Unable to measure the clock drift " + how +
             ": too few of its bands hold enough of the response";
    }
    if (std::string e = drift_limit_error(setup.params, first.drift, how, true); !e.empty()) {
      return e;
    }
    setup.drift = first.drift;
    setup.shift = first.shift;  // where the probe found the zero instant
  }
  if (std::string e = measure_pass(t, setup, recording, store, m, result); !e.empty()) return e;
  result.applied = setup.drift;
  if (t.drift_auto) {
    result.drift_measured = true;
    result.drift = setup.drift;
    result.corrected = true;
  } else if (result.drift_measured) {
    if (std::string e = drift_limit_error(setup.params, result.drift, how, false); !e.empty()) {
      return e;
    }
  }
  return "";
}

std::string measure_fitted(MeasurementSetup& setup, SampleSource& recording, RowStore& store,
                           Measurement& m, const InverseSpectrum* shared) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (std::string e = measure(setup, recording, store, m, shared); !e.empty()) return e;
    if (!m.refit) return "";
    setup.shift += static_cast<std::int64_t>(std::floor(m.offset));
  }
  return "Unable to place the windows at the zero instant the timing found (" +
         number_text(m.offset) + " samples from where the measurement was moved)";
}

double correlation_lag(const float* a, const float* b, std::int64_t n) {
  const std::size_t size = fast_fft_size(static_cast<std::size_t>(2 * n));
  FloatBuffer x = make_float_buffer(size + 2);
  FloatBuffer y = make_float_buffer(size + 2);
  std::copy(a, a + n, x.get());
  std::copy(b, b + n, y.get());
  const RealFft& fft = real_fft(size);
  fft.forward(x.get());
  fft.forward(y.get());
  // Y times the conjugate of X: the transform of c[k] = sum over t of b[t + k] a[t].
  for (std::size_t j = 0; j <= size / 2; ++j) {
    const double xr = x[2 * j], xi = x[2 * j + 1];
    const double yr = y[2 * j], yi = y[2 * j + 1];
    y[2 * j] = static_cast<float>(yr * xr + yi * xi);
    y[2 * j + 1] = static_cast<float>(yi * xr - yr * xi);
  }
  fft.inverse(y.get());
  // Lags -(n - 1) to n - 1, in order.
  std::vector<float> c(static_cast<std::size_t>(2 * n - 1));
  for (std::int64_t i = 0; i < 2 * n - 1; ++i) {
    c[static_cast<std::size_t>(i)] = y[static_cast<std::size_t>(
        (i - (n - 1) + static_cast<std::int64_t>(size)) % static_cast<std::int64_t>(size))];
  }
  return interpolated_peak(c.data(), 2 * n - 1).position - static_cast<double>(n - 1);
}

double drift_from_spacing(const std::vector<double>& starts, const std::vector<bool>& kept,
                          std::int64_t period) {
  double n = 0, sr = 0, ss = 0;
  for (std::size_t r = 0; r < starts.size(); ++r) {
    if (!kept[r]) continue;
    n += 1, sr += static_cast<double>(r), ss += starts[r];
  }
  const double mr = sr / n, ms = ss / n;
  double srr = 0, srs = 0;
  for (std::size_t r = 0; r < starts.size(); ++r) {
    if (!kept[r]) continue;
    const double dr = static_cast<double>(r) - mr;
    srr += dr * dr;
    srs += dr * (starts[r] - ms);
  }
  return (srs / srr - static_cast<double>(period)) / static_cast<double>(period);
}

}  // namespace vellisk
