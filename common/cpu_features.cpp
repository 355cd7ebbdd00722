#include "common/cpu_features.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* MissingCpuFeature(bool (*supports)(const char* feature)) {
#if defined(__POPCNT__)
  if (!supports("popcnt")) return "popcnt";
#endif
  (void)supports;
  return nullptr;
}

bool CpuSupports(const char* feature) {
#if defined(__x86_64__) || defined(__i386__)
  // Called before the run-time library's own constructors have filled in
  // the processor model.
  __builtin_cpu_init();
  if (std::strcmp(feature, "popcnt") == 0) return __builtin_cpu_supports("popcnt");
#endif
  (void)feature;
  return false;
}

void RefuseUnsupportedCpu() {
  const char* missing = MissingCpuFeature(CpuSupports);
  if (!missing) return;
  std::fprintf(stderr,
               "zorvel: this processor lacks the %s instruction this build uses "
               "(build with -DZORVEL_X86_64_BASELINE=ON for it)\n",
               missing);
  // Nothing else has run yet, and nothing is to be torn down.
  std::_Exit(1);
}
