#include "common/log.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "common/line_reader.h"

Log gLog;

namespace {

const char* const TextExtension = ".txt";
const char* const HtmlExtension = ".html";

struct LevelDescription {
  const char* name;
  const char* cssClass;
};

const LevelDescription LevelTable[LogLevelCount] = {
    {"INFO", "info"},         {"DEBUG", "debug"}, {"TRACE", "trace"}, {"WARNING", "warning"},
    {"ERROR", "error"},       {"CRITICAL", "critical"}, {"GUI", "gui"},
};

// Local time with milliseconds: "yyyy/mm/dd hh:mm:ss.mmm".
void FormatTimeStamp(char* out, std::size_t size) {
  timeval now;
  gettimeofday(&now, nullptr);
  std::time_t seconds = now.tv_sec;
  std::tm local{};
  localtime_r(&seconds, &local);
  std::snprintf(out, size, "%04u/%02u/%02u %02u:%02u:%02u.%03ld",
                static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec),
                static_cast<long>(now.tv_usec) / 1000);
}

// Every protocol line is logged, so a message must not be able to add markup
// to the page.
void AppendEscaped(std::string& out, const char* message) {
  for (const char* p = message; *p; ++p) {
    switch (*p) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += *p; break;
    }
  }
}

// Why the log file cannot be opened or written, in the user's words where
// the system's would mislead.
const char* FileErrorReason(int error) {
  if (error == ENXIO) return "a pipe without a reader";
  if (error == EAGAIN || error == EWOULDBLOCK) return "its reader does not keep up";
  return std::strerror(error);
}

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end the
// program. While the log writes to a pipe the signal is held back for the
// writing thread, and one that the writes raised is taken before it is let
// through again; the write itself then fails with EPIPE.
class PipeSignalHold {
 public:
  explicit PipeSignalHold(bool active) : active_(active) {
    if (!active_) return;
    sigemptyset(&pipeSignal_);
    sigaddset(&pipeSignal_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previous_);
  }
  ~PipeSignalHold() {
    if (!active_) return;
    sigset_t pending;
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec noWait = {0, 0};
      sigtimedwait(&pipeSignal_, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  PipeSignalHold(const PipeSignalHold&) = delete;
  PipeSignalHold& operator=(const PipeSignalHold&) = delete;

 private:
  bool active_;
  sigset_t pipeSignal_;
  sigset_t previous_;
};

}  // namespace

Log::Log()
    : styleSheetPath("html/style.css"),
      scriptPath("html/logchess.js"),
      file(nullptr),
      text(0),
      enabled(1),
      withPid(0) {}

Log::~Log() { Close(); }

bool Log::Open(i32 levelMask, i32 format, i32 withPidIn) {
  std::lock_guard<std::mutex> guard(lock);
  CloseLocked();
  levels.clear();
  for (i32 i = 0; i < LogLevelCount; ++i) {
    LogLevelInfo info;
    info.enabled = 1;
    info.count = 0;
    info.name = LevelTable[i].name;
    info.cssClass = LevelTable[i].cssClass;
    levels.push_back(info);
  }
  text = format == 0;
  withPid = withPidIn != 0;
  enabled = levelMask != 0;
  for (i32 i = 0; i < LogLevelCount; ++i) levels[i].enabled = (levelMask >> i) & 1;
  if (!enabled) return false;

  fileName = "logfile";
  if (withPid) {
    char pid[32];
    std::snprintf(pid, sizeof pid, "_%d", static_cast<int>(getpid()));
    fileName += pid;
  }
  fileName += text ? TextExtension : HtmlExtension;
  // The log never makes the engine wait: opening a named pipe without a
  // reader fails at once instead of waiting for one, and a write that would
  // wait for a reader fails (and ends the log) instead.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int fd = open(fileName.c_str(), flags, 0666);
  if (fd < 0) {
    ReportFileError("open log", fileName.c_str(), FileErrorReason(errno));
    return false;
  }
  struct stat status;
  toPipe_ = fstat(fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
  file = fdopen(fd, "w");
  if (!file) {
    ReportFileError("open log", fileName.c_str(), FileErrorReason(errno));
    close(fd);
    return false;
  }
  if (!text) {
    const PipeSignalHold hold(toPipe_);
    std::fprintf(file, "<!DOCTYPE HTML>\n");
    std::fprintf(file, "<html>\n");
    std::fprintf(file, "<head>\n");
    // Messages are written byte for byte with only the markup characters
    // escaped; the page reads them as UTF-8.
    std::fprintf(file, "<meta charset=\"utf-8\">\n");
    std::string title;
    AppendEscaped(title, fileName.c_str());
    std::fprintf(file, "<title>%s</title>\n", title.c_str());
    std::fprintf(file,
                 "<link href=\"%s\" media=\"screen\" rel=\"stylesheet\" type=\"text/css\" />\n",
                 styleSheetPath.c_str());
    std::fprintf(file, "<script type=\"text/javascript\" src=\"%s\"></script>\n",
                 scriptPath.c_str());
    std::fprintf(file, "</head>\n");
    std::fprintf(file, "<body>\n");
    std::fprintf(file, "<table id=\"tablelog\">\n");
    FlushLocked();
  }
  return file != nullptr;
}

void Log::FlushLocked() {
  const int flushed = std::fflush(file);
  const int error = errno;
  if (flushed == 0 && !std::ferror(file)) return;
  // One line says why; the engine goes on without its log.
  ReportFileError("write log", fileName.c_str(), FileErrorReason(error));
  std::fclose(file);
  file = nullptr;
}

void Log::WriteLocked(i32 level, const char* message) {
  if (!file || level < 0 || level >= static_cast<i32>(levels.size())) return;
  LogLevelInfo& info = levels[level];
  info.count++;
  char stamp[64];
  FormatTimeStamp(stamp, sizeof stamp);
  const PipeSignalHold hold(toPipe_);
  if (text) {
    std::fprintf(file, "%s %-10s %s\n", stamp, info.name.c_str(), message);
  } else {
    std::string escaped;
    AppendEscaped(escaped, message);
    std::fprintf(file, "<tr class=\"%s\"><th>%s</th><td>%s</td><td>%s</td></tr>\n",
                 info.cssClass.c_str(), stamp, info.name.c_str(), escaped.c_str());
  }
  FlushLocked();
}

void Log::Write(i32 level, const char* message) {
  std::lock_guard<std::mutex> guard(lock);
  WriteLocked(level, message);
}

void Log::VPrint(i32 level, const char* format, std::va_list args) {
  std::lock_guard<std::mutex> guard(lock);
  if (!enabled || !file || level < 0 || level >= static_cast<i32>(levels.size()) ||
      !levels[level].enabled)
    return;
  char message[LogMessageMax + 1];
  std::vsnprintf(message, sizeof message, format, args);
  WriteLocked(level, message);
}

void Log::Print(i32 level, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  VPrint(level, format, args);
  va_end(args);
}

void Log::Info(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  VPrint(LogInfo, format, args);
  va_end(args);
}

void Log::Warning(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  VPrint(LogWarning, format, args);
  va_end(args);
}

void Log::Error(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  VPrint(LogError, format, args);
  va_end(args);
}

void Log::CloseLocked() {
  if (!file) return;
  const PipeSignalHold hold(toPipe_);
  if (enabled) {
    if (text) {
      std::fprintf(file, "\n");
      for (const LogLevelInfo& info : levels)
        std::fprintf(file, "%s = %llu\n", info.name.c_str(),
                     static_cast<unsigned long long>(info.count));
    } else {
      std::fprintf(file, "</table>\n");
      std::fprintf(file, "<table id=\"logcount\">\n");
      for (const LogLevelInfo& info : levels)
        std::fprintf(file,
                     "<tr><th><a href=\"#\" onclick=\"return showLevel('tablelog', '%s')\">%s</a>"
                     "</th><td>%llu</td></tr>\n",
                     info.cssClass.c_str(), info.name.c_str(),
                     static_cast<unsigned long long>(info.count));
      std::fprintf(file, "</table>\n");
      std::fprintf(file, "</body>\n");
      std::fprintf(file, "</html>\n");
    }
  }
  FlushLocked();
  if (!file) return;
  std::fclose(file);
  file = nullptr;
}

void Log::Close() {
  std::lock_guard<std::mutex> guard(lock);
  CloseLocked();
}
