#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "common/log.h"
#include "engine/search_thread.h"
#include "test_support.h"

namespace {

bool AllZero(const void* data, std::size_t bytes) {
  static const unsigned char zeros[4096] = {};
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (std::size_t done = 0; done < bytes; done += sizeof zeros) {
    const std::size_t n = bytes - done < sizeof zeros ? bytes - done : sizeof zeros;
    if (std::memcmp(p + done, zeros, n) != 0) return false;
  }
  return true;
}

bool Aligned64(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 64 == 0; }

// Runs a test in a fresh directory with the global log writing errors and
// warnings to "logfile.txt" there.
class LoggedDirectory {
 public:
  LoggedDirectory() {
    char cwd[4096];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previous = cwd;
    char pattern[] = "/tmp/zorvel_threads_XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
    EXPECT_EQ(chdir(directory.c_str()), 0);
    EXPECT_TRUE(gLog.Open((1 << LogWarning) | (1 << LogError), 0, 0));
  }
  ~LoggedDirectory() {
    gLog.Close();
    EXPECT_EQ(chdir(previous.c_str()), 0);
    std::string command = "rm -rf '" + directory + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  // The log so far; closes it.
  std::string Content() {
    gLog.Close();
    std::ifstream in("logfile.txt");
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  std::string previous;
  std::string directory;
};

// Makes pawn-hash allocations fail while it lives.
struct FailingPawnHash {
  FailingPawnHash() : saved(SearchThread::allocateZeroed) {
    SearchThread::allocateZeroed = [](std::size_t bytes) -> void* {
      lastRequest = bytes;
      return nullptr;
    };
  }
  ~FailingPawnHash() { SearchThread::allocateZeroed = saved; }
  void* (*saved)(std::size_t);
  static std::size_t lastRequest;
};
std::size_t FailingPawnHash::lastRequest = 0;

// Makes thread creation fail from the given index on while it lives.
struct FailingCreation {
  explicit FailingCreation(i32 firstFailing) : saved(ThreadPool::createThread) {
    calls = 0;
    failFrom = firstFailing;
    ThreadPool::createThread = [](pthread_t* handle, const pthread_attr_t* attributes,
                                  void* (*entry)(void*), void* argument) -> int {
      if (++calls >= failFrom) return EAGAIN;
      return pthread_create(handle, attributes, entry, argument);
    };
  }
  ~FailingCreation() { ThreadPool::createThread = saved; }
  int (*saved)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static i32 calls;
  static i32 failFrom;
};
i32 FailingCreation::calls = 0;
i32 FailingCreation::failFrom = 0;

void ExpectFreshThread(const SearchThread& t, i32 index) {
  EXPECT_EQ(t.index, index);
  EXPECT_EQ(t.mask, 1ULL << index);
  EXPECT_TRUE(AllZero(t.killers, sizeof t.killers));
  EXPECT_TRUE(AllZero(t.history, sizeof t.history));
  ASSERT_NE(t.pawnHash, nullptr);
  EXPECT_TRUE(Aligned64(t.pawnHash));
  EXPECT_GE(static_cast<void*>(t.pawnHash), t.pawnHashAllocation);
  EXPECT_LT(reinterpret_cast<std::uintptr_t>(t.pawnHash) -
                reinterpret_cast<std::uintptr_t>(t.pawnHashAllocation),
            64u);
  EXPECT_EQ(t.pawnHashCount, 65536);
  EXPECT_EQ(t.pawnHashMask, 0xFFFF);
  EXPECT_TRUE(AllZero(t.pawnHash, 65536 * sizeof(PawnHashEntry)));
  EXPECT_EQ(t.booked.load(), 0);
  EXPECT_EQ(t.activeSplitPoint, nullptr);
  EXPECT_EQ(t.splitPointCount, 0);
  EXPECT_EQ(t.nodes.load(), 0u);
  EXPECT_EQ(t.npsCounter, 0);
  EXPECT_TRUE(t.sleepLock.initialised);
  EXPECT_TRUE(t.wakeUp.initialised);
  for (const SplitPoint& sp : t.splitPoints) EXPECT_TRUE(sp.lock.initialised);
}

TEST(SearchThreadThreaded, NewThreadIsClean) {
  const i32 before = threadIdCounter;
  auto t = std::make_unique<SearchThread>(5, nullptr, nullptr);
  EXPECT_EQ(t->id, before);
  EXPECT_EQ(threadIdCounter, before + 1);
  EXPECT_FALSE(t->started);
  EXPECT_FALSE(t->StopRequested());
  EXPECT_EQ(t->pool, nullptr);
  EXPECT_EQ(t->engine, nullptr);
  EXPECT_EQ(t->personality, nullptr);
  EXPECT_EQ(t->tt, nullptr);
  ExpectFreshThread(*t, 5);
  auto last = std::make_unique<SearchThread>(63, nullptr, nullptr);
  EXPECT_EQ(last->mask, 0x8000000000000000ULL);
}

TEST(SearchThreadThreaded, PawnHashOutOfMemory) {
  LoggedDirectory logged;
  std::unique_ptr<SearchThread> t;
  {
    FailingPawnHash failing;
    testing::internal::CaptureStderr();
    t = std::make_unique<SearchThread>(1, nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Pawn Hash table : out of memory\n");
    EXPECT_EQ(FailingPawnHash::lastRequest, 65536u * 32u + 63u);
  }
  EXPECT_EQ(t->pawnHash, nullptr);
  EXPECT_EQ(t->pawnHashAllocation, nullptr);
  // The rest of the thread is built as usual.
  EXPECT_TRUE(t->sleepLock.initialised);
  EXPECT_EQ(t->mask, 2u);
  const std::string log = logged.Content();
  EXPECT_NE(log.find("ERROR      Pawns Hash table : out of memory\n"), std::string::npos) << log;
  t.reset();
}

TEST(SearchThreadThreaded, StartedThreadStopsInItsDestructor) {
  for (i32 round = 0; round < 20; ++round) {
    auto t = std::make_unique<SearchThread>(1, nullptr, nullptr);
    ASSERT_TRUE(t->Start(SearchThreadStackSize));
    if (round % 2) usleep(1000);  // now asleep; otherwise perhaps not yet
    t.reset();
  }
}

TEST(ThreadPoolThreaded, ThreadCountIsClampedAndRecreates) {
  ThreadPool pool;
  EXPECT_EQ(pool.threadCount, 1);
  EXPECT_TRUE(pool.threads.empty());
  EXPECT_EQ(pool.mainThread, nullptr);
  EXPECT_TRUE(pool.lock.initialised);

  pool.SetThreadCount(4);
  ASSERT_EQ(pool.threads.size(), 4u);
  EXPECT_EQ(pool.mainThread, pool.threads[0]);
  EXPECT_FALSE(pool.threads[0]->started);
  for (i32 i = 0; i < 4; ++i) {
    EXPECT_EQ(pool.threads[i]->index, i);
    EXPECT_EQ(pool.threads[i]->pool, &pool);
    EXPECT_EQ(pool.threads[i]->started != 0, i > 0);
  }
  // The same count changes nothing.
  const std::vector<SearchThread*> before = pool.threads;
  pool.SetThreadCount(4);
  EXPECT_EQ(pool.threads, before);

  for (const i32 request : {0, -5}) {
    pool.SetThreadCount(2);
    pool.SetThreadCount(request);
    EXPECT_EQ(pool.threadCount, 1);
    ASSERT_EQ(pool.threads.size(), 1u);
    EXPECT_EQ(pool.mainThread, pool.threads[0]);
    EXPECT_FALSE(pool.mainThread->started);
  }
  pool.SetThreadCount(100);
  EXPECT_EQ(pool.threadCount, 64);
  ASSERT_EQ(pool.threads.size(), 64u);
  for (i32 i = 0; i < 64; ++i) {
    const SearchThread* t = pool.threads[i];
    EXPECT_EQ(t->index, i);
    EXPECT_EQ(t->started != 0, i > 0);
    ASSERT_NE(t->pawnHash, nullptr);
    EXPECT_TRUE(Aligned64(t->pawnHash));
  }
  for (const i32 i : {0, 1, 63}) ExpectFreshThread(*pool.threads[i], i);
  EXPECT_EQ(pool.threads[63]->mask, 1ULL << 63);
  pool.StopAll();
  EXPECT_TRUE(pool.threads.empty());
  EXPECT_EQ(pool.mainThread, nullptr);
  pool.StopAll();  // nothing left to stop
}

TEST(ThreadPoolThreaded, IdsGrowAcrossRecreations) {
  ThreadPool pool;
  pool.SetThreadCount(3);
  const i32 first = pool.threads[0]->id;
  for (i32 i = 1; i < 3; ++i) EXPECT_EQ(pool.threads[i]->id, first + i);
  pool.CreateThreads();
  ASSERT_EQ(pool.threads.size(), 3u);
  for (i32 i = 0; i < 3; ++i) EXPECT_EQ(pool.threads[i]->id, first + 3 + i);
  EXPECT_EQ(threadIdCounter, first + 6);
}

TEST(ThreadPoolThreaded, CreateAndStopCycles) {
  ThreadPool pool;
  for (i32 cycle = 0; cycle < ForTarget(40, 10); ++cycle) {
    pool.SetThreadCount(cycle % 2 ? 8 : 7);
    for (SearchThread* t : pool.threads) {
      EXPECT_EQ(t->started != 0, t->index > 0);
      ASSERT_NE(t->pawnHash, nullptr);
      EXPECT_TRUE(Aligned64(t->pawnHash));
    }
    if (cycle % 3 == 0) usleep(500);  // some cycles stop sleeping threads
    pool.StopAll();
    EXPECT_TRUE(pool.threads.empty());
  }
  for (i32 cycle = 0; cycle < ForTarget(4, 2); ++cycle) {
    pool.SetThreadCount(64 - cycle);
    EXPECT_EQ(pool.threads.size(), static_cast<std::size_t>(64 - cycle));
  }
  // The destructor stops the last set.
}

TEST(ThreadPoolThreaded, FailedCreationIsKeptUnstartedAndDeletedWithoutJoin) {
  LoggedDirectory logged;
  ThreadPool pool;
  {
    FailingCreation failing(3);  // threads 1 and 2 start, 3 and 4 fail
    pool.SetThreadCount(5);
  }
  ASSERT_EQ(pool.threads.size(), 5u);
  EXPECT_TRUE(pool.threads[1]->started);
  EXPECT_TRUE(pool.threads[2]->started);
  EXPECT_FALSE(pool.threads[3]->started);
  EXPECT_FALSE(pool.threads[4]->started);
  const i32 id3 = pool.threads[3]->id;
  const i32 id4 = pool.threads[4]->id;
  pool.StopAll();
  EXPECT_TRUE(pool.threads.empty());
  const std::string log = logged.Content();
  EXPECT_NE(log.find("ERROR      Thread " + std::to_string(id3) +
                     " creation error : " + std::to_string(EAGAIN) + "\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ERROR      Thread " + std::to_string(id4) + " creation error : "),
            std::string::npos);
  EXPECT_EQ(log.find("stack limit"), std::string::npos);
}

}  // namespace
