// A correction's request checked, ranges then relations, and its plan: the inputs averaged, the
// target read, the range against what they cover and the rates against the range.
#include <cmath>

#include "eq/eq_internal.h"
#include "sweep/out_of_memory.h"
#include "sweep/validation.h"

namespace vellisk {

namespace {

[[noreturn]] void refuse(const std::string& line) {
  throw Error(Problem(ProblemCode::invalid_request, line));
}

void check_within(const char* option, double value, double lo, double hi, const char* unit) {
  if (!(value >= lo && value <= hi)) {
    refuse(std::string(option) + " (" + number_text(value) + ") must be " + number_text(lo) +
           " to " + number_text(hi) + unit);
  }
}

std::string range_text(double lo, double hi) { return number_text(lo) + "-" + number_text(hi); }

void check_ranges(const EqRequest& r) {
  if (r.filters < 1 || r.filters > kMaxEqFilters) {
    refuse("--filters (" + std::to_string(r.filters) + ") must be 1 to " +
           std::to_string(kMaxEqFilters));
  }
  check_within("--max-boost", r.max_boost_db, 0, 24, " dB");
  check_within("--max-cut", r.max_cut_db, 0, 60, " dB");
  check_within("--q-range's low Q", r.q_low, 0.1, 100, "");
  check_within("--q-range's high Q", r.q_high, 0.1, 100, "");
  check_within("--gain-step", r.gain_step_db, 0, 6, " dB");
  check_within("--frequency-step", r.frequency_step_hz, 0, 1000, " Hz");
  check_within("--house's bass rise", r.house_low_db, -30, 30, " dB");
  check_within("--house's treble fall", r.house_high_db, -30, 30, " dB");
  if (r.range_low_hz != 0 || r.range_high_hz != 0) {
    check_within("--range's low end", r.range_low_hz, 1, 384000, " Hz");
    check_within("--range's high end", r.range_high_hz, 1, 384000, " Hz");
  }
  if (r.rates.empty()) refuse("--rate must give at least one rate");
  for (const double rate : r.rates) {
    check_within("--rate", rate, kMinEqRate, kMaxEqRate, " Hz");
    if (rate != std::floor(rate)) refuse("--rate (" + number_text(rate) + ") must be a whole number of Hz");
  }
  if (r.target == EqTarget::file && r.target_file.empty()) refuse("--target must name a file");
}

void check_relations(const EqRequest& r) {
  if (r.q_low > r.q_high) {
    refuse("--q-range (" + range_text(r.q_low, r.q_high) + ") must be given low before high");
  }
  if ((r.range_low_hz != 0 || r.range_high_hz != 0) && !(r.range_low_hz < r.range_high_hz)) {
    refuse("--range (" + range_text(r.range_low_hz, r.range_high_hz) +
           ") must be given low before high");
  }
  if (r.max_boost_db == 0 && r.max_cut_db == 0) {
    refuse("--max-boost and --max-cut must not both be 0: no filter could change the response");
  }
}

// The range against what the response and the target cover, the rates against the range.
void check_coverage(const EqPlan& p, const EqCurve& target) {
  const EqCurve& m = p.measured;
  const double tolerance = 1e-9;
  if (p.low_hz < m.frequencies.front() * (1 - tolerance) ||
      p.high_hz > m.frequencies.back() * (1 + tolerance)) {
    refuse("--range (" + range_text(p.low_hz, p.high_hz) + " Hz) must lie within what every input covers, " +
           range_text(m.frequencies.front(), m.frequencies.back()) + " Hz");
  }
  if (p.request.target == EqTarget::file &&
      (p.low_hz < target.frequencies.front() * (1 - tolerance) ||
       p.high_hz > target.frequencies.back() * (1 + tolerance))) {
    refuse("target (" + p.request.target_file + ") covers " +
           range_text(target.frequencies.front(), target.frequencies.back()) +
           " Hz, not the whole range " + range_text(p.low_hz, p.high_hz) + " Hz");
  }
  for (const double rate : p.request.rates) {
    if (!(rate > 2 * p.high_hz)) {
      refuse("--rate (" + number_text(rate) + ") must be above twice the highest frequency a filter " +
             "may take, the range's top (" + number_text(p.high_hz) + " Hz)");
    }
  }
}

}  // namespace

void check_eq_request(const EqRequest& request) {
  check_ranges(request);
  check_relations(request);
}

EqPlan plan_correction(const EqRequest& request, const EqCurve& measured) {
  return memory_checked([&] {
    check_eq_request(request);
    EqPlan p;
    p.request = request;
    p.measured = measured;
    if (measured.frequencies.size() < 2 || measured.frequencies.size() != measured.level.size()) {
      refuse("the measured response must hold at least 2 frequencies, each with a level");
    }
    for (std::size_t i = 0; i < measured.frequencies.size(); ++i) {
      if (!std::isfinite(measured.level[i]) || !(measured.frequencies[i] > 0) ||
          (i > 0 && !(measured.frequencies[i] > measured.frequencies[i - 1]))) {
        refuse("the measured response's row " + std::to_string(i + 1) +
               " must hold a finite level at a frequency above 0 and above the row before's");
      }
    }
    const bool given = request.range_low_hz != 0 || request.range_high_hz != 0;
    p.low_hz = given ? request.range_low_hz : measured.frequencies.front();
    p.high_hz = given ? request.range_high_hz : measured.frequencies.back();
    EqCurve target;
    if (request.target == EqTarget::file) target = read_target(request.target_file);
    check_coverage(p, target);
    p.target_rows = std::move(target);
    return p;
  });
}

EqPlan plan_correction(const EqRequest& request, const std::vector<std::string>& inputs) {
  return memory_checked([&] {
    check_eq_request(request);
    int responses = 0;
    EqCurve measured = read_average(inputs, request.mode, responses);
    EqPlan p = plan_correction(request, measured);
    p.responses = responses;
    return p;
  });
}

}  // namespace vellisk
