#include "tools/perft_tools.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board/perft.h"
#include "common/line_reader.h"
#include "common/timer.h"
#include "engine/engine.h"
#include "protocol/protocol_manager.h"

namespace {

// The counters live in the engine; an engine that was never initialised (or
// has shut down) has no board to count on.
ToolContext* CountingContext(ProtocolManager& manager) {
  if (!manager.engine || !manager.engine->tools.board) return nullptr;
  return &manager.engine->tools;
}

// Refusals go to the interface in the active protocol's own form.
bool AcceptDepth(ProtocolManager& manager, const char* tool, i32 depth, bool needsOne) {
  const std::string refusal = PerftDepthRefusal(tool, depth, needsOne);
  if (refusal.empty()) return true;
  manager.engine->listener->SendText(refusal.c_str());
  return false;
}

void SendTimeAndSpeed(ProtocolManager& manager, const char* timeFormat, u64 nodes,
                      double elapsed) {
  char time[FormatTimeBufferSize];
  FormatTime(time, elapsed);
  manager.SendFormatted(timeFormat, time);
  manager.SendFormatted("Speed = %d", PerftSpeed(nodes, elapsed));
}

constexpr i32 SuiteLineSize = 512;  // at most 511 characters a line
constexpr i32 SuiteMaxFields = 16;

// One ";D<depth> <nodes>" field of a suite line, as the scan collected it.
struct SuiteField {
  char text[SuiteLineSize];  // "D", the depth digits, a blank, the node digits
  i32 length;
};

void StoreFieldCharacter(SuiteField& field, char c) {
  if (field.length < SuiteLineSize - 1) field.text[field.length++] = c;
  field.text[field.length] = 0;
}

// Splits the line into its fields; control and non-ASCII bytes become blanks
// in the line itself. Fields beyond the sixteenth are ignored.
i32 ScanSuiteFields(char* line, SuiteField* fields) {
  i32 count = 0;
  i32 state = 0;
  SuiteField* current = nullptr;
  const i32 length = static_cast<i32>(std::strlen(line));
  auto startField = [&]() {
    state = 1;
    current = count < SuiteMaxFields ? &fields[count++] : nullptr;
    if (current) {
      current->length = 0;
      current->text[0] = 0;
    }
  };
  auto store = [&](char c) {
    if (current) StoreFieldCharacter(*current, c);
  };
  for (i32 i = 0; i < length; ++i) {
    if (static_cast<signed char>(line[i]) < 32) line[i] = ' ';
    const char c = line[i];
    switch (state) {
      case 0:
        if (c == ';') startField();
        break;
      case 1:
        if (c == 'D' || c == 'd') {
          store(c);
          state = 2;
        }
        break;
      case 2:
        if (c >= '0' && c <= '9') {
          store(c);
        } else if (c == ' ') {
          store(c);
          state = 3;
        }
        break;
      case 3:
        if (c >= '0' && c <= '9') {
          store(c);
        } else if (c == ' ') {
          state = 0;
        } else if (c == ';') {
          startField();
        }
        break;
    }
  }
  return count;
}

// The node count text of the line's first field for this depth, or null.
const char* ExpectedNodes(const SuiteField* fields, i32 count, i32 depth) {
  for (i32 f = 0; f < count; ++f) {
    const char* text = fields[f].text;
    if (text[0] != 'D' && text[0] != 'd') continue;
    const char* p = text + 1;
    if (*p < '0' || *p > '9') continue;
    // Depth digits beyond any real depth read as no match, not as overflow.
    i64 fieldDepth = 0;
    while (*p >= '0' && *p <= '9') {
      if (fieldDepth < 1000000) fieldDepth = fieldDepth * 10 + (*p - '0');
      ++p;
    }
    if (*p != ' ' || fieldDepth != depth) continue;
    return p + 1;
  }
  return nullptr;
}

}  // namespace

std::string PerftDepthRefusal(const char* tool, i32 depth, bool needsOne) {
  char text[96];
  if (needsOne && depth < 1)
    std::snprintf(text, sizeof text, "%s : invalid depth %d, the depth must be at least 1", tool, depth);
  else if (depth > MaxPerftDepth)
    std::snprintf(text, sizeof text, "%s : invalid depth %d, the depth must be at most %d", tool,
                  depth, MaxPerftDepth);
  else
    return std::string();
  return text;
}

i32 PerftSpeed(u64 nodes, double elapsedMicroseconds) {
  const double elapsed = elapsedMicroseconds == 0.0 ? 16000.0 : elapsedMicroseconds;
  const float speed = static_cast<float>(static_cast<double>(nodes) * 1000000.0 / elapsed);
  // Out-of-range float conversions are undefined.
  if (!(speed < 2147483647.0f)) return speed > 0.0f ? 2147483647 : 0;
  if (speed <= -2147483648.0f) return 0;
  return static_cast<i32>(speed);
}

i32 RunPerft(ProtocolManager& manager, i32 depth) {
  ToolContext* tools = CountingContext(manager);
  if (!tools || !AcceptDepth(manager, "perft", depth, true)) return 0;
  Timer timer;
  timer.Start();
  tools->nodes = 0;
  Perft(*tools, depth);
  const double elapsed = timer.ElapsedMicroseconds();
  manager.SendFormatted("Depth %d", depth);
  manager.SendFormatted("Nodes = %llu", static_cast<unsigned long long>(tools->nodes));
  SendTimeAndSpeed(manager, "Time = %s", tools->nodes, elapsed);
  return 1;
}

i32 RunPerftDetailed(ProtocolManager& manager, i32 depth) {
  ToolContext* tools = CountingContext(manager);
  if (!tools || !AcceptDepth(manager, "perftd", depth, true)) return 0;
  Timer timer;
  timer.Start();
  tools->nodes = tools->captures = tools->enPassants = tools->promotions = 0;
  tools->castles = tools->checks = tools->mates = 0;
  PerftDetailed(*tools, depth);
  const double elapsed = timer.ElapsedMicroseconds();
  manager.SendFormatted("Depth %d", depth);
  manager.SendFormatted("Nodes = %llu", static_cast<unsigned long long>(tools->nodes));
  manager.SendFormatted("Nodes captures = %llu", static_cast<unsigned long long>(tools->captures));
  manager.SendFormatted("Nodes e.p = %llu", static_cast<unsigned long long>(tools->enPassants));
  manager.SendFormatted("Nodes check = %llu", static_cast<unsigned long long>(tools->checks));
  manager.SendFormatted("Nodes mate = %llu", static_cast<unsigned long long>(tools->mates));
  manager.SendFormatted("Nodes promotion = %llu",
                        static_cast<unsigned long long>(tools->promotions));
  manager.SendFormatted("Nodes castle = %llu", static_cast<unsigned long long>(tools->castles));
  SendTimeAndSpeed(manager, "Time = %s", tools->nodes, elapsed);
  return 1;
}

i32 RunDivide(ProtocolManager& manager, i32 depth) {
  ToolContext* tools = CountingContext(manager);
  if (!tools || !AcceptDepth(manager, "divide", depth, false)) return 0;
  delete[] tools->divideEntries;
  tools->divideEntries = new DivideEntry[MaxDivideEntries];
  for (i32 i = 0; i < MaxDivideEntries; ++i) {
    tools->divideEntries[i].nodes = 0;
    tools->divideEntries[i].text[0] = 0;
  }
  tools->divideCount = 0;
  Timer timer;
  timer.Start();
  Divide(*tools, depth);
  const double elapsed = timer.ElapsedMicroseconds();
  u64 total = 0;
  for (i32 i = 0; i < tools->divideCount; ++i) {
    const DivideEntry& entry = tools->divideEntries[i];
    manager.SendFormatted("%10s : %llu", entry.text, static_cast<unsigned long long>(entry.nodes));
    total += entry.nodes;
  }
  manager.SendFormatted("\n     total : %llu", static_cast<unsigned long long>(total));
  SendTimeAndSpeed(manager, "\nTime = %s", total, elapsed);
  delete[] tools->divideEntries;
  tools->divideEntries = nullptr;
  return 1;
}

i32 RunPerftSuite(ToolContext& tools, const char* fileName, i32 depth, PerftSuiteResult* result) {
  if (result) *result = PerftSuiteResult{};
  const std::string refusal = PerftDepthRefusal("perft suite", depth, true);
  if (!refusal.empty()) {
    std::fprintf(stderr, "%s\n", refusal.c_str());
    return 0;
  }
  std::FILE* file = OpenToolFile(fileName);
  if (!file) return 0;
  std::vector<SuiteField> fields(SuiteMaxFields);
  char buffer[SuiteLineSize];
  i32 passed = 0;
  i32 total = 0;
  LineReader reader(file, fileName);
  for (LineRead read; (read = reader.Next(buffer, sizeof buffer)) != LineRead::End;) {
    // Blank lines and comments are no positions; blanks before a FEN do not count.
    if (!IsDataLine(buffer)) continue;
    if (read == LineRead::TooLong) {
      ++total;  // counted, and failed: its fields are cut
      continue;
    }
    char* line = SkipLineBlanks(buffer);
    const i32 count = ScanSuiteFields(line, fields.data());
    if (tools.engine) {
      tools.engine->tt.Clear();
      // A line whose FEN does not read fails: counting it would count the
      // position before it.
      const char* reason = nullptr;
      if (!tools.engine->SetFen(line, &reason)) {
        const std::string fen(line, std::strcspn(line, ";"));  // without the counts
        ReportBadFenLine("perft suite", reader.lineNumber, fen.c_str(), reason);
        ++total;
        continue;
      }
    }
    tools.nodes = 0;
    if (tools.board) Perft(tools, depth);
    char counted[32];
    std::snprintf(counted, sizeof counted, "%llu", static_cast<unsigned long long>(tools.nodes));
    const char* expected = ExpectedNodes(fields.data(), count, depth);
    if (expected && std::strcmp(counted, expected) == 0) ++passed;
    ++total;
  }
  const bool failed = reader.Failed();
  std::fclose(file);
  if (failed) return 0;
  std::printf("score = %d / %d\n", passed, total);
  if (total == 0) ReportNoPosition("perft suite", fileName);
  if (result) {
    result->opened = 1;
    result->passed = passed;
    result->total = total;
  }
  return 1;
}

i32 PerftSuiteCommand(ProtocolManager& manager, const char* fileName, i32 depth) {
  if (depth < 0) depth = 5;
  Engine& engine = *manager.engine;
  engine.Init(manager.settings.Hash);
  engine.NewGame();
  PerftSuiteResult result;
  RunPerftSuite(engine.tools, fileName, depth, &result);
  engine.Shutdown();
  return result.opened && result.total > 0 && result.passed == result.total ? 1 : 0;
}
