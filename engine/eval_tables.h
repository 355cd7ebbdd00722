// The weights and tables the static evaluation reads. Personality::Init
// restores their built-in values (and applies a loaded personality);
// InitPieceSquareTables derives the tables that follow from others. They are
// written only while no search runs and are read-only during a search.
#pragma once

#include "common/types.h"

// A middle-game and an end-game value. Every weight with both phases is one of
// these, so the evaluation adds .mg and .eg of the same entry side by side and
// blends the two sums by phase once at the end.
struct ScorePair {
  i32 mg;
  i32 eg;
};

// Mobility of one piece type for n reachable squares: n * mg / 8 - offset
// (end game alike, the division truncating toward zero).
struct MobilityWeights {
  i32 mg;
  i32 eg;
  i32 offset;
};

// Material and structure.
extern ScorePair BishopPairBonus;
extern i32 NoPawnsPenalty;  // for a side without pawns
extern ScorePair TempoBonus;
extern i32 BlockedCentralPawnPenalty;  // d- or e-pawn at home with the square ahead taken
extern i32 TrappedKnightPenalty;
extern i32 TrappedBishopPenalty;
extern i32 TrappedRookPenalty;  // rook shut in by its uncastled king
extern ScorePair DoubledPawnPenalty;
extern ScorePair IsolatedPawnPenalty;
extern ScorePair BackwardPawnPenalty;
extern ScorePair RookOpenFileBonus;
extern ScorePair RookSemiOpenFileBonus;
extern ScorePair RookSeventhRankBonus;

// Indexed by the distance of the two kings (lone-king endings).
extern i32 KingProximityBonus[8];
// Indexed by the pawn's relative rank (0 = own back rank).
extern ScorePair PassedPawnBonus[8];
// Indexed by the relative rank of the shelter pawn, 0 for no pawn on the file.
extern i32 KingShieldPenalty[8];
// Indexed by king attack units, 0..31.
extern i32 KingAttackPenalty[32];

// By piece type; knight, bishop, rook and queen are used.
extern MobilityWeights MobilityWeight[8];
// MobilityBonus[type][n] for n reachable squares, n below MobilityCount[type]:
// knight 9, bishop 14, rook 15, queen 28 entries. Derived from MobilityWeight.
constexpr i32 MobilityCount[8] = {0, 0, 9, 14, 15, 28, 0, 0};
extern ScorePair MobilityBonus[8][28];

// [colour][square]. Black's half is built in; files e-h mirror files a-d and
// White's half is Black's flipped top to bottom.
extern i32 KnightOutpostBonus[2][64];

// [colour][piece type][square]. Black's half is built in, with Black's back
// rank on rank 8; White's is Black's at square ^ 56.
extern ScorePair PieceSquareTable[2][8][64];

// Restores every table above, Black's halves of the piece-square and outpost
// tables, and PieceValue and SeeValue to their built-in values.
void RestoreBuiltinEvalTables();

// Derives White's piece-square and outpost tables, the outpost mirroring, the
// mobility tables and startMaterial from the rest. Idempotent.
void InitPieceSquareTables();
