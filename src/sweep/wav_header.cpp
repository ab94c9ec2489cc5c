// The WAV header of a file of float32 samples.
#include "sweep/wav_header.h"

namespace vellisk {

namespace {

constexpr std::int64_t kFmtBytes = 18;
constexpr std::int64_t kFactBytes = 4;
constexpr std::int64_t kSize32 = 0xffffffff;

void put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
}

void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xffff);
  put16(out, v >> 16);
}

// The chunk header: id and size.
void chunk(std::string& out, const char* id, std::int64_t size) {
  out.append(id, 4);
  put32(out, static_cast<std::uint32_t>(size));
}

}  // namespace

std::int64_t wav_header_bytes(std::string_view info_list) {
  const auto list = static_cast<std::int64_t>(info_list.size());
  return 12 + (8 + kFmtBytes) + (8 + kFactBytes) + (8 + list) + 8;
}

std::int64_t wav_max_samples(std::string_view info_list) {
  // RIFF's size counts everything after its first 8 bytes.
  return (kSize32 + 8 - wav_header_bytes(info_list)) / 4;
}

std::string wav_header(std::uint32_t rate, std::uint32_t frames, std::string_view info_list,
                       std::uint16_t channels) {
  const std::int64_t data = 4 * std::int64_t{channels} * frames;
  std::string out;
  chunk(out, "RIFF", wav_header_bytes(info_list) - 8 + data);
  out += "WAVE";
  chunk(out, "fmt ", kFmtBytes);
  put16(out, 3);  // WAVE_FORMAT_IEEE_FLOAT
  put16(out, channels);
  put32(out, rate);
  put32(out, 4 * channels * rate);  // bytes a second
  put16(out, 4 * channels);         // bytes a frame
  put16(out, 32);                   // bits a sample
  put16(out, 0);                    // bytes of extension: none, but the field is there
  chunk(out, "fact", kFactBytes);
  put32(out, frames);
  chunk(out, "LIST", static_cast<std::int64_t>(info_list.size()));
  out += info_list;
  chunk(out, "data", data);
  return out;
}

std::int64_t file_samples(const SweepDesign& design, DesignFile file) {
  const std::int64_t n = design.sweeplen;
  return file == DesignFile::sweep ? n + 2 * std::int64_t{design.silencelen} : n;
}

std::string design_wav_header(const SweepParams& params, const SweepDesign& design,
                              DesignFile file) {
  return wav_header(static_cast<std::uint32_t>(params.rate),
                    static_cast<std::uint32_t>(file_samples(design, file)),
                    design_info_list(params, file));
}

}  // namespace vellisk
