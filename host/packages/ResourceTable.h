// The resources a package carries: named blocks of bytes, grouped by type, stored as one image.
//
// Image layout (all integers little-endian): "QRES", a 32-bit record count, then per record the 32-bit
// lengths of type, name and data followed by the type, name and data bytes, padded to 4 bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/core/SysUtils.h"

namespace Sysutils {

// A resource image or resource content that does not decode.
class EResourceError : public Exception {
 public:
  using Exception::Exception;
};

// Name of the library section that holds a package's resource image.
constexpr std::string_view ResourceSectionName = ".qarvex.resources";

// Resource types.
constexpr std::string_view RT_BITMAP = "BITMAP";
constexpr std::string_view RT_RCDATA = "RCDATA";
constexpr std::string_view RT_VERSION = "VERSION";

struct TResource {
  std::string Type;
  std::string Name;
  std::string Data;
};

class TResourceTable {
 public:
  TResourceTable() = default;
  // Decodes an image; throws EResourceError when it is malformed or truncated.
  static TResourceTable Parse(std::string_view image);

  // Adds a resource; a later one with the same type and name replaces the earlier one.
  void Add(std::string_view type, std::string_view name, std::string data);
  // The resource with this type and name, or null.
  const TResource* Find(std::string_view type, std::string_view name) const;
  const std::vector<TResource>& Items() const { return FItems; }

  std::string Serialize() const;

 private:
  std::vector<TResource> FItems;
};

}  // namespace Sysutils
