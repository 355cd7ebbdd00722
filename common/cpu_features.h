// The processor features a build is compiled to use, and the start-up check
// that refuses a processor without one of them.
#pragma once

// The first feature this build uses that `supports` denies, by its
// __builtin_cpu_supports name ("popcnt"); nullptr when it denies none, and
// always on builds that use no optional feature (ARM, plain x86-64).
const char* MissingCpuFeature(bool (*supports)(const char* feature));

// The running processor's answer for a feature named by MissingCpuFeature.
bool CpuSupports(const char* feature);

// Ends the process with status 1 and one line on standard error when the
// processor lacks a feature this build uses. It must run before any code
// that may use such an instruction; it uses none itself.
void RefuseUnsupportedCpu();
