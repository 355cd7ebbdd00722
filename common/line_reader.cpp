#include "common/line_reader.h"

#include "common/log.h"

std::size_t ReadLinePart(std::FILE* file, char* buffer, i32 size) {
  const std::size_t room = size > 1 ? static_cast<std::size_t>(size - 1) : 0;
  std::size_t count = 0;
  flockfile(file);
  while (count < room) {
    const int c = getc_unlocked(file);
    if (c == EOF) break;
    buffer[count++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  funlockfile(file);
  if (size > 0) buffer[count] = 0;
  return count;
}

LineRead LineReader::Next(char* buffer, i32 size) {
  const std::size_t length = ReadLinePart(file, buffer, size);
  if (length == 0) return LineRead::End;
  if (lineNumber < INT32_MAX) ++lineNumber;
  if (length < static_cast<std::size_t>(size - 1) || buffer[length - 1] == '\n')
    return LineRead::Line;
  // The buffer is full without a line end: the line fits when its end or the
  // end of the file comes next.
  int c = std::fgetc(file);
  if (c == EOF || c == '\n') return LineRead::Line;
  while (c != '\n' && c != EOF) c = std::fgetc(file);
  gLog.Error("%s : line %d longer than %d characters ignored : '%.40s...'", fileName, lineNumber,
             size - 1, buffer);
  return LineRead::TooLong;
}

bool LineReader::Failed() const {
  if (!std::ferror(file)) return false;
  gLog.Error("error reading file : %s", fileName);
  ReportFileError("read", fileName);
  return true;
}

void ReportFileError(const char* action, const char* fileName) {
  std::fprintf(stderr, "cannot %s file '%s'\n", action, fileName);
}

std::FILE* OpenToolFile(const char* fileName) {
  std::FILE* file = std::fopen(fileName, "r");
  if (!file) {
    gLog.Error("file not found : %s", fileName);
    ReportFileError("open", fileName);
  }
  return file;
}
