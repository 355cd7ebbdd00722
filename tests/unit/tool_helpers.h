// Helpers of the command-line tool tests: an engine inside a protocol
// manager, as the command line sets it up, and the tools' standard output.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "protocol/protocol_manager.h"

// A manager owning an initialised engine with a small table; the protocol
// chooser is not installed, so the engine reports nowhere.
class ToolManager {
 public:
  ToolManager() {
    manager.engine = new Engine();
    manager.engine->Init(1);
    manager.engine->NewGame();
  }
  ~ToolManager() {
    manager.engine->Shutdown();
    delete manager.engine;
    manager.engine = nullptr;
  }
  ToolManager(const ToolManager&) = delete;
  ToolManager& operator=(const ToolManager&) = delete;

  Engine& engine() { return *manager.engine; }

  ProtocolManager manager;
};

// Standard output of the calls between Start and Lines.
class StdoutCapture {
 public:
  StdoutCapture() { testing::internal::CaptureStdout(); }
  ~StdoutCapture() {
    if (!taken_) testing::internal::GetCapturedStdout();
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::string Text() {
    taken_ = true;
    return testing::internal::GetCapturedStdout();
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    std::stringstream in(Text());
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

 private:
  bool taken_ = false;
};

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// "hh:mm:ss.mmm" after the prefix.
inline bool IsTimeLine(const std::string& line, const std::string& prefix) {
  if (!StartsWith(line, prefix) || line.size() != prefix.size() + 12) return false;
  const std::string t = line.substr(prefix.size());
  for (size_t i = 0; i < t.size(); ++i) {
    const bool separator = i == 2 || i == 5 || i == 8;
    if (separator ? t[i] != (i == 8 ? '.' : ':') : !isdigit(static_cast<unsigned char>(t[i])))
      return false;
  }
  return true;
}

// A whole number after the prefix.
inline bool IsNumberLine(const std::string& line, const std::string& prefix) {
  if (!StartsWith(line, prefix) || line.size() == prefix.size()) return false;
  for (size_t i = prefix.size(); i < line.size(); ++i)
    if (!isdigit(static_cast<unsigned char>(line[i]))) return false;
  return true;
}
