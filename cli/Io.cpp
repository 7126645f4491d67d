#include "cli/Io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/Failure.h"

namespace Qrsa {

namespace {

bool IsStandardStream(const std::string& path) { return path.empty() || path == "-"; }

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Reads everything from an open descriptor.
bool ReadAll(int fd, std::string& out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buffer, std::size_t(got));
  }
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

// The mode of a new public output: an existing file's own mode, else the usual one under the umask.
mode_t PublicFileMode(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

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
  const bool ok = ReadAll(fd, data);
  const int readErrno = errno;
  ::close(fd);
  if (!ok) {
    errno = readErrno;
    throw Failure(SystemError("cannot read", path));
  }
  return data;
}

void WriteOutput(const std::string& requested, std::string_view data, bool secret) {
  if (IsStandardStream(requested)) {
    if (!WriteAll(STDOUT_FILENO, data)) throw Failure(std::string("cannot write standard output: ") + std::strerror(errno));
    return;
  }
  struct stat info {};
  if (::stat(requested.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    if (S_ISDIR(info.st_mode)) throw Failure("cannot write " + requested + ": it is a directory");
    // A device or a pipe cannot be replaced, only written to.
    const int fd = ::open(requested.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw Failure(SystemError("cannot open", requested));
    const bool ok = WriteAll(fd, data);
    const int writeErrno = errno;
    ::close(fd);
    errno = writeErrno;
    if (!ok) throw Failure(SystemError("cannot write", requested));
    return;
  }
  // A symbolic link stays a link: the file it names is the one replaced.
  std::string path = requested;
  if (char* resolved = ::realpath(requested.c_str(), nullptr)) {
    path = resolved;
    std::free(resolved);
  }
  std::vector<char> temp(path.begin(), path.end());
  const char suffix[] = ".qrsa-XXXXXX";
  temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw Failure(SystemError("cannot create a file beside", requested));
  const std::string tempPath(temp.data());
  const bool ok = (secret || ::fchmod(fd, PublicFileMode(path)) == 0) && WriteAll(fd, data) && ::fsync(fd) == 0;
  const int writeErrno = errno;
  if (::close(fd) != 0 || !ok) {
    errno = ok ? errno : writeErrno;
    const std::string message = SystemError("cannot write", requested);
    ::unlink(tempPath.c_str());
    throw Failure(message);
  }
  if (::rename(tempPath.c_str(), path.c_str()) != 0) {
    const std::string message = SystemError("cannot write", requested);
    ::unlink(tempPath.c_str());
    throw Failure(message);
  }
}

std::string TrimText(std::string text) {
  const auto end = text.find_last_not_of(" \t\r\n\v\f");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

}  // namespace Qrsa
