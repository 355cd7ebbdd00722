// The "-evalsuite" tool: prints the static evaluation of every position of a
// file.
#pragma once

#include "common/types.h"

struct ToolContext;

// Each line that reads as a FEN is printed with its evaluation; every other
// data line is named with its number on standard error. Blank and comment
// lines are passed over; every other line counts in the speed. Returns 0
// when the file cannot be opened or read or holds no position (named on
// standard error) or a line's FEN does not read, 1 otherwise.
i32 RunEvalSuite(ToolContext& tools, const char* fileName);
