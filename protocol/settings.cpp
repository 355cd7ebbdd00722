#include "protocol/settings.h"

#include <cstring>

#include "common/build_info.h"
#include "engine/search_thread.h"

const char* const ConfigFileName = "zorvel.ini";
const char* const DefaultBookFile = "zorvelbook-20.bin";

void SetDefaultSettings(Settings& settings, std::string& bookFile, std::string& personalityFile) {
  settings = Settings{};
  std::strncpy(settings.wordSizeLabel, WordSizeLabel, sizeof settings.wordSizeLabel - 1);
  settings.wordSizeLabel[sizeof settings.wordSizeLabel - 1] = 0;
  bookFile = DefaultBookFile;
  personalityFile = "";
}

void ReadSettings(IniFile& ini, Settings& settings, std::string& bookFile,
                  std::string& personalityFile) {
  // Every number is held to the range its option announces (the switches
  // to 0..1); a value held is noted with its line. A file that lacks "Hash"
  // gives the smallest table; a value that is no number leaves the size the
  // program has without the file.
  settings.Hash = ini.Has("Hash") ? ini.GetInt("Hash", 32, MinHashMegabytes, MaxHashMegabytes) : 1;
  settings.Book = ini.GetInt("Book", 0, 0, 1);
  bookFile = ini.GetString("BookFile", DefaultBookFile);
  settings.BookSelectivity = ini.GetInt("BookSelectivity", 100, 1, 100);
  settings.UseStrength = ini.GetInt("UseStrength", 0, 0, 1);
  settings.StrengthELO = ini.GetInt("StrengthELO", 2700, MinStrengthElo, MaxStrengthElo);
  settings.MaxThreads = ini.GetInt("MaxThreads", 1, MinSearchThreads, MaxSearchThreads);
  // Counted in quarter plies by the search; more plies than a search reaches
  // mean no split at all.
  settings.MinSplitDepth = ini.GetInt("MinSplitDepth", 4, 1, MaxPly);
  settings.UsePersonality = ini.GetInt("UsePersonality", 0, 0, 1);
  settings.personalityActive = settings.UsePersonality == 1 ? 1 : 0;
  personalityFile = ini.GetString("PersonalityFile", "");
  settings.LogLevel = ini.GetInt("LogLevel", 0, 0, 127);
  settings.LogFormat = ini.GetInt("LogFormat", 0, 0, 1);
  settings.LogPID = ini.GetInt("LogPID", 0, 0, 1);
  settings.UseNullMovePruning = ini.GetInt("UseNullMovePruning", 1, 0, 1);
  settings.UseLMR = ini.GetInt("UseLMR", 1, 0, 1);
  settings.DrawScore = ini.GetInt("DrawScore", 0, MinDrawScore, MaxDrawScore);
  settings.UseInputThread = ini.GetInt("UseInputThread", 1, 0, 1);
  ini.NoteUnknownKeys();
}
