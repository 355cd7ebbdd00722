// The "-testsuite" runner: searches every position of an EPD file with the
// engine's limits, judges the move against the line's "bm" (best move) or
// "am" (move to avoid) and prints a report.
#pragma once

#include <string>

#include "board/board.h"
#include "common/types.h"

struct ToolContext;

// One test line: its position and its first "bm" or "am" operation.
struct TestLine {
  std::string position;  // the FEN fields with the blanks after them
  u8 avoid = 0;          // 1 for "am"
  std::string moves;     // the operation's moves, with '0' read as 'O'
  std::string id;        // the name of the "id" operation without its quotes, or empty
};

// Splits an EPD line: the position (the placement and those of the further
// FEN fields that follow it in order), then operations, each an opcode and
// its operands up to a ';' outside quoted strings. False when no operation
// has the opcode "bm" or "am" (a word inside another operation's operands,
// such as the "am" of 'id "I am here";', is none).
bool SplitTestLine(const char* line, TestLine& out);

// True when the played move, in SAN or in long algebraic form, is one of the
// blank-separated moves of the list, compared whole after dropping check and
// mate signs and annotations on both sides ("Qd1+" is "Qd1", "0-0" is "O-O",
// but "d7" is not "Rd7" and "O-O" is not "O-O-O").
bool MoveIsListed(const std::string& moves, const char* san, const char* longText);

// Room for the longest SAN text with its terminator, "Qa1xb2=Q#" and more.
constexpr i32 SanTextSize = 16;

// Writes a legal move of the position in standard algebraic notation:
// "Nf3", "Nbd2", "R1e2", "Nb3xd4", "exd5", "e8=Q", "O-O", with "+" or "#"
// from the move's check mark. A piece that another of its kind could replace
// is told by its file when that alone tells it apart, else by its rank when
// that alone does, else by both. Move 0 gives the empty text.
void MoveToSan(const Board& position, Move move, char* out);

// Runs the suite; the engine is set up by the caller. Returns 0 when the
// file cannot be opened or read or holds no "bm" or "am" line (named on
// standard error), 1 otherwise.
i32 RunTestSuite(ToolContext& tools, const char* fileName);
