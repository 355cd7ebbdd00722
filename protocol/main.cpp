// Program entry: configuration, log, engine, then a command-line tool or
// protocol mode, and an orderly shutdown.
#include <sys/resource.h>

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

}  // namespace

int main(int argc, char** argv) {
  RaiseStackLimit();
  ProtocolManager manager;
  manager.Configure();
  manager.engine = new Engine();
  manager.SetProtocol(ProtocolNone);

  if (argc >= 2) {
    const CommandLineResult result = DispatchCommandLine(manager, argc, argv);
    if (result.outcome == CommandLineOutcome::EndAtOnce) return result.exitStatus;
    if (result.outcome == CommandLineOutcome::OrderlyShutdown) {
      manager.Shutdown();
      return result.exitStatus;
    }
  }
  manager.RunProtocolMode();
  manager.Shutdown();
  return manager.exitStatus;
}
