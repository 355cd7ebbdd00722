// Helpers shared by the unit and end-to-end tests.
#pragma once

#include <string>

// True on emulated, sanitized and debug builds, which run the same tests on
// smaller workloads.
constexpr bool SlowTarget() { return ZORVEL_SLOW_TESTS != 0; }

// Picks the workload for this build: the full one natively in Release, the
// small one on emulated or sanitized builds.
template <typename T>
constexpr T ForTarget(T full, T slow) {
  return SlowTarget() ? slow : full;
}

// Path of a file in the tests' reference data (perft counts, test suites).
inline std::string TestDataPath(const std::string& name) {
  return std::string(ZORVEL_TEST_DATA_DIR) + "/" + name;
}
