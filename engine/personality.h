// The engine's personality: evaluation weights a user may replace through a
// file of key=value lines ("PawnValue=120", ...).
#pragma once

#include <string>
#include <vector>

#include "common/types.h"

struct Personality {
  u8 flags;   // not used by the evaluation
  u8 active;  // 1 after a successful Load: the evaluation applies the scaling weights

  // The weights, in the order of the file's keys of the same names.
  i32 PawnValue;
  i32 KnightValue;
  i32 BishopValue;
  i32 RookValue;
  i32 QueenValue;
  i32 BishopPair;  // middle game and end game alike
  i32 PawnDoubledMid;
  i32 PawnDoubledEnd;
  i32 PawnIsolatedMid;
  i32 PawnIsolatedEnd;
  i32 PawnBackwardMid;
  i32 PawnBackwardEnd;
  i32 RookOpenFileMid;
  i32 RookOpenFileEnd;
  i32 RookSemiOpenFileMid;
  i32 RookSemiOpenFileEnd;
  i32 Rook7thRankMid;
  i32 Rook7thRankEnd;
  i32 KingSafetyOwn;  // percent of the engine's own king safety
  i32 KingSafetyOpp;  // percent of the opponent's king safety
  i32 MobilityOwn;    // percent of the engine's own mobility
  i32 MobilityOpp;    // percent of the opponent's mobility
  i32 Randomness;     // percent of noise mixed into the score
  i32 ReduceSpeed;    // nodes per second cap, copied out by the protocols

  // Reads a personality file; keys it lacks take their defaults and values
  // outside a key's range are clamped to it (logged as a warning). Installs
  // the weights and returns non-zero when the file was read; otherwise (also
  // when no line of it is one of the weights, though some line holds data)
  // restores the built-in weights, clears active and returns 0, logging an
  // error unless the name is empty. The texts of the messages logged are
  // also appended to notes when it is given.
  int Load(const char* fileName, std::vector<std::string>* notes = nullptr);

  // Restores the built-in evaluation tables and, when loaded is 1, puts this
  // record's weights into them; then derives the dependent tables.
  void Init(int loaded);
};
