#include "keys/KeyInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "keys/KeyError.h"
#include "keys/KeySecret.h"

namespace Qarvex::Keys {

namespace {

bool IsStandardInput(const std::string& path) { return path.empty() || path == "-"; }

std::string Name(const std::string& path) { return IsStandardInput(path) ? "standard input" : path; }

[[noreturn]] void TooLarge(const std::string& path) {
  throw KeyError(Name(path) + " is too large for a key (1 MiB at most)");
}

// A descriptor closed when it goes (standard input is left open).
class Descriptor {
 public:
  explicit Descriptor(int fd, bool owned) : FFd(fd), FOwned(owned) {}
  ~Descriptor() {
    if (FOwned) ::close(FFd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Fd() const { return FFd; }

 private:
  int FFd;
  bool FOwned;
};

}  // namespace

std::string ReadKeyInput(const std::string& path) {
  const bool standard = IsStandardInput(path);
  const int fd = standard ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw KeyError("cannot open " + path + ": " + std::strerror(errno));
  const Descriptor file(fd, !standard);
  struct stat info {};
  if (::fstat(fd, &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw KeyError("cannot read " + path + ": it is a directory");
    if (S_ISREG(info.st_mode) && std::uint64_t(info.st_size) > MaxKeyInputBytes) TooLarge(path);
  }
  // Room for the whole bound and one byte more, reserved once: the text never moves while it grows.
  std::string data;
  data.reserve(MaxKeyInputBytes + 1);
  char buffer[1 << 14];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      Wipe(buffer, sizeof buffer);
      Wipe(data);
      throw KeyError("cannot read " + Name(path) + ": " + std::strerror(error));
    }
    if (data.size() + std::size_t(got) > MaxKeyInputBytes) {
      Wipe(buffer, sizeof buffer);
      Wipe(data);
      TooLarge(path);
    }
    data.append(buffer, std::size_t(got));
  }
  Wipe(buffer, sizeof buffer);
  return data;
}

}  // namespace Qarvex::Keys
