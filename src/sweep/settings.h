// How the library's lines name a request's settings: a mark that the Problem made of the line
// turns into the request's field for the setting in the message, or describe's names.
#pragma once

#include "vellisk/problem.h"

namespace vellisk {

// The mark of a setting in a line under construction: a unit separator and the setting's
// letter. Only a Problem's message reads as words: Problem turns the marks into names.
const char* marked(Setting setting);

// A setting's name as the request's field: "pre", "waterfall_range_ms".
const char* field_name(Setting setting);

}  // namespace vellisk
