#include "e2e/engine_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace {

long long NowMs() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

void RemoveTree(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = path + "/" + name;
      struct stat st;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        RemoveTree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

}  // namespace

int ScaledTimeout(int nativeMs) { return SlowTarget() ? nativeMs * 20 : nativeMs; }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zorvel-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() { RemoveTree(path_); }

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(File(name), std::ios::binary);
  out << content;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TempDir::Exists(const std::string& name) const {
  struct stat st;
  return stat(File(name).c_str(), &st) == 0;
}

std::vector<std::string> TempDir::List() const {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path_.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

EngineProcess::EngineProcess(const std::string& workDir, const std::vector<std::string>& args,
                             const std::string& errorFile) {
  std::vector<std::string> argv = SplitWords(ZORVEL_EMULATOR);
  argv.push_back(ZORVEL_BINARY);
  argv.insert(argv.end(), args.begin(), args.end());

  int in[2];
  int out[2];
  if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (!errorFile.empty()) {
      const int error = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (error < 0) _exit(124);
      dup2(error, 2);
      close(error);
    }
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    if (chdir(workDir.c_str()) != 0) _exit(125);
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(&a[0]);
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(126);
  }
  close(in[0]);
  close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
  // A write to an engine that has already exited must fail, not kill the test.
  signal(SIGPIPE, SIG_IGN);
}

EngineProcess::~EngineProcess() {
  if (toChild_ >= 0) close(toChild_);
  if (!exited_ && pid_ > 0) {
    if (WaitExit(2000) == -1) {
      // WaitExit has killed it.
    }
  }
  if (fromChild_ >= 0) close(fromChild_);
}

void EngineProcess::Send(const std::string& line) { SendRaw(line + "\n"); }

void EngineProcess::SendRaw(const std::string& bytes) {
  if (toChild_ < 0) return;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(toChild_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

void EngineProcess::CloseInput() {
  if (toChild_ >= 0) {
    close(toChild_);
    toChild_ = -1;
  }
}

bool EngineProcess::ReadLine(std::string& line, int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      transcript_.push_back(line);
      return true;
    }
    if (outputEnded_) {
      if (!pending_.empty()) {
        line = pending_;
        pending_.clear();
        transcript_.push_back(line);
        return true;
      }
      return false;
    }
    long long left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd pfd{fromChild_, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    ssize_t n = read(fromChild_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      outputEnded_ = true;
      continue;
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

std::string EngineProcess::WaitFor(const std::string& prefix, int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  std::string line;
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) return "";
    if (!ReadLine(line, static_cast<int>(left))) return "";
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  }
}

void EngineProcess::ReadToEnd(int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  std::string line;
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) return;
    if (!ReadLine(line, static_cast<int>(left)) && outputEnded_) return;
  }
}

int EngineProcess::WaitExit(int timeoutMs) {
  if (exited_) return exitStatus_;
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitStatus_;
    }
    if (NowMs() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      exited_ = true;
      exitStatus_ = -1;
      return -1;
    }
    // Keep draining the output so that the child never blocks on a full pipe.
    std::string line;
    ReadLine(line, 20);
  }
}

bool EngineProcess::Running() {
  if (exited_) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exited_ = true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

std::vector<std::string> EngineProcess::LinesStartingWith(const std::string& prefix) const {
  std::vector<std::string> lines;
  for (const std::string& line : transcript_) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}
