// Tests of the design quantities, the argument reading and the report.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/arguments.h"
#include "../tools/vellisk/run.h"
#include "sweep/sweep_design.h"

using namespace vellisk;

namespace {

SweepParams params(double rate, double duration, double silence = 0, double leadin = 0,
                   double leadout = 0) {
  return {rate, 0.5, 100, 1000, duration, silence, leadin, leadout};
}

std::string report_of(const SweepParams& p) {
  testing::internal::CaptureStdout();
  print_design_report(compute_design(p));
  return testing::internal::GetCapturedStdout();
}

TEST(Design, LengthsAreTruncatedDoubleProducts) {
  struct Case {
    SweepParams p;
    std::int32_t n, s, nin, nout;
  };
  const Case cases[] = {
      {params(10, 5, 0.5), 50, 5, 0, 0},
      {params(100, 0.999), 99, 0, 0, 0},
      {params(10, 0.3), 3, 0, 0, 0},
      {params(22050, 7.3), 160965, 0, 0, 0},
      {params(100, 1, 0, 0.7, 0.25), 100, 0, 70, 25},
      {params(44100, 45, 2, 0.05, 0.005), 1984500, 88200, 99225, 9922},
      {params(8000, 0.5, 0.05, 0.1, 0.02), 4000, 400, 400, 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rate " << c.p.rate << " duration " << c.p.duration);
    const SweepDesign d = compute_design(c.p);
    EXPECT_EQ(d.sweeplen, c.n);
    EXPECT_EQ(d.silencelen, c.s);
    EXPECT_EQ(d.leadinlen, c.nin);
    EXPECT_EQ(d.leadoutlen, c.nout);
  }
}

TEST(Design, SweepFrequencyRunsFromStartToEnd) {
  // The phase K (exp(iR) - 1) advances by K R exp(iR) radians per sample.
  const SweepDesign d = compute_design({48000, 1, 20, 20000, 10, 0, 0.1, 0.01});
  const double start_hz = d.phasescale * d.expstep * d.rate / kTwoPi;
  const double end_hz = start_hz * std::exp(d.sweeplen * d.expstep);
  EXPECT_NEAR(start_hz, 20, 20 * 1e-12);
  EXPECT_NEAR(end_hz, 20000, 20000 * 1e-12);
  EXPECT_NEAR(d.octavelen, 480000 / std::log2(1000.0), 1e-6);
  EXPECT_DOUBLE_EQ(d.leadinstep, kPi / 47999);
  EXPECT_DOUBLE_EQ(d.leadoutstep2, kTwoPi / 4799);
}

TEST(Design, NoTaperStillHasFiniteUnusedSteps) {
  const SweepDesign d = compute_design(params(100, 1));
  EXPECT_EQ(d.leadinlen, 0);
  EXPECT_EQ(d.leadinstep, -kPi);
  EXPECT_EQ(d.leadinstep2, -kTwoPi);
}

TEST(Design, LengthConversionNeverOverflows) {
  EXPECT_EQ(to_length(-2.5), -2);
  EXPECT_EQ(to_length(2147483647.9), 2147483647);
  EXPECT_EQ(to_length(2147483648.0), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(to_length(-1e300), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(to_length(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(Report, ShowsLengthsAndFileSizes) {
  EXPECT_EQ(report_of(params(10, 5, 0.5)),
            "\nSweep length: 50 samples\n"
            "Silence length: 5 samples\n"
            "Total sweep length: 60 samples\n"
            "Total sweep file size: 240 bytes\n"
            "Total inverse length: 50 samples\n"
            "Total inverse file size: 200 bytes\n\n");
}

TEST(Report, SizesBeyondTwoGibibytesAreExact) {
  const std::string report = report_of(params(192000, 3000, 1));
  EXPECT_NE(report.find("Total sweep length: 576384000 samples\n"), std::string::npos) << report;
  EXPECT_NE(report.find("Total sweep file size: 2305536000 bytes\n"), std::string::npos);
  EXPECT_NE(report.find("Total inverse file size: 2304000000 bytes\n"), std::string::npos);
}

// Numbers read as atof reads them; text that is not wholly a number is warned of.
TEST(Arguments, ReadLikeAtofWithWarnings) {
  const char* texts[] = {" 44100Hz", "-0.5", "1e1 ", "2.1E4x", "abc", "", ".25", "+3"};
  testing::internal::CaptureStderr();
  const SweepParams p = parse_numbers(texts);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning: rate ' 44100Hz' was read as 44100\n"
            "Warning: hzend '2.1E4x' was read as 21000\n"
            "Warning: duration 'abc' was read as 0\n"
            "Warning: silence '' was read as 0\n");
  EXPECT_EQ(p.rate, 44100);
  EXPECT_EQ(p.amplitude, -0.5);
  EXPECT_EQ(p.hzstart, 10);
  EXPECT_EQ(p.hzend, 21000);
  EXPECT_EQ(p.duration, 0);
  EXPECT_EQ(p.silence, 0);
  EXPECT_EQ(p.leadin, 0.25);
  EXPECT_EQ(p.leadout, 3);
}

}  // namespace
