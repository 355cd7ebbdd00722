// The thread that reads standard input and runs the commands while the main
// thread searches.
#pragma once

#include "common/thread.h"

class ProtocolManager;

// Stack of the input thread.
constexpr unsigned InputThreadStackSize = 4u * 1024u * 1024u;

class InputThread : public Thread {
 public:
  explicit InputThread(ProtocolManager* owner);
  ~InputThread() override;

  // Creates the thread with a 4 MiB stack; false (and an ERROR line) when it
  // cannot be created.
  bool Launch();

  // Reads and handles lines until the manager's quit flag is set or the
  // input ends (the program then ends after the busy search).
  void Run() override;

  ProtocolManager* manager;
};
