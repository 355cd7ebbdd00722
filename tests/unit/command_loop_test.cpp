// The command loop of protocol mode with its input thread, fed through a pipe
// in place of standard input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "protocol/protocol_manager.h"

namespace {

// Standard input is the read end of a pipe while this lives.
class PipedInput {
 public:
  PipedInput() {
    int ends[2];
    if (pipe(ends) != 0) return;
    saved_ = dup(STDIN_FILENO);
    if (saved_ < 0 || dup2(ends[0], STDIN_FILENO) < 0) {
      close(ends[1]);
      ends[1] = -1;
    }
    close(ends[0]);
    writeEnd_ = ends[1];
  }
  ~PipedInput() {
    if (writeEnd_ >= 0) close(writeEnd_);
    if (saved_ >= 0) {
      dup2(saved_, STDIN_FILENO);
      close(saved_);
    }
    std::clearerr(stdin);
  }
  PipedInput(const PipedInput&) = delete;
  PipedInput& operator=(const PipedInput&) = delete;

  bool Ok() const { return writeEnd_ >= 0; }
  void Send(const std::string& lines) {
    for (std::size_t done = 0; done < lines.size();) {
      const ssize_t n = write(writeEnd_, lines.data() + done, lines.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  int saved_ = -1;
  int writeEnd_ = -1;
};

struct NewGameDialogue {
  const char* name;
  const char* untilSearch;  // ends with the line that starts a search
  const char* newGame;
};

void PrintTo(const NewGameDialogue& dialogue, std::ostream* out) { *out << dialogue.name; }

class CommandLoopThreaded : public ::testing::TestWithParam<NewGameDialogue> {};

INSTANTIATE_TEST_SUITE_P(
    Protocols, CommandLoopThreaded,
    ::testing::Values(NewGameDialogue{"Uci", "uci\nposition startpos moves e2e4\ngo depth 1\n",
                                      "ucinewgame\n"},
                      NewGameDialogue{"XBoard", "xboard\nprotover 2\nsd 1\ne2e4\n", "new\n"}),
    [](const ::testing::TestParamInfo<NewGameDialogue>& info) { return info.param.name; });

}  // namespace

// A new game that arrives as a search ends, after the work left for that end
// is done and before the search counts as finished, is not lost: the game
// starts again from the start position.
TEST_P(CommandLoopThreaded, ANewGameAtTheEndOfASearchIsPlayed) {
  PipedInput input;
  ASSERT_TRUE(input.Ok());
  ProtocolManager manager;
  manager.settings.Hash = 1;
  manager.settings.UseInputThread = 1;
  manager.engine = new Engine();
  manager.SetProtocol(ProtocolNone);

  // At the end of the search the new game is sent, and the search stays
  // unfinished until the line has been run or waits for its turn.
  std::atomic<bool> waited{false};
  int searchEnds = 0;
  bool lineHandled = true;
  manager.commandWaitHook = [&waited] { waited = true; };
  manager.searchEndHook = [&] {
    if (++searchEnds > 1) return;
    input.Send(GetParam().newGame);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!waited && manager.newGamePending == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        lineHandled = false;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    input.Send("quit\n");
  };

  input.Send(GetParam().untilSearch);
  testing::internal::CaptureStdout();
  manager.RunProtocolMode();
  const u64 key = manager.engine->board.key;
  const i32 pending = manager.newGamePending;
  manager.Shutdown();
  const std::string output = testing::internal::GetCapturedStdout();

  ASSERT_EQ(searchEnds, 1) << output;
  ASSERT_TRUE(lineHandled);
  Board start{};
  start.SetStartPosition();
  EXPECT_EQ(key, start.key);
  EXPECT_EQ(pending, 0);
}
