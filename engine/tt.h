// The transposition table: one table of search results shared by all search
// threads without locks.
#pragma once

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

class TranspositionTable {
 public:
  TranspositionTable() = default;
  ~TranspositionTable();
  TranspositionTable(const TranspositionTable&) = delete;
  TranspositionTable& operator=(const TranspositionTable&) = delete;

  // Frees the old storage and allocates a zeroed table for the request (see
  // HashTableMegabytes). Returns 0 when the allocation fails (or the size does
  // not fit the address space); the table then has no storage, while
  // entryCount and indexMask describe the requested size.
  i32 Resize(i32 megabytes);

  // Zeroes every entry and resets the age.
  void Clear();

  // Frees the storage; entryCount and indexMask stay.
  void Free();

  bool HasStorage() const { return entries != nullptr; }

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

  // Allocator of zeroed storage (calloc); tests replace it to make
  // allocations fail.
  static void* (*allocateZeroed)(std::size_t bytes);
};
