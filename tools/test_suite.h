// The "-testsuite" runner: searches every position of an EPD file with the
// engine's limits, judges the move against the line's "bm" (best move) or
// "am" (move to avoid) and prints a report.
#pragma once

#include <string>

#include "board/board.h"
#include "common/types.h"

struct ToolContext;

// One test line, split at its first "bm" or "am".
struct TestLine {
  std::string position;  // the text before "bm"/"am" (a FEN, normally with a trailing blank)
  u8 avoid = 0;          // 1 for "am"
  std::string moves;     // up to the next ';' or the line end, with '0' read as 'O'
  std::string id;        // the name in '; id "name"', or empty
};

// False when the line holds no "bm" or "am" as a word of its own (after a
// blank, before a blank or the line end).
bool SplitTestLine(const char* line, TestLine& out);

// True when the played move, in SAN or in long algebraic form, is one of the
// blank-separated moves of the list, compared whole after dropping check and
// mate signs and annotations on both sides ("Qd1+" is "Qd1", "0-0" is "O-O",
// but "d7" is not "Rd7" and "O-O" is not "O-O-O").
bool MoveIsListed(const std::string& moves, const char* san, const char* longText);

// Room for the longest SAN text with its terminator, "Qa1xb2=Q#" and more.
constexpr i32 SanTextSize = 16;

// Writes a legal move of the position in standard algebraic notation:
// "Nf3", "Nbd2", "R1e2", "exd5", "e8=Q", "O-O", with "+" or "#" from the
// move's check mark. Move 0 gives the empty text.
void MoveToSan(const Board& position, Move move, char* out);

// Runs the suite; the engine is set up by the caller. Returns 0 when the
// file cannot be opened or read (named on standard error), 1 otherwise.
i32 RunTestSuite(ToolContext& tools, const char* fileName);
