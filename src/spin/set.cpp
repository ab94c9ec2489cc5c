// A loudspeaker's responses put every 10 degrees of both orbits on one grid: the angles
// checked, the missing ones refused or filled in, the levels resampled.
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "response/frequency_response.h"
#include "spin/spin_internal.h"
#include "sweep/out_of_memory.h"
#include "sweep/validation.h"
#include "vellisk/response.h"
#include "vellisk/spin.h"

namespace vellisk {
namespace {

constexpr int kSteps = 36;  // 10-degree steps around an orbit
using Slots = std::array<const AngleResponse*, kSteps>;

Error request_error(const std::string& line) { return Error({ProblemCode::invalid_request, line}); }

int slot_of(int degrees) { return ((degrees / 10) % kSteps + kSteps) % kSteps; }

SpinAngle angle_of(Orbit orbit, int k) { return SpinAngle{orbit, normalised_degrees(10 * k)}; }

// Each response in the slot of its orbit and angle; on-axis and rear in the horizontal's.
std::array<Slots, 2> place(const std::vector<AngleResponse>& responses) {
  std::array<Slots, 2> slots{};
  for (const AngleResponse& r : responses) {
    if (r.angle.degrees % 10 != 0) {
      throw request_error("input (" + r.source + "): its angle (" + spin_angle_text(r.angle) +
                          ") is not a multiple of 10 degrees, the steps the curves take");
    }
    const int k = slot_of(r.angle.degrees);
    const bool shared = k == 0 || k == kSteps / 2;
    const std::size_t orbit = r.angle.orbit == Orbit::horizontal || shared ? 0 : 1;
    const AngleResponse*& slot = slots[orbit][static_cast<std::size_t>(k)];
    if (slot != nullptr && !(shared && slot->angle.orbit != r.angle.orbit)) {
      throw request_error("inputs (" + slot->source + ", " + r.source + ") both give " +
                          spin_angle_text(r.angle) + ": give each angle once");
    }
    if (slot == nullptr || r.angle.orbit == Orbit::horizontal) slot = &r;
  }
  if (slots[0][0] == nullptr) {
    throw request_error("no input is on-axis (H 0): every curve needs it; name it such as \"name_H 0.frd\"");
  }
  return slots;
}

// The angles missing from both orbits, refused unless they may be filled in.
std::vector<SpinAngle> missing_angles(const std::array<Slots, 2>& slots, bool allow) {
  std::vector<SpinAngle> missing;
  std::string names;
  for (std::size_t o = 0; o < 2; ++o) {
    int measured = 0;
    for (int k = 0; k < kSteps; ++k) {
      const bool shared = k == 0 || k == kSteps / 2;
      if (o == 1 && shared) continue;
      const SpinAngle a = angle_of(o == 0 ? Orbit::horizontal : Orbit::vertical, k);
      if (slots[o][static_cast<std::size_t>(k)] != nullptr) {
        measured += shared ? 0 : 1;
        continue;
      }
      missing.push_back(a);
      names += (names.empty() ? "" : ", ") + spin_angle_text(a);
    }
    if (allow && measured == 0) {
      throw request_error(std::string("the ") + (o == 0 ? "horizontal" : "vertical") +
                          " orbit holds no angle but on-axis and rear, which its curves need");
    }
  }
  if (!missing.empty() && !allow) {
    throw request_error("angles missing (" + names + "): the curves need every 10 degrees of both "
                        "orbits; measure them, or allow missing angles to fill them in from their neighbours");
  }
  return missing;
}

// The common grid: over the range every input covers, or the inputs' own.
std::vector<double> common_grid(const std::vector<const AngleResponse*>& inputs, int points_per_octave) {
  if (std::optional<Problem> p = check_setting(Setting::points, points_per_octave)) throw Error(*p);
  double lo = 0, hi = 1e300;
  for (const AngleResponse* r : inputs) {
    if (r->frequencies.size() < 2 || r->frequencies.size() != r->level_db.size()) {
      throw Error({ProblemCode::invalid_input, "input (" + r->source + ") holds fewer than 2 rows"});
    }
    for (std::size_t i = 0; i < r->level_db.size(); ++i) {
      if (!(std::abs(r->level_db[i]) <= 1000)) {
        throw request_error("input (" + r->source + ") gives " + number_text(r->frequencies[i]) +
                            " Hz the level " + number_text(r->level_db[i]) + " dB, beyond the 1000 dB of a level");
      }
    }
    if (r->frequencies.front() > hi || r->frequencies.back() < lo) {
      throw request_error("input (" + r->source + ") does not overlap the inputs before it, which together run "
                          "from " + number_text(lo) + " to " + number_text(hi) + " Hz");
    }
    lo = std::max(lo, r->frequencies.front());
    hi = std::min(hi, r->frequencies.back());
  }
  if (points_per_octave > 0) return octave_grid(lo, hi, points_per_octave);
  for (const AngleResponse* r : inputs) {
    if (r->frequencies != inputs.front()->frequencies) {
      throw request_error("input (" + r->source + ") has other frequencies than input (" +
                          inputs.front()->source + "): the inputs' own grid needs the same in every input");
    }
  }
  return inputs.front()->frequencies;
}

// Fills the orbit's empty steps, linearly in dB over angle between the nearest filled ones.
void fill_orbit(std::vector<std::vector<double>>& orbit) {
  const std::vector<std::vector<double>> given = orbit;
  for (int k = 0; k < kSteps; ++k) {
    if (!given[static_cast<std::size_t>(k)].empty()) continue;
    int back = 1, ahead = 1;
    while (given[static_cast<std::size_t>((k - back + kSteps) % kSteps)].empty()) ++back;
    while (given[static_cast<std::size_t>((k + ahead) % kSteps)].empty()) ++ahead;
    const std::vector<double>& a = given[static_cast<std::size_t>((k - back + kSteps) % kSteps)];
    const std::vector<double>& b = given[static_cast<std::size_t>((k + ahead) % kSteps)];
    std::vector<double>& out = orbit[static_cast<std::size_t>(k)];
    const double t = static_cast<double>(back) / (back + ahead);
    for (std::size_t i = 0; i < a.size(); ++i) out.push_back(a[i] + t * (b[i] - a[i]));
  }
}

}  // namespace

SpinSet make_spin_set(const std::vector<AngleResponse>& responses, const SpinOptions& options) {
  return memory_checked([&] {
    const std::array<Slots, 2> slots = place(responses);
    std::vector<const AngleResponse*> inputs;
    for (const Slots& s : slots) {
      for (const AngleResponse* r : s) {
        if (r != nullptr) inputs.push_back(r);
      }
    }
    SpinSet set;
    set.frequencies = common_grid(inputs, options.points_per_octave);
    set.filled_in = missing_angles(slots, options.allow_missing);
    set.horizontal.assign(kSteps, {});
    set.vertical.assign(kSteps, {});
    for (std::size_t o = 0; o < 2; ++o) {
      auto& orbit = o == 0 ? set.horizontal : set.vertical;
      for (std::size_t k = 0; k < kSteps; ++k) {
        if (const AngleResponse* r = slots[o][k]) orbit[k] = resampled_db(r->frequencies, r->level_db, set.frequencies);
      }
    }
    fill_orbit(set.horizontal);
    set.vertical[0] = set.horizontal[0];
    set.vertical[kSteps / 2] = set.horizontal[kSteps / 2];
    fill_orbit(set.vertical);
    return set;
  });
}

}  // namespace vellisk
