// Version and build texts shown in banners, "-help" and the log.
#pragma once

// The engine's version text.
extern const char* const EngineVersion;

// "32 bits" or "64 bits", whichever word size this build targets.
extern const char* const WordSizeLabel;

// The build's date and time as the compiler's date and time macros give them.
extern const char* const BuildDate;
extern const char* const BuildTime;

// True when the build counts bits with the processor's population-count
// instruction, false when it counts them in software.
extern const bool HardwarePopCount;
