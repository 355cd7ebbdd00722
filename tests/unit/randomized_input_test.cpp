// Garbled FEN texts, PGN files and protocol dialogues, made by mutating
// good ones with a fixed seed, through the same code as the fuzz targets;
// and the inputs that the fuzzers found to fail, kept as regressions.

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "file_helpers.h"
#include "fuzz/fuzz_inputs.h"
#include "test_support.h"
#include "tool_helpers.h"

namespace {

const std::vector<std::string> ProtocolWords = {
    "go ", "depth ", "movetime ", "wtime ", "btime ", "winc ", "binc ", "movestogo ", "infinite",
    "ponder", "nodes ", "position ", "startpos", "startpos ", "fen ", "moves ", "setoption ",
    "name ", "value ", "Hash ", "MultiPV ", "UCI_Chess960 ", "true", "false", "Threads ",
    "Ponder ", "OwnBook ", "DrawScore ", "UCI_Elo ", "UCI_LimitStrength ", "Clear Hash",
    "NullMovePruning ", "LateMoveReduction ", "UsePersonality ", "Book File ", "e2e4", "e7e8q",
    "O-O", "O-O-O", "a7a8n", "0000", "\n", "stop", "ponderhit", "isready", "ucinewgame",
    "perft ", "divide ", "perftd ", "setboard ", "new", "force", "undo", "sd ", "st ", "level ",
    "time ", "otim ", "analyze", "hard", "easy", "?", "ping ", "-1", "0", "2147483648",
    "99999999999", "  ", "printBoard", "printFEN", "eval", "8/8/8/8/8/8/8/K6k w - - 0 1 ",
    "quit"};

const std::vector<std::string> FenWords = {"/", "8", "1", " ", "w", "b", "-", "K", "Q", "k", "q",
                                           "p", "P", "e3", "e6", "0", "255", "999", "HAha", "\t"};

const std::vector<std::string> PgnWords = {
    "[", "]", "\"", "{", "}", "(", ")", "$1", "!?", "1-0", "0-1", "1/2-1/2", "*", "O-O", "O-O-O",
    "e8=Q", "exd6", "Nbd7", "R1e2", "Qh4xe1+", "1.", "12...", "\n", "\r", ";", "%", "[FEN \"",
    "[Result \"", "\"]\n", "8/8/8/8/8/8/8/K6k w - - 0 1", "\n\n"};

// One to four random edits: characters changed, ranges cut or repeated,
// words of the input's language inserted, numbers replaced.
std::string Mutate(const std::string& text, const std::vector<std::string>& words,
                   std::mt19937& rng) {
  std::string s = text;
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 6) {
      case 0:
        if (!s.empty() && at < s.size())
          s[at] = static_cast<char>(rng() % 4 == 0 ? rng() % 256 : 32 + rng() % 95);
        break;
      case 1:
        if (at < s.size()) s.erase(at, 1 + rng() % 8);
        break;
      case 2:
        s.insert(at, words[rng() % words.size()]);
        break;
      case 3:
        if (at < s.size()) s.insert(at, s.substr(at, 1 + rng() % 16));
        break;
      case 4:
        if (rng() % 3 == 0) s.resize(at);
        break;
      case 5: {
        const size_t digit = s.find_first_of("0123456789", at);
        if (digit == std::string::npos) break;
        const size_t end = s.find_first_not_of("0123456789", digit);
        s.replace(digit, end == std::string::npos ? std::string::npos : end - digit,
                  std::to_string(static_cast<int>(rng() % 100000) - 1000));
        break;
      }
    }
  }
  return s;
}

std::vector<std::string> FileLines(const std::string& path, size_t limit) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (lines.size() < limit && std::getline(in, line)) lines.push_back(line);
  return lines;
}

void RunFen(const std::string& text) {
  fuzz::FenInput(reinterpret_cast<const u8*>(text.data()), text.size());
}

void RunPgn(const std::string& text, bool buildBook) {
  const std::string input = std::string(1, buildBook ? '\x01' : '\x00') + text;
  fuzz::PgnInput(reinterpret_cast<const u8*>(input.data()), input.size());
}

void RunDialogue(const std::string& text, bool xboard) {
  const std::string input = std::string(1, xboard ? '\x01' : '\x00') + text;
  fuzz::ProtocolInput(reinterpret_cast<const u8*>(input.data()), input.size());
}

// The files of one target's committed fuzzing corpus, sorted by name.
std::vector<std::string> CorpusFiles(const std::string& target) {
  const std::string folder = std::string(ZORVEL_SOURCE_DIR) + "/tests/fuzz/corpus/" + target;
  std::vector<std::string> files;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') files.push_back(folder + "/" + entry->d_name);
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// Every seed and regression input of the fuzzers, run as the fuzz targets
// run them, on every build and target. The searches they start are bounded
// in nodes: a crafted position whose root ordering alone searches for
// minutes at depth 1 ("regress-crafted-ranks-deep-quiescence") ends at once.
TEST(FuzzCorpus, EveryCommittedInputRuns) {
  size_t total = 0;
  for (const char* target : {"fen", "pgn", "protocol"}) {
    const std::vector<std::string> files = CorpusFiles(target);
    ASSERT_FALSE(files.empty()) << target;
    StdoutCapture out;  // the engine's answers are not looked at
    for (const std::string& file : files) {
      SCOPED_TRACE(file);
      const std::string bytes = FileBytes(file);
      const u8* data = reinterpret_cast<const u8*>(bytes.data());
      if (target[0] == 'f')
        fuzz::FenInput(data, bytes.size());
      else if (target[0] == 'p' && target[1] == 'g')
        fuzz::PgnInput(data, bytes.size());
      else
        fuzz::ProtocolInput(data, bytes.size());
      ++total;
    }
  }
  EXPECT_GE(total, 31u);
}

TEST(RandomizedInput, FenTexts) {
  std::vector<std::string> seeds = FileLines(TestDataPath("perft.epd"), 27);
  for (const std::string& line : FileLines(TestDataPath("wac.epd"), 40)) seeds.push_back(line);
  std::mt19937 rng(20240611u);
  const int rounds = ForTarget(5000, 2000);
  for (int i = 0; i < rounds; ++i) {
    const std::string text = Mutate(seeds[rng() % seeds.size()], FenWords, rng);
    SCOPED_TRACE(text);
    RunFen(text);
  }
}

TEST(RandomizedInput, PgnFiles) {
  const std::string games =
      "[Event \"a\"]\n[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 {Ruy Lopez} 4. Ba4 Nf6 "
      "5. O-O Be7 6. Re1 b5 7. Bb3 d6 8. c3 O-O 1-0\n\n"
      "[Result \"0-1\"]\n[FEN \"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1\"]\n\n1. O-O-O O-O 2. Rxd8+ "
      "Rxd8 0-1\n\n[Result \"*\"]\n\n1. d4 d5 2. c4 (2. Nf3 Nf6 (2... c5)) 2... dxc4 $1 3. e3!? "
      "b5 4. a4 c6 5. axb5 cxb5 *\n\n[FEN \"8/P7/8/8/8/8/1p6/k6K w - - 0 1\"]\n\n1. a8=Q b1=N "
      "2. Qh8# 1-0\n";
  std::mt19937 rng(77u);
  const int rounds = ForTarget(1000, 300);
  for (int i = 0; i < rounds; ++i) {
    std::string text = games;
    const int generations = 1 + static_cast<int>(rng() % 6);
    for (int g = 0; g < generations; ++g) text = Mutate(text, PgnWords, rng);
    SCOPED_TRACE(text);
    RunPgn(text, i % 8 == 0);
  }
}

TEST(RandomizedInput, ProtocolDialogues) {
  const std::vector<std::string> uci = {
      "uci\nisready\nucinewgame\nposition startpos moves e2e4 e7e5 g1f3\ngo depth 3\n",
      "uci\nsetoption name Hash value 2\nsetoption name MultiPV value 3\nsetoption name "
      "UCI_Chess960 value true\nposition fen bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/"
      "BQ1BNRKR w HFhf - 2 9 moves g1h1\ngo depth 2\n",
      "uci\nsetoption name Ponder value true\nposition startpos moves e2e4\ngo ponder wtime 1000 "
      "btime 1000 winc 10 binc 10\nponderhit\nstop\n",
      "uci\nposition fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1 "
      "moves e1g1 a6e2\ngo movetime 10 movestogo 5\nperft 2\nperftd 1\ndivide 2\neval\n",
      "uci\nsetoption name UCI_LimitStrength value true\nsetoption name UCI_Elo value 1500\n"
      "setoption name DrawScore value -50\nposition startpos\ngo nodes 500\ngo infinite\nstop\n"};
  const std::vector<std::string> xboard = {
      "xboard\nprotover 2\nnew\nforce\ne2e4\ne7e5\ngo\nsd 2\nundo\nping 7\n",
      "xboard\nprotover 2\nnew\nsetboard r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1\nsd 2\nst 1\n"
      "level 40 5 0\ntime 3000\notim 3000\ngo\nhard\ne1g1\neasy\nresult 1-0 {x}\n",
      "xboard\nnew\nanalyze\n.\nexit\npost\nnopost\nperft 2\ndivide 1\neval\n?\n"};
  std::mt19937 rng(4242u);
  const int rounds = ForTarget(400, 150);
  StdoutCapture out;  // the dialogues' answers are not looked at
  for (int i = 0; i < rounds; ++i) {
    const bool isXBoard = i % 2 != 0;
    const std::vector<std::string>& seeds = isXBoard ? xboard : uci;
    std::string text = seeds[rng() % seeds.size()];
    const int generations = 1 + static_cast<int>(rng() % 5);
    for (int g = 0; g < generations; ++g) text = Mutate(text, ProtocolWords, rng);
    SCOPED_TRACE(text);
    RunDialogue(text, isXBoard);
  }
}

TEST(FuzzRegression, KingThatTheSideToMoveCouldTakeIsRefused) {
  // Found by the FEN target: pawns on d7 and f7 attack the Black king with
  // White to move; taking a king broke the board.
  const char* const kingInCheck = "r3k2r/p1pPPP/R3K2R w KQkq- 0 1";
  RunFen(kingInCheck);

  ToolManager tools;
  Engine& engine = tools.engine();
  ASSERT_TRUE(engine.SetFen("4k3/8/8/8/8/8/8/4K3 w - - 0 1"));
  const u64 key = engine.board.key;
  {
    ErrorLogCapture log;
    EXPECT_FALSE(engine.SetFen(kingInCheck));
    EXPECT_FALSE(engine.SetFen("k7/2K5/8/8/8/8/8/7Q w - - 0 1"));
    EXPECT_EQ(log.Messages().size(), 2u);
  }
  EXPECT_EQ(engine.board.key, key);
  // The side to move may well be in check.
  EXPECT_TRUE(engine.SetFen("k7/2K5/8/8/8/8/8/7Q b - - 0 1"));

  // A game of a PGN file that starts from such a position is not replayed
  // on it.
  TempDir dir;
  const std::string pgn = dir.Write(
      "king.pgn", "[FEN \"k7/2K5/8/8/8/8/8/7Q w - - 0 1\"]\n\n1. Qxa8 1-0\n");
  Board board{};
  board.SetStartPosition();
  struct Moves : PgnReader {
    void OnMove(PgnParser&, const MoveToken&, Move, const char*) override { ++count; }
    int count = 0;
  } reader;
  ErrorLogCapture log;
  PgnParser parser(pgn, 0, &board, &reader);
  EXPECT_EQ(parser.Read(), 1);
  EXPECT_EQ(reader.count, 0);
  const std::vector<std::string> messages = log.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], "Invalid FEN string : 'k7/2K5/8/8/8/8/8/7Q w - - 0 1'");
}

TEST(FuzzRegression, PawnOnTheFirstOrLastRankIsMalformed) {
  // Found by the FEN target: a Black pawn on b1 made the quiet-check
  // generation of the quiescence search shift by a negative amount.
  const std::string found("r3k2r/p/1ppqpb1/bPr//P1PPP/R2K1Rb/qpQ b110\xcc\xce" "2\x01\x00\x00\x05" "1 w",
                          53);
  RunFen(found);
  ToolManager tools;
  ErrorLogCapture log;
  EXPECT_FALSE(tools.engine().SetFen("r3k2r/p/1ppqpb1/bPr//P1PPP/R2K1Rb/qpQ b"));
  EXPECT_FALSE(tools.engine().SetFen("4k3/8/8/8/8/8/8/1p2K3 b - - 0 1"));
  EXPECT_FALSE(tools.engine().SetFen("1P2k3/8/8/8/8/8/8/4K3 w - - 0 1"));
  EXPECT_FALSE(tools.engine().SetFen("p3k3/8/8/8/8/8/8/4K3 b - - 0 1"));
  EXPECT_FALSE(tools.engine().SetFen("4k3/8/8/8/8/8/8/P3K3 w - - 0 1"));
  EXPECT_TRUE(tools.engine().SetFen("4k3/P7/8/8/8/8/p7/4K3 w - - 0 1"));
}
