// Search threads with their per-thread tables, and the pool that creates,
// counts and stops them.
#include "engine/search_thread.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/log.h"
#include "engine/engine.h"

namespace {

void* CallocZeroed(std::size_t bytes) { return std::calloc(1, bytes); }

static_assert(sizeof(PawnHashEntry) == 32, "pawn hash entries are 32 bytes");

// The pawn hash block: the entries and 63 spare bytes for the alignment.
constexpr std::size_t PawnHashBytes =
    static_cast<std::size_t>(PawnHashEntries) * sizeof(PawnHashEntry) + 63;

// Wakes a thread sleeping in IdleLoop. The flag or booking it should see
// is set before the lock is taken, and IdleLoop tests it under the lock
// before every wait, so the signal cannot be lost.
void WakeThread(SearchThread* thread) {
  thread->sleepLock.Lock();
  thread->wakeUp.Signal();
  thread->sleepLock.Unlock();
}

}  // namespace

void* (*SearchThread::allocateZeroed)(std::size_t bytes) = CallocZeroed;
void (*SearchThread::lastLeaving)(SearchThread& helper, SearchThread& master) = nullptr;
void (*SearchThread::destroying)(SearchThread& thread) = nullptr;
int (*ThreadPool::createThread)(pthread_t* handle, const pthread_attr_t* attributes,
                                void* (*entry)(void*), void* argument) = pthread_create;

SearchThread::SearchThread(i32 indexIn, ThreadPool* poolIn, Engine* engineIn)
    : index(indexIn), mask(1ULL << indexIn), pool(poolIn), engine(engineIn) {
  sleepLock.Init();
  wakeUp.Init();
  if (engine) {
    personality = engine;
    tt = &engine->tt;
  }
  for (SplitPoint& sp : splitPoints) sp.lock.Init();

  pawnHashCount = PawnHashEntries;
  pawnHashMask = static_cast<i32>(PawnHashMask);
  pawnHashAllocation = allocateZeroed(PawnHashBytes);
  if (!pawnHashAllocation) {
    gLog.Error("Pawns Hash table : out of memory");
    std::fputs("Pawn Hash table : out of memory\n", stderr);
    return;
  }
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(pawnHashAllocation);
  pawnHash = reinterpret_cast<PawnHashEntry*>((address + 63) & ~static_cast<std::uintptr_t>(63));
}

SearchThread::~SearchThread() {
  if (destroying) destroying(*this);
  // The body sleeps on wakeUp and uses this object: stop it while the
  // members still live.
  if (started) {
    RequestStop();
    WakeThread(this);
    Join();
  }
  std::free(pawnHashAllocation);
  pawnHashAllocation = nullptr;
  pawnHash = nullptr;
}

ThreadPool::ThreadPool() { lock.Init(); }

ThreadPool::~ThreadPool() { StopAll(); }

void ThreadPool::SetThreadCount(i64 n) {
  // Whatever a caller passes is held to the pool's range.
  const i32 count = n < MinSearchThreads   ? MinSearchThreads
                    : n > MaxSearchThreads ? MaxSearchThreads
                                           : static_cast<i32>(n);
  if (count == threadCount) return;
  threadCount = count;
  CreateThreads();
}

void ThreadPool::CreateThreads() {
  if (!threads.empty()) StopAll();
  threads.reserve(static_cast<std::size_t>(threadCount));

  mainThread = new SearchThread(0, this, engine);
  threads.push_back(mainThread);

  for (i32 i = 1; i < threadCount; ++i) {
    SearchThread* thread = new SearchThread(i, this, engine);
    threads.push_back(thread);
    thread->stopRequested.store(0, std::memory_order_relaxed);
    pthread_attr_init(&thread->attributes);
    std::size_t stackSize = 0;
    if (pthread_attr_getstacksize(&thread->attributes, &stackSize) != 0)
      gLog.Warning("unable to get thread stack limit");
    else if (pthread_attr_setstacksize(&thread->attributes, SearchThreadStackSize) != 0)
      gLog.Warning("unable to set thread stack limit");
    const int error = createThread(&thread->handle, &thread->attributes, ThreadEntry, thread);
    pthread_attr_destroy(&thread->attributes);
    if (error == 0)
      thread->started = 1;
    else
      gLog.Error("Thread %d creation error : %d", thread->id, error);
  }
}

void ThreadPool::StopAll() {
  // Nothing is deleted before every started thread has been joined: a helper
  // that leaves a split point wakes its master afterwards, outside the split
  // point's lock, and that master may be any thread, thread 0 included.
  // Thread 0 and threads whose creation failed have nothing to join.
  for (SearchThread* thread : threads) {
    if (!thread || !thread->started) continue;
    thread->RequestStop();
    WakeThread(thread);
  }
  for (SearchThread* thread : threads) {
    if (!thread || !thread->started) continue;
    pthread_join(thread->handle, nullptr);
    thread->handle = pthread_t{};
    thread->started = 0;
  }
  for (SearchThread*& thread : threads) {
    delete thread;
    thread = nullptr;
  }
  threads.clear();
  mainThread = nullptr;
}
