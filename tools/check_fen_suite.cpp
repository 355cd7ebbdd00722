#include "tools/check_fen_suite.h"

#include <cstdio>
#include <cstring>

#include "board/fen.h"
#include "common/line_reader.h"

namespace {

constexpr i32 FenLineSize = 512;  // at most 511 characters a line

}  // namespace

const char* CheckFenLine(const char* line) {
  Board position{};
  return ReadFenPosition(line, position);
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
    // Blank lines and comments are no FEN lines; blanks before a FEN do not count.
    if (!IsDataLine(line)) continue;
    char* fen = SkipLineBlanks(line);
    for (char* p = fen; *p; ++p)
      if (static_cast<signed char>(*p) < 32) *p = ' ';
    if (read == LineRead::TooLong) {
      std::printf("Invalid FEN String : '%.40s...' (line too long)\n", fen);
    } else if (const char* reason = CheckFenLine(fen)) {
      std::printf("Invalid FEN String : '%s' (%s)\n", fen, reason);
    } else {
      ++valid;
    }
    ++lines;
  }
  const bool failed = reader.Failed();
  std::fclose(file);
  if (failed) return 0;
  std::printf("Checked %u / %u valid FEN string\n", valid, lines);
  if (lines == 0) {
    ReportNoPosition("check FEN suite", fileName);
    return 0;
  }
  return 1;
}
