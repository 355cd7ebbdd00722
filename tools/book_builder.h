// The "-buildbook" tool: counts, over a PGN collection, every move played
// from every position of the games' openings with the points it scored, and
// writes the moves played often enough as an opening-book file.
#pragma once

#include <cstddef>
#include <string>

#include "engine/book.h"
#include "tools/pgn_reader.h"

class BookBuilder : public PgnReader {
 public:
  BookBuilder(const std::string& bookFile, i32 minCount, i32 maxPly);
  ~BookBuilder() override;
  BookBuilder(const BookBuilder&) = delete;
  BookBuilder& operator=(const BookBuilder&) = delete;

  // Allocates the zeroed table; a failed allocation is error 1 and no book
  // is written.
  void Begin(PgnParser& parser) override;
  // Keeps the entries played in at least minCount games, sorts them into
  // the file order and, when there is one at least, writes the book whole
  // in place of bookFile (never a part of it); frees the table. Moves
  // dropped for want of memory are counted on standard error and in the log.
  void End(PgnParser& parser) override;
  // Takes the game's result from its "Result" tag and its start key.
  void OnGameStart(PgnParser& parser) override;
  // Counts the game.
  void OnGameEnd(PgnParser&) override { ++games; }
  // Logs the error; a move that cannot be read or played also stops its
  // game early, which is told on standard output with the file, the line
  // and the move.
  void OnError(PgnParser& parser, i32 code, const char* text) override;
  // Counts the move while it is one of the game's first maxPly half-moves.
  void OnMove(PgnParser& parser, const MoveToken& token, Move move, const char* comment) override;

  std::string bookFile;
  i32 minCount;  // entries played in fewer games are not written
  i32 maxPly;    // the half-moves counted from the start of each game
  i32 result;    // 0 draw or unknown, 1 White won, 2 Black won
  u32 entrySize;
  u32 capacity;      // a power of two; the table doubles as it fills
  u32 mask;
  BookEntry* table;  // capacity entries from Begin to End; key 0 marks a free slot
  u64 previousKey;   // the position before the next move of the game
  u8 written;        // End wrote the whole book file
  u32 entriesKept;     // entries played often enough: none, and no file is written
  u32 entriesWritten;  // the entries of that file
  std::string writeFailure;  // why the file could not be written
  i32 games;         // games read
  i32 stoppedGames;  // games whose replay stopped at a move
  u32 used;          // slots of the table in use
  u64 dropped;       // moves of new pairs that found no room: the table could not grow
  u8 cannotGrow;     // a growth failed: no more are tried
  u8 noTable;        // the table could not be allocated at the start: nothing is counted

  // The table's storage: zeroed room for count entries of size bytes, or
  // null, as std::calloc gives it; the table is released with std::free.
  // Replaced by tests to make an allocation fail.
  static void* (*allocateZeroed)(std::size_t count, std::size_t size);
  // The slots of the table Begin allocates, a power of two of at least 4:
  // BookTableCapacity. Tests start smaller so that a few games fill it.
  static u32 startCapacity;

 private:
  // Doubles the table, keeping every entry. False when the memory cannot be
  // had or its size not counted; the table stays as it was.
  bool Grow();
};

constexpr u32 BookTableCapacity = 1u << 20;

// Reads the PGN file and writes the book. Returns 1 when the PGN file was
// read, 0 when it could not be opened or read, a negative maximum ply or
// minimum count was given, or the book file is one that cannot take a book
// (the PGN file itself, no regular file, not writable; refused before the
// games are read). No book is written then, nor when no entry came of the
// games, and a book file that was there stays as it was. Each game that
// stops at a move is told on standard output, and a written book ends with
// a summary line: the games, how many stopped early and the entries.
// Failures are logged, and a file that cannot be opened, read or written, a
// refused number, a build without an entry and moves dropped for want of
// memory are told on standard error; bookWritten, when given, tells whether
// the book file was written completely, with every pair.
i32 RunBuildBook(const char* pgnFile, const char* bookFile, i32 maxPly, i32 minCount,
                 bool* bookWritten = nullptr);
