#include "protocol/console_listener.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "board/fen.h"
#include "common/log.h"

void FormatConsoleTime(double elapsedMicroseconds, char* out) {
  const double ms = elapsedMicroseconds * 0.001;
  // Out-of-range conversions are undefined; the printed range is 49 days.
  const unsigned t = ms <= 0.0 ? 0u : ms >= 4294967295.0 ? 4294967295u : static_cast<unsigned>(ms);
  std::snprintf(out, 32, "%02u:%02u:%02u.%03u", t / 3600000u, (t % 3600000u) / 60000u,
                (t % 60000u) / 1000u, t % 1000u);
}

void FormatConsoleScore(i32 score, char* out) {
  if (score <= -MateBound)
    std::snprintf(out, 16, "-M%d", (score + MateScore) / 2);
  else if (score >= MateBound)
    std::snprintf(out, 16, "+M%d", (MateScore - score) / 2 + 1);
  else if (score < 0)
    std::snprintf(out, 16, "%.2f", static_cast<double>(static_cast<float>(score) * 0.01f));
  else
    std::snprintf(out, 16, "+%.2f", static_cast<double>(static_cast<float>(score) * 0.01f));
}

i32 ConsoleSpeed(u64 nodes, double elapsedMicroseconds) {
  const double elapsed = elapsedMicroseconds == 0.0 ? 16000.0 : elapsedMicroseconds;
  const double speed = static_cast<double>(nodes) * 1000.0 / elapsed;
  if (!(speed < static_cast<double>(INT_MAX))) return INT_MAX;
  if (speed < 0.0) return 0;
  return static_cast<i32>(speed);
}

void FormatConsolePv(const Move* pv, i32 pvLength, char* out, int size) {
  int used = 0;
  out[0] = 0;
  for (i32 i = 0; i < pvLength && used + MoveTextSize + 1 < size; ++i) {
    char text[MoveTextSize];
    MoveToLongAlgebraic(&pv[i], text);
    used += std::snprintf(out + used, static_cast<std::size_t>(size - used), "%s ", text);
  }
}

void FormatConsoleLine(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                       i32 selDepth, i32 bound, double elapsedMicroseconds, char* out, int size) {
  static const char BoundCharacters[] = " -+";
  char time[32];
  char scoreText[16];
  char pvText[ConsoleLineSize];
  FormatConsoleTime(elapsedMicroseconds, time);
  FormatConsoleScore(score, scoreText);
  FormatConsolePv(pv, pvLength, pvText, sizeof pvText);
  const i32 speed = ConsoleSpeed(nodes, elapsedMicroseconds);
  const char boundCharacter = bound >= 0 && bound <= 2 ? BoundCharacters[bound] : ' ';
  if (line == 1)
    std::snprintf(out, static_cast<std::size_t>(size), "%2d/%-2u%c %s %llu %6d %7s %s", depth,
                  static_cast<unsigned>(selDepth), boundCharacter, time,
                  static_cast<unsigned long long>(nodes), speed, scoreText, pvText);
  else
    std::snprintf(out, static_cast<std::size_t>(size), "       %s %llu %6d %7s %s", time,
                  static_cast<unsigned long long>(nodes), speed, scoreText, pvText);
}

void ConsoleListener::OnPvInfo(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                               i32 selDepth, i32 bound, double elapsedMicroseconds) {
  if (!quiet) PrintPvLine(depth, score, pv, pvLength, nodes, selDepth, bound, elapsedMicroseconds);
}

void ConsoleListener::OnMultiPvInfo(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength,
                                    u64 nodes, i32 selDepth, i32 bound,
                                    double elapsedMicroseconds) {
  if (!quiet)
    PrintMultiPvLine(line, depth, score, pv, pvLength, nodes, selDepth, bound,
                     elapsedMicroseconds);
}

void ConsoleListener::PrintPvLine(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                                  i32 selDepth, i32 bound, double elapsedMicroseconds) {
  PrintMultiPvLine(1, depth, score, pv, pvLength, nodes, selDepth, bound, elapsedMicroseconds);
}

void ConsoleListener::PrintMultiPvLine(i32 line, i32 depth, i32 score, const Move* pv,
                                       i32 pvLength, u64 nodes, i32 selDepth, i32 bound,
                                       double elapsedMicroseconds) {
  char text[ConsoleLineSize + 128];
  FormatConsoleLine(line, depth, score, pv, pvLength, nodes, selDepth, bound, elapsedMicroseconds,
                    text, sizeof text);
  std::puts(text);
  gLog.Info("%s", text);
}
