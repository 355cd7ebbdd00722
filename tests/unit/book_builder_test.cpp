#include "tools/book_builder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "file_helpers.h"
#include "test_support.h"
#include "tools/test_suite.h"

namespace {

const char* const EcoFile = "/usr/share/pgn-extract/eco.pgn";

struct Book {
  bool valid = false;
  u32 count = 0;
  std::vector<BookEntry> entries;
};

Book ReadBook(const std::string& path) {
  Book book;
  const std::string bytes = ReadWholeFile(path);
  if (bytes.size() < BookHeaderBytes) return book;
  const u8* data = reinterpret_cast<const u8*>(bytes.data());
  book.valid = DecodeBookHeader(data, &book.count);
  for (size_t at = BookHeaderBytes; at + BookEntryBytes <= bytes.size(); at += BookEntryBytes)
    book.entries.push_back(DecodeBookEntry(data + at));
  return book;
}

// Little-endian bytes written out by hand, independent of the encoder.
void AppendLittleEndian(std::string& out, u64 value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::string EntryBytes(u64 key, Move move, u16 count, u16 points) {
  std::string out;
  AppendLittleEndian(out, key, 8);
  AppendLittleEndian(out, move, 4);
  AppendLittleEndian(out, count, 2);
  AppendLittleEndian(out, points, 2);
  return out;
}

std::string HeaderBytes(u32 n) {
  std::string out = "BOOK";
  AppendLittleEndian(out, BookFileVersion, 4);
  AppendLittleEndian(out, n, 4);
  return out;
}

Board Start() {
  InitAttackTables();
  Board b{};
  b.SetStartPosition();
  return b;
}

// The board after the moves, each given as from-square and to-square.
Board After(const std::vector<std::pair<const char*, const char*>>& moves) {
  Board b = Start();
  for (const auto& fromTo : moves) {
    Move found = 0;
    for (const Move m : LegalMoves(b))
      if (FromSquare(m) == S(fromTo.first) && ToSquare(m) == S(fromTo.second)) found = m;
    EXPECT_NE(found, 0u) << fromTo.first << fromTo.second;
    UndoInfo undo;
    b.MakeMove(found, undo);
  }
  return b;
}

const Move E4 = EncodeMove(S("e2"), S("e4"), Pawn, 0, 0, MoveFlagDoublePush);
const Move E5 = EncodeMove(S("e7"), S("e5"), Pawn, 0, 0, MoveFlagDoublePush);
const Move D4 = EncodeMove(S("d2"), S("d4"), Pawn, 0, 0, MoveFlagDoublePush);
const Move C4 = EncodeMove(S("c2"), S("c4"), Pawn, 0, 0, MoveFlagDoublePush);
const Move C5 = EncodeMove(S("c7"), S("c5"), Pawn, 0, 0, MoveFlagDoublePush);

class BookBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Ok()); }

  Book Build(const std::string& pgn, i32 maxPly, i32 minCount, i32* result = nullptr) {
    const std::string pgnFile = dir_.Write("games.pgn", pgn);
    const std::string bookFile = dir_.File("book.bin");
    std::remove(bookFile.c_str());
    const i32 r = RunBuildBook(pgnFile.c_str(), bookFile.c_str(), maxPly, minCount);
    if (result) *result = r;
    return ReadBook(bookFile);
  }

  // Entries of one position in file order.
  static std::vector<BookEntry> Of(const Book& book, u64 key) {
    std::vector<BookEntry> out;
    for (const BookEntry& e : book.entries)
      if (e.key == key) out.push_back(e);
    return out;
  }

  TempDir dir_;
};

// Text of a quiet opening move: a pawn push or an unambiguous piece move.
std::string OpeningSan(Move m) {
  std::string s;
  if (MovingPiece(m) != Pawn) s += "  NBRQK"[MovingPiece(m)];
  s += static_cast<char>('a' + FileOf(ToSquare(m)));
  s += static_cast<char>('1' + RankOf(ToSquare(m)));
  return s;
}

// While it lives, the book table starts at start slots and no allocation
// of more than limit slots succeeds.
class TableAllocation {
 public:
  TableAllocation(u32 start, u32 limit)
      : savedAllocate_(BookBuilder::allocateZeroed), savedStart_(BookBuilder::startCapacity) {
    limit_ = limit;
    BookBuilder::startCapacity = start;
    BookBuilder::allocateZeroed = [](std::size_t count, std::size_t size) -> void* {
      return count <= limit_ ? std::calloc(count, size) : nullptr;
    };
  }
  ~TableAllocation() {
    BookBuilder::allocateZeroed = savedAllocate_;
    BookBuilder::startCapacity = savedStart_;
  }
  TableAllocation(const TableAllocation&) = delete;
  TableAllocation& operator=(const TableAllocation&) = delete;

 private:
  static std::size_t limit_;
  void* (*savedAllocate_)(std::size_t, std::size_t);
  u32 savedStart_;
};
std::size_t TableAllocation::limit_ = 0;

std::string Game(const std::string& result, const std::string& moves) {
  std::string tags = "[Event \"t\"]\n";
  if (!result.empty()) tags += "[Result \"" + result + "\"]\n";
  return tags + "\n" + moves + "\n\n";
}

}  // namespace

TEST(BookFormat, HeaderAndEntriesAreLittleEndian) {
  u8 header[BookHeaderBytes];
  EncodeBookHeader(0x01020304u, header);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header), sizeof header), HeaderBytes(0x01020304u));
  u32 n = 0;
  ASSERT_TRUE(DecodeBookHeader(header, &n));
  EXPECT_EQ(n, 0x01020304u);
  header[6] = 3;  // another version
  EXPECT_FALSE(DecodeBookHeader(header, &n));
  EncodeBookHeader(5, header);
  header[0] = 'b';
  EXPECT_FALSE(DecodeBookHeader(header, &n));

  const BookEntry entry{0x8877665544332211ull, 0xa1b2c3d4u, 0xfffe, 0x0102};
  u8 bytes[BookEntryBytes];
  EncodeBookEntry(entry, bytes);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), sizeof bytes),
            EntryBytes(0x8877665544332211ull, 0xa1b2c3d4u, 0xfffe, 0x0102));
  const BookEntry back = DecodeBookEntry(bytes);
  EXPECT_EQ(back.key, entry.key);
  EXPECT_EQ(back.move, entry.move);
  EXPECT_EQ(back.count, entry.count);
  EXPECT_EQ(back.points, entry.points);
}

TEST_F(BookBuilderTest, OneWonGameGivesTheExactFile) {
  i32 result = 0;
  Build(Game("1-0", "1. e4 e5 1-0"), 2, 1, &result);
  EXPECT_EQ(result, 1);
  const u64 startKey = Start().key;
  const u64 afterE4 = After({{"e2", "e4"}}).key;
  std::string first = EntryBytes(startKey, E4, 1, 2);
  std::string second = EntryBytes(afterE4, E5, 1, 0);
  if (afterE4 < startKey) std::swap(first, second);
  const std::string bytes = ReadWholeFile(dir_.File("book.bin"));
  EXPECT_EQ(bytes.size(), 12u + 32u);
  EXPECT_EQ(bytes, HeaderBytes(2) + first + second);
}

TEST_F(BookBuilderTest, GamesAddUpCountsAndPoints) {
  const Book book = Build(Game("1-0", "1. e4 e5 *") + Game("1/2-1/2", "1. e4 e5 *") +
                              Game("0-1", "1. d4 *") + Game("", "1. d4 *") + Game("*", "1. d4 *"),
                          10, 1);
  ASSERT_TRUE(book.valid);
  EXPECT_EQ(book.count, book.entries.size());
  const std::vector<BookEntry> start = Of(book, Start().key);
  ASSERT_EQ(start.size(), 2u);
  EXPECT_EQ(start[0].move, E4);  // points 3 before points 2
  EXPECT_EQ(start[0].count, 2);
  EXPECT_EQ(start[0].points, 3);
  // d4: lost once, then twice without a known result, which counts as a draw.
  EXPECT_EQ(start[1].move, D4);
  EXPECT_EQ(start[1].count, 3);
  EXPECT_EQ(start[1].points, 2);
  const std::vector<BookEntry> reply = Of(book, After({{"e2", "e4"}}).key);
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].move, E5);
  EXPECT_EQ(reply[0].count, 2);
  EXPECT_EQ(reply[0].points, 1);
}

TEST_F(BookBuilderTest, MinimumCountDropsRareMoves) {
  const std::string pgn = Game("1-0", "1. e4 e5 *") + Game("1-0", "1. e4 c5 *");
  for (const i32 minCount : {0, 1}) {
    const Book all = Build(pgn, 10, minCount);
    EXPECT_EQ(all.entries.size(), 3u);
  }
  const Book common = Build(pgn, 10, 2);
  ASSERT_EQ(common.entries.size(), 1u);
  EXPECT_EQ(common.entries[0].move, E4);
  EXPECT_EQ(common.entries[0].points, 4);
  // No move reaches the count: nothing is written, and the book that was
  // there stays as it was.
  const std::string before = ReadWholeFile(dir_.File("book.bin"));
  bool written = true;
  EXPECT_EQ(RunBuildBook(dir_.File("games.pgn").c_str(), dir_.File("book.bin").c_str(), 10, 3, &written), 1);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadWholeFile(dir_.File("book.bin")), before);
}

TEST_F(BookBuilderTest, MaximumPlyCountsHalfMoves) {
  const std::string pgn = Game("1-0", "1. e4 e5 2. Nf3 Nc6 3. Bb5 *");
  // Each maximum keeps that many half-moves of the game, from its start.
  for (i32 maxPly = 0; maxPly <= 6; ++maxPly)
    EXPECT_EQ(Build(pgn, maxPly, 1).entries.size(), static_cast<size_t>(std::min(maxPly, 5)))
        << maxPly;
  const Book two = Build(pgn, 2, 1);
  ASSERT_EQ(two.entries.size(), 2u);
  EXPECT_EQ(Of(two, Start().key).at(0).move, E4);
  EXPECT_EQ(Of(two, After({{"e2", "e4"}}).key).at(0).move, E5);
  // A game from a position with Black to move starts with Black's move.
  const Book black = Build(
      "[Event \"t\"]\n[FEN \"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1\"]\n\n"
      "1... e5 2. Nf3 *\n",
      1, 1);
  ASSERT_EQ(black.entries.size(), 1u);
  EXPECT_EQ(black.entries[0].move, E5);
}

TEST_F(BookBuilderTest, EntriesOfOnePositionComeBestFirstWhateverTheirCount) {
  const Book book = Build(Game("1-0", "1. e4 *") + Game("0-1", "1. d4 *") + Game("0-1", "1. d4 *") +
                              Game("0-1", "1. d4 *") + Game("1/2-1/2", "1. c4 *") +
                              Game("1/2-1/2", "1. c4 *") + Game("1-0", "1. c4 *"),
                          10, 1);
  const std::vector<BookEntry> start = Of(book, Start().key);
  ASSERT_EQ(start.size(), 3u);
  EXPECT_EQ(start[0].move, C4);
  EXPECT_EQ(start[0].points, 4);
  EXPECT_EQ(start[1].move, E4);
  EXPECT_EQ(start[1].points, 2);
  EXPECT_EQ(start[2].move, D4);
  EXPECT_EQ(start[2].count, 3);
  EXPECT_EQ(start[2].points, 0);
}

TEST_F(BookBuilderTest, KeysSortAsUnsignedNumbers) {
  // Black's replies to each of White's twenty first moves: twenty keys,
  // some with the top bit set.
  std::string pgn;
  Board start = Start();
  for (const Move m : LegalMoves(start)) {
    Board b = start;
    UndoInfo undo;
    b.MakeMove(m, undo);
    const std::vector<Move> replies = LegalMoves(b);
    pgn += Game("1-0", "1. " + OpeningSan(m) + " " + OpeningSan(replies[0]) + " *");
  }
  const Book book = Build(pgn, 10, 1);
  ASSERT_EQ(book.entries.size(), 40u);
  bool high = false, low = false;
  for (const BookEntry& e : book.entries) (e.key >> 63 ? high : low) = true;
  ASSERT_TRUE(high && low);
  EXPECT_TRUE(std::is_sorted(book.entries.begin(), book.entries.end(),
                             [](const BookEntry& a, const BookEntry& b) { return a.key < b.key; }));
}

TEST_F(BookBuilderTest, EndSortsTheTableIntoFileOrder) {
  // Entries written straight into the table: keys with and without the top
  // bit, equal keys with different points, rare entries and free slots.
  const std::string bookFile = dir_.File("direct.bin");
  BookBuilder builder(bookFile, 2, 10);
  Board board = Start();
  PgnParser parser("unused.pgn", 0, &board, &builder);
  builder.Begin(parser);
  ASSERT_NE(builder.table, nullptr);
  EXPECT_EQ(builder.entrySize, 16u);
  EXPECT_EQ(builder.capacity, 1048576u);
  EXPECT_EQ(builder.mask, 0xFFFFFu);
  const BookEntry entries[] = {
      {0x8000000000000001ull, 11, 5, 1}, {0x7fffffffffffffffull, 12, 2, 0},
      {0x0000000000000005ull, 13, 3, 1}, {0xffffffffffffffffull, 14, 9, 9},
      {0x0000000000000005ull, 15, 2, 4}, {0x0000000000000005ull, 16, 1, 9},  // count 1: dropped
      {0x0000000000000005ull, 17, 4, 2},
  };
  u32 slot = 77;
  for (const BookEntry& e : entries) builder.table[slot += 1000] = e;
  builder.End(parser);
  EXPECT_EQ(builder.table, nullptr);
  const Book book = ReadBook(bookFile);
  std::vector<Move> order;
  for (const BookEntry& e : book.entries) order.push_back(e.move);
  EXPECT_EQ(order, (std::vector<Move>{15, 17, 13, 12, 11, 14}));
  EXPECT_EQ(book.count, 6u);
}

TEST_F(BookBuilderTest, CountsAndPointsStopAtTheirLimit) {
  const std::string bookFile = dir_.File("saturated.bin");
  BookBuilder builder(bookFile, 1, 10);
  Board board = After({{"e2", "e4"}});  // the move is made: Black to move
  PgnParser parser("unused.pgn", 0, &board, &builder);
  builder.Begin(parser);
  builder.result = 1;
  for (i32 game = 0; game < 70000; ++game) {
    builder.previousKey = 0x1234;
    builder.OnMove(parser, MoveToken{}, E4, nullptr);
  }
  // Points alone reach the limit first.
  builder.result = 0;
  for (i32 game = 0; game < 10; ++game) {
    builder.previousKey = 0x5678;
    builder.OnMove(parser, MoveToken{}, D4, nullptr);
  }
  builder.End(parser);
  const Book book = ReadBook(bookFile);
  ASSERT_EQ(book.entries.size(), 2u);
  EXPECT_EQ(book.entries[0].count, 65535);
  EXPECT_EQ(book.entries[0].points, 65535);
  EXPECT_EQ(book.entries[1].count, 10);
  EXPECT_EQ(book.entries[1].points, 10);
}

TEST_F(BookBuilderTest, TableGrowsAndKeepsEveryPair) {
  // A table that starts at four slots: it grows many times over the games,
  // and every pair keeps its count and points.
  TableAllocation small(4, BookTableCapacity);
  std::mt19937 rng(2024);
  const char* const results[] = {"1-0", "0-1", "1/2-1/2"};
  std::map<std::pair<u64, Move>, std::pair<u32, u32>> expected;  // count, points
  std::string pgn;
  for (i32 game = 0; game < ForTarget(60, 20); ++game) {
    const i32 result = game % 3;
    Board b = Start();
    std::string moves;
    for (i32 ply = 0; ply < 40; ++ply) {
      const std::vector<Move> legal = LegalMoves(b);
      if (legal.empty()) break;
      const Move m = legal[rng() % legal.size()];
      char san[SanTextSize];
      MoveToSan(b, m, san);
      if (ply % 2 == 0) moves += std::to_string(ply / 2 + 1) + ". ";
      moves += std::string(san) + " ";
      std::pair<u32, u32>& pair = expected[{b.key, m}];
      pair.first += 1;
      pair.second += result == 2 ? 1 : (result == 0) == (b.sideToMove == White) ? 2 : 0;
      UndoInfo undo;
      b.MakeMove(m, undo);
    }
    pgn += Game(results[result], moves + "*");
  }
  ErrorLogCapture log;
  i32 result = 0;
  const Book book = Build(pgn, 100, 1, &result);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(log.Messages().empty()) << log.Messages().at(0);
  ASSERT_EQ(book.entries.size(), expected.size());
  for (const BookEntry& e : book.entries) {
    const auto found = expected.find({e.key, e.move});
    ASSERT_NE(found, expected.end()) << MoveText(e.move);
    EXPECT_EQ(e.count, found->second.first);
    EXPECT_EQ(e.points, found->second.second);
  }
}

TEST_F(BookBuilderTest, MovesThatFindNoRoomAreToldAndTheBookIsIncomplete) {
  // A table of 64 slots that can grow once, to 128: the first 96 pairs
  // (three quarters) find room, the moves of every later pair are dropped.
  TableAllocation small(64, 128);
  std::mt19937 rng(77);
  std::map<std::pair<u64, Move>, std::pair<u32, u32>> kept;  // count, points
  u32 dropped = 0;
  std::string pgn;
  for (i32 game = 0; game < 5; ++game) {
    Board b = Start();
    std::string moves;
    for (i32 ply = 0; ply < 30; ++ply) {
      const std::vector<Move> legal = LegalMoves(b);
      if (legal.empty()) break;
      // Each game opens with the same two moves, so that kept pairs come again.
      const Move m = ply < 2 ? legal[0] : legal[rng() % legal.size()];
      char san[SanTextSize];
      MoveToSan(b, m, san);
      if (ply % 2 == 0) moves += std::to_string(ply / 2 + 1) + ". ";
      moves += std::string(san) + " ";
      const auto found = kept.find({b.key, m});
      if (found != kept.end())
        found->second.first += 1, found->second.second += 1;
      else if (kept.size() < 96)
        kept[{b.key, m}] = {1, 1};
      else
        ++dropped;
      UndoInfo undo;
      b.MakeMove(m, undo);
    }
    pgn += Game("", moves + "*");
  }
  ASSERT_GT(dropped, 0u);
  const std::string pgnFile = dir_.Write("games.pgn", pgn);
  const std::string bookFile = dir_.File("book.bin");
  ErrorLogCapture log;
  testing::internal::CaptureStderr();
  bool complete = true;
  EXPECT_EQ(RunBuildBook(pgnFile.c_str(), bookFile.c_str(), 100, 1, &complete), 1);
  const std::string told = "build opening book : not enough memory, " + std::to_string(dropped) +
                           " moves dropped (no room for their position-move pairs)";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), told + "\n");
  // The tool ends with status 1: the book lacks moves.
  EXPECT_FALSE(complete);
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{
                "build opening book : not enough memory for more than 96 entries", told}));
  // The book holds the pairs that found room, each with all its games.
  const Book book = ReadBook(bookFile);
  ASSERT_EQ(book.entries.size(), kept.size());
  for (const BookEntry& e : book.entries) {
    const auto found = kept.find({e.key, e.move});
    ASSERT_NE(found, kept.end()) << MoveText(e.move);
    EXPECT_EQ(e.count, found->second.first);
    EXPECT_EQ(e.points, found->second.second);
  }
}

TEST_F(BookBuilderTest, MissingPgnWritesNoBook) {
  ErrorLogCapture log;
  const std::string missing = dir_.File("missing.pgn");
  EXPECT_EQ(RunBuildBook(missing.c_str(), dir_.File("book.bin").c_str(), 10, 1), 0);
  EXPECT_FALSE(FileExists(dir_.File("book.bin")));
  EXPECT_EQ(log.Messages(),
            std::vector<std::string>{"Chess PGN : File not found \"" + missing + "\""});
}

TEST_F(BookBuilderTest, UnwritableBookIsLogged) {
  ErrorLogCapture log;
  const std::string pgn = dir_.Write("games.pgn", Game("1-0", "1. e4 *"));
  const std::string nowhere = dir_.File("no/such/dir/book.bin");
  EXPECT_EQ(RunBuildBook(pgn.c_str(), nowhere.c_str(), 10, 1), 1);
  std::vector<std::string> expected = {"error saving book file : " + nowhere + " (No such file or directory)"};
  // A device is no book file: it is refused before the games are read.
  if (FileExists("/dev/full")) {
    EXPECT_EQ(RunBuildBook(pgn.c_str(), "/dev/full", 10, 1), 0);
    expected.push_back("error saving book file : /dev/full (not a regular file)");
  }
  EXPECT_EQ(log.Messages(), expected);
}

TEST_F(BookBuilderTest, IllegalMoveEndsTheGameButEarlierMovesCount) {
  const Book book = Build(Game("1-0", "1. e4 e5 2. Ke3 Nc6 *") + Game("1-0", "1. d4 *"), 10, 1);
  EXPECT_EQ(book.entries.size(), 3u);  // e4, e5, d4
}

TEST_F(BookBuilderTest, FailedTableAllocationIsOutOfMemoryAndWritesNoBook) {
  TableAllocation none(BookTableCapacity, 0);
  const std::string pgn = dir_.Write("games.pgn", Game("1-0", "1. e4 *"));
  const std::string bookFile = dir_.File("book.bin");
  ErrorLogCapture log;
  testing::internal::CaptureStderr();
  bool complete = true;
  RunBuildBook(pgn.c_str(), bookFile.c_str(), 10, 1, &complete);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "build opening book : not enough memory for the table of positions, no book written\n");
  EXPECT_FALSE(complete);
  EXPECT_FALSE(FileExists(bookFile));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"Chess PGN : Out of memory"});
}

TEST_F(BookBuilderTest, EcoCollectionGivesASortedBookOfLegalMoves) {
  if (!FileExists(EcoFile)) GTEST_SKIP() << EcoFile << " missing (package pgn-extract)";
  const std::string bookFile = dir_.File("eco.bin");
  ASSERT_EQ(RunBuildBook(EcoFile, bookFile.c_str(), 40, 1), 1);
  const Book book = ReadBook(bookFile);
  ASSERT_TRUE(book.valid);
  EXPECT_EQ(book.count, book.entries.size());
  EXPECT_GT(book.entries.size(), 3000u);
  EXPECT_TRUE(std::is_sorted(book.entries.begin(), book.entries.end(), BookEntryBefore));
  // The start position's entries are legal moves of the start position,
  // each once, as the move generator writes them.
  const std::vector<Move> legal = LegalMoves(Start());
  const std::vector<BookEntry> start = Of(book, Start().key);
  EXPECT_GE(start.size(), 15u);
  std::vector<Move> seen;
  for (const BookEntry& e : start) {
    EXPECT_NE(std::find(legal.begin(), legal.end(), e.move), legal.end()) << MoveText(e.move);
    EXPECT_EQ(std::find(seen.begin(), seen.end(), e.move), seen.end());
    seen.push_back(e.move);
    EXPECT_EQ(e.points, e.count);  // no results: every game counts as a draw
  }
}
