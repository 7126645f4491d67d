// No secret outlives its use in the tool's memory: gdb stops qrsa at its exit_group system call (after
// main returned and the exit handlers ran), gcore dumps its memory, and no copy of the private key
// text, the private exponent's field, the PEM text's lines or the unwrapped session key (as hex or as
// bytes) is found, nor either half of one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/QrsaTool.h"

namespace Testing {
namespace {

class CliRemnantsTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;
};

std::size_t Count(const std::string& haystack, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++count;
  return count;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// Why the check cannot run here, or empty when it can.
std::string Unavailable() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return "a sanitizer's shadow memory and allocator quarantine are not the tool's own";
#else
  if (std::getenv("QRSA_RUNNER") != nullptr) return "the tool runs through an emulator here";
  try {
    if (RunProgram({"gdb", "--version"}).Status != 0) return "gdb is not installed (scripts/ensure-deps installs it)";
  } catch (const std::exception&) {
    return "gdb is not installed (scripts/ensure-deps installs it)";
  }
  return "";
#endif
}

TEST_F(CliRemnantsTest, NoSecretIsLeftInMemoryAtExit) {
  if (const std::string why = Unavailable(); !why.empty()) GTEST_SKIP() << why;
  std::string privateText = Ok(Qrsa({"show", "-k", keys.Key1024, "private"}));
  while (!privateText.empty() && privateText.back() == '\n') privateText.pop_back();
  const std::string exponentField = privateText.substr(privateText.find(':') + 1);
  const std::string pem = Ok(Qrsa({"export-pem", "-k", keys.Key1024}));
  const std::string sessionHex = "8f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f7";
  dir.Write("pem", pem);
  dir.Write("wrapped", Ok(Qrsa({"wrap", "-k", keys.Key1024, "--scheme", "component", "--sym-bits", "256", "--key", sessionHex})));
  std::vector<std::string> pemLines;
  for (std::size_t at = 0, end; (end = pem.find('\n', at)) != std::string::npos; at = end + 1)
    if (pem.compare(at, 5, "-----") != 0 && end - at >= 32) pemLines.push_back(pem.substr(at, end - at));
  ASSERT_GE(pemLines.size(), 10u);

  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> secrets;
  } cases[] = {
      {"show private", {"show", "-k", keys.Key1024, "private", "-o", dir.File("out")}, {privateText, exponentField}},
      {"unwrap",
       {"unwrap", "-k", keys.Key1024, "--scheme", "component", "--sym-bits", "256", "-i", dir.File("wrapped"), "-o",
        dir.File("out")},
       {sessionHex, FromHex(sessionHex), exponentField}},
      {"export-pem", {"export-pem", "-k", keys.Key1024, "-o", dir.File("out")}, pemLines},
      {"import-pem", {"import-pem", "-i", dir.File("pem"), "-o", dir.File("out")}, pemLines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir.File("out"));
    // No symbols are read (the dump needs none), which keeps each run well under a second.
    std::vector<std::string> gdb = {"gdb", "-nx", "-batch", "-q", "-readnever", "-iex", "set auto-solib-add off",
                                    "-iex", "set debuginfod enabled off", "-ex", "catch syscall exit_group", "-ex",
                                    "run", "-ex", "gcore " + dir.File("core"), "-ex", "kill", "--args", QRSA_BINARY};
    gdb.insert(gdb.end(), c.args.begin(), c.args.end());
    const ProgramResult run = RunProgram(gdb);
    if (!dir.Exists("out") && (run.Out + run.Err).find("ptrace") != std::string::npos)
      GTEST_SKIP() << "gdb cannot trace processes here: " << run.Out << run.Err;
    ASSERT_TRUE(dir.Exists("out")) << "the command did not finish: " << run.Out << run.Err;
    if (!dir.Exists("core"))
      GTEST_SKIP() << "gdb could not dump the tool's memory (a non-dumpable process needs CAP_SYS_PTRACE): " << run.Err;
    const std::string core = dir.Read("core");
    std::filesystem::remove(dir.File("core"));
    ASSERT_GT(core.size(), 100000u);
    for (const std::string& secret : c.secrets) {
      SCOPED_TRACE(secret.substr(0, 24));
      EXPECT_EQ(Count(core, secret), 0u);
      EXPECT_EQ(Count(core, secret.substr(0, secret.size() / 2)), 0u);
      EXPECT_EQ(Count(core, secret.substr(secret.size() / 2)), 0u);
    }
  }
}

}  // namespace
}  // namespace Testing
