// encrypt and decrypt on inputs larger than the tool's read pieces: the same text as the component
// makes of the whole input, checked decryption that refuses damage anywhere in a long text, and the
// progress line on a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>
#include <vector>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/QrsaTool.h"

namespace Testing {
namespace {

constexpr int kFailure = 3;

// count bytes of every value, in an order that repeats only every 251 bytes.
std::string Data(std::size_t count) {
  std::string data(count, '\0');
  for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  return data;
}

class CliStreamTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;

  static void ExpectFailure(const ProgramResult& result, const std::string& message) {
    EXPECT_EQ(result.Status, kFailure) << result.Err;
    EXPECT_NE(result.Err.find("qrsa: " + message), std::string::npos) << result.Err;
  }

  // The component's text of the whole input, from the key file's public key text.
  std::string WholeText(const std::string& key, Rsa::TKeyBits bits, const std::string& plain) {
    std::string publicText = Ok(Qrsa({"show", "-k", key, "public"}));
    publicText.pop_back();
    Rsa::TRSA rsa(nullptr);
    rsa.SetKeyBits(bits);
    rsa.PutPublicKey(publicText);
    System::AnsiString cipher;
    rsa.EncryptString(plain, cipher);
    return cipher.str() + "\n";
  }
};

// Around the tool's 64 KiB read pieces and well beyond them: the text is the component's text of the
// whole input, from a file and from standard input, and decrypts back through either, checked against
// the public key or (with a bare private key text) unchecked.
TEST_F(CliStreamTest, LongInputsGiveTheWholeInputsTextAndComeBack) {
  dir.Write("private512.txt", Ok(Qrsa({"show", "-k", keys.Key512, "private"})));
  const struct {
    std::string Key;
    Rsa::TKeyBits Bits;
    std::size_t Length;
  } cases[] = {{keys.Key512, Rsa::kb0512, 65536}, {keys.Key512, Rsa::kb0512, 2 * 65536 + 1},
               {keys.Key1024, Rsa::kb1024, 100000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Length << " bytes");
    const std::string plain = Data(c.Length);
    dir.Write("plain", plain);
    const std::string text = Ok(Qrsa({"encrypt", "-k", c.Key, "-i", dir.File("plain")}));
    EXPECT_EQ(text, WholeText(c.Key, c.Bits, plain));
    EXPECT_EQ(Ok(Qrsa({"encrypt", "-k", c.Key}, plain)), text);

    dir.Write("text", text);
    Ok(Qrsa({"decrypt", "-k", c.Key, "-i", dir.File("text"), "-o", dir.File("back")}));
    EXPECT_EQ(dir.Read("back"), plain);
    EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", c.Key}, text + "\n \n")), plain);
    if (c.Bits == Rsa::kb0512) {
      const auto unchecked = Qrsa({"decrypt", "-k", dir.File("private512.txt")}, text);
      EXPECT_EQ(unchecked.Out, plain);
      EXPECT_NE(unchecked.Err.find("could not be checked"), std::string::npos) << unchecked.Err;
    }
  }
}

// Damage far into a long text, past several read pieces: a changed block or a missing last block is
// caught by the check, a cut inside a block and a character outside the alphabet by the component's
// own refusals. A file output never appears; standard output gets only bytes whose blocks were
// checked, a leading part of the data.
TEST_F(CliStreamTest, DamageAnywhereInALongTextIsRefused) {
  const std::string plain = Data(100000);
  std::string text = Ok(Qrsa({"encrypt", "-k", keys.Key512}, plain));
  text.pop_back();
  const std::size_t late = text.size() - 5000;  // in the last read piece, blocks before the end
  std::string changed = text;
  changed[late] = changed[late] == 'A' ? 'B' : 'A';
  const std::string raw = Rsa::Radix64Decode(text).str();
  const std::string lastBlockDropped = Rsa::Radix64Encode(raw.substr(0, raw.size() - 64)).str();
  const struct {
    const char* Name;
    std::string Text;
    const char* Message;
  } cases[] = {
      {"a changed character", changed, "the cipher text was not made for this key, or it is damaged"},
      {"the last block missing", lastBlockDropped, "the cipher text was not made for this key, or it is damaged"},
      {"cut inside a block", text.substr(0, text.size() - 40), "String has incorrect length"},
      {"a space inside", text.substr(0, late) + " " + text.substr(late), "String not valid"},
      {"a second line", text + "\n" + text, "String not valid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectFailure(Qrsa({"decrypt", "-k", keys.Key512, "-o", dir.File("back")}, c.Text), c.Message);
    EXPECT_FALSE(dir.Exists("back"));
    const auto streamed = Qrsa({"decrypt", "-k", keys.Key512}, c.Text);
    ExpectFailure(streamed, c.Message);
    EXPECT_EQ(streamed.Out, plain.substr(0, streamed.Out.size()));
  }
}

// The progress line appears on a terminal once a run takes more than a second, and --quiet turns it
// off. Standard input is a pipe that pauses, so the run is long without much work; the tool is started
// directly, so a cross build leaves this to the native run.
TEST_F(CliStreamTest, ProgressLineOnATerminalUnlessQuiet) {
  if (std::getenv("QRSA_RUNNER") != nullptr) GTEST_SKIP() << "the tool runs through an emulator here";
  const std::string plain = Data(100000);
  const std::string text = Ok(Qrsa({"encrypt", "-k", keys.Key512}, plain));
  const struct {
    const char* Command;
    const std::string& Input;
    bool Quiet;
  } cases[] = {{"encrypt", plain, false}, {"decrypt", text, false}, {"decrypt", text, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Command << (c.Quiet ? " --quiet" : ""));
    int terminal = -1, errSide = -1, input[2];
    ASSERT_EQ(openpty(&terminal, &errSide, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(pipe(input), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      dup2(input[0], STDIN_FILENO);
      dup2(errSide, STDERR_FILENO);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      close(input[1]);
      close(terminal);
      std::vector<const char*> argv = {"qrsa", c.Command, "-k", keys.Key512.c_str()};
      if (c.Quiet) argv.push_back("--quiet");
      argv.push_back(nullptr);
      execv(QRSA_BINARY, const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(input[0]);
    close(errSide);
    // A little, a pause past a second, then the rest: the pieces after the pause are reported.
    ASSERT_EQ(write(input[1], c.Input.data(), 1000), 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    ASSERT_EQ(write(input[1], c.Input.data() + 1000, c.Input.size() - 1000), ssize_t(c.Input.size() - 1000));
    close(input[1]);
    std::string shown;
    char buffer[4096];
    for (;;) {
      pollfd ready{terminal, POLLIN, 0};
      if (poll(&ready, 1, 20000) <= 0) break;
      const ssize_t got = read(terminal, buffer, sizeof buffer);
      if (got <= 0) break;  // the tool closed its side
      shown.append(buffer, std::size_t(got));
    }
    close(terminal);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    if (c.Quiet) {
      EXPECT_EQ(shown, "");
    } else {
      // "0.1 MiB  0.1 MB/s" (no total on a pipe), rewritten in place and cleared at the end.
      EXPECT_TRUE(std::regex_search(shown, std::regex(R"(\r[0-9]+\.[0-9] MiB +[0-9]+\.[0-9] MB/s)"))) << shown;
      EXPECT_TRUE(shown.ends_with("\r\033[K")) << shown;
    }
  }
}

}  // namespace
}  // namespace Testing
