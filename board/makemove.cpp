// Making and unmaking moves incrementally, and checking that a stored move
// (hash move, killer, move typed by the user) fits the position.
#include "board/attacks.h"
#include "board/board.h"

namespace {

// The captured pawn of an en-passant capture stands on to + offset, by the
// colour of the capturing side.
constexpr i32 EpCaptureOffset[2] = {8, -8};

// The rights left after that side's king moves.
constexpr u8 KingMoveCastleMask[2] = {0xf3, 0xfc};

constexpr u8 ShortRight[2] = {CastleBlackShort, CastleWhiteShort};
constexpr u8 LongRight[2] = {CastleBlackLong, CastleWhiteLong};

// Castling destinations by [short/long][colour].
constexpr i32 KingCastleTarget[2][2] = {{62, 6}, {58, 2}};
constexpr i32 RookCastleTarget[2][2] = {{61, 5}, {59, 3}};

inline u64 Bit(i32 sq) { return 1ULL << sq; }

}  // namespace

void Board::MakeMove(Move move, UndoInfo& undo) {
  const i32 side = sideToMove;
  const i32 opp = opponent;

  undo.key = key;
  undo.pawnKey = pawnKey;
  undo.move = move;
  undo.castleRights = castleRights;
  undo.epFile = epFile;
  undo.halfmoveClock = halfmoveClock;

  const i32 from = FromSquare(move);
  const i32 to = ToSquare(move);
  const i32 piece = MovingPiece(move);
  const i32 captured = CapturedPiece(move);
  const i32 promotion = PromotionPiece(move);
  // The clock stops at 255 rather than wrapping back to small values.
  if (captured != NoPiece || piece == Pawn)
    halfmoveClock = 0;
  else if (halfmoveClock < 255)
    ++halfmoveClock;

  i32 landing = to;
  i32 rookTo = 0;
  if (IsCastling(move)) {
    const i32 kind = to > from ? CastleShort : CastleLong;
    landing = KingCastleTarget[kind][side];
    rookTo = RookCastleTarget[kind][side];
  }

  // Lift the mover.
  occupied &= ~Bit(from);
  occupiedBy[side] &= ~Bit(from);
  pieces[side][piece] &= ~Bit(from);
  key ^= ZobristPieceKeys[side][piece][from];
  squares[from] = NoPiece;

  if (epFile != 0) key ^= ZobristEpKeys[epFile - 1];

  if (piece == Pawn) {
    pawnKey ^= ZobristPieceKeys[side][Pawn][from];
    if (promotion == NoPiece) pawnKey ^= ZobristPieceKeys[side][Pawn][to];
  }

  if (captured != NoPiece) {
    materialSignature -= MaterialSignatureStep[opp][captured];
    material[opp] -= PieceValue[captured];
    phaseBySide[opp] -= PhaseWeight[captured];
    i32 captureSquare = to;
    if (IsEnPassant(move)) {
      captureSquare = to + EpCaptureOffset[side];
      occupied &= ~Bit(captureSquare);
      squares[captureSquare] = NoPiece;
    }
    occupiedBy[opp] &= ~Bit(captureSquare);
    pieces[opp][captured] &= ~Bit(captureSquare);
    key ^= ZobristPieceKeys[opp][captured][captureSquare];
    if (captured == Pawn) {
      pawnKey ^= ZobristPieceKeys[opp][Pawn][captureSquare];
    } else if (captured == Rook) {
      if (to == castleRookSquare[CastleShort][opp])
        castleRights &= static_cast<u8>(~ShortRight[opp]);
      else if (to == castleRookSquare[CastleLong][opp])
        castleRights &= static_cast<u8>(~LongRight[opp]);
    }
  }

  i32 placed = piece;
  if (piece == King) {
    if (IsCastling(move)) {
      // The king is off the board while the rook moves, so Chess960 castlings
      // where king and rook swap or share squares come out right.
      occupied = (occupied & ~Bit(to)) | Bit(rookTo);
      occupiedBy[side] = (occupiedBy[side] & ~Bit(to)) | Bit(rookTo);
      pieces[side][Rook] = (pieces[side][Rook] & ~Bit(to)) | Bit(rookTo);
      key ^= ZobristPieceKeys[side][Rook][to] ^ ZobristPieceKeys[side][Rook][rookTo];
      squares[to] = NoPiece;
      squares[rookTo] = Rook;
    }
    kingSquare[side] = landing;
    castleRights &= KingMoveCastleMask[side];
  } else if (piece == Rook) {
    if (from == castleRookSquare[CastleShort][side])
      castleRights &= static_cast<u8>(~ShortRight[side]);
    else if (from == castleRookSquare[CastleLong][side])
      castleRights &= static_cast<u8>(~LongRight[side]);
  }

  if (promotion != NoPiece) {
    materialSignature += MaterialSignatureStep[side][promotion] - MaterialSignatureStep[side][Pawn];
    material[side] += PieceValue[promotion] - PieceValue[Pawn];
    phaseBySide[side] += PhaseWeight[promotion];
    placed = promotion;
  }

  occupied |= Bit(landing);
  occupiedBy[side] |= Bit(landing);
  pieces[side][placed] |= Bit(landing);
  key ^= ZobristPieceKeys[side][placed][landing];
  squares[landing] = static_cast<u8>(placed);

  if (IsDoublePush(move)) {
    epFile = static_cast<u8>(FileOf(to) + 1);
    key ^= ZobristEpKeys[FileOf(to)];
  } else {
    epFile = 0;
  }

  if (castleRights != undo.castleRights)
    key ^= ZobristCastleKeys[castleRights] ^ ZobristCastleKeys[undo.castleRights];

  sideToMove = opp;
  opponent = side;
  key ^= ZobristSideKey;
  phase = phaseBySide[Black] + phaseBySide[White];
}

void Board::UnmakeMove(Move move, const UndoInfo& undo) {
  const i32 mover = sideToMove ^ 1;
  const i32 opp = sideToMove;
  opponent = opp;
  sideToMove = mover;

  const i32 from = FromSquare(move);
  const i32 to = ToSquare(move);
  const i32 piece = MovingPiece(move);
  const i32 captured = CapturedPiece(move);
  const i32 promotion = PromotionPiece(move);

  i32 landing = to;
  i32 rookTo = 0;
  if (IsCastling(move)) {
    const i32 kind = to > from ? CastleShort : CastleLong;
    landing = KingCastleTarget[kind][mover];
    rookTo = RookCastleTarget[kind][mover];
  }

  i32 lifted = piece;
  if (promotion != NoPiece) {
    materialSignature += MaterialSignatureStep[mover][Pawn] - MaterialSignatureStep[mover][promotion];
    material[mover] += PieceValue[Pawn] - PieceValue[promotion];
    phaseBySide[mover] -= PhaseWeight[promotion];
    lifted = promotion;
  }

  pieces[mover][lifted] &= ~Bit(landing);
  occupiedBy[mover] &= ~Bit(landing);
  const bool ordinaryCapture = captured != NoPiece && !IsEnPassant(move);
  if (!ordinaryCapture) {
    occupied &= ~Bit(landing);
    squares[landing] = NoPiece;
  }

  if (captured != NoPiece) {
    materialSignature += MaterialSignatureStep[opp][captured];
    material[opp] += PieceValue[captured];
    phaseBySide[opp] += PhaseWeight[captured];
    i32 captureSquare = to;
    if (IsEnPassant(move)) {
      captureSquare = to + EpCaptureOffset[mover];
      occupied |= Bit(captureSquare);
    }
    occupiedBy[opp] |= Bit(captureSquare);
    pieces[opp][captured] |= Bit(captureSquare);
    squares[captureSquare] = static_cast<u8>(captured);
  }

  if (piece == King) {
    if (IsCastling(move)) {
      occupied = (occupied & ~Bit(rookTo)) | Bit(to);
      occupiedBy[mover] = (occupiedBy[mover] & ~Bit(rookTo)) | Bit(to);
      pieces[mover][Rook] = (pieces[mover][Rook] & ~Bit(rookTo)) | Bit(to);
      squares[rookTo] = NoPiece;
      squares[to] = Rook;
    }
    kingSquare[mover] = from;
  }

  occupied |= Bit(from);
  occupiedBy[mover] |= Bit(from);
  pieces[mover][piece] |= Bit(from);
  squares[from] = static_cast<u8>(piece);

  phase = phaseBySide[Black] + phaseBySide[White];
  key = undo.key;
  pawnKey = undo.pawnKey;
  castleRights = undo.castleRights;
  epFile = undo.epFile;
  halfmoveClock = undo.halfmoveClock;
}

void Board::MakeNullMove(UndoInfo& undo) {
  undo.key = key;
  undo.pawnKey = pawnKey;
  undo.epFile = epFile;
  undo.halfmoveClock = halfmoveClock;
  undo.move = 0;
  halfmoveClock = 0;
  if (epFile != 0) {
    key ^= ZobristEpKeys[epFile - 1];
    epFile = 0;
  }
  opponent = sideToMove;
  key ^= ZobristSideKey;
  sideToMove ^= 1;
}

// Besides fitting the position, the move word must be one the generators
// could have written: user moves reach the board through this test alone.
bool Board::IsPseudoLegal(Move move) const {
  if (move == 0) return false;
  const i32 side = sideToMove;
  const i32 from = FromSquare(move);
  const i32 to = ToSquare(move);
  const i32 piece = MovingPiece(move);
  const i32 captured = CapturedPiece(move);
  const i32 promotion = PromotionPiece(move);

  if (piece < Pawn || piece > King) return false;
  if (!(pieces[side][piece] & Bit(from))) return false;
  if (piece != Pawn && (promotion != NoPiece || (move & (MoveFlagEnPassant | MoveFlagDoublePush))))
    return false;
  if (piece != King && IsCastling(move)) return false;

  if (captured == NoPiece || IsEnPassant(move)) {
    if (!IsCastling(move) && squares[to] != NoPiece) return false;
  } else {
    if (captured == King || !(pieces[opponent][captured] & Bit(to))) return false;
  }

  switch (piece) {
    case Pawn: {
      const i32 forward = side == White ? 8 : -8;
      const i32 lastRank = side == White ? 7 : 0;
      // A pawn promotes exactly when it reaches the last rank, to a knight,
      // bishop, rook or queen.
      if ((RankOf(to) == lastRank) != (promotion != NoPiece)) return false;
      if (promotion != NoPiece && (promotion < Knight || promotion > Queen)) return false;
      if (IsEnPassant(move)) {
        return captured == Pawn && !IsDoublePush(move) && epFile == FileOf(to) + 1 &&
               RankOf(to) == (side == White ? 5 : 2) && (PawnAttacks[side][from] & Bit(to)) &&
               (pieces[opponent][Pawn] & Bit(to - forward));
      }
      if (IsDoublePush(move)) {
        return captured == NoPiece && RankOf(from) == (side == White ? 1 : 6) &&
               from + 2 * forward == to && squares[from + forward] == NoPiece;
      }
      if (captured == NoPiece) return from + forward == to;
      return (PawnAttacks[side][from] & Bit(to)) != 0;
    }
    case Knight:
      return (KnightAttacks[from] & Bit(to)) != 0;
    case Bishop:
      return (BishopAttacks(from, occupied) & Bit(to)) != 0;
    case Rook:
      return (RookAttacks(from, occupied) & Bit(to)) != 0;
    case Queen:
      return ((BishopAttacks(from, occupied) | RookAttacks(from, occupied)) & Bit(to)) != 0;
    case King: {
      if (!IsCastling(move)) return (KingAttacks[from] & Bit(to)) != 0;
      if (captured != NoPiece || from != castleKingSquare[side]) return false;
      if (squares[castleKingSquare[side]] != King) return false;
      i32 kind;
      if (to == castleRookSquare[CastleShort][side] && (castleRights & ShortRight[side]))
        kind = CastleShort;
      else if (to == castleRookSquare[CastleLong][side] && (castleRights & LongRight[side]))
        kind = CastleLong;
      else
        return false;
      if (!(pieces[side][Rook] & Bit(to))) return false;
      if (castlePath[kind][side] & occupied) return false;
      const i32 target = KingCastleTarget[kind][side];
      const i32 lo = from < target ? from : target;
      const i32 hi = from < target ? target : from;
      for (i32 sq = lo; sq <= hi; ++sq)
        if (IsAttacked(sq, opponent)) return false;
      return true;
    }
    default:
      return false;
  }
}
