// A transposition table too large for the memory the engine may use, as a
// user meets it: the tools fail, the protocols go on with a table that fits.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "test_support.h"

namespace {

std::string HashIni(int megabytes) {
  return "Hash=" + std::to_string(megabytes) + "\nMaxThreads=1\nUseInputThread=1\n";
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
    ASSERT_TRUE(session->Sync());
    session->Send("go depth 5");
    EXPECT_TRUE(GameTracker().IsLegal(MoveOfLine(session->WaitFor("bestmove"))));
    EXPECT_EQ(session->Quit(), 0);
    // Nothing but protocol lines: standard error stays empty.
    EXPECT_EQ(errors.Read("stderr.txt"), "");
  }
}
