#include "tools/check_fen_suite.h"

#include <cstdio>
#include <cstring>

#include "common/line_reader.h"

namespace {

constexpr i32 FenLineSize = 512;  // at most 511 characters a line

enum class FenState { Board, RankEnd, BoardEnd, Side, AfterSide, Castling, EnPassant, Halfmove,
                      Fullmove, Rest };

// Index of a piece letter, 1 pawn .. 6 king; 0 when it is none.
i32 PieceIndex(char c, const char* letters) {
  const char* found = std::strchr(letters, c);
  return c && found ? static_cast<i32>(found - letters) + 1 : 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool CheckFenSyntax(const char* line) {
  static const i32 PieceLimit[7] = {0, 8, 9, 9, 9, 9, 1};  // by index, pawns to king
  FenState state = FenState::Board;
  i32 rank = 7;
  i32 column = 0;
  i32 digits = 0;
  i32 counts[2][7] = {};
  i32 epLength = 0;  // characters of the en-passant field so far
  char epPrevious = 0;

  for (const char* p = line; *p; ++p) {
    const char c = *p;
    switch (state) {
      case FenState::Board: {
        const i32 black = PieceIndex(c, "pnbrqk");
        const i32 white = PieceIndex(c, "PNBRQK");
        if (black || white) {
          const i32 side = white ? 1 : 0;
          const i32 piece = white ? white : black;
          if (++counts[side][piece] > PieceLimit[piece]) return false;
          if (piece == 1 && (rank == 7 || rank == 0)) return false;
          if (column >= 8 || rank < 0) return false;
          ++column;
        } else if (c >= '1' && c <= '8') {
          column += c - '0';
          if (column > 8) return false;
        } else if (c == '/') {
          // A ninth rank is never valid, whatever it holds.
          if (--rank < 0) return false;
          column = 0;
          break;
        } else if (c == ' ') {
          // The placement ends early, as after a complete rank: FEN reading
          // leaves the squares not written empty.
          state = FenState::Side;
          break;
        } else {
          return false;
        }
        if (column == 8) state = rank == 0 ? FenState::BoardEnd : FenState::RankEnd;
        break;
      }
      case FenState::RankEnd:
        if (c == '/') {
          if (--rank < 0) return false;
          column = 0;
          state = FenState::Board;
        } else if (c == ' ') {
          state = FenState::Side;
        } else {
          return false;
        }
        break;
      case FenState::BoardEnd:
        if (c != ' ') return false;
        state = FenState::Side;
        break;
      case FenState::Side:
        if (c != 'w' && c != 'b') return false;
        state = FenState::AfterSide;
        break;
      case FenState::AfterSide:
        if (c != ' ') return false;
        state = FenState::Castling;
        break;
      case FenState::Castling:
        if (c == ' ')
          state = FenState::EnPassant;
        else if (!std::strchr("-KQkq", c))
          return false;
        break;
      case FenState::EnPassant:
        if (c == ' ') {
          state = FenState::Halfmove;
          digits = 0;
        } else if (c == '-' || c == ';') {
        } else if (c >= 'a' && c <= 'h') {
          if (epLength != 0) return false;
        } else if (c >= '1' && c <= '8') {
          if (!(epPrevious >= 'a' && epPrevious <= 'h')) return false;
        } else {
          return false;
        }
        ++epLength;
        epPrevious = c;
        break;
      case FenState::Halfmove:
        if (IsDigit(c)) {
          if (++digits > 30) return false;
        } else if (c == ' ') {
          state = FenState::Fullmove;
          digits = 0;
        } else {
          state = FenState::Rest;
        }
        break;
      case FenState::Fullmove:
        if (IsDigit(c)) {
          if (++digits > 30) return false;
        } else {
          state = FenState::Rest;
        }
        break;
      case FenState::Rest:
        break;
    }
  }
  return state == FenState::Halfmove || state == FenState::Fullmove || state == FenState::Rest;
}

i32 RunCheckFenSuite(const char* fileName) {
  std::FILE* file = OpenToolFile(fileName);
  if (!file) return 0;
  std::printf("Check FEN suite : '%s'\n", fileName);
  u32 valid = 0;
  u32 lines = 0;
  char line[FenLineSize];
  LineReader reader(file, fileName);
  for (LineRead read; (read = reader.Next(line, sizeof line)) != LineRead::End;) {
    if (read != LineRead::TooLong && std::strlen(line) < 2) continue;
    for (char* p = line; *p; ++p)
      if (static_cast<signed char>(*p) < 32) *p = ' ';
    if (read == LineRead::TooLong)
      std::printf("Invalid FEN String : '%.40s...' (line too long)\n", line);
    else if (CheckFenSyntax(line))
      ++valid;
    else
      std::printf("Invalid FEN String : '%s'\n", line);
    ++lines;
  }
  const bool failed = reader.Failed();
  std::fclose(file);
  if (failed) return 0;
  std::printf("Checked %u / %u valid FEN string\n", valid, lines);
  return 1;
}
