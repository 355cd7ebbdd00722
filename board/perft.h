// Perft: counting the leaves of the legal move tree, the check that move
// generation and making moves agree with known counts.
#pragma once

#include "board/board.h"

class Engine;

// One legal root move of Divide with the number of leaves below it.
struct DivideEntry {
  u64 nodes;
  char text[16];  // long algebraic text, NUL-terminated
};

// Room the divide driver provides: more than any position has legal moves.
constexpr i32 MaxDivideEntries = 256;

// How the tools reach the engine and its game board, and where perft keeps
// its counters. The counters are never cleared here: drivers zero them
// before a run.
struct ToolContext {
  Engine* engine;
  Board* board;                // the board counted on; left as it was found
  DivideEntry* divideEntries;  // MaxDivideEntries records during a divide run, else null
  i32 divideCount;             // records filled by Divide
  u64 nodes;
  u64 captures;
  u64 enPassants;
  u64 promotions;
  u64 castles;
  u64 checks;
  u64 mates;
};

// Adds the number of legal move sequences of length `depth` to `nodes`.
// A depth below 1 counts as 1.
void Perft(ToolContext& context, i32 depth);

// The same count, returned; no counter is touched.
u64 PerftRecursive(ToolContext& context, i32 depth);

// Adds into all seven counters, classifying the moves of the last ply.
void PerftDetailed(ToolContext& context, i32 depth);

// One entry per legal root move, in generation order: the move's text and
// the leaves below it at depth - 1 (1 each when depth is below 2).
void Divide(ToolContext& context, i32 depth);
