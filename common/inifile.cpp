#include "common/inifile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/line_reader.h"

i32 IniFile::Load(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (!f) return 0;
  const std::size_t pairsBefore = pairs.size();
  const std::size_t longLinesBefore = longLines.size();
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
  }
  // A directory opens but cannot be read: like a file that does not open.
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) {
    pairs.resize(pairsBefore);
    longLines.resize(longLinesBefore);
    return 0;
  }
  return 1;
}

const std::string* IniFile::Find(const char* key) const {
  for (const auto& pair : pairs)
    if (pair.first == key) return &pair.second;
  return nullptr;
}

i32 IniFile::GetInt(const char* key, i32 defaultValue) const {
  const std::string* value = Find(key);
  if (!value) return defaultValue;
  // strtol saturates at the limits of long; clamp to 32 bits so that every
  // target reads an oversized number alike.
  long number = std::strtol(value->c_str(), nullptr, 10);
  if (number > INT32_MAX) return INT32_MAX;
  if (number < INT32_MIN) return INT32_MIN;
  return static_cast<i32>(number);
}

std::string IniFile::GetString(const char* key, const std::string& defaultValue) const {
  const std::string* value = Find(key);
  return value ? *value : defaultValue;
}
