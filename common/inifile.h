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
// everything after it; nothing is trimmed. The first line of a key counts; a
// later one is ignored and noted.
constexpr i32 IniLineMax = 1023;

class IniFile {
 public:
  // Appends the pairs of the file; returns 0 (and changes nothing) when the
  // file cannot be opened or read (a directory, a read error), else 1.
  i32 Load(const char* path);

  // The value of the first pair with this exact key, read as a whole
  // base-10 number (blanks around it and a comment after ';' or '#' behind it
  // are allowed; numbers beyond 32 bits are held to them), or the default
  // when the key is absent. A value that is no whole number ("abc", "0x40",
  // "2abc") gives the default too, and is noted.
  i32 GetInt(const char* key, i32 defaultValue);

  // True when a pair has this exact key.
  bool Has(const char* key) const { return Find(key) >= 0; }

  // The value of the first pair with this exact key, or the default.
  std::string GetString(const char* key, const std::string& defaultValue) const;

  // The pairs in file order, duplicates included.
  std::vector<std::pair<std::string, std::string>> pairs;

  // The line number of each pair, in the same order (0 when unknown).
  std::vector<i32> pairLines;

  // Lines whose value is not used, each told in one message with the file
  // and line: a key given again (noted by Load), a value that is no whole
  // number (noted by GetInt). The caller logs them: the configuration file is
  // read before the log is open.
  std::vector<std::string> notes;

  // Numbers of the lines dropped for their length. Each was logged when it
  // was read, which is lost for a file read before the log is open.
  std::vector<i32> longLines;

 private:
  // The index of the first pair with the key, -1 when there is none.
  i32 Find(const char* key) const;

  i32 LineOf(i32 index) const;
  // Notes the pair just added when its key was given before.
  void NoteRepeatedKey();
  void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));

  std::string fileName_;  // for the notes
};
