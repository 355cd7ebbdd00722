// Line input of the key=value reader and the file tools: each line read
// whole into a fixed buffer. A line too long for the buffer is an error of
// that line alone; its rest is never taken for a line of its own. A file
// that cannot be opened or read is named on standard error.
#pragma once

#include <cstddef>
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

  // After End: true when reading stopped on an error rather than at the end
  // of the file (a directory, an I/O error); the error is logged and the
  // file named on standard error.
  bool Failed() const;
};

// Reads the next line, or as much of it as fits, into buffer as fgets does:
// at most size - 1 characters, up to and including a line end, then a NUL.
// Returns the number of characters read, 0 at the end of the input. A line
// is measured by that count, never by its first NUL: a line may hold NUL
// bytes, and a long one must not pass for a short one.
std::size_t ReadLinePart(std::FILE* file, char* buffer, i32 size);

// Names a file that a tool could not open, read or write in one line on
// standard error: "cannot <action> file '<name>'".
void ReportFileError(const char* action, const char* fileName);

// Opens a tool's input file in text mode. One that does not open is logged
// ("file not found : <name>") and named on standard error; null then.
std::FILE* OpenToolFile(const char* fileName);
