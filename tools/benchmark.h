// The "-benchmark" tool: searches a fixed list of positions to a fixed depth
// or for a fixed time each and reports the time, the nodes and the speed.
#pragma once

#include "common/types.h"

class ProtocolManager;

constexpr i32 BenchmarkPositionCount = 24;

// The built-in positions: one game, all with Black to move.
extern const char* const BenchmarkPositions[BenchmarkPositionCount];

// mode 0 searches each position to `value` plies, mode 1 for `value`
// seconds; a null positionsFile selects the built-in positions (an empty
// name is a file that does not open). The values are clamped here. Returns
// 1, or 0 without a search when the positions file cannot be opened or read
// or the hash table cannot be allocated (either is named on standard
// error). The file's blank and comment lines are passed over; a line whose
// FEN does not read is named with its number on standard error and is not
// searched, and a file without any position is named there too: complete,
// when given, tells whether every line of the file was searched and there
// was one at least.
i32 RunBenchmark(ProtocolManager& manager, i32 hashMb, i32 threads, i32 mode, i32 value,
                 const char* positionsFile, bool* complete = nullptr);
