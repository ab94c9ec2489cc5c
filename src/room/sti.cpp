// IEC 60268-16:2020, indirect method: Schroeder's modulation transfer function of the squared
// band response, the level corrections of its Annex A, and the index.
//
// Sources of the constants: the male weighting factors alpha and redundancy factors beta are
// those of the 2020 edition, Table A.1 (the same values as the male factors of the 2003 and
// 2011 editions; the 2020 edition drops the female ones): its verification test A.2.2, two
// neighbouring bands at TI = 1 and the others at 0, gives 0.127, 0.279, 0.398, 0.531, 0.486
// and 0.302, alpha_k + alpha_k+1 - beta_k. The masking slope is the level-dependent one of
// Table A.2 (-35 dB at 60 dB, -29.9 dB at 65, -19.8 dB at 80, -10 dB from 100), the absolute
// speech reception thresholds those of Table A.2 of the 2011 edition, which its Annex M works
// an example with; the rating letters those of Annex F.
#include "room/sti.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "room/decay.h"

namespace vellisk {

namespace {

using Complex = std::complex<double>;

constexpr double kAlpha[kStiBands] = {0.085, 0.127, 0.230, 0.233, 0.309, 0.224, 0.173};
constexpr double kBeta[kStiBands - 1] = {0.085, 0.078, 0.065, 0.011, 0.047, 0.095};
// The absolute speech reception threshold, dB SPL.
constexpr double kReceptionDb[kStiBands] = {46, 27, 12, 6.5, 7.5, 8, 12};

// The effective signal-to-noise ratio is clipped to +-15 dB.
constexpr double kClipDb = 15;

double intensity(double db) { return std::pow(10.0, db / 10); }

}  // namespace

ModulationSums modulation_sums(const EnergyBlocks& blocks, std::int64_t onset, const NoiseFit& noise,
                               double rate) {
  ModulationSums s{};
  std::array<double, kModulations + 1> omega{};  // rad a sample
  for (int f = 0; f < kModulations; ++f) omega[f + 1] = 2 * std::numbers::pi * kModulationHz[f] / rate;
  // A block of energy e and first moment c about its centre t sums to e^(-i w t) (e - i w c)
  // to the first order in w (j - t), which a block of 1 ms keeps below 0.04 rad at 12.5 Hz.
  // The phasors p turn by q block by block, in real arithmetic over the frequencies side by
  // side (complex products would each test for NaN).
  const auto size = static_cast<double>(blocks.size);
  const double half = 0.5 * (size - 1);
  constexpr int kF = kModulations;
  double pr[kF], pi[kF], qr[kF], qi[kF], w[kF], sr[kF] = {}, si[kF] = {};
  const auto place = [&](double at) {  // the phasors at sample `at` from the onset
    for (int f = 0; f < kF; ++f) pr[f] = std::cos(w[f] * at), pi[f] = -std::sin(w[f] * at);
  };
  for (int f = 0; f < kF; ++f) {
    w[f] = omega[f + 1];
    qr[f] = std::cos(w[f] * size), qi[f] = -std::sin(w[f] * size);
  }
  place(static_cast<double>(blocks.first - onset) + half);
  const std::size_t count = blocks.energy.size();
  double total = 0;
  for (std::size_t b = 0; b < count; ++b) {
    double centre = half;  // from the block's first sample
    if (b + 1 == count) {  // the last block may be shorter: its own centre
      const std::int64_t start = blocks.first + static_cast<std::int64_t>(b) * blocks.size;
      centre = 0.5 * static_cast<double>(blocks.last - 1 - start);
      place(static_cast<double>(start - onset) + centre);
    }
    const double e = blocks.energy[b];
    const double c = blocks.moment[b] - e * centre;
    total += e;
    for (int f = 0; f < kF; ++f) {
      // (pr + i pi) (e - i w c)
      const double ci = -w[f] * c;
      sr[f] += pr[f] * e - pi[f] * ci;
      si[f] += pr[f] * ci + pi[f] * e;
      const double r = pr[f] * qr[f] - pi[f] * qi[f];
      pi[f] = pr[f] * qi[f] + pi[f] * qr[f];
      pr[f] = r;
    }
  }
  s[0] = total;
  for (int f = 0; f < kF; ++f) s[f + 1] = Complex(sr[f], si[f]);
  // The late decay beyond the blocks: at_last e^(-k d) at last + d for d >= 1, a geometric
  // series.
  if (noise.compensation > 0 && noise.decay_per_sample > 0) {
    const double k = noise.decay_per_sample;
    const double at_last = noise.compensation * -std::expm1(-k) / std::exp(-k);
    for (int f = 0; f <= kModulations; ++f) {
      const Complex z = std::exp(Complex(-k, -omega[f]));
      s[f] += at_last * std::polar(1.0, -omega[f] * static_cast<double>(blocks.last - onset)) * z /
              (1.0 - z);
    }
  }
  return s;
}

double masking_db(double level) {
  if (level < 63) return 0.5 * level - 65;
  if (level < 67) return 1.8 * level - 146.9;
  if (level < 100) return 0.5 * level - 59.8;
  return -10;
}

ModulationMatrix with_levels(const ModulationMatrix& m, const SpeechLevels& levels) {
  ModulationMatrix out = m;
  double below = 0;  // the intensity of the band below, speech and noise
  double below_db = 0;
  for (int k = 0; k < kStiBands; ++k) {
    const double snr = levels.speech[k] - levels.noise[k];
    const double each = intensity(levels.speech[k]) + intensity(levels.noise[k]);
    const double masking = k == 0 ? 0 : below * intensity(masking_db(below_db));
    const double factor = 1 / (1 + intensity(-snr)) * each / (each + masking + intensity(kReceptionDb[k]));
    for (double& v : out[k]) v *= factor;
    below = each;
    below_db = 10 * std::log10(each);
  }
  return out;
}

SpeechTransmission transmission_index(const ModulationMatrix& m) {
  SpeechTransmission t;
  std::array<double, kStiBands> mti{};
  for (int k = 0; k < kStiBands; ++k) {
    double sum = 0;
    for (const double v : m[k]) {
      // An m of 1 or more has an infinite ratio, one of 0 or less none: both are clipped.
      const double snr = v >= 1   ? kClipDb
                         : v <= 0 ? -kClipDb
                                  : std::clamp(10 * std::log10(v / (1 - v)), -kClipDb, kClipDb);
      sum += (snr + kClipDb) / (2 * kClipDb);
    }
    mti[k] = sum / kModulations;
    t.mti[k] = mti[k];
  }
  double sti = 0;
  for (int k = 0; k < kStiBands; ++k) sti += kAlpha[k] * mti[k];
  for (int k = 0; k + 1 < kStiBands; ++k) sti -= kBeta[k] * std::sqrt(mti[k] * mti[k + 1]);
  t.sti = std::clamp(sti, 0.0, 1.0);
  t.rating = sti_rating(rounded(*t.sti, kStiDecimals));
  return t;
}

std::string sti_rating(double sti) {
  // Edges 0.36, 0.40, ..., 0.76, compared in hundredths so that 0.72 is an A.
  static const char* const kLetters[] = {"U", "J", "I", "H", "G", "F", "E",
                                         "D", "C", "B", "A", "A+"};
  const long hundredths = std::lround(sti * 100);
  if (hundredths < 36) return kLetters[0];
  return kLetters[std::min<long>(11, 1 + (hundredths - 36) / 4)];
}

}  // namespace vellisk
