/// @file
/// The whole library: the sweep, sound files, the measurement of a response, the room's
/// parameters, a loudspeaker's directivity and correction filters.
#pragma once

#include "vellisk/eq.h"
#include "vellisk/files.h"
#include "vellisk/number_text.h"
#include "vellisk/problem.h"
#include "vellisk/response.h"
#include "vellisk/room.h"
#include "vellisk/spin.h"
#include "vellisk/sweep.h"
#include "vellisk/version.h"
