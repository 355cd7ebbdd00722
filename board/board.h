// The chess position as a flat value type, with the fixed key and material
// tables it is built from.
#pragma once

#include "common/types.h"

class SearchThread;

// What making a move (or a null move) saves so that it can be taken back.
struct UndoInfo {
  u64 key;
  u64 pawnKey;
  Move move;  // 0 for a null move
  u8 castleRights;
  u8 epFile;
  u8 halfmoveClock;
};

// Castling rights bits.
constexpr u8 CastleWhiteShort = 1;
constexpr u8 CastleWhiteLong = 2;
constexpr u8 CastleBlackShort = 4;
constexpr u8 CastleBlackLong = 8;

// Index of the castling kind in castlePath and castleRookSquare.
constexpr i32 CastleShort = 0;
constexpr i32 CastleLong = 1;

struct Board {
  u64 key;             // Zobrist key of the whole position
  u64 pawnKey;         // XOR of the piece keys of all pawns
  u64 occupied;        // all pieces
  u64 occupiedBy[2];   // pieces by colour
  u64 pieces[2][8];    // pieces by colour and type (types 0 and 7 stay empty)
  u8 squares[64];      // piece type on each square, 0 when empty
  i32 material[2];     // sum of PieceValue over each side's pieces
  i32 sideToMove;      // 1 White, 0 Black
  i32 opponent;        // sideToMove ^ 1
  i32 phase;           // phaseBySide[0] + phaseBySide[1]
  i32 phaseBySide[2];  // sum of PhaseWeight over each side's pieces
  u64 materialSignature;  // 4-bit piece counts, Black low half, White high half
  u8 castleRights;
  u8 epFile;         // 0, or file + 1 of a pawn that has just pushed two squares
  u8 halfmoveClock;  // plies since the last capture or pawn move
  i32 kingSquare[2];
  u64 castlePath[2][2];        // [short/long][colour]: squares that must be empty
  i32 castleKingSquare[2];     // square each king castles from
  i32 castleRookSquare[2][2];  // [short/long][colour]: the castling rook's square
  i32 chess960;                // written by the engine, never by the board operations
  SearchThread* owner;         // thread whose pawn hash and history serve this copy

  // Setting a whole position.
  void SetStartPosition();
  // rookFiles, when given, are the castling rook files ParseFen reads
  // (Black long, Black short, White long, White short): a file names the
  // rook of its right; the edge files and no array mean the outermost rook.
  void SetPosition(const i8 pieceCodes[64], i32 side, u8 rights, u8 epFileIn, u8 halfmoveClockIn,
                   const i32* rookFiles = nullptr);

  // Making and unmaking moves; legality is tested by the caller afterwards.
  void MakeMove(Move move, UndoInfo& undo);
  void UnmakeMove(Move move, const UndoInfo& undo);
  void MakeNullMove(UndoInfo& undo);
  bool IsPseudoLegal(Move move) const;

  // Attack tests (attacks.cpp).
  bool IsAttacked(i32 square, i32 bySide) const;
  bool IsAttackedOcc(i32 square, i32 bySide, u64 occupancy) const;

  // Static exchange evaluation of a move of the side to move.
  i32 StaticExchange(Move move) const;

  // SAN origin lookup for the PGN reader; false when no unpinned piece fits.
  bool FindMoveOrigin(i32 to, i32 pieceType, i32 fromFile, i32 fromRank, i32* origin,
                      i32* captured) const;

  // Draws the position on standard output.
  void Print() const;

  // True when the side to move's king is attacked.
  bool InCheck() const { return IsAttacked(kingSquare[sideToMove], opponent); }

  // Recomputes every derived field from scratch and compares: occupancy,
  // squares, king squares, keys, material, phase, signature and the
  // castling squares behind each right. For tests and debugging.
  bool IsConsistent() const;
};

// Fixed Zobrist keys.
extern const u64 ZobristPieceKeys[2][8][64];
extern const u64 ZobristEpKeys[8];
extern const u64 ZobristCastleKeys[16];
constexpr u64 ZobristSideKey = 0xf039404e0dd3333fULL;

// Material signature steps and phase weights.
extern const u64 MaterialSignatureStep[2][8];
extern const i32 PhaseWeight[8];

// Material values: restored by every engine initialisation; a loaded
// personality replaces PieceValue of types 1-5 and recomputes startMaterial.
extern i32 PieceValue[8];
extern i32 SeeValue[8];
extern i32 startMaterial;

extern const i8 StartPosition[64];

// The start position's material signature in each half.
constexpr u64 StartSignatureHalf = 0x12228;
