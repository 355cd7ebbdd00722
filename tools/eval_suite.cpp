#include "tools/eval_suite.h"

#include <cstdio>
#include <cstring>

#include "board/perft.h"
#include "common/line_reader.h"
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
  bool badLines = false;
  for (LineRead read; (read = reader.Next(line, sizeof line)) != LineRead::End;) {
    // Blank lines and comments are no positions; blanks before a FEN do not count.
    if (!IsDataLine(line)) continue;
    char* fen = SkipLineBlanks(line);
    if (read == LineRead::TooLong) {
      ReportBadFenLine("eval suite", reader.lineNumber, fen, "line too long", true);
      badLines = true;
      ++lines;  // counted as every line is
      continue;
    }
    for (char* p = fen; *p; ++p)
      if (static_cast<signed char>(*p) < 32) *p = ' ';
    ++lines;
    if (!tools.engine) continue;  // nothing to evaluate with
    Engine& engine = *tools.engine;
    const char* reason = nullptr;
    if (engine.SetFen(fen, &reason)) {
      std::printf("%s ; eval %d\n", fen, EvaluateLazy(engine, engine.board, -MateScore, MateScore));
    } else {
      ReportBadFenLine("eval suite", reader.lineNumber, fen, reason);
      badLines = true;
    }
  }
  const double elapsed = timer.ElapsedMicroseconds();
  const bool failed = reader.Failed();
  std::fclose(file);
  if (failed) return 0;
  char time[FormatTimeBufferSize];
  FormatTime(time, elapsed);
  std::printf("\nTime : %s\n", time);
  std::printf("Speed : %d eval/s\n", CountPerSecond(lines, elapsed));
  if (lines == 0) {
    ReportNoPosition("eval suite", fileName);
    return 0;
  }
  return badLines ? 0 : 1;
}
