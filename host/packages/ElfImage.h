// Reads a shared library file without loading it: its named sections and its exported symbols. The
// package loader uses it to inspect a package (its resources, its exports) before any of its code runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/SysUtils.h"

namespace Sysutils {

// A file that is not a readable ELF image (32- or 64-bit, either byte order), or whose tables are damaged.
class EImageError : public Exception {
 public:
  using Exception::Exception;
};

class TElfImage {
 public:
  // Reads the whole file; throws EImageError when it cannot be read or is no ELF image.
  explicit TElfImage(const std::string& fileName);

  // The contents of the named section; false when the image has no such section.
  bool FindSection(std::string_view name, std::string& contents) const;
  // The (mangled) names of the symbols the image defines and exports, in table order.
  std::vector<std::string> ExportedSymbols() const;

 private:
  struct TSection {
    std::string Name;
    std::uint32_t NameOffset;
    std::uint32_t Type;
    std::uint64_t Offset, Size;
    std::uint32_t Link;
    std::uint64_t EntrySize;
  };
  std::string_view Bytes(std::uint64_t offset, std::uint64_t size) const;
  // An unsigned field of `bytes` bytes at `at`, in the image's byte order.
  std::uint64_t Get(std::string_view b, std::size_t at, int bytes) const;

  std::string FFileName;
  std::string FData;
  std::vector<TSection> FSections;
  bool FWide = true;        // 64-bit image
  bool FBigEndian = false;  // most significant byte first
};

}  // namespace Sysutils
