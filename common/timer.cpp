#include "common/timer.h"

#include <cstdio>

void Timer::Start() { gettimeofday(&start, nullptr); }

double Timer::ElapsedMicroseconds() const {
  timeval now;
  gettimeofday(&now, nullptr);
  return MicrosecondsBetween(start, now);
}

double MicrosecondsBetween(const timeval& from, const timeval& to) {
  // Differences wrap in 32 bits, as on the 32-bit targets.
  i32 seconds = static_cast<i32>(static_cast<u32>(to.tv_sec) - static_cast<u32>(from.tv_sec));
  i32 micros = static_cast<i32>(static_cast<u32>(to.tv_usec) - static_cast<u32>(from.tv_usec));
  return seconds * 1000000.0 + micros;
}

void FormatTime(char* out, double microseconds) {
  double total = microseconds * 0.001;
  u32 ms;
  if (!(total > 0.0))
    ms = 0;
  else if (total >= 4294967296.0)
    ms = 4294967295u;
  else
    ms = static_cast<u32>(total);
  u32 hours = ms / 3600000;
  ms %= 3600000;
  u32 minutes = ms / 60000;
  ms %= 60000;
  u32 seconds = ms / 1000;
  ms %= 1000;
  std::snprintf(out, FormatTimeBufferSize, "%02u:%02u:%02u.%03u", hours, minutes, seconds, ms);
}
