// The "-checkfensuite" tool: checks the syntax of every line of a file as a
// FEN string and prints the lines that fail.
#pragma once

#include "common/types.h"

// The syntax check of one line (control bytes already blanked): the board
// with at most eight ranks and legal piece counts (no pawn on the first or
// last rank), the side, the castling and en-passant fields, each closed by a
// blank, then optional move counters of at most 30 digits and anything.
bool CheckFenSyntax(const char* line);

// Prints a header, each invalid line and the count of valid lines. Returns 0
// when the file cannot be opened or read (named on standard error), 1
// otherwise.
i32 RunCheckFenSuite(const char* fileName);
