// The handler before the first command: turns "uci" or "xboard" into the
// real protocol handler.
#pragma once

#include "protocol/console_listener.h"
#include "protocol/protocol_manager.h"

class ProtocolChooser : public ProtocolHandler {
 public:
  explicit ProtocolChooser(ProtocolManager* owner);

  void Start() override;
  i32 ProcessCommand(const char* line) override;
  CommandKind Classify(const char* line) const override;

  ConsoleListener listener;
};
