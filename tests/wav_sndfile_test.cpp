// vellisk --wav files read through libsndfile: the reference samples to the bit, and the design
// from the comment string and from the chunk API.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "run_vellisk.h"
#include "sweep/design_text.h"

namespace {

TEST(WavFile, LibsndfileReadsTheReferenceSamplesAndTheDesign) {
  std::vector<std::string> args = golden_args();
  const SweepParams golden = {8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02};
  ASSERT_EQ(args[0], "8000") << "the reference run is not the one this test knows";
  args[8] = "sweep.wav";
  args[9] = "inverse.wav";
  args.insert(args.begin(), "--wav");
  TempDir dir;
  const RunResult r = run_vellisk(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const struct {
    const char* name;
    const char* raw;
    const char* size_line;
    DesignFile file;
  } files[] = {{"sweep.wav", "sweep.pcm", "Total sweep file size: ", DesignFile::sweep},
               {"inverse.wav", "inverse.pcm", "Total inverse file size: ", DesignFile::inverse}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const std::string bytes = read_file(dir.work() / f.name);
    const std::string raw = read_file(kTestData / f.raw);
    EXPECT_TRUE(bytes.ends_with(raw)) << "the samples are not the raw file's";
    EXPECT_NE(r.out.find(f.size_line + std::to_string(bytes.size()) + " bytes\n"),
              std::string::npos);

    SF_INFO info{};
    SNDFILE* file = sf_open((dir.work() / f.name).c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.samplerate, 8000);
    const std::vector<float> expected = read_samples(kTestData / f.raw);
    std::vector<float> samples(expected.size() + 1);
    EXPECT_EQ(sf_read_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(samples[i]), std::bit_cast<std::uint32_t>(expected[i]))
          << "sample " << i;
    }
    const char* software = sf_get_string(file, SF_STR_SOFTWARE);
    EXPECT_STREQ(software, "vellisk 1.1.0");
    const char* comment = sf_get_string(file, SF_STR_COMMENT);
    ASSERT_NE(comment, nullptr);
    CarriedDesign design;
    EXPECT_EQ(parse_design_text(comment, design), "");
    EXPECT_EQ(design.file, f.file);
    EXPECT_EQ(design_text(design.params, f.file), design_text(golden, f.file));
    // The same design through the chunk API, from the LIST chunk's payload.
    SF_CHUNK_INFO chunk{};
    std::strcpy(chunk.id, "LIST");
    chunk.id_size = 4;
    SF_CHUNK_ITERATOR* list = sf_get_chunk_iterator(file, &chunk);
    ASSERT_EQ(sf_get_chunk_size(list, &chunk), SF_ERR_NO_ERROR);
    std::string payload(chunk.datalen, '\0');
    chunk.data = payload.data();
    ASSERT_EQ(sf_get_chunk_data(list, &chunk), SF_ERR_NO_ERROR);
    CarriedDesign from_chunk;
    EXPECT_EQ(parse_design_info_list(payload, from_chunk), "");
    EXPECT_EQ(design_text(from_chunk.params, from_chunk.file), comment);
    // libsndfile's log marks whatever it found odd in a header with "***".
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    EXPECT_EQ(std::string(log).find("***"), std::string::npos) << log;
    sf_close(file);
  }
}

}  // namespace
