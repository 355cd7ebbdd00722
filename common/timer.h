// Wall-clock timing in microseconds and the duration text of the tools.
#pragma once

#include <sys/time.h>

#include "common/types.h"

struct Timer {
  timeval start{};  // stamp of the last Start

  void Start();
  double ElapsedMicroseconds() const;
};

// Microseconds from one stamp to another, the seconds and microseconds
// differences each taken as a 32-bit signed number.
double MicrosecondsBetween(const timeval& from, const timeval& to);

// Room FormatTime needs for any duration: up to 1193 hours fit "hhhh:mm:ss.mmm".
constexpr i32 FormatTimeBufferSize = 16;

// Writes the duration as "hh:mm:ss.mmm" (hours not limited to two digits)
// into out, which holds at least FormatTimeBufferSize characters. Negative
// durations read as 0; durations of 2^32 ms and more as 2^32 - 1 ms.
void FormatTime(char* out, double microseconds);
