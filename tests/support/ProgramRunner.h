// Runs a program as a child process for tests that drive the built tools: standard input from a
// string, standard output and error captured, and a scratch directory removed afterwards.
#pragma once

#include <string>
#include <vector>

namespace Testing {

struct ProgramResult {
  int Status = -1;  // exit status; 128 + signal number when the child was killed
  std::string Out;
  std::string Err;
};

// Runs argv[0] (searched in PATH when it holds no slash) with the given standard input, in the
// working directory `cwd` (empty: the current one).
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "",
                         const std::string& cwd = "");

// A fresh directory under TMPDIR, removed with its content when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& Path() const { return FPath; }
  // Full path of a file in the directory.
  std::string File(const std::string& name) const { return FPath + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // Names of the directory's entries, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string FPath;
};

}  // namespace Testing
