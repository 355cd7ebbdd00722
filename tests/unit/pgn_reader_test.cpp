#include "tools/pgn_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "file_helpers.h"
#include "test_support.h"

namespace {

const char* const EcoFile = "/usr/share/pgn-extract/eco.pgn";

// Writes every event as a line of text and keeps the moves of each game.
class RecordingReader : public PgnReader {
 public:
  void Begin(PgnParser&) override { events.push_back("begin"); }
  void End(PgnParser&) override { events.push_back("end"); }
  void OnGameStart(PgnParser& p) override {
    events.push_back("start");
    startKeys.push_back(p.board->key);
  }
  void OnGameEnd(PgnParser& p) override {
    events.push_back("game end " + std::to_string(p.gameNumber));
    games.push_back(p.moves);
    gameTokens.push_back(p.tokens);
  }
  void OnMove(PgnParser& p, const MoveToken& token, Move move, const char* comment) override {
    events.push_back(std::string("move ") + token.text +
                     (comment ? " {" + std::string(comment) + "}" : ""));
    plies.push_back(p.plyNumber);
    EXPECT_EQ(p.moves.back(), move);
  }
  void OnComment(PgnParser&, const char* text) override {
    events.push_back(std::string("comment ") + text);
  }
  void OnTag(PgnParser&, const char* name, const char* value) override {
    events.push_back(std::string("tag ") + name + "=" + value);
  }
  void OnNag(PgnParser&, i32 nag) override { events.push_back("nag " + std::to_string(nag)); }
  void OnError(PgnParser& p, i32 code, const char* text) override {
    events.push_back("error " + std::to_string(code) + " " + (text ? text : "") + " game " +
                     std::to_string(p.gameNumber) + " ply " + std::to_string(p.plyNumber) +
                     " line " + std::to_string(p.tokenLine));
    PgnReader::OnError(p, code, text);
  }

  // The events of one kind, without the kind's word.
  std::vector<std::string> Only(const std::string& kind) const {
    std::vector<std::string> out;
    for (const std::string& e : events)
      if (e.compare(0, kind.size() + 1, kind + " ") == 0) out.push_back(e.substr(kind.size() + 1));
    return out;
  }

  std::vector<std::string> events;
  std::vector<u64> startKeys;
  std::vector<std::vector<Move>> games;
  std::vector<std::vector<MoveToken>> gameTokens;
  std::vector<i32> plies;
};

class PgnReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitAttackTables();
    ASSERT_TRUE(dir_.Ok());
  }

  // Reads the text as a PGN file with the reader; the parser stays for
  // inspection.
  i32 Run(const std::string& text, PgnReader& reader, i32 options = 0) {
    const std::string file = dir_.Write("games.pgn", text);
    board_ = Board{};
    board_.SetStartPosition();
    parser_ = std::make_unique<PgnParser>(file, options, &board_, &reader);
    return parser_->Read();
  }

  TempDir dir_;
  Board board_{};
  std::unique_ptr<PgnParser> parser_;
};

Board StartBoard() {
  InitAttackTables();
  Board b{};
  b.SetStartPosition();
  return b;
}

Move Decode(const Board& b, const char* text) {
  Move m = 0;
  return DecodeSanMove(b, text, &m) ? m : 0;
}

// Standard algebraic text of a legal move, disambiguated among the legal
// moves as the notation requires.
std::string San(Move m, const std::vector<Move>& legal) {
  if (IsCastling(m)) return ToSquare(m) > FromSquare(m) ? "O-O" : "O-O-O";
  const i32 from = FromSquare(m);
  const i32 to = ToSquare(m);
  const i32 piece = MovingPiece(m);
  std::string s;
  const bool capture = CapturedPiece(m) != NoPiece;
  if (piece == Pawn) {
    if (capture) s += static_cast<char>('a' + FileOf(from)), s += 'x';
  } else {
    s += "  NBRQK"[piece];
    bool ambiguous = false, sameFile = false, sameRank = false;
    for (const Move o : legal) {
      if (o == m || IsCastling(o) || MovingPiece(o) != piece || ToSquare(o) != to) continue;
      ambiguous = true;
      sameFile |= FileOf(FromSquare(o)) == FileOf(from);
      sameRank |= RankOf(FromSquare(o)) == RankOf(from);
    }
    if (ambiguous && (!sameFile || sameRank)) s += static_cast<char>('a' + FileOf(from));
    if (ambiguous && sameFile) s += static_cast<char>('1' + RankOf(from));
    if (capture) s += 'x';
  }
  s += static_cast<char>('a' + FileOf(to));
  s += static_cast<char>('1' + RankOf(to));
  if (PromotionPiece(m) != NoPiece) s += '=', s += "  NBRQK"[PromotionPiece(m)];
  return s;
}

bool GivesCheck(Board b, Move m) {
  UndoInfo undo;
  b.MakeMove(m, undo);
  return b.InCheck();
}

}  // namespace

// ---------------------------------------------------------------------------
// Move text decoding.

TEST(SanDecoding, EveryLegalMoveOfRandomGamesDecodesToTheGeneratorsWord) {
  const char* const fens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
  };
  std::mt19937 rng(20240611);
  const i32 gamesPerFen = ForTarget(40, 8);
  i64 checked = 0;
  for (const char* fen : fens) {
    for (i32 g = 0; g < gamesPerFen; ++g) {
      Board b = BoardFromFen(fen);
      for (i32 ply = 0; ply < 80; ++ply) {
        const std::vector<Move> legal = LegalMoves(b);
        if (legal.empty()) break;
        for (const Move m : legal) {
          const std::string san = San(m, legal);
          ASSERT_EQ(Decode(b, san.c_str()), m) << fen << " " << san;
          // An annotation may follow the move or its check sign.
          if (GivesCheck(b, m)) {
            ASSERT_EQ(Decode(b, (san + "+!?").c_str()), m) << san;
          }
          ASSERT_EQ(Decode(b, (san + "?!").c_str()), m) << san;
          if (PromotionPiece(m) != NoPiece) {
            std::string bare = san;
            bare.erase(bare.size() - 2, 1);  // "e8=Q" -> "e8Q"
            ASSERT_EQ(Decode(b, bare.c_str()), m) << bare;
          }
          ++checked;
        }
        UndoInfo undo;
        b.MakeMove(legal[rng() % legal.size()], undo);
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

TEST(SanDecoding, CastlingWithLettersOrZeros) {
  const Board w = BoardFromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  const Board b = BoardFromFen("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
  const Move whiteShort = EncodeMove(S("e1"), S("h1"), King, 0, 0, MoveFlagCastle);
  const Move whiteLong = EncodeMove(S("e1"), S("a1"), King, 0, 0, MoveFlagCastle);
  const Move blackShort = EncodeMove(S("e8"), S("h8"), King, 0, 0, MoveFlagCastle);
  const Move blackLong = EncodeMove(S("e8"), S("a8"), King, 0, 0, MoveFlagCastle);
  EXPECT_EQ(Decode(w, "O-O"), whiteShort);
  EXPECT_EQ(Decode(w, "0-0+"), whiteShort);
  EXPECT_EQ(Decode(w, "O-O-O"), whiteLong);
  EXPECT_EQ(Decode(w, "0-O-0#!!"), whiteLong);
  EXPECT_EQ(Decode(b, "O-O"), blackShort);
  EXPECT_EQ(Decode(b, "0-0-0"), blackLong);
  EXPECT_EQ(Decode(w, "O-O!"), whiteShort);
  for (const char* bad : {"O-O-", "O-O-O-O", "O-", "OO", "O-O!+", "o-o", "O-O-O+!?!"})
    EXPECT_EQ(Decode(w, bad), 0u) << bad;
}

TEST(SanDecoding, PawnPushesCapturesEnPassantAndPromotions) {
  const Board start = StartBoard();
  EXPECT_EQ(Decode(start, "e4"), EncodeMove(S("e2"), S("e4"), Pawn, 0, 0, MoveFlagDoublePush));
  EXPECT_EQ(Decode(start, "e3"), EncodeMove(S("e2"), S("e3"), Pawn));
  EXPECT_EQ(Decode(start, "e4!"), EncodeMove(S("e2"), S("e4"), Pawn, 0, 0, MoveFlagDoublePush));
  for (const char* bad : {"e5", "e2e4", "e2-e4", "axh3", "e", "e9", "Pe4", "e4=Q", "e4!!!",
                          "e4!+", "e4+!?!", "e4 ", "e1", "i4", ""})
    EXPECT_EQ(Decode(start, bad), 0u) << bad;

  // A pawn that attacks an empty square decodes as a capture of nothing,
  // which the replay rejects as an invalid move.
  EXPECT_FALSE(start.IsPseudoLegal(Decode(start, "exd3")));

  const Board ep = BoardFromFen("rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3");
  EXPECT_EQ(Decode(ep, "exf6"), EncodeMove(S("e5"), S("f6"), Pawn, Pawn, 0, MoveFlagEnPassant));
  const Move noVictim = Decode(ep, "exd6");
  EXPECT_EQ(noVictim, EncodeMove(S("e5"), S("d6"), Pawn));
  EXPECT_FALSE(ep.IsPseudoLegal(noVictim));

  const Board promo = BoardFromFen("1n2k3/P1P5/8/8/8/8/6p1/4K2R b - - 0 1");
  EXPECT_EQ(Decode(promo, "gxh1=Q+"), EncodeMove(S("g2"), S("h1"), Pawn, Rook, Queen));
  EXPECT_EQ(Decode(promo, "g1N"), EncodeMove(S("g2"), S("g1"), Pawn, 0, Knight));
  EXPECT_EQ(Decode(promo, "g1=K"), 0u);
  EXPECT_EQ(Decode(promo, "g1="), 0u);
  const Board white = BoardFromFen("1n2k3/P1P5/8/8/8/8/6p1/4K2R w - - 0 1");
  EXPECT_EQ(Decode(white, "axb8=R"), EncodeMove(S("a7"), S("b8"), Pawn, Knight, Rook));
  EXPECT_EQ(Decode(white, "cxb8B"), EncodeMove(S("c7"), S("b8"), Pawn, Knight, Bishop));
  EXPECT_EQ(Decode(white, "c8=Q#"), EncodeMove(S("c7"), S("c8"), Pawn, 0, Queen));
}

TEST(SanDecoding, PieceMovesWithDisambiguationAndPins) {
  // Knights on b1 and f3 can both reach d2; the one pinned against its king
  // is skipped.
  const Board pinned = BoardFromFen("4k3/8/8/8/8/5N2/8/KN5r w - - 0 1");
  EXPECT_EQ(Decode(pinned, "Nd2"), EncodeMove(S("f3"), S("d2"), Knight));
  const Board free = BoardFromFen("4k3/8/8/8/8/5N2/8/KN6 w - - 0 1");
  EXPECT_EQ(Decode(free, "Nd2"), EncodeMove(S("b1"), S("d2"), Knight));
  EXPECT_EQ(Decode(free, "Nfd2"), EncodeMove(S("f3"), S("d2"), Knight));
  EXPECT_EQ(Decode(free, "N3d2"), EncodeMove(S("f3"), S("d2"), Knight));
  EXPECT_EQ(Decode(free, "Nf3xd2"), EncodeMove(S("f3"), S("d2"), Knight));
  EXPECT_EQ(Decode(free, "Nbxd2+!!"), EncodeMove(S("b1"), S("d2"), Knight));

  const Board rooks = BoardFromFen("4k3/8/8/R6R/8/8/8/R3K3 w - - 0 1");
  EXPECT_EQ(Decode(rooks, "Rae5"), EncodeMove(S("a5"), S("e5"), Rook));  // a1 cannot reach e5
  EXPECT_EQ(Decode(rooks, "Rhe5"), EncodeMove(S("h5"), S("e5"), Rook));
  EXPECT_EQ(Decode(rooks, "R5a3"), EncodeMove(S("a5"), S("a3"), Rook));
  EXPECT_EQ(Decode(rooks, "R1a3"), EncodeMove(S("a1"), S("a3"), Rook));
  EXPECT_EQ(Decode(rooks, "Ra1a3"), EncodeMove(S("a1"), S("a3"), Rook));
  EXPECT_EQ(Decode(rooks, "Kd2"), EncodeMove(S("e1"), S("d2"), King));
  EXPECT_EQ(Decode(rooks, "Qd1"), 0u);  // no queen
  for (const char* bad : {"R", "Ra", "Rxa", "Rxxa3", "Ra1xxa3", "Ra1a3a", "Ra3=Q", "Ra3!+", "Ri3",
                          "R9a3", "Raaa3", "Ka1a2"})
    EXPECT_EQ(Decode(rooks, bad), 0u) << bad;

  // The captured piece comes from the target square.
  const Board capture = BoardFromFen("4k3/8/8/3q4/8/8/8/3QK3 w - - 0 1");
  EXPECT_EQ(Decode(capture, "Qxd5"), EncodeMove(S("d1"), S("d5"), Queen, Queen));
}

// ---------------------------------------------------------------------------
// The reader.

TEST_F(PgnReaderTest, EventsOfOneGameInOrder) {
  RecordingReader r;
  const std::string pgn =
      "[Event \"Test\"]\n[Result \"1-0\"]\n\n"
      "{opening} 1. e4 $1 {king pawn} e5 2. Nf3 $14 $300 {first} {second} Nc6 1-0\n";
  ASSERT_EQ(Run(pgn, r), 1);
  const std::vector<std::string> expected = {
      "begin", "tag Event=Test", "tag Result=1-0", "start", "comment opening", "nag 1",
      "comment king pawn", "nag 14", "nag 300", "comment first", "comment second",
      "move e4 {king pawn}", "move e5", "move Nf3 {second}", "move Nc6", "game end 0", "end"};
  EXPECT_EQ(r.events, expected);
  ASSERT_EQ(r.gameTokens.size(), 1u);
  const std::vector<MoveToken>& tokens = r.gameTokens[0];
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[0].nags[0], 1);
  EXPECT_EQ(tokens[0].comment, 2);  // the comment before the first move is linked to none
  EXPECT_EQ(tokens[2].nags[0], 14);
  EXPECT_EQ(tokens[2].nags[1], 300 & 255);
  EXPECT_EQ(tokens[2].comment, 4);
  EXPECT_EQ(tokens[3].comment, 0);
  EXPECT_EQ(r.plies, (std::vector<i32>{0, 1, 1, 2}));
  EXPECT_EQ(r.startKeys, std::vector<u64>{StartBoard().key});
  EXPECT_EQ(parser_->gameNumber, 1);
}

TEST_F(PgnReaderTest, ErrorsNameTheLineWhateverTheLineEnds) {
  // Ke3 on the fourth line: no black king reaches e3. The first line, an
  // escaped one, is the longest a line may be: a mebibyte less one character.
  const std::string longest = "%" + std::string((1 << 20) - 2, 'x') + "\n";
  const std::string game = "[Event \"x\"]\n\n1. e4 Ke3 *\n[Event \"y\"]\n\n1. d4 Nd5 *\n";
  // Line feeds, carriage returns with line feeds, and old Macintosh files
  // with carriage returns alone.
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    std::string text;
    for (const char c : longest + game) text += c == '\n' ? end : std::string(1, c);
    RecordingReader r;
    ErrorLogCapture log;
    EXPECT_EQ(Run(text, r), 1);
    EXPECT_EQ(parser_->readFailed, 0);
    EXPECT_EQ(r.Only("error"), (std::vector<std::string>{"2 Ke3 game 0 ply 1 line 4",
                                                          "2 Nd5 game 1 ply 1 line 7"}));
    EXPECT_EQ(log.Messages(),
              (std::vector<std::string>{
                  "Chess PGN : Error parsing move 'Ke3' in game 0 at ply 1, line 4",
                  "Chess PGN : Error parsing move 'Nd5' in game 1 at ply 1, line 7"}));
    EXPECT_EQ(parser_->line, 8);
  }
  // One character more, and the line is taken for one that never ends.
  RecordingReader r;
  ErrorLogCapture log;
  Run("%" + longest + game, r);
  EXPECT_EQ(parser_->readFailed, 1);
  EXPECT_TRUE(r.Only("error").empty());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"Chess PGN : line 1 of \"" + dir_.File("games.pgn") +
                                                     "\" does not end, reading stopped"});
}

TEST_F(PgnReaderTest, MoveGluedToBraceOrParenthesisIsKept) {
  RecordingReader glued, paren;
  Run("[Event \"x\"]\n1. e4 c5{the Sicilian} 2. Nf3 *\n", glued);
  EXPECT_EQ(glued.Only("move"), (std::vector<std::string>{"e4", "c5 {the Sicilian}", "Nf3"}));
  EXPECT_TRUE(glued.Only("error").empty());
  EXPECT_EQ(glued.Only("comment"), std::vector<std::string>{"the Sicilian"});

  Run("[Event \"x\"]\n1. e4 c5(1... e5 2. Nf3) 2. Nf3(2. Nc3) Nc6 *\n", paren);
  EXPECT_EQ(paren.Only("move"), (std::vector<std::string>{"e4", "c5", "Nf3", "Nc6"}));
  EXPECT_TRUE(paren.Only("error").empty());
}

TEST_F(PgnReaderTest, CommentToTheEndOfTheLine) {
  RecordingReader r;
  // A brace in it is text; the next line is movetext again, also after a
  // carriage return.
  Run("[Event \"x\"]\n1. e4 e5 ; a {comment\r\n2. Nf3;glued\n Nc6 3. Bb5 {c; d} *\n", r);
  EXPECT_EQ(r.Only("move"),
            (std::vector<std::string>{"e4", "e5 {a {comment}", "Nf3 {glued}", "Nc6", "Bb5 {c; d}"}));
  EXPECT_EQ(r.Only("comment"), (std::vector<std::string>{"a {comment", "glued", "c; d"}));
  EXPECT_TRUE(r.Only("error").empty());
}

TEST_F(PgnReaderTest, VariationsResultsAndMoveNumbersNeverBecomeMoves) {
  RecordingReader r;
  Run("[Event \"x\"]\n1. e4 (1. d4 d5 (1... Nf6 $2) 2. c4) 1-0 e5 0-1 2. Nf3 1/2-1/2 2... Nc6 * "
      "3.Bb5 3...a6 4. ... *\n",
      r);
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"e4", "e5", "Nf3", "Nc6", "Bb5", "a6"}));
  EXPECT_TRUE(r.Only("nag").empty());  // the NAG inside the variation is skipped too
  EXPECT_TRUE(r.Only("error").empty());
}

TEST_F(PgnReaderTest, NagsFillFourSlotsOfTheLastMove) {
  RecordingReader r;
  Run("[Event \"x\"]\n$7 1. e4 $1 $2 $0 $3 $4 $5 e5 $256 $ *\n", r);
  EXPECT_EQ(r.Only("nag"),
            (std::vector<std::string>{"7", "1", "2", "0", "3", "4", "5", "256", "0"}));
  const std::vector<MoveToken>& tokens = r.gameTokens.at(0);
  ASSERT_EQ(tokens.size(), 2u);
  // $0 leaves its slot free, so $4 takes it; $5 finds no room.
  EXPECT_EQ(std::vector<u8>(tokens[0].nags, tokens[0].nags + 4), (std::vector<u8>{1, 2, 3, 4}));
  EXPECT_EQ(std::vector<u8>(tokens[1].nags, tokens[1].nags + 4), (std::vector<u8>{0, 0, 0, 0}));
}

TEST_F(PgnReaderTest, FenTagSetsTheStartPosition) {
  RecordingReader r;
  const char* fen = "4k3/8/8/8/8/8/4P3/4K3 b - - 0 1";
  Run(std::string("[Event \"x\"]\n[FEN \"") + fen + "\"]\n\n1... Kd7 2. e4 Ke6 *\n", r);
  EXPECT_EQ(r.startKeys, std::vector<u64>{BoardFromFen(fen).key});
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"Kd7", "e4", "Ke6"}));
  EXPECT_EQ(r.plies, (std::vector<i32>{1, 1, 2}));  // Black moves first
  // The next game without the tag starts from the start position again.
  RecordingReader two;
  Run(std::string("[FEN \"") + fen + "\"]\n1... Kd7 *\n[Event \"y\"]\n1. d4 *\n", two);
  EXPECT_EQ(two.startKeys, (std::vector<u64>{BoardFromFen(fen).key, StartBoard().key}));
  EXPECT_EQ(two.Only("move"), (std::vector<std::string>{"Kd7", "d4"}));
}

TEST_F(PgnReaderTest, AGameWhoseFenDoesNotReadIsReportedAndNotReplayed) {
  RecordingReader r;
  ErrorLogCapture log;
  Run("[Event \"a\"]\n1. e4 e5 *\n\n[Event \"b\"]\n[FEN \"rnbqkbnr/pppppppp/9/8 w KQkq - 0 1\"]\n\n"
      "1. Nf3 Nc6 *\n\n[Event \"c\"]\n1. d4 *\n",
      r);
  // Its moves are not given to the position the game before left, and the
  // game after it is read as usual.
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"e4", "e5", "d4"}));
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{
                "Invalid FEN string : 'rnbqkbnr/pppppppp/9/8 w KQkq - 0 1'",
                "Chess PGN : Invalid FEN 'rnbqkbnr/pppppppp/9/8 w KQkq - 0 1' in game 1 at line 5"}));
}

TEST_F(PgnReaderTest, AnnotationBehindAMoveIsItsNumericAnnotation) {
  RecordingReader r;
  Run("[Event \"a\"]\n1. e4! e5? 2. Nf3!! Nc6?? 3. Bb5!? a6?! 4. Ba4+!? $10 *\n\n"
      "[Event \"b\"]\n1. d4 !? d5 *\n",
      r);
  EXPECT_TRUE(r.Only("error").empty());
  EXPECT_EQ(r.Only("move"),
            (std::vector<std::string>{"e4", "e5", "Nf3", "Nc6", "Bb5", "a6", "Ba4+", "d4", "d5"}));
  EXPECT_EQ(r.Only("nag"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "5", "10", "5"}));
  const std::vector<MoveToken>& tokens = r.gameTokens.at(0);
  ASSERT_EQ(tokens.size(), 7u);
  EXPECT_EQ(std::vector<u8>(tokens[6].nags, tokens[6].nags + 4), (std::vector<u8>{5, 10, 0, 0}));
}

TEST_F(PgnReaderTest, IllegalMovesAreInvalidAndLeaveTheBoardSound) {
  RecordingReader r;
  ErrorLogCapture log;
  // Kd7 walks into the bishop's check; O-O has pieces in the way; Nd2
  // lands on an own pawn.
  Run("[Event \"a\"]\n1. e4 d6 2. Bb5+ Kd7 3. a3 *\n[Event \"b\"]\n1. O-O *\n"
      "[Event \"c\"]\n1. Nd2 *\n[Event \"d\"]\n1. d4 *\n",
      r);
  EXPECT_EQ(r.Only("error"), (std::vector<std::string>{"3 Kd7 game 0 ply 2 line 2",
                                                        "3 O-O game 1 ply 0 line 4",
                                                        "3 Nd2 game 2 ply 0 line 6"}));
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"e4", "d6", "Bb5+", "d4"}));
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "Chess PGN : Invalid move 'Kd7' in game 0 at ply 2, line 2",
                                "Chess PGN : Invalid move 'O-O' in game 1 at ply 0, line 4",
                                "Chess PGN : Invalid move 'Nd2' in game 2 at ply 0, line 6"}));
  EXPECT_TRUE(board_.IsConsistent());
}

TEST_F(PgnReaderTest, DisambiguationSkipsAPinnedPiece) {
  RecordingReader r;
  Run("[FEN \"4k3/8/8/8/8/5N2/8/KN5r w - - 0 1\"]\n1. Nd2 Ke7 *\n", r);
  ASSERT_EQ(r.games.at(0).size(), 2u);
  EXPECT_EQ(r.games[0][0], EncodeMove(S("f3"), S("d2"), Knight));
}

TEST_F(PgnReaderTest, GameWithoutMoveNumbersOrCommentsIsNotReplayed) {
  RecordingReader r;
  Run("[Event \"a\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]\ne4 e5 *\n\n[Event \"b\"]\n1. d4 d5 "
      "*\n"
      "[Event \"c\"]\nc4 *\n",
      r);
  // Nothing of the first game passes on to the second: neither its tokens
  // nor its FEN.
  EXPECT_EQ(r.Only("game"), std::vector<std::string>{"end 0"});
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"d4", "d5"}));
  EXPECT_EQ(r.startKeys.at(1), StartBoard().key);

  // A comment alone makes a game replayable.
  RecordingReader c;
  Run("[Event \"a\"]\n{note} e4 e5 *\n", c);
  EXPECT_EQ(c.Only("move"), (std::vector<std::string>{"e4", "e5"}));
}

TEST_F(PgnReaderTest, CommentBeforeTheFirstGameAndGameNumbers) {
  RecordingReader r;
  // The file's preface is reported, but no game.
  Run("{file comment}\n; another\n\n[Event \"a\"]\n1. e4 *\n\n[Event \"b\"]\n1. d4 *\n", r);
  EXPECT_EQ(r.Only("comment"), (std::vector<std::string>{"file comment", "another"}));
  EXPECT_EQ(r.Only("game"), (std::vector<std::string>{"end 0", "end 1"}));
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"e4", "d4"}));
}

TEST_F(PgnReaderTest, TagsWithoutValuesAreSkipped) {
  RecordingReader r;
  Run("[Event]\n[]\n[ ]\n[Site x]\n[  Date   \"1.2\"]\n[White \"A [B] C\"]\n[Black \"\"]\n"
      "[Annotator \"x\" ]\n\n1. e4 *\n",
      r);
  EXPECT_EQ(r.Only("tag"), (std::vector<std::string>{"Date= \"1.2", "White=A [B] C", "Black=",
                                                      "Annotator=x\""}));
  EXPECT_EQ(r.Only("move"), std::vector<std::string>{"e4"});
}

TEST_F(PgnReaderTest, LongTokensTagsAndCommentsAreCutOrRejected) {
  RecordingReader r;
  const std::string longWord(5000, 'y');
  Run("[Event \"" + longWord + "\"]\n{" + longWord + "}\n1. e4 e5 2. Nf3" + longWord +
          " Nc6 *\n[Event \"b\"]\n1. exd8=Q+!? *\n[Event \"c\"]\n1. e4 e5 2. Nf3 Nc6 *\n",
      r);
  // The tag value loses its closing quote's place to the cut.
  ASSERT_EQ(r.Only("tag").size(), 3u);
  EXPECT_EQ(r.Only("tag")[0], "Event=" + std::string(1023 - 5 - 3, 'y'));
  EXPECT_EQ(r.Only("comment").at(0), std::string(1023, 'y'));
  // A move token of more than 7 characters is a parse error shown cut.
  EXPECT_EQ(r.Only("error"), (std::vector<std::string>{"2 Nf3yyyy game 0 ply 1 line 3",
                                                        "2 exd8=Q+ game 1 ply 0 line 5"}));
  EXPECT_EQ(r.games.at(0).size(), 2u);
  EXPECT_EQ(r.games.at(2).size(), 4u);
}

TEST_F(PgnReaderTest, LastMoveWithoutABlankBehindItIsKept) {
  RecordingReader r;
  Run("[Event \"x\"]\n1. e4 e5", r);
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"e4", "e5"}));
}

TEST_F(PgnReaderTest, UnbalancedParenthesisDoesNotHideLaterGames) {
  RecordingReader r;
  Run("[Event \"a\"]\n1. e4 (1. d4 e5 *\n[Event \"b\"]\n1. d4 ) d5 *\n[Event \"c\"]\n1. c4 *\n", r);
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"e4", "d4", "c4"}));
}

TEST_F(PgnReaderTest, ControlCharactersAndHighBytesReadAsBlanks) {
  RecordingReader r;
  Run("[Event\t\"a\xe9\"]\n1.\te4\x01"
      "e5\xff"
      "2. Nf3\x80\x1b",
      r);
  EXPECT_EQ(r.Only("tag"), std::vector<std::string>{"Event=a "});
  EXPECT_EQ(r.Only("move"), (std::vector<std::string>{"e4", "e5", "Nf3"}));
}

TEST_F(PgnReaderTest, OptionsSkipPartsOfTheFile) {
  const std::string pgn = "[Event \"x\"]\n1. e4 {c} $1 e5 *\n";
  RecordingReader noComments, noNags, noReplay, noMovetext;
  Run(pgn, noComments, PgnSkipComments);
  EXPECT_TRUE(noComments.Only("comment").empty());
  EXPECT_EQ(noComments.Only("move"), (std::vector<std::string>{"e4", "e5"}));
  Run(pgn, noNags, PgnSkipNags);
  EXPECT_TRUE(noNags.Only("nag").empty());
  EXPECT_EQ(noNags.gameTokens.at(0)[0].nags[0], 0);
  Run(pgn, noReplay, PgnNoReplay);
  EXPECT_TRUE(noReplay.Only("move").empty());
  EXPECT_EQ(noReplay.Only("game"), std::vector<std::string>{"end 0"});
  EXPECT_EQ(noReplay.gameTokens.at(0).size(), 2u);
  Run(pgn, noMovetext, PgnSkipMovetext);
  EXPECT_TRUE(noMovetext.Only("move").empty());
  EXPECT_EQ(noMovetext.Only("comment"), std::vector<std::string>{"c"});
}

TEST_F(PgnReaderTest, MissingFileIsErrorZeroWithoutBeginOrEnd) {
  RecordingReader r;
  ErrorLogCapture log;
  const std::string missing = dir_.File("missing.pgn");
  PgnParser parser(missing, 0, &board_, &r);
  EXPECT_EQ(parser.Read(), 0);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].compare(0, 8, "error 0 "), 0);
  // The other messages, straight from the hook.
  PgnReader plain;
  parser.gameNumber = 4;
  parser.plyNumber = 7;
  parser.tokenLine = 12;
  plain.OnError(parser, PgnErrorOutOfMemory, nullptr);
  plain.OnError(parser, PgnErrorInvalidFen, "8/8 w");
  plain.OnError(parser, 9, "x");
  EXPECT_EQ(
      log.Messages(),
      (std::vector<std::string>{
          "Chess PGN : File not found \"" + missing + "\"", "Chess PGN : Out of memory",
          "Chess PGN : Invalid FEN '8/8 w' in game 4 at line 12", "Chess PGN : unknown error"}));
}

TEST_F(PgnReaderTest, RandomGamesSurviveTheRoundTrip) {
  std::mt19937 rng(77);
  const i32 gameCount = ForTarget(200, 30);
  std::string pgn;
  std::vector<std::vector<Move>> expected;
  for (i32 g = 0; g < gameCount; ++g) {
    Board b = StartBoard();
    pgn += "[Event \"random " + std::to_string(g) + "\"]\r\n[Result \"*\"]\r\n\r\n";
    std::vector<Move> played;
    i32 column = 0;
    for (i32 ply = 0; ply < 120; ++ply) {
      const std::vector<Move> legal = LegalMoves(b);
      if (legal.empty()) break;
      const Move m = legal[rng() % legal.size()];
      std::string text;
      if (b.sideToMove == White) text = std::to_string(ply / 2 + 1) + ". ";
      else if (ply == 0 || rng() % 8 == 0) text = std::to_string(ply / 2 + 1) + "... ";
      text += San(m, legal) + (GivesCheck(b, m) ? "+" : "") + " ";
      if (rng() % 10 == 0) text += "{a comment (with) [brackets]} ";
      if (rng() % 10 == 0) text += "$" + std::to_string(rng() % 200) + " ";
      if (rng() % 20 == 0) text += "(" + std::to_string(ply / 2 + 1) + ". Qxh7 {no} (Nf3)) ";
      pgn += text;
      column += static_cast<i32>(text.size());
      if (column > 70) pgn += "\r\n", column = 0;
      UndoInfo undo;
      b.MakeMove(m, undo);
      played.push_back(m);
    }
    pgn += "*\r\n\r\n";
    expected.push_back(played);
  }
  RecordingReader r;
  Run(pgn, r);
  EXPECT_TRUE(r.Only("error").empty()) << r.Only("error").at(0);
  EXPECT_EQ(r.games, expected);
}

TEST_F(PgnReaderTest, EcoCollectionReplaysWithoutErrors) {
  if (!FileExists(EcoFile)) GTEST_SKIP() << EcoFile << " missing (package pgn-extract)";
  RecordingReader r;
  PgnParser parser(EcoFile, 0, &board_, &r);
  ASSERT_EQ(parser.Read(), 1);
  EXPECT_TRUE(r.Only("error").empty()) << r.Only("error").at(0);
  EXPECT_EQ(r.games.size(), 2014u);  // its preface comment is no game
  size_t moves = 0, tokens = 0;
  for (const auto& g : r.games) moves += g.size();
  for (const auto& t : r.gameTokens) tokens += t.size();
  EXPECT_EQ(moves, tokens);
  EXPECT_GT(moves, 10000u);
  EXPECT_EQ(parser.totalBytes, static_cast<u64>(ReadWholeFile(EcoFile).size()));
}

// ---------------------------------------------------------------------------
// Robustness: random and mutated input through the reader.

namespace {

// Counts the events and checks what every hook receives.
class CountingReader : public PgnReader {
 public:
  void Begin(PgnParser&) override { ++begins; }
  void End(PgnParser&) override { ++ends; }
  void OnGameStart(PgnParser& p) override {
    ++starts;
    EXPECT_TRUE(p.board->IsConsistent());
  }
  void OnGameEnd(PgnParser&) override { ++games; }
  void OnMove(PgnParser& p, const MoveToken& token, Move move, const char* comment) override {
    ++moves;
    EXPECT_LT(std::strlen(token.text), sizeof token.text);
    EXPECT_TRUE(p.board->IsConsistent()) << token.text;
    EXPECT_FALSE(p.board->IsAttacked(p.board->kingSquare[p.board->opponent], p.board->sideToMove));
    EXPECT_EQ(p.moves.back(), move);
    if (comment) commentBytes += std::strlen(comment);
  }
  void OnComment(PgnParser&, const char* text) override { EXPECT_LT(std::strlen(text), 1024u); }
  void OnTag(PgnParser&, const char* name, const char* value) override {
    EXPECT_LT(std::strlen(name) + std::strlen(value), 1024u);
  }
  void OnError(PgnParser&, i32 code, const char*) override {
    EXPECT_TRUE(code == PgnErrorParse || code == PgnErrorInvalidMove || code == PgnErrorInvalidFen);
    ++errors;
  }
  i64 begins = 0, ends = 0, starts = 0, games = 0, moves = 0, errors = 0, commentBytes = 0;
};

std::string RandomGameText(std::mt19937& rng) {
  Board b = StartBoard();
  std::string text = "[Event \"e\"]\n[Result \"1-0\"]\n";
  if (rng() % 4 == 0)
    text += "[FEN \"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1\"]\n";
  if (text.find("FEN") != std::string::npos)
    b = BoardFromFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  text += "\n";
  for (i32 ply = 0; ply < 40; ++ply) {
    const std::vector<Move> legal = LegalMoves(b);
    if (legal.empty()) break;
    const Move m = legal[rng() % legal.size()];
    if (b.sideToMove == White) text += std::to_string(ply / 2 + 1) + ". ";
    text += San(m, legal) + " ";
    if (rng() % 6 == 0) text += "{c} $3 (1. e4) ";
    UndoInfo undo;
    b.MakeMove(m, undo);
  }
  return text + "1-0\n\n";
}

std::string Mutate(std::string text, std::mt19937& rng) {
  static const char Alphabet[] = "[]{}()\"$.!?+#=-xO0123456789abcdefghNBRQKP *\r\n\t\x80\xff";
  const i32 edits = 1 + static_cast<i32>(rng() % 12);
  for (i32 e = 0; e < edits && !text.empty(); ++e) {
    const size_t at = rng() % text.size();
    switch (rng() % 6) {
      case 0: text[at] = Alphabet[rng() % (sizeof Alphabet - 1)]; break;
      case 1: text.erase(at, 1 + rng() % 8); break;
      case 2: text.insert(at, 1, Alphabet[rng() % (sizeof Alphabet - 1)]); break;
      case 3: text.insert(at, text.substr(rng() % text.size(), rng() % 64)); break;
      case 4: text[at] = static_cast<char>(rng() % 256); break;
      default: text.insert(at, std::string(1 + rng() % 2000, "([{y9"[rng() % 5])); break;
    }
  }
  return text;
}

}  // namespace

TEST_F(PgnReaderTest, RandomAndMutatedInputNeverBreaksTheReader) {
  std::mt19937 rng(4242);
  const std::vector<std::string> nasty = {
      "", "[", "]", "{", "}", "(", ")", "\"", "[Event]", "[Event \"", "[ \"\" ]",
      "[FEN \"\"]\n1. e4",
      "[FEN \"k7/8/8/8/8/8/8/7K w - - 0 1\"]\n1. O-O O-O-O 2. e8=Q exd6",
      "[FEN \"8/8/8/8/8/8/8/8 w - - 0 1\"]\n1. e4",
      "[FEN \"4k3/8/8/8/8/8/8/R3K2R w KQkq - 0 1\"]\n1. O-O-O O-O 2. O-O",
      "[FEN \"k7/8/8/8/8/8/8/P6K b - - 0 1\"]\n1... Kb7 2. a2 a1 axb2",
      "[FEN \"4k3/8/8/8/8/8/8/4K2R w K e6 0 1\"]\n1. dxe6 exd6 Kxe8",
      "1. e4 e5 99999999999999999999999. Nf3 Nc6 4294967297... a6 $99999999999999999999",
      "1." + std::string(100000, '9') + " e4",
      std::string(100000, '(') + "1. e4",
      std::string(100000, ')') + "1. e4",
      "[Event \"x\"]\n" + std::string(5000, '{'),
      std::string(3000, '[') + "]]]",
      "1. e4 " + std::string(70000, '$') + "1. e4 " + std::string(70000, '{') + "}",
  };
  auto runOne = [&](const std::string& text) {
    CountingReader r;
    Run(text, r);
    EXPECT_EQ(r.begins, 1);
    EXPECT_EQ(r.ends, 1);
    EXPECT_TRUE(board_.IsConsistent());
    return r.moves;
  };
  for (const std::string& text : nasty) runOne(text);

  // Comments by the thousand in one game: links past 16 bits stay unlinked.
  std::string manyComments = "[Event \"x\"]\n1. e4 ";
  for (i32 i = 0; i < 70000; ++i) manyComments += "{c}";
  manyComments += " e5 {last}";
  EXPECT_EQ(runOne(manyComments), 2);
  EXPECT_EQ(parser_->gameNumber, 1);

  i64 moves = 0;
  const i32 rounds = ForTarget(1500, 200);
  for (i32 i = 0; i < rounds; ++i) {
    std::string text;
    if (i % 3 == 0) {
      const size_t length = rng() % 3000;
      for (size_t k = 0; k < length; ++k) text += static_cast<char>(rng() % 256);
    } else {
      for (i32 g = 0; g < 3; ++g) text += RandomGameText(rng);
      text = Mutate(text, rng);
    }
    moves += runOne(text);
  }
  EXPECT_GT(moves, 0);
}
