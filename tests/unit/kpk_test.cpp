#include "engine/kpk.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

i32 Sq(const char* name) { return MakeSquare(name[0] - 'a', name[1] - '1'); }

bool Wins(i32 strongToMove, const char* strongKing, const char* pawn, const char* weakKing) {
  InitKpkBitbase();
  return ProbeKpk(strongToMove, Sq(strongKing), Sq(weakKing), Sq(pawn));
}

// A deliberately plain solver over square coordinates, written apart from
// the bit-set one, that serves as the reference.
class ReferenceKpk {
 public:
  ReferenceKpk() : state_(2 * 64 * 64 * 64, 0) {
    for (i32 stm = 0; stm < 2; ++stm)
      for (i32 p = 0; p < 64; ++p)
        for (i32 sk = 0; sk < 64; ++sk)
          for (i32 wk = 0; wk < 64; ++wk)
            if (!Legal(stm, p, sk, wk)) At(stm, p, sk, wk) = -1;
    for (bool changed = true; changed;) {
      changed = false;
      for (i32 stm = 0; stm < 2; ++stm)
        for (i32 p = 8; p < 56; ++p)
          for (i32 sk = 0; sk < 64; ++sk)
            for (i32 wk = 0; wk < 64; ++wk) {
              if (At(stm, p, sk, wk) != 0) continue;
              if (stm == 1 ? StrongWins(p, sk, wk) : WeakLoses(p, sk, wk)) {
                At(stm, p, sk, wk) = 1;
                changed = true;
              }
            }
    }
  }

  // 1 won, 0 drawn, -1 illegal.
  int Result(i32 stm, i32 p, i32 sk, i32 wk) const { return state_[Index(stm, p, sk, wk)]; }

 private:
  static size_t Index(i32 stm, i32 p, i32 sk, i32 wk) {
    return static_cast<size_t>(((stm * 64 + p) * 64 + sk) * 64 + wk);
  }
  signed char& At(i32 stm, i32 p, i32 sk, i32 wk) { return state_[Index(stm, p, sk, wk)]; }

  static bool Adjacent(i32 a, i32 b) {
    return std::abs(FileOf(a) - FileOf(b)) <= 1 && std::abs(RankOf(a) - RankOf(b)) <= 1;
  }
  static bool PawnHits(i32 p, i32 s) {
    return RankOf(s) == RankOf(p) + 1 && std::abs(FileOf(s) - FileOf(p)) == 1;
  }
  struct SquareList {
    i32 squares[8];
    int count = 0;
    const i32* begin() const { return squares; }
    const i32* end() const { return squares + count; }
  };
  static SquareList Neighbours(i32 s) {
    SquareList result;
    for (i32 df = -1; df <= 1; ++df)
      for (i32 dr = -1; dr <= 1; ++dr) {
        const i32 f = FileOf(s) + df, r = RankOf(s) + dr;
        if ((df || dr) && f >= 0 && f < 8 && r >= 0 && r < 8)
          result.squares[result.count++] = MakeSquare(f, r);
      }
    return result;
  }
  static bool Legal(i32 stm, i32 p, i32 sk, i32 wk) {
    if (RankOf(p) < 1 || RankOf(p) > 6) return false;
    if (p == sk || p == wk || Adjacent(sk, wk)) return false;
    return !(stm == 1 && PawnHits(p, wk));
  }
  // Does a queen (or rook) on 'from' attack 'target', the strong king 'block' in the way?
  static bool LineAttack(bool queen, i32 from, i32 target, i32 block) {
    const i32 df = FileOf(target) - FileOf(from), dr = RankOf(target) - RankOf(from);
    if (from == target) return false;
    const bool straight = df == 0 || dr == 0;
    const bool diagonal = std::abs(df) == std::abs(dr);
    if (!straight && !(queen && diagonal)) return false;
    const i32 sf = (df > 0) - (df < 0), sr = (dr > 0) - (dr < 0);
    for (i32 f = FileOf(from) + sf, r = RankOf(from) + sr; MakeSquare(f, r) != target;
         f += sf, r += sr)
      if (MakeSquare(f, r) == block) return false;
    return true;
  }
  static bool PromotionWins(i32 to, i32 sk, i32 wk) {
    if (Adjacent(wk, to) && !Adjacent(sk, to)) return false;  // the new piece is taken
    for (bool queen : {true, false}) {
      if (LineAttack(queen, to, wk, sk)) return true;  // check: mate or a won ending
      for (i32 s : Neighbours(wk))
        if (s != to && !Adjacent(s, sk) && !LineAttack(queen, to, s, sk)) return true;
    }
    return false;  // stalemate with either piece
  }
  bool StrongWins(i32 p, i32 sk, i32 wk) const {
    for (i32 s : Neighbours(sk))
      if (s != p && !Adjacent(s, wk) && Result(0, p, s, wk) == 1) return true;
    const i32 up = p + 8;
    if (up == sk || up == wk) return false;
    if (RankOf(up) == 7) return PromotionWins(up, sk, wk);
    if (Result(0, up, sk, wk) == 1) return true;
    return RankOf(p) == 1 && p + 16 != sk && p + 16 != wk && Result(0, p + 16, sk, wk) == 1;
  }
  bool WeakLoses(i32 p, i32 sk, i32 wk) const {
    int moves = 0;
    for (i32 s : Neighbours(wk)) {
      if (Adjacent(s, sk) || PawnHits(p, s)) continue;
      if (s == p) {
        if (Adjacent(p, sk)) continue;
        return false;  // takes the pawn
      }
      ++moves;
      if (Result(1, p, sk, s) != 1) return false;
    }
    return moves > 0 || PawnHits(p, wk);  // no move: mate when in check, else stalemate
  }

  std::vector<signed char> state_;
};

}  // namespace

TEST(Kpk, KnownPositions) {
  // Rook pawn with the defending king in the corner: drawn whoever moves.
  EXPECT_FALSE(Wins(1, "h1", "a3", "a8"));
  EXPECT_FALSE(Wins(0, "h1", "a3", "a8"));
  EXPECT_FALSE(Wins(1, "b5", "a4", "a8"));
  EXPECT_FALSE(Wins(0, "b5", "a4", "a8"));
  // The square of the pawn: only White to move outruns the king.
  EXPECT_TRUE(Wins(1, "h1", "a5", "e5"));
  EXPECT_FALSE(Wins(0, "h1", "a5", "e5"));
  // The double step decides: a single step would let the king into the square.
  EXPECT_TRUE(Wins(1, "h1", "b2", "h4"));
  EXPECT_FALSE(Wins(0, "h1", "b2", "h4"));
  // King on a key square in front of its pawn: won whoever moves.
  EXPECT_TRUE(Wins(1, "d6", "d4", "d8"));
  EXPECT_TRUE(Wins(0, "d6", "d4", "d8"));
  EXPECT_TRUE(Wins(1, "e6", "e5", "e8"));
  EXPECT_TRUE(Wins(0, "e6", "e5", "e8"));
  // Opposition: the side to move loses it.
  EXPECT_FALSE(Wins(1, "e5", "e4", "e7"));
  EXPECT_TRUE(Wins(0, "e5", "e4", "e7"));
  // The rook pawn wins when the king shuts the defender out of the corner.
  EXPECT_TRUE(Wins(1, "b7", "a4", "d7"));
  EXPECT_TRUE(Wins(0, "b7", "a4", "d7"));
  // A pawn on the seventh: queens unless the defender takes it.
  EXPECT_TRUE(Wins(1, "h1", "d7", "a1"));
  EXPECT_TRUE(Wins(0, "h1", "d7", "a1"));
  EXPECT_FALSE(Wins(1, "h1", "d7", "e7"));
  EXPECT_FALSE(Wins(0, "h1", "d7", "e7"));
  // Pawn on the seventh in front of the defender: Black to move is stalemated.
  EXPECT_TRUE(Wins(1, "e6", "e7", "e8"));
  EXPECT_FALSE(Wins(0, "e6", "e7", "e8"));
  // c8=Q would stalemate; the position is won all the same (c8=R, Kd7).
  EXPECT_TRUE(Wins(1, "c6", "c7", "a7"));
  // Mate on promotion: Kb6, Pc7 against Ka8.
  EXPECT_TRUE(Wins(1, "b6", "c7", "a8"));
  // Only the rook promotion wins: b8=Q and c8=Q stalemate, and the pawn falls otherwise.
  EXPECT_TRUE(Wins(1, "a4", "b7", "a6"));
  EXPECT_TRUE(Wins(1, "a5", "c7", "a7"));
  EXPECT_TRUE(Wins(1, "h4", "g7", "h6"));  // the first one mirrored by file
}

TEST(Kpk, IllegalPositionsAreNeverWins) {
  InitKpkBitbase();
  EXPECT_FALSE(ProbeKpk(1, Sq("e4"), Sq("e5"), Sq("d2")));  // kings adjacent
  EXPECT_FALSE(ProbeKpk(0, Sq("e4"), Sq("e5"), Sq("d2")));
  EXPECT_FALSE(ProbeKpk(1, Sq("e4"), Sq("d3"), Sq("d3")));  // weak king on the pawn
  EXPECT_FALSE(ProbeKpk(1, Sq("d2"), Sq("h8"), Sq("d2")));  // strong king on the pawn
  // Black king in check from the pawn with White to move.
  EXPECT_FALSE(ProbeKpk(1, Sq("a1"), Sq("e5"), Sq("d4")));
  // A pawn on rank 1 or 8 is never a position of the table.
  for (i32 stm = 0; stm < 2; ++stm)
    for (i32 k = 0; k < 64; ++k)
      for (i32 p = 0; p < 64; ++p)
        if (RankOf(p) == 0 || RankOf(p) == 7) {
          EXPECT_FALSE(ProbeKpk(stm, k, (k + 17) & 63, p));
        }
}

TEST(Kpk, AgreesWithReferenceSolverAndCounts) {
  InitKpkBitbase();
  const ReferenceKpk reference;
  int wins[2] = {0, 0};
  int legal[2] = {0, 0};
  int mismatches = 0;
  for (i32 stm = 0; stm < 2; ++stm)
    for (i32 p = 8; p < 56; ++p)
      for (i32 sk = 0; sk < 64; ++sk)
        for (i32 wk = 0; wk < 64; ++wk) {
          const bool expected = reference.Result(stm, p, sk, wk) == 1;
          if (ProbeKpk(stm, sk, wk, p) != expected && ++mismatches < 10) {
            ADD_FAILURE() << "stm " << stm << " pawn " << p << " strong king " << sk
                          << " weak king " << wk << " expected " << expected;
          }
          // The reference solves all eight files: mirroring by file keeps the result.
          if (FileOf(p) < 4) {
            EXPECT_EQ(reference.Result(stm, p, sk, wk),
                      reference.Result(stm, p ^ 7, sk ^ 7, wk ^ 7));
            wins[stm] += expected;
            legal[stm] += reference.Result(stm, p, sk, wk) >= 0;
          }
        }
  EXPECT_EQ(mismatches, 0);

  // Every set bit of the table is one of the counted wins.
  int bits = 0;
  for (u8 byte : KpkBitbase) bits += __builtin_popcount(byte);
  EXPECT_EQ(bits, wins[0] + wins[1]);
  // Half of the known totals over all eight files: White to move wins 124,960 of
  // 163,328 legal positions, Black to move loses 97,604 of 168,024.
  EXPECT_EQ(wins[1], 62480);
  EXPECT_EQ(legal[1], 81664);
  EXPECT_EQ(wins[0], 48802);
  EXPECT_EQ(legal[0], 84012);
}

TEST(Kpk, WordLayoutIsLittleEndian) {
  InitKpkBitbase();
  for (u32 index = 0; index < (1u << 18); index += 7) {
    const u32 w = index >> 5;
    const u32 word = static_cast<u32>(KpkBitbase[4 * w]) |
                     static_cast<u32>(KpkBitbase[4 * w + 1]) << 8 |
                     static_cast<u32>(KpkBitbase[4 * w + 2]) << 16 |
                     static_cast<u32>(KpkBitbase[4 * w + 3]) << 24;
    const i32 wk = index & 63, sk = (index >> 6) & 63, slot = (index >> 12) & 31, stm = index >> 17;
    const i32 pawn = MakeSquare(slot & 3, slot >> 2);
    ASSERT_EQ(((word >> (index & 31)) & 1) != 0, ProbeKpk(stm, sk, wk, pawn)) << index;
  }
}

TEST(KpkThreaded, ConcurrentInitialisationBuildsOneTable) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([] { InitKpkBitbase(); });
  for (auto& t : threads) t.join();
  const std::vector<u8> first(KpkBitbase, KpkBitbase + KpkBitbaseBytes);
  InitKpkBitbase();
  EXPECT_EQ(first, std::vector<u8>(KpkBitbase, KpkBitbase + KpkBitbaseBytes));
  EXPECT_TRUE(Wins(1, "h1", "a5", "e5"));
}
