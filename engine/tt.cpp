#include "engine/tt.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/log.h"

namespace {

void* CallocZeroed(std::size_t bytes) { return std::calloc(1, bytes); }

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

void* (*TranspositionTable::allocateZeroed)(std::size_t bytes) = CallocZeroed;

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

TranspositionTable::~TranspositionTable() { std::free(allocation); }

void TranspositionTable::Free() {
  std::free(allocation);
  allocation = nullptr;
  entries = nullptr;
}

i32 TranspositionTable::Resize(i32 megabytes) {
  Free();
  age = 0;
  u32 size = HashTableMegabytes(megabytes);
  gLog.Info("Init main hash table : %d Mb", megabytes);
  entryCount = size * 65536u;
  indexMask = entryCount - BucketSize;
  // 64-bit byte count: 4096 MB and more would overflow 32 bits; a size beyond
  // the address space fails like any other allocation.
  u64 bytes = HashTableBytes(entryCount);
  if (bytes <= SIZE_MAX) allocation = allocateZeroed(static_cast<std::size_t>(bytes));
  if (!allocation) {
    gLog.Error("Hash table : out of memory");
    std::fputs("Hash table : out of memory\n", stderr);
    return 0;
  }
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(allocation);
  entries = reinterpret_cast<TTEntry*>((address + 63) & ~static_cast<std::uintptr_t>(63));
  return 1;
}

void TranspositionTable::Clear() {
  age = 0;
  if (!allocation) return;
  std::memset(allocation, 0, static_cast<std::size_t>(HashTableBytes(entryCount)));
}

void TranspositionTable::Store(u64 key, Move move, i32 score, i32 depth, i32 ply, i32 bound) {
  if (!entries) return;
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
    }
    return bound;
  }
  return ProbeMiss;
}
