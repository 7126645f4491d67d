#include "cli/Io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Failure.h"
#include "cli/Keys.h"
#include "cli/Secret.h"
#include "host/core/AtomicFile.h"

namespace Qrsa {

namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Appends to out, moving what it holds to a larger buffer and wiping the old one when it is full, so
// that growing leaves no copy of a key text behind in freed memory.
void AppendWiping(std::string& out, const char* data, std::size_t size) {
  if (out.size() + size > out.capacity()) {
    std::string larger;
    larger.reserve(std::max(2 * out.capacity(), out.size() + size));
    larger.append(out);
    Wipe(out);
    out.swap(larger);
  }
  out.append(data, size);
}

enum class ReadOutcome { Complete, Failed, TooLarge };

// Reads everything from an open descriptor, or stops once it has more than limit bytes.
ReadOutcome ReadAll(int fd, std::string& out, std::uint64_t limit) {
  char buffer[1 << 16];
  ReadOutcome outcome = ReadOutcome::Complete;
  for (;;) {
    // At most one byte beyond the limit is read: enough to know the input is too large.
    const std::uint64_t left = limit - std::min<std::uint64_t>(limit, out.size());
    const std::size_t want = left >= sizeof buffer ? sizeof buffer : std::size_t(left) + 1;
    const ssize_t got = ::read(fd, buffer, want);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      outcome = ReadOutcome::Failed;
      break;
    }
    AppendWiping(out, buffer, std::size_t(got));
    if (out.size() > limit) {
      outcome = ReadOutcome::TooLarge;
      break;
    }
  }
  const int readErrno = errno;
  Wipe(buffer, sizeof buffer);
  errno = readErrno;
  return outcome;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(std::size_t(put));
  }
  return true;
}

// The terminating signals whose default action would leave a temporary behind.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE};

// ---- Temporaries removed on a fatal signal. Plain arrays: the handler may only touch memory that
// no allocation moves, and call async-signal-safe functions.
constexpr int kMaxTemporaries = 4;
char gTemporaries[kMaxTemporaries][PATH_MAX];
volatile sig_atomic_t gTemporaryUsed[kMaxTemporaries];

// Blocks the cleanup signals while the table changes, so the handler never sees half a path.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kCleanupSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &FOld);
  }
  ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &FOld, nullptr); }

 private:
  sigset_t FOld;
};

void RememberTemporary(const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return;  // an unnamed temporary needs no clean-up
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (gTemporaryUsed[i]) continue;
    std::memcpy(gTemporaries[i], path.c_str(), path.size() + 1);
    gTemporaryUsed[i] = 1;
    return;
  }
}

void ForgetTemporary(const std::string& path) {
  for (int i = 0; i < kMaxTemporaries; ++i)
    if (gTemporaryUsed[i] && path == gTemporaries[i]) gTemporaryUsed[i] = 0;
}

void RemoveTemporariesAndDie(int sig) {
  for (int i = 0; i < kMaxTemporaries; ++i)
    if (gTemporaryUsed[i]) ::unlink(gTemporaries[i]);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// True when path is a regular file that holds a private key: a key file with one, a bare private
// key text, or a PEM private key. Large files cannot be key files and are not read.
bool HoldsPrivateKey(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > (1 << 20)) return false;
  SecretText content;
  try {
    content.Text() = ReadInput(path);
  } catch (const Failure&) {
    return false;
  }
  if (content.Text().find("PRIVATE KEY-----") != std::string::npos) return true;
  try {
    return LoadKeyText(content.Text(), path)->HasPrivateKey();
  } catch (...) {
    return false;  // not a key file at all
  }
}

// Unnamed temporaries where the file system has them (nothing to clean up, even after SIGKILL);
// QRSA_NAMED_TEMPORARY=1 asks for the named ones every file system has, for a file system whose
// unnamed files misbehave, and so that the clean-up on signals can be tested anywhere.
Sysutils::TTemporary TemporaryKind() {
  const char* named = std::getenv("QRSA_NAMED_TEMPORARY");
  return named != nullptr && std::strcmp(named, "1") == 0 ? Sysutils::TTemporary::Named : Sysutils::TTemporary::Unnamed;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether path names the tool's own standard output: by one of the names every Linux system gives it,
// or as the very file (or pipe, or device) descriptor 1 is open on.
bool NamesStandardOutput(const std::string& path) {
  if (path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1") return true;
  struct stat out {}, named {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &named) == 0 && SameFile(out, named);
}

// "1 MiB" for the usual limit, else the count of bytes.
std::string LimitText(std::uint64_t limit) {
  if (limit % (1 << 20) == 0) return std::to_string(limit >> 20) + " MiB";
  return std::to_string(limit) + " bytes";
}

std::string Lowercased(std::string message) {
  if (!message.empty() && message[0] >= 'A' && message[0] <= 'Z') message[0] = char(message[0] - 'A' + 'a');
  return message;
}

}  // namespace

bool IsStandardStream(const std::string& path) { return path.empty() || path == "-"; }

std::string ReadInput(const std::string& path) { return ReadInput(path, UINT64_MAX, ""); }

std::string ReadInput(const std::string& path, std::uint64_t limit, const std::string& what) {
  const std::string name = IsStandardStream(path) ? "standard input" : path;
  const auto tooLarge = [&] {
    return Failure(name + " is too large for " + what + " (" + LimitText(limit) + " at most)");
  };
  std::string data;
  if (IsStandardStream(path)) {
    const ReadOutcome outcome = ReadAll(STDIN_FILENO, data, limit);
    if (outcome == ReadOutcome::Failed) throw Failure(std::string("cannot read standard input: ") + std::strerror(errno));
    if (outcome == ReadOutcome::TooLarge) {
      Wipe(data);
      throw tooLarge();
    }
    return data;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(SystemError("cannot open", path));
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw Failure("cannot read " + path + ": it is a directory");
  }
  // A file's size refuses it before anything is read; the bytes read are bounded as well (a file may
  // grow, and a device or a pipe has no size).
  if (S_ISREG(info.st_mode) && std::uint64_t(info.st_size) > limit) {
    ::close(fd);
    throw tooLarge();
  }
  if (S_ISREG(info.st_mode) && info.st_size > 0) data.reserve(std::size_t(info.st_size) + 1);
  const ReadOutcome outcome = ReadAll(fd, data, limit);
  const int readErrno = errno;
  ::close(fd);
  if (outcome == ReadOutcome::Failed) {
    Wipe(data);
    errno = readErrno;
    throw Failure(SystemError("cannot read", path));
  }
  if (outcome == ReadOutcome::TooLarge) {
    Wipe(data);
    throw tooLarge();
  }
  return data;
}

Output::Output(const std::string& requested, OutputKind kind, bool force, OutputForm form) : FPath(requested) {
  // Binary data would garble a terminal; an explicit -o (even -o -) sends them anyway.
  if (form == OutputForm::Binary && requested.empty() && ::isatty(STDOUT_FILENO))
    throw OutputRefused("refusing to write binary output to a terminal; use -o FILE, --armor, or -o - to force");
  // Replacing the file behind our own standard output would lose what it held (a log appended to
  // with >>): write to the descriptor instead, as without -o.
  if (IsStandardStream(requested) || NamesStandardOutput(requested)) {
    FStandard = true;
    return;
  }
  const bool secret = kind == OutputKind::Secret;
  struct stat link {};
  const bool exists = ::lstat(requested.c_str(), &link) == 0;
  if (exists && S_ISDIR(link.st_mode)) throw Failure("cannot write " + requested + ": it is a directory");
  if (secret && exists && !S_ISREG(link.st_mode))
    throw Failure("refusing to write secret data to " + requested +
                  (S_ISLNK(link.st_mode) ? ": it is a symbolic link" : ": it is not a regular file") +
                  " (name a regular file, or leave out -o for standard output)");
  struct stat info {};
  if (!secret && ::stat(requested.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    if (S_ISDIR(info.st_mode)) throw Failure("cannot write " + requested + ": it is a directory");
    // A device or a pipe cannot be replaced, only written to.
    FDirect = ::open(requested.c_str(), O_WRONLY | O_CLOEXEC);
    if (FDirect < 0) throw Failure(SystemError("cannot open", requested));
    return;
  }
  // A public output through a symbolic link replaces the file the link names; the link stays.
  std::string path = requested;
  if (!secret) {
    if (char* resolved = ::realpath(requested.c_str(), nullptr)) {
      path = resolved;
      std::free(resolved);
    }
  }
  if (!force && HoldsPrivateKey(path))
    throw Failure(requested + " holds a private key; refusing to replace it (give --force to replace it anyway)");
  const SignalsBlocked blocked;
  try {
    FFile = std::make_unique<Sysutils::TAtomicFile>(
        path, secret ? Sysutils::TFileAccess::OwnerOnly : Sysutils::TFileAccess::Keep, TemporaryKind());
  } catch (const Sysutils::EFileWriteError& error) {
    throw Failure(Lowercased(error.Message().str()));
  }
  RememberTemporary(FFile->TempPath());
}

Output::~Output() {
  if (FDirect >= 0) ::close(FDirect);
  if (FFile) {
    const SignalsBlocked blocked;
    ForgetTemporary(FFile->TempPath());
    FFile->Discard();
  }
}

void Output::Write(std::string_view data) {
  if (FStandard || FDirect >= 0) {
    if (!WriteAll(FStandard ? STDOUT_FILENO : FDirect, data))
      throw Failure(FStandard ? std::string("cannot write standard output: ") + std::strerror(errno)
                              : SystemError("cannot write", FPath));
    return;
  }
  try {
    FFile->Write(data);
  } catch (const Sysutils::EFileWriteError& error) {
    throw Failure(Lowercased(error.Message().str()));
  }
}

void Output::Commit() {
  if (FDirect >= 0) {
    const int fd = FDirect;
    FDirect = -1;
    if (::close(fd) != 0) throw Failure(SystemError("cannot write", FPath));
    return;
  }
  if (!FFile) return;
  const SignalsBlocked blocked;
  const std::string temp = FFile->TempPath();
  try {
    FFile->Commit();
  } catch (const Sysutils::EFileWriteError& error) {
    ForgetTemporary(temp);
    throw Failure(Lowercased(error.Message().str()));
  }
  ForgetTemporary(temp);
}

void WriteOutput(const std::string& path, std::string_view data, OutputKind kind, bool force, OutputForm form) {
  Output output(path, kind, force, form);
  output.Write(data);
  output.Commit();
}

void RequireOutputApart(const std::optional<std::string>& output,
                        const std::vector<std::pair<std::string, std::optional<std::string>>>& inputs,
                        const std::string& usage) {
  if (!output || IsStandardStream(*output)) return;
  struct stat target {};
  if (::stat(output->c_str(), &target) != 0) return;  // a new file is no input
  for (const auto& [option, input] : inputs) {
    struct stat info {};
    if (!input || IsStandardStream(*input) || ::stat(input->c_str(), &info) != 0 || !SameFile(target, info)) continue;
    throw UsageError("-o " + *output + " is the file given with " + option +
                         (*output == *input ? "" : " (" + *input + ")") +
                         ", which the command reads: writing there would replace it; name another output file",
                     usage);
  }
}

void InstallSignalCleanup() {
  struct sigaction action {};
  action.sa_handler = RemoveTemporariesAndDie;
  sigemptyset(&action.sa_mask);
  // The handler blocks the others while it runs, so two signals never remove the same names at once.
  for (const int sig : kCleanupSignals) sigaddset(&action.sa_mask, sig);
  for (const int sig : kCleanupSignals) {
    struct sigaction old {};
    // A signal ignored by whoever started the tool stays ignored.
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
}

std::string TrimText(std::string text) {
  const auto end = text.find_last_not_of(" \t\r\n\v\f");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

}  // namespace Qrsa
