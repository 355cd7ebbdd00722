// The configuration record, read from "zorvel.ini" at start-up and changed at
// run time by the protocols' options.
#pragma once

#include <string>

#include "common/inifile.h"
#include "common/types.h"

// The name of the configuration file, looked up in the working directory.
extern const char* const ConfigFileName;

// The ranges of the numbers that are also UCI spin options: the file and the
// options hold a value to the same range.
constexpr i32 MinHashMegabytes = 1;
constexpr i32 MaxHashMegabytes = 2048;
constexpr i32 MinStrengthElo = 1000;
constexpr i32 MaxStrengthElo = 2700;
constexpr i32 MinDrawScore = -100;
constexpr i32 MaxDrawScore = 100;

struct Settings {
  i32 Hash = 32;               // transposition table size in MB
  i32 Book = 0;                // own opening book on (non-zero) or off
  i32 BookSelectivity = 100;   // book move choice, 1..100 percent
  i32 UseStrength = 0;         // strength limit on (non-zero) or off
  i32 StrengthELO = 2700;      // strength limit in Elo
  i32 MaxThreads = 1;          // search threads, 1..64
  i32 MinSplitDepth = 4;       // minimum split depth in plies, at least 1
  i32 UsePersonality = 0;      // personality file on (non-zero) or off
  i32 LogLevel = 0;            // bit i enables log level i
  i32 LogFormat = 0;           // 0 text log, anything else HTML
  i32 LogPID = 0;              // the process id is part of the log file name
  i32 UseNullMovePruning = 1;
  i32 UseLMR = 1;
  i32 DrawScore = 0;           // centipawns
  i32 UseInputThread = 1;      // a separate thread reads standard input
  u8 personalityActive = 0;    // a personality is in use
  char wordSizeLabel[8] = {};  // "32 bits" or "64 bits", printed after the version
};

// The book file name without the configuration file or its "BookFile" key.
extern const char* const DefaultBookFile;

// Fills the settings with the values a program without configuration file uses.
void SetDefaultSettings(Settings& settings, std::string& bookFile, std::string& personalityFile);

// Reads every key from a loaded configuration file, with the defaults for
// missing keys, in the order of the record. Each number is held to its
// range. A value that is no whole number keeps the key's default (for
// "Hash" 32, the size without the file); it, a value held to its range and a
// key that is not one of these are noted in the file's notes.
void ReadSettings(IniFile& ini, Settings& settings, std::string& bookFile,
                  std::string& personalityFile);
