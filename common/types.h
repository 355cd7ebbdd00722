// Basic vocabulary shared by every part of the engine: fixed-width integers,
// squares, colours, piece codes, the packed move word and score constants.
#pragma once

#include <cstdint>

using i8 = std::int8_t;
using u8 = std::uint8_t;
using i16 = std::int16_t;
using u16 = std::uint16_t;
using i32 = std::int32_t;
using u32 = std::uint32_t;
using i64 = std::int64_t;
using u64 = std::uint64_t;

// Colours: every per-colour array holds Black first.
constexpr i32 Black = 0;
constexpr i32 White = 1;

// Piece types. Tables by colour and type use colour * 8 + type.
constexpr i32 NoPiece = 0;
constexpr i32 Pawn = 1;
constexpr i32 Knight = 2;
constexpr i32 Bishop = 3;
constexpr i32 Rook = 4;
constexpr i32 Queen = 5;
constexpr i32 King = 6;

// Squares: a1 = 0, h1 = 7, a8 = 56, h8 = 63.
constexpr i32 FileOf(i32 square) { return square & 7; }
constexpr i32 RankOf(i32 square) { return square >> 3; }
constexpr i32 MakeSquare(i32 file, i32 rank) { return rank * 8 + file; }

// A move is a 32-bit word:
//   bits 0-5 from, 6-11 to, 12-14 moving piece, 15-17 captured piece,
//   18-20 promotion piece, 21 castling, 22 double push, 23 en passant,
//   24-25 notation mark (1 check, 2 mate; move text only).
// Castling is stored as the king moving onto its own rook's square.
using Move = u32;

constexpr Move MoveFlagCastle = 1u << 21;
constexpr Move MoveFlagDoublePush = 1u << 22;
constexpr Move MoveFlagEnPassant = 1u << 23;
constexpr u32 MoveMarkShift = 24;
constexpr Move MoveMarkMask = 3u << MoveMarkShift;

constexpr i32 FromSquare(Move m) { return static_cast<i32>(m & 63u); }
constexpr i32 ToSquare(Move m) { return static_cast<i32>((m >> 6) & 63u); }
constexpr i32 MovingPiece(Move m) { return static_cast<i32>((m >> 12) & 7u); }
constexpr i32 CapturedPiece(Move m) { return static_cast<i32>((m >> 15) & 7u); }
constexpr i32 PromotionPiece(Move m) { return static_cast<i32>((m >> 18) & 7u); }
constexpr bool IsCastling(Move m) { return (m & MoveFlagCastle) != 0; }
constexpr bool IsDoublePush(Move m) { return (m & MoveFlagDoublePush) != 0; }
constexpr bool IsEnPassant(Move m) { return (m & MoveFlagEnPassant) != 0; }
constexpr u32 MoveMark(Move m) { return (m >> MoveMarkShift) & 3u; }

constexpr Move EncodeMove(i32 from, i32 to, i32 piece, i32 captured = 0, i32 promotion = 0,
                          Move flags = 0) {
  return static_cast<Move>(from) | (static_cast<Move>(to) << 6) |
         (static_cast<Move>(piece) << 12) | (static_cast<Move>(captured) << 15) |
         (static_cast<Move>(promotion) << 18) | flags;
}

// A move with its ordering score; every move list is an array of these.
struct ScoredMove {
  Move move;
  i32 score;
};

// Scores are centipawns. Being mated at ply p scores p - MateScore.
constexpr i32 MateScore = 32000;
constexpr i32 MateBound = 31744;     // |score| >= this is a mate score
constexpr i32 InfiniteScore = 32001;  // bounds of the full window

constexpr i32 MaxPly = 128;  // rows of the per-ply arrays
