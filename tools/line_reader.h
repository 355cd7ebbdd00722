// Line input of the file tools: each line read whole into a fixed buffer. A
// line too long for the buffer is an error of that line alone; its rest is
// never taken for a line of its own.
#pragma once

#include <cstdio>

#include "common/types.h"

enum class LineRead {
  Line,     // a line, with its line end when it had one
  TooLong,  // a line that did not fit, consumed whole and logged; the buffer holds its start
  End,      // end of the file
};

struct LineReader {
  std::FILE* file;
  const char* fileName;  // for the error message
  i32 lineNumber = 0;    // of the line last read, from 1

  LineReader(std::FILE* fileIn, const char* fileNameIn) : file(fileIn), fileName(fileNameIn) {}

  // Reads the next line into buffer, which holds size bytes: a line of up to
  // size - 1 characters fits (its line end is dropped when there is no room).
  LineRead Next(char* buffer, i32 size);
};
