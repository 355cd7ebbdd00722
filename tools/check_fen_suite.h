// The "-checkfensuite" tool: checks every line of a file as a FEN string the
// way the engine reads one, and prints the lines it would refuse with the
// reason.
#pragma once

#include "common/types.h"

// Checks one line (control bytes already blanked) as the engine reads a
// FEN: null when the engine takes it, else the reason it refuses it.
const char* CheckFenLine(const char* line);

// Prints a header, each invalid line with its reason and the count of valid lines. Returns 0
// when the file cannot be opened or read or holds no FEN line (named on
// standard error), 1 otherwise.
i32 RunCheckFenSuite(const char* fileName);
