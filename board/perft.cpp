// Perft counting. Legality is decided without making the move where pins
// and the king's square make that easy, and the last ply only counts.
#include "board/perft.h"

#include "board/attacks.h"
#include "board/fen.h"
#include "board/movegen.h"

namespace {

// Own pieces that alone stand between the king and an enemy slider.
u64 PinnedPieces(const Board& b, i32 side, i32 ksq) {
  const u64* enemy = b.pieces[side ^ 1];
  u64 snipers = (RookAttacks(ksq, 0) & (enemy[Rook] | enemy[Queen])) |
                (BishopAttacks(ksq, 0) & (enemy[Bishop] | enemy[Queen]));
  u64 pinned = 0;
  while (snipers) {
    const u64 blockers = Between[ksq][PopLowestSquare(snipers)] & b.occupied;
    if (blockers && !MoreThanOne(blockers)) pinned |= blockers & b.occupiedBy[side];
  }
  return pinned;
}

// Same answer as making the move and testing the mover's king: a king
// move is legal when its target is not attacked once the king has left its
// square, any other move when it does not break a pin. Castling and en
// passant are made and tested.
inline bool IsLegal(Board& b, Move m, u64 pinned, i32 ksq) {
  const i32 from = FromSquare(m);
  const i32 to = ToSquare(m);
  if (m & (MoveFlagCastle | MoveFlagEnPassant)) {
    UndoInfo undo;
    b.MakeMove(m, undo);
    const bool legal = !b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove);
    b.UnmakeMove(m, undo);
    return legal;
  }
  if (from == ksq) return !b.IsAttackedOcc(to, b.opponent, b.occupied & ~SquareMask[from]);
  return !(pinned & SquareMask[from]) || (Between[ksq][to] & SquareMask[from]) ||
         (Between[ksq][from] & SquareMask[to]);
}

u64 Count(Board& b, i32 depth) {
  ScoredMove list[MaxMoves];
  const i32 n = GenerateMoves(b, list, b.InCheck());
  const i32 ksq = b.kingSquare[b.sideToMove];
  const u64 pinned = PinnedPieces(b, b.sideToMove, ksq);
  u64 total = 0;
  if (depth <= 1) {
    for (i32 i = 0; i < n; ++i) total += IsLegal(b, list[i].move, pinned, ksq);
    return total;
  }
  UndoInfo undo;
  for (i32 i = 0; i < n; ++i) {
    const Move m = list[i].move;
    if (!IsLegal(b, m, pinned, ksq)) continue;
    b.MakeMove(m, undo);
    total += Count(b, depth - 1);
    b.UnmakeMove(m, undo);
  }
  return total;
}

// True when the side to move has at least one legal move; used on a side
// that is in check.
bool HasLegalEvasion(Board& b) {
  ScoredMove list[MaxMoves];
  const i32 n = GenerateEvasions(b, list);
  const i32 ksq = b.kingSquare[b.sideToMove];
  const u64 pinned = PinnedPieces(b, b.sideToMove, ksq);
  for (i32 i = 0; i < n; ++i)
    if (IsLegal(b, list[i].move, pinned, ksq)) return true;
  return false;
}

void Detailed(ToolContext& context, Board& b, i32 depth) {
  ScoredMove list[MaxMoves];
  const i32 n = GenerateMoves(b, list, b.InCheck());
  UndoInfo undo;
  for (i32 i = 0; i < n; ++i) {
    const Move m = list[i].move;
    b.MakeMove(m, undo);
    if (!b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove)) {
      if (depth > 1) {
        Detailed(context, b, depth - 1);
      } else {
        ++context.nodes;
        if (CapturedPiece(m) != NoPiece) ++context.captures;
        if (IsEnPassant(m)) ++context.enPassants;
        if (PromotionPiece(m) != NoPiece) ++context.promotions;
        if (IsCastling(m)) ++context.castles;
        if (b.InCheck()) {
          ++context.checks;
          if (!HasLegalEvasion(b)) ++context.mates;
        }
      }
    }
    b.UnmakeMove(m, undo);
  }
}

}  // namespace

void Perft(ToolContext& context, i32 depth) { context.nodes += Count(*context.board, depth); }

u64 PerftRecursive(ToolContext& context, i32 depth) { return Count(*context.board, depth); }

void PerftDetailed(ToolContext& context, i32 depth) { Detailed(context, *context.board, depth); }

void Divide(ToolContext& context, i32 depth) {
  Board& b = *context.board;
  ScoredMove list[MaxMoves];
  const i32 n = GenerateMoves(b, list, b.InCheck());
  context.divideCount = 0;
  if (context.divideEntries == nullptr) return;
  context.divideCount = n;
  i32 count = 0;
  UndoInfo undo;
  for (i32 i = 0; i < n && count < MaxDivideEntries; ++i) {
    const Move m = list[i].move;
    b.MakeMove(m, undo);
    if (!b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove)) {
      DivideEntry& entry = context.divideEntries[count];
      if (depth < 2)
        entry.nodes += 1;
      else
        entry.nodes = Count(b, depth - 1);
      MoveToLongAlgebraic(&m, entry.text);
      ++count;
    }
    b.UnmakeMove(m, undo);
  }
  context.divideCount = count;
}
