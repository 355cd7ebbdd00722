#include <gtest/gtest.h>

#include <string>

#include "common/build_info.h"
#include "protocol/settings.h"

namespace {

struct Loaded {
  Settings settings;
  std::string bookFile;
  std::string personalityFile;
};

Loaded Read(std::initializer_list<std::pair<std::string, std::string>> pairs) {
  IniFile ini;
  for (const auto& pair : pairs) ini.pairs.push_back(pair);
  Loaded loaded;
  SetDefaultSettings(loaded.settings, loaded.bookFile, loaded.personalityFile);
  ReadSettings(ini, loaded.settings, loaded.bookFile, loaded.personalityFile);
  return loaded;
}

}  // namespace

TEST(SettingsTest, DefaultsWithoutAFile) {
  Settings settings;
  std::string bookFile = "x";
  std::string personalityFile = "y";
  SetDefaultSettings(settings, bookFile, personalityFile);
  EXPECT_EQ(settings.Hash, 32);
  EXPECT_EQ(settings.Book, 0);
  EXPECT_EQ(bookFile, "zorvelbook-20.bin");
  EXPECT_EQ(personalityFile, "");
  EXPECT_EQ(settings.BookSelectivity, 100);
  EXPECT_EQ(settings.StrengthELO, 2700);
  EXPECT_EQ(settings.MaxThreads, 1);
  EXPECT_EQ(settings.MinSplitDepth, 4);
  EXPECT_EQ(settings.LogLevel, 0);
  EXPECT_EQ(settings.UseNullMovePruning, 1);
  EXPECT_EQ(settings.UseLMR, 1);
  EXPECT_EQ(settings.UseInputThread, 1);
  EXPECT_EQ(settings.personalityActive, 0);
  EXPECT_STREQ(settings.wordSizeLabel, WordSizeLabel);
}

TEST(SettingsTest, AnEmptyFileGivesTheMissingKeyDefaults) {
  const Loaded loaded = Read({});
  // A file without "Hash" gives the smallest table; the book name is the
  // one without a file.
  EXPECT_EQ(loaded.settings.Hash, 1);
  EXPECT_EQ(loaded.bookFile, "zorvelbook-20.bin");
  EXPECT_EQ(loaded.settings.BookSelectivity, 100);
  EXPECT_EQ(loaded.settings.MaxThreads, 1);
  EXPECT_EQ(loaded.settings.UseInputThread, 1);
  EXPECT_EQ(loaded.settings.UseNullMovePruning, 1);
}

TEST(SettingsTest, ValuesAreClamped) {
  Loaded loaded = Read({{"Hash", "5000"}, {"MaxThreads", "0"}, {"MinSplitDepth", "0"},
                        {"BookSelectivity", "250"}, {"StrengthELO", "1500"}});
  EXPECT_EQ(loaded.settings.Hash, 2048);
  EXPECT_EQ(loaded.settings.MaxThreads, 1);
  EXPECT_EQ(loaded.settings.MinSplitDepth, 1);
  EXPECT_EQ(loaded.settings.BookSelectivity, 100);
  EXPECT_EQ(loaded.settings.StrengthELO, 1500);

  loaded = Read({{"Hash", "-3"}, {"MaxThreads", "65"}, {"BookSelectivity", "0"},
                 {"MinSplitDepth", "9"}, {"StrengthELO", "5000"}, {"DrawScore", "-500"}});
  EXPECT_EQ(loaded.settings.Hash, 1);
  EXPECT_EQ(loaded.settings.MaxThreads, 64);
  EXPECT_EQ(loaded.settings.BookSelectivity, 1);
  EXPECT_EQ(loaded.settings.MinSplitDepth, 9);
  EXPECT_EQ(loaded.settings.StrengthELO, 2700);
  EXPECT_EQ(loaded.settings.DrawScore, -100);
}

TEST(SettingsTest, EveryKeyIsRead) {
  const Loaded loaded = Read({{"Hash", "64"},           {"Book", "1"},
                              {"BookFile", "my.bin"},   {"UseStrength", "1"},
                              {"UsePersonality", "1"},  {"PersonalityFile", "p.txt"},
                              {"LogLevel", "127"},      {"LogFormat", "1"},
                              {"LogPID", "1"},          {"UseNullMovePruning", "0"},
                              {"UseLMR", "0"},          {"DrawScore", "-25"},
                              {"UseInputThread", "0"},  {"MaxThreads", "8"}});
  const Settings& s = loaded.settings;
  EXPECT_EQ(s.Hash, 64);
  EXPECT_EQ(s.Book, 1);
  EXPECT_EQ(loaded.bookFile, "my.bin");
  EXPECT_EQ(s.UseStrength, 1);
  EXPECT_EQ(s.UsePersonality, 1);
  EXPECT_EQ(s.personalityActive, 1);
  EXPECT_EQ(loaded.personalityFile, "p.txt");
  EXPECT_EQ(s.LogLevel, 127);
  EXPECT_EQ(s.LogFormat, 1);
  EXPECT_EQ(s.LogPID, 1);
  EXPECT_EQ(s.UseNullMovePruning, 0);
  EXPECT_EQ(s.UseLMR, 0);
  EXPECT_EQ(s.DrawScore, -25);
  EXPECT_EQ(s.UseInputThread, 0);
  EXPECT_EQ(s.MaxThreads, 8);
}

TEST(SettingsTest, SwitchesAreOnOrOff) {
  EXPECT_EQ(Read({{"UsePersonality", "2"}}).settings.personalityActive, 1);
  EXPECT_EQ(Read({{"UsePersonality", "2"}}).settings.UsePersonality, 1);
  EXPECT_EQ(Read({{"UsePersonality", "x"}}).settings.UsePersonality, 0);  // not a number
}
