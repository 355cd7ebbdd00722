// The program's diary: time-stamped lines of seven levels written to
// "logfile[_<pid>].txt" as plain text or to "logfile[_<pid>].html" as the rows
// of an HTML table, with the number of lines per level at the close.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "common/types.h"

// Level numbers: the index into Log::levels and the bit of the "LogLevel"
// setting that switches the level on.
constexpr i32 LogInfo = 0;      // start-up, mode changes, table sizes
constexpr i32 LogDebug = 1;     // exists as a level and mask bit only
constexpr i32 LogTrace = 2;     // exists as a level and mask bit only
constexpr i32 LogWarning = 3;   // stack sizes, missing configuration, unknown switches
constexpr i32 LogError = 4;     // files, FEN, book, PGN, thread creation
constexpr i32 LogCritical = 5;  // exists as a level and mask bit only
constexpr i32 LogGui = 6;       // every protocol line in ("<< ") and out (">> ")
constexpr i32 LogLevelCount = 7;

// Longest message a log line holds; longer ones are cut.
constexpr i32 LogMessageMax = 4095;

struct LogLevelInfo {
  u8 enabled = 0;
  u64 count = 0;  // lines of this level written so far
  std::string name;
  std::string cssClass;
};

class Log {
 public:
  Log();
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // The set-up done by main: replaces the level records by the seven levels,
  // each enabled by its bit of levelMask; format 0 gives a text log, anything
  // else HTML; withPid puts "_<pid>" into the file name. A mask of 0 switches
  // the log off and opens nothing. Otherwise the file is created (mode "w") in
  // the working directory. A file still open is closed first. Returns true
  // when a file is open afterwards. Neither opening nor writing ever waits:
  // a file that cannot be opened, or the first write that fails (a full
  // disk, a pipe whose reader is gone or does not keep up), is told in one
  // line on standard error, and the log goes on without a file.
  bool Open(i32 levelMask, i32 format, i32 withPid);

  // Writes one line of the level, unconditionally for an enabled log with an
  // open file; Print is the checked entry point.
  void Write(i32 level, const char* message);

  // Formats and writes a line when the log is on, the file open and the level
  // enabled; otherwise does nothing. Messages are cut to LogMessageMax.
  void Print(i32 level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void Info(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Writes the per-level counts (and the closing tags of an HTML log), then
  // closes the file. Does nothing when no file is open.
  void Close();

  std::vector<LogLevelInfo> levels;
  std::string fileName;
  std::string styleSheetPath;
  std::string scriptPath;
  std::FILE* file;
  u8 text;     // 1 plain text, 0 HTML
  u8 enabled;  // the log is on
  u8 withPid;  // the process id is part of the file name

 private:
  void VPrint(i32 level, const char* format, std::va_list args);
  void WriteLocked(i32 level, const char* message);
  void CloseLocked();
  // Flushes the file; a failure is told and the file dropped.
  void FlushLocked();

  // Lines come from the main thread, the input thread and a few search-thread
  // errors; the lock keeps lines whole and counts exact.
  std::mutex lock;
  bool toPipe_ = false;  // the file is a pipe or socket: writes may raise SIGPIPE
};

// The one log of the program, constructed before main without a file.
extern Log gLog;
