// The thread body and split points. Until the parallel search books helpers,
// idle threads only sleep and no node is ever split.
#include "engine/search_thread.h"

void SearchThread::Run() { IdleLoop(nullptr); }

void SearchThread::IdleLoop(SplitPoint* waitFor) {
  // Nothing is ever booked, so a split point has no helpers to wait for.
  if (waitFor) return;
  sleepLock.Lock();
  // Stoppers set the flag before taking sleepLock, so testing it under the
  // lock before each wait loses no wake-up.
  while (!StopRequested()) wakeUp.Wait(sleepLock);
  sleepLock.Unlock();
}

i32 SearchContext::Split(Board&, MovePicker*, i32, i32, i32, i32, i32, u8, u8, u8, i32, i32*,
                         Move*) {
  return 0;
}
