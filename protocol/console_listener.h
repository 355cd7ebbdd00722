// The listener of the protocol chooser: human-readable thinking lines while
// the command-line tools search.
#pragma once

#include "engine/listener.h"

class ProtocolHandler;
class ProtocolManager;

// Room for a thinking line: the PV text of up to MaxPly moves and the rest.
constexpr int ConsoleLineSize = 2048;

class ConsoleListener : public EngineListener {
 public:
  void OnSearchDone(i32) override {}
  void OnPvInfo(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes, i32 selDepth,
                i32 bound, double elapsedMicroseconds) override;
  void OnMultiPvInfo(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                     i32 selDepth, i32 bound, double elapsedMicroseconds) override;
  void OnHashFull(i32) override {}
  void OnDepth(i32) override {}
  void OnCurrMove(Move, i32) override {}

  // Writes one thinking line to standard output and the log.
  void PrintPvLine(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes, i32 selDepth,
                   i32 bound, double elapsedMicroseconds);
  void PrintMultiPvLine(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                        i32 selDepth, i32 bound, double elapsedMicroseconds);

  ProtocolHandler* protocol = nullptr;
  ProtocolManager* manager = nullptr;
};

// The parts of a thinking line, exposed for the tools and the tests.
// "hh:mm:ss.mmm" of an elapsed time in microseconds; out holds 32 bytes.
void FormatConsoleTime(double elapsedMicroseconds, char* out);
// "+M3", "-M1", "+1.50", "-0.05"; out holds 16 bytes.
void FormatConsoleScore(i32 score, char* out);
// Thousands of nodes per second.
i32 ConsoleSpeed(u64 nodes, double elapsedMicroseconds);
// Long algebraic moves, each followed by one blank.
void FormatConsolePv(const Move* pv, i32 pvLength, char* out, int size);
// The whole line; line 1 (or a single PV) gets the depth columns, later
// lines of a MultiPV report are indented instead.
void FormatConsoleLine(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                       i32 selDepth, i32 bound, double elapsedMicroseconds, char* out, int size);
