// The module's dicts of results, built from the library's structs: a measurement's report and a
// response's room parameters, with the keys and values of the programs' JSON reports.
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "vellisk/response.h"
#include "vellisk/room.h"

namespace vellisk {

// The report of a measurement of the recording named recording, with its warnings' words: the
// keys and values of vellisk-ir's JSON report, with no outputs.
pybind11::dict report_dict(const ResponseReport& report, const std::string& recording,
                           const pybind11::list& warnings);

// A response's room parameters at rate: the keys and values of an entry of vellisk-room's JSON
// report's "files", without its "file".
pybind11::dict room_dict(double rate, const std::vector<ChannelAnalysis>& channels);

}  // namespace vellisk
