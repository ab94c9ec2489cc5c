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
  }
  return "setting";
}

std::atomic<SettingNames> names{field_name};

}  // namespace

void name_settings(SettingNames given) { names.store(given != nullptr ? given : field_name); }

const char* setting_name(Setting setting) { return names.load()(setting); }

}  // namespace vellisk
