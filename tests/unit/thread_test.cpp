#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>

#include "common/thread.h"

namespace {

// Sleeps, then marks that its body ran to the end.
class SleepyThread : public Thread {
 public:
  explicit SleepyThread(std::atomic<int>& doneFlag) : done(doneFlag) {}
  ~SleepyThread() override { Join(); }
  void Run() override {
    usleep(20000);
    done.store(1);
  }
  std::atomic<int>& done;
};

// Runs until asked to stop.
class PollingThread : public Thread {
 public:
  ~PollingThread() override { Join(); }
  void Run() override {
    while (!StopRequested()) {
      loops.fetch_add(1);
      usleep(100);
    }
  }
  std::atomic<int> loops{0};
};

// Waits on a condition until the owner has set the value.
class WaitingThread : public Thread {
 public:
  WaitingThread(Mutex& m, Condition& c, int& v) : mutex(m), condition(c), value(v) {}
  ~WaitingThread() override { Join(); }
  void Run() override {
    mutex.Lock();
    while (value == 0) condition.Wait(mutex);
    seen = value;
    mutex.Unlock();
  }
  Mutex& mutex;
  Condition& condition;
  int& value;
  int seen = 0;
};

}  // namespace

TEST(Thread, NeverStartedDestroysAtOnce) {
  i32 before = threadIdCounter;
  {
    Thread a;
    Thread b;
    EXPECT_EQ(a.id, before);
    EXPECT_EQ(b.id, before + 1);
    EXPECT_FALSE(a.started);
    EXPECT_FALSE(a.StopRequested());
    a.Join();  // nothing to join
  }
  EXPECT_EQ(threadIdCounter, before + 2);
}

TEST(Thread, UninitialisedPrimitivesAreNotDestroyed) {
  // Garbage bytes would trip the destroy functions if they were called.
  Mutex* mutex = new Mutex;
  std::memset(static_cast<void*>(&mutex->mutex), 0xA5, sizeof mutex->mutex);
  EXPECT_FALSE(mutex->initialised);
  delete mutex;
  Condition* condition = new Condition;
  std::memset(static_cast<void*>(&condition->condition), 0xA5, sizeof condition->condition);
  EXPECT_FALSE(condition->initialised);
  delete condition;

  Mutex ready;
  ready.Init();
  EXPECT_TRUE(ready.initialised);
  ready.Lock();
  ready.Unlock();
}

TEST(ThreadThreaded, DestructorWaitsForTheBody) {
  std::atomic<int> done{0};
  {
    SleepyThread thread(done);
    ASSERT_TRUE(thread.Start(4u << 20));
    EXPECT_TRUE(thread.started);
  }
  EXPECT_EQ(done.load(), 1);
}

TEST(ThreadThreaded, BaseDestructorJoinsAStartedThread) {
  Thread* thread = new Thread;
  ASSERT_TRUE(thread->Start(1u << 20));
  delete thread;  // the empty base body; the join must not hang
}

TEST(ThreadThreaded, StopRequestEndsAPollingBody) {
  PollingThread thread;
  ASSERT_TRUE(thread.Start(1u << 20));
  while (thread.loops.load() < 3) usleep(100);
  thread.Join();
  EXPECT_TRUE(thread.StopRequested());
  EXPECT_FALSE(thread.started);
}

TEST(ThreadThreaded, ConditionHandsAValueToAWaitingThread) {
  Mutex mutex;
  Condition condition;
  mutex.Init();
  condition.Init();
  int value = 0;
  WaitingThread thread(mutex, condition, value);
  ASSERT_TRUE(thread.Start(1u << 20));
  usleep(1000);
  mutex.Lock();
  value = 42;
  condition.Signal();
  mutex.Unlock();
  thread.Join();
  EXPECT_EQ(thread.seen, 42);
}
