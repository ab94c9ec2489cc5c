// Tests of what is refused before anything is written.
#include "sweep/validation.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/paths.h"
#include "run_vellisk.h"
#include "sweep/inverse_gen.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double above(double x) { return std::nextafter(x, kInf); }
double below(double x) { return std::nextafter(x, -kInf); }

std::string error_of(const SweepParams& p) { return design_error(p, compute_design(p)); }

// rate 1000 and duration 1 give N = 1000; the tapers are 10 samples each.
constexpr SweepParams kBase = {1000, 0.5, 20, 400, 1, 0.1, 0.01, 0.01};

struct Boundary {
  const char* label;
  std::function<void(SweepParams&)> change;
  std::string refusal;  // a part of the message, or "" when accepted
};

void check_table(const std::vector<Boundary>& table) {
  for (const Boundary& b : table) {
    SCOPED_TRACE(b.label);
    SweepParams p = kBase;
    b.change(p);
    const std::string error = error_of(p);
    if (b.refusal.empty()) {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(b.refusal), std::string::npos) << "message: " << error;
    }
  }
}

TEST(Validation, EveryNumberMustBeFinite) {
  std::vector<Boundary> table;
  const std::pair<const char*, double SweepParams::*> fields[] = {
      {"rate", &SweepParams::rate},         {"amplitude", &SweepParams::amplitude},
      {"hzstart", &SweepParams::hzstart},   {"hzend", &SweepParams::hzend},
      {"duration", &SweepParams::duration}, {"silence", &SweepParams::silence},
      {"leadin", &SweepParams::leadin},     {"leadout", &SweepParams::leadout},
  };
  for (const auto& [name, field] : fields) {
    for (double bad : {kInf, -kInf, kNaN}) {
      table.push_back({name, [field, bad](SweepParams& p) { p.*field = bad; },
                       std::string(name) + " (" +
                           (std::isnan(bad) ? "nan"
                            : bad > 0       ? "inf"
                                            : "-inf") +
                           ") must be a finite number"});
    }
  }
  table.push_back({"amplitude zero", [](SweepParams& p) { p.amplitude = 0; }, ""});
  table.push_back({"amplitude negative", [](SweepParams& p) { p.amplitude = -3; }, ""});
  check_table(table);
}

TEST(Validation, RangesOfRateAndLengths) {
  check_table({
      {"rate tiny", [](SweepParams& p) { p = {1e-300, 1, 1e-302, 4e-301, 2e300, 0, 0, 0}; }, ""},
      {"rate 0", [](SweepParams& p) { p.rate = 0; }, "rate (0) must be greater than 0"},
      {"rate negative", [](SweepParams& p) { p.rate = -1e-300; }, "rate (-1e-300)"},
      {"N 1",
       [](SweepParams& p) {
         p.duration = 0.001;
         p.leadin = p.leadout = 0;
       },
       ""},
      {"N below 1", [](SweepParams& p) { p.duration = below(0.001); },
       "rate * duration (1000 * 0.0009999999999999998 = 0.9999999999999998) must be at least 1"},
      {"N 0", [](SweepParams& p) { p.duration = 0; }, "must be at least 1 sample"},
      {"N 2^31 - 1",
       [](SweepParams& p) {
         p.duration = 2147483.647;
         p.silence = 0;
       },
       ""},
      {"N 2^31", [](SweepParams& p) { p.duration = 2147483.648; }, "must be below 2147483648"},
      {"N huge", [](SweepParams& p) { p.duration = 1e300; }, "must be below 2147483648"},
      {"silence 0", [](SweepParams& p) { p.silence = 0; }, ""},
      {"silence negative", [](SweepParams& p) { p.silence = -1e-300; },
       "silence (-1e-300) must not be negative"},
      {"S 2^31", [](SweepParams& p) { p.silence = 2147483.648; }, "rate * silence"},
      {"S huge", [](SweepParams& p) { p.silence = 1e300; }, "rate * silence"},
      // rate 1 makes N and S equal to duration and silence.
      {"N + 2S below 2^31 - 1",
       [](SweepParams& p) { p = {1, 0.5, 0.1, 0.4, 1001, 1073741322, 0, 0}; }, ""},
      {"N + 2S at 2^31 - 1", [](SweepParams& p) { p = {1, 0.5, 0.1, 0.4, 1001, 1073741323, 0, 0}; },
       ""},
      {"N + 2S above 2^31 - 1",
       [](SweepParams& p) { p = {1, 0.5, 0.1, 0.4, 1001, 1073741324, 0, 0}; },
       "(1001 + 2 * 1073741324 = 2147483649) must not exceed 2147483647"},
  });
}

TEST(Validation, FrequencyBand) {
  check_table({
      {"hzstart tiny", [](SweepParams& p) { p.hzstart = 1e-300; }, ""},
      {"hzstart 0", [](SweepParams& p) { p.hzstart = 0; }, "hzstart (0) must be greater than 0"},
      {"hzstart negative", [](SweepParams& p) { p.hzstart = -20; }, "hzstart (-20)"},
      {"hzend above hzstart", [](SweepParams& p) { p.hzend = 20.001; }, ""},
      {"hzend equal", [](SweepParams& p) { p.hzend = 20; },
       "hzend (20) must be greater than hzstart (20)"},
      {"falling sweep", [](SweepParams& p) { p.hzend = 10; }, "hzend (10) must be greater"},
      {"hzend below Nyquist", [](SweepParams& p) { p.hzend = below(500); }, ""},
      {"hzend at Nyquist", [](SweepParams& p) { p.hzend = 500; }, ""},
      {"hzend above Nyquist", [](SweepParams& p) { p.hzend = above(500); },
       "hzend (500.00000000000006) must not exceed half the sample rate (500)"},
      {"frequency ratio overflows", [](SweepParams& p) { p.hzstart = 1e-320; },
       "cannot be computed: logratio is inf"},
  });
}

TEST(Validation, Tapers) {
  check_table({
      {"leadin 0", [](SweepParams& p) { p.leadin = 0; }, ""},
      {"leadin negative", [](SweepParams& p) { p.leadin = -1e-9; },
       "leadin (-1e-09) must not be negative"},
      {"leadout negative", [](SweepParams& p) { p.leadout = -0.5; }, "leadout (-0.5) must not"},
      {"Nin 0 by truncation", [](SweepParams& p) { p.leadin = 0.0009; }, ""},
      {"Nin 1", [](SweepParams& p) { p.leadin = 0.001; },
       "leadin (0.001) gives a taper of 1 sample"},
      {"Nin 2", [](SweepParams& p) { p.leadin = 0.002; }, ""},
      {"Nout 1", [](SweepParams& p) { p.leadout = 0.0015; }, "leadout (0.0015) gives a taper"},
      {"Nin + Nout = N - 1",
       [](SweepParams& p) {
         p.leadin = 0.5;
         p.leadout = 0.499;
       },
       ""},
      {"Nin + Nout = N",
       [](SweepParams& p) {
         p.leadin = 0.5;
         p.leadout = 0.5;
       },
       ""},
      {"Nin + Nout = N + 1",
       [](SweepParams& p) {
         p.leadin = 0.5;
         p.leadout = 0.501;
       },
       "give tapers of 500 + 501 samples, more than the sweep's 1000"},
      {"Nin beyond 2^31", [](SweepParams& p) { p.leadin = 1e300; }, "more than the sweep's 1000"},
  });
}

TEST(Validation, OutputNames) {
  TempDir dir;
  const auto w = dir.work().string();
  const auto x = w + "/x.pcm";
  std::filesystem::create_directory(w + "/sub");
  std::filesystem::create_directory_symlink("sub", w + "/linked");
  std::filesystem::create_symlink(x, w + "/dangling.pcm");
  { std::ofstream(w + "/sub/old.pcm") << "old"; }
  ASSERT_EQ(link((w + "/sub/old.pcm").c_str(), (w + "/hard.pcm").c_str()), 0);
  const struct {
    std::string a, b;
    bool refused;
  } cases[] = {
      {x, x, true},
      {x, w + "/sub/../x.pcm", true},
      {w + "/./x.pcm", x, true},
      {w + "/dangling.pcm", x, true},
      {w + "/linked/y.pcm", w + "/sub/y.pcm", true},
      {w + "/hard.pcm", w + "/linked/old.pcm", true},
      {x, w + "/sub/x.pcm", false},
      {w + "/hard.pcm", w + "/sub/new.pcm", false},
      {"/dev/null", "/dev/null", false},
      {"", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + " and " + c.b);
    EXPECT_EQ(!output_names_error(c.a.c_str(), c.b.c_str()).empty(), c.refused);
  }
}

// One folder under two mount points: no comparison of paths can tell.
TEST(Validation, OutputNamesThroughABindMount) {
  TempDir dir;
  const auto real = dir.work() / "real";
  const auto bind = dir.work() / "bind";
  std::filesystem::create_directory(real);
  std::filesystem::create_directory(bind);
  const pid_t pid = fork();
  if (pid == 0) {  // a mount namespace of its own, so that nothing outside sees the mount
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount(real.c_str(), bind.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      _exit(2);
    }
    const bool refused =
        !output_names_error((real / "s.pcm").c_str(), (bind / "s.pcm").c_str()).empty();
    _exit(refused ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "mounting is not permitted here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the same new file in a bind-mounted folder passed";
}

TEST(RefusedRun, NothingIsWrittenOrReported) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"44100", "0.5", "0", "21000", "45", "2", "0.05", "0.005", "s.pcm", "i.pcm"},
       "hzstart (0) must be greater than 0\n"},
      {{"44100", "0.5", "10", "30000", "45", "2", "0.05", "0.005", "s.pcm", "i.pcm"},
       "hzend (30000) must not exceed half the sample rate (22050)\n"},
      {{"abc", "0.5", "10", "21000", "45", "2", "0.05", "0.005", "s.pcm", "i.pcm"},
       "Warning: rate 'abc' was read as 0\nrate (0) must be greater than 0\n"},
      {{"nan", "0.5", "10", "21000", "45", "2", "0.05", "0.005", "s.pcm", "i.pcm"},
       "rate (nan) must be a finite number\n"},
  };
  for (const auto& [args, err] : cases) {
    SCOPED_TRACE(err);
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.out, banner_text() + "\nCommand line parsing.\nSweep generation setup.\n");
    EXPECT_TRUE(list_files(dir.work()).empty());
  }
}

TEST(RefusedRun, AFileNamedTwiceKeepsItsContents) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"x.pcm", "x.pcm"}, {"x.pcm", "./x.pcm"}, {"x.pcm", "link.pcm"}};
  for (const auto& [sweepfile, inversefile] : names) {
    SCOPED_TRACE(sweepfile + " " + inversefile);
    TempDir dir;
    { std::ofstream(dir.work() / "x.pcm") << "measurement"; }
    ASSERT_EQ(link((dir.work() / "x.pcm").c_str(), (dir.work() / "link.pcm").c_str()), 0);
    std::vector<std::string> args = golden_args();
    args[8] = sweepfile;
    args[9] = inversefile;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("must not name the same file"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir.work() / "x.pcm"), "measurement");
  }
  TempDir dir;
  std::vector<std::string> args = golden_args();
  args[8] = args[9] = "/dev/null";
  EXPECT_EQ(run_vellisk(dir, args).status, 0);
}

// Random arguments over wide ranges: each set is refused, or gives a design whose
// quantities are finite, whose lengths keep the rules, and whose files hold
// finite samples in the numbers reported.
TEST(Validation, RandomArgumentsAreRefusedOrSound) {
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> unit(0, 1);
  const auto wide = [&] {
    const double pick = unit(random);
    if (pick < 0.05) return 0.0;
    if (pick < 0.07) return unit(random) < 0.5 ? kInf : kNaN;
    const double magnitude = std::pow(10.0, -8 + 16 * unit(random));
    return pick < 0.25 ? -magnitude : magnitude;
  };
  int accepted = 0;
  int generated = 0;
  for (int round = 0; round < 4000; ++round) {
    SweepParams p;
    if (round % 2 == 0) {
      p = {wide(), wide(), wide(), wide(), wide(), wide(), wide(), wide()};
    } else {  // near the usual: small designs, about half of them accepted
      p.rate = std::pow(10.0, 1 + 4 * unit(random));
      p.amplitude = 2 * unit(random) - 1;
      p.hzstart = p.rate * std::pow(10.0, -6 * unit(random)) * 0.5;
      p.hzend = p.hzstart + (p.rate * 0.55 - p.hzstart) * unit(random);
      p.duration = std::pow(10.0, 3.7 * unit(random)) / p.rate;
      p.silence = p.duration * unit(random) * 0.5;
      p.leadin = 0.6 * unit(random);
      p.leadout = 0.6 * unit(random);
    }
    const SweepDesign d = compute_design(p);
    if (!design_error(p, d).empty()) continue;
    ++accepted;
    SCOPED_TRACE(testing::Message()
                 << p.rate << " " << p.amplitude << " " << p.hzstart << " " << p.hzend << " "
                 << p.duration << " " << p.silence << " " << p.leadin << " " << p.leadout);
    for (double v : {d.startomega, d.logratio, d.phasescale, d.expstep, d.octavelen, d.leadinstep,
                     d.leadinstep2, d.leadoutstep, d.leadoutstep2, normfactor(d)}) {
      ASSERT_TRUE(std::isfinite(v));
    }
    ASSERT_GE(d.sweeplen, 1);
    ASSERT_GE(d.silencelen, 0);
    ASSERT_LE(std::int64_t{d.sweeplen} + 2 * std::int64_t{d.silencelen}, 2147483647);
    ASSERT_NE(d.leadinlen, 1);
    ASSERT_NE(d.leadoutlen, 1);
    ASSERT_GE(d.leadinlen, 0);
    ASSERT_GE(d.leadoutlen, 0);
    ASSERT_LE(d.leadinlen + d.leadoutlen, d.sweeplen);
    ASSERT_TRUE(p.hzstart > 0 && p.hzstart < p.hzend && p.hzend <= p.rate / 2);

    if (std::int64_t{d.sweeplen} + 2 * std::int64_t{d.silencelen} > 5000) continue;
    ++generated;
    std::int64_t sweep_count = 0;
    std::int64_t inverse_count = 0;
    bool finite = true;
    emit_sweep(d, [&](double v) { ++sweep_count, finite = finite && std::isfinite(v); });
    emit_inverse(d, normfactor(d),
                 [&](double v) { ++inverse_count, finite = finite && std::isfinite(v); });
    ASSERT_TRUE(finite);
    ASSERT_EQ(sweep_count, std::int64_t{d.sweeplen} + 2 * std::int64_t{d.silencelen});
    ASSERT_EQ(inverse_count, d.sweeplen);
  }
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(generated, 300);
}

}  // namespace
