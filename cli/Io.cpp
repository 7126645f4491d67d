#include "cli/Io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

// Reads everything from an open descriptor.
bool ReadAll(int fd, std::string& out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      Wipe(buffer, sizeof buffer);
      return false;
    }
    out.append(buffer, std::size_t(got));
  }
  Wipe(buffer, sizeof buffer);
  return true;
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
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &FOld);
  }
  ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &FOld, nullptr); }

 private:
  sigset_t FOld;
};

void RememberTemporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
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

std::string Lowercased(std::string message) {
  if (!message.empty() && message[0] >= 'A' && message[0] <= 'Z') message[0] = char(message[0] - 'A' + 'a');
  return message;
}

}  // namespace

bool IsStandardStream(const std::string& path) { return path.empty() || path == "-"; }

std::string ReadInput(const std::string& path) {
  std::string data;
  if (IsStandardStream(path)) {
    if (!ReadAll(STDIN_FILENO, data)) throw Failure(std::string("cannot read standard input: ") + std::strerror(errno));
    return data;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(SystemError("cannot open", path));
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw Failure("cannot read " + path + ": it is a directory");
  }
  if (S_ISREG(info.st_mode) && info.st_size > 0) data.reserve(std::size_t(info.st_size) + 1);
  const bool ok = ReadAll(fd, data);
  const int readErrno = errno;
  ::close(fd);
  if (!ok) {
    errno = readErrno;
    throw Failure(SystemError("cannot read", path));
  }
  return data;
}

Output::Output(const std::string& requested, OutputKind kind, bool force) : FPath(requested) {
  if (IsStandardStream(requested)) {
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
        path, secret ? Sysutils::TFileAccess::OwnerOnly : Sysutils::TFileAccess::Keep);
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

void WriteOutput(const std::string& path, std::string_view data, OutputKind kind, bool force) {
  Output output(path, kind, force);
  output.Write(data);
  output.Commit();
}

void InstallSignalCleanup() {
  struct sigaction action {};
  action.sa_handler = RemoveTemporariesAndDie;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
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
