// Refusal of arguments that would write wrong files, before anything is written.
#pragma once

#include <string>

#include "sweep/sweep_design.h"

// Checks the numbers and the design computed from them: each value's range
// first, then the relations between values, then that every derived quantity
// is finite. Returns "" when the design may be written, otherwise one line that
// names the parameters, the rule and the values given.
std::string design_error(const SweepParams& params, const SweepDesign& design);

// Returns "" unless the two names lead to one file, which the inverse filter
// would overwrite: one path after resolving ".", ".." and symbolic links, or one
// existing file under two names. Names of existing non-regular files, such as
// /dev/null, may be given twice.
std::string output_names_error(const char* sweepfile, const char* inversefile);
