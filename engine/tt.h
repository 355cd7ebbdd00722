// The transposition table: one table of search results shared by all search
// threads without locks.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>

#include "common/types.h"

// Bound kinds of a stored score, and the probe result for "nothing usable".
constexpr i32 BoundExact = 0;
constexpr i32 BoundUpper = 1;
constexpr i32 BoundLower = 2;
constexpr i32 ProbeMiss = 3;

// One 16-byte entry: the words keyCheckLo, keyCheckHi, data and move, in that
// order in memory (our targets are little-endian). Threads read and write an
// entry as two 64-bit halves, each with a relaxed atomic access:
//   check   = keyCheckLo | keyCheckHi << 32  = (data | move << 32) ^ key
//   payload = data | move << 32
// A reader that gets halves from two different writes sees a wrong key and
// misses, so no lock is needed. A stored key of 0 marks an empty entry.
//
// data, least significant bit first: bits 0-1 bound kind, 2-10 depth in
// quarter plies, 11-15 age of the writing search, 16-31 score (signed, mate
// scores relative to the storing node).
struct TTEntry {
  u64 check;
  u64 payload;

  u32 KeyCheckLo() const { return static_cast<u32>(check); }
  u32 KeyCheckHi() const { return static_cast<u32>(check >> 32); }
  u32 Data() const { return static_cast<u32>(payload); }
  Move StoredMove() const { return static_cast<Move>(payload >> 32); }
  u64 StoredKey() const { return check ^ payload; }
  i32 Bound() const { return static_cast<i32>(Data() & 3u); }
  u32 Depth() const { return (Data() >> 2) & 511u; }
  u32 Age() const { return (Data() >> 11) & 31u; }
  i32 RawScore() const { return static_cast<i16>(static_cast<u16>(Data() >> 16)); }
};

// Megabytes a request is served with: the smallest power of two at or above
// it for 2..32768, else 1.
u32 HashTableMegabytes(i32 requestedMegabytes);

// Bytes to allocate for a number of entries: the entries and 63 spare bytes
// for the 64-byte alignment.
u64 HashTableBytes(u32 entryCount);

// Threads that share the clear of a table of this many bytes: one per
// 32 MiB, at most one per online processor (and at most 64).
u32 ClearThreadCount(u64 bytes);

// Zeroes bytes from start in at most threads slices of whole huge pages: the
// caller takes the first and short-lived helper threads the others; a slice
// whose helper cannot be started is zeroed by the caller too.
void ZeroInSlices(void* start, std::size_t bytes, u32 threads);

class TranspositionTable {
 public:
  TranspositionTable() = default;
  ~TranspositionTable();
  TranspositionTable(const TranspositionTable&) = delete;
  TranspositionTable& operator=(const TranspositionTable&) = delete;

  // Frees the old storage and allocates a zeroed table for the request (see
  // HashTableMegabytes). Returns 0 when the allocation fails (or the size does
  // not fit the address space), which is logged; the table then has no
  // storage, while entryCount and indexMask describe the requested size. The
  // fresh table reads as empty and is not written over; background threads
  // have the kernel provide its pages meanwhile (see WaitUntilReady), leaving
  // their contents alone.
  i32 Resize(i32 megabytes);

  // Resize, and when the request cannot be allocated, the largest smaller
  // table that can (halving down to 1 MB). Returns the megabytes in use, 0
  // when not even 1 MB could be had (the table then has no storage).
  u32 ResizeToFit(i32 megabytes);

  // Returns once every page of the storage is present: waits for the
  // threads that Resize started to provide them. A search on a table whose
  // pages are still being provided would wait for each page at its first
  // touch, in the middle of its own time. Safe to call from several threads
  // at once; at once when there is nothing to wait for.
  void WaitUntilReady();
  // False while threads that Resize started may still be providing pages:
  // until WaitUntilReady, a clear or a free has joined them.
  bool Ready() const;

  // Resets the age and zeroes every entry, unless nothing has been written
  // since the storage was last known to be zero. Large tables are zeroed by
  // several threads (ClearThreadCount); no search may run meanwhile.
  void Clear();

  // Frees the storage (after stopping the threads that fault in its pages);
  // entryCount and indexMask stay.
  void Free();

  bool HasStorage() const { return entries != nullptr; }
  // False while every byte of the storage is known to be zero.
  bool Written() const { return written.load(std::memory_order_relaxed) != 0; }

  // Stores a result: score within +-32000, depth 0..511 quarter plies, ply
  // the node's distance from the root, bound one of the Bound kinds.
  void Store(u64 key, Move move, i32 score, i32 depth, i32 ply, i32 bound);

  // Looks the key up. On a key match the entry's move is written to move; the
  // score is written once the entry is deep enough. Returns the bound kind of
  // a usable entry, else ProbeMiss. A usable entry of an older search is made
  // current.
  i32 Probe(u64 key, i32 depth, i32 ply, i32 alpha, i32 beta, Move& move, i32& score);

  TTEntry* entries = nullptr;  // 64-byte aligned start inside allocation
  void* allocation = nullptr;  // what the allocator returned
  u32 entryCount = 0;          // a power of two, megabytes * 65536
  u32 indexMask = 0;           // entryCount - 4: the first entry of a bucket
  u32 age = 0;                 // search generation, 0..31
  u32 zeroings = 0;            // times Clear has zeroed the storage

  // Allocator of zeroed storage (fresh pages, aligned for huge pages where
  // the system has them) and its release, which gets the byte count that was
  // allocated; replaced together, or the allocator alone to make allocations
  // fail (tests).
  static void* (*allocateZeroed)(std::size_t bytes);
  static void (*releaseZeroed)(void* allocation, std::size_t bytes);

 private:
  struct Prefault;
  // Starts threads that have the kernel provide every page of the fresh
  // storage in the background; StopPrefault stops and joins them,
  // FinishPrefault joins them once they have done their work.
  void StartPrefault();
  void StopPrefault();
  void FinishPrefault(bool stop);

  Prefault* prefault = nullptr;
  // Guards prefault: WaitUntilReady may come from the command side and the
  // searching thread at once.
  mutable pthread_mutex_t prefaultLock = PTHREAD_MUTEX_INITIALIZER;
  // Set by the first write to an entry after the storage was known to be
  // zero; read on every store, written once per clear.
  std::atomic<u8> written{0};
};
