// Attack tables for every piece, the 32-bit magic index for sliders and
// the masks the move machinery and the evaluation share.
#pragma once

#include <array>

#include "common/types.h"

// ---------------------------------------------------------------------------
// Fixed masks.

constexpr u64 FileMaskA = 0x0101010101010101ULL;
constexpr u64 NotFileA = 0xfefefefefefefefeULL;  // keeps shifts towards the a-file on the board
constexpr u64 NotFileH = 0x7f7f7f7f7f7f7f7fULL;  // keeps shifts towards the h-file on the board

inline constexpr u64 RankMask[8] = {
    0xffULL,         0xffULL << 8,  0xffULL << 16, 0xffULL << 24,
    0xffULL << 32,   0xffULL << 40, 0xffULL << 48, 0xffULL << 56,
};
inline constexpr u64 FileMask[8] = {
    FileMaskA,      FileMaskA << 1, FileMaskA << 2, FileMaskA << 3,
    FileMaskA << 4, FileMaskA << 5, FileMaskA << 6, FileMaskA << 7,
};

// Number of set bits: one instruction where the build may use it (x86-64
// unless built for the plain baseline). Without it (the ARM targets, plain
// x86-64) the compiler would call a library routine; the bit-parallel count
// on the two 32-bit halves is faster there.
constexpr i32 PopCount(u64 bb) {
#if defined(__POPCNT__)
  return __builtin_popcountll(bb);
#else
  u32 lo = static_cast<u32>(bb), hi = static_cast<u32>(bb >> 32);
  lo -= (lo >> 1) & 0x55555555u;
  hi -= (hi >> 1) & 0x55555555u;
  lo = (lo & 0x33333333u) + ((lo >> 2) & 0x33333333u);
  hi = (hi & 0x33333333u) + ((hi >> 2) & 0x33333333u);
  lo = (lo + (lo >> 4)) & 0x0f0f0f0fu;
  hi = (hi + (hi >> 4)) & 0x0f0f0f0fu;
  return static_cast<i32>(((lo + hi) * 0x01010101u) >> 24);
#endif
}

namespace attacks_detail {

// Squares reached from sq in steps of (df, dr) up to the first square set in
// occ (included) or the board edge.
constexpr u64 Ray(i32 sq, i32 df, i32 dr, u64 occ) {
  u64 result = 0;
  i32 f = FileOf(sq) + df;
  i32 r = RankOf(sq) + dr;
  while (f >= 0 && f < 8 && r >= 0 && r < 8) {
    const u64 bit = 1ULL << MakeSquare(f, r);
    result |= bit;
    if (occ & bit) break;
    f += df;
    r += dr;
  }
  return result;
}

// The same ray without its last square: occupancy there cannot change the
// attack set, so it is left out of the slider index.
constexpr u64 InnerRay(i32 sq, i32 df, i32 dr) {
  u64 result = 0;
  i32 f = FileOf(sq) + df;
  i32 r = RankOf(sq) + dr;
  while (f + df >= 0 && f + df < 8 && r + dr >= 0 && r + dr < 8) {
    result |= 1ULL << MakeSquare(f, r);
    f += df;
    r += dr;
  }
  return result;
}



constexpr std::array<u64, 64> MakeBishopMasks() {
  std::array<u64, 64> m{};
  for (i32 s = 0; s < 64; ++s)
    m[s] = InnerRay(s, 1, 1) | InnerRay(s, 1, -1) | InnerRay(s, -1, 1) | InnerRay(s, -1, -1);
  return m;
}

constexpr std::array<u64, 64> MakeRookMasks() {
  std::array<u64, 64> m{};
  for (i32 s = 0; s < 64; ++s)
    m[s] = InnerRay(s, 1, 0) | InnerRay(s, -1, 0) | InnerRay(s, 0, 1) | InnerRay(s, 0, -1);
  return m;
}

constexpr std::array<u32, 64> MakeShifts(const std::array<u64, 64>& masks) {
  std::array<u32, 64> s{};
  for (i32 i = 0; i < 64; ++i) s[i] = static_cast<u32>(32 - PopCount(masks[i]));
  return s;
}

}  // namespace attacks_detail

// Relevant occupancy of each slider lookup: the rays without the square
// itself and without the board edge.
inline constexpr std::array<u64, 64> BishopMask = attacks_detail::MakeBishopMasks();
inline constexpr std::array<u64, 64> RookMask = attacks_detail::MakeRookMasks();
inline constexpr std::array<u32, 64> BishopShift = attacks_detail::MakeShifts(BishopMask);
inline constexpr std::array<u32, 64> RookShift = attacks_detail::MakeShifts(RookMask);

constexpr i32 BishopTableSize = 5248;
constexpr i32 RookTableSize = 102400;

// Per-square multipliers of the 32-bit magic index (magics.cpp).
extern const u64 BishopMagic[64];
extern const u64 RookMagic[64];

// ---------------------------------------------------------------------------
// Tables built by InitAttackTables.

extern u64 SquareMask[64];
extern u64 PawnAttacks[2][64];  // [colour][square]
extern u64 KnightAttacks[64];
extern u64 KingAttacks[64];
extern u64 DiagonalMask[64];      // a1-h8 direction through the square, square included
extern u64 AntiDiagonalMask[64];  // a8-h1 direction through the square, square included
extern u64 Between[64][64];       // squares strictly between two aligned squares, else 0
extern u64 BishopAttackTable[BishopTableSize];
extern u64 RookAttackTable[RookTableSize];
extern const u64* BishopAttackPtr[64];
extern const u64* RookAttackPtr[64];

// Fills every table above. Building them again gives the same contents, so
// repeated calls are harmless; only the first one does the work.
void InitAttackTables();

// The 32-bit magic index: two 32-bit products instead of one 64-bit one,
// which suits 32-bit processors.
inline u32 MagicIndex(u64 occ, u64 mask, u64 magic, u32 shift) {
  const u64 m = occ & mask;
  const u32 lo = static_cast<u32>(m) * static_cast<u32>(magic);
  const u32 hi = static_cast<u32>(m >> 32) * static_cast<u32>(magic >> 32);
  return (lo ^ hi) >> shift;
}

// Attack sets include the first blocker on each ray, own or enemy.
inline u64 BishopAttacks(i32 sq, u64 occ) {
  return BishopAttackPtr[sq][MagicIndex(occ, BishopMask[sq], BishopMagic[sq], BishopShift[sq])];
}

inline u64 RookAttacks(i32 sq, u64 occ) {
  return RookAttackPtr[sq][MagicIndex(occ, RookMask[sq], RookMagic[sq], RookShift[sq])];
}

inline u64 QueenAttacks(i32 sq, u64 occ) { return BishopAttacks(sq, occ) | RookAttacks(sq, occ); }

// Attack sets by walking the rays; the reference the tables are built from.
u64 BishopAttacksSlow(i32 sq, u64 occ);
u64 RookAttacksSlow(i32 sq, u64 occ);

// Bit scans over non-empty sets.
inline i32 LowestSquare(u64 bb) { return __builtin_ctzll(bb); }
inline i32 PopLowestSquare(u64& bb) {
  const i32 sq = __builtin_ctzll(bb);
  bb &= bb - 1;
  return sq;
}
inline bool MoreThanOne(u64 bb) { return (bb & (bb - 1)) != 0; }
