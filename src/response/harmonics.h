// The harmonic distortion responses of an exponential sweep, each at its exact time and phase.
#pragma once

#include <cstdint>

#include "response/compensation.h"
#include "response/layout.h"

namespace vellisk {

// Writes order k's response (layout.window(k) samples) to out. origin[t] is
// the raw output at output time t. An exponential sweep's k-th harmonic,
// sin(k phi(t)), is the sweep itself octavelen log2(k) samples earlier, rotated
// in phase by -(k - 1) phasescale; the raw output around that arrival is
// advanced by the fraction of a sample the arrival is off the sample grid and
// rotated back, in the frequency domain, so that sample pre of out is order
// k's zero instant and a memoryless system shows its true phases. Compensated,
// each bin at hz (of a recording at `rate`) is also scaled by
// c.harmonic_gain(k, hz), so that the order is a ratio to its excitation.
void harmonic_response(const float* origin, const Layout& layout, int k, double phasescale,
                       float* out, const Compensation& c = {}, double rate = 0);

}  // namespace vellisk
