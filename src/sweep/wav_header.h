// 32-bit float WAV files: the header written before the samples.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "sweep/design_text.h"
#include "sweep/sweep_design.h"

namespace vellisk {

// The highest rate a WAV file holds: its byte rate, 4 * rate, is a 32-bit field.
inline constexpr double kWavMaxRate = 1073741823;

// Whether a sound file's header (libsndfile's, an int) stores rate: a whole number of samples
// per second from 1 to 2147483647. A JACK server's rate is one too.
inline bool header_rate(double rate) {
  return rate == std::floor(rate) && rate >= 1 && rate <= 2147483647;
}

// The header of a WAV file of float32 samples, in this order:
//   "RIFF", size of the rest of the file; "WAVE";
//   "fmt ", 18: format 3 (IEEE float), channels, rate, 4 * channels * rate
//     bytes a second, 4 * channels bytes a frame, 32 bits a sample, and 0
//     bytes of extension (plain IEEE float, which sox, scipy and libsndfile
//     read without a word for any number of channels);
//   "fact", 4: the number of frames;
//   "LIST", its size: info_list (an INFO list, of even size);
//   "data", 4 * channels * frames: the interleaved samples follow, little-endian.
// Every size and number is a little-endian 32-bit unsigned integer, the
// format's fields 16-bit. The caller keeps the byte rate and the file's sizes
// within 32 bits (wav_max_samples).
std::string wav_header(std::uint32_t rate, std::uint32_t frames, std::string_view info_list,
                       std::uint16_t channels = 1);

// The length of that header in bytes.
std::int64_t wav_header_bytes(std::string_view info_list);

// The most samples (frames times channels) a WAV file with that header holds:
// its RIFF and data sizes are 32-bit, so the file may be at most 4 GiB + 7
// bytes long.
std::int64_t wav_max_samples(std::string_view info_list);

// The samples of a run's file: sweeplen + 2 * silencelen for the sweep,
// sweeplen for the inverse filter.
std::int64_t file_samples(const SweepDesign& design, DesignFile file);

// The header of a run's WAV file: the rate (a whole number) and samples of
// the file, and the design it carries (design_info_list).
std::string design_wav_header(const SweepParams& params, const SweepDesign& design,
                              DesignFile file);

}  // namespace vellisk
