// The "-evalsuite" tool: prints the static evaluation of every position of a
// file.
#pragma once

#include "common/types.h"

struct ToolContext;

// Each line that reads as a FEN is printed with its evaluation; every line
// counts in the speed. Returns 0 when the file cannot be opened or read
// (named on standard error), 1 otherwise.
i32 RunEvalSuite(ToolContext& tools, const char* fileName);
