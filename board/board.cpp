// Setting a whole position, and the material and signature tables.
#include "board/board.h"

#include <cstring>
#include <initializer_list>

i32 PieceValue[8] = {0, 100, 325, 325, 500, 975, 0, 0};
i32 SeeValue[8] = {0, 100, 325, 325, 500, 975, 5000, 0};
i32 startMaterial = 975 + 2 * (325 + 4 * 100 + 325 + 500);

// One 4-bit count per type: Black in the low half, White in the high half.
const u64 MaterialSignatureStep[2][8] = {
    {0, 0x1ULL, 0x10ULL, 0x100ULL, 0x1000ULL, 0x10000ULL, 0, 0},
    {0, 0x1ULL << 32, 0x10ULL << 32, 0x100ULL << 32, 0x1000ULL << 32, 0x10000ULL << 32, 0, 0},
};

const i32 PhaseWeight[8] = {0, 0, 1, 1, 2, 4, 0, 0};

const i8 StartPosition[64] = {
    4,  2,  3,  5,  6,  3,  2,  4,   //
    1,  1,  1,  1,  1,  1,  1,  1,   //
    0,  0,  0,  0,  0,  0,  0,  0,   //
    0,  0,  0,  0,  0,  0,  0,  0,   //
    0,  0,  0,  0,  0,  0,  0,  0,   //
    0,  0,  0,  0,  0,  0,  0,  0,   //
    -1, -1, -1, -1, -1, -1, -1, -1,  //
    -4, -2, -3, -5, -6, -3, -2, -4,  //
};

namespace {

// Where king and rook end up, by [short/long][colour].
constexpr i32 KingCastleTarget[2][2] = {{62, 6}, {58, 2}};
constexpr i32 RookCastleTarget[2][2] = {{61, 5}, {59, 3}};
constexpr u8 CastleBit[2][2] = {{CastleBlackShort, CastleWhiteShort},
                                {CastleBlackLong, CastleWhiteLong}};

constexpr u64 Bit(i32 sq) { return 1ULL << sq; }

// All squares of one rank from a to b, both included.
u64 Span(i32 a, i32 b) {
  const i32 lo = a < b ? a : b;
  const i32 hi = a < b ? b : a;
  u64 bits = 0;
  for (i32 sq = lo; sq <= hi; ++sq) bits |= Bit(sq);
  return bits;
}

u64 CastlePathOf(i32 king, i32 rook, i32 kind, i32 colour) {
  return (Span(king, KingCastleTarget[kind][colour]) | Span(rook, RookCastleTarget[kind][colour])) &
         ~(Bit(king) | Bit(rook));
}

}  // namespace

void Board::SetStartPosition() {
  kingSquare[Black] = 60;
  kingSquare[White] = 4;
  phase = 24;
  phaseBySide[Black] = phaseBySide[White] = 12;
  materialSignature = StartSignatureHalf | (StartSignatureHalf << 32);
  material[Black] = material[White] = startMaterial;

  occupied = 0;
  std::memset(occupiedBy, 0, sizeof occupiedBy);
  std::memset(pieces, 0, sizeof pieces);
  std::memset(squares, 0, sizeof squares);
  key = pawnKey = 0;
  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 code = StartPosition[sq];
    if (code == 0) continue;
    const i32 colour = code > 0 ? White : Black;
    const i32 type = code > 0 ? code : -code;
    occupied |= Bit(sq);
    occupiedBy[colour] |= Bit(sq);
    pieces[colour][type] |= Bit(sq);
    squares[sq] = static_cast<u8>(type);
    key ^= ZobristPieceKeys[colour][type][sq];
    if (type == Pawn) pawnKey ^= ZobristPieceKeys[colour][type][sq];
  }

  epFile = 0;
  castleRights = 15;
  halfmoveClock = 0;

  castlePath[CastleShort][Black] = Bit(61) | Bit(62);
  castlePath[CastleLong][Black] = Bit(57) | Bit(58) | Bit(59);
  castlePath[CastleShort][White] = Bit(5) | Bit(6);
  castlePath[CastleLong][White] = Bit(1) | Bit(2) | Bit(3);
  castleRookSquare[CastleShort][Black] = 63;
  castleRookSquare[CastleShort][White] = 7;
  castleRookSquare[CastleLong][Black] = 56;
  castleRookSquare[CastleLong][White] = 0;
  castleKingSquare[Black] = 60;
  castleKingSquare[White] = 4;

  sideToMove = White;
  opponent = Black;
  key ^= ZobristCastleKeys[15];
}

void Board::SetPosition(const i8 pieceCodes[64], i32 side, u8 rights, u8 epFileIn,
                        u8 halfmoveClockIn, const i32* rookFiles) {
  material[Black] = material[White] = 0;
  phaseBySide[Black] = phaseBySide[White] = 0;
  materialSignature = 0;
  occupied = 0;
  std::memset(occupiedBy, 0, sizeof occupiedBy);
  std::memset(pieces, 0, sizeof pieces);
  std::memset(squares, 0, sizeof squares);

  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 code = pieceCodes[sq];
    const i32 type = code < 0 ? -code : code;
    if (type < Pawn || type > King) continue;
    const i32 colour = code > 0 ? White : Black;
    occupied |= Bit(sq);
    occupiedBy[colour] |= Bit(sq);
    pieces[colour][type] |= Bit(sq);
    squares[sq] = static_cast<u8>(type);
    material[colour] += PieceValue[type];
    materialSignature += MaterialSignatureStep[colour][type];
    phaseBySide[colour] += PhaseWeight[type];
    if (type == King) kingSquare[colour] = sq;
  }

  castleRights = rights & 15;  // only four rights exist; more bits would index past the keys
  phase = phaseBySide[Black] + phaseBySide[White];
  // A side without a king keeps a stale king square, so it cannot castle.
  if (!pieces[White][King] || RankOf(kingSquare[White]) != 0)
    castleRights &= static_cast<u8>(~(CastleWhiteShort | CastleWhiteLong));
  if (!pieces[Black][King] || RankOf(kingSquare[Black]) != 7)
    castleRights &= static_cast<u8>(~(CastleBlackShort | CastleBlackLong));

  side = side != 0 ? White : Black;
  sideToMove = side;
  opponent = side ^ 1;
  halfmoveClock = halfmoveClockIn;
  epFile = epFileIn <= 8 ? epFileIn : 0;  // beyond file h it would index past the keys

  castleRookSquare[CastleShort][Black] = 63;
  castleRookSquare[CastleShort][White] = 7;
  castleRookSquare[CastleLong][Black] = 56;
  castleRookSquare[CastleLong][White] = 0;
  castleKingSquare[Black] =
      (castleRights & (CastleBlackShort | CastleBlackLong)) ? kingSquare[Black] : 60;
  castleKingSquare[White] =
      (castleRights & (CastleWhiteShort | CastleWhiteLong)) ? kingSquare[White] : 4;

  // Castling rooks. rookFiles (Black long, Black short, White long, White
  // short, as ParseFen reads them) may name a right's rook by its file
  // (Chess960); without a rook of that side there, the right goes. An edge
  // file, or no array, means the outermost rook, as "KQkq" do: nearest the
  // h-file on the short side, nearest the a-file on the long side.
  for (const i32 colour : {Black, White}) {
    const i32 king = castleKingSquare[colour];
    const i32 rankStart = colour == White ? 0 : 56;
    const u64 rooks = pieces[colour][Rook];

    for (const i32 kind : {CastleShort, CastleLong}) {
      const u8 bit = CastleBit[kind][colour];
      if (!(castleRights & bit)) continue;
      const i32 edge = kind == CastleShort ? 7 : 0;
      const i32 step = kind == CastleShort ? 1 : -1;
      const i32 named = rookFiles ? rookFiles[colour * 2 + (kind == CastleShort ? 1 : 0)] : edge;
      const bool outermost = named < 0 || named > 7 || named == edge;
      bool found = false;
      for (i32 file = FileOf(king) + step; file >= 0 && file <= 7; file += step) {
        if (!(rooks & Bit(rankStart + file)) || !(outermost || file == named)) continue;
        castleRookSquare[kind][colour] = rankStart + file;
        found = true;
      }
      if (!found) castleRights &= static_cast<u8>(~bit);
    }
  }

  for (const i32 colour : {Black, White}) {
    for (const i32 kind : {CastleShort, CastleLong}) {
      castlePath[kind][colour] =
          (castleRights & CastleBit[kind][colour])
              ? CastlePathOf(castleKingSquare[colour], castleRookSquare[kind][colour], kind, colour)
              : 0;
    }
  }

  key = pawnKey = 0;
  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 type = squares[sq];
    if (type == NoPiece) continue;
    const i32 colour = (occupiedBy[White] & Bit(sq)) ? White : Black;
    key ^= ZobristPieceKeys[colour][type][sq];
    if (type == Pawn) pawnKey ^= ZobristPieceKeys[colour][type][sq];
  }
  if (epFile != 0) key ^= ZobristEpKeys[epFile - 1];
  key ^= ZobristCastleKeys[castleRights];
  if (side == Black) key ^= ZobristSideKey;
}

bool Board::IsConsistent() const {
  if (sideToMove != (sideToMove & 1) || opponent != (sideToMove ^ 1)) return false;
  if (epFile > 8 || castleRights > 15) return false;

  u64 computedKey = 0;
  u64 computedPawnKey = 0;
  i32 computedMaterial[2] = {0, 0};
  i32 computedPhase[2] = {0, 0};
  u64 computedSignature = 0;
  u64 computedBy[2] = {0, 0};

  if (occupiedBy[Black] & occupiedBy[White]) return false;
  for (i32 colour = 0; colour < 2; ++colour) {
    if (pieces[colour][NoPiece] || pieces[colour][7]) return false;
    for (i32 type = Pawn; type <= King; ++type) {
      if (computedBy[colour] & pieces[colour][type]) return false;  // two types on one square
      computedBy[colour] |= pieces[colour][type];
    }
  }
  if (computedBy[Black] != occupiedBy[Black] || computedBy[White] != occupiedBy[White]) return false;
  if (occupied != (occupiedBy[Black] | occupiedBy[White])) return false;

  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 type = squares[sq];
    if (!(occupied & Bit(sq))) {
      if (type != NoPiece) return false;
      continue;
    }
    const i32 colour = (occupiedBy[White] & Bit(sq)) ? White : Black;
    if (type < Pawn || type > King || !(pieces[colour][type] & Bit(sq))) return false;
    computedKey ^= ZobristPieceKeys[colour][type][sq];
    if (type == Pawn) computedPawnKey ^= ZobristPieceKeys[colour][type][sq];
    computedMaterial[colour] += PieceValue[type];
    computedPhase[colour] += PhaseWeight[type];
    computedSignature += MaterialSignatureStep[colour][type];
  }
  for (i32 colour = 0; colour < 2; ++colour) {
    if (pieces[colour][King] && pieces[colour][King] != Bit(kingSquare[colour] & 63)) return false;
    if (material[colour] != computedMaterial[colour]) return false;
    if (phaseBySide[colour] != computedPhase[colour]) return false;
  }
  if (phase != phaseBySide[Black] + phaseBySide[White]) return false;
  if (materialSignature != computedSignature) return false;

  if (epFile != 0) computedKey ^= ZobristEpKeys[epFile - 1];
  computedKey ^= ZobristCastleKeys[castleRights];
  if (sideToMove == Black) computedKey ^= ZobristSideKey;
  if (key != computedKey || pawnKey != computedPawnKey) return false;

  // Every right still held has its king and rook in place.
  for (i32 colour = 0; colour < 2; ++colour) {
    for (i32 kind = 0; kind < 2; ++kind) {
      if (!(castleRights & CastleBit[kind][colour])) continue;
      if (!(pieces[colour][King] & Bit(castleKingSquare[colour] & 63))) return false;
      if (!(pieces[colour][Rook] & Bit(castleRookSquare[kind][colour] & 63))) return false;
      if (castlePath[kind][colour] != CastlePathOf(castleKingSquare[colour],
                                                   castleRookSquare[kind][colour], kind, colour))
        return false;
    }
  }
  return true;
}
