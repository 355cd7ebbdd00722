#include "engine/personality.h"

#include <climits>
#include <cstdarg>
#include <cstdio>

#include "board/board.h"
#include "common/inifile.h"
#include "common/log.h"
#include "engine/eval_tables.h"

namespace {

// The file's keys in the record's order, with the value a missing key takes
// and the range a value is clamped to. Several of these defaults differ from
// the built-in tables, so loading a file that lacks a key can still change
// the evaluation.
//
// The ranges leave room for strong personalities (material from half to one
// and a half times the usual values, twice for the pawn; the pawn and rook
// terms and the bishop pair many times theirs; king safety up to 200 percent,
// mobility up to 300 percent) while every evaluation stays far from the mate
// scores: summing every term at its largest with every weight at its limit
// gives about 25000 for positions whose phase is at most the start's. Past
// that phase, after promotions, the phase blend extrapolates, and Evaluate
// holds the score within EvalLimit. The limits also keep every material sum
// and move-ordering score far from overflowing 32 bits.
struct PersonalityKey {
  const char* name;
  i32 defaultValue;
  i32 minimum;
  i32 maximum;
  i32 Personality::*field;
};

constexpr PersonalityKey PersonalityKeys[] = {
    {"PawnValue", 100, 50, 200, &Personality::PawnValue},
    {"KnightValue", 325, 150, 500, &Personality::KnightValue},
    {"BishopValue", 325, 150, 500, &Personality::BishopValue},
    {"RookValue", 500, 250, 750, &Personality::RookValue},
    {"QueenValue", 975, 500, 1500, &Personality::QueenValue},
    {"BishopPair", 50, -200, 200, &Personality::BishopPair},
    {"PawnDoubledMid", 10, -100, 100, &Personality::PawnDoubledMid},
    {"PawnDoubledEnd", 10, -100, 100, &Personality::PawnDoubledEnd},
    {"PawnIsolatedMid", 20, -100, 100, &Personality::PawnIsolatedMid},
    {"PawnIsolatedEnd", 20, -100, 100, &Personality::PawnIsolatedEnd},
    {"PawnBackwardMid", 10, -100, 100, &Personality::PawnBackwardMid},
    {"PawnBackwardEnd", 10, -100, 100, &Personality::PawnBackwardEnd},
    {"RookOpenFileMid", 20, -100, 100, &Personality::RookOpenFileMid},
    {"RookOpenFileEnd", 20, -100, 100, &Personality::RookOpenFileEnd},
    {"RookSemiOpenFileMid", 10, -100, 100, &Personality::RookSemiOpenFileMid},
    {"RookSemiOpenFileEnd", 10, -100, 100, &Personality::RookSemiOpenFileEnd},
    {"Rook7thRankMid", 20, -100, 100, &Personality::Rook7thRankMid},
    {"Rook7thRankEnd", 20, -100, 100, &Personality::Rook7thRankEnd},
    {"KingSafetyOwn", 100, 0, 200, &Personality::KingSafetyOwn},
    {"KingSafetyOpp", 100, 0, 200, &Personality::KingSafetyOpp},
    {"MobilityOwn", 100, 0, 300, &Personality::MobilityOwn},
    {"MobilityOpp", 100, 0, 300, &Personality::MobilityOpp},
    {"Randomness", 0, 0, 100, &Personality::Randomness},
    {"ReduceSpeed", 0, 0, INT32_MAX, &Personality::ReduceSpeed},
};

// Logs a message at the level and, when notes is given, keeps its text.
void Report(std::vector<std::string>* notes, i32 level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void Report(std::vector<std::string>* notes, i32 level, const char* format, ...) {
  char text[512];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  gLog.Print(level, "%s", text);
  if (notes) notes->push_back(text);
}

}  // namespace

int Personality::Load(const char* fileName, std::vector<std::string>* notes) {
  IniFile file;
  const int result = file.Load(fileName);
  if (result == 0) {
    // The empty name is how the protocols ask for the built-in weights.
    if (fileName[0] != 0) Report(notes, LogError, "personality file not readable : %s", fileName);
    Init(0);
    active = 0;
    return 0;
  }
  // A file with data but none of the weights (a binary file, the settings of
  // another program) is no personality: the built-in weights stay. An empty
  // file, or one of comments only, installs the defaults.
  bool known = false;
  for (const PersonalityKey& key : PersonalityKeys) known = known || file.Has(key.name);
  if (!known && file.dataLines > 0) {
    Report(notes, LogError, "personality file %s holds no known setting", fileName);
    Init(0);
    active = 0;
    return 0;
  }
  gLog.Info("load personality %s", fileName);
  for (const PersonalityKey& key : PersonalityKeys)
    this->*key.field = file.GetInt(key.name, key.defaultValue, key.minimum, key.maximum);
  file.NoteUnknownKeys();
  // Keys given twice, values that are no numbers or outside their range and
  // keys that are none of the weights: the first values, the defaults or the
  // limits are in use.
  for (const std::string& note : file.notes) Report(notes, LogWarning, "personality %s", note.c_str());
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
