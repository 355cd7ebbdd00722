// Reader of small key=value text files: the configuration file and the
// personality files.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/types.h"

// Line format: a line holds at most IniLineMax characters; a longer one is
// dropped whole (and logged), its rest never read as a line of its own. A
// line is cut at its first control character or byte above 0x7F. Lines
// shorter than 3 characters, lines starting with '#' or ';' and lines without
// '=' are skipped. The key is everything before the first '=', the value
// everything after it; nothing is trimmed.
constexpr i32 IniLineMax = 1023;

class IniFile {
 public:
  // Appends the pairs of the file; returns 0 (and changes nothing) when the
  // file cannot be opened or read (a directory, a read error), else 1.
  i32 Load(const char* path);

  // The value of the first pair with this exact key, read as a base-10
  // integer (no digits give 0), or the default when the key is absent.
  i32 GetInt(const char* key, i32 defaultValue) const;

  // The value of the first pair with this exact key, or the default.
  std::string GetString(const char* key, const std::string& defaultValue) const;

  // The pairs in file order, duplicates included.
  std::vector<std::pair<std::string, std::string>> pairs;

  // Numbers of the lines dropped for their length. Each was logged when it
  // was read, which is lost for a file read before the log is open.
  std::vector<i32> longLines;

 private:
  const std::string* Find(const char* key) const;
};
