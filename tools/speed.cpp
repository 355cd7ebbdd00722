#include "tools/speed.h"

i32 CountPerSecond(double count, double elapsedMicroseconds) {
  if (!(elapsedMicroseconds > 0.0)) return 0;
  const double speed = count / (elapsedMicroseconds * 0.000001);
  if (!(speed < 2147483647.0)) return 2147483647;
  if (!(speed > -2147483648.0)) return 0;
  return static_cast<i32>(speed);
}
