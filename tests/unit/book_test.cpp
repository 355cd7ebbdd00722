#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "engine/book.h"
#include "engine_helpers.h"
#include "file_helpers.h"

namespace {

std::vector<BookEntry> Entries(std::initializer_list<std::pair<u64, Move>> list) {
  std::vector<BookEntry> entries;
  u16 points = 100;
  for (const auto& item : list) entries.push_back(BookEntry{item.first, item.second, 1, points--});
  return entries;
}

}  // namespace

TEST(BookTest, BisectionFindsTheFirstEntryOfAKey) {
  const auto entries = Entries({{1, 10}, {5, 50}, {5, 51}, {5, 52}, {9, 90},
                                {0x8000000000000000ull, 7}, {0xFFFFFFFFFFFFFFFFull, 8}});
  const i32 n = static_cast<i32>(entries.size());
  EXPECT_EQ(FindBookKey(entries.data(), n, 1), 0);
  EXPECT_EQ(FindBookKey(entries.data(), n, 5), 1);
  EXPECT_EQ(FindBookKey(entries.data(), n, 9), 4);
  // Keys with the top bit set sort last (unsigned order).
  EXPECT_EQ(FindBookKey(entries.data(), n, 0x8000000000000000ull), 5);
  EXPECT_EQ(FindBookKey(entries.data(), n, 0xFFFFFFFFFFFFFFFFull), 6);
  EXPECT_EQ(FindBookKey(entries.data(), n, 0), -1);
  EXPECT_EQ(FindBookKey(entries.data(), n, 6), -1);
  EXPECT_EQ(FindBookKey(entries.data(), 0, 1), -1);
}

TEST(BookTest, SelectivityWalksTheEntriesOfOneKey) {
  const auto entries = Entries({{3, 1}, {5, 50}, {5, 51}, {5, 52}, {6, 60}});
  const i32 n = static_cast<i32>(entries.size());
  std::srand(12345);
  // 100 always takes the best-scored entry.
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ChooseBookEntry(entries.data(), n, 1, 100), 1);
  // 1 almost always walks to the last entry of the key, never beyond it.
  int last = 0;
  for (int i = 0; i < 200; ++i) {
    const i32 chosen = ChooseBookEntry(entries.data(), n, 1, 1);
    EXPECT_GE(chosen, 1);
    EXPECT_LE(chosen, 3);
    last += chosen == 3;
  }
  EXPECT_GT(last, 180);
  // 50 spreads the choice: the first about half of the time.
  int first = 0;
  for (int i = 0; i < 2000; ++i) first += ChooseBookEntry(entries.data(), n, 1, 50) == 1;
  EXPECT_GT(first, 850);
  EXPECT_LT(first, 1150);
  // A single entry is taken whatever the draw.
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ChooseBookEntry(entries.data(), n, 4, 1), 4);
}

// The engine's side of the book: loading a file and playing from it in Think.
class EngineBookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    engine_ = MakeEngine(&listener_);
    SetDepthLimit(*engine_, 3);
  }

  // The move word the game record makes of a coordinate text, or 0.
  Move MoveWord(const char* text) {
    Engine& e = *engine_;
    if (!e.ParseAndMakeMove(text)) return 0;
    const Move m = e.gameHistory.back().move;
    e.UndoMove();
    return m;
  }

  std::string WriteBook(const std::string& name, const std::vector<BookEntry>& entries) {
    std::string bytes(BookHeaderBytes + entries.size() * BookEntryBytes, '\0');
    u8* out = reinterpret_cast<u8*>(&bytes[0]);
    EncodeBookHeader(static_cast<u32>(entries.size()), out);
    for (std::size_t i = 0; i < entries.size(); ++i)
      EncodeBookEntry(entries[i], out + BookHeaderBytes + i * BookEntryBytes);
    return dir_.Write(name, bytes);
  }

  TempDir dir_;
  RecordingListener listener_;
  std::unique_ptr<Engine> engine_;
};

TEST_F(EngineBookTest, ABookMoveIsPlayedWithoutASearch) {
  Engine& e = *engine_;
  // A move no search would choose, so that only the book can name it.
  const Move book = MoveWord("g1h3");
  ASSERT_NE(book, 0u);
  ASSERT_TRUE(e.LoadBook(WriteBook("one.bin", {{e.board.key, book, 1, 2}})));
  EXPECT_EQ(e.bookPlyLimit, 20);
  EXPECT_EQ(e.bookCount, 1);
  for (i32 selectivity : {1, 50, 100}) {
    e.NewGame();
    listener_.reports.clear();
    e.bookSelectivity = selectivity;
    e.Think(0);
    EXPECT_EQ(e.bestMove, book) << selectivity;
    EXPECT_EQ(e.limits.depthReached, 1);
    EXPECT_EQ(e.stopReason, StopNormal);
    EXPECT_EQ(e.mainContext.nodes, 0u);
    ASSERT_EQ(e.gameHistory.size(), 1u);
    EXPECT_EQ(e.gameHistory.back().move, book);
    // Only the end of the search is reported.
    ASSERT_EQ(listener_.reports.size(), 1u);
    EXPECT_EQ(listener_.reports[0].kind, "done");
    EXPECT_EQ(listener_.reports[0].score, StopNormal);
  }
}

TEST_F(EngineBookTest, AnAnalysisSearchesAPositionOfTheBook) {
  // An infinite search (UCI "go infinite", XBoard "analyze") runs until it
  // is stopped; a book move would end it at once. Here the first line it
  // reports stops it.
  Engine& e = *engine_;
  const Move book = MoveWord("g1h3");
  ASSERT_TRUE(e.LoadBook(WriteBook("one.bin", {{e.board.key, book, 1, 2}})));
  e.bookSelectivity = 100;
  e.limits.mode = ModeInfinite;
  listener_.onPv = [&e](const RecordingListener::Report&) { e.stopReason = StopNormal; };
  e.Think(0);
  EXPECT_GT(e.mainContext.nodes, 0u);
  EXPECT_NE(e.bestMove, book);
  EXPECT_TRUE(e.gameHistory.empty());
  ASSERT_FALSE(listener_.Of("pv").empty());
}

TEST_F(EngineBookTest, TheBookIsProbedInTheFirstTwentyPliesOnly) {
  Engine& e = *engine_;
  // Knights out and back: after 20 plies the start position is back.
  const char* twenty = "g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 "
                       "f3g1 f6g8 g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1 f6g8";
  const Move book = MoveWord("g1h3");
  ASSERT_TRUE(e.LoadBook(WriteBook("one.bin", {{e.board.key, book, 1, 2}})));
  ASSERT_TRUE(e.PlayMoveList("g1f3 g8f6 f3g1 f6g8"));
  EXPECT_EQ(e.ProbeBook(), book);
  e.NewGame();
  ASSERT_TRUE(e.PlayMoveList(twenty));
  ASSERT_EQ(e.gameHistory.size(), 20u);
  EXPECT_EQ(e.ProbeBook(), 0u);
  SetDepthLimit(e, 3);
  e.Think(0);
  EXPECT_NE(e.bestMove, book);
  EXPECT_GT(e.mainContext.nodes, 0u);
}

TEST_F(EngineBookTest, AnIllegalBookMoveIsIgnored) {
  Engine& e = *engine_;
  const u64 startKey = e.board.key;
  // A move word for this position that is not among its legal moves: the
  // king's double step written as an ordinary king move.
  const Move wrong = EncodeMove(4, 6, King, NoPiece, NoPiece, 0);
  ASSERT_TRUE(e.LoadBook(WriteBook("bad.bin", {{startKey, wrong, 5, 10}})));
  EXPECT_EQ(e.ProbeBook(), wrong);
  e.Think(0);
  EXPECT_NE(e.bestMove, 0u);
  EXPECT_NE(e.bestMove, wrong);
  EXPECT_EQ(e.limits.depthReached, 3);
}

TEST_F(EngineBookTest, AFailedLoadSwitchesTheBookOff) {
  Engine& e = *engine_;
  const Move book = MoveWord("g1h3");
  ASSERT_TRUE(e.LoadBook(WriteBook("good.bin", {{e.board.key, book, 1, 2}})));
  // Announces two records and holds one.
  std::string truncated = ReadWholeFile(dir_.File("good.bin"));
  truncated[8] = 2;
  const std::string shortFile = dir_.Write("short.bin", truncated);
  std::string version = ReadWholeFile(dir_.File("good.bin"));
  version[6] = 3;
  const std::string versionFile = dir_.Write("version.bin", version);
  {
    ErrorLogCapture log;
    EXPECT_FALSE(e.LoadBook(dir_.File("missing.bin")));
    const auto messages = log.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "book file not found : " + dir_.File("missing.bin"));
  }
  // A named pipe without a writer is refused at once instead of stalling.
  const std::string pipe = dir_.File("pipe.bin");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& file : {shortFile, versionFile, dir_.Write("empty.bin", ""), pipe}) {
    ASSERT_TRUE(e.LoadBook(dir_.File("good.bin")));
    EXPECT_FALSE(e.LoadBook(file)) << file;
    EXPECT_EQ(e.bookEnabled, 0);
    // The old entries stay but are not used.
    EXPECT_EQ(e.bookCount, 1);
    EXPECT_EQ(e.ProbeBook(), 0u);
  }
  // A book without entries is the bare header, and it has no moves.
  ASSERT_TRUE(e.LoadBook(WriteBook("none.bin", {})));
  EXPECT_EQ(ReadWholeFile(dir_.File("none.bin")).size(), BookHeaderBytes);
  EXPECT_EQ(e.bookCount, 0);
  EXPECT_EQ(e.ProbeBook(), 0u);
}

TEST_F(EngineBookTest, ABookLargerThanTheMemoryLeftIsRefused) {
  // The memory for the entries cannot be had: the book is refused as too
  // large and switched off, and the engine goes on.
  struct NoMemory {
    NoMemory() : saved(Engine::sizeBookEntries) {
      Engine::sizeBookEntries = [](std::vector<BookEntry>&, u32) { throw std::bad_alloc(); };
    }
    ~NoMemory() { Engine::sizeBookEntries = saved; }
    void (*saved)(std::vector<BookEntry>&, u32);
  };
  Engine& e = *engine_;
  const Move book = MoveWord("g1h3");
  const std::string file = WriteBook("large.bin", {{e.board.key, book, 1, 2}});
  ASSERT_TRUE(e.LoadBook(file));
  BookLoad outcome = BookLoad::Loaded;
  {
    NoMemory noMemory;
    ErrorLogCapture log;
    EXPECT_FALSE(e.LoadBook(file, &outcome));
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"book file too large : " + file + " (1 entries)"});
  }
  EXPECT_EQ(outcome, BookLoad::TooLarge);
  EXPECT_EQ(e.bookEnabled, 0);
  EXPECT_EQ(e.ProbeBook(), 0u);
  ASSERT_TRUE(e.LoadBook(file));
  EXPECT_EQ(e.ProbeBook(), book);
}
