// Thin holders of POSIX threads, mutexes and condition variables. The owner
// creates, locks, waits and signals; these classes supply the layout, the
// virtual thread body, the start routine and the clean-up rules.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>

#include "common/types.h"

// Source of the thread ids; every Thread takes the next value when it is
// constructed. Threads are created from one thread at a time.
extern i32 threadIdCounter;

class Thread {
 public:
  Thread();
  // Joins the thread when it was started. A derived class whose body may
  // sleep, or whose body uses the derived object, wakes it and calls Join in
  // its own destructor: by the time this one runs the derived part is gone.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The thread body; the base version does nothing.
  virtual void Run();

  // Creates the POSIX thread with the given stack size; sets started and
  // returns true on success. The object must be fully constructed.
  bool Start(std::size_t stackSize);

  // Asks the body to end and waits for it; does nothing when not started.
  void Join();

  bool StopRequested() const { return stopRequested.load(std::memory_order_relaxed) != 0; }
  void RequestStop() { stopRequested.store(1, std::memory_order_relaxed); }

  pthread_t handle{};              // valid while started is set
  pthread_attr_t attributes{};     // prepared by the owner before creation
  std::atomic<u8> stopRequested;   // polled by the body, set by the owner
  i32 id;                          // unique in the process
  u8 started;                      // set after a successful pthread_create
};

// Start routine for pthread_create: runs the Thread's body.
void* ThreadEntry(void* object);

// A POSIX mutex that the owner initialises; destroyed only if it was.
class Mutex {
 public:
  Mutex() = default;
  virtual ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Init();  // default attributes, then initialised = 1
  void Lock() { pthread_mutex_lock(&mutex); }
  void Unlock() { pthread_mutex_unlock(&mutex); }

  pthread_mutex_t mutex{};
  u8 initialised = 0;
};

// A POSIX condition variable that the owner initialises; destroyed only if it was.
class Condition {
 public:
  Condition() = default;
  virtual ~Condition();
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  void Init();  // default attributes, then initialised = 1
  void Wait(Mutex& locked) { pthread_cond_wait(&condition, &locked.mutex); }
  void Signal() { pthread_cond_signal(&condition); }

  pthread_cond_t condition{};
  u8 initialised = 0;
};
