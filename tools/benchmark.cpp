#include "tools/benchmark.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board/fen.h"
#include "common/line_reader.h"
#include "common/timer.h"
#include "engine/engine.h"
#include "protocol/engine_setup.h"
#include "protocol/protocol_manager.h"

const char* const BenchmarkPositions[BenchmarkPositionCount] = {
    "r2qkbnr/ppp2p1p/2n5/3P4/2BP1pb1/2N2p2/PPPQ2PP/R1B2RK1 b kq -  ",
    "r2qkbnr/ppp2p1p/8/nB1P4/3P1pb1/2N2p2/PPPQ2PP/R1B2RK1 b kq - ",
    "r2qkbnr/pp3p1p/2p5/nB1P4/3P1Qb1/2N2p2/PPP3PP/R1B2RK1 b kq - ",
    "r2qkb1r/pp3p1p/2p2n2/nB1P4/3P1Qb1/2N2p2/PPP3PP/R1B1R1K1 b kq - ",
    "r2q1b1r/pp1k1p1p/2P2n2/nB6/3P1Qb1/2N2p2/PPP3PP/R1B1R1K1 b - - ",
    "r2q1b1r/p2k1p1p/2p2n2/nB6/3PNQb1/5p2/PPP3PP/R1B1R1K1 b - - ",
    "r2q1b1r/p2k1p1p/2p5/nB6/3Pn1Q1/5p2/PPP3PP/R1B1R1K1 b - - ",
    "r2q1b1r/p1k2p1p/2p5/nB6/3PR1Q1/5p2/PPP3PP/R1B3K1 b - - ",
    "r2q1b1r/p1k2p1p/8/np6/3PR3/5Q2/PPP3PP/R1B3K1 b - - ",
    "r4b1r/p1kq1p1p/8/np6/3P1R2/5Q2/PPP3PP/R1B3K1 b - - ",
    "r6r/p1kqbR1p/8/np6/3P4/5Q2/PPP3PP/R1B3K1 b - - ",
    "5r1r/p1kqbR1p/8/np6/3P1B2/5Q2/PPP3PP/R5K1 b - - ",
    "5r1r/p2qbR1p/1k6/np2B3/3P4/5Q2/PPP3PP/R5K1 b - - ",
    "5rr1/p2qbR1p/1k6/np2B3/3P4/2P2Q2/PP4PP/R5K1 b - - ",
    "5rr1/p2qbR1p/1kn5/1p2B3/3P4/2P2Q2/PP4PP/4R1K1 b - - ",
    "4qRr1/p3b2p/1kn5/1p2B3/3P4/2P2Q2/PP4PP/4R1K1 b - - ",
    "5qr1/p3b2p/1kn5/1p1QB3/3P4/2P5/PP4PP/4R1K1 b - - ",
    "5q2/p3b2p/1kn5/1p1QB1r1/P2P4/2P5/1P4PP/4R1K1 b - - ",
    "5q2/p3b2p/1kn5/3QB1r1/p1PP4/8/1P4PP/4R1K1 b - - ",
    "5q2/p3b2p/1k6/3QR1r1/p1PP4/8/1P4PP/6K1 b - - ",
    "5q2/p3b2p/1k6/4Q3/p1PP4/8/1P4PP/6K1 b - - ",
    "3q4/p3b2p/1k6/2P1Q3/p2P4/8/1P4PP/6K1 b - - ",
    "3q4/p3b2p/8/1kP5/p2P4/8/1P2Q1PP/6K1 b - - ",
    "3q4/p3b2p/8/2P5/pk1P4/3Q4/1P4PP/6K1 b - - ",
};

namespace {

constexpr i32 PositionLineSize = 1024;  // at most 1023 characters a line

// The positions of the file: every data line whose FEN reads, as read. A
// line whose FEN does not read is named with its number on standard error
// and counted in badLines. False when the file cannot be opened or read (it
// is named on standard error).
bool ReadPositions(const char* fileName, std::vector<std::string>& positions, i32& badLines) {
  std::FILE* file = OpenToolFile(fileName);
  if (!file) return false;
  char line[PositionLineSize];
  LineReader reader(file, fileName);
  for (LineRead read; (read = reader.Next(line, sizeof line)) != LineRead::End;) {
    // Blank lines and comments are no positions.
    if (!IsDataLine(line)) continue;
    char* fen = SkipLineBlanks(line);
    // The FEN reader parts its fields at blanks: a tab between them reads as one.
    for (char* p = fen; *p; ++p)
      if (IsLineBlank(*p)) *p = ' ';
    Board position{};
    const char* reason =
        read == LineRead::TooLong ? "line too long" : ReadFenPosition(fen, position);
    if (reason) {
      ReportBadFenLine("benchmark", reader.lineNumber, fen, reason, read == LineRead::TooLong);
      ++badLines;
      continue;
    }
    positions.emplace_back(fen);
  }
  const bool failed = reader.Failed();
  std::fclose(file);
  return !failed;
}

i32 BenchmarkSpeed(u64 nodes, double elapsed) {
  if (!(elapsed > 0.0)) return 0;
  const float speed = static_cast<float>(static_cast<double>(nodes * 1000000u) / elapsed);
  if (!(speed < 2147483647.0f)) return 2147483647;
  return static_cast<i32>(speed);
}

}  // namespace

i32 RunBenchmark(ProtocolManager& manager, i32 hashMb, i32 threads, i32 mode, i32 value,
                 const char* positionsFile, bool* complete) {
  std::vector<std::string> positions;
  i32 refused = 0;
  if (complete) *complete = false;
  if (!positionsFile)
    positions.assign(BenchmarkPositions, BenchmarkPositions + BenchmarkPositionCount);
  else if (!ReadPositions(positionsFile, positions, refused))
    return 0;
  const i32 n = static_cast<i32>(positions.size());

  if (hashMb <= 0) hashMb = 1;
  if (hashMb > 16384) hashMb = 16384;
  if (mode == 0) {
    if (value <= 0) value = 1;
    if (value > 128) value = 128;
  } else if (value < 1) {
    value = 1;
  }

  Engine& engine = *manager.engine;
  engine.Init(hashMb);
  if (!ToolHashTableAllocated(engine, hashMb)) {
    engine.Shutdown();
    return 0;
  }
  engine.SetThreadCount(threads);
  engine.NewGame();
  engine.testSuiteMode = 1;

  if (mode == 0) {
    engine.limits.mode = ModeDepth;
    engine.limits.depthLimit = value < 127 ? value : 127;
  } else {
    engine.limits.mode = ModeMoveTime;
    // Microseconds in 32 bits: longer times are held to the largest that fits.
    const i64 micros = static_cast<i64>(value) * 1000000;
    engine.limits.moveTime = micros > 2147483647 ? 2147483647 : static_cast<i32>(micros);
  }
  engine.listener->quiet = 1;

  std::printf("Hash table size : %d Mb\n", hashMb);
  if (mode == 0)
    std::printf("Search depth : %d\n", value);
  else
    std::printf("Search time : %d s\n", value);
  std::printf("Number of threads : %d\n", engine.pool.threadCount);

  Timer timer;
  timer.Start();
  u64 nodes = 0;
  i32 depthSum = 0;
  i32 depthMin = 128;
  i32 depthMax = 1;
  for (i32 i = 0; i < n; ++i) {
    std::printf("position %d / %d\n", i + 1, n);
    engine.tt.Clear();
    engine.SetFen(positions[static_cast<std::size_t>(i)].c_str());
    engine.Think(0);
    nodes += engine.mainContext.nodes;
    const i32 depth = engine.limits.depthReached;
    depthSum += depth;
    if (depth < depthMin) depthMin = depth;
    if (depth > depthMax) depthMax = depth;
  }

  const double elapsed = timer.ElapsedMicroseconds();
  char time[FormatTimeBufferSize];
  FormatTime(time, elapsed);
  std::printf("Time : %.2f s (%s)\n", elapsed * 0.000001, time);
  std::printf("Nodes : %llu\n", static_cast<unsigned long long>(nodes));
  std::printf("Average speed : %d nodes/s\n", BenchmarkSpeed(nodes, elapsed));
  if (mode != 0)
    std::printf("Average depth = %d, min = %d, max = %d", n > 0 ? depthSum / n : 0, depthMin,
                depthMax);

  engine.Shutdown();
  // Nothing searched is no measure: a file without a position is named. A
  // line that could not be read was named as it was read.
  if (positionsFile && n == 0 && refused == 0) ReportNoPosition("benchmark", positionsFile);
  if (complete) *complete = refused == 0 && n > 0;
  return 1;
}
