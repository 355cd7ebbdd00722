// Numbers in the text of protocol commands, read alike by the UCI and the
// XBoard handler.
#pragma once

#include "common/types.h"

// Whether a number may carry a sign before its digits.
enum class NumberSign : u8 { Allowed, None };

// Reads a text that is one whole number in base 10 and nothing else: blanks,
// a '+' or '-' where sign allows one, at least one digit, blanks. A number
// beyond 64 bits reads as the nearest end of that range, so that it falls
// outside any range a caller holds it to. False, value unchanged, for any
// other text (an empty one, "3x", "0x10", "1.5").
bool ReadWholeNumber(const char* text, NumberSign sign, i64* value);

// The number at the start of text (after blanks, with an optional sign), held
// to 32 bits; what follows its digits is not looked at, and a text that does
// not start with one reads as 0. For the arguments of commands that take
// what they can ("go depth 5", "ping 7").
i32 ReadNumber(const char* text);
