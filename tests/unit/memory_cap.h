// Runs a piece of code in a child process that has little memory left, to see
// that a failed large allocation is reported and handled, not fatal.
#pragma once

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/log.h"

// Exit status of a child in which the address-space cap does not hold (an
// emulator): the test cannot be made there.
constexpr int MemoryCapNotEnforced = 77;

// Forks; the child logs errors as text into logDir, caps its address space at
// 8 MiB beyond what it uses now and returns body()'s result as its exit status
// (2 when the set-up fails). Returns that status, or -1 when the child did not
// exit normally.
template <typename Body>
int RunUnderMemoryCap(const std::string& logDir, Body body) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    // Earlier tables of this process may have left free heap behind, which a
    // large request would reuse: hand it back and send large requests to
    // fresh mappings.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    malloc_trim(0);
    if (chdir(logDir.c_str()) != 0) _exit(2);
    gLog.Open(1 << LogError, 0, 0);
    std::FILE* status = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (!status || std::fscanf(status, "%lu", &pages) != 1) _exit(2);
    std::fclose(status);
    const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (8u << 20);
    const rlimit cap = {limit, limit};
    if (setrlimit(RLIMIT_AS, &cap) != 0) _exit(2);
    void* probe = std::malloc(16u << 20);
    if (probe != nullptr) _exit(MemoryCapNotEnforced);
    const int result = body();
    gLog.Close();
    _exit(result);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
