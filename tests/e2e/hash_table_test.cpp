// The transposition table as a user meets it: a table too large for the
// memory the engine may use, the range of the Hash option, and a fresh table
// that is ready before the engine says so and before any search.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "test_support.h"

namespace {

std::string HashIni(int megabytes) {
  return "Hash=" + std::to_string(megabytes) + "\nMaxThreads=1\nUseInputThread=1\n";
}

// Resident memory of a process in KiB, from /proc; -1 when unreadable.
long ResidentKb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Starts a session whose engine may use at most `kb` KiB of address space,
// as "ulimit -v" in a subshell would give it: the limit is lowered on this
// process only while the engine is started, and the engine keeps it.
std::unique_ptr<Session> CappedSession(long kb, const std::string& ini,
                                       const std::vector<std::string>& args = {},
                                       const std::string& errorFile = "") {
  rlimit saved{};
  if (getrlimit(RLIMIT_AS, &saved) != 0) return nullptr;
  rlimit capped = saved;
  capped.rlim_cur = static_cast<rlim_t>(kb) * 1024;
  if (setrlimit(RLIMIT_AS, &capped) != 0) return nullptr;
  std::unique_ptr<Session> session(new Session(ini, args, errorFile));
  setrlimit(RLIMIT_AS, &saved);
  return session;
}

// About 244 MB: room for the engine and a 128 MB table, not for 256 MB.
constexpr long CapKb = 250000;

// The size in MB a line ending in "using <n> MB" names, 0 when it does not.
int SizeInUse(const std::string& line) {
  const std::string::size_type at = line.rfind("using ");
  if (at == std::string::npos || line.compare(line.size() - 3, 3, " MB") != 0) return 0;
  return std::atoi(line.c_str() + at + 6);
}

}  // namespace

TEST(HashTableOutOfMemory, ToolsFailAndProtocolsGoOnWithATableThatFits) {
  // An emulator or a sanitizer reserves more address space than the cap leaves.
  if (SlowTarget()) GTEST_SKIP() << "address-space cap only on native release builds";
  // The tools: the size named on standard error, status 1, no report.
  const auto expectToolFails = [](const std::vector<std::string>& arguments, TempDir& errors,
                                  const char* reportLine) {
    auto session = CappedSession(CapKb, HashIni(1), arguments, errors.File("stderr.txt"));
    ASSERT_TRUE(session);
    session->engine().CloseInput();
    session->engine().ReadToEnd(ScaledTimeout(20000));
    EXPECT_EQ(session->engine().WaitExit(ScaledTimeout(5000)), 1);
    EXPECT_EQ(errors.Read("stderr.txt"), "Hash table : out of memory, cannot allocate 256 MB\n");
    EXPECT_TRUE(session->engine().LinesStartingWith(reportLine).empty());
  };
  {
    TempDir errors;
    expectToolFails({"-benchmark", "256", "1", "depth", "5"}, errors, "Nodes");
  }
  {
    TempDir errors;
    errors.Write("one.epd", "4k3/8/8/8/8/8/4P3/4K3 w - - bm e2e4; id \"one\";\n");
    expectToolFails({"-testsuite", "256", "1", "depth", "1", errors.File("one.epd")}, errors,
                    "Score");
  }
  {
    TempDir errors;
    auto session = CappedSession(CapKb, HashIni(256), {}, errors.File("stderr.txt"));
    ASSERT_TRUE(session);
    ASSERT_TRUE(session->StartUci());
    const std::string told = session->WaitFor("info string Hash table");
    EXPECT_EQ(told.rfind("info string Hash table : out of memory for 256 MB, using ", 0), 0u) << told;
    EXPECT_GE(SizeInUse(told), 1);
    EXPECT_LT(SizeInUse(told), 256);
    session->Send("setoption name Hash value 2048");
    const std::string again = session->WaitFor("info string Hash table");
    EXPECT_EQ(again.rfind("info string Hash table : out of memory for 2048 MB, using ", 0), 0u) << again;
    EXPECT_EQ(SizeInUse(again), SizeInUse(told));
    ASSERT_TRUE(session->Sync());
    session->Send("go depth 5");
    EXPECT_TRUE(GameTracker().IsLegal(MoveOfLine(session->WaitFor("bestmove"))));
    EXPECT_EQ(session->Quit(), 0);
    // Nothing but protocol lines: standard error stays empty.
    EXPECT_EQ(errors.Read("stderr.txt"), "");
  }
  {
    auto session = CappedSession(CapKb, HashIni(256));
    ASSERT_TRUE(session);
    ASSERT_TRUE(session->StartXBoard());
    // Told on "xboard", before the features.
    const auto lines = session->engine().LinesStartingWith("telluser ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("telluser Hash table : out of memory for 256 MB, using ", 0), 0u) << lines[0];
    session->Send("ping 1");
    EXPECT_EQ(session->WaitFor("pong"), "pong 1");
    EXPECT_EQ(session->Quit(), 0);
  }
}

TEST(HashTablePreparation, CompleteBeforeReadyokPongAndTheFirstSearch) {
  // Every page of a fresh 256 MB table is present by the time the engine
  // answers: the resident memory holds the whole table.
  const long tableKb = 256L * 1024;
  {
    Session session(HashIni(256));
    session.Send("uci");
    session.Send("isready");
    ASSERT_FALSE(session.WaitFor("readyok", 20000).empty());
    EXPECT_GE(ResidentKb(session.engine().Pid()), tableKb);
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    Session session(HashIni(256));
    session.Send("xboard");
    session.Send("protover 2");
    session.Send("ping 7");
    ASSERT_EQ(session.WaitFor("pong", 20000), "pong 7");
    EXPECT_GE(ResidentKb(session.engine().Pid()), tableKb);
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    // Without "isready", the search itself starts on a complete table.
    Session session(HashIni(1));
    ASSERT_TRUE(session.StartUci());
    session.Send("setoption name Hash value 256");
    session.Send("position startpos");
    session.Send("go depth 1");
    ASSERT_FALSE(session.WaitFor("bestmove", 20000).empty());
    EXPECT_GE(ResidentKb(session.engine().Pid()), tableKb);
    EXPECT_EQ(session.Quit(), 0);
  }
}
