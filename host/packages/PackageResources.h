// The standard resources of a package: its description, its package descriptor, its version
// information and its palette bitmaps. Each has an encoder (used when a package is built) and a
// decoder (used by the loader and the design environment); decoders throw EResourceError on bad data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/packages/ResourceTable.h"

namespace Sysutils {

// Resource names.
constexpr std::string_view DescriptionResource = "DESCRIPTION";
constexpr std::string_view PackageInfoResource = "PACKAGEINFO";
constexpr std::string_view VersionResource = "1";

// ---- Text as UTF-16 (little-endian), zero-terminated ----
std::string EncodeUtf16z(std::string_view utf8);
std::string DecodeUtf16z(std::string_view data);

// ---- PACKAGEINFO: what the package requires and what it contains ----
enum TPackageFlags : std::uint32_t {
  pfDesignOnly = 0x1,  // neither bit set: the package serves design time and run time
  pfRunOnly = 0x2,
};
enum TUnitFlags : std::uint8_t {
  ufPackageUnit = 0x1,   // the package's own unit
  ufImplicitUnit = 0x2,  // a unit the host adds to every package (its start-up unit)
};
struct TContainedUnit {
  std::string Name;
  std::uint8_t Flags = 0;
  friend bool operator==(const TContainedUnit&, const TContainedUnit&) = default;
};
struct TPackageInfo {
  std::uint32_t Flags = 0;
  std::vector<std::string> Requires;
  std::vector<TContainedUnit> Contains;
  friend bool operator==(const TPackageInfo&, const TPackageInfo&) = default;
};
std::string EncodePackageInfo(const TPackageInfo& info);
TPackageInfo DecodePackageInfo(std::string_view data);

// ---- Version information, in the VS_VERSIONINFO layout ----
using TVersionNumber = std::array<std::uint16_t, 4>;  // major, minor, release, build
struct TVersionInfo {
  TVersionNumber FileVersion{};
  TVersionNumber ProductVersion{};
  // Name and value pairs of the string table, in order; empty when the package carries no strings.
  std::vector<std::pair<std::string, std::string>> Strings;
  friend bool operator==(const TVersionInfo&, const TVersionInfo&) = default;
};
std::string EncodeVersionInfo(const TVersionInfo& info);
TVersionInfo DecodeVersionInfo(std::string_view data);
// "1.0.1.1".
std::string VersionText(const TVersionNumber& version);

// ---- Bitmaps (BMP files) ----
struct TBitmapHeader {
  std::int32_t Width = 0;
  std::int32_t Height = 0;        // positive: rows stored bottom-up
  std::uint16_t BitsPerPixel = 0;
  std::uint32_t Compression = 0;  // 0: uncompressed
  std::uint32_t ColorCount = 0;   // entries in the colour table
  std::uint32_t PixelOffset = 0;  // where the pixel rows start
};
// Decodes and checks the file and information headers; the colour table and the pixel rows must lie
// inside the data.
TBitmapHeader DecodeBitmapHeader(std::string_view data);
// Builds an uncompressed 8-bit bitmap: Pixels holds Width * Height colour indices, top row first.
std::string EncodeBitmap8(int Width, int Height, const std::array<std::uint32_t, 256>& Colors,
                          const std::vector<std::uint8_t>& Pixels);
// The colour index at (x, y), y counted from the top, of an uncompressed 8-bit bitmap.
std::uint8_t BitmapPixel8(std::string_view data, const TBitmapHeader& header, int x, int y);

}  // namespace Sysutils
