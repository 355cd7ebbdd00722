#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/book.h"
#include "engine/engine.h"
#include "file_helpers.h"
#include "protocol/protocol_manager.h"
#include "protocol/uci.h"
#include "protocol/xboard.h"

namespace {

std::string Text(ProtocolManager& manager, std::initializer_list<Move> moves) {
  Move list[8];
  i32 count = 0;
  for (Move m : moves) list[count++] = m;
  char out[8 * 6 + 1];
  manager.MovesToString(list, count, out);
  return out;
}

}  // namespace

TEST(ProtocolTest, MoveListsInCoordinateText) {
  ProtocolManager manager;
  Engine engine;
  manager.engine = &engine;
  const Move whiteShort = EncodeMove(4, 7, King, 0, 0, MoveFlagCastle);
  const Move whiteLong = EncodeMove(4, 0, King, 0, 0, MoveFlagCastle);
  const Move blackShort = EncodeMove(60, 63, King, 0, 0, MoveFlagCastle);
  const Move blackLong = EncodeMove(60, 56, King, 0, 0, MoveFlagCastle);
  const Move promotion = EncodeMove(52, 60, Pawn, 0, Knight);
  const Move capturePromotion = EncodeMove(9, 0, Pawn, Rook, Queen);
  EXPECT_EQ(Text(manager, {}), "");
  EXPECT_EQ(Text(manager, {EncodeMove(12, 28, Pawn)}), "e2e4");
  EXPECT_EQ(Text(manager, {whiteShort, whiteLong, blackShort, blackLong}), "e1g1 e1c1 e8g8 e8c8");
  EXPECT_EQ(Text(manager, {promotion, capturePromotion}), "e7e8n b2a1q");
  // Chess960: castling is the king taking its own rook.
  engine.board.chess960 = 1;
  EXPECT_EQ(Text(manager, {whiteShort, blackLong}), "e1h1 e8a8");
  const Move otherRook = EncodeMove(1, 2, King, 0, 0, MoveFlagCastle);
  engine.board.chess960 = 0;
  EXPECT_EQ(Text(manager, {otherRook}), "b1c1");
  manager.engine = nullptr;
}

TEST(ProtocolTest, UciScores) {
  const char* kind;
  i32 value;
  UciScore(31995, &kind, &value);
  EXPECT_STREQ(kind, "mate");
  EXPECT_EQ(value, 3);
  UciScore(-31996, &kind, &value);
  EXPECT_STREQ(kind, "mate");
  EXPECT_EQ(value, -2);
  UciScore(31999, &kind, &value);
  EXPECT_EQ(value, 1);
  UciScore(31743, &kind, &value);
  EXPECT_STREQ(kind, "cp");
  EXPECT_EQ(value, 31743);
  UciScore(-31743, &kind, &value);
  EXPECT_STREQ(kind, "cp");
  EXPECT_EQ(value, -31743);
}

TEST(ProtocolTest, CoordinateMoveLines) {
  EXPECT_TRUE(IsCoordinateMove("e2e4"));
  EXPECT_TRUE(IsCoordinateMove("a7a8q"));
  EXPECT_TRUE(IsCoordinateMove("h1h8 and more"));
  EXPECT_FALSE(IsCoordinateMove("e2e"));
  EXPECT_FALSE(IsCoordinateMove("e2e9"));
  EXPECT_FALSE(IsCoordinateMove("i2e4"));
  EXPECT_FALSE(IsCoordinateMove(""));
  EXPECT_FALSE(IsCoordinateMove("go"));
}

// ---------------------------------------------------------------------------
// Commands handled without a search: a "go" only files its request, which no
// main thread takes here, so the limits it leaves can be read.

namespace {

struct Handlers {
  Handlers() {
    engine.Init(1);
    engine.board.SetStartPosition();
    manager.engine = &engine;
  }
  ~Handlers() {
    engine.Shutdown();
    manager.engine = nullptr;
  }
  ProtocolManager manager;
  Engine engine;
};

}  // namespace

TEST(ProtocolTest, UciGoTokensSetTheLimitsAndKeepTheRest) {
  Handlers h;
  UciProtocol uci(&h.manager);
  uci.Start();
  SearchLimits& limits = h.engine.limits;

  uci.ProcessCommand("go wtime 60000 btime 50000 winc 1000 binc 900");
  EXPECT_EQ(limits.mode, ModeClock);
  EXPECT_EQ(limits.clock[White], 60000.0f);
  EXPECT_EQ(limits.clock[Black], 50000.0f);
  EXPECT_EQ(limits.increment[White], 1000);
  EXPECT_EQ(limits.increment[Black], 900);
  EXPECT_EQ(h.manager.searchPending, 1);
  EXPECT_EQ(h.manager.searchRequestPonder, 0);

  // A later "go" changes only what its tokens name, but increments and
  // moves to go hold for their own "go" alone.
  uci.ProcessCommand("go depth 6");
  EXPECT_EQ(limits.mode, ModeDepth);
  EXPECT_EQ(limits.depthLimit, 6);
  EXPECT_EQ(limits.clock[White], 60000.0f);
  uci.ProcessCommand("go ponder");
  EXPECT_EQ(limits.mode, ModeDepth);
  EXPECT_EQ(limits.depthLimit, 6);
  EXPECT_EQ(h.manager.ponderRequested, 1);
  EXPECT_EQ(h.manager.searchRequestPonder, 1);

  uci.ProcessCommand("go movetime 2000");
  EXPECT_EQ(limits.mode, ModeMoveTime);
  EXPECT_EQ(limits.moveTime, 2000000);
  EXPECT_EQ(h.manager.ponderRequested, 0);
  uci.ProcessCommand("go movetime -5");
  EXPECT_EQ(limits.moveTime, 0);
  uci.ProcessCommand("go depth 0");
  EXPECT_EQ(limits.depthLimit, 1);
  uci.ProcessCommand("go depth 500");
  EXPECT_EQ(limits.depthLimit, 127);
  uci.ProcessCommand("go nodes -5");
  EXPECT_EQ(limits.mode, ModeNodes);
  EXPECT_EQ(limits.nodeLimit, 0u);
  uci.ProcessCommand("go nodes 12345");
  EXPECT_EQ(limits.nodeLimit, 12345u);

  uci.ProcessCommand("go movestogo 7 unknown 99 winc 5");
  EXPECT_EQ(limits.mode, ModeClock);
  EXPECT_EQ(limits.movesToGo, 7);
  EXPECT_EQ(limits.increment[White], 5);
  // Every "go" starts without moves to go and increments.
  uci.ProcessCommand("go depth 3");
  EXPECT_EQ(limits.movesToGo, 0);
  EXPECT_EQ(limits.increment[White], 0);
  // An increment of an earlier "go" would spend most of a small clock: 300 ms
  // without one give 300 x 25 microseconds, doubled in the first search.
  uci.ProcessCommand("go wtime 1000 btime 1000 winc 5000 binc 5000");
  uci.ProcessCommand("go wtime 300 btime 300");
  EXPECT_EQ(limits.increment[White], 0);
  EXPECT_EQ(limits.increment[Black], 0);
  EXPECT_EQ(SearchTimeLimit(limits, White), 15000u);

  EXPECT_EQ(h.manager.infiniteSearch, 0);
  uci.ProcessCommand("go infinite");
  EXPECT_EQ(limits.mode, ModeInfinite);
  EXPECT_EQ(h.manager.infiniteSearch, 1);
}

TEST(ProtocolTest, UciPositionAndOptions) {
  Handlers h;
  UciProtocol uci(&h.manager);
  uci.Start();
  ASSERT_TRUE(h.engine.SetFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"));
  const u64 key = h.engine.board.key;
  // "startpos" followed by anything but "moves" changes nothing.
  uci.ProcessCommand("position startpos e2e4");
  uci.ProcessCommand("position somewhere");
  EXPECT_EQ(h.engine.board.key, key);
  uci.ProcessCommand("position startpos");
  Board start{};
  start.SetStartPosition();
  EXPECT_EQ(h.engine.board.key, start.key);
  // An empty move list is the start position alone.
  ASSERT_TRUE(h.engine.SetFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"));
  uci.ProcessCommand("position startpos moves");
  EXPECT_EQ(h.engine.board.key, start.key);

  uci.ProcessCommand("setoption name MultiPV value 40");
  EXPECT_EQ(h.engine.multiPv, 32);
  uci.ProcessCommand("setoption name MultiPV value 0");
  EXPECT_EQ(h.engine.multiPv, 1);
  uci.ProcessCommand("setoption name MultiPV value 3");
  EXPECT_EQ(h.engine.multiPv, 3);
  uci.ProcessCommand("setoption name MultiPV 5");  // no "value": nothing
  EXPECT_EQ(h.engine.multiPv, 3);

  uci.ProcessCommand("setoption name NullMovePruning value false");
  EXPECT_EQ(h.engine.limits.nullMovePruning, 0);
  uci.ProcessCommand("setoption name NullMovePruning value true");
  EXPECT_EQ(h.engine.limits.nullMovePruning, 1);
  uci.ProcessCommand("setoption name LateMoveReduction value TRUE");  // only "true" is true
  EXPECT_EQ(h.engine.limits.lateMoveReductions, 0);

  uci.ProcessCommand("setoption name UCI_Chess960 value true");
  EXPECT_EQ(h.engine.board.chess960, 1);
  uci.ProcessCommand("setoption name UCI_Chess960 value false");
  EXPECT_EQ(h.engine.board.chess960, 0);

  uci.ProcessCommand("setoption name Ponder value true");
  EXPECT_EQ(h.manager.ponderOption, 1);
  EXPECT_EQ(h.engine.ponderEnabled, 1);
  uci.ProcessCommand("setoption name Ponder value false");
  EXPECT_EQ(h.manager.ponderOption, 0);
  EXPECT_EQ(h.engine.ponderEnabled, 0);

  uci.ProcessCommand("setoption name UCI_LimitStrength value true");
  uci.ProcessCommand("setoption name UCI_Elo value 1500");
  EXPECT_EQ(h.engine.elo, 1500);
  uci.ProcessCommand("setoption name UCI_Elo value 99999");
  EXPECT_EQ(h.engine.elo, 2700);

  uci.ProcessCommand("setoption name DrawScore value -30");
  EXPECT_EQ(drawScore, -30);
  uci.ProcessCommand("setoption name DrawScore value 0");
  EXPECT_EQ(drawScore, 0);

  uci.ProcessCommand("debug on");
  EXPECT_EQ(uci.debug, 1);
  uci.ProcessCommand("debug off");
  EXPECT_EQ(uci.debug, 0);
  EXPECT_EQ(uci.ProcessCommand("no such command"), 1);
  EXPECT_EQ(uci.ProcessCommand("quit"), 0);
}

TEST(ProtocolTest, UciOwnBookTakesTheConfiguredSelectivity) {
  Handlers h;
  TempDir dir;
  u8 header[BookHeaderBytes];
  EncodeBookHeader(0, header);
  h.manager.BookFile = dir.Write("book.bin", std::string(reinterpret_cast<char*>(header), sizeof header));
  h.manager.settings.BookSelectivity = 1;  // from "zorvel.ini", with "Book" off
  UciProtocol uci(&h.manager);
  uci.Start();
  uci.ProcessCommand("setoption name OwnBook value true");
  EXPECT_EQ(h.manager.settings.Book, 1);
  EXPECT_EQ(h.engine.bookEnabled, 1);
  EXPECT_EQ(h.engine.bookSelectivity, 1);
}

// Every way of switching the strength limit off lifts its node-rate cap, and
// switching it on again restores the cap of the Elo asked for.
TEST(ProtocolTest, StrengthLimitSwitchesOnAndOff) {
  TempDir dir;
  ASSERT_TRUE(dir.Ok());
  {
    Handlers h;
    UciProtocol uci(&h.manager);
    uci.Start();
    const u64& cap = h.engine.limits.npsLimit;
    uci.ProcessCommand("setoption name UCI_LimitStrength value true");
    uci.ProcessCommand("setoption name UCI_Elo value 1500");
    EXPECT_EQ(cap, 150000u);
    uci.ProcessCommand("setoption name UCI_LimitStrength value false");
    EXPECT_EQ(cap, 0u);
    EXPECT_EQ(h.engine.strengthLimited, 0);
    uci.ProcessCommand("setoption name UCI_Elo value 2200");  // kept for later
    EXPECT_EQ(cap, 0u);
    uci.ProcessCommand("setoption name UCI_LimitStrength value true");
    EXPECT_EQ(cap, 400000u);
    EXPECT_EQ(h.engine.elo, 2200);
    uci.ProcessCommand("ucinewgame");
    EXPECT_EQ(cap, 400000u);
    uci.ProcessCommand("setoption name UCI_Elo value 2700");
    EXPECT_EQ(cap, 0u);
    EXPECT_EQ(h.engine.strengthLimited, 0);
    uci.ProcessCommand("ucinewgame");
    EXPECT_EQ(cap, 0u);

    // A personality's "ReduceSpeed" caps the speed while it is in use, and
    // the Elo's cap comes back when it is switched off.
    h.manager.PersonalityFile = dir.Write("slow.txt", "ReduceSpeed=30000\n");
    uci.ProcessCommand("setoption name UCI_Elo value 2050");
    EXPECT_EQ(cap, 200000u);
    uci.ProcessCommand("setoption name UsePersonality value true");
    EXPECT_EQ(cap, 30000u);
    uci.ProcessCommand("setoption name UsePersonality value false");
    EXPECT_EQ(cap, 200000u);
    uci.ProcessCommand("setoption name UsePersonality value true");
    uci.ProcessCommand("setoption name UCI_Elo value 1500");  // full strength with a personality
    EXPECT_EQ(cap, 30000u);
    EXPECT_EQ(h.engine.strengthLimited, 0);
    // A file that cannot be read leaves no personality in use: the last Elo
    // taken (2050; 1500 came while the personality was in use) applies.
    uci.ProcessCommand(("setoption name PersonalityFile value " + dir.File("missing.txt")).c_str());
    EXPECT_EQ(h.engine.personality.active, 0);
    EXPECT_EQ(cap, 200000u);
    EXPECT_EQ(h.engine.strengthLimited, 1);
    uci.ProcessCommand("setoption name UsePersonality value false");  // built-in weights again
    EXPECT_EQ(cap, 200000u);
    uci.ProcessCommand("setoption name UCI_LimitStrength value false");
    EXPECT_EQ(cap, 0u);
  }
  {
    // XBoard takes the limit from the configuration at each set-up.
    Handlers h;
    XBoardProtocol xboard(&h.manager);
    xboard.Start();
    Settings& settings = h.manager.settings;
    settings.Hash = 1;
    settings.UseStrength = 1;
    settings.StrengthELO = 1500;
    xboard.ProcessCommand("xboard");
    EXPECT_EQ(h.engine.limits.npsLimit, 150000u);
    settings.StrengthELO = 2700;
    xboard.ProcessCommand("xboard");
    EXPECT_EQ(h.engine.limits.npsLimit, 0u);
    settings.StrengthELO = 1500;
    xboard.ProcessCommand("xboard");
    settings.UseStrength = 0;
    xboard.ProcessCommand("xboard");
    EXPECT_EQ(h.engine.limits.npsLimit, 0u);
    EXPECT_EQ(h.engine.strengthLimited, 0);
  }
}

TEST(ProtocolTest, XBoardTimeControls) {
  Handlers h;
  XBoardProtocol xboard(&h.manager);
  xboard.Start();
  SearchLimits& limits = h.engine.limits;

  xboard.ProcessCommand("sd 0");
  EXPECT_EQ(limits.mode, ModeDepth);
  EXPECT_EQ(limits.depthLimit, 1);
  xboard.ProcessCommand("sd 500");
  EXPECT_EQ(limits.depthLimit, 127);
  // Each search has the time per move less the margin (a tenth, at least 50 ms).
  xboard.ProcessCommand("st -5");
  EXPECT_EQ(limits.mode, ModeMoveTime);
  xboard.ProcessCommand("go");
  EXPECT_EQ(limits.moveTime, 0);
  xboard.ProcessCommand("st 3");
  xboard.ProcessCommand("go");
  EXPECT_EQ(limits.moveTime, 2700000);

  xboard.ProcessCommand("level 40 5 0");
  EXPECT_EQ(limits.mode, ModeClock);
  EXPECT_EQ(limits.clock[White], 300000.0f);  // White is to move
  EXPECT_EQ(h.manager.movesPerSession, 40);
  EXPECT_EQ(h.manager.movesLeft, 40);
  EXPECT_EQ(limits.movesToGo, 40);
  EXPECT_EQ(limits.increment[White], 0);
  xboard.ProcessCommand("level 0 2:30 1.5");
  EXPECT_EQ(limits.clock[White], 150000.0f);
  EXPECT_EQ(h.manager.movesPerSession, 0);
  EXPECT_EQ(limits.increment[White], 1500);
  EXPECT_EQ(limits.increment[Black], 1500);

  // "time" is the engine's clock: given while White is to move, before
  // White's move arrives, it is Black's clock when Black searches.
  xboard.ProcessCommand("time 6000");
  xboard.ProcessCommand("otim 3000");
  xboard.ProcessCommand("e2e4");
  EXPECT_EQ(h.engine.board.sideToMove, Black);
  EXPECT_EQ(h.manager.searchPending, 1);
  EXPECT_EQ(limits.clock[Black], 60000.0f);
  EXPECT_EQ(limits.clock[White], 30000.0f);

  xboard.ProcessCommand("nopost");
  EXPECT_EQ(xboard.post, 0);
  xboard.ProcessCommand("post");
  EXPECT_EQ(xboard.post, 1);
  xboard.ProcessCommand("force");
  EXPECT_EQ(xboard.forceMode, 1);
  xboard.ProcessCommand("hard");
  EXPECT_EQ(h.manager.ponderOption, 1);
  EXPECT_EQ(h.engine.ponderEnabled, 1);
  EXPECT_EQ(xboard.ProcessCommand("quit"), 0);
  EXPECT_EQ(h.manager.ponderOption, 0);
  EXPECT_EQ(h.engine.ponderEnabled, 0);
}

// A personality in use sets the speed under XBoard as under UCI: the
// configured strength limit does not replace its "ReduceSpeed".
TEST(ProtocolTest, XBoardAPersonalityOutranksTheConfiguredStrength) {
  TempDir dir;
  ASSERT_TRUE(dir.Ok());
  Handlers h;
  Settings& settings = h.manager.settings;
  settings.Hash = 1;
  settings.UsePersonality = settings.UseStrength = 1;
  settings.StrengthELO = 1000;
  h.manager.PersonalityFile = dir.Write("fast.txt", "ReduceSpeed=2000000\n");
  XBoardProtocol xboard(&h.manager);
  xboard.Start();
  xboard.ProcessCommand("xboard");
  EXPECT_EQ(h.engine.limits.npsLimit, 2000000u);
  EXPECT_EQ(h.engine.strengthLimited, 0);
}

// ---------------------------------------------------------------------------
// The hash table: a size that cannot be allocated gives way to the largest
// smaller one that can, at set-up and for the Hash option (held to the range
// "uci" announces); a fresh table is complete before the engine says it is
// ready and before a search.

namespace {

// Tables above 4 MB cannot be had; every request is recorded.
void* (*realAllocate)(std::size_t) = nullptr;
std::vector<std::size_t> tableRequests;

void* AllocateUpTo4Mb(std::size_t bytes) {
  tableRequests.push_back(bytes);
  return bytes > HashTableBytes(4u * 65536u) ? nullptr : realAllocate(bytes);
}

struct SmallMemory {
  SmallMemory() {
    realAllocate = TranspositionTable::allocateZeroed;
    TranspositionTable::allocateZeroed = AllocateUpTo4Mb;
    tableRequests.clear();
  }
  ~SmallMemory() { TranspositionTable::allocateZeroed = realAllocate; }
};

std::size_t BytesOf(u32 megabytes) {
  return static_cast<std::size_t>(HashTableBytes(megabytes * 65536u));
}

// The lines of an output that start with the prefix.
std::vector<std::string> LinesStartingWith(const std::string& output, const std::string& prefix) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

}  // namespace

TEST(ProtocolTest, HashTableFallsBackToATableThatFits) {
  SmallMemory memory;
  {
    Handlers h;
    h.manager.settings.Hash = 256;
    UciProtocol uci(&h.manager);
    uci.Start();
    testing::internal::CaptureStdout();
    uci.ProcessCommand("uci");
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(LinesStartingWith(output, "info string"),
              std::vector<std::string>{"info string Hash table : out of memory for 256 MB, using 4 MB"});
    EXPECT_EQ(h.engine.tt.entryCount, 4u * 65536u);
    EXPECT_TRUE(h.engine.tt.HasStorage());

    tableRequests.clear();
    testing::internal::CaptureStdout();
    uci.ProcessCommand("setoption name Hash value 4096");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "info string Hash 4096 is outside 1..2048, 2048 is used\n"
              "info string Hash table : out of memory for 2048 MB, using 4 MB\n");
    ASSERT_FALSE(tableRequests.empty());
    EXPECT_EQ(tableRequests.front(), BytesOf(2048));
    EXPECT_EQ(tableRequests.back(), BytesOf(4));
    EXPECT_TRUE(h.engine.tt.HasStorage());
    EXPECT_EQ(h.engine.tt.entryCount, 4u * 65536u);
    EXPECT_EQ(h.engine.limits.hashMb, 4);

    tableRequests.clear();
    testing::internal::CaptureStdout();
    uci.ProcessCommand("setoption name Hash value 0");
    uci.ProcessCommand("setoption name Hash value 3");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string Hash 0 is outside 1..2048, 1 is used\n");
    EXPECT_EQ(tableRequests, (std::vector<std::size_t>{BytesOf(1), BytesOf(4)}));
    EXPECT_EQ(h.engine.tt.entryCount, 4u * 65536u);
  }
  {
    Handlers h;
    h.manager.settings.Hash = 256;
    XBoardProtocol xboard(&h.manager);
    xboard.Start();
    testing::internal::CaptureStdout();
    xboard.ProcessCommand("xboard");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "telluser Hash table : out of memory for 256 MB, using 4 MB\n");
    EXPECT_EQ(h.engine.tt.entryCount, 4u * 65536u);
    EXPECT_TRUE(h.engine.tt.HasStorage());
  }
}

namespace {

// Whether the table was ready when the search first reported.
struct ReadyAtFirstReport : EngineListener {
  explicit ReadyAtFirstReport(const Engine& searching) : table(searching.tt) {}
  void OnPvInfo(i32, i32, const Move*, i32, u64, i32, i32, double) override {
    if (reports++ == 0) ready = table.Ready();
  }
  const TranspositionTable& table;
  i32 reports = 0;
  bool ready = false;
};

}  // namespace

// A fresh table of a few huge pages has them provided by background threads:
// "readyok", "pong" and the first search come only once that work is done.
TEST(HashTableThreaded, CompleteBeforeReadyokPongAndTheFirstSearch) {
  {
    Handlers h;
    UciProtocol uci(&h.manager);
    uci.Start();
    testing::internal::CaptureStdout();
    uci.ProcessCommand("setoption name Hash value 4");
    const bool readyAtOnce = h.engine.tt.Ready();
    uci.ProcessCommand("isready");
    const bool readyAtReadyok = h.engine.tt.Ready();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "readyok\n");
    EXPECT_FALSE(readyAtOnce);
    EXPECT_TRUE(readyAtReadyok);
  }
  {
    Handlers h;
    h.manager.settings.Hash = 4;
    XBoardProtocol xboard(&h.manager);
    xboard.Start();
    testing::internal::CaptureStdout();
    xboard.ProcessCommand("xboard");
    const bool readyAtOnce = h.engine.tt.Ready();
    xboard.ProcessCommand("ping 7");
    const bool readyAtPong = h.engine.tt.Ready();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "pong 7\n");
    EXPECT_FALSE(readyAtOnce);
    EXPECT_TRUE(readyAtPong);
  }
  {
    Handlers h;
    ReadyAtFirstReport listener(h.engine);
    h.engine.listener = &listener;
    ASSERT_EQ(h.engine.tt.Resize(4), 1);
    EXPECT_FALSE(h.engine.tt.Ready());
    h.engine.limits.mode = ModeDepth;
    h.engine.limits.depthLimit = 1;
    h.engine.Think(0);
    h.engine.listener = &h.engine.defaultListener;
    EXPECT_GT(listener.reports, 0);
    EXPECT_TRUE(listener.ready);
  }
}

// The clocks sent after a "level" that waits for the busy search are not
// reset by that level when it runs at the search's end.
TEST(ProtocolTest, XBoardClocksKeepTheirPlaceBehindAWaitingLevel) {
  Handlers h;
  XBoardProtocol xboard(&h.manager);
  xboard.Start();
  h.manager.protocol = &xboard;
  xboard.ProcessCommand("level 40 5 0");
  EXPECT_EQ(xboard.engineClockMs, 300000);

  h.manager.lock.Lock();
  h.manager.searchBusy = 1;  // a search runs
  h.manager.lock.Unlock();
  h.manager.HandleInputLine("level 40 0:30 0");
  h.manager.HandleInputLine("time 1000");
  EXPECT_EQ(xboard.engineClockMs, 300000);  // behind the level, which waits

  // The search ends: the waiting lines run in the order they came.
  h.manager.lock.Lock();
  h.manager.searchBusy = 0;
  h.manager.DeferLocked("quit", CommandKind::Deferred);
  h.manager.lock.Unlock();
  h.manager.RunCommandLoop();
  EXPECT_EQ(xboard.engineClockMs, 10000);
  h.manager.protocol = nullptr;
}
