#include "tools/book_builder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/attacks.h"
#include "common/line_reader.h"
#include "common/log.h"

namespace {

constexpr u16 CounterLimit = 0xFFFF;

// Game counts and points stop at the top of their 16 bits instead of
// wrapping round to a small number.
u16 SaturatedAdd(u16 value, i32 add) {
  const i32 sum = value + add;
  return static_cast<u16>(sum > CounterLimit ? CounterLimit : sum);
}

// Writes the header and the entries in little-endian order. False when the
// file cannot be written completely.
bool WriteBook(std::FILE* file, const BookEntry* entries, u32 count) {
  u8 header[BookHeaderBytes];
  EncodeBookHeader(count, header);
  bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
  constexpr u32 ChunkEntries = 256;
  u8 chunk[ChunkEntries * BookEntryBytes];
  for (u32 first = 0; ok && first < count; first += ChunkEntries) {
    const u32 n = std::min(ChunkEntries, count - first);
    for (u32 i = 0; i < n; ++i) EncodeBookEntry(entries[first + i], chunk + i * BookEntryBytes);
    ok = std::fwrite(chunk, BookEntryBytes, n, file) == n;
  }
  return ok;
}

// Where the book goes: the file the name leads to, through a symbolic link
// (the link stays and the file it names is replaced). False, with the
// reason, for a name that cannot take a book: the PGN file itself under any
// name (a hard link too), a file that is no regular file (a directory, a
// device, a pipe that would wait for a reader), one that may not be written,
// or a link that leads to no file.
bool BookTarget(const char* pgnFile, const char* bookFile, std::string& target, std::string& why) {
  target = bookFile;
  struct stat status;
  if (lstat(bookFile, &status) != 0) {
    if (errno == ENOENT) return true;  // a new file; its directory is tried when it is written
    why = std::strerror(errno);
    return false;
  }
  if (S_ISLNK(status.st_mode)) {
    char* resolved = realpath(bookFile, nullptr);
    if (resolved == nullptr) {
      why = errno == ENOENT ? "a symbolic link to no file" : std::strerror(errno);
      return false;
    }
    target = resolved;
    std::free(resolved);
    if (stat(target.c_str(), &status) != 0) {
      why = std::strerror(errno);
      return false;
    }
  }
  if (!S_ISREG(status.st_mode)) {
    why = "not a regular file";
    return false;
  }
  struct stat input;
  if (stat(pgnFile, &input) == 0 && input.st_dev == status.st_dev && input.st_ino == status.st_ino) {
    why = std::string("it is the PGN file '") + pgnFile + "'";
    return false;
  }
  // Replacing a file needs only the right to write its directory: a book the
  // user made read-only stays as it is.
  if (access(target.c_str(), W_OK) != 0) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

// Writes the book to a new file beside the target and renames it over the
// target once every byte is written, flushed to the disk and closed, so that
// the target is either the whole new book or what it was before. On failure
// the new file is removed and why tells the reason. A file-size limit makes
// a write fail (instead of ending the program), so that the new file is
// removed too.
bool WriteBookFile(const std::string& target, const BookEntry* entries, u32 count, std::string& why) {
  std::string temporary;
  int fd = -1;
  // Unique among the running processes by the process id; a name left by an
  // earlier run that was killed is passed over.
  for (i32 attempt = 0; fd < 0; ++attempt) {
    temporary = target + "." + std::to_string(getpid()) + "." + std::to_string(attempt) + ".tmp";
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt >= 99)) {
      why = std::strerror(errno);
      return false;
    }
  }
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &previous);
  int error = 0;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    error = errno;
    close(fd);
  } else {
    errno = 0;
    if (!WriteBook(file, entries, count) || std::fflush(file) != 0 || fsync(fileno(file)) != 0)
      error = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  }
  sigaction(SIGXFSZ, &previous, nullptr);
  if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    why = std::strerror(error);
    return false;
  }
  return true;
}

// The most slots the table may have: a power of two whose count fits 32 bits
// and whose bytes fit a size_t (32 bits on some targets).
constexpr u32 MaxTableCapacity = sizeof(std::size_t) >= 8 ? 1u << 31 : 1u << 27;
static_assert(MaxTableCapacity <= SIZE_MAX / sizeof(BookEntry), "table bytes must fit a size_t");

// The slot of a key in a table of mask + 1 entries, a power of two.
inline u32 HomeSlot(u64 key, u32 mask) { return static_cast<u32>(key) & mask; }

void* CallocTable(std::size_t count, std::size_t size) { return std::calloc(count, size); }

}  // namespace

void* (*BookBuilder::allocateZeroed)(std::size_t count, std::size_t size) = CallocTable;
u32 BookBuilder::startCapacity = BookTableCapacity;

BookBuilder::BookBuilder(const std::string& bookFileIn, i32 minCountIn, i32 maxPlyIn)
    : bookFile(bookFileIn),
      minCount(minCountIn),
      maxPly(maxPlyIn),
      result(0),
      entrySize(BookEntryBytes),
      capacity(BookTableCapacity),
      mask(BookTableCapacity - 1),
      table(nullptr),
      previousKey(0),
      written(0),
      entriesKept(0),
      entriesWritten(0),
      games(0),
      stoppedGames(0),
      used(0),
      dropped(0),
      cannotGrow(0),
      noTable(0) {}

BookBuilder::~BookBuilder() { std::free(table); }

void BookBuilder::Begin(PgnParser& parser) {
  entrySize = BookEntryBytes;
  capacity = startCapacity;
  mask = capacity - 1;
  std::free(table);
  table = static_cast<BookEntry*>(allocateZeroed(capacity, sizeof(BookEntry)));
  used = 0;
  dropped = 0;
  cannotGrow = 0;
  noTable = table == nullptr ? 1 : 0;
  if (noTable) OnError(parser, PgnErrorOutOfMemory, nullptr);
}

bool BookBuilder::Grow() {
  if (capacity >= MaxTableCapacity) return false;
  const u32 grown = capacity * 2;
  BookEntry* bigger = static_cast<BookEntry*>(allocateZeroed(grown, sizeof(BookEntry)));
  if (bigger == nullptr) return false;
  const u32 grownMask = grown - 1;
  for (u32 i = 0; i < capacity; ++i) {
    const BookEntry& entry = table[i];
    if (entry.key == 0) continue;
    u32 slot = HomeSlot(entry.key, grownMask);
    while (bigger[slot].key != 0) slot = (slot + 1) & grownMask;
    bigger[slot] = entry;
  }
  std::free(table);
  table = bigger;
  capacity = grown;
  mask = grownMask;
  return true;
}

void BookBuilder::OnError(PgnParser& parser, i32 code, const char* text) {
  PgnReader::OnError(parser, code, text);
  if (code != PgnErrorParse && code != PgnErrorInvalidMove && code != PgnErrorInvalidFen) return;
  // One line per game: its replay ends at the first such move, and a game
  // whose FEN tag does not read is not replayed at all.
  ++stoppedGames;
  if (code == PgnErrorInvalidFen)
    std::printf("%s, line %d : game %d is not replayed: its FEN tag '%s' cannot be read\n",
                parser.fileName.c_str(), parser.tokenLine, parser.gameNumber + 1, text ? text : "");
  else
    std::printf("%s, line %d : game %d stops at '%s' (%s)\n", parser.fileName.c_str(),
                parser.tokenLine, parser.gameNumber + 1, text ? text : "",
                code == PgnErrorParse ? "cannot be read as a move of the position"
                                      : "an illegal move");
}

void BookBuilder::OnGameStart(PgnParser& parser) {
  result = 0;
  for (const PgnTag& tag : parser.tags) {
    if (tag.name == "Result") {
      if (tag.value == "1-0") result = 1;
      if (tag.value == "0-1") result = 2;
      break;
    }
  }
  previousKey = parser.board->key;
}

void BookBuilder::OnMove(PgnParser& parser, const MoveToken&, Move move, const char*) {
  const u64 key = previousKey;
  previousKey = parser.board->key;
  // The game's moves so far, this one included: its half-moves from the start.
  const std::size_t plies = parser.moves.size();
  if (maxPly <= 0 || plies > static_cast<std::size_t>(maxPly) || table == nullptr) return;

  // The board holds the position after the move, so the mover is the side
  // not to move now.
  const bool whiteMoved = parser.board->sideToMove == Black;
  i32 score = 1;
  if (result != 0) score = (result == 1) == whiteMoved ? 2 : 0;

  // The table is kept at most three quarters full, so that a probe soon
  // meets a free slot: it grows before a new pair would pass that load.
  // Where it cannot grow, the moves of new pairs are dropped and counted.
  u32 i = HomeSlot(key, mask);
  for (;;) {
    BookEntry& entry = table[i];
    if (entry.key == key && entry.move == move) {
      entry.count = SaturatedAdd(entry.count, 1);
      entry.points = SaturatedAdd(entry.points, score);
      return;
    }
    if (entry.key == 0) break;
    i = (i + 1) & mask;
  }
  if (used >= capacity / 4 * 3) {
    if (cannotGrow || !Grow()) {
      if (!cannotGrow)
        gLog.Error("build opening book : not enough memory for more than %u entries", used);
      cannotGrow = 1;
      ++dropped;
      return;
    }
    i = HomeSlot(key, mask);
    while (table[i].key != 0) i = (i + 1) & mask;
  }
  BookEntry& entry = table[i];
  entry.key = key;
  entry.move = move;
  entry.count = 1;
  entry.points = static_cast<u16>(score);
  ++used;
}

void BookBuilder::End(PgnParser& parser) {
  written = 0;
  entriesKept = 0;
  entriesWritten = 0;
  writeFailure.clear();
  if (table == nullptr) return;
  // A collection read only in part would give a book that silently lacks games.
  if (parser.readFailed) {
    std::free(table);
    table = nullptr;
    return;
  }
  u32 n = 0;
  for (u32 i = 0; i < capacity; ++i) {
    const BookEntry& entry = table[i];
    if (entry.key != 0 && entry.count >= minCount) table[n++] = entry;
  }
  std::sort(table, table + n, BookEntryBefore);
  entriesKept = n;

  // A build without an entry writes nothing: an empty book must not take
  // the place of a good one.
  if (n != 0) {
    if (WriteBookFile(bookFile, table, n, writeFailure)) {
      written = 1;
      entriesWritten = n;
    } else {
      gLog.Error("error saving book file : %s (%s)", bookFile.c_str(), writeFailure.c_str());
    }
  }
  std::free(table);
  table = nullptr;
  if (dropped != 0) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "build opening book : not enough memory, %llu moves dropped (no room for their "
                  "position-move pairs)",
                  static_cast<unsigned long long>(dropped));
    gLog.Error("%s", text);
    std::fprintf(stderr, "%s\n", text);
  }
}

i32 RunBuildBook(const char* pgnFile, const char* bookFile, i32 maxPly, i32 minCount,
                 bool* bookWritten) {
  if (bookWritten) *bookWritten = false;
  if (maxPly < 0 || minCount < 0) {
    std::fprintf(stderr, "build opening book : invalid %s %d, it must be at least 0\n",
                 maxPly < 0 ? "maximum ply" : "minimum count", maxPly < 0 ? maxPly : minCount);
    return 0;
  }
  // A name that cannot take the book is refused before the games are read.
  std::string target;
  std::string refusal;
  if (!BookTarget(pgnFile, bookFile, target, refusal)) {
    gLog.Error("error saving book file : %s (%s)", bookFile, refusal.c_str());
    ReportFileError("write", bookFile, refusal.c_str());
    return 0;
  }
  InitAttackTables();
  Board board{};
  board.SetStartPosition();
  BookBuilder builder(target, minCount, maxPly);
  PgnParser parser(pgnFile, 0, &board, &builder);
  i32 read = parser.Read();
  if (parser.readFailed) {
    ReportFileError("read", pgnFile, parser.readFailure);
    read = 0;
  } else if (read == 0) {
    ReportFileError("open", pgnFile);
  } else if (builder.noTable) {
    std::fprintf(stderr, "build opening book : not enough memory for the table of positions, no book written\n");
  } else if (builder.entriesKept == 0) {
    if (builder.games == 0)
      std::fprintf(stderr, "no book entry from %s : no game in it, nothing written\n", pgnFile);
    else
      std::fprintf(stderr,
                    "no book entry from %s : %d games read, no move within max ply %d reaches "
                    "min count %d, nothing written\n",
                    pgnFile, builder.games, maxPly, minCount);
  } else if (builder.written == 0) {
    ReportFileError("write", bookFile, builder.writeFailure.c_str());
  } else {
    std::printf("%d games read, %d stopped early; %u book entries written to %s\n",
                builder.games, builder.stoppedGames, builder.entriesWritten, bookFile);
  }
  if (bookWritten) *bookWritten = builder.written != 0 && builder.dropped == 0;
  return read;
}
