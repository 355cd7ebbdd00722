// The perft, detailed perft and divide drivers, run from the command line
// and from the protocols' debug commands; they print through the manager.
// And the perft-suite runner, which checks a file of positions against their
// known counts.
#pragma once

#include "common/types.h"

class ProtocolManager;
struct ToolContext;

// Each counts from the engine's current game position and prints the count,
// the time and the speed. Perft and detailed perft refuse a depth below 1
// with a message and return 0; they return 1 when they counted. Divide
// accepts any depth (below 2 every legal move counts 1).
i32 RunPerft(ProtocolManager& manager, i32 depth);
i32 RunPerftDetailed(ProtocolManager& manager, i32 depth);
i32 RunDivide(ProtocolManager& manager, i32 depth);

// Nodes per second of a count: nodes * 1000000 / elapsed (16000 in place
// of an elapsed 0), through single precision, held to the 32-bit range.
i32 PerftSpeed(u64 nodes, double elapsedMicroseconds);

// What a perft suite came to.
struct PerftSuiteResult {
  i32 opened = 0;  // the file was read
  i32 passed = 0;
  i32 total = 0;   // lines counted
};

// Counts every position of an EPD file (a FEN followed by fields ";D<depth>
// <nodes>") at the depth and compares with the line's field of that depth.
// Prints "score = passed / total". A line whose FEN does not read fails and
// is named with its line number on standard error. Returns 1 when the file
// was read, 0 when it cannot be opened or read (named on standard error) or
// the depth is below 1 (told there too).
i32 RunPerftSuite(ToolContext& tools, const char* fileName, i32 depth,
                  PerftSuiteResult* result = nullptr);

// "-perftsuite": initialises the engine with the configured hash size, runs
// the suite (a negative depth becomes 5, a depth of 0 is refused) and shuts
// the engine down. Returns 1 when every position of the file passed, 0 when
// the file could not be read, the depth was refused or a position failed.
i32 PerftSuiteCommand(ProtocolManager& manager, const char* fileName, i32 depth);
