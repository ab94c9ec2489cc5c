// A channel's bands, analysed a few at a time, and the averages over them.
#include "room/room.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "response/parallel.h"
#include "sweep/cancel.h"
#include "sweep/out_of_memory.h"
#include "sweep/validation.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

// The first smoothing interval of Lundeby's iteration: four periods of the
// band's width, from 10 ms at high frequencies to 50 ms at low ones.
double first_interval(const Band& b) { return std::clamp(4 / (b.upper - b.lower), 0.01, 0.05); }

// The mean of the values of the bands whose labels are listed, when all are there.
std::optional<double> mean_of(const std::vector<BandResult>& bands,
                              const std::vector<const char*>& labels,
                              std::optional<double> BandParameters::*field) {
  double sum = 0;
  for (const char* label : labels) {
    const auto it = std::find_if(bands.begin(), bands.end(),
                                 [label](const BandResult& b) { return b.label == label; });
    if (it == bands.end() || !(it->parameters.*field)) return {};
    sum += *(it->parameters.*field);
  }
  return sum / static_cast<double>(labels.size());
}

}  // namespace

BandPlan plan_bands(const RoomSetup& setup) {
  BandPlan plan;
  plan.rate = setup.rate;
  plan.bands = analysis_bands(setup.third, setup.rate, plan.left_out);
  for (const Band& b : plan.bands) {
    const std::vector<Section>& f = plan.filters.emplace_back(band_pass(b.lower, b.upper, setup.rate));
    BandTiming& t = plan.timing.emplace_back();
    t.early = std::llround(ringing_time(f, setup.rate) * setup.rate);
    t.delay = group_delay(f, b.centre, setup.rate) * setup.rate;
    t.bandwidth = b.upper - b.lower;
    t.interval = first_interval(b);
    t.modulation = b.lower > 88;  // the octaves 125 Hz - 8 kHz, or their thirds from 100 Hz
    plan.settle.push_back(std::llround(ringing_time(f, setup.rate, 1e-2) * setup.rate));
  }
  return plan;
}

SingleNumbers single_numbers(const std::vector<BandResult>& bands, bool third) {
  const std::vector<const char*> mid =
      third ? std::vector<const char*>{"400", "500", "630", "800", "1k", "1.25k"}
            : std::vector<const char*>{"500", "1k"};
  const std::vector<const char*> low =
      third ? std::vector<const char*>{"100", "125", "160", "200", "250", "315"}
            : std::vector<const char*>{"125", "250"};
  SingleNumbers s;
  s.t30_mid = mean_of(bands, mid, &BandParameters::t30);
  s.edt_mid = mean_of(bands, mid, &BandParameters::edt);
  s.c80_mid = mean_of(bands, mid, &BandParameters::c80);
  s.d50_mid = mean_of(bands, mid, &BandParameters::d50);
  s.ts_mid = mean_of(bands, mid, &BandParameters::ts);
  const std::optional<double> t30_low = mean_of(bands, low, &BandParameters::t30);
  if (t30_low && s.t30_mid) s.bass_ratio = *t30_low / *s.t30_mid;
  return s;
}

namespace {

// An STI note on the band labelled band.
RoomNote sti_note(RoomNoteCode code, std::string band) {
  RoomNote note(code);
  note.band = std::move(band);
  return note;
}

}  // namespace

SpeechTransmission channel_sti(const std::vector<BandResult>& bands,
                               const std::optional<SpeechLevels>& levels) {
  SpeechTransmission none;
  ModulationMatrix m{};
  for (int k = 0; k < kStiBands; ++k) {
    // The bands within the octave's edges, 1000 x 10^(0.3 (k - 3) +- 0.15) Hz.
    const double centre = 1000 * std::pow(10.0, 0.3 * (k - 3));
    ModulationSums sum{};
    int parts = 0;
    for (const BandResult& b : bands) {
      if (!(b.centre > centre * 0.7 && b.centre < centre * 1.42)) continue;
      if (!b.parameters.modulation || !((*b.parameters.modulation)[0].real() > 0)) {
        none.notes.push_back(sti_note(RoomNoteCode::band_below_noise, b.label));
        return none;
      }
      for (int f = 0; f <= kModulations; ++f) sum[f] += (*b.parameters.modulation)[f];
      ++parts;
    }
    if (parts == 0) {
      none.notes.push_back(sti_note(RoomNoteCode::octave_left_out, kStiBandLabels[k]));
      return none;
    }
    for (int f = 0; f < kModulations; ++f) m[k][f] = std::abs(sum[f + 1]) / sum[0].real();
  }
  return transmission_index(levels ? with_levels(m, *levels) : m);
}

namespace {

// Each band's parameters from its squared, time-reversed filtered response in
// y[0..end); y[onset] is the onset. The last samples, where the filter started
// from rest, are left out (but never half of what follows the onset).
BandParameters analyse_band(double* y, std::int64_t end, std::int64_t onset, std::int64_t settle,
                            const BandTiming& timing, const RoomSetup& setup) {
  for (std::int64_t i = 0; i < end; ++i) y[i] *= y[i];
  const std::int64_t n = std::max(end - settle, onset + (end - onset + 1) / 2);
  return band_parameters(y, n, onset, timing, setup.rate, setup.curve_points);
}

// What the workers on a channel share: the padded response, total samples long, its onset at
// start.
struct BandWork {
  const RoomSetup& setup;
  const BandPlan& plan;
  const double* padded;
  std::int64_t total, start;
};

// Where the analysis of band k starts in the padded response: as far before the onset as the
// longer ringing of the pair of bands it is one of.
std::int64_t band_from(const BandWork& w, std::size_t k) {
  const std::size_t b = k - k % 2, filtered = w.plan.bands.size();
  std::int64_t early = b < filtered ? w.plan.timing[b].early : 0;
  if (b + 1 < filtered) early = std::max(early, w.plan.timing[b + 1].early);
  return std::max<std::int64_t>(0, w.start - early);
}

// Filters the bands from `first` (up to four; the broadband when first is past the last
// band) into y[0..3], each from the earliest sample any of them needs, and analyses each.
void analyse_group(const BandWork& w, std::size_t first, SampleBuffer* y,
                   std::vector<BandResult>& results) {
  const std::size_t filtered = w.plan.bands.size();
  const std::size_t last = first < filtered ? std::min(first + 4, filtered) : first + 1;
  std::int64_t from = band_from(w, first);
  if (last - first > 2) from = std::min(from, band_from(w, first + 2));
  double* out[4];
  for (std::size_t k = first; k < last; ++k) out[k - first] = y[k - first].data() + from;
  const double* in = w.padded + from;
  const std::int64_t n = w.total - from;
  if (last - first == 4) {
    const std::vector<Section>* f[] = {&w.plan.filters[first], &w.plan.filters[first + 1],
                                       &w.plan.filters[first + 2], &w.plan.filters[first + 3]};
    filter_four(f, in, out, n, true, w.setup.cancel);
  } else if (first < filtered) {
    for (std::size_t k = first; k < last; k += 2) {
      if (k + 1 < last) {
        filter_pair(w.plan.filters[k], w.plan.filters[k + 1], in, out[k - first],
                    out[k + 1 - first], n, true, w.setup.cancel);
      } else {
        filter(w.plan.filters[k], in, out[k - first], n, true, w.setup.cancel);
      }
    }
  } else {
    std::copy(in, in + n, out[0]);
  }
  for (std::size_t k = first; k < last; ++k) {
    throw_if_cancelled(w.setup.cancel);
    const std::int64_t at = band_from(w, k);
    BandTiming timing;
    std::int64_t settle = 0;
    if (k < filtered) {
      timing = w.plan.timing[k];
      settle = w.plan.settle[k];
    } else {
      timing.bandwidth = w.setup.rate / 2;
    }
    results[k].parameters = analyse_band(y[k - first].data() + at, w.total - at, w.start - at,
                                         settle, timing, w.setup);
  }
}

// The channel's bands, labelled, and the broadband after them.
void label_bands(const BandPlan& plan, ChannelAnalysis& a) {
  a.bands.resize(plan.bands.size() + 1);
  for (std::size_t b = 0; b < plan.bands.size(); ++b) {
    a.bands[b].label = plan.bands[b].label;
    a.bands[b].centre = plan.bands[b].centre;
  }
  a.bands.back().label = "broadband";
}

// Whether the response x[0..n) (before size - n samples of digital silence) has no decay to
// measure: it ends too soon after its peak, in digital silence, or has no onset. If so, every
// band's notes say why.
bool without_decay(const RoomSetup& setup, const Onset& onset, std::int64_t n, std::size_t size,
                   ChannelAnalysis& a) {
  const std::int64_t after = n - 1 - onset.peak;
  if (n < static_cast<std::int64_t>(size) &&
      static_cast<double>(after) < kMinDecayMs / 1000 * setup.rate) {
    a.onset_found = false;
    a.ends_ms = 1000 * static_cast<double>(after) / setup.rate;
    const RoomNote note(RoomNoteCode::ends_in_silence, *a.ends_ms);
    for (BandResult& b : a.bands) b.parameters.notes.push_back(note);
    return true;
  }
  if (!a.onset_found) {
    const RoomNote note(RoomNoteCode::no_onset, shown_peak_to_noise(onset.peak_to_noise_db));
    for (BandResult& b : a.bands) b.parameters.notes.push_back(note);
    a.speech.notes.emplace_back(RoomNoteCode::no_sti_onset);
    return true;
  }
  return false;
}

// The zeros the response is padded with before its first sample, enough for the longest
// ringing: the time-reversed filters ring into them, ahead of the response's first sample, so
// that a file trimmed at its direct sound keeps the band energy of that sound, as the same file
// after any silence does.
std::int64_t longest_ringing(const BandPlan& plan) {
  std::int64_t longest = 0;
  for (const BandTiming& t : plan.timing) longest = std::max(longest, t.early);
  return longest;
}

// Where a response of size samples goes in buffers.padded, which holds it after room for
// longest_ringing's zeros.
double* response_place(const BandPlan& plan, std::size_t size, ChannelBuffers& buffers) {
  const auto lead = static_cast<std::size_t>(longest_ringing(plan));
  buffers.padded.resize(lead + size);
  return buffers.padded.data() + lead;
}

// Each worker takes the next four bands (the broadband last, alone), filters them into its own
// buffers over what they need of the pad, and analyses them.
void analyse_bands(const BandWork& work, ChannelBuffers& buffers, ChannelAnalysis& a) {
  const std::size_t filtered = work.plan.bands.size();
  const std::size_t groups = (filtered + 3) / 4 + 1;
  const int workers = std::max(1, std::min(work.setup.threads, static_cast<int>(groups)));
  buffers.bands.resize(std::max(buffers.bands.size(), 4 * static_cast<std::size_t>(workers)));
  // Each as long as the padded response, the longest a band can be, and one more for its decay
  // curve, which ends on the truncation point (at most the band's end): no band then allocates
  // (and the system maps) a buffer anew.
  const auto total = static_cast<std::size_t>(work.total);
  for (SampleBuffer& b : buffers.bands) b.resize(total + 1);
  std::atomic<std::size_t> next{0};
  run_parallel(workers, [&](int w) {
    const auto worker = static_cast<std::size_t>(w);
    for (std::size_t g; (g = next++) < groups;) {
      throw_if_cancelled(work.setup.cancel);
      const std::size_t first = g + 1 < groups ? 4 * g : filtered;
      analyse_group(work, first, &buffers.bands[4 * worker], a.bands);
    }
  });
}

}  // namespace

namespace {

// Analyses the response of size samples that response_place has placed in buffers.padded.
ChannelAnalysis analyse_placed(const RoomSetup& setup, const BandPlan& plan, std::size_t size,
                               ChannelBuffers& buffers) {
  ChannelAnalysis a;
  const std::int64_t lead = longest_ringing(plan);
  const double* x = buffers.padded.data() + lead;
  // Digital silence at the end is padding, not the response's noise.
  auto n = static_cast<std::int64_t>(size);
  while (n > 1 && x[n - 1] == 0) --n;
  const Onset onset = find_onset(x, n);
  a.peak_to_noise_db = onset.peak_to_noise_db;
  a.onset = static_cast<double>(onset.sample) / setup.rate;
  a.onset_found = onset.peak_to_noise_db >= kMinPeakToNoiseDb;
  label_bands(plan, a);
  if (without_decay(setup, onset, n, size, a)) return a;
  // As many zeros before the response as the longest ringing reaches ahead of its onset.
  const std::int64_t pad = std::max<std::int64_t>(0, lead - onset.sample);
  double* padded = buffers.padded.data() + (lead - pad);
  std::fill(padded, padded + pad, 0.0);
  const std::int64_t start = pad + onset.sample;  // the onset in padded
  analyse_bands(BandWork{setup, plan, padded, pad + n, start}, buffers, a);
  a.single = single_numbers(a.bands, setup.third);
  a.speech = channel_sti(a.bands, setup.levels);
  return a;
}

}  // namespace

ChannelAnalysis analyse_channel(const RoomSetup& setup, const BandPlan& plan,
                                const std::vector<double>& x, ChannelBuffers& buffers) {
  std::copy(x.begin(), x.end(), response_place(plan, x.size(), buffers));
  return analyse_placed(setup, plan, x.size(), buffers);
}

ChannelAnalysis analyse_channel(const RoomSetup& setup, const BandPlan& plan,
                                const std::vector<double>& x) {
  ChannelBuffers buffers;
  return analyse_channel(setup, plan, x, buffers);
}

namespace {

RoomSetup checked(const RoomSetup& setup) {
  if (std::optional<Problem> p = check_room(setup)) throw Error(*p);
  RoomSetup s = setup;
  if (s.threads <= 0) s.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return s;
}

}  // namespace

std::optional<Problem> check_room(const RoomSetup& setup) {
  if (setup.rate >= kMinRoomRate && setup.rate <= kMaxRoomRate) return std::nullopt;
  return Problem{ProblemCode::invalid_request,
                 "rate (" + number_text(setup.rate) +
                     ") must be a number of samples per second from 1000 to 10000000"};
}

std::optional<Problem> check_room_rate(int rate, const std::string& what) {
  if (rate >= kMinRoomRate && rate <= kMaxRoomRate) return std::nullopt;
  return Problem{ProblemCode::invalid_recording,
                 what + " has a sample rate of " + std::to_string(rate) +
                     " Hz; the rates taken are 1000 to 10000000"};
}

std::optional<Problem> check_room_frames(std::int64_t frames, const std::string& what) {
  if (frames >= 1) return std::nullopt;
  return Problem{ProblemCode::invalid_recording, what + " holds no samples"};
}

ChannelAnalysis analyse_room_channel(const RoomSetup& setup, const float* x, std::int64_t n) {
  return memory_checked([&] {
    const RoomSetup s = checked(setup);
    const BandPlan plan = plan_bands(s);
    ChannelBuffers buffers;
    const auto size = static_cast<std::size_t>(n);
    std::copy(x, x + size, response_place(plan, size, buffers));
    return analyse_placed(s, plan, size, buffers);
  });
}

std::vector<ChannelAnalysis> analyse_room(const RoomSetup& setup, SampleSource& source) {
  return memory_checked([&] {
    const RoomSetup s = checked(setup);
    const BandPlan plan = plan_bands(s);
    const std::int64_t frames = source.info().frames;
    std::vector<float> samples(static_cast<std::size_t>(frames));
    std::vector<ChannelAnalysis> channels;
    ChannelBuffers buffers;
    for (int c = 0; c < source.info().channels; ++c) {
      throw_if_cancelled(s.cancel);
      float* out[] = {samples.data()};
      if (std::optional<Problem> p = source.read(0, frames, c, 1, out)) {
        throw Error(Problem{ProblemCode::unreadable, p->message});
      }
      std::copy(samples.begin(), samples.end(), response_place(plan, samples.size(), buffers));
      channels.push_back(analyse_placed(s, plan, samples.size(), buffers));
    }
    return channels;
  });
}

struct RoomAnalyser::Impl {
  bool planned = false;
  bool third = false;  // the bands planned: of plan.rate, octaves or third-octaves
  BandPlan plan;
  ChannelBuffers buffers;
};

RoomAnalyser::RoomAnalyser() : impl_(std::make_unique<Impl>()) {}

RoomAnalyser::~RoomAnalyser() = default;

ChannelAnalysis RoomAnalyser::analyse(const RoomSetup& setup, const float* x, std::int64_t n) {
  return memory_checked([&] {
    const RoomSetup s = checked(setup);
    Impl& k = *impl_;
    if (!k.planned || k.plan.rate != s.rate || k.third != s.third) {
      k.plan = plan_bands(s);
      k.third = s.third;
      k.planned = true;
    }
    const auto size = static_cast<std::size_t>(n);
    std::copy(x, x + size, response_place(k.plan, size, k.buffers));
    return analyse_placed(s, k.plan, size, k.buffers);
  });
}

std::vector<std::string> room_bands_left_out(const RoomSetup& setup) {
  std::vector<std::string> left_out;
  analysis_bands(setup.third, setup.rate, left_out);
  return left_out;
}

}  // namespace vellisk
