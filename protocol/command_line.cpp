#include "protocol/command_line.h"

// The tools are not part of the program yet: every argument list leads to
// protocol mode.
CommandLineResult DispatchCommandLine(ProtocolManager&, int, char**) {
  return CommandLineResult{CommandLineOutcome::ProtocolMode, 0};
}
