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

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A move as the comparison sees it: without its check or mate sign and
// annotation ("Qd1+", "Qd1#" and "Qd1!?" all read "Qd1"), with castling
// zeros read as letters ("0-0" is "O-O").
std::string PlainMove(const std::string& text) {
  std::string plain;
  for (const char c : text) plain += c == '0' ? 'O' : c;
  while (!plain.empty() && std::strchr("+#!?", plain.back()) != nullptr) plain.pop_back();
  return plain;
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
  const std::size_t length = std::strlen(line);
  std::size_t at = 0;
  // "bm" or "am" as a word of its own: after a blank (a FEN's own letters
  // never spell it) and before a blank or the end of the line.
  auto isOpcode = [&](std::size_t i) {
    return (line[i] == 'a' || line[i] == 'b') && line[i + 1] == 'm' &&
           (i == 0 || IsBlank(line[i - 1])) && (IsBlank(line[i + 2]) || IsLineEnd(line[i + 2]));
  };
  while (at + 1 < length && !isOpcode(at)) ++at;
  if (at + 1 >= length) return false;

  out.position.assign(line, at);
  out.avoid = line[at] == 'a' ? 1 : 0;
  // The moves start after "bm" and its blank; a line may end sooner.
  std::size_t p = at + 3 < length ? at + 3 : length;
  while (p < length && line[p] != ';' && !IsLineEnd(line[p])) {
    out.moves += line[p] == '0' ? 'O' : line[p];
    ++p;
  }
  // '; id "name"': the name starts six characters after the ';'.
  if (p < length && line[p] == ';' && p + 6 <= length) {
    for (std::size_t q = p + 6; q < length && line[q] != '"' && !IsLineEnd(line[q]); ++q)
      out.id += line[q];
  }
  return true;
}

bool MoveIsListed(const std::string& moves, const char* san, const char* longText) {
  const std::string played[2] = {PlainMove(san), PlainMove(longText)};
  std::size_t at = 0;
  while (at < moves.size()) {
    while (at < moves.size() && IsBlank(moves[at])) ++at;
    std::size_t end = at;
    while (end < moves.size() && !IsBlank(moves[end])) ++end;
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
      bool needFile = false;
      bool needRank = false;
      for (i32 i = 0; i < count; ++i) {
        const Move other = list[i].move;
        if (MovingPiece(other) != piece || ToSquare(other) != to || FromSquare(other) == from)
          continue;
        if (!IsLegalMove(board, other)) continue;
        others = true;
        if (FileOf(FromSquare(other)) == FileOf(from))
          needRank = true;
        else if (RankOf(FromSquare(other)) == RankOf(from))
          needFile = true;
        else if (!needFile && !needRank)
          needFile = true;
      }
      if (others) {
        if (needFile) *o++ = static_cast<char>('a' + FileOf(from));
        if (needRank) *o++ = static_cast<char>('1' + RankOf(from));
      }
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
  return failedToRead ? 0 : 1;
}
