#include "host/core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace Sysutils {

namespace {

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A name that no other writer picks at the same time: the process id, a counter and the clock.
// Uniqueness only saves retries; O_EXCL is what makes the creation safe.
std::string TemporaryName(const std::string& path) {
  static std::atomic<unsigned long> counter{0};
  const auto slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const unsigned long long tick =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  const unsigned long long mix = (tick * 0x9e3779b97f4a7c15ULL) ^ (counter.fetch_add(1) * 0xbf58476d1ce4e5b9ULL) ^
                                 static_cast<unsigned long long>(::getpid());
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (unsigned long long v = mix; suffix.size() < 10; v /= 36) suffix += alphabet[v % 36];
  return dir + "." + base + "." + suffix + ".tmp";
}

// An unnamed file in dir, or -1 where the file system has none (or /proc, through which it is linked
// in, is missing): the caller then creates a named one.
int OpenUnnamed(const std::string& dir, mode_t mode) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  if (::access(("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TAtomicFile::TAtomicFile(const std::string& path, TFileAccess access, TTemporary temporary) : FPath(path) {
  if (path.empty() || path.back() == '/') throw EFileWriteError("Cannot write '" + path + "': not a file name");
  // The mode the finished file gets; the kernel applies the umask to the usual 0666.
  mode_t keepMode = 0;
  bool keep = false;
  if (access == TFileAccess::Keep) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      keepMode = info.st_mode & 07777;
      keep = true;
    }
  }
  const mode_t createMode = access == TFileAccess::OwnerOnly ? 0600 : 0666;
  if (temporary == TTemporary::Unnamed) {
    FFd = OpenUnnamed(DirectoryOf(path), createMode);
    FUnnamed = FFd >= 0;
  }
  for (int attempt = 0; FFd < 0 && attempt < 100; ++attempt) {
    const std::string temp = TemporaryName(path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode);
    if (fd >= 0) {
      FFd = fd;
      FTempPath = temp;
      break;
    }
    if (errno != EEXIST) Fail("Cannot create a temporary file beside", errno);
  }
  if (FFd < 0) Fail("Cannot create a temporary file beside", EEXIST);
  // An owner-only file is created 0600 (the umask only narrows it); an existing target's mode is kept.
  if (keep && ::fchmod(FFd, keepMode) != 0) Fail("Cannot set the permissions of", errno);
}

TAtomicFile::~TAtomicFile() { Discard(); }

void TAtomicFile::Fail(const std::string& what, int error) {
  Discard();
  throw EFileWriteError(what + " '" + FPath + "': " + std::strerror(error));
}

void TAtomicFile::Write(const void* data, std::size_t size) {
  if (FFd < 0) throw EFileWriteError("Cannot write '" + FPath + "': the file is already closed");
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(FFd, bytes, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write", errno);
    }
    bytes += put;
    size -= std::size_t(put);
  }
}

void TAtomicFile::Commit() {
  if (FFd < 0) throw EFileWriteError("Cannot write '" + FPath + "': the file is already closed");
  if (::fsync(FFd) != 0) Fail("Cannot write", errno);
  if (FUnnamed) {
    // A name beside the target first: linkat cannot replace a file, rename can. The name exists only
    // until the rename below (callers block their clean-up signals around Commit).
    const std::string self = "/proc/self/fd/" + std::to_string(FFd);
    for (int attempt = 0; FTempPath.empty() && attempt < 100; ++attempt) {
      const std::string temp = TemporaryName(FPath);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        FTempPath = temp;
      } else if (errno != EEXIST) {
        Fail("Cannot create a file beside", errno);
      }
    }
    if (FTempPath.empty()) Fail("Cannot create a file beside", EEXIST);
  }
  const int fd = FFd;
  FFd = -1;
  if (::close(fd) != 0) Fail("Cannot write", errno);
  if (::rename(FTempPath.c_str(), FPath.c_str()) != 0) Fail("Cannot replace", errno);
  FTempPath.clear();
  // The rename is durable only once the directory entry is on disk. A directory that cannot be
  // opened or synced (some file systems refuse) does not undo a write that has happened.
  const int dir = ::open(DirectoryOf(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void TAtomicFile::Discard() noexcept {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
  if (!FTempPath.empty()) {
    ::unlink(FTempPath.c_str());
    FTempPath.clear();
  }
}

void WriteFileAtomic(const std::string& path, std::string_view data, TFileAccess access) {
  TAtomicFile file(path, access);
  file.Write(data);
  file.Commit();
}

}  // namespace Sysutils
