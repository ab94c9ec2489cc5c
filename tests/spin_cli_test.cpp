// Tests of vellisk-spin end to end: its files hold the library's curves, rating and
// beamwidths, and its refusals are one line, status 1 and no file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "run_vellisk.h"
#include "spin_piston.h"
#include "vellisk/spin.h"

using namespace vellisk;
using namespace spin_test;

namespace {

RunResult run_spin(const TempDir& dir, const std::vector<std::string>& args) {
  RunSetup setup;
  setup.program = VELLISK_SPIN_BINARY;
  return run_program(dir, args, setup);
}

std::vector<std::string> relative(const std::vector<std::string>& names, const TempDir& dir) {
  std::vector<std::string> out;
  for (const std::string& n : names) out.push_back(std::filesystem::relative(n, dir.work()).string());
  return out;
}

}  // namespace

TEST(SpinCli, FilesHoldTheLibrarysCurvesRatingAndBeamwidths) {
  TempDir dir;
  const Source s{0.08};
  std::vector<std::string> args = {"--cta", "spin.csv", "--json", "spin.json"};
  for (const std::string& n : relative(write_frd_set(s, dir.work()), dir)) args.push_back(n);
  const RunResult r = run_spin(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Preference rating: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("CTA-2034-A curves written: spin.csv"), std::string::npos) << r.out;

  const SpinSet set = make_spin_set(read_angle_responses(write_frd_set(s, dir.root())));
  const SpinCurves c = spin_curves(set);
  std::istringstream csv(read_file(dir.work() / "spin.csv"));
  std::string line;
  while (std::getline(csv, line) && line.starts_with("#")) {
  }
  ASSERT_TRUE(line.starts_with("frequency_hz,on_axis,listening_window,")) << line;
  std::size_t rows = 0;
  for (; std::getline(csv, line); ++rows) {
    std::vector<double> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(std::stod(cell));
    ASSERT_EQ(cells.size(), 15u);
    EXPECT_NEAR(cells[0], c.frequencies[rows], 5e-4);
    EXPECT_NEAR(cells[2], c.listening_window[rows], 0.005);
    EXPECT_NEAR(cells[11], c.sound_power[rows], 0.005);
    EXPECT_NEAR(cells[14], c.spdi[rows], 0.005);
  }
  EXPECT_EQ(rows, c.frequencies.size());

  const auto j = nlohmann::json::parse(read_file(dir.work() / "spin.json"));
  const PreferenceRating p = preference_rating(c);
  EXPECT_NEAR(j["preference_rating"]["rating"].get<double>(), p.rating, 5e-4);
  EXPECT_NEAR(j["preference_rating"]["sm_pir"].get<double>(), p.sm_pir, 5e-5);
  const Beamwidths b = beamwidths(set);
  ASSERT_EQ(j["beamwidths_6db"].size(), b.frequencies.size());
  EXPECT_NEAR(j["beamwidths_6db"][20]["horizontal_deg"].get<double>(), b.horizontal_deg[20], 0.05);
}

TEST(SpinCli, RefusalsAreOneLineAndWriteNothing) {
  TempDir dir;
  const std::vector<std::string> set = relative(write_frd_set(Source{0.05}, dir.work()), dir);
  std::vector<std::string> without_on_axis, short_set;
  for (const std::string& n : set) {
    const SpinAngle a = *spin_angle_from_name(n);
    if (!(a == SpinAngle{Orbit::horizontal, 0})) without_on_axis.push_back(n);
    if (!(a == SpinAngle{Orbit::vertical, -30})) short_set.push_back(n);
  }
  write_text(dir.work() / "narrow_H 0.frd", "200 1\n8000 1\n");
  std::vector<std::string> narrow = without_on_axis;
  narrow.push_back("narrow_H 0.frd");
  const auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {with({"--cta", "out.csv"}, without_on_axis), "no input is on-axis (H 0)"},
      {with({"--cta", "out.csv"}, short_set), "angles missing (V -30)"},
      {with({"--cta", "out.csv", "--json", "out.json"}, narrow), "the preference rating needs the curves from 100 Hz"},
      {with({"--angles", "same.csv", "--cta", "same.csv"}, set), "must not name the same file"},
      {with({"--cta", "out.txt"}, set), "--cta (out.txt) must name a file ending in .csv"},
      {with({"--points", "2.5", "--cta", "out.csv"}, set), "--points (2.5) must be a whole number"},
      {with({"--bogus"}, set), "unknown option --bogus"},
      {with({"--plot", "out.svg", "--views", "spin,polar-x"}, set), "names \"polar-x\": the views are"},
      {with({"--plot", "out.svg", "--views", "spin,spin"}, set), "names \"spin\" twice"},
      {with({"--views", "spin"}, set), "give --plot FILE.svg too"},
      {with({"--cta", "out.csv", "--angles", "none.txt"}, set), "Unable to read angles file (none.txt)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    const RunResult r = run_spin(dir, c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.work() / "out.csv"));
    EXPECT_FALSE(std::filesystem::exists(dir.work() / "out.json"));
    EXPECT_FALSE(std::filesystem::exists(dir.work() / "out.svg"));
  }
  // With --allow-missing the short set runs, and says what it filled in.
  const RunResult r = run_spin(dir, with({"--allow-missing", "--cta", "out.csv"}, short_set));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Filled in from their neighbours: V -30"), std::string::npos) << r.out;
  EXPECT_NE(read_file(dir.work() / "out.csv").find("# Filled in from their neighbours: V -30\n"), std::string::npos);
}

TEST(SpinCli, TablesOfAnglesRunAsTheirFrdFiles) {
  TempDir dir;
  const Source s{0.12};
  write_text(dir.work() / "SPL Horizontal.txt", table_text(s, false));
  write_text(dir.work() / "SPL Vertical.txt", table_text(s, true));
  const RunResult t = run_spin(dir, {"--cta", "tables.csv", "SPL Horizontal.txt", "SPL Vertical.txt"});
  ASSERT_EQ(t.status, 0) << t.err;
  std::vector<std::string> args = {"--cta", "frd.csv"};
  for (const std::string& n : relative(write_frd_set(s, dir.work()), dir)) args.push_back(n);
  ASSERT_EQ(run_spin(dir, args).status, 0);
  const std::string tables = read_file(dir.work() / "tables.csv"), frd = read_file(dir.work() / "frd.csv");
  EXPECT_EQ(tables, frd);
}

TEST(SpinCli, FigureDrawsEachViewAskedFor) {
  TempDir dir;
  std::vector<std::string> args = {"--plot", "spin.svg", "--views", "polar-v,spin,polar-h,polar-normalised"};
  for (const std::string& n : relative(write_frd_set(Source{0.05}, dir.work()), dir)) args.push_back(n);
  const RunResult r = run_spin(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = read_file(dir.work() / "spin.svg");
  std::string words;  // the texts, their elements left out and their characters' references read
  for (std::size_t i = 0; i < svg.size(); ++i) {
    if (svg[i] == '<') {
      i = svg.find('>', i);
    } else if (svg.compare(i, 3, "&#x") == 0) {
      const std::size_t end = svg.find(';', i);
      words += static_cast<char>(std::stoi(svg.substr(i + 3, end - i - 3), nullptr, 16));
      i = end;
    } else {
      words += svg[i];
    }
  }
  ASSERT_TRUE(svg.starts_with("<?xml")) << svg.substr(0, 80);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  // Four rows: the page's height follows them; each view's title and axis.
  EXPECT_NE(svg.find("height=\"1480"), std::string::npos) << svg.substr(0, 400);
  for (const char* text : {"Directivity index (dB)", "Horizontal angle (degrees)", "Vertical angle (degrees, up)",
                           "dB re on-axis", "Sound power"}) {
    EXPECT_NE(words.find(text), std::string::npos) << text;
  }
  // The vertical map comes first.
  EXPECT_LT(words.find("Vertical orbit"), words.find("The CTA-2034-A curves"));
}
