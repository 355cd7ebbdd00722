#include "protocol/protocol_chooser.h"

#include <cstring>

#include "common/log.h"
#include "engine/engine.h"

ProtocolChooser::ProtocolChooser(ProtocolManager* owner) {
  manager = owner;
  engine = owner->engine;
}

void ProtocolChooser::Start() {
  engine->listener = &listener;
  listener.engine = engine;
  listener.protocol = this;
  listener.manager = manager;
}

i32 ProtocolChooser::ProcessCommand(const char* line) {
  if (std::strcmp(line, "uci") == 0) {
    // Deletes this handler; nothing of it may be touched afterwards.
    manager->SetProtocol(ProtocolUci);
    return 1;
  }
  if (std::strcmp(line, "xboard") == 0) {
    manager->SetProtocol(ProtocolXBoard);
    return 1;
  }
  if (std::strncmp(line, "setvalue ", 9) == 0) return 1;
  if (std::strcmp(line, "quit") == 0) return 0;
  gLog.Error("unknown protocol '%s'", line);
  // A dialogue that cannot start is a failure of the program.
  manager->exitStatus = 1;
  return 0;
}

CommandKind ProtocolChooser::Classify(const char* line) const {
  return std::strcmp(line, "quit") == 0 ? CommandKind::Immediate : CommandKind::Deferred;
}
