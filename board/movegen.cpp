// Move generation by bitboards. Pieces and targets come out in ascending
// square order, the target loop inside the piece loop.
#include "board/movegen.h"

#include <initializer_list>

#include "board/attacks.h"

namespace {

constexpr u8 ShortRight[2] = {CastleBlackShort, CastleWhiteShort};
constexpr u8 LongRight[2] = {CastleBlackLong, CastleWhiteLong};
constexpr i32 KingCastleTarget[2][2] = {{62, 6}, {58, 2}};

inline ScoredMove* Emit(ScoredMove* list, Move move) {
  list->move = move;
  return list + 1;
}

// Promotions come out queen, rook, knight, bishop.
inline ScoredMove* EmitPromotions(ScoredMove* list, i32 from, i32 to, i32 captured) {
  list[0].move = EncodeMove(from, to, Pawn, captured, Queen);
  list[1].move = EncodeMove(from, to, Pawn, captured, Rook);
  list[2].move = EncodeMove(from, to, Pawn, captured, Knight);
  list[3].move = EncodeMove(from, to, Pawn, captured, Bishop);
  return list + 4;
}

template <i32 Piece>
inline u64 AttacksFrom(i32 sq, u64 occ) {
  if (Piece == Knight) return KnightAttacks[sq];
  if (Piece == Bishop) return BishopAttacks(sq, occ);
  if (Piece == Rook) return RookAttacks(sq, occ);
  if (Piece == Queen) return BishopAttacks(sq, occ) | RookAttacks(sq, occ);
  return KingAttacks[sq];
}

// Moves of every piece of one type onto `targets`; the captured type is
// read from the board (0 on empty squares).
template <i32 Piece>
inline ScoredMove* PieceMoves(const Board& b, ScoredMove* list, u64 targets) {
  for (u64 from_set = b.pieces[b.sideToMove][Piece]; from_set;) {
    const i32 from = PopLowestSquare(from_set);
    for (u64 to_set = AttacksFrom<Piece>(from, b.occupied) & targets; to_set;) {
      const i32 to = PopLowestSquare(to_set);
      list = Emit(list, EncodeMove(from, to, Piece, b.squares[to]));
    }
  }
  return list;
}

// Moves onto empty squares; nothing is captured.
template <i32 Piece>
inline ScoredMove* QuietPieceMoves(const Board& b, ScoredMove* list, u64 empty) {
  for (u64 from_set = b.pieces[b.sideToMove][Piece]; from_set;) {
    const i32 from = PopLowestSquare(from_set);
    for (u64 to_set = AttacksFrom<Piece>(from, b.occupied) & empty; to_set;) {
      const i32 to = PopLowestSquare(to_set);
      list = Emit(list, EncodeMove(from, to, Piece));
    }
  }
  return list;
}

// Pawn geometry of one colour: the two capture directions (White first
// +7 then +9, Black first -7 then -9) and the push.
template <i32 Side>
struct PawnDirs {
  static constexpr i32 Capture1 = Side == White ? 7 : -7;
  static constexpr i32 Capture2 = Side == White ? 9 : -9;
  static constexpr i32 Push = Side == White ? 8 : -8;
  static constexpr u64 LastRank = Side == White ? 0xff00000000000000ULL : 0xffULL;
  static constexpr u64 SecondRank = Side == White ? 0xff00ULL : 0x00ff000000000000ULL;

  static u64 Shift(u64 bb, i32 by) { return by > 0 ? bb << by : bb >> -by; }
  // Targets of the first and second capture direction, edges excluded.
  static u64 Targets1(u64 pawns) { return Shift(pawns & (Side == White ? NotFileA : NotFileH), Capture1); }
  static u64 Targets2(u64 pawns) { return Shift(pawns & (Side == White ? NotFileH : NotFileA), Capture2); }
  static u64 Pushes(u64 pawns) { return Shift(pawns, Push); }
};

template <i32 Side>
inline ScoredMove* PawnCaptures(const Board& b, ScoredMove* list, u64 pawns, u64 victims) {
  using D = PawnDirs<Side>;
  for (u64 t = D::Targets1(pawns) & victims; t;) {
    const i32 to = PopLowestSquare(t);
    list = Emit(list, EncodeMove(to - D::Capture1, to, Pawn, b.squares[to]));
  }
  for (u64 t = D::Targets2(pawns) & victims; t;) {
    const i32 to = PopLowestSquare(t);
    list = Emit(list, EncodeMove(to - D::Capture2, to, Pawn, b.squares[to]));
  }
  return list;
}

template <i32 Side>
inline ScoredMove* PawnCapturePromotions(const Board& b, ScoredMove* list, u64 pawns, u64 victims) {
  using D = PawnDirs<Side>;
  for (u64 t = D::Targets1(pawns) & victims; t;) {
    const i32 to = PopLowestSquare(t);
    list = EmitPromotions(list, to - D::Capture1, to, b.squares[to]);
  }
  for (u64 t = D::Targets2(pawns) & victims; t;) {
    const i32 to = PopLowestSquare(t);
    list = EmitPromotions(list, to - D::Capture2, to, b.squares[to]);
  }
  return list;
}

// En passant needs the pawn that has just pushed two squares still standing
// beside the target square, and the target square empty. It is generated
// when that pawn is among `victims` or the target square among `targets`
// (in check: the checking pawn, or the squares between king and checker).
template <i32 Side>
inline ScoredMove* EnPassants(const Board& b, ScoredMove* list, u64 victims, u64 targets) {
  if (b.epFile == 0) return list;
  const i32 file = b.epFile - 1;
  const i32 pushed = MakeSquare(file, Side == White ? 4 : 3);
  const i32 target = MakeSquare(file, Side == White ? 5 : 2);
  if (!(b.pieces[Side ^ 1][Pawn] & SquareMask[pushed]) || (b.occupied & SquareMask[target]))
    return list;
  if (!(victims & SquareMask[pushed]) && !(targets & SquareMask[target])) return list;
  for (u64 from_set = PawnAttacks[Side ^ 1][target] & b.pieces[Side][Pawn]; from_set;) {
    const i32 from = PopLowestSquare(from_set);
    list = Emit(list, EncodeMove(from, target, Pawn, Pawn, 0, MoveFlagEnPassant));
  }
  return list;
}

template <i32 Side>
inline ScoredMove* PushPromotions(ScoredMove* list, u64 pawns, u64 allowed) {
  using D = PawnDirs<Side>;
  for (u64 t = D::Pushes(pawns) & allowed & D::LastRank; t;) {
    const i32 to = PopLowestSquare(t);
    list = EmitPromotions(list, to - D::Push, to, NoPiece);
  }
  return list;
}

// Single pushes onto `allowed` (not on the last rank), then double pushes
// whose target lies in `allowed`.
template <i32 Side>
inline ScoredMove* QuietPushes(const Board& b, ScoredMove* list, u64 allowed) {
  using D = PawnDirs<Side>;
  const u64 pawns = b.pieces[Side][Pawn];
  const u64 empty = ~b.occupied;
  for (u64 t = D::Pushes(pawns) & empty & allowed & ~D::LastRank; t;) {
    const i32 to = PopLowestSquare(t);
    list = Emit(list, EncodeMove(to - D::Push, to, Pawn));
  }
  const u64 once = D::Pushes(pawns & D::SecondRank) & empty;
  for (u64 t = D::Pushes(once) & empty & allowed; t;) {
    const i32 to = PopLowestSquare(t);
    list = Emit(list, EncodeMove(to - 2 * D::Push, to, Pawn, 0, 0, MoveFlagDoublePush));
  }
  return list;
}

template <i32 Side>
ScoredMove* Captures(const Board& b, ScoredMove* list) {
  using D = PawnDirs<Side>;
  const u64 enemy = b.occupiedBy[Side ^ 1];
  list = PieceMoves<Knight>(b, list, enemy);
  list = PieceMoves<Bishop>(b, list, enemy);
  list = PieceMoves<Rook>(b, list, enemy);
  list = PieceMoves<Queen>(b, list, enemy);
  if (b.pieces[Side][King]) {
    const i32 from = b.kingSquare[Side];
    for (u64 to_set = KingAttacks[from] & enemy; to_set;) {
      const i32 to = PopLowestSquare(to_set);
      list = Emit(list, EncodeMove(from, to, King, b.squares[to]));
    }
  }
  const u64 pawns = b.pieces[Side][Pawn];
  list = PawnCaptures<Side>(b, list, pawns, enemy & ~D::LastRank);
  list = EnPassants<Side>(b, list, ~0ULL, ~0ULL);
  list = PawnCapturePromotions<Side>(b, list, pawns, enemy & D::LastRank);
  return PushPromotions<Side>(list, pawns, ~b.occupied);
}

template <i32 Side>
ScoredMove* Quiets(const Board& b, ScoredMove* list) {
  for (const i32 kind : {CastleShort, CastleLong}) {
    const u8 right = kind == CastleShort ? ShortRight[Side] : LongRight[Side];
    if (!(b.castleRights & right) || (b.castlePath[kind][Side] & b.occupied)) continue;
    const i32 king = b.castleKingSquare[Side];
    const i32 target = KingCastleTarget[kind][Side];
    const i32 lo = king < target ? king : target;
    const i32 hi = king < target ? target : king;
    bool attacked = false;
    for (i32 sq = lo; sq <= hi && !attacked; ++sq) attacked = b.IsAttacked(sq, Side ^ 1);
    if (!attacked)
      list = Emit(list, EncodeMove(king, b.castleRookSquare[kind][Side], King, 0, 0, MoveFlagCastle));
  }
  const u64 empty = ~b.occupied;
  list = QuietPieceMoves<Knight>(b, list, empty);
  list = QuietPieceMoves<Bishop>(b, list, empty);
  list = QuietPieceMoves<Rook>(b, list, empty);
  list = QuietPieceMoves<Queen>(b, list, empty);
  if (b.pieces[Side][King]) {
    const i32 from = b.kingSquare[Side];
    for (u64 to_set = KingAttacks[from] & empty; to_set;) {
      const i32 to = PopLowestSquare(to_set);
      list = Emit(list, EncodeMove(from, to, King));
    }
  }
  return QuietPushes<Side>(b, list, ~0ULL);
}

template <i32 Side>
ScoredMove* Evasions(const Board& b, ScoredMove* list) {
  using D = PawnDirs<Side>;
  const i32 opp = Side ^ 1;
  const i32 ksq = b.kingSquare[Side];
  const u64 own = b.occupiedBy[Side];
  const u64* enemy = b.pieces[opp];
  const u64 checkers = ((enemy[Rook] | enemy[Queen]) & RookAttacks(ksq, b.occupied)) |
                       (enemy[Pawn] & PawnAttacks[Side][ksq]) |
                       (enemy[Knight] & KnightAttacks[ksq]) |
                       ((enemy[Queen] | enemy[Bishop]) & BishopAttacks(ksq, b.occupied));

  // Without the king in the occupancy a king cannot step back along the
  // line of a checking slider.
  const u64 occWithoutKing = b.occupied & ~SquareMask[ksq];
  for (u64 to_set = KingAttacks[ksq] & ~own; to_set;) {
    const i32 to = PopLowestSquare(to_set);
    if (!b.IsAttackedOcc(to, opp, occWithoutKing))
      list = Emit(list, EncodeMove(ksq, to, King, b.squares[to]));
  }

  if (checkers == 0 || MoreThanOne(checkers)) return list;

  const i32 checkerSquare = LowestSquare(checkers);
  const u64 between = Between[ksq][checkerSquare];
  const u64 block = ~own & (checkers | between);
  list = PieceMoves<Knight>(b, list, block);
  list = PieceMoves<Bishop>(b, list, block);
  list = PieceMoves<Rook>(b, list, block);
  list = PieceMoves<Queen>(b, list, block);

  const u64 pawns = b.pieces[Side][Pawn];
  list = PawnCaptures<Side>(b, list, pawns, checkers & ~D::LastRank);
  // In check, en passant either takes the checking pawn or lands between
  // the king and a checking slider.
  list = EnPassants<Side>(b, list, checkers, between);
  list = PawnCapturePromotions<Side>(b, list, pawns, checkers & D::LastRank);
  list = QuietPushes<Side>(b, list, between);
  return PushPromotions<Side>(list, pawns, between & ~b.occupied);
}

}  // namespace

i32 GenerateCaptures(const Board& board, ScoredMove* list) {
  ScoredMove* end = board.sideToMove == White ? Captures<White>(board, list) : Captures<Black>(board, list);
  return static_cast<i32>(end - list);
}

i32 GenerateQuiets(const Board& board, ScoredMove* list) {
  ScoredMove* end = board.sideToMove == White ? Quiets<White>(board, list) : Quiets<Black>(board, list);
  return static_cast<i32>(end - list);
}

i32 GenerateEvasions(const Board& board, ScoredMove* list) {
  ScoredMove* end = board.sideToMove == White ? Evasions<White>(board, list) : Evasions<Black>(board, list);
  return static_cast<i32>(end - list);
}

i32 GenerateMoves(const Board& board, ScoredMove* list, bool inCheck) {
  if (inCheck) return GenerateEvasions(board, list);
  const i32 captures = GenerateCaptures(board, list);
  return captures + GenerateQuiets(board, list + captures);
}
