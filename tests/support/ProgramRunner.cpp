#include "support/ProgramRunner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace Testing {

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWhole(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), std::streamsize(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input, const std::string& cwd) {
  // Standard streams go through files in a scratch directory of their own, so a large output never
  // blocks the child.
  ScratchDirectory streams;
  WriteWhole(streams.File("stdin"), input);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, streams.File("stdin").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, streams.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, streams.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  // A relative program path names a file from the test's own directory, wherever the child runs.
  std::string command = argv.at(0);
  if (command.find('/') != std::string::npos) command = std::filesystem::absolute(command).string();
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args[0] = command.data();
  args.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, command.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  ProgramResult result;
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.Out = ReadWhole(streams.File("stdout"));
  result.Err = ReadWhole(streams.File("stderr"));
  return result;
}

ScratchDirectory::ScratchDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qarvex-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
  FPath = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

void ScratchDirectory::Write(const std::string& name, const std::string& content) const { WriteWhole(File(name), content); }

std::string ScratchDirectory::Read(const std::string& name) const { return ReadWhole(File(name)); }

bool ScratchDirectory::Exists(const std::string& name) const { return std::filesystem::exists(File(name)); }

std::vector<std::string> ScratchDirectory::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FPath)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace Testing
