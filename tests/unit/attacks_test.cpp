#include <gtest/gtest.h>

#include "board_helpers.h"

namespace {

class Attacks : public ::testing::Test {
 protected:
  void SetUp() override { InitAttackTables(); }
};

TEST_F(Attacks, MagicTablesMatchRayWalksForEverySubset) {
  // Every subset of every mask, enumerated by the carry-rippler; the index
  // must never let two subsets with different attack sets share an entry.
  u64 bishopEntries = 0;
  u64 rookEntries = 0;
  for (i32 sq = 0; sq < 64; ++sq) {
    u64 subset = 0;
    do {
      ASSERT_EQ(BishopAttacks(sq, subset), BishopAttacksSlow(sq, subset)) << "bishop " << sq;
      subset = (subset - BishopMask[sq]) & BishopMask[sq];
    } while (subset);
    do {
      ASSERT_EQ(RookAttacks(sq, subset), RookAttacksSlow(sq, subset)) << "rook " << sq;
      subset = (subset - RookMask[sq]) & RookMask[sq];
    } while (subset);
    bishopEntries += 1ULL << (32 - BishopShift[sq]);
    rookEntries += 1ULL << (32 - RookShift[sq]);
  }
  EXPECT_EQ(bishopEntries, static_cast<u64>(BishopTableSize));
  EXPECT_EQ(rookEntries, static_cast<u64>(RookTableSize));
  // Blocks lie back to back in square order.
  for (i32 sq = 1; sq < 64; ++sq) {
    EXPECT_EQ(BishopAttackPtr[sq] - BishopAttackPtr[sq - 1], 1 << (32 - BishopShift[sq - 1]));
    EXPECT_EQ(RookAttackPtr[sq] - RookAttackPtr[sq - 1], 1 << (32 - RookShift[sq - 1]));
  }
}

TEST_F(Attacks, OccupancyOutsideTheMaskIsIgnored) {
  // Edge squares and squares off the rays must not change the lookup.
  u64 x = 0x9e3779b97f4a7c15ULL;
  for (i32 i = 0; i < 20000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const i32 sq = static_cast<i32>(x >> 58);
    const u64 occ = x * 0x2545f4914f6cdd1dULL;
    ASSERT_EQ(BishopAttacks(sq, occ), BishopAttacksSlow(sq, occ));
    ASSERT_EQ(RookAttacks(sq, occ), RookAttacksSlow(sq, occ));
  }
}

TEST_F(Attacks, ShiftsAndMasks) {
  EXPECT_EQ(BishopShift[S("a1")], 26u);
  EXPECT_EQ(BishopShift[S("h8")], 26u);
  EXPECT_EQ(BishopShift[S("d4")], 23u);
  EXPECT_EQ(BishopShift[S("e5")], 23u);
  EXPECT_EQ(BishopShift[S("c3")], 25u);
  EXPECT_EQ(BishopShift[S("b1")], 27u);
  EXPECT_EQ(RookShift[S("a1")], 20u);
  EXPECT_EQ(RookShift[S("e1")], 21u);
  EXPECT_EQ(RookShift[S("d4")], 22u);
  EXPECT_EQ(RookMask[S("a1")], (FileMask[0] | RankMask[0]) & ~Sq(0) & ~Sq(S("a8")) & ~Sq(S("h1")));
  EXPECT_EQ(RankMask[2], 0xff0000ULL);
  EXPECT_EQ(FileMask[7], 0x8080808080808080ULL);
  EXPECT_EQ(DiagonalMask[S("c1")], Sq(S("c1")) | Sq(S("d2")) | Sq(S("e3")) | Sq(S("f4")) |
                                       Sq(S("g5")) | Sq(S("h6")));
  EXPECT_EQ(AntiDiagonalMask[S("c1")], Sq(S("c1")) | Sq(S("b2")) | Sq(S("a3")));
}

TEST_F(Attacks, SliderSpotChecks) {
  EXPECT_EQ(RookAttacks(S("a1"), 0), (FileMask[0] | RankMask[0]) & ~Sq(S("a1")));
  EXPECT_EQ(RookAttacks(S("a1"), Sq(S("b1")) | Sq(S("a2"))), Sq(S("b1")) | Sq(S("a2")));
  // The first blocker on each ray is included, whoever it belongs to.
  const u64 occ = Sq(S("f6")) | Sq(S("b2")) | Sq(S("c5")) | Sq(S("e3")) | Sq(S("g7"));
  EXPECT_EQ(BishopAttacks(S("d4"), occ), Sq(S("e5")) | Sq(S("f6")) | Sq(S("c3")) | Sq(S("b2")) |
                                             Sq(S("c5")) | Sq(S("e3")));
}

TEST_F(Attacks, StepTablesAndBetween) {
  EXPECT_EQ(PawnAttacks[White][S("h2")], Sq(S("g3")));
  EXPECT_EQ(PawnAttacks[Black][S("a7")], Sq(S("b6")));
  EXPECT_EQ(PawnAttacks[White][S("e8")], 0u);
  EXPECT_EQ(PawnAttacks[Black][S("e1")], 0u);
  EXPECT_EQ(KnightAttacks[S("a1")], Sq(S("b3")) | Sq(S("c2")));
  EXPECT_EQ(KingAttacks[S("h8")], Sq(S("g8")) | Sq(S("g7")) | Sq(S("h7")));
  EXPECT_EQ(Between[S("a1")][S("h8")], Sq(S("b2")) | Sq(S("c3")) | Sq(S("d4")) | Sq(S("e5")) |
                                           Sq(S("f6")) | Sq(S("g7")));
  EXPECT_EQ(Between[S("a1")][S("b3")], 0u);
  EXPECT_EQ(Between[S("e4")][S("e4")], 0u);
  EXPECT_EQ(Between[S("e1")][S("e2")], 0u);
  EXPECT_EQ(Between[S("e1")][S("e5")], Sq(S("e2")) | Sq(S("e3")) | Sq(S("e4")));
  for (i32 a = 0; a < 64; ++a)
    for (i32 b = 0; b < 64; ++b) ASSERT_EQ(Between[a][b], Between[b][a]);
  for (i32 sq = 0; sq < 64; ++sq) {
    EXPECT_EQ(SquareMask[sq], Sq(sq));
    EXPECT_EQ(KnightAttacks[sq] & KingAttacks[sq], 0u);
  }
}

TEST_F(Attacks, AttackTests) {
  Board b = BoardFromFen("4r2k/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_TRUE(b.IsAttacked(S("e1"), Black));
  EXPECT_TRUE(b.InCheck());
  b = BoardFromFen("4r2k/8/8/8/4N3/8/8/4K3 w - - 0 1");
  EXPECT_FALSE(b.IsAttacked(S("e1"), Black));
  EXPECT_TRUE(b.IsAttackedOcc(S("e1"), Black, b.occupied & ~Sq(S("e4"))));
  // Each attacker kind, and only from the right colour.
  b = BoardFromFen("7k/8/8/5p2/8/1n6/8/K7 w - - 0 1");
  EXPECT_TRUE(b.IsAttacked(S("e4"), Black));   // pawn f5
  EXPECT_TRUE(b.IsAttacked(S("g4"), Black));   // pawn f5
  EXPECT_FALSE(b.IsAttacked(S("f4"), Black));  // pushes do not attack
  EXPECT_TRUE(b.IsAttacked(S("a1"), Black));   // knight b3
  EXPECT_TRUE(b.IsAttacked(S("g7"), Black));   // king h8
  EXPECT_FALSE(b.IsAttacked(S("e4"), White));
}

}  // namespace
