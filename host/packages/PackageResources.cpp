#include "host/packages/PackageResources.h"

#include <cstdio>


namespace Sysutils {

namespace {

void Put16(std::string& out, std::uint32_t v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Pad4(std::string& out) {
  while (out.size() % 4) out += '\0';
}

std::uint32_t Get(std::string_view data, std::size_t at, int bytes) {
  if (at > data.size() || std::size_t(bytes) > data.size() - at) throw EResourceError("Resource data is truncated");
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | std::uint8_t(data[at + std::size_t(i)]);
  return v;
}

// The UTF-16 code units of a UTF-8 text.
std::u16string Utf16(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::uint8_t lead = std::uint8_t(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || std::size_t(extra) > utf8.size() - 1 - i)
      throw EResourceError("Text is not valid UTF-8");
    std::uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const std::uint8_t next = std::uint8_t(utf8[i + std::size_t(k)]);
      if ((next & 0xC0) != 0x80) throw EResourceError("Text is not valid UTF-8");
      cp = (cp << 6) | (next & 0x3F);
    }
    i += std::size_t(extra) + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
  }
  return out;
}

void PutUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Decodes zero-terminated UTF-16 starting at `at`; `end` receives the offset just past the terminator.
std::string ReadUtf16z(std::string_view data, std::size_t at, std::size_t& end) {
  std::string out;
  for (;;) {
    std::uint32_t unit = Get(data, at, 2);
    at += 2;
    if (unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00) {
      const std::uint32_t low = Get(data, at, 2);
      if (low < 0xDC00 || low >= 0xE000) throw EResourceError("Text is not valid UTF-16");
      at += 2;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      throw EResourceError("Text is not valid UTF-16");
    }
    PutUtf8(out, unit);
  }
  end = at;
  return out;
}

// ---- VS_VERSIONINFO nodes: length, value length, type, zero-terminated UTF-16 key, padding, value,
// padding, children; offsets are aligned relative to the start of the resource. ----
constexpr std::uint32_t FixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t FixedInfoBytes = 52;
constexpr char StringTableKey[] = "040904B0";  // U.S. English, UTF-16

struct TVersionNode {
  std::string Key;
  std::uint16_t Type = 0;  // 0 binary, 1 text
  std::uint16_t ValueLength = 0;  // bytes for binary values, characters (with terminator) for text
  std::string Value;
  std::vector<TVersionNode> Children;
};

void WriteNode(std::string& out, const TVersionNode& node) {
  Pad4(out);
  const std::size_t start = out.size();
  Put16(out, 0);  // patched below
  Put16(out, node.ValueLength);
  Put16(out, node.Type);
  out += EncodeUtf16z(node.Key);
  Pad4(out);
  out += node.Value;
  for (const TVersionNode& child : node.Children) WriteNode(out, child);
  const std::size_t length = out.size() - start;
  if (length > 0xFFFF) throw EResourceError("Version information is too large");
  out[start] = char(length & 0xFF);
  out[start + 1] = char(length >> 8);
}

// Version information nests four levels deep (root, StringFileInfo, string table, string). Deeper
// nesting is refused: a crafted resource of 64 KB could otherwise nest thousands of levels and exhaust
// the stack of the recursive reader.
constexpr int MaxVersionNodeDepth = 8;

// Reads the node at `at`, at nesting level `depth` (the root is 1); children are read up to the node's
// length.
TVersionNode ReadNode(std::string_view data, std::size_t at, std::size_t& next, int depth) {
  if (depth > MaxVersionNodeDepth) throw EResourceError("Version information is nested too deeply");
  const std::size_t length = Get(data, at, 2);
  if (length < 6 || length > data.size() - at) throw EResourceError("Version information is malformed");
  const std::string_view node = data.substr(0, at + length);  // nothing of this node lies beyond
  TVersionNode result;
  result.ValueLength = std::uint16_t(Get(node, at + 2, 2));
  result.Type = std::uint16_t(Get(node, at + 4, 2));
  std::size_t pos;
  result.Key = ReadUtf16z(node, at + 6, pos);
  pos = (pos + 3) & ~std::size_t(3);
  const std::size_t valueBytes = result.Type == 1 ? std::size_t(result.ValueLength) * 2 : result.ValueLength;
  if (pos > node.size() || valueBytes > node.size() - pos) throw EResourceError("Version information is malformed");
  result.Value = node.substr(pos, valueBytes);
  pos += valueBytes;
  for (;;) {
    pos = (pos + 3) & ~std::size_t(3);
    if (pos >= node.size()) break;
    std::size_t after;
    result.Children.push_back(ReadNode(node, pos, after, depth + 1));
    pos = after;
  }
  next = at + length;
  return result;
}

std::uint32_t High(const TVersionNumber& v) { return std::uint32_t(v[0]) << 16 | v[1]; }
std::uint32_t Low(const TVersionNumber& v) { return std::uint32_t(v[2]) << 16 | v[3]; }
TVersionNumber Split(std::uint32_t high, std::uint32_t low) {
  return {std::uint16_t(high >> 16), std::uint16_t(high), std::uint16_t(low >> 16), std::uint16_t(low)};
}

}  // namespace

std::string EncodeUtf16z(std::string_view utf8) {
  std::string out;
  for (char16_t unit : Utf16(utf8)) Put16(out, unit);
  Put16(out, 0);
  return out;
}

std::string DecodeUtf16z(std::string_view data) {
  std::size_t end;
  std::string text = ReadUtf16z(data, 0, end);
  if (end != data.size()) throw EResourceError("Text has data after its terminator");
  return text;
}

std::string EncodePackageInfo(const TPackageInfo& info) {
  std::string out;
  const auto putName = [&](const std::string& name) {
    if (name.empty() || name.size() > 255) throw EResourceError("Package or unit name must have 1 to 255 characters");
    out += char(name.size());
    out += name;
  };
  Put32(out, info.Flags);
  Put32(out, std::uint32_t(info.Requires.size()));
  for (const std::string& name : info.Requires) putName(name);
  Put32(out, std::uint32_t(info.Contains.size()));
  for (const TContainedUnit& unit : info.Contains) {
    out += char(unit.Flags);
    putName(unit.Name);
  }
  return out;
}

TPackageInfo DecodePackageInfo(std::string_view data) {
  std::size_t at = 0;
  const auto get = [&](int bytes) {
    const std::uint32_t v = Get(data, at, bytes);
    at += std::size_t(bytes);
    return v;
  };
  const auto getName = [&] {
    const std::size_t length = get(1);
    if (length == 0 || length > data.size() - at) throw EResourceError("Package descriptor is malformed");
    std::string name(data.substr(at, length));
    at += length;
    return name;
  };
  TPackageInfo info;
  info.Flags = get(4);
  for (std::uint32_t n = get(4); n > 0; --n) info.Requires.push_back(getName());
  for (std::uint32_t n = get(4); n > 0; --n) {
    TContainedUnit unit;
    unit.Flags = std::uint8_t(get(1));
    unit.Name = getName();
    info.Contains.push_back(std::move(unit));
  }
  if (at != data.size()) throw EResourceError("Package descriptor has trailing data");
  return info;
}

std::string EncodeVersionInfo(const TVersionInfo& info) {
  TVersionNode root;
  root.Key = "VS_VERSION_INFO";
  root.ValueLength = FixedInfoBytes;
  for (std::uint32_t v : {FixedInfoSignature, 0x00010000u, High(info.FileVersion), Low(info.FileVersion),
                          High(info.ProductVersion), Low(info.ProductVersion), 0x3Fu /* flags mask */,
                          0u /* flags */, 0u /* operating system: unspecified */, 2u /* a library */,
                          0u /* subtype */, 0u, 0u /* date */})
    Put32(root.Value, v);
  if (!info.Strings.empty()) {
    TVersionNode table{StringTableKey, 1, 0, {}, {}};
    for (const auto& [name, value] : info.Strings) {
      TVersionNode s{name, 1, 0, EncodeUtf16z(value), {}};
      s.ValueLength = std::uint16_t(s.Value.size() / 2);
      table.Children.push_back(std::move(s));
    }
    root.Children.push_back(TVersionNode{"StringFileInfo", 1, 0, {}, {std::move(table)}});
  }
  TVersionNode translation{"Translation", 0, 4, {}, {}};
  Put16(translation.Value, 0x0409);
  Put16(translation.Value, 0x04B0);
  root.Children.push_back(TVersionNode{"VarFileInfo", 1, 0, {}, {std::move(translation)}});
  std::string out;
  WriteNode(out, root);
  return out;
}

TVersionInfo DecodeVersionInfo(std::string_view data) {
  std::size_t end;
  const TVersionNode root = ReadNode(data, 0, end, 1);
  if (root.Key != "VS_VERSION_INFO" || root.Value.size() != FixedInfoBytes ||
      Get(root.Value, 0, 4) != FixedInfoSignature)
    throw EResourceError("Version information is malformed");
  TVersionInfo info;
  info.FileVersion = Split(Get(root.Value, 8, 4), Get(root.Value, 12, 4));
  info.ProductVersion = Split(Get(root.Value, 16, 4), Get(root.Value, 20, 4));
  for (const TVersionNode& block : root.Children) {
    if (block.Key != "StringFileInfo") continue;
    for (const TVersionNode& table : block.Children)
      for (const TVersionNode& s : table.Children) info.Strings.emplace_back(s.Key, DecodeUtf16z(s.Value));
  }
  return info;
}

std::string VersionText(const TVersionNumber& v) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(v[0]), unsigned(v[1]), unsigned(v[2]), unsigned(v[3]));
  return text;
}

// ---- BMP: a 14-byte file header, a 40-byte information header, the colour table, then the pixel
// rows bottom-up, each padded to 4 bytes. ----

TBitmapHeader DecodeBitmapHeader(std::string_view data) {
  if (data.size() < 54 || data.substr(0, 2) != "BM") throw EResourceError("Not a bitmap");
  TBitmapHeader h;
  h.PixelOffset = Get(data, 10, 4);
  const std::uint32_t infoSize = Get(data, 14, 4);
  if (infoSize < 40) throw EResourceError("Bitmap information header is not supported");
  h.Width = std::int32_t(Get(data, 18, 4));
  h.Height = std::int32_t(Get(data, 22, 4));
  if (Get(data, 26, 2) != 1) throw EResourceError("Bitmap must have one plane");
  h.BitsPerPixel = std::uint16_t(Get(data, 28, 2));
  h.Compression = Get(data, 30, 4);
  h.ColorCount = Get(data, 46, 4);
  if (h.ColorCount == 0 && h.BitsPerPixel <= 8) h.ColorCount = 1u << h.BitsPerPixel;
  if (h.Width <= 0 || h.Height == 0 || h.Width > 0x10000 || h.Height > 0x10000 || h.Height < -0x10000)
    throw EResourceError("Bitmap size is out of range");
  if (h.BitsPerPixel == 0 || h.BitsPerPixel > 32 || h.ColorCount > 256)
    throw EResourceError("Bitmap colour format is not supported");
  const std::uint64_t tableEnd = 14 + std::uint64_t(infoSize) + 4ull * h.ColorCount;
  const std::uint64_t stride = (std::uint64_t(h.Width) * h.BitsPerPixel + 31) / 32 * 4;
  const std::uint64_t rows = std::uint64_t(h.Height < 0 ? -std::int64_t(h.Height) : h.Height);
  if (h.PixelOffset < tableEnd || (h.Compression == 0 && h.PixelOffset + stride * rows > data.size()))
    throw EResourceError("Bitmap data is truncated");
  return h;
}

std::string EncodeBitmap8(int Width, int Height, const std::array<std::uint32_t, 256>& Colors,
                          const std::vector<std::uint8_t>& Pixels) {
  if (Width <= 0 || Height <= 0 || Pixels.size() != std::size_t(Width) * std::size_t(Height))
    throw EResourceError("Bitmap pixels do not match its size");
  const std::uint32_t stride = (std::uint32_t(Width) + 3) / 4 * 4;
  const std::uint32_t pixelOffset = 14 + 40 + 4 * 256;
  const std::uint32_t imageSize = stride * std::uint32_t(Height);
  std::string out = "BM";
  Put32(out, pixelOffset + imageSize);
  Put32(out, 0);  // reserved
  Put32(out, pixelOffset);
  Put32(out, 40);
  Put32(out, std::uint32_t(Width));
  Put32(out, std::uint32_t(Height));  // bottom-up
  Put16(out, 1);                      // planes
  Put16(out, 8);                      // bits per pixel
  Put32(out, 0);                      // uncompressed
  Put32(out, imageSize);
  Put32(out, 2835);  // 72 dots per inch, in dots per metre
  Put32(out, 2835);
  Put32(out, 256);  // colours used
  Put32(out, 0);    // all colours important
  for (std::uint32_t rgb : Colors) {
    out += char(rgb & 0xFF);  // blue, green, red, reserved
    out += char((rgb >> 8) & 0xFF);
    out += char((rgb >> 16) & 0xFF);
    out += '\0';
  }
  for (int y = Height - 1; y >= 0; --y) {
    for (int x = 0; x < Width; ++x) out += char(Pixels[std::size_t(y) * std::size_t(Width) + std::size_t(x)]);
    for (std::uint32_t x = std::uint32_t(Width); x < stride; ++x) out += '\0';
  }
  return out;
}

std::uint8_t BitmapPixel8(std::string_view data, const TBitmapHeader& header, int x, int y) {
  if (header.BitsPerPixel != 8 || header.Compression != 0) throw EResourceError("Not an uncompressed 8-bit bitmap");
  const int rows = header.Height < 0 ? -header.Height : header.Height;
  if (x < 0 || x >= header.Width || y < 0 || y >= rows) throw EResourceError("Pixel lies outside the bitmap");
  const std::size_t stride = (std::size_t(header.Width) + 3) / 4 * 4;
  const std::size_t row = header.Height > 0 ? std::size_t(rows - 1 - y) : std::size_t(y);
  return std::uint8_t(Get(data, header.PixelOffset + row * stride + std::size_t(x), 1));
}

}  // namespace Sysutils
