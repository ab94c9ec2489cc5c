// Tests of the public sound files, through include/ alone: files written and read back in each
// format, the refusals of files that cannot be read or written, and a measured response
// written as vellisk-ir writes it.
#include "vellisk/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "run_vellisk.h"

using namespace vellisk;

namespace {

int create(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

// Writes frames of interleaved samples in blocks of 7 frames.
void write_file(const std::string& path, const SoundFileLayout& layout, const std::vector<float>& x) {
  SoundFileWriter file(create(path), layout);
  const auto frames = static_cast<std::int64_t>(x.size()) / layout.channels;
  for (std::int64_t at = 0; at < frames; at += 7) {
    file.write(x.data() + at * layout.channels, std::min<std::int64_t>(7, frames - at));
  }
  file.close();
}

// The problem's code of what call throws, with its message.
template <class Call>
std::pair<std::optional<ProblemCode>, std::string> thrown(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return {e.code(), e.what()};
  }
  return {};
}

}  // namespace

TEST(Files, WrittenFilesReadBackInEveryFormat) {
  TempDir dir;
  // Two channels: a ramp in [-0.5, 0.5) and its negative, exact in 24 bits.
  std::vector<float> x;
  for (int t = 0; t < 100; ++t) {
    const float v = static_cast<float>(t - 50) / 100;
    x.insert(x.end(), {v, -v});
  }
  const struct {
    const char* name;
    std::int64_t frames;  // given to the writer
    double tolerance;
    const char* format;
  } cases[] = {{"a.wav", 100, 0, "WAV (Microsoft) 32 bit float"},
               {"b.wav", -1, 0, "WAV (Microsoft) 32 bit float"},
               {"c.w64", -1, 0, "W64 (SoundFoundry WAVE 64) 32 bit float"},
               {"d.flac", -1, 0x1p-23, "FLAC (Free Lossless Audio Codec) Signed 24 bit PCM"},
               {"e.f32", -1, 0, "headerless float32"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir.work() / c.name).string();
    const std::optional<ResponseFormat> format = response_format(path);
    ASSERT_TRUE(format);
    write_file(path, {*format, 2, 44100, c.frames, "test 1.0", "made by a test"}, x);
    FileOptions options;
    options.headerless = is_headerless_name(path);
    options.channels = 2;
    FileSource source(path, options);
    EXPECT_EQ(source.info().channels, 2);
    EXPECT_EQ(source.info().frames, 100);
    EXPECT_EQ(source.info().rate, options.headerless ? 0 : 44100);
    EXPECT_NE(source.info().format.find(c.format), std::string::npos) << source.info().format;
    // The comment, where the format carries one.
    const bool carried =
        (*format == ResponseFormat::kWav && c.frames >= 0) || *format == ResponseFormat::kFlac;
    EXPECT_EQ(source.comment(), carried ? "made by a test" : "");
    // The second channel, from before the start to past the end.
    std::vector<float> y(110);
    float* out[] = {y.data()};
    SampleLevels levels;
    ASSERT_FALSE(source.read(-5, 110, 1, 1, out, &levels));
    for (int t = 0; t < 110; ++t) {
      const float want = t < 5 || t >= 105 ? 0 : x[static_cast<std::size_t>(2 * (t - 5) + 1)];
      EXPECT_NEAR(y[static_cast<std::size_t>(t)], want, c.tolerance) << t;
    }
    EXPECT_NEAR(levels.peak, 0.5, c.tolerance);
    EXPECT_EQ(levels.clipped, 0);
  }
}

TEST(Files, AReadSplitAmongReadersReadsWhatOneReaderReads) {
  TempDir dir;
  // Three channels, long enough for three parts; full-scale samples and samples that are not
  // finite in the later parts, where a helper handle reads them.
  constexpr int kChannels = 3;
  constexpr std::int64_t kFrames = 400000;
  std::vector<float> x(static_cast<std::size_t>(kFrames * kChannels));
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = static_cast<float>((i * 7919) % 2001) / 4000 - 0.25f;
  }
  const auto at = [&](std::int64_t frame, int c) -> float& {
    return x[static_cast<std::size_t>(frame * kChannels + c)];
  };
  at(10, 1) = 1.0f, at(250000, 1) = -1.0f, at(399999, 1) = 1.0f;  // three clipped
  at(390000, 2) = -0.75f;  // channel 3's peak, in the last part
  const std::string clean = (dir.work() / "clean.wav").string();
  write_file(clean, {ResponseFormat::kWav, kChannels, 44100, kFrames, "test 1.0", ""}, x);
  std::vector<float> broken_x = x;
  broken_x[300000 * kChannels + 2] = std::numeric_limits<float>::infinity();
  broken_x[150000 * kChannels + 0] = std::nanf("");
  const std::string bad = (dir.work() / "bad.f32").string();
  write_file(bad, {ResponseFormat::kHeaderless, kChannels, 44100, -1, "", ""}, broken_x);
  for (const int readers : {1, 2, 3, 0}) {
    SCOPED_TRACE(readers);
    FileOptions options;
    options.readers = readers;
    FileSource source(clean, options);
    // Channels 2 and 3, from before the start to past the end.
    std::vector<float> two(kFrames + 20), three(kFrames + 20);
    float* out[] = {two.data(), three.data()};
    SampleLevels levels[2];
    ASSERT_EQ(source.read(-10, kFrames + 20, 1, 2, out, levels), std::nullopt);
    for (std::int64_t t = 0; t < kFrames + 20; ++t) {
      const std::int64_t frame = t - 10;
      const bool inside = frame >= 0 && frame < kFrames;
      ASSERT_EQ(two[static_cast<std::size_t>(t)], inside ? at(frame, 1) : 0.0f) << t;
      ASSERT_EQ(three[static_cast<std::size_t>(t)], inside ? at(frame, 2) : 0.0f) << t;
    }
    EXPECT_EQ(levels[0].peak, 1.0f);
    EXPECT_EQ(levels[0].clipped, 3);
    EXPECT_EQ(levels[1].peak, 0.75f);
    EXPECT_EQ(levels[1].clipped, 0);
    // The first sample that is not finite, in frame order, whichever part reads it.
    options.headerless = true;
    options.channels = kChannels;
    FileSource broken(bad, options);
    std::vector<float> y(kFrames * kChannels);
    float* outs[] = {y.data(), y.data() + kFrames, y.data() + 2 * kFrames};
    const std::string later = broken.read(0, kFrames, 1, 2, outs).value_or(Problem{}).message;
    EXPECT_EQ(later.rfind("recording (" + bad + ") holds a sample that is not finite", 0), 0u)
        << later;
    EXPECT_NE(later.find(") at frame 300000 of channel 3"), std::string::npos) << later;
    const std::string first = broken.read(0, kFrames, 0, 3, outs).value_or(Problem{}).message;
    EXPECT_NE(first.find(") at frame 150000 of channel 1"), std::string::npos) << first;
  }
}

TEST(Files, InOrderReadsAPipeThatStretchesRefuse) {
  TempDir dir;
  const std::string fifo = (dir.work() / "fifo.wav").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto [code, message] = thrown([&] { FileSource source(fifo); });
  EXPECT_EQ(code, ProblemCode::unreadable);
  EXPECT_NE(message.find("recording (" + fifo + ") is a pipe or FIFO"), std::string::npos)
      << message;
  // In order, through the pipe: a WAV file that says its length, every frame, then 0 at the end.
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    const float samples[6] = {1, 2, 3, 4, 5, 6};
    try {
      SoundFileWriter file(::open(fifo.c_str(), O_WRONLY),
                           {ResponseFormat::kWav, 2, 8000, 3, "test", ""});
      file.write(samples, 3);
      file.close();
    } catch (const Error&) {
      _exit(1);
    }
    _exit(0);
  }
  FileOptions options;
  options.in_order = true;
  options.role = "irfile";
  FileSource source(fifo, options);
  EXPECT_EQ(source.info().frames, 3);
  // Room for a whole stretch past the end: a short read may clear the rest of its buffer.
  std::vector<float> got(10, 0);
  std::int64_t n = 0, total = 0;
  do {
    ASSERT_FALSE(source.read_next(2, got.data() + 2 * total, n));
    total += n;
  } while (n > 0);
  EXPECT_EQ(total, 3);
  EXPECT_EQ(got, (std::vector<float>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0}));
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_EQ(status, 0);
}

TEST(Files, RefusalsNameTheFileAndTheReason) {
  TempDir dir;
  const std::string folder = dir.work().string();
  FileOptions irfile;
  irfile.role = "irfile";
  const struct {
    std::string path;
    FileOptions options;
    std::string words;
  } cases[] = {
      {folder + "/missing.wav", {}, "Unable to open recording (" + folder + "/missing.wav)"},
      {folder, irfile, "irfile (" + folder + ") is a folder"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto [code, message] = thrown([&] { FileSource source(c.path, c.options); });
    EXPECT_EQ(code, ProblemCode::unreadable);
    EXPECT_NE(message.find(c.words), std::string::npos) << message;
  }
  // A headerless file's channels out of their range, before any division by them.
  FileOptions none;
  none.headerless = true;
  none.channels = 0;
  const std::string empty = folder + "/empty.f32";
  std::fclose(std::fopen(empty.c_str(), "w"));
  const auto [channels, words] = thrown([&] { FileSource source(empty, none); });
  EXPECT_EQ(channels, ProblemCode::invalid_request);
  EXPECT_EQ(words,
            "recording (" + empty + "): a headerless file's channels (0) must be from 1 to 1024");
  // A file its format cannot hold, refused before a byte is written.
  const std::string nine = folder + "/nine.flac";
  const auto [format, why] = thrown([&] {
    SoundFileWriter file(create(nine), {ResponseFormat::kFlac, 9, 48000, -1, "test", ""});
  });
  EXPECT_EQ(format, ProblemCode::invalid_request);
  EXPECT_NE(why.find("holds 1 to 8 channels"), std::string::npos) << why;
  EXPECT_EQ(std::filesystem::file_size(nine), 0u);
  // A full device: the write, or at the latest the close, fails with the system's reason.
  const auto [code, message] = thrown([] {
    SoundFileWriter file(::open("/dev/full", O_WRONLY),
                         {ResponseFormat::kWav, 1, 8000, 20000, "test", ""});
    const std::vector<float> zeros(20000);
    file.write(zeros.data(), 20000);
    file.close();
  });
  EXPECT_EQ(code, ProblemCode::unwritable);
  EXPECT_EQ(message, "No space left on device");
  EXPECT_FALSE(fits_format(ResponseFormat::kFlac, 1.0f));
  EXPECT_TRUE(fits_format(ResponseFormat::kFlac, 1.0f - 0x1p-23f));
  EXPECT_TRUE(fits_format(ResponseFormat::kW64, 1e30f));
}

TEST(Files, MeasuredResponseIsWrittenAsTheResultHoldsIt) {
  TempDir dir;
  // A wire 25 samples late, with a second channel at half the level.
  const SweepParams sweep = {8000, 0.5, 50, 3000, 1, 0.5, 0.05, 0.01};
  const std::vector<float> s = sweep_samples(sweep);
  std::vector<float> y(2 * (s.size() + 8000), 0.0f);
  for (std::size_t t = 0; t < s.size(); ++t) y[2 * (t + 25)] = s[t], y[2 * (t + 25) + 1] = s[t] / 2;
  MemorySource recording(y.data(), static_cast<std::int64_t>(y.size() / 2), 2, 8000, 2, 1);
  ResponseRequest request;
  request.sweep = sweep;
  const ResponseResult result = measure(request, recording);
  const std::string path = (dir.work() / "ir.wav").string();
  {
    SoundFileWriter file(create(path), {ResponseFormat::kWav, 2, 8000, result.frames(1), "test",
                                        response_text(result.report, "test 1.0")});
    write_response(result, 1, file);
    file.close();
  }
  FileSource source(path);
  ASSERT_EQ(source.info().frames, result.frames(1));
  MeasuredResponse carried;
  ASSERT_FALSE(parse_response_text(source.comment(), carried));
  ASSERT_EQ(carried.channels.size(), 2u);
  EXPECT_NEAR(*carried.channels[0].latency_samples, 25, 0.01);
  EXPECT_NEAR(*carried.channels[1].gain_db, 20 * std::log10(0.5), 0.1);
  const auto n = static_cast<std::size_t>(result.frames(1));
  for (int c = 0; c < 2; ++c) {
    std::vector<float> written(n), held(n);
    float* out[] = {written.data()};
    ASSERT_FALSE(source.read(0, result.frames(1), c, 1, out));
    ASSERT_FALSE(result.read(1, c, 0, result.frames(1), held.data()));
    EXPECT_EQ(written, held) << "channel " << c + 1;
  }
}
