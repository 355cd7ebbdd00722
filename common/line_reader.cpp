#include "common/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/log.h"

std::size_t ReadLinePart(std::FILE* file, char* buffer, i32 size, bool crEndsLine) {
  const std::size_t room = size > 1 ? static_cast<std::size_t>(size - 1) : 0;
  std::size_t count = 0;
  flockfile(file);
  while (count < room) {
    const int c = getc_unlocked(file);
    if (c == EOF) break;
    buffer[count++] = static_cast<char>(c);
    if (c == '\n' || (crEndsLine && c == '\r')) break;
  }
  funlockfile(file);
  if (size > 0) buffer[count] = 0;
  return count;
}

LineRead LineReader::Next(char* buffer, i32 size) {
  length = 0;
  if (endless) return LineRead::End;
  const std::size_t room = size > 1 ? static_cast<std::size_t>(size - 1) : 0;
  std::size_t count = ReadLinePart(file, buffer, size, loneCrEndsLine);
  if (count == 0) return LineRead::End;
  auto endsLine = [&](char c) { return c == '\n' || (loneCrEndsLine && c == '\r'); };
  if (lineNumber == 0 && count >= 3 && std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0) {
    // The byte-order mark is no part of the first line: the room it took is
    // filled from the rest of the line.
    count -= 3;
    std::memmove(buffer, buffer + 3, count + 1);
    if (count == 0 || !endsLine(buffer[count - 1]))
      count += ReadLinePart(file, buffer + count, size - static_cast<i32>(count), loneCrEndsLine);
    if (count == 0) return LineRead::End;
  }
  if (lineNumber < INT32_MAX) ++lineNumber;
  auto done = [&](LineRead kind) {
    length = count;
    return kind;
  };
  // After a CR that ends a line, a LF is the second byte of the same line end.
  auto passLineFeed = [&]() {
    const int next = std::fgetc(file);
    if (next != '\n' && next != EOF) std::ungetc(next, file);
  };
  auto dropCarriageReturn = [&]() {
    if (count > 0 && buffer[count - 1] == '\r') buffer[--count] = 0;
  };
  if (loneCrEndsLine && buffer[count - 1] == '\r') {
    // CR LF and a lone CR end the line as LF does.
    passLineFeed();
    buffer[count - 1] = '\n';
    return done(LineRead::Line);
  }
  if (buffer[count - 1] == '\n') {
    // CR LF ends the line as LF does.
    if (count >= 2 && buffer[count - 2] == '\r') {
      buffer[count - 2] = '\n';
      buffer[--count] = 0;
    }
    return done(LineRead::Line);
  }
  if (count < room) {  // the last line of the file, without a line end
    dropCarriageReturn();
    return done(LineRead::Line);
  }
  // The buffer is full without a line end: the line fits when its end or
  // the end of the file comes next.
  int c = std::fgetc(file);
  if (c == '\r') {
    if (loneCrEndsLine) {
      passLineFeed();
      return done(LineRead::Line);
    }
    c = std::fgetc(file);
    if (c == '\n' || c == EOF) return done(LineRead::Line);
  } else if (c == '\n' || c == EOF) {
    dropCarriageReturn();
    return done(LineRead::Line);
  }
  // Too long: its rest is passed over, but not for ever.
  for (i64 passed = static_cast<i64>(count); c != '\n' && c != EOF; c = std::fgetc(file)) {
    if (loneCrEndsLine && c == '\r') {
      passLineFeed();
      break;
    }
    if (++passed >= EndlessLineLength) {
      endless = true;
      return LineRead::End;
    }
  }
  gLog.Error("%s : line %d longer than %d characters ignored : '%.40s...'", fileName, lineNumber,
             size - 1, buffer);
  return done(LineRead::TooLong);
}

bool LineReader::Failed() const {
  if (endless) {
    gLog.Error("%s : line %d does not end, reading stopped", fileName, lineNumber);
    ReportFileError("read", fileName, "a line that does not end");
    return true;
  }
  if (!std::ferror(file)) return false;
  gLog.Error("error reading file : %s", fileName);
  ReportFileError("read", fileName);
  return true;
}

const char* SkipLineBlanks(const char* line) {
  while (IsLineBlank(*line)) ++line;
  return line;
}

char* SkipLineBlanks(char* line) {
  while (IsLineBlank(*line)) ++line;
  return line;
}

std::size_t CutLineEnd(char* line, std::size_t length) {
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r' ||
                        IsLineBlank(line[length - 1])))
    --length;
  line[length] = 0;
  return length;
}

bool IsDataLine(const char* line) {
  const char c = *SkipLineBlanks(line);
  return c != 0 && c != '\n' && c != '\r' && c != '#' && c != ';';
}

void ReportFileError(const char* action, const char* fileName, const char* why) {
  if (why)
    std::fprintf(stderr, "cannot %s file '%s' (%s)\n", action, fileName, why);
  else
    std::fprintf(stderr, "cannot %s file '%s'\n", action, fileName);
}

void ReportBadFenLine(const char* tool, i32 lineNumber, const char* text, const char* reason,
                      bool tooLong) {
  std::size_t length = std::strlen(text);
  while (length > 0 && (IsLineBlank(text[length - 1]) || text[length - 1] == '\n' ||
                        text[length - 1] == '\r'))
    --length;
  if (tooLong && length > 40) length = 40;
  std::fprintf(stderr, "%s : line %d : bad FEN string '%.*s%s' (%s)\n", tool, lineNumber,
               static_cast<int>(length), text, tooLong ? "..." : "", reason ? reason : "malformed");
}

void ReportNoPosition(const char* tool, const char* fileName) {
  std::fprintf(stderr, "%s : no position in file '%s'\n", tool, fileName);
}

std::FILE* OpenTextFile(const char* fileName, bool regularOnly, const char** why) {
  *why = nullptr;
  // Opening a named pipe waits for a writer unless it is done without
  // waiting.
  const int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status;
  if (fstat(fd, &status) != 0 || (regularOnly && !S_ISREG(status.st_mode))) {
    close(fd);
    *why = "not a regular file";
    return nullptr;
  }
  // From here reads wait for data, as they do in any file.
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "r");
  if (!file) close(fd);
  return file;
}

std::FILE* OpenToolFile(const char* fileName) {
  const char* why = nullptr;
  std::FILE* file = OpenTextFile(fileName, false, &why);
  if (!file) {
    gLog.Error("file not found : %s", fileName);
    ReportFileError("open", fileName);
  }
  return file;
}
