#include "engine/tt.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/log.h"

namespace {

// Tables are laid out and shared among threads in slices of whole huge pages.
constexpr std::size_t HugePageBytes = std::size_t{2} << 20;
// Below this a clear or prefault is not worth another thread.
constexpr u64 BytesPerThread = u64{32} << 20;
constexpr u32 MaxTableThreads = 64;

std::size_t PageBytes() {
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pageSize >= static_cast<long>(sizeof(TTEntry)) ? static_cast<std::size_t>(pageSize)
                                                         : 4096;
}

#if defined(MAP_ANONYMOUS)

void* MapZeroed(std::size_t bytes) {
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

// Fresh anonymous pages read as zero. A table of a huge page or more starts
// on a huge-page boundary and asks for huge pages, so that where the kernel
// offers them (Linux transparent huge pages) it can back the table with them:
// the random probes of the search then miss the TLB far less often. Where it
// has none, or the larger mapping does not fit, the table gets ordinary pages.
void* MapTable(std::size_t bytes) {
  const std::size_t page = PageBytes();
  if (bytes == 0 || bytes > SIZE_MAX - HugePageBytes - page) return nullptr;
  const std::size_t mapped = (bytes + page - 1) & ~(page - 1);
  if (mapped >= HugePageBytes) {
    const std::size_t span = mapped + HugePageBytes;
    char* block = static_cast<char*>(MapZeroed(span));
    if (block) {
      const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
      const std::size_t head =
          ((start + HugePageBytes - 1) & ~static_cast<std::uintptr_t>(HugePageBytes - 1)) - start;
      const std::size_t tail = span - head - mapped;
      if (head) munmap(block, head);
      if (tail) munmap(block + head + mapped, tail);
#if defined(MADV_HUGEPAGE)
      madvise(block + head, mapped, MADV_HUGEPAGE);  // a hint: refused where unsupported
#endif
      return block + head;
    }
  }
  return MapZeroed(mapped);
}

void UnmapTable(void* allocation, std::size_t bytes) { munmap(allocation, bytes); }

#else

void* MapTable(std::size_t bytes) { return std::calloc(1, bytes); }
void UnmapTable(void* allocation, std::size_t) { std::free(allocation); }

#endif

// One thread's share of a table.
struct TableSlice {
  char* start;
  std::size_t bytes;
  pthread_t handle;
  bool started;
  const std::atomic<u8>* stop;  // prefault only
};

// Cuts bytes from start into at most threads slices of whole huge pages (the
// last one takes the rest); returns their number.
u32 PlanSlices(void* start, std::size_t bytes, u32 threads, TableSlice* slices) {
  if (threads < 1) threads = 1;
  if (threads > MaxTableThreads) threads = MaxTableThreads;
  std::size_t share = bytes / threads + (bytes % threads != 0);
  share = (share + HugePageBytes - 1) & ~(HugePageBytes - 1);
  u32 count = 0;
  for (std::size_t offset = 0; offset < bytes && count < threads; ++count) {
    const std::size_t length = bytes - offset < share ? bytes - offset : share;
    slices[count] =
        TableSlice{static_cast<char*>(start) + offset, length, pthread_t{}, false, nullptr};
    offset += length;
  }
  return count;
}

// Starts a helper thread on a slice; it needs little stack.
void StartSliceThread(TableSlice& slice, void* (*body)(void*)) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, std::size_t{256} << 10);
  slice.started = pthread_create(&slice.handle, &attributes, body, &slice) == 0;
  pthread_attr_destroy(&attributes);
}

void* ZeroSlice(void* slice) {
  TableSlice& s = *static_cast<TableSlice*>(slice);
  std::memset(s.start, 0, s.bytes);
  return nullptr;
}

// Has the kernel provide the slice's pages now, one write to each, without
// changing what they hold: the write puts 0 only where the word is 0, in one
// atomic step, so a search storing meanwhile loses nothing. Between huge
// pages it looks for a stop request.
void* PrefaultSlice(void* slice) {
  TableSlice& s = *static_cast<TableSlice*>(slice);
  TTEntry* first = reinterpret_cast<TTEntry*>(s.start);
  const std::size_t count = s.bytes / sizeof(TTEntry);
  const std::size_t stride = PageBytes() / sizeof(TTEntry);
  constexpr std::size_t PerStep = HugePageBytes / sizeof(TTEntry);
  for (std::size_t step = 0; step < count && !s.stop->load(std::memory_order_relaxed);
       step += PerStep) {
    const std::size_t end = count - step < PerStep ? count : step + PerStep;
    for (std::size_t i = step; i < end; i += stride) {
      u64 expected = 0;
      __atomic_compare_exchange_n(&first[i].check, &expected, u64{0}, false, __ATOMIC_RELAXED,
                                  __ATOMIC_RELAXED);
    }
  }
  return nullptr;
}

constexpr u32 BucketSize = 4;
constexpr u32 CurrentAgeBonus = 2048;  // above any depth: current entries outlive old ones

inline TTEntry LoadEntry(const TTEntry& e) {
  TTEntry copy;
  copy.check = __atomic_load_n(&e.check, __ATOMIC_RELAXED);
  copy.payload = __atomic_load_n(&e.payload, __ATOMIC_RELAXED);
  return copy;
}

inline void StoreHalves(TTEntry& e, u64 check, u64 payload) {
  __atomic_store_n(&e.check, check, __ATOMIC_RELAXED);
  __atomic_store_n(&e.payload, payload, __ATOMIC_RELAXED);
}

// Mate scores are kept relative to the node that stores them.
inline i32 ScoreToTable(i32 score, i32 ply) {
  if (score > MateBound) return score + ply;
  if (score < -MateBound) return score - ply;
  return score;
}

inline i32 ScoreFromTable(i32 score, i32 ply) {
  if (score > MateBound) return score - ply;
  if (score < -MateBound) return score + ply;
  return score;
}

}  // namespace

void* (*TranspositionTable::allocateZeroed)(std::size_t bytes) = MapTable;
void (*TranspositionTable::releaseZeroed)(void* allocation, std::size_t bytes) = UnmapTable;

u32 HashTableMegabytes(i32 requestedMegabytes) {
  for (i64 size = 1; size < requestedMegabytes && size <= 16384;) {
    size *= 2;
    if (size >= requestedMegabytes) return static_cast<u32>(size);
  }
  return 1;
}

u64 HashTableBytes(u32 entryCount) {
  return static_cast<u64>(entryCount) * sizeof(TTEntry) + 63;
}

u32 ClearThreadCount(u64 bytes) {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  u64 threads = bytes / BytesPerThread;
  if (online > 0 && threads > static_cast<u64>(online)) threads = static_cast<u64>(online);
  if (threads > MaxTableThreads) threads = MaxTableThreads;
  return threads < 1 ? 1u : static_cast<u32>(threads);
}

void ZeroInSlices(void* start, std::size_t bytes, u32 threads) {
  TableSlice slices[MaxTableThreads];
  const u32 count = PlanSlices(start, bytes, threads, slices);
  for (u32 i = 1; i < count; ++i) StartSliceThread(slices[i], ZeroSlice);
  if (count > 0) ZeroSlice(&slices[0]);
  for (u32 i = 1; i < count; ++i) {
    if (slices[i].started)
      pthread_join(slices[i].handle, nullptr);
    else
      ZeroSlice(&slices[i]);
  }
}

// The threads that fault in a fresh table's pages in the background.
struct TranspositionTable::Prefault {
  std::atomic<u8> stop{0};
  u32 count = 0;
  TableSlice slices[MaxTableThreads];
};

void TranspositionTable::StartPrefault() {
  const std::size_t bytes = static_cast<std::size_t>(entryCount) * sizeof(TTEntry);
  if (bytes < HugePageBytes) return;  // a few small pages: the search faults them in
  pthread_mutex_lock(&prefaultLock);
  prefault = new (std::nothrow) Prefault;
  if (prefault) {
    prefault->count = PlanSlices(entries, bytes, ClearThreadCount(bytes), prefault->slices);
    for (u32 i = 0; i < prefault->count; ++i) {
      TableSlice& slice = prefault->slices[i];
      slice.stop = &prefault->stop;
      StartSliceThread(slice, PrefaultSlice);
    }
  }
  pthread_mutex_unlock(&prefaultLock);
}

void TranspositionTable::FinishPrefault(bool stop) {
  pthread_mutex_lock(&prefaultLock);
  if (prefault) {
    if (stop) prefault->stop.store(1, std::memory_order_relaxed);
    for (u32 i = 0; i < prefault->count; ++i) {
      TableSlice& slice = prefault->slices[i];
      if (slice.started)
        pthread_join(slice.handle, nullptr);
      else if (!stop)
        PrefaultSlice(&slice);  // its thread could not be started: done here
    }
    delete prefault;
    prefault = nullptr;
  }
  pthread_mutex_unlock(&prefaultLock);
}

void TranspositionTable::StopPrefault() { FinishPrefault(true); }

void TranspositionTable::WaitUntilReady() { FinishPrefault(false); }

bool TranspositionTable::Ready() const {
  pthread_mutex_lock(&prefaultLock);
  const bool ready = prefault == nullptr;
  pthread_mutex_unlock(&prefaultLock);
  return ready;
}

TranspositionTable::~TranspositionTable() { Free(); }

void TranspositionTable::Free() {
  StopPrefault();
  if (allocation) releaseZeroed(allocation, static_cast<std::size_t>(HashTableBytes(entryCount)));
  allocation = nullptr;
  entries = nullptr;
}

i32 TranspositionTable::Resize(i32 megabytes) {
  Free();
  age = 0;
  written.store(0, std::memory_order_relaxed);
  u32 size = HashTableMegabytes(megabytes);
  gLog.Info("Init main hash table : %d Mb", megabytes);
  entryCount = size * 65536u;
  indexMask = entryCount - BucketSize;
  // 64-bit byte count: 4096 MB and more would overflow 32 bits; a size beyond
  // the address space fails like any other allocation.
  u64 bytes = HashTableBytes(entryCount);
  if (bytes <= SIZE_MAX) allocation = allocateZeroed(static_cast<std::size_t>(bytes));
  if (!allocation) {
    // Told by the caller, which knows whether a protocol or a tool asked.
    gLog.Error("Hash table : out of memory");
    return 0;
  }
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(allocation);
  entries = reinterpret_cast<TTEntry*>((address + 63) & ~static_cast<std::uintptr_t>(63));
  // The storage is not written here: the kernel zeroes each page when it
  // first provides it. The search would wait for that at its first touch of
  // every page, which on some systems costs milliseconds for a huge page; so
  // background threads have the pages provided now, while the protocol
  // answers at once.
  StartPrefault();
  return 1;
}

u32 TranspositionTable::ResizeToFit(i32 megabytes) {
  if (Resize(megabytes)) return HashTableMegabytes(megabytes);
  for (u32 size = HashTableMegabytes(megabytes) / 2; size >= 1; size /= 2)
    if (Resize(static_cast<i32>(size))) return size;
  return 0;
}

void TranspositionTable::Clear() {
  age = 0;
  // A table fresh from the allocator or cleared since its last write is all
  // zero already: a new game on it costs nothing.
  if (!allocation || !Written()) return;
  StopPrefault();  // the zeroing threads provide the remaining pages themselves
  const u64 bytes = HashTableBytes(entryCount);
  ZeroInSlices(allocation, static_cast<std::size_t>(bytes), ClearThreadCount(bytes));
  written.store(0, std::memory_order_relaxed);
  ++zeroings;
}

void TranspositionTable::Store(u64 key, Move move, i32 score, i32 depth, i32 ply, i32 bound) {
  if (!entries) return;
  if (!written.load(std::memory_order_relaxed)) written.store(1, std::memory_order_relaxed);
  u32 tableScore = static_cast<u16>(static_cast<u32>(ScoreToTable(score, ply)));
  u32 data = ((age & 31u) << 11) | ((static_cast<u32>(depth) & 511u) << 2) |
             (static_cast<u32>(bound) & 3u) | (tableScore << 16);
  u64 payload = data | (static_cast<u64>(move) << 32);

  // Take an empty slot or the one holding this key; otherwise replace the
  // least worth. Entries of the current search outlive older ones; among
  // each, the shallowest goes first.
  TTEntry* bucket = entries + (static_cast<u32>(key) & indexMask);
  TTEntry* slot = nullptr;
  u32 lowestWorth = UINT32_MAX;
  for (u32 i = 0; i < BucketSize; ++i) {
    TTEntry e = LoadEntry(bucket[i]);
    u64 stored = e.StoredKey();
    if (stored == 0 || stored == key) {
      slot = &bucket[i];
      break;
    }
    u32 worth = e.Depth() + (e.Age() == age ? CurrentAgeBonus : 0);
    if (worth < lowestWorth) {
      lowestWorth = worth;
      slot = &bucket[i];
    }
  }
  StoreHalves(*slot, payload ^ key, payload);
}

i32 TranspositionTable::Probe(u64 key, i32 depth, i32 ply, i32 alpha, i32 beta, Move& move,
                              i32& score) {
  if (!entries) return ProbeMiss;
  TTEntry* bucket = entries + (static_cast<u32>(key) & indexMask);
  for (u32 i = 0; i < BucketSize; ++i) {
    TTEntry e = LoadEntry(bucket[i]);
    if (e.StoredKey() != key) continue;

    move = e.StoredMove();
    if (e.Depth() < static_cast<u32>(depth)) return ProbeMiss;
    i32 value = ScoreFromTable(e.RawScore(), ply);
    score = value;
    i32 bound = e.Bound();
    bool usable = bound == BoundExact || (bound == BoundUpper && value <= alpha) ||
                  (bound == BoundLower && value >= beta);
    if (!usable) return ProbeMiss;

    // A hit makes an entry of an older search current again.
    if (e.Age() != age) {
      u64 payload = (e.payload & ~static_cast<u64>(31u << 11)) | ((age & 31u) << 11);
      __atomic_store_n(&bucket[i].payload, payload, __ATOMIC_RELAXED);
      __atomic_store_n(&bucket[i].check, payload ^ key, __ATOMIC_RELAXED);
      if (!written.load(std::memory_order_relaxed)) written.store(1, std::memory_order_relaxed);
    }
    return bound;
  }
  return ProbeMiss;
}
