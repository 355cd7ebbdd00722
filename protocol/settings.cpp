#include "protocol/settings.h"

#include <cstring>

#include "common/build_info.h"

const char* const ConfigFileName = "zorvel.ini";
const char* const DefaultBookFile = "zorvelbook-20.bin";

namespace {

i32 Clamp(i32 value, i32 low, i32 high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

}  // namespace

void SetDefaultSettings(Settings& settings, std::string& bookFile, std::string& personalityFile) {
  settings = Settings{};
  std::strncpy(settings.wordSizeLabel, WordSizeLabel, sizeof settings.wordSizeLabel - 1);
  settings.wordSizeLabel[sizeof settings.wordSizeLabel - 1] = 0;
  bookFile = DefaultBookFile;
  personalityFile = "";
}

void ReadSettings(IniFile& ini, Settings& settings, std::string& bookFile,
                  std::string& personalityFile) {
  // A file that lacks "Hash" gives the smallest table; a value that is no
  // number leaves the size the program has without the file.
  settings.Hash = Clamp(ini.Has("Hash") ? ini.GetInt("Hash", 32) : 0, 1, 2048);
  settings.Book = ini.GetInt("Book", 0);
  bookFile = ini.GetString("BookFile", DefaultBookFile);
  settings.BookSelectivity = Clamp(ini.GetInt("BookSelectivity", 100), 1, 100);
  settings.UseStrength = ini.GetInt("UseStrength", 0);
  settings.StrengthELO = ini.GetInt("StrengthELO", 2700);
  settings.MaxThreads = Clamp(ini.GetInt("MaxThreads", 1), 1, 64);
  settings.MinSplitDepth = ini.GetInt("MinSplitDepth", 4);
  if (settings.MinSplitDepth < 1) settings.MinSplitDepth = 1;
  settings.UsePersonality = ini.GetInt("UsePersonality", 0);
  settings.personalityActive = settings.UsePersonality == 1 ? 1 : 0;
  personalityFile = ini.GetString("PersonalityFile", "");
  settings.LogLevel = ini.GetInt("LogLevel", 0);
  settings.LogFormat = ini.GetInt("LogFormat", 0);
  settings.LogPID = ini.GetInt("LogPID", 0);
  settings.UseNullMovePruning = ini.GetInt("UseNullMovePruning", 1);
  settings.UseLMR = ini.GetInt("UseLMR", 1);
  settings.DrawScore = ini.GetInt("DrawScore", 0);
  settings.UseInputThread = ini.GetInt("UseInputThread", 1);
}
