/// @file
/// The whole library: the sweep, the measurement of a response, and the room's parameters.
#pragma once

#include "vellisk/problem.h"
#include "vellisk/response.h"
#include "vellisk/room.h"
#include "vellisk/sweep.h"
#include "vellisk/version.h"
