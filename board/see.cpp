// Static exchange evaluation: the material a move wins or loses on its
// destination square when both sides keep recapturing with their cheapest
// attacker and each may stop when going on would cost it.
#include "board/attacks.h"
#include "board/board.h"

namespace {

// Slider rays that can open behind a piece of each type when it leaves its
// square: bit 0 diagonal, bit 1 straight. Knights and kings open nothing.
constexpr u32 SliderDiagonal = 1;
constexpr u32 SliderStraight = 2;
constexpr u32 SliderKind[8] = {
    0, SliderDiagonal, 0, SliderDiagonal, SliderStraight, SliderDiagonal | SliderStraight, 0, 0};

constexpr i32 SwapListSize = 32;

}  // namespace

i32 Board::StaticExchange(Move move) const {
  const i32 from = FromSquare(move);
  const i32 to = ToSquare(move);
  const i32 moving = MovingPiece(move);

  i32 swap[SwapListSize];
  swap[0] = SeeValue[CapturedPiece(move)];

  const u64 diagonalSliders =
      pieces[0][Bishop] | pieces[1][Bishop] | pieces[0][Queen] | pieces[1][Queen];
  const u64 straightSliders =
      pieces[0][Rook] | pieces[1][Rook] | pieces[0][Queen] | pieces[1][Queen];

  u64 attackers = (BishopAttacks(to, occupied) & diagonalSliders) |
                  (RookAttacks(to, occupied) & straightSliders) |
                  (KingAttacks[to] & (pieces[0][King] | pieces[1][King])) |
                  (PawnAttacks[Black][to] & pieces[White][Pawn]) |
                  (PawnAttacks[White][to] & pieces[Black][Pawn]) |
                  (KnightAttacks[to] & (pieces[0][Knight] | pieces[1][Knight]));

  u64 occupancy = occupied & ~(1ULL << from);
  // The pawn taken en passant leaves a square that is not the destination.
  if (IsEnPassant(move)) occupancy &= ~(1ULL << (sideToMove == White ? to - 8 : to + 8));

  // Rays opened by the move itself; a pawn push can open the file behind it.
  if (SliderKind[moving] & SliderDiagonal)
    attackers |= BishopAttacks(to, occupancy) & diagonalSliders;
  if (moving == Pawn || (SliderKind[moving] & SliderStraight))
    attackers |= RookAttacks(to, occupancy) & straightSliders;

  attackers &= occupancy;
  if (!attackers) return swap[0];

  i32 side = opponent;
  i32 onTarget = moving;
  i32 n = 1;
  // The list bound only matters for boards with more than 32 pieces.
  while (n < SwapListSize) {
    i32 attacker = Pawn;
    u64 candidates = 0;
    for (; attacker <= King; ++attacker) {
      candidates = pieces[side][attacker] & attackers;
      if (candidates) break;
    }
    if (!candidates) break;

    occupancy &= ~(1ULL << LowestSquare(candidates));
    if (SliderKind[attacker] & SliderDiagonal)
      attackers |= BishopAttacks(to, occupancy) & diagonalSliders;
    if (SliderKind[attacker] & SliderStraight)
      attackers |= RookAttacks(to, occupancy) & straightSliders;

    swap[n] = SeeValue[onTarget] - swap[n - 1];
    ++n;
    // Pieces that have captured never come back through a reopened ray.
    attackers &= occupancy;

    // A captured king ends the exchange with its capture as the last entry.
    if (onTarget == King) break;
    onTarget = attacker;
    side ^= 1;
    if (!attackers) break;
  }

  // Each side stops recapturing where going on would leave it worse off.
  for (i32 k = n - 2; k >= 0; --k)
    if (-swap[k + 1] < swap[k]) swap[k] = -swap[k + 1];
  return swap[0];
}
