// vellisk --wav files read through libsndfile: the reference samples to the bit, and the design.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <string>
#include <vector>

#include "run_vellisk.h"

namespace {

TEST(WavFile, LibsndfileReadsTheReferenceSamplesAndTheDesign) {
  std::vector<std::string> args = golden_args();
  args[8] = "sweep.wav";
  args[9] = "inverse.wav";
  args.insert(args.begin(), "--wav");
  TempDir dir;
  const RunResult r = run_vellisk(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const std::string name : {"sweep", "inverse"}) {
    SCOPED_TRACE(name);
    const auto path = dir.work() / (name + ".wav");
    const std::string bytes = read_file(path);
    const std::string raw = read_file(kTestData / (name + ".pcm"));
    EXPECT_TRUE(bytes.ends_with(raw)) << "the samples are not the raw file's";
    EXPECT_NE(r.out.find(" " + name + " file size: " + std::to_string(bytes.size()) + " bytes\n"),
              std::string::npos);

    SF_INFO info{};  // the file's format, and the samples to the bit
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.samplerate, 8000);
    std::vector<float> samples(raw.size() / 4 + 1);  // little-endian, as the raw file
    EXPECT_EQ(4 * sf_read_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(raw.size()));
    EXPECT_EQ(std::memcmp(samples.data(), raw.data(), raw.size()), 0) << "other samples";

    const char* comment = sf_get_string(file, SF_STR_COMMENT);
    EXPECT_EQ(std::string(comment != nullptr ? comment : ""),
              "vellisk 1.1.0 " + name +
                  ": rate=8000 amplitude=0.5 hzstart=50 hzend=3000 duration=0.5 silence=0.05 "
                  "leadin=0.1 leadout=0.02");
    // libsndfile's log marks whatever it found odd in a header with "***".
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    EXPECT_EQ(std::string(log).find("***"), std::string::npos) << log;
    sf_close(file);
  }
}

}  // namespace
