// The opening-book record, the same in the file and in memory, and the
// byte-level form of the book file.
#pragma once

#include "common/types.h"

// File header: "BOOK", the version word, the entry count, then the entries
// sorted by key and, within a key, by descending points; all little-endian.
constexpr u32 BookFileVersion = 0x00020000;
constexpr u32 BookHeaderBytes = 12;
constexpr u32 BookEntryBytes = 16;

// What Engine::LoadBook made of a file.
enum class BookLoad : u8 {
  Loaded,
  NotFound,    // there is no such file
  Unreadable,  // the file is there but cannot be read: no permission, a directory, a device
  Invalid,     // not a book: no book header, a size other than its entries', keys out of order
  TooLarge,    // a book, but more than the memory left holds
};

// The words that tell the interface why a book did not load: "book file not
// found", "cannot read book file", "not a valid book file", "book file too
// large".
const char* BookLoadText(BookLoad outcome);

struct BookEntry {
  u64 key;     // Zobrist key of the position before the move; 0 marks a free slot
  Move move;   // the move as the PGN replay made it
  u16 count;   // games in which the move was played from the position
  u16 points;  // 2 for a win, 1 for a draw, 0 for a loss, for the side that moved
};

// The file is written and read byte by byte in little-endian order, so one
// book serves every target whatever its byte order and alignment rules.
void EncodeBookHeader(u32 entryCount, u8 out[BookHeaderBytes]);

// False unless the bytes start with "BOOK" and the version word; the entry
// count is stored only for a valid header.
bool DecodeBookHeader(const u8 in[BookHeaderBytes], u32* entryCount);

void EncodeBookEntry(const BookEntry& entry, u8 out[BookEntryBytes]);
BookEntry DecodeBookEntry(const u8 in[BookEntryBytes]);

// The file order: keys ascending as unsigned numbers, then points descending.
inline bool BookEntryBefore(const BookEntry& a, const BookEntry& b) {
  if (a.key != b.key) return a.key < b.key;
  return a.points > b.points;
}

// Index of the first entry of the key in entries sorted by key, or -1.
i32 FindBookKey(const BookEntry* entries, i32 count, u64 key);

// Chooses among the entries of first's key, best-scored first: each is taken
// with a chance of selectivity percent (rand()), the last takes the rest; a
// selectivity above 99 always takes the first.
i32 ChooseBookEntry(const BookEntry* entries, i32 count, i32 first, i32 selectivity);
