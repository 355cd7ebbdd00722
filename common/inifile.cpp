#include "common/inifile.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/line_reader.h"

i32 IniFile::Load(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (!f) return 0;
  const std::size_t pairsBefore = pairs.size();
  const std::size_t longLinesBefore = longLines.size();
  const std::size_t notesBefore = notes.size();
  fileName_ = path;
  LineReader reader(f, path);
  char line[IniLineMax + 1];
  for (LineRead kind; (kind = reader.Next(line, sizeof line)) != LineRead::End;) {
    if (kind == LineRead::TooLong) {
      longLines.push_back(reader.lineNumber);
      continue;
    }
    // Any control character (newline, carriage return, tab) or non-ASCII byte
    // ends the line.
    std::size_t length = 0;
    while (line[length] && static_cast<i8>(line[length]) >= 32) ++length;
    line[length] = 0;
    if (length < 3 || line[0] == '#' || line[0] == ';') continue;
    const char* equals = std::strchr(line, '=');
    if (!equals) continue;
    pairs.emplace_back(std::string(line, static_cast<std::size_t>(equals - line)), std::string(equals + 1));
    pairLines.resize(pairs.size(), 0);
    pairLines.back() = reader.lineNumber;
    NoteRepeatedKey();
  }
  // A directory opens but cannot be read: like a file that does not open.
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) {
    pairs.resize(pairsBefore);
    pairLines.resize(pairsBefore);
    longLines.resize(longLinesBefore);
    notes.resize(notesBefore);
    return 0;
  }
  return 1;
}

i32 IniFile::Find(const char* key) const {
  for (std::size_t i = 0; i < pairs.size(); ++i)
    if (pairs[i].first == key) return static_cast<i32>(i);
  return -1;
}

i32 IniFile::LineOf(i32 index) const {
  const std::size_t i = static_cast<std::size_t>(index);
  return i < pairLines.size() ? pairLines[i] : 0;
}

void IniFile::NoteRepeatedKey() {
  const i32 last = static_cast<i32>(pairs.size()) - 1;
  const i32 first = Find(pairs.back().first.c_str());
  if (first == last) return;
  Note("%s : line %d ignored, %s is given on line %d already : '%s=%s'", fileName_.c_str(),
       LineOf(last), pairs.back().first.c_str(), LineOf(first), pairs.back().first.c_str(),
       pairs.back().second.c_str());
}

void IniFile::Note(const char* format, ...) {
  char text[2 * IniLineMax + 256];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  notes.emplace_back(text);
}

i32 IniFile::GetInt(const char* key, i32 defaultValue) {
  const i32 index = Find(key);
  if (index < 0) return defaultValue;
  const std::string& value = pairs[static_cast<std::size_t>(index)].second;
  // A whole number: blanks, an optional sign, digits, blanks, and nothing
  // after them but a comment.
  const char* p = value.c_str();
  while (*p == ' ') ++p;
  const char* digits = p + (*p == '+' || *p == '-' ? 1 : 0);
  char* end = nullptr;
  // strtol saturates at the limits of long; clamp to 32 bits so that every
  // target reads an oversized number alike.
  const long number = std::strtol(p, &end, 10);
  const char* rest = end;
  while (*rest == ' ') ++rest;
  if (*digits < '0' || *digits > '9' || (*rest != 0 && *rest != ';' && *rest != '#')) {
    Note("%s : line %d : %s=%s is not a whole number, %d kept", fileName_.c_str(), LineOf(index),
         key, value.c_str(), defaultValue);
    return defaultValue;
  }
  if (number > INT32_MAX) return INT32_MAX;
  if (number < INT32_MIN) return INT32_MIN;
  return static_cast<i32>(number);
}

std::string IniFile::GetString(const char* key, const std::string& defaultValue) const {
  const i32 index = Find(key);
  return index >= 0 ? pairs[static_cast<std::size_t>(index)].second : defaultValue;
}
