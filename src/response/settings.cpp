// The names problems' lines give a request's settings.
#include <atomic>

#include "vellisk/problem.h"

namespace vellisk {

namespace {

const char* field_name(Setting setting) {
  switch (setting) {
    case Setting::pre: return "pre";
    case Setting::length: return "length";
    case Setting::harmonics: return "harmonics";
    case Setting::drift: return "drift";
    case Setting::reference: return "reference";
    case Setting::repeat: return "repeat";
    case Setting::smooth: return "smooth";
    case Setting::gate: return "gate";
    case Setting::align: return "align";
    case Setting::waterfall_range: return "waterfall_range_ms";
    case Setting::mic_calibration: return "mic_calibration";
    case Setting::spl_calibration: return "spl_calibration";
    case Setting::spl_level: return "spl_level_db";
  }
  return "setting";
}

std::atomic<SettingNames> names{field_name};

}  // namespace

void name_settings(SettingNames given) { names.store(given != nullptr ? given : field_name); }

const char* setting_name(Setting setting) { return names.load()(setting); }

}  // namespace vellisk
