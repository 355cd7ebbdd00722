#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/log.h"
#include "engine/tt.h"
#include "test_support.h"

namespace {

// Keys sharing the bucket that starts at entry 4 of a 1 MB table.
u64 BucketKey(u32 high) { return (static_cast<u64>(high) << 32) | 4u; }

const Move SomeMove = EncodeMove(12, 28, Pawn, 0, 0, MoveFlagDoublePush);

// Whether an entry holds anything, read as the search reads: tables of a
// huge page or more have background threads touching their pages.
bool Holds(const TTEntry& e) {
  return (__atomic_load_n(&e.check, __ATOMIC_RELAXED) |
          __atomic_load_n(&e.payload, __ATOMIC_RELAXED)) != 0;
}

class TranspositionTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(tt.Resize(1), 1); }

  // Fills the bucket of BucketKey with four foreign entries of the given
  // depths, each written by the search of the given age.
  void FillBucket(const u32 depths[4], const u32 ages[4]) {
    for (int i = 0; i < 4; ++i) {
      tt.age = ages[i];
      tt.Store(BucketKey(100 + i), SomeMove, 0, static_cast<i32>(depths[i]), 0, BoundExact);
    }
  }

  int SlotOf(u64 key) const {
    for (int i = 0; i < 4; ++i)
      if (tt.entries[4 + i].StoredKey() == key) return i;
    return -1;
  }

  TranspositionTable tt;
};

// Makes every allocation fail while it lives.
struct FailingAllocator {
  FailingAllocator() : saved(TranspositionTable::allocateZeroed) {
    TranspositionTable::allocateZeroed = [](std::size_t bytes) -> void* {
      lastRequest = bytes;
      return nullptr;
    };
  }
  ~FailingAllocator() { TranspositionTable::allocateZeroed = saved; }
  void* (*saved)(std::size_t);
  static std::size_t lastRequest;
};
std::size_t FailingAllocator::lastRequest = 0;

std::string ReadFile(const std::string& name) {
  std::ifstream in(name);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

TEST(TranspositionTableSize, RequestsRoundUpToPowersOfTwo) {
  EXPECT_EQ(HashTableMegabytes(-5), 1u);
  EXPECT_EQ(HashTableMegabytes(0), 1u);
  EXPECT_EQ(HashTableMegabytes(1), 1u);
  EXPECT_EQ(HashTableMegabytes(2), 2u);
  EXPECT_EQ(HashTableMegabytes(3), 4u);
  EXPECT_EQ(HashTableMegabytes(100), 128u);
  EXPECT_EQ(HashTableMegabytes(2048), 2048u);
  EXPECT_EQ(HashTableMegabytes(4097), 8192u);
  EXPECT_EQ(HashTableMegabytes(32768), 32768u);
  EXPECT_EQ(HashTableMegabytes(32769), 1u);
  EXPECT_EQ(HashTableMegabytes(INT32_MAX), 1u);
  // Byte counts beyond 32 bits do not wrap.
  EXPECT_EQ(HashTableBytes(65536), 1048576u + 63u);
  EXPECT_EQ(HashTableBytes(4096u * 65536u), (1ull << 32) + 63u);
  EXPECT_EQ(HashTableBytes(32768u * 65536u), (1ull << 35) + 63u);
}

TEST(TranspositionTableSize, ResizeGivesAlignedZeroedStorageAndLogsTheRequest) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  char directory[] = "/tmp/zorvel_tt_XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  ASSERT_EQ(chdir(directory), 0);
  gLog.Open(1, 0, 0);

  TranspositionTable tt;
  EXPECT_FALSE(tt.HasStorage());
  for (i32 request : {0, 1, 32769}) {
    ASSERT_EQ(tt.Resize(request), 1);
    EXPECT_EQ(tt.entryCount, 65536u);
    EXPECT_EQ(tt.indexMask, 65532u);
  }
  ASSERT_EQ(tt.Resize(3), 1);
  EXPECT_EQ(tt.entryCount, 262144u);
  EXPECT_EQ(tt.indexMask, 262140u);
  EXPECT_EQ(tt.age, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(tt.entries) % 64, 0u);
  EXPECT_LE(reinterpret_cast<char*>(tt.entries) - static_cast<char*>(tt.allocation), 63);
  EXPECT_EQ(sizeof(TTEntry), 16u);
  for (u32 i = 0; i < tt.entryCount; i += 4099) EXPECT_FALSE(Holds(tt.entries[i]));
  tt.Free();
  EXPECT_FALSE(tt.HasStorage());
  EXPECT_EQ(tt.entryCount, 262144u);

  gLog.Close();
  std::string log = ReadFile("logfile.txt");
  ASSERT_EQ(chdir(cwd), 0);
  unlink((std::string(directory) + "/logfile.txt").c_str());
  rmdir(directory);
  size_t at = 0;
  for (const char* line : {"Init main hash table : 0 Mb", "Init main hash table : 1 Mb",
                           "Init main hash table : 32769 Mb", "Init main hash table : 3 Mb"}) {
    at = log.find(line, at);
    EXPECT_NE(at, std::string::npos) << line;
  }
}

TEST(TranspositionTableSize, FailedAllocationLeavesATableThatKeepsNothing) {
  TranspositionTable tt;
  ASSERT_EQ(tt.Resize(1), 1);
  tt.Store(BucketKey(1), SomeMove, 10, 8, 0, BoundExact);
  {
    FailingAllocator failing;
    testing::internal::CaptureStderr();
    EXPECT_EQ(tt.Resize(8), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the caller tells
    EXPECT_EQ(FailingAllocator::lastRequest, 8u * 1048576u + 63u);
  }
  EXPECT_EQ(tt.entries, nullptr);
  EXPECT_EQ(tt.allocation, nullptr);
  EXPECT_EQ(tt.entryCount, 8u * 65536u);
  EXPECT_EQ(tt.indexMask, 8u * 65536u - 4u);

  tt.age = 5;
  tt.Clear();
  EXPECT_EQ(tt.age, 0u);
  tt.Store(BucketKey(1), SomeMove, 10, 8, 0, BoundExact);
  Move move = 77;
  i32 score = 77;
  EXPECT_EQ(tt.Probe(BucketKey(1), 0, 0, -InfiniteScore, InfiniteScore, move, score), ProbeMiss);
  EXPECT_EQ(move, 77u);
  EXPECT_EQ(score, 77);
}

TEST(TranspositionTableSize, HugeRequestsNeverWrapTheByteCount) {
  FailingAllocator failing;
  FailingAllocator::lastRequest = 0;
  TranspositionTable tt;
  testing::internal::CaptureStderr();
  EXPECT_EQ(tt.Resize(4096), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the caller tells
  EXPECT_EQ(tt.entryCount, 4096u * 65536u);
  if (sizeof(std::size_t) == 8)
    EXPECT_EQ(static_cast<u64>(FailingAllocator::lastRequest), (1ull << 32) + 63u);
  else
    EXPECT_EQ(FailingAllocator::lastRequest, 0u);  // refused before allocating
  EXPECT_FALSE(tt.HasStorage());
}

TEST_F(TranspositionTableTest, EntryPackingAndKeyFolding) {
  tt.age = 9;
  const u64 key = 0x0123456789abcdefull;
  tt.Store(key, SomeMove, -1234, 37, 3, BoundLower);
  const TTEntry& e = tt.entries[static_cast<u32>(key) & tt.indexMask];
  u32 data = (9u << 11) | (37u << 2) | 2u | (static_cast<u32>(static_cast<u16>(-1234)) << 16);
  EXPECT_EQ(e.Data(), data);
  EXPECT_EQ(e.StoredMove(), SomeMove);
  EXPECT_EQ(e.KeyCheckLo(), data ^ 0x89abcdefu);
  EXPECT_EQ(e.KeyCheckHi(), SomeMove ^ 0x01234567u);
  EXPECT_EQ(e.Depth(), 37u);
  EXPECT_EQ(e.Age(), 9u);
  EXPECT_EQ(e.Bound(), BoundLower);
  EXPECT_EQ(e.RawScore(), -1234);
}

TEST_F(TranspositionTableTest, ReplacementPrefersOldAndShallowEntries) {
  const u32 depths1[4] = {40, 8, 12, 40};
  const u32 ages1[4] = {3, 4, 3, 4};
  FillBucket(depths1, ages1);
  tt.age = 4;
  tt.Store(BucketKey(999), SomeMove, 0, 60, 0, BoundExact);
  EXPECT_EQ(SlotOf(BucketKey(999)), 2);  // worth 12 beats 40, 2056 and 2088

  tt.Clear();
  const u32 depths2[4] = {8, 8, 20, 9};
  const u32 ages2[4] = {4, 4, 4, 4};
  FillBucket(depths2, ages2);
  tt.Store(BucketKey(999), SomeMove, 0, 60, 0, BoundExact);
  EXPECT_EQ(SlotOf(BucketKey(999)), 0);  // equal worth: the earlier slot
  EXPECT_EQ(SlotOf(BucketKey(101)), 1);
}

TEST_F(TranspositionTableTest, SameKeyIsOverwrittenWhateverItsDepth) {
  tt.Store(BucketKey(1), SomeMove, 50, 40, 0, BoundExact);
  tt.Store(BucketKey(2), SomeMove, 50, 40, 0, BoundExact);
  tt.Store(BucketKey(2), 0, -20, 4, 0, BoundUpper);
  EXPECT_EQ(SlotOf(BucketKey(2)), 1);
  EXPECT_EQ(tt.entries[5].Depth(), 4u);
  EXPECT_EQ(tt.entries[5].StoredMove(), 0u);
  EXPECT_EQ(tt.entries[6].StoredKey(), 0u);
  EXPECT_EQ(tt.entries[7].StoredKey(), 0u);
}

TEST_F(TranspositionTableTest, MateScoresAreRelativeToTheStoringNode) {
  const u64 key = BucketKey(7);
  Move move = 0;
  i32 score = 0;
  tt.Store(key, SomeMove, 31990, 12, 5, BoundExact);
  EXPECT_EQ(tt.entries[4].RawScore(), 31995);
  EXPECT_EQ(tt.Probe(key, 12, 7, -InfiniteScore, InfiniteScore, move, score), BoundExact);
  EXPECT_EQ(score, 31988);

  tt.Store(key, SomeMove, -31990, 12, 5, BoundExact);
  EXPECT_EQ(tt.entries[4].RawScore(), -31995);
  tt.Probe(key, 12, 7, -InfiniteScore, InfiniteScore, move, score);
  EXPECT_EQ(score, -31988);

  for (i32 bound : {MateBound, -MateBound}) {
    tt.Store(key, SomeMove, bound, 12, 5, BoundExact);
    EXPECT_EQ(tt.entries[4].RawScore(), bound);
    tt.Probe(key, 12, 9, -InfiniteScore, InfiniteScore, move, score);
    EXPECT_EQ(score, bound);
  }
}

TEST_F(TranspositionTableTest, ProbeResultsByDepthAndBound) {
  const u64 key = BucketKey(3);
  Move move = 0;
  i32 score = 12345;

  tt.Store(key, SomeMove, 100, 20, 0, BoundExact);
  EXPECT_EQ(tt.Probe(key, 21, 0, -50, 50, move, score), ProbeMiss);
  EXPECT_EQ(move, SomeMove);  // the move helps ordering even when too shallow
  EXPECT_EQ(score, 12345);
  EXPECT_EQ(tt.Probe(key, -4, 0, -50, 50, move, score), ProbeMiss);  // compared unsigned
  EXPECT_EQ(tt.Probe(key, 20, 0, -50, 50, move, score), BoundExact);
  EXPECT_EQ(score, 100);

  tt.Store(key, SomeMove, 30, 20, 0, BoundLower);
  score = 12345;
  EXPECT_EQ(tt.Probe(key, 8, 0, -50, 50, move, score), ProbeMiss);
  EXPECT_EQ(score, 30);
  EXPECT_EQ(tt.Probe(key, 8, 0, -50, 30, move, score), BoundLower);

  tt.Store(key, 0, 30, 20, 0, BoundUpper);
  move = SomeMove;
  EXPECT_EQ(tt.Probe(key, 8, 0, 29, 50, move, score), ProbeMiss);
  EXPECT_EQ(move, 0u);
  EXPECT_EQ(tt.Probe(key, 8, 0, 30, 50, move, score), BoundUpper);

  tt.Store(key, SomeMove, 30, 20, 0, 3);  // no such bound kind: never usable
  EXPECT_EQ(tt.Probe(key, 8, 0, -50, 50, move, score), ProbeMiss);

  move = 77;
  EXPECT_EQ(tt.Probe(BucketKey(4), 0, 0, -50, 50, move, score), ProbeMiss);
  EXPECT_EQ(move, 77u);
}

TEST_F(TranspositionTableTest, UsableHitMakesAnOldEntryCurrent) {
  tt.age = 1;
  tt.Store(BucketKey(10), SomeMove, 5, 8, 0, BoundExact);
  tt.Store(BucketKey(11), SomeMove, 5, 40, 0, BoundExact);
  tt.Store(BucketKey(12), SomeMove, 5, 40, 0, BoundExact);
  tt.Store(BucketKey(13), SomeMove, 5, 40, 0, BoundExact);
  tt.age = 2;
  Move move = 0;
  i32 score = 0;
  EXPECT_EQ(tt.Probe(BucketKey(10), 4, 0, -50, 50, move, score), BoundExact);
  EXPECT_EQ(tt.entries[4].Age(), 2u);
  EXPECT_EQ(tt.entries[4].StoredKey(), BucketKey(10));
  EXPECT_EQ(tt.entries[4].Depth(), 8u);
  // Too shallow a request does not refresh.
  EXPECT_EQ(tt.Probe(BucketKey(11), 44, 0, -50, 50, move, score), ProbeMiss);
  EXPECT_EQ(tt.entries[5].Age(), 1u);

  tt.Store(BucketKey(20), SomeMove, 5, 4, 0, BoundExact);
  EXPECT_EQ(SlotOf(BucketKey(20)), 1);  // the refreshed shallow entry survives
  EXPECT_EQ(SlotOf(BucketKey(10)), 0);
}

TEST_F(TranspositionTableTest, ClearedTableMissesAndFillsSlotsInOrder) {
  for (u32 i = 0; i < 4; ++i) tt.Store(BucketKey(30 + i), SomeMove, 1, 10, 0, BoundExact);
  tt.age = 7;
  tt.Clear();
  EXPECT_EQ(tt.age, 0u);
  Move move = 0;
  i32 score = 0;
  for (u32 i = 0; i < 4; ++i)
    EXPECT_EQ(tt.Probe(BucketKey(30 + i), 0, 0, -50, 50, move, score), ProbeMiss);
  for (u32 i = 0; i < 4; ++i) {
    tt.Store(BucketKey(40 + i), SomeMove, 1, 10, 0, BoundExact);
    EXPECT_EQ(SlotOf(BucketKey(40 + i)), static_cast<int>(i));
  }
}

TEST_F(TranspositionTableTest, EntryMixedFromTwoWritesIsAMiss) {
  const u64 keyA = BucketKey(50), keyB = BucketKey(51);
  tt.Store(keyA, SomeMove, 111, 12, 0, BoundExact);
  TTEntry a = tt.entries[4];
  tt.Store(keyB, SomeMove + 1, 222, 16, 0, BoundExact);
  TTEntry b = tt.entries[5];

  // First half of one write with the second half of another: of different
  // keys, and of the same key with different contents.
  tt.Clear();
  tt.entries[4].check = a.check;
  tt.entries[4].payload = b.payload;
  tt.Store(keyA, SomeMove + 2, 333, 20, 0, BoundExact);
  TTEntry a2 = tt.entries[5];
  tt.entries[5].check = a2.check;
  tt.entries[5].payload = a.payload;

  Move move = 77;
  i32 score = 77;
  for (u64 key : {keyA, keyB})
    EXPECT_EQ(tt.Probe(key, 0, 0, -InfiniteScore, InfiniteScore, move, score), ProbeMiss);
  EXPECT_EQ(move, 77u);
  EXPECT_EQ(score, 77);
}

TEST(TranspositionTableThreaded, ConcurrentStoresAndProbesStayConsistent) {
  TranspositionTable tt;
  ASSERT_EQ(tt.Resize(1), 1);
  constexpr int Threads = 4;
  const int rounds = ForTarget(200000, 20000);
  std::atomic<long> hits{0};
  std::atomic<long> inconsistent{0};

  // Keys over two buckets. Each write carries a fresh nonce in its move, and
  // its score and depth are derived from key and move, so a hit that mixes
  // two writes would show as a mismatch.
  auto keyOf = [](u32 n) { return (static_cast<u64>(0x9e3779b9u * (n + 1)) << 32) | (4u + 4u * (n & 1)); };
  auto scoreOf = [](u64 key, Move move) {
    return static_cast<i32>((static_cast<u32>(key >> 32) ^ move) % 20001u) - 10000;
  };
  auto depthOf = [](Move move) { return static_cast<i32>(move % 512u); };

  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t)
    threads.emplace_back([&, t] {
      u32 state = 12345u + static_cast<u32>(t) * 7919u;
      long localHits = 0, localBad = 0;
      for (int i = 0; i < rounds; ++i) {
        state = state * 1664525u + 1013904223u;
        u64 key = keyOf((state >> 24) % 12u);
        if (state & 1) {
          Move move = (state >> 8) | 1u;
          tt.Store(key, move, scoreOf(key, move), depthOf(move), 0, BoundExact);
        } else {
          Move move = 0;
          i32 score = 0;
          if (tt.Probe(key, 0, 0, -InfiniteScore, InfiniteScore, move, score) == BoundExact) {
            ++localHits;
            if (move == 0 || score != scoreOf(key, move)) ++localBad;
          }
        }
      }
      hits += localHits;
      inconsistent += localBad;
    });
  for (std::thread& thread : threads) thread.join();

  EXPECT_GT(hits.load(), 0);
  EXPECT_EQ(inconsistent.load(), 0);
  // Every entry left behind that carries one of the keys is whole. Two
  // writers may interleave their halves and leave a torn entry; its stored
  // key then matches none of the keys and every probe misses it.
  auto isTestKey = [&](u64 key) {
    for (u32 n = 0; n < 12; ++n)
      if (keyOf(n) == key) return true;
    return false;
  };
  for (u32 i = 4; i < 12; ++i) {
    TTEntry e = tt.entries[i];
    if (!isTestKey(e.StoredKey())) continue;
    EXPECT_EQ(static_cast<i32>(e.Depth()), depthOf(e.StoredMove()));
    EXPECT_EQ(e.RawScore(), scoreOf(e.StoredKey(), e.StoredMove()));
  }
}

// The slices of a shared clear cover the range exactly, whatever the number
// of threads, also when the last slice is short.
TEST(TranspositionTableThreaded, ZeroingInSlicesCoversTheRangeExactly) {
  const std::size_t bytes = (std::size_t{9} << 20) + 4099;
  std::vector<unsigned char> buffer(bytes + 128);
  for (u32 threads : {0u, 1u, 3u, 7u, 64u, 1000u}) {
    std::memset(buffer.data(), 0xa5, buffer.size());
    ZeroInSlices(buffer.data() + 64, bytes, threads);
    std::size_t nonZero = 0;
    for (std::size_t i = 64; i < 64 + bytes; ++i) nonZero += buffer[i] != 0;
    EXPECT_EQ(nonZero, 0u) << threads << " threads";
    for (std::size_t i = 0; i < 64; ++i) ASSERT_EQ(buffer[i], 0xa5) << threads << " threads";
    for (std::size_t i = 64 + bytes; i < buffer.size(); ++i)
      ASSERT_EQ(buffer[i], 0xa5) << threads << " threads";
  }
}

// A table large enough to be prefaulted and cleared by several threads: a
// clear leaves every entry empty, and a new size, also after a refused one,
// starts empty without a clear.
TEST(TranspositionTableThreaded, SharedClearAndResizeLeaveEveryEntryEmpty) {
  TranspositionTable tt;
  ASSERT_EQ(tt.Resize(64), 1);
  EXPECT_GT(ClearThreadCount(HashTableBytes(tt.entryCount)), 1u);
  EXPECT_FALSE(tt.Written());
  // A store in every page, while the background threads touch the pages.
  auto fill = [&tt](u32 salt) {
    for (u32 i = 0; i < tt.entryCount; i += 256)
      tt.Store((static_cast<u64>(salt + i) << 32) | i, SomeMove, 5, 8, 0, BoundExact);
    tt.Store((static_cast<u64>(salt) << 32) | tt.indexMask, SomeMove, 5, 8, 0, BoundExact);
  };
  auto countUsed = [&tt] {
    u32 used = 0;
    for (u32 i = 0; i < tt.entryCount; ++i) used += Holds(tt.entries[i]);
    return used;
  };
  fill(1);
  EXPECT_TRUE(tt.Written());
  tt.age = 3;
  tt.Clear();
  EXPECT_EQ(tt.zeroings, 1u);
  EXPECT_EQ(tt.age, 0u);
  EXPECT_EQ(countUsed(), 0u);
  const unsigned char* spare = reinterpret_cast<const unsigned char*>(tt.entries + tt.entryCount);
  const unsigned char* end =
      static_cast<const unsigned char*>(tt.allocation) + HashTableBytes(tt.entryCount);
  for (; spare < end; ++spare) ASSERT_EQ(*spare, 0);
  Move move = 77;
  i32 score = 77;
  const u64 firstKey = u64{1} << 32;  // fill(1) stored it in entry 0
  EXPECT_EQ(tt.Probe(firstKey, 0, 0, -InfiniteScore, InfiniteScore, move, score), ProbeMiss);
  EXPECT_EQ(move, 77u);
  tt.Clear();  // nothing written since: no second pass
  EXPECT_EQ(tt.zeroings, 1u);

  fill(2);
  ASSERT_EQ(tt.Resize(128), 1);
  EXPECT_FALSE(tt.Written());
  EXPECT_EQ(countUsed(), 0u);
  fill(3);
  {
    FailingAllocator failing;
    EXPECT_EQ(tt.Resize(256), 0);
  }
  EXPECT_FALSE(tt.HasStorage());
  ASSERT_EQ(tt.Resize(64), 1);
  EXPECT_EQ(countUsed(), 0u);
  EXPECT_EQ(tt.zeroings, 1u);
}
