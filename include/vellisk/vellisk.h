/// @file
/// The whole library: the sweep, the measurement of a response, the room's parameters and a
/// loudspeaker's directivity.
#pragma once

#include "vellisk/problem.h"
#include "vellisk/response.h"
#include "vellisk/room.h"
#include "vellisk/spin.h"
#include "vellisk/sweep.h"
#include "vellisk/version.h"
