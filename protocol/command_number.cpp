#include "protocol/command_number.h"

#include <cstdlib>

#include "common/line_reader.h"

bool ReadWholeNumber(const char* text, NumberSign sign, i64* value) {
  const char* start = SkipLineBlanks(text);
  const char* digits = start;
  if (sign == NumberSign::Allowed && (*digits == '+' || *digits == '-')) ++digits;
  // A digit first: strtoll would take a sign where none may stand, and an
  // empty text for 0.
  if (*digits < '0' || *digits > '9') return false;
  char* end = nullptr;
  const long long number = std::strtoll(start, &end, 10);
  if (*SkipLineBlanks(end) != 0) return false;
  *value = static_cast<i64>(number);
  return true;
}

i32 ReadNumber(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<i32>(value);
}
