// Program entry: configuration, log, engine, then a command-line tool or
// protocol mode, and an orderly shutdown.
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/cpu_features.h"
#include "common/log.h"
#include "engine/engine.h"
#include "protocol/command_line.h"
#include "protocol/protocol_manager.h"

namespace {

// A build for processors with the population-count instruction refuses one
// without it in one line instead of dying of an illegal instruction. The
// check runs before every other initialiser of the program (the global log's
// among them), any of which may use the instruction.
__attribute__((constructor(101))) void CheckProcessor() { RefuseUnsupportedCpu(); }

constexpr rlim_t WantedStackBytes = 0x400000;

// Deep searches need more stack than some systems give by default.
void RaiseStackLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_STACK, &limit) != 0) return;
  if (limit.rlim_cur >= WantedStackBytes) return;  // unsigned: unlimited stays unlimited
  limit.rlim_cur = WantedStackBytes;
  if (setrlimit(RLIMIT_STACK, &limit) != 0) gLog.Warning("unable to set program stack limit");
}

// A tool's report that does not reach its reader (a full disk, a closed
// device) is a failure: standard output is flushed and its error state
// checked before the program ends.
int ToolExitStatus(int status) {
  const int error = std::fflush(stdout) != 0 ? errno : 0;
  if (error == 0 && !std::ferror(stdout)) return status;
  if (error != 0)
    std::fprintf(stderr, "cannot write standard output (%s)\n", std::strerror(error));
  else
    std::fprintf(stderr, "cannot write standard output\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  RaiseStackLimit();
  ProtocolManager manager;
  manager.Configure();
  manager.engine = new Engine();
  manager.SetProtocol(ProtocolNone);

  if (argc >= 2) {
    const CommandLineResult result = DispatchCommandLine(manager, argc, argv);
    if (result.outcome == CommandLineOutcome::EndAtOnce) return ToolExitStatus(result.exitStatus);
    if (result.outcome == CommandLineOutcome::OrderlyShutdown) {
      manager.Shutdown();
      return ToolExitStatus(result.exitStatus);
    }
  }
  manager.RunProtocolMode();
  manager.Shutdown();
  return manager.exitStatus;
}
