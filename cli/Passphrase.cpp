#include "cli/Passphrase.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/Failure.h"
#include "cli/Secret.h"
#include "keys/KeyInput.h"

namespace Qrsa {

const char* const PassphraseOptions[2] = {"--passphrase-file", "--passphrase-env"};
const char* const PassphraseHelp =
    "  --passphrase-file FILE  an encrypted key's passphrase: the first line of FILE\n"
    "  --passphrase-env VAR    an encrypted key's passphrase: the environment variable VAR\n"
    "                          (without either, it is asked on the terminal)\n";

namespace {

// The first line of a passphrase file, without its line break.
std::string FromFile(const std::string& path) {
  SecretText content(Qarvex::Keys::ReadKeyInput(path));
  const std::string& text = content.Text();
  std::size_t end = text.find('\n');
  if (end == std::string::npos) end = text.size();
  if (end > 0 && text[end - 1] == '\r') --end;
  return text.substr(0, end);
}

std::string FromEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) throw Failure("the environment variable " + name + " is not set");
  return value;
}

// A terminal opened for one question; echo is off while the answer is typed.
class Terminal {
 public:
  Terminal() : FFd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (FFd >= 0) ::close(FFd);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  bool Open() const { return FFd >= 0; }

  // Prints the prompt and reads one line with echo off.
  std::string Ask(const std::string& prompt) {
    Put(prompt);
    termios saved {};
    const bool isTerminal = ::tcgetattr(FFd, &saved) == 0;
    if (isTerminal) {
      termios quiet = saved;
      quiet.c_lflag &= ~tcflag_t(ECHO);
      quiet.c_lflag |= ECHONL;
      ::tcsetattr(FFd, TCSAFLUSH, &quiet);
    }
    std::string line;
    line.reserve(1024);
    char c = 0;
    for (;;) {
      const ssize_t got = ::read(FFd, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || c == '\n') break;
      if (line.size() < 1023) line += c;
    }
    c = 0;
    if (isTerminal) ::tcsetattr(FFd, TCSAFLUSH, &saved);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

 private:
  void Put(const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t put = ::write(FFd, text.data() + done, text.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return;
      done += std::size_t(put);
    }
  }
  int FFd;
};

}  // namespace

Qarvex::Keys::ReadOptions KeyReadOptions(const ParsedArgs& args) {
  const auto file = args.Value("--passphrase-file");
  const auto env = args.Value("--passphrase-env");
  if (file && env) throw UsageError("give either --passphrase-file or --passphrase-env, not both", args.Usage());
  Qarvex::Keys::ReadOptions options;
  options.Passphrase = [file, env](const std::string& path, std::string& passphrase) {
    if (file) {
      passphrase = FromFile(*file);
    } else if (env) {
      passphrase = FromEnvironment(*env);
    } else {
      Terminal terminal;
      if (!terminal.Open()) throw Failure(path + " is encrypted: give --passphrase-file or --passphrase-env");
      passphrase = terminal.Ask("Passphrase for " + path + ": ");
    }
  };
  return options;
}

std::string NewPassphrase(const ParsedArgs& args, const std::string& fileOption, const std::string& envOption,
                          const std::string& what) {
  const auto file = args.Value(fileOption);
  const auto env = args.Value(envOption);
  if (file && env) throw UsageError("give either " + fileOption + " or " + envOption + ", not both", args.Usage());
  SecretText passphrase;
  if (file) {
    passphrase.Text() = FromFile(*file);
  } else if (env) {
    passphrase.Text() = FromEnvironment(*env);
  } else {
    Terminal terminal;
    if (!terminal.Open())
      throw Failure("no terminal to ask the new passphrase for " + what + " on: give " + fileOption + " or " +
                    envOption);
    passphrase.Text() = terminal.Ask("New passphrase for " + what + ": ");
    SecretText again(terminal.Ask("The same passphrase again: "));
    if (again.Text() != passphrase.Text()) throw Failure("the two passphrases differ; nothing was written");
  }
  if (passphrase.Text().empty()) throw Failure("an empty passphrase is refused: it would protect nothing");
  return std::move(passphrase.Text());
}

}  // namespace Qrsa
