// Building the attack tables, and the attack tests of the board.
#include "board/attacks.h"

#include "board/board.h"

u64 SquareMask[64];
u64 PawnAttacks[2][64];
u64 KnightAttacks[64];
u64 KingAttacks[64];
u64 DiagonalMask[64];
u64 AntiDiagonalMask[64];
u64 Between[64][64];
u64 BishopAttackTable[BishopTableSize];
u64 RookAttackTable[RookTableSize];
const u64* BishopAttackPtr[64];
const u64* RookAttackPtr[64];

using attacks_detail::Ray;

u64 BishopAttacksSlow(i32 sq, u64 occ) {
  return Ray(sq, 1, 1, occ) | Ray(sq, 1, -1, occ) | Ray(sq, -1, 1, occ) | Ray(sq, -1, -1, occ);
}

u64 RookAttacksSlow(i32 sq, u64 occ) {
  return Ray(sq, 1, 0, occ) | Ray(sq, -1, 0, occ) | Ray(sq, 0, 1, occ) | Ray(sq, 0, -1, occ);
}

namespace {

u64 StepTargets(i32 sq, const i32 (*steps)[2], i32 count) {
  u64 targets = 0;
  for (i32 i = 0; i < count; ++i) {
    const i32 f = FileOf(sq) + steps[i][0];
    const i32 r = RankOf(sq) + steps[i][1];
    if (f >= 0 && f < 8 && r >= 0 && r < 8) targets |= 1ULL << MakeSquare(f, r);
  }
  return targets;
}

// One block per square, in square order, each 2^(32 - shift) entries long.
void FillSliderTable(u64* table, const u64** ptr, const std::array<u64, 64>& mask,
                     const u64* magic, const std::array<u32, 64>& shift,
                     u64 (*slow)(i32, u64)) {
  u64* block = table;
  for (i32 sq = 0; sq < 64; ++sq) {
    ptr[sq] = block;
    u64 subset = 0;
    do {
      block[MagicIndex(subset, mask[sq], magic[sq], shift[sq])] = slow(sq, subset);
      subset = (subset - mask[sq]) & mask[sq];
    } while (subset != 0);
    block += 1u << (32 - shift[sq]);
  }
}

void BuildAttackTables() {
  static const i32 KnightSteps[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2},
                                        {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  static const i32 KingSteps[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1},
                                      {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  static const i32 WhitePawnSteps[2][2] = {{-1, 1}, {1, 1}};
  static const i32 BlackPawnSteps[2][2] = {{-1, -1}, {1, -1}};

  for (i32 sq = 0; sq < 64; ++sq) SquareMask[sq] = 1ULL << sq;

  for (i32 sq = 0; sq < 64; ++sq) {
    PawnAttacks[White][sq] = StepTargets(sq, WhitePawnSteps, 2);
    PawnAttacks[Black][sq] = StepTargets(sq, BlackPawnSteps, 2);
    KnightAttacks[sq] = StepTargets(sq, KnightSteps, 8);
    KingAttacks[sq] = StepTargets(sq, KingSteps, 8);
  }

  for (i32 sq = 0; sq < 64; ++sq) {
    DiagonalMask[sq] = Ray(sq, 1, 1, 0) | Ray(sq, -1, -1, 0) | SquareMask[sq];
    AntiDiagonalMask[sq] = Ray(sq, -1, 1, 0) | Ray(sq, 1, -1, 0) | SquareMask[sq];
  }

  for (i32 a = 0; a < 64; ++a) {
    for (i32 b = 0; b < 64; ++b) {
      Between[a][b] = 0;
      if (a == b) continue;
      const i32 df = FileOf(b) - FileOf(a);
      const i32 dr = RankOf(b) - RankOf(a);
      if (df != 0 && dr != 0 && df != dr && df != -dr) continue;
      const i32 sf = (df > 0) - (df < 0);
      const i32 sr = (dr > 0) - (dr < 0);
      // The ray from a towards b stops at b, which is then dropped.
      Between[a][b] = Ray(a, sf, sr, SquareMask[b]) & ~SquareMask[b];
    }
  }

  for (u64& entry : BishopAttackTable) entry = 0;
  for (u64& entry : RookAttackTable) entry = 0;
  FillSliderTable(BishopAttackTable, BishopAttackPtr, BishopMask, BishopMagic, BishopShift,
                  BishopAttacksSlow);
  FillSliderTable(RookAttackTable, RookAttackPtr, RookMask, RookMagic, RookShift,
                  RookAttacksSlow);
}

}  // namespace

void InitAttackTables() {
  static const bool built = (BuildAttackTables(), true);
  (void)built;
}

bool Board::IsAttacked(i32 square, i32 bySide) const {
  return IsAttackedOcc(square, bySide, occupied);
}

bool Board::IsAttackedOcc(i32 square, i32 bySide, u64 occupancy) const {
  const u64* p = pieces[bySide];
  if (p[Pawn] & PawnAttacks[bySide ^ 1][square]) return true;
  if (p[Knight] & KnightAttacks[square]) return true;
  if ((p[Bishop] | p[Queen]) & BishopAttacks(square, occupancy)) return true;
  if ((p[Rook] | p[Queen]) & RookAttacks(square, occupancy)) return true;
  return (p[King] & KingAttacks[square]) != 0;
}
