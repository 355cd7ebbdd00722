// The command-line tools: a first argument that names a tool runs it instead
// of protocol mode. Arguments that do not fit the tool print its usage lines,
// and a bad number, a bad FEN or a file that cannot be opened, read or
// written is named, on standard error; the program then ends with status 1.
#pragma once

class ProtocolManager;

enum class CommandLineOutcome {
  ProtocolMode,      // nothing ran: go on with protocol mode
  OrderlyShutdown,   // a tool ran: shut down in order and end
  EndAtOnce,         // end at once with the status given
};

struct CommandLineResult {
  CommandLineOutcome outcome;
  int exitStatus;  // for EndAtOnce and OrderlyShutdown: 0 the tool ran to its end, 1 it failed
};

// Runs at start-up with two or more arguments, after the engine and the
// protocol chooser exist.
CommandLineResult DispatchCommandLine(ProtocolManager& manager, int argc, char** argv);
