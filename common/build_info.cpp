#include "common/build_info.h"

const char* const EngineVersion = "2.0";
const char* const WordSizeLabel = sizeof(void*) == 4 ? "32 bits" : "64 bits";
const char* const BuildDate = __DATE__;
const char* const BuildTime = __TIME__;
#if defined(__POPCNT__)
const bool HardwarePopCount = true;
#else
const bool HardwarePopCount = false;
#endif
