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

// Byte-level reading of the file, the same on every target.
// Reads the 12-byte header: false when the magic or the version is not ours.
bool DecodeBookHeader(const u8* bytes, u32* entryCount);
// Reads one 16-byte record.
BookEntry DecodeBookEntry(const u8* bytes);

// Index of the first entry of the key in entries sorted by key, or -1.
i32 FindBookKey(const BookEntry* entries, i32 count, u64 key);

// Chooses among the entries of first's key, best-scored first: each is taken
// with a chance of selectivity percent (rand()), the last takes the rest; a
// selectivity above 99 always takes the first.
i32 ChooseBookEntry(const BookEntry* entries, i32 count, i32 first, i32 selectivity);
