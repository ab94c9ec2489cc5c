// Warnings of a run that is written all the same.
#include "warnings.h"

#include <cmath>
#include <cstdio>

#include "options.h"
#include "common/arguments.h"
#include "vellisk/number_text.h"

namespace vellisk {

namespace {

// Names whose extension promises a format, and what a reader takes them for.
enum class Written { wav, raw, neither };

struct NamedFormat {
  const char* extension;
  const char* format;
  Written written;  // which output of vellisk the name fits, if any
};

constexpr NamedFormat kNamedFormats[] = {
    {".wav", "WAV", Written::wav},
    {".wave", "WAV", Written::wav},
    {".flac", "FLAC", Written::neither},
    {".aif", "AIFF", Written::neither},
    {".aiff", "AIFF", Written::neither},
    {".aifc", "AIFF-C", Written::neither},
    {".pcm", "headerless samples", Written::raw},
    {".raw", "headerless samples", Written::raw},
    {".f32", "headerless samples", Written::raw},
};

void warn_of_name(const char* parameter, const char* name, bool wav) {
  for (const NamedFormat& f : kNamedFormats) {
    if (!ends_with(name, f.extension)) continue;
    if (f.written == (wav ? Written::wav : Written::raw)) return;
    if (wav) {
      std::fprintf(stderr,
                   "Warning: %s (%s) is written as a WAV file, which programs that go by its "
                   "name will misread as %s; name it .wav\n",
                   parameter, name, f.format);
    } else {
      std::fprintf(stderr,
                   "Warning: %s (%s) is written as headerless float32 samples, which players "
                   "will not read as %s; give --wav before the eight numbers to write WAV "
                   "files\n",
                   parameter, name, f.format);
    }
    return;
  }
}

}  // namespace

void warn_of_run(const SweepParams& params, bool wav, const char* sweepfile,
                 const char* inversefile) {
  warn_of_name("sweepfile", sweepfile, wav);
  warn_of_name("inversefile", inversefile, wav);
  if (params.amplitude == 0) {
    std::fprintf(stderr,
                 "Warning: amplitude 0 makes the sweep silent: it will measure nothing; give "
                 "the level to play it at, such as 0.5\n");
  } else if (wav && std::abs(params.amplitude) > 1) {
    std::fprintf(stderr,
                 "Warning: amplitude (%s) exceeds 1 in magnitude, the full scale of a WAV "
                 "file: a player or converter will clip the sweep; give at most 1\n",
                 number_text(params.amplitude).c_str());
  }
}

void warn_of_ignored_options(int argc, const char* const* argv, int first_ignored) {
  for (int i = first_ignored; i < argc; ++i) {
    if (is_option(argv[i])) {
      std::fprintf(stderr,
                   "Warning: %s after the ten arguments is ignored: options go before the "
                   "eight numbers\n",
                   argv[i]);
      return;
    }
  }
}

}  // namespace vellisk
