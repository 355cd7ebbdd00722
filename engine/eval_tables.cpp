#include "engine/eval_tables.h"

#include "board/board.h"

ScorePair BishopPairBonus;
i32 NoPawnsPenalty;
ScorePair TempoBonus;
i32 BlockedCentralPawnPenalty;
i32 TrappedKnightPenalty;
i32 TrappedBishopPenalty;
i32 TrappedRookPenalty;
ScorePair DoubledPawnPenalty;
ScorePair IsolatedPawnPenalty;
ScorePair BackwardPawnPenalty;
ScorePair RookOpenFileBonus;
ScorePair RookSemiOpenFileBonus;
ScorePair RookSeventhRankBonus;
i32 KingProximityBonus[8];
ScorePair PassedPawnBonus[8];
i32 KingShieldPenalty[8];
i32 KingAttackPenalty[32];
MobilityWeights MobilityWeight[8];
ScorePair MobilityBonus[8][28];
i32 KnightOutpostBonus[2][64];
ScorePair PieceSquareTable[2][8][64];

namespace {

constexpr i32 BuiltinPieceValue[8] = {0, 100, 325, 325, 500, 975, 0, 0};
constexpr i32 BuiltinSeeValue[8] = {0, 100, 325, 325, 500, 975, 5000, 0};

constexpr i32 BuiltinKingProximity[8] = {0, 0, 25, 20, 15, 10, 5, 0};
constexpr i32 BuiltinPassedPawnMg[8] = {0, 0, 0, 10, 21, 45, 95, 0};
constexpr i32 BuiltinPassedPawnEg[8] = {0, 10, 10, 21, 43, 90, 191, 0};
constexpr i32 BuiltinKingShield[8] = {50, 0, 10, 20, 30, 30, 30, 50};
// clang-format off
constexpr i32 BuiltinKingAttack[32] = {
    0,   2,   4,   8,   11,  16,  23,  31,  41,  54,  69,  89,  113, 142, 176, 216,
    262, 314, 371, 431, 494, 556, 616, 673, 725, 771, 811, 845, 874, 898, 918, 933};
// clang-format on
constexpr MobilityWeights BuiltinMobility[8] = {{0, 0, 0},   {0, 0, 0},   {48, 40, 0}, {48, 40, 0},
                                                {32, 40, 0}, {16, 24, 0}, {0, 0, 0},   {0, 0, 0}};

// clang-format off
// Black's tables, indexed by board square: rank 1 is the first row, Black's
// back rank the last.
constexpr i32 PawnMg[64] = {
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,  10,  10,   0,   0,   0,
     -4,  -2,  -2,  20,  20,  -2,  -2,  -4,
     -2,  -1,  -1,  10,  10,  -1,  -1,  -2,
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,   0,   0,   0,   0,   0};

constexpr i32 KnightMg[64] = {
    -40, -20, -20, -20, -20, -20, -20, -40,
    -20,   0,   0,   0,   0,   0,   0, -20,
    -20,   2,   4,   4,   4,   4,   2, -20,
    -20,   4,   8,   8,   8,   8,   4, -20,
    -20,   4,   8,   8,   8,   8,   4, -20,
    -20,   2,   8,   8,   8,   8,   2, -20,
    -20,   0,   2,   4,   4,   2,   0, -20,
    -40, -24, -20, -20, -20, -20, -24, -40};

constexpr i32 BishopMg[64] = {
    -40,  -8,  -8,  -8,  -8,  -8,  -8, -40,
     -8,   0,   0,   0,   0,   0,   0,  -8,
     -8,   2,   4,   4,   4,   4,   2,  -8,
     -8,   4,   6,   8,   8,   6,   4,  -8,
     -8,   4,   6,   8,   8,   6,   4,  -8,
     -8,   4,   4,   6,   6,   4,   4,  -8,
     -8,   8,   4,   4,   4,   4,   8,  -8,
    -40,  -8,  -8,  -8,  -8,  -8,  -8, -40};

// Knights and bishops share the end-game table.
constexpr i32 MinorEg[64] = {
    -40, -16,  -8,  -8,  -8,  -8, -16, -40,
    -16,  -4,   0,   0,   0,   0,  -4, -16,
     -8,   0,   2,   4,   4,   2,   0,  -8,
     -8,   2,   4,   8,   8,   4,   2,  -8,
     -8,   2,   4,   8,   8,   4,   2,  -8,
     -8,   0,   2,   4,   4,   2,   0,  -8,
    -16,  -4,   0,   0,   0,   0,  -4, -16,
    -40, -16,  -8,  -8,  -8,  -8, -16, -40};

constexpr i32 RookMg[64] = {
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4,
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4,
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4,
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4,
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4,
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4,
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4,
     -4,  -2,  -1,   0,   0,  -1,  -2,  -4};

constexpr i32 QueenEg[64] = {
    -32, -20, -12,  -8,  -8, -12, -20, -32,
    -20,  -8,   0,   4,   4,   0,  -8, -20,
    -10,   2,   8,  12,  12,   8,   2, -10,
     -2,   8,  12,  16,  16,  12,   8,  -2,
     -2,   8,  12,  16,  16,  12,   8,  -2,
    -10,   2,   8,  12,  12,   8,   2, -10,
    -20,  -8,   0,   4,   4,   0,  -8, -20,
    -32, -20, -12,  -8,  -8, -12, -20, -32};

constexpr i32 KingMg[64] = {
    -32, -32, -32, -32, -32, -32, -32, -32,
    -32, -32, -32, -32, -32, -32, -32, -32,
    -32, -32, -32, -32, -32, -32, -32, -32,
    -32, -32, -32, -32, -32, -32, -32, -32,
    -32, -32, -32, -32, -32, -32, -32, -32,
    -32, -32, -32, -32, -32, -32, -32, -32,
    -16, -16, -16, -16, -16, -16, -16, -16,
     -8,  32,  32,  -8,   0,  -8,  32,  -8};

constexpr i32 KingEg[64] = {
    -50, -30, -30, -30, -30, -30, -30, -50,
    -30,   0,   0,   0,   0,   0,   0, -30,
    -30,   0,  16,  16,  16,  16,   0, -30,
    -30,   0,  16,  32,  32,  16,   0, -30,
    -30,   0,  16,  32,  32,  16,   0, -30,
    -30,   0,  16,  16,  16,  16,   0, -30,
    -30,   0,   0,   0,   0,   0,   0, -30,
    -50, -30, -30, -30, -30, -30, -30, -50};

// Black's knight outposts lie in White's half of the board.
constexpr i32 KnightOutpost[64] = {
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,  16,  32,  32,  16,   0,   0,
      0,   8,  16,  32,  32,  16,   8,   0,
      0,   8,  16,  16,  16,  16,   8,   0,
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,   0,   0,   0,   0,   0};

// clang-format on

// Black's piece-square tables by type; null is all zero.
constexpr const i32* BlackMg[8] = {nullptr, PawnMg,  KnightMg, BishopMg,
                                   RookMg,  nullptr, KingMg,   nullptr};
constexpr const i32* BlackEg[8] = {nullptr, nullptr, MinorEg, MinorEg,
                                   nullptr, QueenEg, KingEg,  nullptr};

}  // namespace

void RestoreBuiltinEvalTables() {
  BishopPairBonus = {50, 50};
  NoPawnsPenalty = 50;
  TempoBonus = {5, 5};
  BlockedCentralPawnPenalty = 20;
  TrappedKnightPenalty = 100;
  TrappedBishopPenalty = 100;
  TrappedRookPenalty = 50;
  DoubledPawnPenalty = {10, 20};
  IsolatedPawnPenalty = {10, 15};
  BackwardPawnPenalty = {15, 15};
  RookOpenFileBonus = {30, 10};
  RookSemiOpenFileBonus = {20, 10};
  RookSeventhRankBonus = {10, 30};

  for (i32 i = 0; i < 8; ++i) {
    PieceValue[i] = BuiltinPieceValue[i];
    SeeValue[i] = BuiltinSeeValue[i];
    KingProximityBonus[i] = BuiltinKingProximity[i];
    PassedPawnBonus[i] = {BuiltinPassedPawnMg[i], BuiltinPassedPawnEg[i]};
    KingShieldPenalty[i] = BuiltinKingShield[i];
    MobilityWeight[i] = BuiltinMobility[i];
  }
  for (i32 i = 0; i < 32; ++i) KingAttackPenalty[i] = BuiltinKingAttack[i];

  for (i32 type = 0; type < 8; ++type) {
    for (i32 sq = 0; sq < 64; ++sq) {
      PieceSquareTable[Black][type][sq] = {BlackMg[type] ? BlackMg[type][sq] : 0,
                                           BlackEg[type] ? BlackEg[type][sq] : 0};
    }
  }
  for (i32 sq = 0; sq < 64; ++sq) {
    KnightOutpostBonus[Black][sq] = KnightOutpost[sq];
    KnightOutpostBonus[White][sq] = KnightOutpost[sq ^ 56];
  }
}

void InitPieceSquareTables() {
  for (i32 type = 0; type < 8; ++type) {
    for (i32 sq = 0; sq < 64; ++sq) {
      PieceSquareTable[White][type][sq] = PieceSquareTable[Black][type][sq ^ 56];
    }
  }

  // Files e-h mirror files d-a, rank by rank.
  for (i32 sq = 0; sq < 64; ++sq) {
    if (FileOf(sq) > 3) KnightOutpostBonus[Black][sq] = KnightOutpostBonus[Black][sq ^ 7];
  }
  for (i32 sq = 0; sq < 64; ++sq) {
    KnightOutpostBonus[White][sq] = KnightOutpostBonus[Black][sq ^ 56];
  }

  for (i32 type = Knight; type <= Queen; ++type) {
    const MobilityWeights& w = MobilityWeight[type];
    for (i32 n = 0; n < 28; ++n) {
      MobilityBonus[type][n] = n < MobilityCount[type]
                                   ? ScorePair{n * w.mg / 8 - w.offset, n * w.eg / 8 - w.offset}
                                   : ScorePair{0, 0};
    }
  }

  startMaterial = PieceValue[Queen] + 2 * (PieceValue[Knight] + 4 * PieceValue[Pawn] +
                                           PieceValue[Bishop] + PieceValue[Rook]);
}
