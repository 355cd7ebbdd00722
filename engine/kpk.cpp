// Retrograde analysis of king and pawn against king.
//
// Wins are the least fixed point of: the strong side to move wins when some
// move reaches a won position (or promotes safely); the weak side to move is
// lost when every legal move reaches a won position and it is not stalemated.
// Positions never shown to be won are draws.
//
// The pawn only moves up, so pawn squares are solved from rank 7 down; within
// one pawn square the kings' moves are iterated to the fixed point. For a fixed
// pawn square, strong king and side to move, the won weak-king squares form one
// 64-bit set, so a whole set of positions is advanced with a few shifts.
#include "engine/kpk.h"

#include <cstdlib>

u8 KpkBitbase[KpkBitbaseBytes];

namespace {

constexpr u64 FileAMask = 0x0101010101010101ULL;
constexpr u64 FileHMask = FileAMask << 7;

constexpr u64 Bit(i32 square) { return u64{1} << square; }

i32 Distance(i32 a, i32 b) {
  const i32 df = std::abs(FileOf(a) - FileOf(b));
  const i32 dr = std::abs(RankOf(a) - RankOf(b));
  return df > dr ? df : dr;
}

// The pawn slot of the index: file (0-3) and rank.
constexpr i32 PawnSlot(i32 pawn) { return FileOf(pawn) | RankOf(pawn) << 2; }

// Squares s whose neighbour s + step is on the board and in t.
u64 StepBack(u64 t, i32 step) {
  switch (step) {
    case 1:
      return (t >> 1) & ~FileHMask;
    case -1:
      return (t << 1) & ~FileAMask;
    case 8:
      return t >> 8;
    case -8:
      return t << 8;
    case 9:
      return (t >> 9) & ~FileHMask;
    case 7:
      return (t >> 7) & ~FileAMask;
    case -7:
      return (t << 7) & ~FileHMask;
    default:
      return (t << 9) & ~FileAMask;  // -9
  }
}

constexpr i32 KingSteps[8] = {1, -1, 8, -8, 9, 7, -7, -9};

// Squares s for which every king step from s leaves the board or lands in t.
u64 AllStepsInto(u64 t) {
  u64 result = ~u64{0};
  for (i32 step : KingSteps) result &= ~StepBack(~t, step);
  return result;
}

u64 KingZone(i32 square) {
  u64 zone = 0;
  for (i32 dr = -1; dr <= 1; ++dr) {
    for (i32 df = -1; df <= 1; ++df) {
      const i32 f = FileOf(square) + df;
      const i32 r = RankOf(square) + dr;
      if ((df != 0 || dr != 0) && f >= 0 && f < 8 && r >= 0 && r < 8) zone |= Bit(MakeSquare(f, r));
    }
  }
  return zone;
}

u64 WhitePawnAttacks(i32 pawn) {
  u64 attacks = 0;
  if (RankOf(pawn) < 7) {
    if (FileOf(pawn) > 0) attacks |= Bit(pawn + 7);
    if (FileOf(pawn) < 7) attacks |= Bit(pawn + 9);
  }
  return attacks;
}

// Attacks of a rook (orthogonal) or a queen (both) with the given blockers.
u64 SliderAttacks(i32 square, u64 blockers, bool diagonals) {
  static constexpr i32 Directions[8][2] = {{1, 0}, {-1, 0}, {0, 1},  {0, -1},
                                           {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  u64 attacks = 0;
  for (i32 d = 0; d < (diagonals ? 8 : 4); ++d) {
    i32 f = FileOf(square) + Directions[d][0];
    i32 r = RankOf(square) + Directions[d][1];
    while (f >= 0 && f < 8 && r >= 0 && r < 8) {
      const i32 s = MakeSquare(f, r);
      attacks |= Bit(s);
      if (blockers & Bit(s)) break;
      f += Directions[d][0];
      r += Directions[d][1];
    }
  }
  return attacks;
}

// Weak-king squares for which pushing the pawn from rank 7 wins, the strong
// side to move. The new queen or rook wins unless the weak king can take it
// or is stalemated; a rook serves where the queen would stalemate.
u64 PromotionWins(i32 pawn, i32 strongKing, const u64* kingZone) {
  const i32 to = pawn + 8;
  if (to == strongKing) return 0;
  const bool defended = Distance(strongKing, to) <= 1;
  // The weak king does not block the lines it stands on.
  const u64 attacks[2] = {SliderAttacks(to, Bit(strongKing), true),
                          SliderAttacks(to, Bit(strongKing), false)};
  u64 wins = 0;
  for (i32 weakKing = 0; weakKing < 64; ++weakKing) {
    const bool capturable = Distance(weakKing, to) <= 1 && !defended;
    if (weakKing == to || capturable) continue;
    for (u64 covered : attacks) {
      const u64 escapes = kingZone[weakKing] & ~covered & ~kingZone[strongKing];
      if (escapes != 0 || (covered & Bit(weakKing)) != 0) wins |= Bit(weakKing);
    }
  }
  return wins;
}

void BuildKpkBitbase() {
  u64 kingZone[64];
  for (i32 s = 0; s < 64; ++s) kingZone[s] = KingZone(s);

  // won[strongToMove][pawn slot][strong king]: the weak-king squares that
  // lose. Filled once; slots of pawns on rank 1 or 8 stay empty.
  static u64 won[2][32][64];

  for (i32 rank = 6; rank >= 1; --rank) {
    for (i32 file = 0; file < 4; ++file) {
      const i32 pawn = MakeSquare(file, rank);
      const i32 slot = PawnSlot(pawn);
      const u64 pawnAttacks = WhitePawnAttacks(pawn);

      u64 legalWeakToMove[64], legalStrongToMove[64], blocked[64], stalemated[64], pushWins[64];
      for (i32 sk = 0; sk < 64; ++sk) {
        if (sk == pawn) {
          legalWeakToMove[sk] = legalStrongToMove[sk] = blocked[sk] = stalemated[sk] = 0;
          pushWins[sk] = 0;
          continue;
        }
        const u64 free = ~(kingZone[sk] | Bit(sk) | Bit(pawn));
        legalWeakToMove[sk] = free;
        // The weak king may not stand in check with the strong side to move.
        legalStrongToMove[sk] = free & ~pawnAttacks;
        // Where the weak king may not step: next to the strong king, onto a
        // square the pawn attacks, onto the pawn when it is defended.
        blocked[sk] = kingZone[sk] | Bit(sk) | pawnAttacks |
                      ((kingZone[sk] & Bit(pawn)) != 0 ? Bit(pawn) : 0);
        stalemated[sk] = AllStepsInto(blocked[sk]) & ~pawnAttacks;

        const i32 to = pawn + 8;
        u64 push = 0;
        if (rank == 6) {
          push = PromotionWins(pawn, sk, kingZone);
        } else if (to != sk) {
          push = won[0][PawnSlot(to)][sk];
          if (rank == 1 && to + 8 != sk) push |= won[0][PawnSlot(to + 8)][sk] & ~Bit(to);
        }
        pushWins[sk] = push & legalStrongToMove[sk];
      }

      u64* strongWins = won[1][slot];
      u64* weakLoses = won[0][slot];
      for (bool changed = true; changed;) {
        changed = false;
        for (i32 sk = 0; sk < 64; ++sk) {
          u64 wins = pushWins[sk];
          for (u64 moves = kingZone[sk] & ~Bit(pawn); moves != 0; moves &= moves - 1) {
            wins |= weakLoses[__builtin_ctzll(moves)];
          }
          strongWins[sk] = wins & legalStrongToMove[sk];
        }
        for (i32 sk = 0; sk < 64; ++sk) {
          const u64 loses =
              legalWeakToMove[sk] & AllStepsInto(blocked[sk] | strongWins[sk]) & ~stalemated[sk];
          if (loses != weakLoses[sk]) {
            weakLoses[sk] = loses;
            changed = true;
          }
        }
      }
    }
  }

  // The 64 weak-king bits of one (side, pawn, strong king) are 8 whole bytes.
  for (i32 stm = 0; stm < 2; ++stm) {
    for (i32 slot = 0; slot < 32; ++slot) {
      for (i32 sk = 0; sk < 64; ++sk) {
        const u64 set = won[stm][slot][sk];
        const u32 base = static_cast<u32>(sk << 6 | slot << 12 | stm << 17) >> 3;
        for (i32 b = 0; b < 8; ++b) KpkBitbase[base + b] = static_cast<u8>(set >> (8 * b));
      }
    }
  }
}

}  // namespace

void InitKpkBitbase() {
  static const bool built = (BuildKpkBitbase(), true);
  (void)built;
}
