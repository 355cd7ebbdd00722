// The opening-book record, the same in the file and in memory.
#pragma once

#include "common/types.h"

// File header: "BOOK", the version word, the entry count, then the entries
// sorted by key and, within a key, by descending points; all little-endian.
constexpr u32 BookFileVersion = 0x00020000;
constexpr u32 BookHeaderBytes = 12;
constexpr u32 BookEntryBytes = 16;

struct BookEntry {
  u64 key;     // Zobrist key of the position before the move; 0 marks a free slot
  Move move;   // the move as the PGN replay made it
  u16 count;   // games in which the move was played from the position
  u16 points;  // 2 for a win, 1 for a draw, 0 for a loss, for the side that moved
};
