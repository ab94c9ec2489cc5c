// The words of a room analysis's notes, and of an average's over positions.
#include "room/room.h"
#include "sweep/printf_line.h"
#include "vellisk/room.h"

namespace vellisk {

namespace {

const char* time_name(DecayTime t) {
  switch (t) {
    case DecayTime::t20: return "T20";
    case DecayTime::t30: return "T30";
    case DecayTime::edt: break;
  }
  return "EDT";
}

// A decay time's note, with its name t.
std::string time_words(const RoomNote& n, const char* t) {
  switch (n.code) {
    case RoomNoteCode::range_too_short:
      return printf_line("decay range %.1f dB < %.0f dB needed for %s", n.value, n.second, t);
    case RoomNoteCode::inr_too_short:
      return printf_line("INR %.1f dB < %.0f dB needed for %s", n.value, n.second, t);
    case RoomNoteCode::decay_not_reached:
      return printf_line("%s: the decay does not reach %.0f dB", t, n.value);
    case RoomNoteCode::no_decay_to_fit: return printf_line("%s: no decay to fit", t);
    case RoomNoteCode::not_a_line:
      return printf_line("%s not given: the decay curve is no line from %.0f to %.0f dB (its fit falls "
                  "%.1f dB)",
                  t, n.value, n.second, n.third);
    default: break;
  }
  return printf_line("%s correlation %.4f is weaker than -0.95", t, n.value);
}

// The words of the tail's notes: the end of the response, and the noise compensation.
std::string tail_words(const RoomNote& n) {
  switch (n.code) {
    case RoomNoteCode::no_inr:
      return printf_line("the response ends above any noise floor, %.1f dB into its decay: no INR", n.value);
    case RoomNoteCode::too_short:
      return printf_line("the response ends above any noise floor, %.1f dB into its decay: it is too "
                  "short%s",
                  n.value,
                  n.second > 0 ? printf_line("; T30 needs about %.1f s after the onset", n.second).c_str()
                               : "");
    case RoomNoteCode::unreliable_compensation:
      return printf_line("the noise compensation is unreliable: the late decay is nearly flat (%.1f dB/s, "
                  "against %.1f dB/s before)",
                  n.value, n.second);
    default: break;
  }
  return printf_line("the late decay line would add %.0f %% of the band's energy past the response%s: no "
              "tail is added, and every value counts only the energy the response holds",
              n.value,
              n.code == RoomNoteCode::tail_past_end ? " and put the centre time past its end" : "");
}

}  // namespace

std::string describe(const RoomNote& n) {
  switch (n.code) {
    case RoomNoteCode::range_too_short:
    case RoomNoteCode::inr_too_short:
    case RoomNoteCode::decay_not_reached:
    case RoomNoteCode::no_decay_to_fit:
    case RoomNoteCode::not_a_line:
    case RoomNoteCode::weak_correlation: return time_words(n, time_name(n.time));
    case RoomNoteCode::high_curvature: return printf_line("curvature %.1f %% is above 10 %%", n.value);
    case RoomNoteCode::no_clarity_energy: {
      const int ms = static_cast<int>(n.value);
      return printf_line("no energy before or after %d ms: no C%d%s", ms, ms, ms == 50 ? " or D50" : "");
    }
    case RoomNoteCode::no_inr:
    case RoomNoteCode::too_short:
    case RoomNoteCode::unreliable_compensation:
    case RoomNoteCode::tail_too_large:
    case RoomNoteCode::tail_past_end: return tail_words(n);
    case RoomNoteCode::no_decay:
      return printf_line("no decay stands 10 dB above the noise (INR %.1f dB)", n.value);
    case RoomNoteCode::no_energy_after_onset: return "no energy after the onset";
    case RoomNoteCode::ends_in_silence:
      return printf_line("the response ends %.1f ms after its peak, in digital silence: no decay to "
                  "measure",
                  n.value);
    case RoomNoteCode::no_onset: return printf_line("peak only %.1f dB above the noise: no onset", n.value);
    case RoomNoteCode::band_below_noise:
      return "band " + n.band + " stands less than 20 dB above its noise: no STI";
    case RoomNoteCode::octave_left_out:
      return "the " + n.band + " octave is left out at this rate: no STI";
    case RoomNoteCode::no_sti_onset: break;
  }
  return "no onset: no STI";
}

std::vector<std::string> describe(const std::vector<RoomNote>& notes) {
  std::vector<std::string> words;
  words.reserve(notes.size());
  for (const RoomNote& n : notes) words.push_back(describe(n));
  return words;
}

std::string describe_sti_method(const std::string& levels_name) {
  if (levels_name.empty()) {
    return "STI (IEC 60268-16:2020) of each response alone: no background noise, auditory masking "
           "or reception threshold (--levels adds them).";
  }
  return "STI (IEC 60268-16:2020) with the speech and noise levels of " + levels_name +
         ": background noise, auditory masking and reception threshold.";
}

std::string describe_no_parameters(const ChannelAnalysis& c) {
  if (c.onset_found) return "";
  if (c.ends_ms) return describe(RoomNote(RoomNoteCode::ends_in_silence, *c.ends_ms)) + ", no parameters";
  return printf_line("peak only %.1f dB above the noise, %.0f dB needed: no onset, no parameters",
                     shown_peak_to_noise(c.peak_to_noise_db), kMinPeakToNoiseDb);
}

std::string quantity_name(AveragedQuantity q) {
  switch (q) {
    case AveragedQuantity::edt: return "EDT";
    case AveragedQuantity::t20: return "T20";
    case AveragedQuantity::t30: return "T30";
    case AveragedQuantity::c80: return "C80";
    case AveragedQuantity::d50: return "D50";
    case AveragedQuantity::ts: return "Ts";
    case AveragedQuantity::t30_mid: return "T30 mid";
    case AveragedQuantity::edt_mid: return "EDT mid";
    case AveragedQuantity::c80_mid: return "C80 mid";
    case AveragedQuantity::d50_mid: return "D50 mid";
    case AveragedQuantity::ts_mid: return "Ts mid";
    case AveragedQuantity::bass_ratio: return "bass ratio (Beranek)";
    case AveragedQuantity::sti: break;
  }
  return "STI";
}

std::string describe(const AverageNote& n) {
  std::string names, at;
  for (const AveragedQuantity q : n.values) names += (names.empty() ? "" : ", ") + quantity_name(q);
  for (const std::string& m : n.missing) at += (at.empty() ? "" : "; ") + m;
  const int from = n.positions - static_cast<int>(n.missing.size());
  return names + ": no value at " + at + "; from " + std::to_string(from) + " of " +
         std::to_string(n.positions) + " positions";
}

std::vector<std::string> describe(const std::vector<AverageNote>& notes) {
  std::vector<std::string> words;
  words.reserve(notes.size());
  for (const AverageNote& n : notes) words.push_back(describe(n));
  return words;
}

}  // namespace vellisk
