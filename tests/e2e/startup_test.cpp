// Start-up, the configuration file, the log, the protocol chooser and the
// exit status, through the real engine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/build_info.h"
#include "e2e/e2e_support.h"

namespace {

// The "option name <name> ..." line of the "uci" answer.
std::string OptionLine(Session& session, const std::string& name) {
  for (const std::string& line : session.engine().LinesStartingWith("option name " + name + " type"))
    return line;
  return "";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// "-help" on an emulated processor model: exit status, standard output and
// standard error.
struct EmulatedRun {
  int status = -1;
  std::string out, err;
};

EmulatedRun HelpOnProcessor(const std::string& cpu) {
  TempDir dir;
  const std::string command = std::string("timeout 300 '") + ZORVEL_X86_64_EMULATOR + "' -cpu " + cpu +
                              " '" + ZORVEL_BINARY + "' -help >'" + dir.File("out") + "' 2>'" +
                              dir.File("err") + "' </dev/null";
  const int raw = std::system(command.c_str());
  EmulatedRun run;
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  run.out = dir.Read("out");
  run.err = dir.Read("err");
  return run;
}

}  // namespace

// A build that counts bits with the population-count instruction says so in
// one line and ends with status 1 on a processor without it, before anything
// could run the instruction; with it the program runs.
TEST(ProcessorCheck, RefusesAProcessorWithoutPopcnt) {
  if (std::string(ZORVEL_X86_64_EMULATOR).empty())
    GTEST_SKIP() << "no x86-64 emulator, or a build without the instruction";
  const EmulatedRun without = HelpOnProcessor("qemu64,-popcnt");
  EXPECT_EQ(without.status, 1);
  EXPECT_EQ(without.out, "");
  EXPECT_EQ(without.err,
            "zorvel: this processor lacks the popcnt instruction this build uses "
            "(build with -DZORVEL_X86_64_BASELINE=ON for it)\n");
  const EmulatedRun with = HelpOnProcessor("qemu64,+popcnt");
  EXPECT_EQ(with.status, 0);
  EXPECT_TRUE(Contains(with.out, "\nUsing hardware popcount\n")) << with.out;
  EXPECT_EQ(with.err, "");
}

TEST(ConfigFile, DefaultsAndClamps) {
  {
    Session session("");  // no file at all
    ASSERT_TRUE(session.StartUci());
    EXPECT_EQ(OptionLine(session, "Hash"), "option name Hash type spin default 32 min 1 max 2048");
    EXPECT_EQ(OptionLine(session, "Book File"),
              "option name Book File type string default zorvelbook-20.bin");
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    Session session("UseInputThread=1\n");  // a file without "Hash"
    ASSERT_TRUE(session.StartUci());
    EXPECT_EQ(OptionLine(session, "Hash"), "option name Hash type spin default 1 min 1 max 2048");
    EXPECT_EQ(OptionLine(session, "Book File"),
              "option name Book File type string default zorvelbook-20.bin");
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    // The options are announced before the table is made: the test does not
    // wait for two gigabytes.
    Session session("Hash=5000\n");
    session.Send("uci");
    EXPECT_EQ(session.WaitFor("option name Hash"), "option name Hash type spin default 2048 min 1 max 2048");
    session.engine().WaitExit(0);
  }
  const std::string clamped = "Hash=-7\nMaxThreads=0\nMinSplitDepth=0\nBookSelectivity=250\n"
                              "StrengthELO=1500\n; a comment\n# another\nUnknownKey=7\nBook=1\nBookFile=none.bin\n";
  {
    Session session(clamped);
    ASSERT_TRUE(session.StartUci());
    EXPECT_EQ(OptionLine(session, "Hash"), "option name Hash type spin default 1 min 1 max 2048");
    EXPECT_EQ(OptionLine(session, "Threads"), "option name Threads type spin default 1 min 1 max 64");
    EXPECT_EQ(OptionLine(session, "UCI_Elo"),
              "option name UCI_Elo type spin default 1500 min 1000 max 2700");
    // The configured book is missing: OwnBook is announced off, and the
    // interface hears why after "uciok".
    EXPECT_EQ(OptionLine(session, "OwnBook"), "option name OwnBook type check default false");
    EXPECT_EQ(session.WaitFor("info string"), "info string book file not found");
    session.Send("go depth 2");
    EXPECT_TRUE(GameTracker().IsLegal(MoveOfLine(session.WaitFor("bestmove"))));
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    Session session(clamped);
    ASSERT_TRUE(session.StartXBoard());
    EXPECT_EQ(session.engine().LinesStartingWith("telluser"),
              std::vector<std::string>{"telluser book file not found"});
    EXPECT_EQ(session.Quit(), 0);
  }
}

TEST(ConfigFile, AnOverlongLineIsDroppedWhole) {
  // A commented-out line that fills the reader's buffer: its tail is no setting.
  Session session(TestIni(1, "LogLevel=16\n#" + std::string(1022, 'x') + "MaxThreads=3\n"));
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(OptionLine(session, "Threads"), "option name Threads type spin default 1 min 1 max 64");
  EXPECT_EQ(session.Quit(), 0);
  EXPECT_TRUE(Contains(session.dir().Read("logfile.txt"),
                       "ERROR      zorvel.ini : line 5 longer than 1023 characters ignored\n"));
}

TEST(LogFile, TextLogOfTheDialogue) {
  Session session(TestIni(1, "LogLevel=64\n"));  // GUI lines only
  ASSERT_TRUE(session.StartUci());
  session.Send("isready");
  session.WaitFor("readyok");
  EXPECT_EQ(session.Quit(), 0);
  ASSERT_TRUE(session.dir().Exists("logfile.txt"));
  const std::string log = session.dir().Read("logfile.txt");
  EXPECT_TRUE(Contains(log, "GUI        << uci\n"));
  EXPECT_TRUE(Contains(log, "GUI        >> uciok\n"));
  EXPECT_TRUE(Contains(log, "GUI        >> Zorvel 2.0 ("));
  EXPECT_TRUE(Contains(log, "GUI        << isready\n"));
  EXPECT_TRUE(Contains(log, "GUI        >> readyok\n"));
  EXPECT_TRUE(Contains(log, "GUI        << quit\n"));
  EXPECT_FALSE(Contains(log, " INFO       "));
  EXPECT_TRUE(Contains(log, "\nGUI = "));
}

TEST(LogFile, FullHtmlLogNamedWithTheProcessId) {
  Session session(TestIni(1, "LogLevel=127\nLogFormat=1\nLogPID=1\n"));
  ASSERT_TRUE(session.StartUci());
  session.Send("position startpos moves e2e4 e9e5");
  session.WaitFor("info string");
  EXPECT_EQ(session.Quit(), 0);
  std::string name;
  for (const std::string& file : session.dir().List())
    if (file.rfind("logfile_", 0) == 0) name = file;
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.substr(name.size() - 5), ".html");
  EXPECT_FALSE(session.dir().Exists("logfile.txt"));
  const std::string log = session.dir().Read(name);
  EXPECT_TRUE(Contains(log, "html/style.css"));
  EXPECT_TRUE(Contains(log, "<td>&lt;&lt; uci</td>"));
  EXPECT_TRUE(Contains(log, "<td>&gt;&gt; uciok</td>"));
  EXPECT_TRUE(Contains(log, std::string("<td>Zorvel 2.0 ") + WordSizeLabel + "</td>"));
  EXPECT_TRUE(Contains(log, "<td>using protocol UCI</td>"));
  EXPECT_TRUE(Contains(log, "<td>Illegal move: e9e5</td>"));
  EXPECT_TRUE(Contains(log, "<td>End.</td>"));
  EXPECT_TRUE(Contains(log, "</html>"));
}

// The log never makes the engine or a tool wait, nor ends it: a log that
// cannot be opened or written is told in one line on standard error, and the
// engine plays on without it.
TEST(LogFile, NeitherOpeningNorWritingTheLogEverWaits) {
  const std::string ini = TestIni(1, "LogLevel=127\n");
  for (const bool tool : {false, true}) {
    // A pipe without a reader: opening it would wait for one.
    TempDir dir;
    TempDir errors;
    dir.Write("zorvel.ini", ini);
    ASSERT_EQ(mkfifo(dir.File("logfile.txt").c_str(), 0600), 0);
    EngineProcess engine(dir.path(), tool ? std::vector<std::string>{"-perft", "2"}
                                          : std::vector<std::string>{},
                         errors.File("stderr.txt"));
    if (tool) {
      EXPECT_EQ(engine.WaitFor("Nodes", ScaledTimeout(20000)), "Nodes = 400");
      engine.CloseInput();
    } else {
      engine.Send("uci");
      EXPECT_EQ(engine.WaitFor("uciok", ScaledTimeout(20000)), "uciok");
      engine.Send("quit");
    }
    EXPECT_EQ(engine.WaitExit(ScaledTimeout(10000)), 0);
    EXPECT_EQ(errors.Read("stderr.txt"),
              "cannot open log file 'logfile.txt' (a pipe without a reader)\n");
  }
  {
    // A reader that never reads: once the pipe is full, a write would wait.
    TempDir dir;
    TempDir errors;
    dir.Write("zorvel.ini", ini);
    ASSERT_EQ(mkfifo(dir.File("logfile.txt").c_str(), 0600), 0);
    const int reader = open(dir.File("logfile.txt").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EngineProcess engine(dir.path(), {}, errors.File("stderr.txt"));
    engine.Send("uci");
    EXPECT_EQ(engine.WaitFor("uciok", ScaledTimeout(20000)), "uciok");
    // Few input bytes, which the engine's input pipe holds even when it
    // waits, for more log lines than any pipe holds.
    for (int i = 0; i < 1000; ++i) engine.Send("divide 1");
    engine.Send("isready");
    EXPECT_EQ(engine.WaitFor("readyok", ScaledTimeout(20000)), "readyok");
    engine.Send("quit");
    EXPECT_EQ(engine.WaitExit(ScaledTimeout(10000)), 0);
    close(reader);
    EXPECT_EQ(errors.Read("stderr.txt"),
              "cannot write log file 'logfile.txt' (its reader does not keep up)\n");
  }
}

TEST(LogFile, NoLogWithoutLevels) {
  Session session(TestIni(1, "LogLevel=0\n"));
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(session.Quit(), 0);
  for (const std::string& file : session.dir().List()) EXPECT_EQ(file.rfind("logfile", 0), std::string::npos) << file;
}

TEST(ProtocolChooser, SetvalueLinesAreIgnored) {
  Session session(TestIni(1, "LogLevel=127\n"));
  session.Send("setvalue Hash 64");
  session.Send("setvalue anything");
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(session.Quit(), 0);
}

TEST(ProtocolChooser, AnUnknownFirstLineEndsTheProgram) {
  Session session(TestIni(1, "LogLevel=127\n"));
  session.Send("hello engine");
  EXPECT_NE(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  EXPECT_TRUE(Contains(session.dir().Read("logfile.txt"), "ERROR      unknown protocol 'hello engine'"));
}

TEST(ProtocolChooser, QuitAndEndOfInputBeforeAProtocol) {
  {
    Session session(TestIni(1));
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    Session session(TestIni(0));
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    Session session(TestIni(1));
    session.engine().CloseInput();
    EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  }
  {
    Session session(TestIni(0));
    session.engine().CloseInput();
    EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  }
}

TEST(ProtocolChooser, XBoardFirstLine) {
  Session session(TestIni(1, "LogLevel=1\n"));
  ASSERT_TRUE(session.StartXBoard());
  session.Send("ping 9");
  EXPECT_EQ(session.WaitFor("pong"), "pong 9");
  EXPECT_EQ(session.Quit(), 0);
  EXPECT_TRUE(Contains(session.dir().Read("logfile.txt"), "INFO       using protocol XBoard"));
}

TEST(CommandLine, ArgumentsLeadToProtocolMode) {
  Session session(TestIni(1), {"-no-such-switch", "x"});
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(session.Quit(), 0);
}

TEST(ConfigFile, ValuesThatAreNoNumbersAndRepeatedKeysAreLoggedAndIgnored) {
  // No "BookFile": the book is the documented default file. The values that
  // are no whole numbers keep the defaults, the second MaxThreads is ignored.
  Session session(
      "LogLevel=127\nBook=1\nBookSelectivity=abc\nHash=0x40\nMaxThreads=2abc\nMaxThreads=4\n"
      "UseInputThread=1\n");
  // The book is read on "uci": a2a3 is its best-scored move, e2e4 its worst.
  GameTracker start;
  session.dir().Write("zorvelbook-20.bin",
                      BookFileBytes({{start.board.key, start.MoveWord("a2a3"), 10, 20},
                                     {start.board.key, start.MoveWord("e2e4"), 10, 1}},
                                    2));
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(OptionLine(session, "Book File"),
            "option name Book File type string default zorvelbook-20.bin");
  EXPECT_EQ(OptionLine(session, "Hash"), "option name Hash type spin default 32 min 1 max 2048");
  EXPECT_EQ(OptionLine(session, "Threads"), "option name Threads type spin default 1 min 1 max 64");
  // A selectivity of 100 always takes the best-scored move.
  for (int game = 0; game < 4; ++game) {
    session.Send("ucinewgame");
    session.Send("position startpos");
    session.Send("go depth 1");
    EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "a2a3");
  }
  EXPECT_EQ(session.Quit(), 0);
  const std::string log = session.dir().Read("logfile.txt");
  for (const char* line :
       {"WARNING    zorvel.ini : line 6 ignored, MaxThreads is given on line 5 already : 'MaxThreads=4'",
        "WARNING    zorvel.ini : line 4 : Hash=0x40 is not a whole number, 32 kept",
        "WARNING    zorvel.ini : line 3 : BookSelectivity=abc is not a whole number, 100 kept",
        "WARNING    zorvel.ini : line 5 : MaxThreads=2abc is not a whole number, 1 kept"})
    EXPECT_TRUE(Contains(log, line)) << line;
}

// A file written by hand on another system: a byte-order mark, CR LF line
// ends, blanks around "=" and comments behind a value. Values outside the
// range an option announces are held to it, and every value not taken as
// written is logged with its line.
TEST(ConfigFile, AHandWrittenFileIsReadAsMeant) {
  Session session(
      "\xEF\xBB\xBFLogLevel=8\r\n; written by hand\r\n\r\nHash = 8\r\n  MaxThreads =2\r\n"
      "UseInputThread=1\r\nStrengthELO=5000\r\nDrawScore=500\r\nBookFile=my.bin ; opening book\r\n"
      "Hahs=64\r\n");
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(OptionLine(session, "Hash"), "option name Hash type spin default 8 min 1 max 2048");
  EXPECT_EQ(OptionLine(session, "Threads"), "option name Threads type spin default 2 min 1 max 64");
  EXPECT_EQ(OptionLine(session, "UCI_Elo"),
            "option name UCI_Elo type spin default 2700 min 1000 max 2700");
  EXPECT_EQ(OptionLine(session, "DrawScore"),
            "option name DrawScore type spin default 100 min -100 max 100");
  EXPECT_EQ(OptionLine(session, "Book File"), "option name Book File type string default my.bin");
  EXPECT_EQ(session.Quit(), 0);
  const std::string log = session.dir().Read("logfile.txt");
  for (const char* line : {"WARNING    zorvel.ini : line 7 : StrengthELO=5000 outside 1000..2700, 2700 used\n",
                           "WARNING    zorvel.ini : line 8 : DrawScore=500 outside -100..100, 100 used\n",
                           "WARNING    zorvel.ini : line 10 : unknown key 'Hahs' ignored\n"})
    EXPECT_TRUE(Contains(log, line)) << line;

  // Lines that end in a lone CR, a file name in UTF-8, a line holding a NUL
  // (refused whole, so the file lacks "Hash") and a number beyond 32 bits,
  // told as written.
  Session mac(std::string("LogLevel=8\rHash=2") + '\0' +
              "48\rBookFile=apertura_\xC3\xB1.bin\r\rMinSplitDepth=99999999999999999\r"
              "UseInputThread=1\r");
  ASSERT_TRUE(mac.StartUci());
  EXPECT_EQ(OptionLine(mac, "Hash"), "option name Hash type spin default 1 min 1 max 2048");
  EXPECT_EQ(OptionLine(mac, "Book File"),
            "option name Book File type string default apertura_\xC3\xB1.bin");
  EXPECT_EQ(mac.Quit(), 0);
  const std::string macLog = mac.dir().Read("logfile.txt");
  for (const char* line :
       {"WARNING    zorvel.ini : line 2 ignored, it holds the control character 0x00\n",
        "WARNING    zorvel.ini : line 5 : MinSplitDepth=99999999999999999 outside 1..128, 128 used\n"})
    EXPECT_TRUE(Contains(macLog, line)) << line;
}

// A personality file written the same way reads as the same file written
// plainly; one that is no regular file is refused, and the engine goes on.
TEST(ConfigFile, HandWrittenAndUnreadablePersonalityFiles) {
  Session session(TestIni(1, "UsePersonality=1\nPersonalityFile=hand.txt\n"));
  session.dir().Write("hand.txt", "\xEF\xBB\xBFPawnValue=150\r\n  Pawnvalue = 90\r\nQueenValue = 2000 ; strong\r\n");
  session.dir().Write("plain.txt", "PawnValue=150\nQueenValue=1500\n");
  ASSERT_TRUE(session.StartUci());
  ASSERT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("info string"),
            (std::vector<std::string>{
                "info string personality hand.txt : line 3 : QueenValue=2000 outside 500..1500, 1500 used",
                "info string personality hand.txt : line 2 : unknown key 'Pawnvalue' ignored"}));
  // The board sums its material when the position is set up.
  const std::string position = "position fen 4k3/pppp4/8/8/8/8/PPPPP3/4K3 w - - 0 1";
  session.Send(position);
  session.Send("eval");
  const std::string hand = session.WaitFor("eval = ");
  session.Send("setoption name PersonalityFile value plain.txt");
  session.Send(position);
  session.Send("eval");
  EXPECT_EQ(session.WaitFor("eval = "), hand);
  session.Send("setoption name UsePersonality value false");
  session.Send(position);
  session.Send("eval");
  const std::string builtIn = session.WaitFor("eval = ");
  EXPECT_NE(builtIn, hand);
  session.Send("setoption name UsePersonality value true");
  session.Send("setoption name PersonalityFile value /dev/zero");
  EXPECT_EQ(session.WaitFor("info string"), "info string personality file not readable : /dev/zero");
  // A file given by mistake holds no weight: the built-in weights stay.
  const std::string binary = std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(9, '\0') +
                             "\n\x03" + '\0' + ">" + '\0' + "PawnValue=150\n";
  session.dir().Write("binary.bin", binary);
  session.Send("setoption name PersonalityFile value binary.bin");
  EXPECT_EQ(session.WaitFor("info string"),
            "info string personality file binary.bin holds no known setting");
  session.Send(position);
  session.Send("eval");
  EXPECT_EQ(session.WaitFor("eval = "), builtIn);
  EXPECT_TRUE(session.Sync());
  EXPECT_EQ(session.Quit(), 0);

  // XBoard logs it, as it does a personality file that cannot be read.
  Session xboard(TestIni(1, "UsePersonality=1\nPersonalityFile=binary.bin\nLogLevel=16\n"));
  xboard.dir().Write("binary.bin", binary);
  ASSERT_TRUE(xboard.StartXBoard());
  xboard.Send("ping 1");
  EXPECT_EQ(xboard.WaitFor("pong"), "pong 1");
  EXPECT_EQ(xboard.Quit(), 0);
  EXPECT_TRUE(Contains(xboard.dir().Read("logfile.txt"),
                       "ERROR      personality file binary.bin holds no known setting\n"));
}

// A "zorvel.ini" that is there but cannot be read is named with the reason,
// and the defaults apply.
TEST(ConfigFile, AConfigurationThatCannotBeReadIsTold) {
  for (const bool loop : {false, true}) {
    TempDir dir;
    TempDir errors;
    if (loop)  // a link to itself: no user, root included, can open it
      ASSERT_EQ(symlink("zorvel.ini", dir.File("zorvel.ini").c_str()), 0);
    else  // opened as a file, a pipe without a writer would wait for one for ever
      ASSERT_EQ(mkfifo(dir.File("zorvel.ini").c_str(), 0600), 0);
    EngineProcess engine(dir.path(), {}, errors.File("stderr.txt"));
    engine.Send("uci");
    EXPECT_EQ(engine.WaitFor("option name Hash", ScaledTimeout(20000)),
              "option name Hash type spin default 32 min 1 max 2048");
    engine.Send("quit");
    EXPECT_EQ(engine.WaitExit(ScaledTimeout(10000)), 0);
    EXPECT_EQ(errors.Read("stderr.txt"),
              std::string("cannot read file 'zorvel.ini' (") +
                  (loop ? std::strerror(ELOOP) : "not a regular file") + ")\n");
  }
}
