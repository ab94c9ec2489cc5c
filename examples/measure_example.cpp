// Designs a sweep, plays it through a simulated system (a gain of 0.5, 2 ms of latency and a
// little second-harmonic distortion), measures the system's response from the recording in
// memory, and prints what the measurement found.
#include <cstdio>
#include <vector>

#include "vellisk/vellisk.h"

int main() {
  const vellisk::SweepParams sweep = {48000, 0.5, 20, 20000, 2, 0.5, 0.05, 0.005};
  try {
    const std::vector<float> played = vellisk::sweep_samples(sweep);

    // The recording: y(t) = 0.5 x(t - 96) + 0.05 x(t - 96)^2, and a second of room after it.
    std::vector<float> recorded(played.size() + 48000, 0.0f);
    for (std::size_t t = 0; t < played.size(); ++t) {
      recorded[t + 96] = 0.5f * played[t] + 0.05f * played[t] * played[t];
    }

    vellisk::ResponseRequest request;
    request.sweep = sweep;
    request.harmonics = 2;
    const auto frames = static_cast<std::int64_t>(recorded.size());
    vellisk::MemorySource source(recorded.data(), frames, 1, 48000, 1, 1);
    const vellisk::ResponseResult result = vellisk::measure(request, source);

    const vellisk::ChannelFigures& c = result.report.channels[0];
    std::printf("Vellisk %s\n", vellisk::version());
    std::printf("arrival %.1f samples, in-band gain %.2f dB, second harmonic %.1f dB\n",
                c.arrival_samples, c.gain_db, c.harmonic_level_db[0]);
    std::printf("%zu warnings, %lld samples of response\n", result.warnings.size(),
                static_cast<long long>(result.frames(1)));
    return 0;
  } catch (const vellisk::Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
