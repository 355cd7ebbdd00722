#include "common/inifile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/line_reader.h"

namespace {

std::string WithoutBlanks(const char* begin, const char* end) {
  while (begin < end && IsLineBlank(*begin)) ++begin;
  while (end > begin && IsLineBlank(end[-1])) --end;
  return std::string(begin, static_cast<std::size_t>(end - begin));
}

}  // namespace

i32 IniFile::Load(const char* path) {
  std::FILE* f = OpenTextFile(path, true, &refusal);
  // A file that is there but does not open (no permission, a loop of links)
  // is told as one that cannot be read, not taken for a missing one.
  if (!f && !refusal && errno != ENOENT) refusal = std::strerror(errno);
  if (!f) return 0;
  const std::size_t pairsBefore = pairs.size();
  const std::size_t longLinesBefore = longLines.size();
  const std::size_t notesBefore = notes.size();
  const i32 dataLinesBefore = dataLines;
  fileName_ = path;
  LineReader reader(f, path);
  char buffer[IniLineMax + 1];
  for (LineRead kind; (kind = reader.Next(buffer, sizeof buffer)) != LineRead::End;) {
    if (kind == LineRead::TooLong) {
      ++dataLines;
      longLines.push_back(reader.lineNumber);
      continue;
    }
    // Blanks around the line do not count.
    const std::size_t end = CutLineEnd(buffer, reader.length);
    const char* line = SkipLineBlanks(buffer);
    const std::size_t length = end - static_cast<std::size_t>(line - buffer);
    if (length == 0 || line[0] == '#' || line[0] == ';') continue;
    ++dataLines;
    // A control character is no part of any setting: the whole line goes,
    // rather than a part of it passing for the value.
    const char* control = nullptr;
    for (const char* p = line; p < line + length && !control; ++p)
      if ((static_cast<u8>(*p) < 32 && !IsLineBlank(*p)) || *p == 0x7F) control = p;
    if (control) {
      Note("%s : line %d ignored, it holds the control character 0x%02X", fileName_.c_str(),
           reader.lineNumber, static_cast<unsigned>(static_cast<u8>(*control)));
      continue;
    }
    const char* equals = std::strchr(line, '=');
    if (length < 3 || !equals) continue;
    pairs.emplace_back(WithoutBlanks(line, equals), WithoutBlanks(equals + 1, line + length));
    pairLines.push_back(reader.lineNumber);
    NoteRepeatedKey();
  }
  const bool readError = std::ferror(f) != 0 || reader.endless;
  std::fclose(f);
  if (readError) {
    pairs.resize(pairsBefore);
    pairLines.resize(pairsBefore);
    longLines.resize(longLinesBefore);
    notes.resize(notesBefore);
    dataLines = dataLinesBefore;
    refusal = "read error";
    return 0;
  }
  return 1;
}

i32 IniFile::Find(const char* key) const {
  for (std::size_t i = 0; i < pairs.size(); ++i)
    if (pairs[i].first == key) return static_cast<i32>(i);
  return -1;
}

i32 IniFile::Lookup(const char* key) const {
  askedKeys_.emplace_back(key);
  return Find(key);
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
  return ReadInt(key, defaultValue, nullptr);
}

i32 IniFile::ReadInt(const char* key, i32 defaultValue, std::string* written) {
  const i32 index = Lookup(key);
  if (index < 0) return defaultValue;
  const std::string& value = pairs[static_cast<std::size_t>(index)].second;
  // A whole number: blanks, an optional sign, digits, blanks, and nothing
  // after them but a comment.
  const char* p = SkipLineBlanks(value.c_str());
  const char* digits = p + (*p == '+' || *p == '-' ? 1 : 0);
  char* end = nullptr;
  // strtoll saturates at 64 bits; the number is held to 32 bits so that
  // every target reads an oversized number alike.
  const long long number = std::strtoll(p, &end, 10);
  const char* rest = SkipLineBlanks(end);
  if (*digits < '0' || *digits > '9' || (*rest != 0 && *rest != ';' && *rest != '#')) {
    Note("%s : line %d : %s=%s is not a whole number, %d kept", fileName_.c_str(), LineOf(index),
         key, value.c_str(), defaultValue);
    return defaultValue;
  }
  if (written) written->assign(p, static_cast<std::size_t>(end - p));
  if (number > INT32_MAX) return INT32_MAX;
  if (number < INT32_MIN) return INT32_MIN;
  return static_cast<i32>(number);
}

i32 IniFile::GetInt(const char* key, i32 defaultValue, i32 minimum, i32 maximum) {
  std::string written;
  const i32 value = ReadInt(key, defaultValue, &written);
  const i32 used = value < minimum ? minimum : value > maximum ? maximum : value;
  // The number is told as written: a value beyond 32 bits is held to them
  // before it is held to the range.
  if (used != value)
    Note("%s : line %d : %s=%s outside %d..%d, %d used", fileName_.c_str(), LineOf(Find(key)), key,
         written.empty() ? std::to_string(value).c_str() : written.c_str(), minimum, maximum, used);
  return used;
}

std::string IniFile::GetString(const char* key, const std::string& defaultValue) const {
  const i32 index = Lookup(key);
  if (index < 0) return defaultValue;
  const std::string& value = pairs[static_cast<std::size_t>(index)].second;
  // "book.bin ; the opening book": a ';' or '#' after a blank (or in place
  // of the value) starts a comment; one inside a word ("my#1.bin") belongs
  // to the value.
  std::size_t end = value.size();
  for (std::size_t i = 0; i < value.size(); ++i) {
    if ((value[i] == ';' || value[i] == '#') && (i == 0 || IsLineBlank(value[i - 1]))) {
      end = i;
      break;
    }
  }
  return WithoutBlanks(value.data(), value.data() + end);
}

void IniFile::NoteUnknownKeys() {
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    bool asked = false;
    for (const std::string& key : askedKeys_) asked = asked || key == pairs[i].first;
    if (!asked)
      Note("%s : line %d : unknown key '%s' ignored", fileName_.c_str(), LineOf(static_cast<i32>(i)),
           pairs[i].first.c_str());
  }
}
