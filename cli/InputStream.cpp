#include "cli/InputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/Failure.h"
#include "cli/Io.h"

namespace Qrsa {

InputStream::InputStream(const std::string& path) : FPath(path) {
  if (IsStandardStream(path)) {
    FFd = STDIN_FILENO;
  } else {
    FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0) throw Failure("cannot open " + path + ": " + std::strerror(errno));
    FOwned = true;
  }
  struct stat info {};
  if (::fstat(FFd, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      if (FOwned) ::close(FFd);
      throw Failure("cannot read " + path + ": it is a directory");
    }
    if (S_ISREG(info.st_mode)) FSize = std::uint64_t(info.st_size);
  }
}

InputStream::~InputStream() {
  if (FOwned) ::close(FFd);
}

std::size_t InputStream::Read(void* data, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(FFd, data, size);
    if (got >= 0) return std::size_t(got);
    if (errno != EINTR)
      throw Failure("cannot read " + (IsStandardStream(FPath) ? std::string("standard input") : FPath) + ": " +
                    std::strerror(errno));
  }
}

}  // namespace Qrsa
