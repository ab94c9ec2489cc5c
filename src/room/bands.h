// Octave and third-octave bands and their IEC 61260-1 class 1 band-pass filters, in second-order
// sections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vellisk/problem.h"
#include "vellisk/room.h"

namespace vellisk {

// One band: its nominal label ("125", "1k"), the exact base-10 mid-band
// frequency and the band edges, Hz.
struct Band {
  std::string label;
  double centre = 0;
  double lower = 0;
  double upper = 0;
};

// The bands of an analysis at rate: octaves 63 Hz - 8 kHz, or third-octaves
// 50 Hz - 10 kHz. A band whose upper edge exceeds 0.45 x rate is left out,
// and its label appended to left_out.
std::vector<Band> analysis_bands(bool third, double rate, std::vector<std::string>& left_out);

// One biquad: y = b0 x + b1 x[-1] + b2 x[-2] - a1 y[-1] - a2 y[-2].
struct Section {
  double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// An eighth-order Butterworth band-pass from lower to upper Hz at rate (the
// bilinear transform of the analogue design, its edges prewarped so that the
// digital filter is 3 dB down exactly there), as four sections, unit gain at
// the peak.
std::vector<Section> band_pass(double lower, double upper, double rate);

// |H| of the cascade at f Hz.
double magnitude(const std::vector<Section>& sections, double f, double rate);

// Filters x[0..n) through the cascade into y[0..n) (x and y may be the same),
// starting at rest. With reversed, filters the time-reversed signal and
// reverses the result back: the filter's ringing then precedes what excites it. Once cancel
// is raised, throws Error (ProblemCode::cancelled) within a millisecond's work, here and in
// filter_pair and filter_four.
void filter(const std::vector<Section>& sections, const double* x, double* y, std::int64_t n,
            bool reversed, const CancelFlag* cancel = nullptr);

// The group delay, s, of the cascade at f Hz.
double group_delay(const std::vector<Section>& sections, double f, double rate);

// filter() of x through two cascades at once, into ya and yb: quicker than
// one after the other.
void filter_pair(const std::vector<Section>& a, const std::vector<Section>& b, const double* x,
                 double* ya, double* yb, std::int64_t n, bool reversed,
                 const CancelFlag* cancel = nullptr);

// filter() of x through four cascades at once, into y[0] to y[3]: quicker still
// where the processor can pack four lanes.
void filter_four(const std::vector<Section>* const filters[4], const double* x, double* const y[4],
                 std::int64_t n, bool reversed, const CancelFlag* cancel = nullptr);

// The time, s, within which the band filter's impulse response has given all but `fraction`
// of its energy. With 1e-4: how far the time-reversed filter spreads a click ahead of it;
// with 1e-2: how long the time-reversed filter takes to settle at the end of a response,
// where it starts from rest.
double ringing_time(const std::vector<Section>& sections, double rate, double fraction = 1e-4);

}  // namespace vellisk
