// The "-testsee" tool: times the static exchange evaluation over every legal
// move of every position of a file.
#pragma once

#include "common/types.h"

struct ToolContext;

// Every "bm" of a line marks the end of a position text (a FEN). Prints the
// number of positions, of exchange evaluations, the time and the speed.
// Returns 0 when the file cannot be opened or read or holds no position
// (named on standard error), 1 otherwise.
i32 RunSeeTest(ToolContext& tools, const char* fileName);
