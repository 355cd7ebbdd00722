#include "engine/personality.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "common/log.h"
#include "engine/eval_tables.h"

namespace {

i32 Sq(const char* name) { return MakeSquare(name[0] - 'a', name[1] - '1'); }

// Every table the personality and the derivation write, captured for comparison.
struct TableSnapshot {
  std::vector<i32> values;

  template <typename T>
  void Add(const T& object) {
    constexpr size_t bytes = sizeof(T);
    static_assert(bytes % sizeof(i32) == 0, "tables are made of i32");
    const size_t first = values.size();
    values.resize(first + bytes / sizeof(i32));
    std::memcpy(&values[first], &object, sizeof(T));
  }

  static TableSnapshot Take() {
    TableSnapshot s;
    s.Add(PieceValue), s.Add(SeeValue), s.Add(startMaterial);
    s.Add(BishopPairBonus), s.Add(NoPawnsPenalty), s.Add(TempoBonus);
    s.Add(BlockedCentralPawnPenalty), s.Add(TrappedKnightPenalty), s.Add(TrappedBishopPenalty);
    s.Add(TrappedRookPenalty), s.Add(DoubledPawnPenalty), s.Add(IsolatedPawnPenalty);
    s.Add(BackwardPawnPenalty), s.Add(RookOpenFileBonus), s.Add(RookSemiOpenFileBonus);
    s.Add(RookSeventhRankBonus), s.Add(KingProximityBonus), s.Add(PassedPawnBonus);
    s.Add(KingShieldPenalty), s.Add(KingAttackPenalty), s.Add(MobilityWeight);
    s.Add(MobilityBonus), s.Add(KnightOutpostBonus), s.Add(PieceSquareTable);
    return s;
  }
};

class PersonalityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zorvel_personality_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    Personality builtIn{};
    builtIn.Init(0);
  }
  void TearDown() override {
    for (const std::string& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
    Personality builtIn{};
    builtIn.Init(0);  // later tests see the built-in tables
  }

  std::string WriteFile(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr);
    if (f) {
      std::fwrite(content.data(), 1, content.size(), f);
      std::fclose(f);
    }
    files_.push_back(path);
    return path;
  }

  std::string dir_;
  std::vector<std::string> files_;
};

// The 24 weights in the record's order.
std::vector<i32> Weights(const Personality& p) {
  return {p.PawnValue,       p.KnightValue,     p.BishopValue,         p.RookValue,
          p.QueenValue,      p.BishopPair,      p.PawnDoubledMid,      p.PawnDoubledEnd,
          p.PawnIsolatedMid, p.PawnIsolatedEnd, p.PawnBackwardMid,     p.PawnBackwardEnd,
          p.RookOpenFileMid, p.RookOpenFileEnd, p.RookSemiOpenFileMid, p.RookSemiOpenFileEnd,
          p.Rook7thRankMid,  p.Rook7thRankEnd,  p.KingSafetyOwn,       p.KingSafetyOpp,
          p.MobilityOwn,     p.MobilityOpp,     p.Randomness,          p.ReduceSpeed};
}

void ExpectPair(const ScorePair& pair, i32 mg, i32 eg, const char* what) {
  EXPECT_EQ(pair.mg, mg) << what;
  EXPECT_EQ(pair.eg, eg) << what;
}

void ExpectBlackRow(i32 type, bool mg, i32 rank, std::vector<i32> row) {
  for (i32 file = 0; file < 8; ++file) {
    const ScorePair& v = PieceSquareTable[Black][type][MakeSquare(file, rank)];
    EXPECT_EQ(mg ? v.mg : v.eg, row[file])
        << "type " << type << " rank " << rank + 1 << " file " << file;
  }
}

}  // namespace

TEST_F(PersonalityTest, BuiltInValues) {
  EXPECT_EQ(startMaterial, 4075);
  const i32 pieces[8] = {0, 100, 325, 325, 500, 975, 0, 0};
  const i32 see[8] = {0, 100, 325, 325, 500, 975, 5000, 0};
  for (i32 t = 0; t < 8; ++t) {
    EXPECT_EQ(PieceValue[t], pieces[t]);
    EXPECT_EQ(SeeValue[t], see[t]);
  }
  ExpectPair(BishopPairBonus, 50, 50, "bishop pair");
  ExpectPair(TempoBonus, 5, 5, "tempo");
  ExpectPair(DoubledPawnPenalty, 10, 20, "doubled");
  ExpectPair(IsolatedPawnPenalty, 10, 15, "isolated");
  ExpectPair(BackwardPawnPenalty, 15, 15, "backward");
  ExpectPair(RookOpenFileBonus, 30, 10, "open file");
  ExpectPair(RookSemiOpenFileBonus, 20, 10, "half-open file");
  ExpectPair(RookSeventhRankBonus, 10, 30, "seventh rank");
  EXPECT_EQ(NoPawnsPenalty, 50);
  EXPECT_EQ(BlockedCentralPawnPenalty, 20);
  EXPECT_EQ(TrappedKnightPenalty, 100);
  EXPECT_EQ(TrappedBishopPenalty, 100);
  EXPECT_EQ(TrappedRookPenalty, 50);
  EXPECT_EQ(KingProximityBonus[2], 25);
  EXPECT_EQ(KingShieldPenalty[0], 50);
  EXPECT_EQ(KingShieldPenalty[7], 50);
  EXPECT_EQ(KingAttackPenalty[31], 933);
  ExpectPair(PassedPawnBonus[6], 95, 191, "passed pawn on the seventh");
  ExpectPair(PassedPawnBonus[1], 0, 10, "passed pawn on the second");
}

TEST_F(PersonalityTest, PieceSquareTablesKeepTheGivenRowsAndFlipForWhite) {
  ExpectBlackRow(Pawn, true, 5, {-2, -1, -1, 10, 10, -1, -1, -2});
  ExpectBlackRow(Pawn, true, 4, {-4, -2, -2, 20, 20, -2, -2, -4});
  ExpectBlackRow(Pawn, true, 3, {0, 0, 0, 10, 10, 0, 0, 0});
  ExpectBlackRow(Knight, true, 7, {-40, -24, -20, -20, -20, -20, -24, -40});
  ExpectBlackRow(Knight, true, 5, {-20, 2, 8, 8, 8, 8, 2, -20});
  for (i32 type : {Knight, Bishop}) {
    ExpectBlackRow(type, false, 0, {-40, -16, -8, -8, -8, -8, -16, -40});
    ExpectBlackRow(type, false, 7, {-40, -16, -8, -8, -8, -8, -16, -40});
    ExpectBlackRow(type, false, 3, {-8, 2, 4, 8, 8, 4, 2, -8});
    ExpectBlackRow(type, false, 4, {-8, 2, 4, 8, 8, 4, 2, -8});
  }
  ExpectBlackRow(Bishop, true, 6, {-8, 8, 4, 4, 4, 4, 8, -8});
  ExpectBlackRow(Bishop, true, 0, {-40, -8, -8, -8, -8, -8, -8, -40});
  for (i32 rank = 0; rank < 8; ++rank) {
    ExpectBlackRow(Rook, true, rank, {-4, -2, -1, 0, 0, -1, -2, -4});
    ExpectBlackRow(King, true, rank,
                   rank == 7   ? std::vector<i32>{-8, 32, 32, -8, 0, -8, 32, -8}
                   : rank == 6 ? std::vector<i32>(8, -16)
                               : std::vector<i32>(8, -32));
  }
  ExpectBlackRow(Queen, false, 3, {-2, 8, 12, 16, 16, 12, 8, -2});
  ExpectBlackRow(Queen, false, 4, {-2, 8, 12, 16, 16, 12, 8, -2});
  ExpectBlackRow(King, false, 3, {-30, 0, 16, 32, 32, 16, 0, -30});
  ExpectBlackRow(King, false, 4, {-30, 0, 16, 32, 32, 16, 0, -30});

  // The stated shapes: corners, the all-zero tables, the centre maxima.
  EXPECT_EQ(PieceSquareTable[Black][Knight][Sq("a1")].mg, -40);
  EXPECT_EQ(PieceSquareTable[Black][Bishop][Sq("h8")].mg, -40);
  EXPECT_EQ(PieceSquareTable[Black][Queen][Sq("a8")].eg, -32);
  EXPECT_EQ(PieceSquareTable[Black][King][Sq("h1")].eg, -50);
  EXPECT_EQ(PieceSquareTable[Black][King][Sq("b2")].eg, 0);
  for (i32 s = 0; s < 64; ++s) {
    EXPECT_EQ(PieceSquareTable[Black][Queen][s].mg, 0);
    EXPECT_EQ(PieceSquareTable[Black][Pawn][s].eg, 0);
    EXPECT_EQ(PieceSquareTable[Black][Rook][s].eg, 0);
    for (i32 type : {0, 7}) {
      ExpectPair(PieceSquareTable[Black][type][s], 0, 0, "unused type");
      ExpectPair(PieceSquareTable[White][type][s], 0, 0, "unused type");
    }
    EXPECT_LE(PieceSquareTable[Black][Knight][s].mg, 8);
    EXPECT_LE(PieceSquareTable[Black][Queen][s].eg, 16);
    EXPECT_LE(PieceSquareTable[Black][King][s].eg, 32);
  }

  for (i32 type = 0; type < 8; ++type)
    for (i32 s = 0; s < 64; ++s) {
      EXPECT_EQ(PieceSquareTable[White][type][s].mg, PieceSquareTable[Black][type][s ^ 56].mg);
      EXPECT_EQ(PieceSquareTable[White][type][s].eg, PieceSquareTable[Black][type][s ^ 56].eg);
    }
  const i32 whiteKingRank1[8] = {-8, 32, 32, -8, 0, -8, 32, -8};
  for (i32 file = 0; file < 8; ++file)
    EXPECT_EQ(PieceSquareTable[White][King][file].mg, whiteKingRank1[file]);
}

TEST_F(PersonalityTest, MobilityBonusFollowsTheWeights) {
  const i32 perSquare[8][2] = {{0, 0}, {0, 0}, {6, 5}, {6, 5}, {4, 5}, {2, 3}, {0, 0}, {0, 0}};
  for (i32 type = Knight; type <= Queen; ++type) {
    for (i32 n = 0; n < 28; ++n) {
      const bool inTable = n < MobilityCount[type];
      ExpectPair(MobilityBonus[type][n], inTable ? perSquare[type][0] * n : 0,
                 inTable ? perSquare[type][1] * n : 0, "mobility");
    }
  }
  EXPECT_EQ(MobilityCount[Knight], 9);
  EXPECT_EQ(MobilityCount[Queen], 28);

  // Division truncates toward zero, then the offset is taken off.
  MobilityWeight[Knight] = {-13, 7, 3};
  InitPieceSquareTables();
  ExpectPair(MobilityBonus[Knight][5], -65 / 8 - 3, 35 / 8 - 3, "changed weights");
  EXPECT_EQ(MobilityBonus[Knight][5].mg, -11);
}

TEST_F(PersonalityTest, OutpostTableMirrorsByFileAndFlipsForWhite) {
  const i32 rank3[8] = {0, 0, 16, 32, 32, 16, 0, 0};
  const i32 rank4[8] = {0, 8, 16, 32, 32, 16, 8, 0};
  const i32 rank5[8] = {0, 8, 16, 16, 16, 16, 8, 0};
  for (i32 s = 0; s < 64; ++s) {
    const i32 file = FileOf(s), rank = RankOf(s);
    const i32 expected = rank == 2   ? rank3[file]
                         : rank == 3 ? rank4[file]
                         : rank == 4 ? rank5[file]
                                     : 0;
    EXPECT_EQ(KnightOutpostBonus[Black][s], expected) << s;
    EXPECT_EQ(KnightOutpostBonus[White][s ^ 56], expected) << s;
  }
  // Files e-h always follow files d-a, and White follows Black.
  KnightOutpostBonus[Black][Sq("f4")] = 99;
  KnightOutpostBonus[Black][Sq("c3")] = 40;
  KnightOutpostBonus[White][Sq("c6")] = -7;
  InitPieceSquareTables();
  EXPECT_EQ(KnightOutpostBonus[Black][Sq("f4")], 16);
  EXPECT_EQ(KnightOutpostBonus[Black][Sq("f3")], 40);
  EXPECT_EQ(KnightOutpostBonus[White][Sq("c6")], 40);
  EXPECT_EQ(KnightOutpostBonus[White][Sq("f6")], 40);
}

TEST_F(PersonalityTest, InitPieceSquareTablesIsIdempotent) {
  const TableSnapshot before = TableSnapshot::Take();
  InitPieceSquareTables();
  InitPieceSquareTables();
  EXPECT_EQ(TableSnapshot::Take().values, before.values);
  // The derived halves are rebuilt from the built-in ones.
  PieceSquareTable[White][Knight][Sq("e4")] = {1000, -1000};
  MobilityBonus[Rook][3] = {77, 77};
  startMaterial = 1;
  InitPieceSquareTables();
  EXPECT_EQ(TableSnapshot::Take().values, before.values);
}

TEST_F(PersonalityTest, InitWithoutLoadRestoresEverything) {
  const TableSnapshot builtIn = TableSnapshot::Take();
  Personality p{};
  p.PawnValue = 1;
  p.QueenValue = 2;
  p.BishopPair = 3;
  p.Init(1);
  EXPECT_EQ(PieceValue[Pawn], 1);
  EXPECT_EQ(BishopPairBonus.eg, 3);
  NoPawnsPenalty = 0;
  KingAttackPenalty[5] = 0;
  PieceSquareTable[Black][Bishop][Sq("b7")] = {0, 0};
  SeeValue[King] = 1;
  p.Init(0);
  EXPECT_EQ(TableSnapshot::Take().values, builtIn.values);
}

TEST_F(PersonalityTest, EmptyFileInstallsThePerKeyDefaults) {
  const TableSnapshot builtIn = TableSnapshot::Take();
  Personality p{};
  EXPECT_NE(p.Load(WriteFile("comments.txt", "# no weight here\n\n ; nor here\n").c_str()), 0);
  EXPECT_NE(p.Load(WriteFile("empty.txt", "").c_str()), 0);
  EXPECT_EQ(p.active, 1);
  ExpectPair(DoubledPawnPenalty, 10, 10, "doubled");
  ExpectPair(IsolatedPawnPenalty, 20, 20, "isolated");
  ExpectPair(BackwardPawnPenalty, 10, 10, "backward");
  ExpectPair(RookOpenFileBonus, 20, 20, "open file");
  ExpectPair(RookSemiOpenFileBonus, 10, 10, "half-open file");
  ExpectPair(RookSeventhRankBonus, 20, 20, "seventh rank");
  ExpectPair(BishopPairBonus, 50, 50, "bishop pair");
  EXPECT_EQ(startMaterial, 4075);
  EXPECT_EQ(PieceValue[Queen], 975);
  const i32 expected[24] = {100, 325, 325, 500, 975, 50, 10,  10,  20,  20,  10, 10,
                            20,  20,  10,  10,  20,  20, 100, 100, 100, 100, 0,  0};
  const std::vector<i32> actual = Weights(p);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(actual[i], expected[i]) << "weight " << i;
  // Only the six pawn and rook pairs differ from the built-in tables.
  DoubledPawnPenalty = {10, 20};
  IsolatedPawnPenalty = {10, 15};
  BackwardPawnPenalty = {15, 15};
  RookOpenFileBonus = {30, 10};
  RookSemiOpenFileBonus = {20, 10};
  RookSeventhRankBonus = {10, 30};
  EXPECT_EQ(TableSnapshot::Take().values, builtIn.values);
}

TEST_F(PersonalityTest, MaterialAndBishopPairFromTheFile) {
  Personality p{};
  ASSERT_NE(p.Load(WriteFile("pawn.txt", "PawnValue=150\n").c_str()), 0);
  EXPECT_EQ(PieceValue[Pawn], 150);
  EXPECT_EQ(startMaterial, 4475);
  EXPECT_EQ(SeeValue[Pawn], 100);

  ASSERT_NE(p.Load(WriteFile("pair.txt", "BishopPair=70\n").c_str()), 0);
  ExpectPair(BishopPairBonus, 70, 70, "bishop pair");
  EXPECT_EQ(PieceValue[Pawn], 100);  // a new load starts again from the defaults
  EXPECT_EQ(startMaterial, 4075);
}

TEST_F(PersonalityTest, UnreadableFileRestoresTheBuiltInWeights) {
  const TableSnapshot builtIn = TableSnapshot::Take();
  Personality p{};
  ASSERT_NE(p.Load(WriteFile("good.txt", "PawnValue=150\nRandomness=30\n").c_str()), 0);
  EXPECT_EQ(p.active, 1);
  EXPECT_EQ(p.Load((dir_ + "/missing.txt").c_str()), 0);
  EXPECT_EQ(p.active, 0);
  EXPECT_EQ(TableSnapshot::Take().values, builtIn.values);
  // The empty name is how the protocols switch a personality off.
  ASSERT_NE(p.Load(WriteFile("good2.txt", "PawnValue=150\n").c_str()), 0);
  EXPECT_EQ(p.Load(""), 0);
  EXPECT_EQ(p.active, 0);
  EXPECT_EQ(TableSnapshot::Take().values, builtIn.values);
  // A file given by mistake (a program, another program's settings) holds
  // data but no weight: it is told, and the built-in weights stay.
  for (const std::string& content :
       {std::string("\x7F" "ELF\x01\x01\x01", 7) + std::string(9, '\0') + "\x02\0(\0PawnValue=1\n",
        std::string("[Engine]\nHash=64\nPawnValue 150\n")}) {
    ASSERT_NE(p.Load(WriteFile("good3.txt", "PawnValue=150\n").c_str()), 0);
    std::vector<std::string> notes;
    const std::string file = WriteFile("other.bin", content);
    EXPECT_EQ(p.Load(file.c_str(), &notes), 0);
    EXPECT_EQ(p.active, 0);
    EXPECT_EQ(TableSnapshot::Take().values, builtIn.values);
    EXPECT_EQ(notes, std::vector<std::string>{"personality file " + file + " holds no known setting"});
  }
}

TEST_F(PersonalityTest, LoadChangesExactlyTheWeightsItNames) {
  const TableSnapshot builtIn = TableSnapshot::Take();
  const char* keys[24] = {
      "PawnValue",       "KnightValue",     "BishopValue",         "RookValue",
      "QueenValue",      "BishopPair",      "PawnDoubledMid",      "PawnDoubledEnd",
      "PawnIsolatedMid", "PawnIsolatedEnd", "PawnBackwardMid",     "PawnBackwardEnd",
      "RookOpenFileMid", "RookOpenFileEnd", "RookSemiOpenFileMid", "RookSemiOpenFileEnd",
      "Rook7thRankMid",  "Rook7thRankEnd",  "KingSafetyOwn",       "KingSafetyOpp",
      "MobilityOwn",     "MobilityOpp",     "Randomness",          "ReduceSpeed"};
  // A value within each key's range, different from every default.
  const i32 values[24] = {101, 327, 328, 504, 980, 56, 17,  18,  29,  30,  21, 22,
                          33,  34,  25,  26,  37,  38, 119, 120, 121, 122, 23, 24};
  std::string content = "# a comment=1\n;PawnValue=7\nUnknownKey=55\n";
  for (int i = 0; i < 24; ++i)
    content += std::string(keys[i]) + "=" + std::to_string(values[i]) + "\n";
  content += "PawnValue=99\n";  // the first occurrence counts
  Personality p{};
  ASSERT_NE(p.Load(WriteFile("all.txt", content).c_str()), 0);
  EXPECT_EQ(p.active, 1);

  const std::vector<i32> weights = Weights(p);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(weights[i], values[i]) << keys[i];
  for (i32 t = Pawn; t <= Queen; ++t) EXPECT_EQ(PieceValue[t], values[t - Pawn]);
  ExpectPair(BishopPairBonus, 56, 56, "bishop pair");
  ExpectPair(DoubledPawnPenalty, 17, 18, "doubled");
  ExpectPair(IsolatedPawnPenalty, 29, 30, "isolated");
  ExpectPair(BackwardPawnPenalty, 21, 22, "backward");
  ExpectPair(RookOpenFileBonus, 33, 34, "open file");
  ExpectPair(RookSemiOpenFileBonus, 25, 26, "half-open file");
  ExpectPair(RookSeventhRankBonus, 37, 38, "seventh rank");
  EXPECT_EQ(startMaterial, 980 + 2 * (327 + 4 * 101 + 328 + 504));

  // Put the named entries back: every other table is untouched.
  for (i32 t = Pawn; t <= Queen; ++t) PieceValue[t] = SeeValue[t];
  BishopPairBonus = {50, 50};
  DoubledPawnPenalty = {10, 20};
  IsolatedPawnPenalty = {10, 15};
  BackwardPawnPenalty = {15, 15};
  RookOpenFileBonus = {30, 10};
  RookSemiOpenFileBonus = {20, 10};
  RookSeventhRankBonus = {10, 30};
  InitPieceSquareTables();
  EXPECT_EQ(TableSnapshot::Take().values, builtIn.values);
}

TEST_F(PersonalityTest, ValuesAreReadLikeTheConfigurationFile) {
  Personality p{};
  const std::string file = WriteFile("odd.txt",
                                     "MobilityOwn=abc\n"
                                     "KnightValue= 300\n"
                                     "BishopValue=310 ; comment\n"
                                     "RookValue =600\n"
                                     "BishopPair=-5\n"
                                     "BishopPair=7\n");
  std::vector<std::string> notes;
  ASSERT_NE(p.Load(file.c_str(), &notes), 0);
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "personality " + file + " : line 6 ignored, BishopPair is given on line 5 already : 'BishopPair=7'",
                       "personality " + file + " : line 1 : MobilityOwn=abc is not a whole number, 100 kept"}));
  EXPECT_EQ(p.MobilityOwn, 100);       // not a number: the default
  EXPECT_EQ(PieceValue[Knight], 300);  // leading blanks are skipped
  EXPECT_EQ(PieceValue[Bishop], 310);
  EXPECT_EQ(PieceValue[Rook], 600);  // blanks around '=' do not count
  EXPECT_EQ(BishopPairBonus.mg, -5);
}

TEST_F(PersonalityTest, LoadIsLogged) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  const std::string file = WriteFile("logged.txt", "PawnValue=90\n");
  files_.push_back(dir_ + "/logfile.txt");
  ASSERT_TRUE(gLog.Open(1, 0, 0));  // INFO only, text
  Personality p{};
  p.Load(file.c_str());
  p.Load("no-such-file.txt");
  gLog.Close();
  ASSERT_EQ(chdir(cwd), 0);

  FILE* f = std::fopen((dir_ + "/logfile.txt").c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::vector<std::string> messages;
  char line[4200];
  while (std::fgets(line, sizeof line, f)) {
    const std::string text = line;
    if (text.size() > 35 && text.compare(24, 5, "INFO ") == 0) messages.push_back(text.substr(35));
  }
  std::fclose(f);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "load personality " + file + "\n");
  EXPECT_EQ(messages[1], "init personality\n");
}

TEST(PersonalityRecord, FieldOrder) {
  EXPECT_EQ(offsetof(Personality, active), 1u);
  EXPECT_EQ(offsetof(Personality, PawnValue), 4u);
  EXPECT_EQ(offsetof(Personality, ReduceSpeed), 4u + 23u * 4u);
  EXPECT_EQ(sizeof(Personality), 100u);
}
