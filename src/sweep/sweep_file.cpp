// Reading the design back from a sweep or inverse WAV file, and checking every sample against it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sweep/design_text.h"
#include "sweep/validation.h"
#include "sweep/wav_header.h"
#include "vellisk/sweep.h"

namespace vellisk {

namespace {

// An INFO list longer than this is not one vellisk wrote: it is passed over unread.
constexpr std::uint32_t kMaxList = 64 * 1024;
constexpr std::int64_t kBlock = 16384;  // samples compared at a time

std::uint32_t le32(const unsigned char* b) {
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
         std::uint32_t{b[3]} << 24;
}

std::uint16_t le16(const unsigned char* b) { return static_cast<std::uint16_t>(b[0] | b[1] << 8); }

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

// What the chunks say.
struct Layout {
  bool fmt = false;
  std::uint16_t format = 0, channels = 0, bits = 0;
  std::uint32_t rate = 0;
  std::optional<CarriedDesign> design;
  std::string no_design = "it has no INFO list";  // why not, when none
  long data_at = -1;                              // offset of the samples
  std::uint32_t data_bytes = 0;
};

class Reader {
 public:
  Reader(const std::string& path) : name_("sweep file (" + path + ")") {}

  [[noreturn]] void refuse(ProblemCode code, const std::string& why) const {
    throw Error(Problem{code, name_ + " " + why});
  }
  [[noreturn]] void unreadable(int error) const {
    refuse(ProblemCode::unreadable, std::string("could not be read: ") +
                                        (error != 0 ? std::strerror(error) : "it ends early"));
  }

  // Reads n bytes; false at the end of the file.
  bool read(std::FILE* f, void* out, std::size_t n) const {
    if (std::fread(out, 1, n, f) == n) return true;
    if (std::ferror(f) != 0) unreadable(errno);
    return false;
  }

  void read_fmt(std::FILE* f, std::uint32_t size, Layout& l) const {
    std::array<unsigned char, 16> b{};
    if (size < b.size() || !read(f, b.data(), b.size()))
      refuse(ProblemCode::invalid_design, "has a broken fmt chunk");
    l.fmt = true;
    l.format = le16(&b[0]);
    l.channels = le16(&b[2]);
    l.rate = le32(&b[4]);
    l.bits = le16(&b[14]);
  }

  void read_list(std::FILE* f, std::uint32_t size, Layout& l) const {
    std::string payload(size, '\0');
    if (!read(f, payload.data(), size)) unreadable(0);
    CarriedDesign design;
    const std::string why = parse_design_info_list(payload, design);
    if (why.empty()) {
      l.design = design;
    } else if (!l.design) {
      l.no_design = why;
    }
  }

  // Walks the chunks after "RIFF", size, "WAVE".
  Layout layout(std::FILE* f) const {
    unsigned char head[12];
    if (!read(f, head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
      refuse(ProblemCode::invalid_design, "is not a WAV file: write it with vellisk --wav");
    }
    Layout l;
    for (unsigned char chunk[8]; read(f, chunk, sizeof chunk);) {
      const std::uint32_t size = le32(chunk + 4);
      const long start = std::ftell(f);
      if (std::memcmp(chunk, "fmt ", 4) == 0 && !l.fmt) {
        read_fmt(f, size, l);
      } else if (std::memcmp(chunk, "LIST", 4) == 0 && size <= kMaxList) {
        read_list(f, size, l);
      } else if (std::memcmp(chunk, "data", 4) == 0 && l.data_at < 0) {
        l.data_at = start;
        l.data_bytes = size;
      }
      const long next = start + static_cast<long>(size) + static_cast<long>(size % 2);
      if (start < 0 || std::fseek(f, next, SEEK_SET) != 0) unreadable(errno);
    }
    return l;
  }

  // The format, the design and the length, against each other.
  SweepDesign check(const Layout& l, SweepFile& out) const {
    if (!l.design) refuse(ProblemCode::invalid_design, "carries no design: " + l.no_design);
    out.params = l.design->params;
    out.inverse = l.design->file == DesignFile::inverse;
    out.program = l.design->program;
    if (const std::optional<Problem> p = check_design(out.params)) {
      refuse(ProblemCode::invalid_design, "carries a design that is not a sweep: " + p->message);
    }
    if (!l.fmt || l.format != 3 || l.channels != 1 || l.bits != 32) {
      refuse(ProblemCode::invalid_design,
             "is not what vellisk wrote: one channel of 32-bit float samples");
    }
    if (static_cast<double>(l.rate) != out.params.rate) {
      refuse(ProblemCode::invalid_design, "has a rate of " + std::to_string(l.rate) +
                                              " Hz where its design gives " +
                                              number_text(out.params.rate));
    }
    if (l.data_at < 0) refuse(ProblemCode::invalid_design, "has no samples (no data chunk)");
    const SweepDesign d = compute_design(out.params);
    const std::int64_t want =
        file_samples(d, out.inverse ? DesignFile::inverse : DesignFile::sweep);
    if (std::int64_t{l.data_bytes} != 4 * want) {
      refuse(ProblemCode::invalid_design, "holds " + std::to_string(l.data_bytes / 4) +
                                              " samples where its design gives " +
                                              std::to_string(want));
    }
    return d;
  }

  // Every sample against the design's, bit for bit.
  void compare(std::FILE* f, const Layout& l, const SweepDesign& d, bool inverse) const {
    if (std::fseek(f, l.data_at, SEEK_SET) != 0) unreadable(errno);
    const std::int64_t total = l.data_bytes / 4;
    std::vector<unsigned char> bytes(4 * kBlock);
    std::vector<float> expected(kBlock);
    for (std::int64_t at = 0; at < total; at += kBlock) {
      const std::int64_t n = std::min(kBlock, total - at);
      const std::size_t got = std::fread(bytes.data(), 4, static_cast<std::size_t>(n), f);
      if (std::ferror(f) != 0) unreadable(errno);
      if (static_cast<std::int64_t>(got) < n) {
        refuse(ProblemCode::invalid_design,
               "ends after " + std::to_string(at + static_cast<std::int64_t>(got)) + " of its " +
                   std::to_string(total) + " samples: it was cut short");
      }
      if (inverse) {
        inverse_samples(d, at, n, expected.data());
      } else {
        sweep_samples(d, at, n, expected.data());
      }
      for (std::int64_t i = 0; i < n; ++i) {
        const std::uint32_t bits = le32(&bytes[static_cast<std::size_t>(4 * i)]);
        const std::uint32_t want =
            std::bit_cast<std::uint32_t>(expected[static_cast<std::size_t>(i)]);
        if (bits == want) continue;
        refuse(ProblemCode::invalid_design,
               "does not match the design it carries: sample " + std::to_string(at + i) + " is " +
                   float_text(std::bit_cast<float>(bits)) + " where the design gives " +
                   float_text(std::bit_cast<float>(want)) + "; write it again with vellisk --wav");
      }
    }
  }

 private:
  static std::string float_text(float v) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, r.ptr);
  }

  std::string name_;
};

}  // namespace

SweepFile read_sweep_file(const std::string& path) {
  const Reader reader(path);
  // Opened without waiting for a FIFO's writer, and refused at once when it is one: the file
  // is read twice, for its design, then its samples.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) reader.unreadable(errno);
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(fd);
    reader.unreadable(error);
  }
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    close(fd);
    reader.refuse(ProblemCode::unreadable,
                  "is a pipe or FIFO: it is read twice, for its design and then its samples; "
                  "save it to a file first");
  }
  const File f(fdopen(fd, "rb"));
  if (!f) {
    const int error = errno;
    close(fd);
    reader.unreadable(error);
  }
  const Layout l = reader.layout(f.get());
  SweepFile out;
  const SweepDesign d = reader.check(l, out);
  reader.compare(f.get(), l, d, out.inverse);
  return out;
}

}  // namespace vellisk
