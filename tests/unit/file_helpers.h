// Temporary directories and log capture for the tests of the file tools.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"

// A fresh directory removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/zorvel_files_XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    if (path_.empty()) return;
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0)
      std::fprintf(stderr, "cannot remove %s\n", path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool Ok() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  std::string Write(const std::string& name, const std::string& content) const {
    const std::string file = File(name);
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
  }

 private:
  std::string path_;
};

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Opens the global log at level ERROR in a directory of its own for the
// lifetime of the object; Messages() closes it and returns the messages.
class ErrorLogCapture {
 public:
  ErrorLogCapture() {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
    if (dir_.Ok() && chdir(dir_.Path().c_str()) == 0) gLog.Open(1 << LogError, 0, 0);
  }
  ~ErrorLogCapture() {
    gLog.Close();
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) std::perror("chdir");
  }

  // The message part of every ERROR line, a line per message (a message
  // ending in a newline leaves an empty line behind it).
  std::vector<std::string> Messages() {
    gLog.Close();
    std::vector<std::string> messages;
    std::stringstream in(ReadWholeFile(dir_.File("logfile.txt")));
    std::string line;
    const std::string level = "ERROR      ";
    while (std::getline(in, line)) {
      if (line.size() >= 24 + level.size() && line.compare(24, level.size(), level) == 0)
        messages.push_back(line.substr(24 + level.size()));
    }
    return messages;
  }

 private:
  std::string previous_;
  TempDir dir_;
};
