// An input file (or standard input) read in pieces, for the commands that stream their input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Qrsa {

class InputStream {
 public:
  // Opens the file, or standard input when path is empty or "-". A directory is refused.
  explicit InputStream(const std::string& path);
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // Up to size bytes; 0 only at the end.
  std::size_t Read(void* data, std::size_t size);
  std::uint64_t Size() const { return FSize; }  // 0 when unknown

 private:
  std::string FPath;
  int FFd = -1;
  bool FOwned = false;
  std::uint64_t FSize = 0;
};

}  // namespace Qrsa
