#include <gtest/gtest.h>

#include <string>

#include "engine/engine.h"
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
