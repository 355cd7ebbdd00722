// Line input of every text the program reads: the configuration and
// personality files, the tools' files and the protocol's standard input.
// Each line is read whole into a fixed buffer. A UTF-8 byte-order mark
// before the first line is skipped, a line ending in CR LF reads as one
// ending in LF, and in a file a lone CR ends a line as LF does, so that a
// file written on any system reads alike. A line too long for the buffer is
// an error of that line alone; its rest is never taken for a line of its
// own. A file that cannot be opened or read is named on standard error.
#pragma once

#include <cstddef>
#include <cstdio>

#include "common/types.h"

enum class LineRead {
  Line,     // a line, with its line end ("\n") when it had one
  TooLong,  // a line that did not fit, consumed whole and logged; the buffer holds its start
  End,      // end of the file, or reading stopped (see Failed)
};

// A line that runs on this far without a line end is taken for one that
// never ends (a device or a pipe that sends no line end): reading stops.
constexpr i64 EndlessLineLength = i64{1} << 20;

struct LineReader {
  std::FILE* file;
  const char* fileName;  // for the error message
  // A lone CR ends a line (files); off for an input that may pause after a
  // CR, where telling it from CR LF would wait for the next byte.
  bool loneCrEndsLine;
  i32 lineNumber = 0;      // of the line last read, from 1
  std::size_t length = 0;  // characters of the line last read, its line end included
  bool endless = false;    // reading stopped inside a line that does not end

  LineReader(std::FILE* fileIn, const char* fileNameIn, bool loneCrEndsLineIn = true)
      : file(fileIn), fileName(fileNameIn), loneCrEndsLine(loneCrEndsLineIn) {}

  // Reads the next line into buffer, which holds size bytes: a line of up to
  // size - 1 characters fits (its line end is dropped when there is no room).
  // The line may hold NUL bytes: length tells where it ends.
  LineRead Next(char* buffer, i32 size);

  // After End: true when reading stopped on an error or inside a line that
  // never ends rather than at the end of the file (a directory, an I/O
  // error, a device); the error is logged and the file named on standard
  // error.
  bool Failed() const;
};

// Reads the next line, or as much of it as fits, into buffer as fgets does:
// at most size - 1 characters, up to and including a line end, then a NUL.
// Returns the number of characters read, 0 at the end of the input. A line
// is measured by that count, never by its first NUL: a line may hold NUL
// bytes, and a long one must not pass for a short one. With crEndsLine a CR
// ends the part as a line end does.
std::size_t ReadLinePart(std::FILE* file, char* buffer, i32 size, bool crEndsLine = false);

// Blanks around a line's words: a space or a tab.
inline bool IsLineBlank(char c) { return c == ' ' || c == '\t'; }

// The line without its leading blanks.
const char* SkipLineBlanks(const char* line);
char* SkipLineBlanks(char* line);

// Cuts the line end (LF, CR) and the blanks before it from a line of length
// characters; returns the length left.
std::size_t CutLineEnd(char* line, std::size_t length);

// A line that carries data: not blank, and not a comment (a line whose first
// non-blank character is '#' or ';').
bool IsDataLine(const char* line);

// Names a file that a tool could not open, read or write in one line on
// standard error: "cannot <action> file '<name>'", followed by " (<why>)"
// when a reason is given.
void ReportFileError(const char* action, const char* fileName, const char* why = nullptr);

// Names a line of a tool's file whose FEN does not read on standard error:
// "<tool> : line <n> : bad FEN string '<text>' (<reason>)", the text without
// its line end and the blanks before it. A line too long for the tool's
// buffer (tooLong) is named by its first 40 characters.
void ReportBadFenLine(const char* tool, i32 lineNumber, const char* text, const char* reason,
                      bool tooLong = false);

// Names a tool's file that held no position (an empty file, a pipe without a
// writer, only comments) on standard error: "<tool> : no position in file
// '<name>'".
void ReportNoPosition(const char* tool, const char* fileName);

// Opens a file for reading (text or binary alike) without ever waiting: a
// pipe without a writer reads as empty. With regularOnly, anything but a regular file (a
// directory, a device, a pipe) is refused and why says so. Null when the
// file does not open (why stays null) or is refused.
std::FILE* OpenTextFile(const char* fileName, bool regularOnly, const char** why);

// Opens a tool's input file in text mode. One that does not open is logged
// ("file not found : <name>") and named on standard error; null then.
std::FILE* OpenToolFile(const char* fileName);
