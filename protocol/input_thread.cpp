#include "protocol/input_thread.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "common/log.h"
#include "protocol/protocol_manager.h"

namespace {

// How long the thread waits for input before it looks at the quit flag
// again: a quit set by the main thread ends the thread within this time.
constexpr int QuitCheckMilliseconds = 100;

}  // namespace

InputThread::InputThread(ProtocolManager* owner) : manager(owner) {}

InputThread::~InputThread() { Join(); }

bool InputThread::Launch() {
  pthread_attr_init(&attributes);
  std::size_t defaultSize = 0;
  if (pthread_attr_getstacksize(&attributes, &defaultSize) != 0)
    gLog.Warning("unable to get thread stack limit");
  else if (pthread_attr_setstacksize(&attributes, InputThreadStackSize) != 0)
    gLog.Warning("unable to set thread stack limit");
  const int error = pthread_create(&handle, &attributes, ThreadEntry, this);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    gLog.Error("Thread %d creation error : %d", id, error);
    return false;
  }
  started = 1;
  return true;
}

void InputThread::Run() {
  while (!manager->quit) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, QuitCheckMilliseconds);
    if (ready == 0) continue;
    if (ready < 0 && errno == EINTR) continue;
    // Data, end of input or an error: the read tells which.
    const i32 read = ready < 0 ? 0 : manager->ReadLine();
    manager->HandleRead(read);
    if (read == 0) break;
  }
  // After the end of the input a requested search still runs and answers.
  manager->lock.Lock();
  if (manager->quit) manager->searchPending = 0;
  manager->wakeUp.Signal();
  manager->lock.Unlock();
}
