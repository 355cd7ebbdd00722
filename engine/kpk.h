// King and pawn against king: a complete win/draw bit table built by
// retrograde analysis, and its probe.
#pragma once

#include "common/types.h"

// 2^18 bits, one per (side to move, pawn square on files a-d, strong king,
// weak king), oriented for a White pawn moving toward rank 8:
//   index = weakKing | strongKing << 6 | (pawnFile | pawnRank << 2) << 12
//           | strongToMove << 17
// Bit (index & 31) of the little-endian 32-bit word (index >> 5) is set when
// the side with the pawn wins. Entries of illegal positions (pieces sharing a
// square, adjacent kings, the side not to move in check, a pawn on rank 1 or 8)
// are 0. Stored as bytes so that it reads the same on every target.
constexpr i32 KpkBitbaseBytes = 32768;
extern u8 KpkBitbase[KpkBitbaseBytes];

// Fills KpkBitbase. Idempotent and safe to call from several threads; the
// table must not be probed while a first call is still running.
void InitKpkBitbase();

// Whether the side with the pawn wins. strongToMove is 1 when that side is to
// move; the squares are in the table's orientation (the pawn moves up).
// A pawn on files e-h is handled by mirroring all three squares by file.
inline bool ProbeKpk(i32 strongToMove, i32 strongKing, i32 weakKing, i32 pawn) {
  if (FileOf(pawn) > 3) {
    strongKing ^= 7;
    weakKing ^= 7;
    pawn ^= 7;
  }
  const u32 index = static_cast<u32>(weakKing) | static_cast<u32>(strongKing) << 6 |
                    static_cast<u32>(FileOf(pawn) | RankOf(pawn) << 2) << 12 |
                    static_cast<u32>(strongToMove) << 17;
  // Bit i of little-endian word i >> 5 is bit i & 7 of byte i >> 3.
  return ((KpkBitbase[index >> 3] >> (index & 7)) & 1) != 0;
}
