#include "protocol/command_line.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/build_info.h"
#include "common/log.h"
#include "engine/engine.h"
#include "protocol/engine_setup.h"
#include "protocol/protocol_manager.h"
#include "tools/benchmark.h"
#include "tools/book_builder.h"
#include "tools/check_fen_suite.h"
#include "tools/eval_suite.h"
#include "tools/perft_tools.h"
#include "tools/see_test.h"
#include "tools/test_suite.h"

namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;

// Every tool in the form it accepts, as "-help" lists them.
struct Usage {
  const char* tool;
  const char* line;
};

const Usage UsageLines[] = {
    {"-testsuite", "Zorvel -testsuite <hash> <threads> depth|time <value> <file.epd>"},
    {"-perftsuite", "Zorvel -perftsuite <file.epd> [<depth>]"},
    {"-perft", "Zorvel -perft <depth>"},
    {"-perft", "Zorvel -perft <depth> -fen \"<fen-string>\""},
    {"-perftd", "Zorvel -perftd <depth>"},
    {"-perftd", "Zorvel -perftd <depth> -fen \"<fen-string>\""},
    {"-divide", "Zorvel -divide <depth>"},
    {"-divide", "Zorvel -divide <depth> -fen \"<fen-string>\""},
    {"-buildbook", "Zorvel -buildbook <file.pgn> <file.bin> <max ply> <min count>"},
    {"-benchmark", "Zorvel -benchmark [<hash> [<threads> [depth|time [<value> [<file.epd>]]]]]"},
    {"-evalsuite", "Zorvel -evalsuite <file.epd>"},
    {"-checkfensuite", "Zorvel -checkfensuite <file.epd>"},
    {"-testsee", "Zorvel -testsee <file.epd>"},
};

CommandLineResult ProtocolMode() { return {CommandLineOutcome::ProtocolMode, 0}; }

CommandLineResult Orderly(bool success) {
  return {CommandLineOutcome::OrderlyShutdown, success ? ExitSuccess : ExitFailure};
}

// Arguments that do not fit the tool: its usage lines on standard error,
// and a failure.
CommandLineResult WrongArguments(const char* tool) {
  for (const Usage& usage : UsageLines)
    if (std::strcmp(usage.tool, tool) == 0) std::fprintf(stderr, "%s\n", usage.line);
  return Orderly(false);
}

// Ends without the orderly shutdown (no "End." in the log), but with the
// engine's threads joined and its memory released, so that nothing runs or
// leaks while the process exits.
CommandLineResult AtOnce(ProtocolManager& manager, bool success) {
  if (manager.engine) manager.engine->Shutdown();
  delete manager.protocol;
  manager.protocol = nullptr;
  delete manager.engine;
  manager.engine = nullptr;
  return {CommandLineOutcome::EndAtOnce, success ? ExitSuccess : ExitFailure};
}

// A whole decimal argument, held to 32 bits so that every target reads an
// oversized value alike. Text that is no number is named on standard error.
bool ReadNumber(const char* text, i32& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != 0) {
    std::fprintf(stderr, "bad number '%s'\n", text);
    return false;
  }
  value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : static_cast<i32>(number);
  return true;
}

i32 Clamp(i32 value, i32 low, i32 high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

// The set-up of the tools that take the configured hash size.
void SetUpEngine(ProtocolManager& manager, i32 hashMb) {
  manager.engine->Init(hashMb);
  manager.engine->NewGame();
  manager.infiniteSearch = 0;
}

CommandLineResult Help(ProtocolManager& manager) {
  std::printf("Zorvel %s (%s) by Vesquet\n", EngineVersion, manager.settings.wordSizeLabel);
  std::puts((std::string("Built on ") + BuildDate + " at " + BuildTime).c_str());
  std::puts(HardwarePopCount ? "Using hardware popcount" : "Using software popcount");
  std::puts("");
  for (const Usage& usage : UsageLines) std::puts(usage.line);
  return Orderly(true);
}

// "-perft", "-perftd" and "-divide": a depth and optionally "-fen" and a FEN.
// Perft and perftd need a depth of at least 1, divide takes any up to the
// deepest count.
CommandLineResult Count(ProtocolManager& manager, int argc, char** argv,
                        i32 (*run)(ProtocolManager&, i32), const char* countName, bool needsOne) {
  const char* fen = nullptr;
  if (argc == 5 && std::strcmp(argv[3], "-fen") == 0)
    fen = argv[4];
  else if (argc != 3)
    return WrongArguments(argv[1]);
  i32 depth = 0;
  if (!ReadNumber(argv[2], depth)) return Orderly(false);
  const std::string refusal = PerftDepthRefusal(countName, depth, needsOne);
  if (!refusal.empty()) {
    std::fprintf(stderr, "%s\n", refusal.c_str());
    return Orderly(false);
  }
  SetUpEngine(manager, manager.settings.Hash);
  if (fen && !manager.engine->SetFen(fen)) {
    std::puts("Bad FEN string !");
    std::fprintf(stderr, "bad FEN string '%s'\n", fen);
    return AtOnce(manager, false);
  }
  const bool counted = run(manager, depth) != 0;
  manager.engine->Shutdown();
  return Orderly(counted);
}

enum class FileTool { EvalSuite, CheckFenSuite, SeeTest };

// "-evalsuite", "-checkfensuite" and "-testsee": one file argument.
CommandLineResult RunFileTool(ProtocolManager& manager, int argc, char** argv, FileTool tool) {
  if (argc != 3) return WrongArguments(argv[1]);
  SetUpEngine(manager, manager.settings.Hash);
  Engine& engine = *manager.engine;
  engine.limits.mode = ModeMoveTime;
  engine.limits.moveTime = 10000000;
  i32 result = 0;
  switch (tool) {
    case FileTool::EvalSuite: result = RunEvalSuite(engine.tools, argv[2]); break;
    case FileTool::CheckFenSuite: result = RunCheckFenSuite(argv[2]); break;
    case FileTool::SeeTest: result = RunSeeTest(engine.tools, argv[2]); break;
  }
  engine.Shutdown();
  return Orderly(result != 0);
}

// Search limits of a test run: fixed time in seconds or fixed depth in plies.
void SetSearchLimits(Engine& engine, bool timeMode, i32 value) {
  if (timeMode) {
    engine.limits.mode = ModeMoveTime;
    // Microseconds in 32 bits: longer times are held to the largest that fits.
    const i64 micros = static_cast<i64>(value) * 1000000;
    engine.limits.moveTime = micros > INT_MAX ? INT_MAX : static_cast<i32>(micros);
  } else {
    engine.limits.mode = ModeDepth;
    engine.limits.depthLimit = value < 127 ? value : 127;
  }
}

CommandLineResult TestSuite(ProtocolManager& manager, int argc, char** argv) {
  // The file is the last of the five arguments: without it there is
  // nothing to run.
  if (argc != 7) return WrongArguments(argv[1]);
  i32 hashMb = 0;
  i32 threads = 0;
  i32 value = 0;
  if (!ReadNumber(argv[2], hashMb) || !ReadNumber(argv[3], threads) ||
      !ReadNumber(argv[5], value))
    return Orderly(false);
  const bool timeMode = std::strcmp(argv[4], "time") == 0;
  hashMb = Clamp(hashMb, 1, 16384);
  value = timeMode ? (value < 1 ? 1 : value) : Clamp(value, 1, 128);

  Engine& engine = *manager.engine;
  engine.Init(hashMb);
  if (!ToolHashTableAllocated(engine, hashMb)) return AtOnce(manager, false);
  engine.SetThreadCount(threads);
  engine.NewGame();
  manager.infiniteSearch = 0;
  engine.testSuiteMode = 1;
  SetSearchLimits(engine, timeMode, value);
  const i32 result = RunTestSuite(engine.tools, argv[6]);
  engine.Shutdown();
  return AtOnce(manager, result != 0);
}

CommandLineResult PerftSuite(ProtocolManager& manager, int argc, char** argv) {
  if (argc != 3 && argc != 4) return WrongArguments(argv[1]);
  i32 depth = 1;
  if (argc == 4 && !ReadNumber(argv[3], depth)) return Orderly(false);
  return Orderly(PerftSuiteCommand(manager, argv[2], depth) != 0);
}

CommandLineResult BuildBook(ProtocolManager& manager, int argc, char** argv) {
  if (argc != 6) return WrongArguments(argv[1]);
  i32 maxPly = 0;
  i32 minCount = 0;
  if (!ReadNumber(argv[4], maxPly) || !ReadNumber(argv[5], minCount)) return Orderly(false);
  SetUpEngine(manager, 32);
  bool written = false;
  const i32 read = RunBuildBook(argv[2], argv[3], maxPly, minCount, &written);
  return Orderly(read != 0 && written);
}

CommandLineResult Benchmark(ProtocolManager& manager, int argc, char** argv) {
  if (argc > 7) return WrongArguments(argv[1]);
  i32 hashMb = 256;
  i32 threads = 1;
  i32 mode = 0;
  i32 value = 12;
  if ((argc >= 3 && !ReadNumber(argv[2], hashMb)) ||
      (argc >= 4 && !ReadNumber(argv[3], threads)) || (argc >= 6 && !ReadNumber(argv[5], value)))
    return Orderly(false);
  if (argc >= 5) mode = std::strcmp(argv[4], "time") == 0 ? 1 : 0;
  // Without a file argument the built-in positions are searched; a file
  // argument, even an empty one, names the file to read.
  const char* file = argc >= 7 ? argv[6] : nullptr;
  // A positions file that cannot be read, or a hash table that cannot be
  // allocated, stops the run before any search.
  bool complete = false;
  if (RunBenchmark(manager, hashMb, threads, mode, value, file, &complete) == 0)
    return Orderly(false);
  // Positions that could not be read were not searched, and a file without
  // positions searched nothing: the run is not the one asked for.
  return AtOnce(manager, complete);
}

}  // namespace

CommandLineResult DispatchCommandLine(ProtocolManager& manager, int argc, char** argv) {
  if (argc < 2) return ProtocolMode();
  const char* tool = argv[1];
  if (std::strcmp(tool, "-help") == 0) return Help(manager);
  if (std::strcmp(tool, "-testsuite") == 0) return TestSuite(manager, argc, argv);
  if (std::strcmp(tool, "-perftsuite") == 0) return PerftSuite(manager, argc, argv);
  if (std::strcmp(tool, "-evalsuite") == 0) return RunFileTool(manager, argc, argv, FileTool::EvalSuite);
  if (std::strcmp(tool, "-checkfensuite") == 0) return RunFileTool(manager, argc, argv, FileTool::CheckFenSuite);
  if (std::strcmp(tool, "-testsee") == 0) return RunFileTool(manager, argc, argv, FileTool::SeeTest);
  if (std::strcmp(tool, "-perftd") == 0) return Count(manager, argc, argv, RunPerftDetailed, "perftd", true);
  if (std::strcmp(tool, "-perft") == 0) return Count(manager, argc, argv, RunPerft, "perft", true);
  if (std::strcmp(tool, "-divide") == 0) return Count(manager, argc, argv, RunDivide, "divide", false);
  if (std::strcmp(tool, "-buildbook") == 0) return BuildBook(manager, argc, argv);
  if (std::strcmp(tool, "-benchmark") == 0) return Benchmark(manager, argc, argv);
  gLog.Warning("Unknown command line parameter '%s'", tool);
  return ProtocolMode();
}
