// Where the tool's outputs may go: never over a file the command reads, binary never onto a terminal,
// a path naming the tool's own standard output written through the descriptor, and nothing left
// behind when a signal stops the tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/QrsaTool.h"

namespace Testing {
namespace {

constexpr int kUsage = 2;

class CliOutputsTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The tool started directly with standard output on `out` (a file, a terminal), standard input from
// `input`; its exit status and standard error. A cross build runs the tool through an emulator, which
// these descriptor checks leave to the native run.
struct Attached {
  int Status = -1;
  std::string Err;
  long PeakKiB = 0;  // the tool's peak resident size
};

// After input, `filler` more bytes 'A' are written, from a small buffer (a large input held here would
// count in the peak of the forked child).
Attached RunAttached(const std::vector<std::string>& args, int out, const std::string& input = "",
                     std::uint64_t filler = 0) {
  int in[2], err[2];
  if (pipe(in) != 0 || pipe(err) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(in[0], STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(in[0]);
    close(in[1]);
    close(err[0]);
    close(err[1]);
    std::vector<char*> argv{const_cast<char*>(QRSA_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(QRSA_BINARY, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(err[1]);
  // The tool may stop reading early (a refused input): the rest of the input is then dropped.
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  for (std::size_t done = 0; done < input.size();) {
    const ssize_t put = write(in[1], input.data() + done, input.size() - done);
    if (put <= 0) break;
    done += std::size_t(put);
  }
  const std::string chunk(1 << 16, 'A');
  for (std::uint64_t left = filler; left > 0;) {
    const ssize_t put = write(in[1], chunk.data(), std::size_t(std::min<std::uint64_t>(left, chunk.size())));
    if (put <= 0) break;
    left -= std::uint64_t(put);
  }
  signal(SIGPIPE, previous);
  close(in[1]);
  Attached result;
  char buffer[4096];
  for (ssize_t got; (got = read(err[0], buffer, sizeof buffer)) > 0;) result.Err.append(buffer, std::size_t(got));
  close(err[0]);
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.PeakKiB = usage.ru_maxrss;
  return result;
}

bool Emulated() { return std::getenv("QRSA_RUNNER") != nullptr; }

// -o over the key file (-k) is refused before anything is read, by name, through a symbolic link and
// through a hard link, whatever --force says; -i x -o x still replaces x with the result.
TEST_F(CliOutputsTest, AnOutputNeverReplacesTheKeyFileItReads) {
  std::filesystem::copy_file(keys.Public512, dir.File("alice-public.dfm"));
  std::filesystem::copy_file(keys.Key512, dir.File("alice.dfm"));
  std::filesystem::create_symlink(dir.File("alice-public.dfm"), dir.File("symlink"));
  std::filesystem::create_hard_link(dir.File("alice-public.dfm"), dir.File("hardlink"));
  const std::string publicKey = ReadWhole(keys.Public512), privateKey = ReadWhole(keys.Key512);
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string input;
  } cases[] = {
      {"seal over its public key", {"seal", "-k", dir.File("alice-public.dfm"), "-o", dir.File("alice-public.dfm")}, "data"},
      {"seal through a symbolic link", {"seal", "-k", dir.File("alice-public.dfm"), "-o", dir.File("symlink")}, "data"},
      {"seal through a hard link", {"seal", "-k", dir.File("alice-public.dfm"), "-o", dir.File("hardlink")}, "data"},
      {"encrypt, --force", {"encrypt", "-k", dir.File("alice-public.dfm"), "-o", dir.File("alice-public.dfm"), "--force"}, "data"},
      {"pubkey over its private key, --force", {"pubkey", "-k", dir.File("alice.dfm"), "-o", dir.File("alice.dfm"), "--force"}, ""},
      {"sign", {"sign", "-k", dir.File("alice.dfm"), "--digest", "sha256", "-o", dir.File("alice.dfm")}, "data"},
      {"show", {"show", "-k", dir.File("alice.dfm"), "bits", "-o", dir.File("alice.dfm")}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramResult result = Qrsa(c.args, c.input);
    EXPECT_EQ(result.Status, kUsage) << result.Err;
    EXPECT_NE(result.Err.find("is the file given with -k"), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find("usage: qrsa"), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(ReadWhole(dir.File("alice-public.dfm")), publicKey);
    EXPECT_EQ(ReadWhole(dir.File("alice.dfm")), privateKey);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("symlink")));
  }
  // The input itself may be replaced by the result, once it is complete.
  dir.Write("doc", "the document");
  Ok(Qrsa({"encrypt", "-k", keys.Public512, "-i", dir.File("doc"), "-o", dir.File("doc")}));
  EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", keys.Key512, "-i", dir.File("doc")})), "the document");
}

// Binary output with no -o is refused on a terminal before any input is read; -o - sends it anyway,
// and text outputs go to a terminal as ever.
TEST_F(CliOutputsTest, BinaryOutputIsRefusedOnATerminal) {
  if (Emulated()) GTEST_SKIP() << "the tool runs through an emulator here";
  int master = -1, terminal = -1;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  const Attached refused = RunAttached({"seal", "-k", keys.Public512}, terminal, "data");
  EXPECT_EQ(refused.Status, kUsage) << refused.Err;
  EXPECT_EQ(refused.Err, "qrsa: refusing to write binary output to a terminal; use -o FILE, --armor, or -o - to force\n");
  const Attached forced = RunAttached({"seal", "-k", keys.Public512, "-o", "-"}, terminal, "data");
  EXPECT_EQ(forced.Status, 0) << forced.Err;
  const Attached text = RunAttached({"encrypt", "-k", keys.Public512}, terminal, "data");
  EXPECT_EQ(text.Status, 0) << text.Err;
  close(terminal);
  close(master);
}

// A log that standard output appends to (>> log) keeps its lines when -o names standard output, by
// any of its names or as the log itself; secret outputs too (they may go to standard output).
TEST_F(CliOutputsTest, AnOutputNamingStandardOutputAppendsThroughTheDescriptor) {
  if (Emulated()) GTEST_SKIP() << "the tool runs through an emulator here";
  const std::string log = dir.File("log");
  std::filesystem::create_symlink(log, dir.File("log-link"));
  const std::string bits = "512\n";
  const std::string privateText = Ok(Qrsa({"show", "-k", keys.Key512, "private"}));
  const struct {
    std::string path;
    const char* what;
  } cases[] = {
      {"/dev/stdout", "bits"}, {"/dev/fd/1", "bits"},       {"/proc/self/fd/1", "bits"},
      {log, "bits"},           {dir.File("log-link"), "bits"}, {"/dev/stdout", "private"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.what);
    dir.Write("log", "earlier line 1\nearlier line 2\n");
    const int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const Attached result = RunAttached({"show", "-k", keys.Key512, c.what, "-o", c.path}, fd);
    close(fd);
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(dir.Read("log"), "earlier line 1\nearlier line 2\n" + (std::string(c.what) == "bits" ? bits : privateText));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("log-link")));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"log", "log-link"}));
  }
}

// Whether the scratch directory's file system has unnamed temporaries (O_TMPFILE).
bool HasUnnamedFiles(const std::string& dir) {
  const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// seal is stopped by each terminating signal while it waits for more input, with its output half
// written: nothing is left in the directory, neither the temporary nor a core (the core limit is
// raised for it and its working directory is the one watched). With unnamed temporaries no name ever
// shows, so SIGKILL leaves nothing either; the named ones (QRSA_NAMED_TEMPORARY=1) are removed by the
// handler.
TEST_F(CliOutputsTest, NoSignalLeavesATemporaryOrACore) {
  if (Emulated()) GTEST_SKIP() << "the tool runs through an emulator here";
  const struct {
    int signal;
    const char* name;
  } signals[] = {{SIGINT, "SIGINT"},   {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},   {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"},
                 {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"}, {SIGPIPE, "SIGPIPE"}, {SIGKILL, "SIGKILL"}};
  const bool unnamed = HasUnnamedFiles(dir.Path());
  if (!unnamed) std::fprintf(stderr, "note: %s has no unnamed files; only named temporaries are tried\n", dir.Path().c_str());
  for (const bool named : {false, true}) {
    if (!named && !unnamed) continue;
    for (const auto& s : signals) {
      if (named && s.signal == SIGKILL) continue;  // no handler runs: only unnamed temporaries vanish
      SCOPED_TRACE(std::string(s.name) + (named ? ", named temporary" : ", unnamed temporary"));
      int input[2];
      ASSERT_EQ(pipe(input), 0);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(input[0], STDIN_FILENO);
        close(input[1]);
        if (chdir(dir.Path().c_str()) != 0) _exit(126);
        const struct rlimit unlimited {RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_CORE, &unlimited);  // root may; elsewhere the tool's own limit is shown by the absent core anyway
        if (named) setenv("QRSA_NAMED_TEMPORARY", "1", 1);
        execl(QRSA_BINARY, "qrsa", "seal", "-k", keys.Public512.c_str(), "-o", "out", "--quiet", static_cast<char*>(nullptr));
        _exit(127);
      }
      close(input[0]);
      // More than a pipe holds: once the write returns, seal has read input, so its output exists.
      const std::string data(200000, 'z');
      ASSERT_EQ(write(input[1], data.data(), data.size()), ssize_t(data.size()));
      EXPECT_EQ(dir.Entries().size(), named ? 1u : 0u);
      kill(child, s.signal);
      int status = 0;
      waitpid(child, &status, 0);
      close(input[1]);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == s.signal) << status;
      EXPECT_FALSE(WCOREDUMP(status));
      EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
    }
  }
}

// Signature files, wrapped-key texts and session keys hold a few hundred bytes: one larger than 1 MiB is
// refused from its size, or once 1 MiB is read from a pipe, so 100 MB of input cost no memory. Exit 3,
// nothing written; a file of exactly 1 MiB is not refused for its size.
TEST_F(CliOutputsTest, SmallInputsLargerThanAMebibyteAreRefused) {
  if (Emulated()) GTEST_SKIP() << "the tool runs through an emulator here";
  constexpr off_t kHundredMegabytes = 100 * 1000 * 1000;
  for (const char* name : {"huge.sig", "huge.txt"}) {
    const int fd = open(dir.File(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, kHundredMegabytes), 0);  // sparse: no disk space, no time
    close(fd);
  }
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(null, 0);
  const struct {
    const char* name;
    std::vector<std::string> args;
    bool fromPipe;
    std::string message;
  } cases[] = {
      {"signature file", {"verify", "-k", keys.Public512, "-s", dir.File("huge.sig"), "-i", keys.Public512}, false,
       "qrsa: " + dir.File("huge.sig") + " is too large for a signature (1 MiB at most)\n"},
      {"wrapped key file", {"unwrap", "-k", keys.Key512, "--sym-bits", "64", "-i", dir.File("huge.txt"), "-o", dir.File("out")},
       false, "qrsa: " + dir.File("huge.txt") + " is too large for a wrapped key (1 MiB at most)\n"},
      {"wrapped key from a pipe", {"unwrap", "-k", keys.Key512, "--sym-bits", "64", "-o", dir.File("out")}, true,
       "qrsa: standard input is too large for a wrapped key (1 MiB at most)\n"},
      {"session key from a pipe", {"wrap", "-k", keys.Public512, "--sym-bits", "64", "-o", dir.File("out")}, true,
       "qrsa: standard input is too large for a session key (1 MiB at most)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Attached result = RunAttached(c.args, null, "", c.fromPipe ? kHundredMegabytes : 0);
    EXPECT_EQ(result.Status, 3);
    EXPECT_EQ(result.Err, c.message);
    EXPECT_LT(result.PeakKiB, 48 * 1024);  // a few MiB; reading it all would take over 100 MB
    EXPECT_FALSE(dir.Exists("out"));
  }
  // At the limit the size is no reason to refuse (the content is).
  dir.Write("mebibyte.sig", std::string(1 << 20, 'A'));
  const Attached atLimit = RunAttached({"verify", "-k", keys.Public512, "-s", dir.File("mebibyte.sig"), "-i", keys.Public512}, null);
  EXPECT_EQ(atLimit.Status, 3);
  EXPECT_EQ(atLimit.Err.find("too large"), std::string::npos) << atLimit.Err;
  close(null);
}

}  // namespace
}  // namespace Testing
