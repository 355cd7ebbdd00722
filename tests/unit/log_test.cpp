#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/log.h"

namespace {

// Runs each test in a fresh directory, since the log writes to the working one.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previous = cwd;
    char pattern[] = "/tmp/zorvel_log_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
    ASSERT_EQ(chdir(directory.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous.c_str()), 0);
    std::string command = "rm -rf '" + directory + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static bool Exists(const std::string& name) {
    struct stat info;
    return stat(name.c_str(), &info) == 0;
  }
  static std::string Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  static std::vector<std::string> Lines(const std::string& content) {
    std::vector<std::string> lines;
    std::stringstream in(content);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  std::string previous;
  std::string directory;
};

const char* const TextCountsAllZero =
    "\nINFO = 0\nDEBUG = 0\nTRACE = 0\nWARNING = 0\nERROR = 0\nCRITICAL = 0\nGUI = 0\n";

const std::regex TextLine(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} (.{10}) (.*))");

}  // namespace

TEST(LogGlobal, DoesNothingBeforeItIsOpened) {
  EXPECT_EQ(gLog.file, nullptr);
  EXPECT_EQ(gLog.styleSheetPath, "html/style.css");
  EXPECT_EQ(gLog.scriptPath, "html/logchess.js");
  gLog.Info("nothing %d", 1);
  gLog.Print(LogGui, "nothing");
  gLog.Close();
  EXPECT_EQ(gLog.file, nullptr);
}

TEST_F(LogTest, LevelMaskKeepsOnlyEnabledLevelsAndCountsAll) {
  Log log;
  ASSERT_TRUE(log.Open(80, 0, 0));  // bits 4 and 6: ERROR and GUI
  EXPECT_EQ(log.fileName, "logfile.txt");
  for (i32 level = 0; level < LogLevelCount; ++level) log.Print(level, "line of level %d", level);
  log.Error("error %s", "two");
  log.Info("not written");
  log.Warning("not written");
  log.Print(LogGui, "<< %s", "uci");
  log.Print(7, "outside the levels");
  log.Print(-1, "outside the levels");
  log.Close();

  std::vector<std::string> lines = Lines(Read("logfile.txt"));
  ASSERT_EQ(lines.size(), 4u + 1u + 7u);
  const char* expected[][2] = {{"ERROR     ", "line of level 4"},
                               {"GUI       ", "line of level 6"},
                               {"ERROR     ", "error two"},
                               {"GUI       ", "<< uci"}};
  for (int i = 0; i < 4; ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, TextLine)) << lines[i];
    EXPECT_EQ(match[1].str(), expected[i][0]);
    EXPECT_EQ(match[2].str(), expected[i][1]);
  }
  EXPECT_EQ(lines[4], "");
  std::vector<std::string> counts(lines.begin() + 5, lines.end());
  EXPECT_EQ(counts, (std::vector<std::string>{"INFO = 0", "DEBUG = 0", "TRACE = 0", "WARNING = 0",
                                              "ERROR = 2", "CRITICAL = 0", "GUI = 2"}));
}

TEST_F(LogTest, ZeroLevelMaskCreatesNoFile) {
  Log log;
  EXPECT_FALSE(log.Open(0, 0, 0));
  EXPECT_FALSE(log.enabled);
  log.Info("dropped");
  log.Error("dropped");
  log.Close();
  EXPECT_FALSE(Exists("logfile.txt"));
  EXPECT_FALSE(Exists("logfile.html"));
  for (const LogLevelInfo& info : log.levels) EXPECT_EQ(info.count, 0u);
}

TEST_F(LogTest, TextLogWithPidAndRepeatedClose) {
  Log log;
  ASSERT_TRUE(log.Open(127, 0, 1));
  std::string name = "logfile_" + std::to_string(getpid()) + ".txt";
  EXPECT_EQ(log.fileName, name);
  log.Info("Init main hash table : %d Mb", 64);
  log.Close();
  log.Close();
  log.Info("after the close");
  std::string content = Read(name);
  std::vector<std::string> lines = Lines(content);
  ASSERT_EQ(lines.size(), 9u);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, TextLine));
  EXPECT_EQ(match[1].str(), "INFO      ");
  EXPECT_EQ(match[2].str(), "Init main hash table : 64 Mb");
  EXPECT_EQ(content.substr(content.find('\n') + 1),
            "\nINFO = 1\nDEBUG = 0\nTRACE = 0\nWARNING = 0\nERROR = 0\nCRITICAL = 0\nGUI = 0\n");
}

TEST_F(LogTest, ReopeningClosesThePreviousFileWithItsCounts) {
  Log log;
  ASSERT_TRUE(log.Open(127, 0, 0));
  ASSERT_TRUE(log.Open(127, 1, 0));
  log.Close();
  EXPECT_EQ(Read("logfile.txt"), TextCountsAllZero);
  EXPECT_TRUE(Exists("logfile.html"));
}

TEST_F(LogTest, HtmlPageHeadRowsAndClosingTable) {
  Log log;
  ASSERT_TRUE(log.Open(127, 1, 0));
  EXPECT_EQ(log.fileName, "logfile.html");
  const std::string head =
      "<!DOCTYPE HTML>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>logfile.html</title>\n"
      "<link href=\"html/style.css\" media=\"screen\" rel=\"stylesheet\" type=\"text/css\" />\n"
      "<script type=\"text/javascript\" src=\"html/logchess.js\"></script>\n"
      "</head>\n<body>\n<table id=\"tablelog\">\n";
  EXPECT_EQ(Read("logfile.html"), head);  // written and flushed at the opening

  log.Print(LogGui, ">> %s", "bestmove e2e4");
  log.Warning("stack %d", 4);
  log.Close();
  std::string content = Read("logfile.html");
  ASSERT_EQ(content.compare(0, head.size(), head), 0);
  std::vector<std::string> rows = Lines(content.substr(head.size()));
  ASSERT_EQ(rows.size(), 2u + 12u);
  std::regex row(R"re(<tr class="(\w+)"><th>\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}</th><td>(\w+)</td><td>(.*)</td></tr>)re");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(rows[0], match, row)) << rows[0];
  EXPECT_EQ(match[1].str(), "gui");
  EXPECT_EQ(match[2].str(), "GUI");
  EXPECT_EQ(match[3].str(), "&gt;&gt; bestmove e2e4");
  ASSERT_TRUE(std::regex_match(rows[1], match, row)) << rows[1];
  EXPECT_EQ(match[1].str(), "warning");
  EXPECT_EQ(match[2].str(), "WARNING");
  EXPECT_EQ(match[3].str(), "stack 4");
  std::string closing;
  for (size_t i = 2; i < rows.size(); ++i) closing += rows[i] + "\n";
  EXPECT_EQ(closing,
            "</table>\n<table id=\"logcount\">\n"
            "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', 'info')\">INFO</a></th><td>0</td></tr>\n"
            "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', 'debug')\">DEBUG</a></th><td>0</td></tr>\n"
            "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', 'trace')\">TRACE</a></th><td>0</td></tr>\n"
            "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', 'warning')\">WARNING</a></th><td>1</td></tr>\n"
            "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', 'error')\">ERROR</a></th><td>0</td></tr>\n"
            "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', 'critical')\">CRITICAL</a></th><td>0</td></tr>\n"
            "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', 'gui')\">GUI</a></th><td>1</td></tr>\n"
            "</table>\n</body>\n</html>\n");
}

TEST_F(LogTest, HtmlMessagesCannotInjectMarkup) {
  Log log;
  ASSERT_TRUE(log.Open(64, 1, 0));
  log.Print(LogGui, "<< %s", "setoption name <script>alert(\"x\")</script> & </td></tr>");
  log.Close();
  std::string content = Read("logfile.html");
  EXPECT_NE(content.find("<td>&lt;&lt; setoption name &lt;script&gt;alert(&quot;x&quot;)"
                         "&lt;/script&gt; &amp; &lt;/td&gt;&lt;/tr&gt;</td></tr>\n"),
            std::string::npos);
  EXPECT_EQ(content.find("<script>"), std::string::npos);
}

TEST_F(LogTest, LongMessagesAreCutTo4095Characters) {
  Log log;
  ASSERT_TRUE(log.Open(1, 0, 0));
  std::string message(5000, 'x');
  message[4094] = 'y';
  log.Info("%s", message.c_str());
  log.Write(LogInfo, "direct");
  log.Close();
  std::vector<std::string> lines = Lines(Read("logfile.txt"));
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, TextLine));
  EXPECT_EQ(match[2].str(), std::string(4094, 'x') + "y");
  ASSERT_TRUE(std::regex_match(lines[1], match, TextLine));
  EXPECT_EQ(match[2].str(), "direct");
  EXPECT_EQ(lines.back(), "GUI = 0");
  EXPECT_EQ(lines[lines.size() - 7], "INFO = 2");
}

// A log that cannot be opened or written never stops the program: it is told
// in one line on standard error and drops its lines from then on.
TEST_F(LogTest, AFileThatCannotBeOpenedOrWrittenIsToldOnceAndDropped) {
  ASSERT_EQ(mkdir("logfile.txt", 0700), 0);  // a directory in the way of the file
  {
    Log log;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(log.Open(127, 0, 0));
    log.Info("dropped");
    log.Write(LogInfo, "dropped");
    log.Close();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "cannot open log file 'logfile.txt' (" + std::string(std::strerror(EISDIR)) + ")\n");
    EXPECT_EQ(log.levels[LogInfo].count, 0u);
  }
  ASSERT_EQ(rmdir("logfile.txt"), 0);

  // A full disk: at the HTML page's head, or at the first line of a text log.
  ASSERT_EQ(symlink("/dev/full", "logfile.txt"), 0);
  ASSERT_EQ(symlink("/dev/full", "logfile.html"), 0);
  const std::string full = "(" + std::string(std::strerror(ENOSPC)) + ")\n";
  for (const i32 format : {1, 0}) {
    Log log;
    testing::internal::CaptureStderr();
    EXPECT_EQ(log.Open(127, format, 0), format == 0);
    for (int i = 0; i < 3; ++i) log.Info("line %d", i);
    log.Close();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "cannot write log file '" + log.fileName + "' " + full);
    EXPECT_EQ(log.file, nullptr);
  }
  ASSERT_EQ(unlink("logfile.txt"), 0);

  // A pipe whose reader has gone: the write fails instead of ending the
  // program by SIGPIPE.
  ASSERT_EQ(mkfifo("logfile.txt", 0600), 0);
  const int reader = open("logfile.txt", O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  Log log;
  ASSERT_TRUE(log.Open(127, 0, 0));
  log.Info("read");
  char line[256];
  EXPECT_GT(read(reader, line, sizeof line), 0);
  close(reader);
  testing::internal::CaptureStderr();
  log.Info("nobody reads this");
  log.Info("nor this");
  log.Close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "cannot write log file 'logfile.txt' (" + std::string(std::strerror(EPIPE)) + ")\n");
}

using LogThreaded = LogTest;

TEST_F(LogThreaded, LinesStayWholeAndCountsExact) {
  constexpr int Threads = 8;
  constexpr int LinesPerThread = 400;
  Log log;
  ASSERT_TRUE(log.Open(127, 0, 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < LinesPerThread; ++i)
        log.Print(t % 2 ? LogGui : LogInfo, "thread %d line %d %s", t, i, "payload");
    });
  for (std::thread& thread : threads) thread.join();
  log.Close();

  EXPECT_EQ(log.levels[LogInfo].count, 4u * LinesPerThread);
  EXPECT_EQ(log.levels[LogGui].count, 4u * LinesPerThread);
  std::vector<std::string> lines = Lines(Read("logfile.txt"));
  ASSERT_EQ(lines.size(), Threads * LinesPerThread + 8u);
  std::regex message(R"(thread (\d) line (\d+) payload)");
  std::vector<int> next(Threads, 0);
  for (int i = 0; i < Threads * LinesPerThread; ++i) {
    std::smatch line, parts;
    ASSERT_TRUE(std::regex_match(lines[i], line, TextLine)) << lines[i];
    std::string text = line[2].str();
    ASSERT_TRUE(std::regex_match(text, parts, message)) << text;
    int t = std::stoi(parts[1].str());
    EXPECT_EQ(std::stoi(parts[2].str()), next[t]++);  // each thread's lines in order
  }
  EXPECT_EQ(lines[Threads * LinesPerThread + 1], "INFO = 1600");
}
