#include "tools/see_test.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "board/movegen.h"
#include "board/perft.h"
#include "common/line_reader.h"
#include "common/timer.h"
#include "engine/engine.h"
#include "tools/speed.h"

namespace {

constexpr i32 SeeLineSize = 512;  // at most 511 characters a line

// Keeps the exchange results alive: the test times their computation.
volatile i32 exchangeSink = 0;

// The number of legal moves of the game position, each evaluated once.
i32 EvaluateExchanges(Board& board) {
  ScoredMove list[MaxMoves];
  i32 count;
  if (board.InCheck()) {
    count = GenerateEvasions(board, list);
  } else {
    count = GenerateCaptures(board, list);
    count += GenerateQuiets(board, list + count);
  }
  i32 legal = 0;
  for (i32 i = 0; i < count; ++i) {
    const Move move = list[i].move;
    UndoInfo undo;
    board.MakeMove(move, undo);
    const bool isLegal = !board.IsAttacked(board.kingSquare[board.opponent], board.sideToMove);
    board.UnmakeMove(move, undo);
    if (!isLegal) continue;
    exchangeSink = exchangeSink + board.StaticExchange(move);
    ++legal;
  }
  return legal;
}

}  // namespace

i32 RunSeeTest(ToolContext& tools, const char* fileName) {
  std::FILE* file = OpenToolFile(fileName);
  if (!file) return 0;
  Timer timer;
  timer.Start();
  i32 positions = 0;
  i32 exchanges = 0;
  char line[SeeLineSize];
  LineReader reader(file, fileName);
  for (LineRead read; (read = reader.Next(line, sizeof line)) != LineRead::End;) {
    if (read == LineRead::TooLong) continue;  // logged; its positions are cut
    // Blank lines and comments hold no positions; blanks before one do not count.
    if (!IsDataLine(line) || !tools.engine) continue;
    const char* text = SkipLineBlanks(line);
    const std::size_t length = std::strlen(text);
    for (std::size_t i = 0; i + 1 < length; ++i) {
      if (text[i] != 'b' || text[i + 1] != 'm') continue;
      // The FEN reader parts its fields at blanks: a tab between them reads as one.
      std::string position(text, i);
      for (char& c : position)
        if (IsLineBlank(c)) c = ' ';
      tools.engine->tt.Clear();
      if (!tools.engine->SetFen(position.c_str())) continue;
      exchanges += EvaluateExchanges(tools.engine->board);
      ++positions;
    }
  }
  const double elapsed = timer.ElapsedMicroseconds();
  const bool failed = reader.Failed();
  std::fclose(file);
  if (failed) return 0;
  char time[FormatTimeBufferSize];
  FormatTime(time, elapsed);
  std::printf("Count positions = %d\n", positions);
  std::printf("Count SEE = %d\n", exchanges);
  std::printf("Time = %s\n", time);
  std::printf("Speed : %d SEE/s\n", CountPerSecond(exchanges, elapsed));
  if (positions == 0) {
    ReportNoPosition("SEE test", fileName);
    return 0;
  }
  return 1;
}
