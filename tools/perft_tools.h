// The perft, detailed perft and divide drivers, run from the command line
// and from the protocols' debug commands; they print through the manager.
// And the perft-suite runner, which checks a file of positions against their
// known counts.
#pragma once

#include <string>

#include "common/types.h"

class ProtocolManager;
struct ToolContext;

// The deepest count the drivers run, as deep as a search goes: every ply of
// a count holds its move list on the stack, so a depth no game reaches would
// exhaust it.
constexpr i32 MaxPerftDepth = MaxPly - 1;

// Why a count cannot run at the depth ("perft : invalid depth 0, the depth
// must be at least 1"), or an empty text when it can. needsOne: the count
// needs a depth of at least 1 (divide takes any depth up to the maximum).
std::string PerftDepthRefusal(const char* tool, i32 depth, bool needsOne);

// Each counts from the engine's current game position and prints the count,
// the time and the speed. A depth above MaxPerftDepth, and for perft and
// detailed perft a depth below 1, is refused: the reason goes to the
// engine's listener (the interface's message) and the result is 0; they
// return 1 when they counted. Divide takes any lower depth (below 2 every
// legal move counts 1).
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
// is named with its line number on standard error, and so is a file that
// holds no position. Returns 1 when the file was read, 0 when it cannot be
// opened or read (named on standard error) or the depth is below 1 or above
// MaxPerftDepth (told there too).
i32 RunPerftSuite(ToolContext& tools, const char* fileName, i32 depth,
                  PerftSuiteResult* result = nullptr);

// "-perftsuite": initialises the engine with the configured hash size, runs
// the suite (a negative depth becomes 5, a depth of 0 or above MaxPerftDepth
// is refused) and shuts
// the engine down. Returns 1 when the file held positions and every one
// passed, 0 when the file could not be read or held none, the depth was
// refused or a position failed.
i32 PerftSuiteCommand(ProtocolManager& manager, const char* fileName, i32 depth);
