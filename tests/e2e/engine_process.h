// Starts the real zorvel binary as a child process with pipes on its standard
// input and output, the way a chess interface does, in a temporary working
// directory of its own.
#pragma once

#include <string>
#include <vector>

// A temporary directory, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

class EngineProcess {
 public:
  // Starts the engine with the given arguments in the given working directory;
  // its standard error goes to errorFile when one is named.
  explicit EngineProcess(const std::string& workDir, const std::vector<std::string>& args = {},
                         const std::string& errorFile = "");
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  // Writes one line (a newline is appended).
  void Send(const std::string& line);
  // Writes raw bytes as they are.
  void SendRaw(const std::string& bytes);
  // Closes the engine's standard input (end of input).
  void CloseInput();

  // Reads the next output line; false when none arrived within the timeout or
  // the output has ended.
  bool ReadLine(std::string& line, int timeoutMs);
  // Reads lines until one starts with the prefix; returns it, or "" on timeout
  // or end of output. Every line read is kept in Transcript().
  std::string WaitFor(const std::string& prefix, int timeoutMs);
  // Reads until the output ends or the timeout passes.
  void ReadToEnd(int timeoutMs);

  // Waits for the process to exit; returns its exit status, or -1 when it is
  // still running at the timeout (it is then killed), or 128 + signal.
  int WaitExit(int timeoutMs);
  bool Running();
  // The process id of the child (of the emulator on emulated targets).
  int Pid() const { return pid_; }

  // Every line read so far, in order.
  const std::vector<std::string>& Transcript() const { return transcript_; }
  // Lines read so far that start with the prefix.
  std::vector<std::string> LinesStartingWith(const std::string& prefix) const;

 private:
  int pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  int exitStatus_ = -1;
  bool exited_ = false;
  bool outputEnded_ = false;
  std::string pending_;
  std::vector<std::string> transcript_;
};

// Timeouts scale with the target: emulated and sanitized builds are slower.
int ScaledTimeout(int nativeMs);
