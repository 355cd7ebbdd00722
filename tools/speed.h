// Speeds of the tools' reports.
#pragma once

#include "common/types.h"

// count per second over the elapsed microseconds, in double precision and
// truncated; 0 when no time passed, and held to the 32-bit range (a
// conversion out of range would be undefined).
i32 CountPerSecond(double count, double elapsedMicroseconds);
