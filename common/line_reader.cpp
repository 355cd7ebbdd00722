#include "common/line_reader.h"

#include <cstring>

#include "common/log.h"

LineRead LineReader::Next(char* buffer, i32 size) {
  if (!std::fgets(buffer, size, file)) return LineRead::End;
  if (lineNumber < INT32_MAX) ++lineNumber;
  const std::size_t length = std::strlen(buffer);
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
