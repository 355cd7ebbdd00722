// The per-thread cache of pawn-structure scores.
#pragma once

#include "common/types.h"

// One cached pawn structure: the scores of the pawns and the passed pawns of
// both sides, for the position whose pawnKey is key.
struct PawnHashEntry {
  u64 key;
  u64 blackPassed;  // Black's passed pawns that are not doubled
  u64 whitePassed;  // White's passed pawns that are not doubled
  i32 mg;           // middle-game pawn score, White minus Black
  i32 eg;           // end-game pawn score, White minus Black
};

// Entries of one thread's pawn hash and the index mask over them.
constexpr i32 PawnHashEntries = 65536;
constexpr u32 PawnHashMask = 0xFFFF;
