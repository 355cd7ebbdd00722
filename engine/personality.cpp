#include "engine/personality.h"

#include "board/board.h"
#include "common/inifile.h"
#include "common/log.h"
#include "engine/eval_tables.h"

namespace {

// The file's keys in the record's order, with the value a missing key takes.
// Several of these defaults differ from the built-in tables, so loading a
// file that lacks a key can still change the evaluation.
struct PersonalityKey {
  const char* name;
  i32 defaultValue;
  i32 Personality::*field;
};

constexpr PersonalityKey PersonalityKeys[] = {
    {"PawnValue", 100, &Personality::PawnValue},
    {"KnightValue", 325, &Personality::KnightValue},
    {"BishopValue", 325, &Personality::BishopValue},
    {"RookValue", 500, &Personality::RookValue},
    {"QueenValue", 975, &Personality::QueenValue},
    {"BishopPair", 50, &Personality::BishopPair},
    {"PawnDoubledMid", 10, &Personality::PawnDoubledMid},
    {"PawnDoubledEnd", 10, &Personality::PawnDoubledEnd},
    {"PawnIsolatedMid", 20, &Personality::PawnIsolatedMid},
    {"PawnIsolatedEnd", 20, &Personality::PawnIsolatedEnd},
    {"PawnBackwardMid", 10, &Personality::PawnBackwardMid},
    {"PawnBackwardEnd", 10, &Personality::PawnBackwardEnd},
    {"RookOpenFileMid", 20, &Personality::RookOpenFileMid},
    {"RookOpenFileEnd", 20, &Personality::RookOpenFileEnd},
    {"RookSemiOpenFileMid", 10, &Personality::RookSemiOpenFileMid},
    {"RookSemiOpenFileEnd", 10, &Personality::RookSemiOpenFileEnd},
    {"Rook7thRankMid", 20, &Personality::Rook7thRankMid},
    {"Rook7thRankEnd", 20, &Personality::Rook7thRankEnd},
    {"KingSafetyOwn", 100, &Personality::KingSafetyOwn},
    {"KingSafetyOpp", 100, &Personality::KingSafetyOpp},
    {"MobilityOwn", 100, &Personality::MobilityOwn},
    {"MobilityOpp", 100, &Personality::MobilityOpp},
    {"Randomness", 0, &Personality::Randomness},
    {"ReduceSpeed", 0, &Personality::ReduceSpeed},
};

}  // namespace

int Personality::Load(const char* fileName) {
  IniFile file;
  const int result = file.Load(fileName);
  if (result == 0) {
    Init(0);
    active = 0;
    return 0;
  }
  gLog.Info("load personality %s", fileName);
  for (const PersonalityKey& key : PersonalityKeys)
    this->*key.field = file.GetInt(key.name, key.defaultValue);
  Init(1);
  active = 1;
  return result;
}

void Personality::Init(int loaded) {
  RestoreBuiltinEvalTables();
  if (loaded == 1) {
    gLog.Info("init personality");
    PieceValue[Pawn] = PawnValue;
    PieceValue[Knight] = KnightValue;
    PieceValue[Bishop] = BishopValue;
    PieceValue[Rook] = RookValue;
    PieceValue[Queen] = QueenValue;
    BishopPairBonus = {BishopPair, BishopPair};
    DoubledPawnPenalty = {PawnDoubledMid, PawnDoubledEnd};
    IsolatedPawnPenalty = {PawnIsolatedMid, PawnIsolatedEnd};
    BackwardPawnPenalty = {PawnBackwardMid, PawnBackwardEnd};
    RookOpenFileBonus = {RookOpenFileMid, RookOpenFileEnd};
    RookSemiOpenFileBonus = {RookSemiOpenFileMid, RookSemiOpenFileEnd};
    RookSeventhRankBonus = {Rook7thRankMid, Rook7thRankEnd};
  }
  InitPieceSquareTables();
}
