#include "engine/book.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "common/line_reader.h"
#include "common/log.h"
#include "engine/engine.h"

namespace {

// Plies played before the book stops being consulted.
constexpr i32 BookPlies = 20;

void ResizeBookEntries(std::vector<BookEntry>& entries, u32 count) { entries.resize(count); }

}  // namespace

void (*Engine::sizeBookEntries)(std::vector<BookEntry>& entries, u32 count) = ResizeBookEntries;

i32 FindBookKey(const BookEntry* entries, i32 count, u64 key) {
  i32 low = 0;
  i32 high = count - 1;
  while (low <= high) {
    const i32 middle = low + (high - low) / 2;
    if (entries[middle].key < key) {
      low = middle + 1;
    } else if (entries[middle].key > key) {
      high = middle - 1;
    } else {
      i32 first = middle;
      while (first > 0 && entries[first - 1].key == key) --first;
      return first;
    }
  }
  return -1;
}

i32 ChooseBookEntry(const BookEntry* entries, i32 count, i32 first, i32 selectivity) {
  if (selectivity > 99) return first;
  i32 current = first;
  for (;;) {
    if (std::rand() % 100 < selectivity) return current;
    if (current + 1 < count && entries[current + 1].key == entries[first].key)
      ++current;
    else
      return current;
  }
}

const char* BookLoadText(BookLoad outcome) {
  switch (outcome) {
    case BookLoad::Loaded: return "book file loaded";
    case BookLoad::NotFound: return "book file not found";
    case BookLoad::Unreadable: return "cannot read book file";
    case BookLoad::Invalid: return "not a valid book file";
    case BookLoad::TooLarge: return "book file too large";
  }
  return "not a valid book file";
}

bool Engine::LoadBook(const std::string& fileName, BookLoad* outcome) {
  bookPlyLimit = BookPlies;
  bookEnabled = 1;
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  // Every failure switches the book off and tells why.
  auto fail = [&](BookLoad why) {
    bookEnabled = 0;
    if (outcome) *outcome = why;
    return false;
  };
  // A pipe or a device named as the book must not stall the engine.
  const char* refusal = nullptr;
  std::FILE* file = OpenTextFile(fileName.c_str(), true, &refusal);
  if (!file && refusal) {
    gLog.Error("cannot read book file : %s (%s)", fileName.c_str(), refusal);
    return fail(BookLoad::Unreadable);
  }
  if (!file) {
    // Only a file that is not there is "not found"; one that is there but
    // does not open (no permission) cannot be read.
    const int error = errno;
    struct stat status;
    if (stat(fileName.c_str(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
      gLog.Error("book file not found : %s", fileName.c_str());
      return fail(BookLoad::NotFound);
    }
    gLog.Error("cannot read book file : %s (%s)", fileName.c_str(), std::strerror(error));
    return fail(BookLoad::Unreadable);
  }
  u8 header[BookHeaderBytes];
  u32 announced = 0;
  if (std::fread(header, 1, sizeof header, file) != sizeof header ||
      !DecodeBookHeader(header, &announced)) {
    std::fclose(file);
    gLog.Error("not a valid book file : %s (no book header)", fileName.c_str());
    return fail(BookLoad::Invalid);
  }
  // The file is exactly its header and the records it announces: a shorter
  // one is refused before anything is allocated for it, and bytes past the
  // records mean a file that is not what its header says.
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  const u64 expected = BookHeaderBytes + static_cast<u64>(announced) * BookEntryBytes;
  const u64 present =
      size >= static_cast<long>(BookHeaderBytes) ? static_cast<u64>(size - BookHeaderBytes) / BookEntryBytes : 0;
  if (size < 0 || static_cast<u64>(size) < expected || announced > static_cast<u32>(INT32_MAX) ||
      std::fseek(file, BookHeaderBytes, SEEK_SET) != 0) {
    std::fclose(file);
    gLog.Error("not a valid book file : %s (truncated: %u entries announced, %llu present)",
               fileName.c_str(), announced, static_cast<unsigned long long>(present));
    return fail(BookLoad::Invalid);
  }
  if (static_cast<u64>(size) > expected) {
    std::fclose(file);
    gLog.Error("not a valid book file : %s (%llu bytes past its %u entries)", fileName.c_str(),
               static_cast<unsigned long long>(static_cast<u64>(size) - expected), announced);
    return fail(BookLoad::Invalid);
  }
  // A book larger than the memory left is refused like a bad file.
  std::vector<BookEntry> entries;
  try {
    sizeBookEntries(entries, announced);
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    gLog.Error("book file too large : %s (%u entries)", fileName.c_str(), announced);
    return fail(BookLoad::TooLarge);
  }
  u8 record[BookEntryBytes];
  for (u32 i = 0; i < announced; ++i) {
    if (std::fread(record, 1, sizeof record, file) != sizeof record) {
      const bool error = std::ferror(file) != 0;
      std::fclose(file);
      if (error) {
        gLog.Error("cannot read book file : %s (read error)", fileName.c_str());
        return fail(BookLoad::Unreadable);
      }
      gLog.Error("not a valid book file : %s (truncated)", fileName.c_str());
      return fail(BookLoad::Invalid);
    }
    entries[i] = DecodeBookEntry(record);
    // The probe finds a position by bisection: a key out of order would
    // hide its own moves and those of other positions.
    if (i > 0 && entries[i].key < entries[i - 1].key) {
      std::fclose(file);
      gLog.Error("not a valid book file : %s (entry %u is out of key order)", fileName.c_str(),
                 i + 1);
      return fail(BookLoad::Invalid);
    }
  }
  std::fclose(file);
  bookEntries.swap(entries);
  bookCount = static_cast<i32>(announced);
  if (outcome) *outcome = BookLoad::Loaded;
  return true;
}

void Engine::ReleaseBook() {
  std::vector<BookEntry>().swap(bookEntries);
  bookCount = 0;
  bookEnabled = 0;
}

Move Engine::ProbeBook() {
  if (!bookEnabled || bookCount <= 0 || !(static_cast<i32>(gameHistory.size()) < bookPlyLimit))
    return 0;
  const i32 first = FindBookKey(bookEntries.data(), bookCount, board.key);
  if (first < 0) return 0;
  return bookEntries[ChooseBookEntry(bookEntries.data(), bookCount, first, bookSelectivity)].move;
}
