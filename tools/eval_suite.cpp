#include "tools/eval_suite.h"

#include <cstdio>
#include <cstring>

#include "board/fen.h"
#include "board/perft.h"
#include "common/line_reader.h"
#include "common/log.h"
#include "common/timer.h"
#include "engine/engine.h"
#include "engine/evaluate.h"
#include "tools/speed.h"

namespace {

constexpr i32 EvalLineSize = 512;  // at most 511 characters a line

}  // namespace

i32 RunEvalSuite(ToolContext& tools, const char* fileName) {
  std::FILE* file = OpenToolFile(fileName);
  if (!file) return 0;
  Timer timer;
  timer.Start();
  i32 lines = 0;
  char line[EvalLineSize];
  LineReader reader(file, fileName);
  for (LineRead read; (read = reader.Next(line, sizeof line)) != LineRead::End;) {
    if (read == LineRead::TooLong) {
      ++lines;  // logged, and counted as every line is
      continue;
    }
    if (std::strlen(line) < 2) continue;
    for (char* p = line; *p; ++p)
      if (static_cast<signed char>(*p) < 32) *p = ' ';
    i8 pieces[64];
    i32 side, rights, epFile, fullmove, halfmove, rookFiles[4], consumed;
    if (!ParseFen(line, pieces, &side, &rights, &epFile, &fullmove, &halfmove, rookFiles,
                  &consumed)) {
      gLog.Error("Invalid FEN string : '%s'", line);
    } else if (tools.engine && tools.engine->SetFen(line)) {
      Engine& engine = *tools.engine;
      std::printf("%s ; eval %d\n", line,
                  EvaluateLazy(engine, engine.board, -MateScore, MateScore));
    }
    ++lines;
  }
  const double elapsed = timer.ElapsedMicroseconds();
  const bool failed = reader.Failed();
  std::fclose(file);
  if (failed) return 0;
  char time[FormatTimeBufferSize];
  FormatTime(time, elapsed);
  std::printf("\nTime : %s\n", time);
  std::printf("Speed : %d eval/s\n", CountPerSecond(lines, elapsed));
  return 1;
}
