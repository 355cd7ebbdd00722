// Reader of small key=value text files: the configuration file and the
// personality files.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/types.h"

// Line format: lines are read as every text file is (a byte-order mark
// skipped, CR LF and a lone CR read as LF). A line holds at most IniLineMax
// characters; a longer one is dropped whole (and logged), its rest never
// read as a line of its own. Blanks (spaces, tabs) around a line are no part
// of it. Bytes above 0x7F (UTF-8 text, such as a file name) belong to the
// line; a line holding any other control character (NUL, DEL, ...) is
// ignored whole and noted. Lines shorter than 3 characters, lines starting
// with '#' or ';' and lines without '=' are skipped. The key is what comes
// before the first '=', the value what comes after it, each without the
// blanks around it. The first line of a key counts; a later one is ignored
// and noted.
constexpr i32 IniLineMax = 1023;

class IniFile {
 public:
  // Appends the pairs of the file; returns 0 (and changes nothing) when the
  // file cannot be opened or read, else 1. Only a regular file is read: a
  // directory, a device or a pipe is refused, so that reading never waits
  // for a writer or runs on without end.
  i32 Load(const char* path);

  // After a Load that returned 0: why a file that is there was not read
  // ("not a regular file", "read error", or the system's reason why it does
  // not open, such as "Permission denied"); null when there is no such file.
  const char* refusal = nullptr;

  // The value of the first pair with this exact key, read as a whole
  // base-10 number (blanks around it and a comment after ';' or '#' behind it
  // are allowed; numbers beyond 32 bits are held to them), or the default
  // when the key is absent. A value that is no whole number ("abc", "0x40",
  // "2abc") gives the default too, and is noted.
  i32 GetInt(const char* key, i32 defaultValue);

  // The same, held to minimum..maximum; a value held is noted with its line
  // and the value used.
  i32 GetInt(const char* key, i32 defaultValue, i32 minimum, i32 maximum);

  // True when a pair has this exact key.
  bool Has(const char* key) const { return Lookup(key) >= 0; }

  // The value of the first pair with this exact key, or the default. A
  // comment behind the value, a ';' or '#' after a blank, is no part of it.
  std::string GetString(const char* key, const std::string& defaultValue) const;

  // Notes every line whose key no lookup has asked for: a key the reader of
  // the file does not know. Called once every key has been read.
  void NoteUnknownKeys();

  // The pairs in file order, duplicates included.
  std::vector<std::pair<std::string, std::string>> pairs;

  // The line number of each pair, in the same order (0 when unknown).
  std::vector<i32> pairLines;

  // Lines whose value is not used as written, each told in one message with
  // the file and line: a line holding a control character or a key given
  // again (noted by Load), a value that is no whole number or lies outside
  // its range (noted by GetInt), a key nobody reads (noted by
  // NoteUnknownKeys). The caller logs them: the configuration file is read
  // before the log is open.
  std::vector<std::string> notes;

  // Lines of the files loaded that carry data: neither blank nor a comment,
  // whether they were taken as a pair or not.
  i32 dataLines = 0;

  // Numbers of the lines dropped for their length. Each was logged when it
  // was read, which is lost for a file read before the log is open.
  std::vector<i32> longLines;

 private:
  // The index of the first pair with the key, -1 when there is none.
  i32 Find(const char* key) const;
  // Find for a reader of the file: the key counts as known.
  i32 Lookup(const char* key) const;

  // GetInt that also gives the number's text as written (empty when the
  // default is returned).
  i32 ReadInt(const char* key, i32 defaultValue, std::string* written);
  i32 LineOf(i32 index) const;
  // Notes the pair just added when its key was given before.
  void NoteRepeatedKey();
  void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));

  std::string fileName_;  // for the notes
  mutable std::vector<std::string> askedKeys_;  // every key looked up
};
