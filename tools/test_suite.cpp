#include "tools/test_suite.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board/fen.h"
#include "board/movegen.h"
#include "board/perft.h"
#include "common/build_info.h"
#include "common/line_reader.h"
#include "common/timer.h"
#include "engine/engine.h"
#include "tools/speed.h"

namespace {

constexpr i32 TestLineSize = 512;  // at most 511 characters a line

bool IsLineEnd(char c) { return c == 0 || c == '\n' || c == '\r'; }

// A move as the comparison sees it: without its check or mate sign and
// annotation ("Qd1+", "Qd1#" and "Qd1!?" all read "Qd1"), with castling
// zeros read as letters ("0-0" is "O-O").
std::string PlainMove(const std::string& text) {
  std::string plain;
  for (const char c : text) plain += c == '0' ? 'O' : c;
  while (!plain.empty() && std::strchr("+#!?", plain.back()) != nullptr) plain.pop_back();
  return plain;
}

// Whether the word can be the FEN field after the placement with this index:
// side, castling, en-passant square, halfmove clock, full-move number.
bool IsFenField(i32 field, const char* word, std::size_t length) {
  if (length == 1 && word[0] == '-') return field >= 1;
  switch (field) {
    case 0: return length == 1 && (word[0] == 'w' || word[0] == 'b');
    case 1:
      if (length > 4) return false;
      for (std::size_t i = 0; i < length; ++i)
        if (!std::strchr("KQkqABCDEFGHabcdefgh", word[i])) return false;
      return true;
    case 2: return length == 2 && word[0] >= 'a' && word[0] <= 'h' && (word[1] == '3' || word[1] == '6');
    default:
      for (std::size_t i = 0; i < length; ++i)
        if (word[i] < '0' || word[i] > '9') return false;
      return true;
  }
}

bool IsLegalMove(Board& board, Move move) {
  UndoInfo undo;
  board.MakeMove(move, undo);
  const bool legal = !board.IsAttacked(board.kingSquare[board.opponent], board.sideToMove);
  board.UnmakeMove(move, undo);
  return legal;
}

}  // namespace

bool SplitTestLine(const char* line, TestLine& out) {
  out = TestLine{};
  std::size_t length = 0;
  while (!IsLineEnd(line[length])) ++length;
  auto skipBlanks = [&](std::size_t p) {
    while (p < length && IsLineBlank(line[p])) ++p;
    return p;
  };
  auto wordEnd = [&](std::size_t p) {
    while (p < length && !IsLineBlank(line[p])) ++p;
    return p;
  };

  // The position: the placement and then, in their order, those of the side,
  // castling, en-passant and counter fields that are there. The operations
  // begin at the first word that is none of them.
  std::size_t at = skipBlanks(0);
  if (at == length) return false;
  at = wordEnd(at);
  for (i32 field = 0; field < 5; ++field) {
    const std::size_t first = skipBlanks(at);
    const std::size_t last = wordEnd(first);
    if (last == first || !IsFenField(field, line + first, last - first)) break;
    at = last;
  }
  at = skipBlanks(at);
  out.position.assign(line, at);
  // The FEN reader parts its fields at blanks: a tab between them reads as one.
  for (char& c : out.position)
    if (IsLineBlank(c)) c = ' ';

  // Each operation: an opcode, then its operands up to a ';' that stands
  // outside a quoted string.
  bool found = false;
  while (at < length) {
    const std::size_t opcode = at;
    std::size_t p = opcode;
    while (p < length && !IsLineBlank(line[p]) && line[p] != ';') ++p;
    const std::string name(line + opcode, p - opcode);
    const std::size_t operands = skipBlanks(p);
    bool quoted = false;
    std::size_t end = operands;
    for (; end < length && (quoted || line[end] != ';'); ++end)
      if (line[end] == '"') quoted = !quoted;
    if (!found && (name == "bm" || name == "am")) {
      found = true;
      out.avoid = name == "am" ? 1 : 0;
      for (std::size_t q = operands; q < end; ++q) out.moves += line[q] == '0' ? 'O' : line[q];
    } else if (name == "id" && out.id.empty()) {
      // The name without its quotes; an unquoted one ends at a blank.
      std::size_t q = operands;
      if (q < end && line[q] == '"') {
        for (++q; q < end && line[q] != '"'; ++q) out.id += line[q];
      } else {
        for (; q < end && !IsLineBlank(line[q]); ++q) out.id += line[q];
      }
    }
    at = skipBlanks(end < length ? end + 1 : end);
  }
  if (!found) return false;
  while (!out.moves.empty() && IsLineBlank(out.moves.back())) out.moves.pop_back();
  return true;
}

bool MoveIsListed(const std::string& moves, const char* san, const char* longText) {
  const std::string played[2] = {PlainMove(san), PlainMove(longText)};
  std::size_t at = 0;
  while (at < moves.size()) {
    while (at < moves.size() && IsLineBlank(moves[at])) ++at;
    std::size_t end = at;
    while (end < moves.size() && !IsLineBlank(moves[end])) ++end;
    if (end > at) {
      const std::string listed = PlainMove(moves.substr(at, end - at));
      for (const std::string& move : played)
        if (!move.empty() && move == listed) return true;
    }
    at = end;
  }
  return false;
}

void MoveToSan(const Board& position, Move move, char* out) {
  static const char PieceLetters[] = "  NBRQK";
  char* o = out;
  *o = 0;
  if (move == 0) return;
  const i32 from = FromSquare(move);
  const i32 to = ToSquare(move);
  const i32 piece = MovingPiece(move);

  if (IsCastling(move)) {
    std::strcpy(o, FileOf(from) <= FileOf(to) ? "O-O" : "O-O-O");
    o += std::strlen(o);
  } else {
    if (piece != Pawn) *o++ = PieceLetters[piece & 7];
    if (piece != Pawn && piece != King) {
      // Only legal moves can be confused with this one: a pinned piece that
      // could otherwise reach the square does not call for a file or rank.
      Board board = position;
      ScoredMove list[MaxMoves];
      const i32 count = GenerateMoves(board, list, board.InCheck());
      bool others = false;
      bool fileShared = false;
      bool rankShared = false;
      for (i32 i = 0; i < count; ++i) {
        const Move other = list[i].move;
        if (MovingPiece(other) != piece || ToSquare(other) != to || FromSquare(other) == from)
          continue;
        if (!IsLegalMove(board, other)) continue;
        others = true;
        if (FileOf(FromSquare(other)) == FileOf(from)) fileShared = true;
        if (RankOf(FromSquare(other)) == RankOf(from)) rankShared = true;
      }
      // The file when it alone tells the piece apart, else the rank when it
      // alone does, else both.
      if (others && (!fileShared || rankShared)) *o++ = static_cast<char>('a' + FileOf(from));
      if (others && fileShared) *o++ = static_cast<char>('1' + RankOf(from));
    }
    if (CapturedPiece(move) != NoPiece || IsEnPassant(move)) {
      if (piece == Pawn) *o++ = static_cast<char>('a' + FileOf(from));
      *o++ = 'x';
    }
    *o++ = static_cast<char>('a' + FileOf(to));
    *o++ = static_cast<char>('1' + RankOf(to));
    if (PromotionPiece(move) != NoPiece) {
      *o++ = '=';
      *o++ = PieceLetters[PromotionPiece(move) & 7];
    }
  }
  if (MoveMark(move) == 1) *o++ = '+';
  if (MoveMark(move) == 2) *o++ = '#';
  *o = 0;
}

i32 RunTestSuite(ToolContext& tools, const char* fileName) {
  if (!tools.engine) return 0;
  std::FILE* file = OpenToolFile(fileName);
  if (!file) return 0;
  Engine& engine = *tools.engine;
  engine.testSuiteMode = 1;
  std::printf("Zorvel version %s\n\n", EngineVersion);
  std::printf("Test suite : %s\n\n", fileName);

  Timer timer;
  timer.Start();
  i32 lines = 0;
  i32 solved = 0;
  u32 depthMin = 1024;
  u32 depthMax = 0;
  u32 depthSum = 0;
  u32 searched = 0;  // lines searched to a move: the depths are theirs
  u64 nodes = 0;
  std::vector<std::string> failed;
  char line[TestLineSize];
  const std::string separator(79, '-');

  LineReader reader(file, fileName);
  for (LineRead read; (read = reader.Next(line, sizeof line)) != LineRead::End;) {
    // Blank lines and comments are no tests, whatever words they hold.
    if (!IsDataLine(line)) continue;
    if (read == LineRead::TooLong) {
      // Its position and moves are cut: the line fails without a search.
      std::puts("ERROR : line too long !");
      failed.push_back(std::string(line, 40) + "...\n");
      ++lines;
      continue;
    }
    // Only a line with "bm" or "am" is a test; any other (an EPD line with
    // other operations) is passed over and not counted. Blanks before the
    // position do not count.
    TestLine test;
    if (SplitTestLine(SkipLineBlanks(line), test)) {
      std::puts(separator.c_str());
      std::printf("%s %s %s; id %s;\n\n", test.position.c_str(), test.avoid ? "am" : "bm",
                  test.moves.c_str(), test.id.c_str());
      engine.tt.Clear();
      if (!engine.SetFen(test.position.c_str())) {
        std::puts("ERROR : bad FEN !");
        failed.emplace_back(line);
      } else {
        const Board before = engine.board;
        ScoredMove list[MaxMoves];
        if (GenerateMoves(before, list, before.InCheck()) == 0) {
          failed.emplace_back(line);
        } else {
          engine.Think(0);
          if (engine.gameHistory.empty()) {
            std::printf("no result !");
            failed.emplace_back(line);
          } else {
            const Move best = engine.gameHistory.back().move;
            nodes += engine.mainContext.nodes;
            char san[SanTextSize];
            char longText[MoveTextSize];
            MoveToSan(before, best, san);
            MoveToLongAlgebraic(&best, longText);
            const bool found = MoveIsListed(test.moves, san, longText);
            if (found != (test.avoid != 0)) {
              ++solved;
              std::printf("result => '%s' : ok\n", san);
            } else {
              std::printf("result => '%s' : bad\n", san);
              failed.emplace_back(line);
            }
            const u32 depth = static_cast<u32>(engine.limits.depthReached);
            if (depth < depthMin) depthMin = depth;
            if (depth > depthMax) depthMax = depth;
            depthSum += depth;
            ++searched;
          }
        }
      }
      ++lines;
    }
  }
  const bool failedToRead = reader.Failed();

  if (lines > 0 && !failedToRead) {
    const double elapsed = timer.ElapsedMicroseconds();
    char time[FormatTimeBufferSize];
    FormatTime(time, elapsed);
    std::printf("\nTime : %s\n", time);
    std::printf("\nTotal nodes = %llu, Speed %d\n", static_cast<unsigned long long>(nodes),
                CountPerSecond(static_cast<double>(nodes), elapsed));
    std::printf("\nDepth min = %u, max = %u, average = %u\n", depthMin, depthMax,
                searched > 0 ? depthSum / searched : 0);
    std::printf("\nScore = %d / %d\n", solved, lines);
    std::printf("\nBad results : \n");
    for (const std::string& text : failed) std::fputs(text.c_str(), stdout);
  }
  std::fclose(file);
  engine.testSuiteMode = 0;
  if (failedToRead) return 0;
  if (lines == 0) {
    ReportNoPosition("test suite", fileName);
    return 0;
  }
  return 1;
}
