#include "host/packages/ElfImage.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace Sysutils {

namespace {


constexpr std::uint32_t SHT_DYNSYM = 11;
constexpr std::uint16_t SHN_UNDEF = 0;
constexpr int STB_LOCAL = 0;
constexpr int STV_DEFAULT = 0, STV_PROTECTED = 3;

}  // namespace

TElfImage::TElfImage(const std::string& fileName) : FFileName(fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EImageError("Cannot read " + fileName);
  FData.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (FData.size() < 52 || FData.compare(0, 4, "\x7F" "ELF") != 0) throw EImageError(fileName + " is not an ELF image");
  // Either word size and either byte order, as the machine that built the package wrote them.
  if ((FData[4] != 1 && FData[4] != 2) || (FData[5] != 1 && FData[5] != 2))
    throw EImageError(fileName + " is not a 32- or 64-bit ELF image of a known byte order");
  FWide = FData[4] == 2;
  FBigEndian = FData[5] == 2;
  if (FWide && FData.size() < 64) throw EImageError(fileName + " is not an ELF image");
  const std::string_view header(FData);
  const std::uint64_t shoff = FWide ? Get(header, 0x28, 8) : Get(header, 0x20, 4);
  const std::size_t sizes = FWide ? 0x3A : 0x2E;  // section entry size, count and name table index
  const std::uint64_t shentsize = Get(header, sizes, 2);
  const std::uint64_t shnum = Get(header, sizes + 2, 2);
  const std::uint64_t shstrndx = Get(header, sizes + 4, 2);
  if (shnum == 0) return;
  if (shentsize < (FWide ? 64u : 40u) || shstrndx >= shnum) throw EImageError(fileName + " has a damaged section table");
  const std::string_view table = Bytes(shoff, shentsize * shnum);
  for (std::uint64_t i = 0; i < shnum; ++i) {
    const std::size_t at = std::size_t(i * shentsize);
    if (FWide) {
      FSections.push_back(TSection{std::string(), std::uint32_t(Get(table, at, 4)), std::uint32_t(Get(table, at + 4, 4)),
                                   Get(table, at + 0x18, 8), Get(table, at + 0x20, 8),
                                   std::uint32_t(Get(table, at + 0x28, 4)), Get(table, at + 0x38, 8)});
    } else {
      FSections.push_back(TSection{std::string(), std::uint32_t(Get(table, at, 4)), std::uint32_t(Get(table, at + 4, 4)),
                                   Get(table, at + 0x10, 4), Get(table, at + 0x14, 4),
                                   std::uint32_t(Get(table, at + 0x18, 4)), Get(table, at + 0x24, 4)});
    }
  }
  const TSection& names = FSections[shstrndx];
  const std::string_view strings = Bytes(names.Offset, names.Size);
  for (TSection& s : FSections) {
    const std::size_t at = s.NameOffset;
    const std::size_t end = at < strings.size() ? strings.find('\0', at) : std::string_view::npos;
    if (end == std::string_view::npos) throw EImageError(fileName + " has a damaged section name table");
    s.Name = strings.substr(at, end - at);
  }
}

std::uint64_t TElfImage::Get(std::string_view b, std::size_t at, int bytes) const {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) {
    const std::size_t index = at + std::size_t(FBigEndian ? i : bytes - 1 - i);
    v = (v << 8) | std::uint8_t(b[index]);
  }
  return v;
}

std::string_view TElfImage::Bytes(std::uint64_t offset, std::uint64_t size) const {
  if (offset > FData.size() || size > FData.size() - offset) throw EImageError(FFileName + " is truncated");
  return std::string_view(FData).substr(std::size_t(offset), std::size_t(size));
}

bool TElfImage::FindSection(std::string_view name, std::string& contents) const {
  for (const TSection& s : FSections) {
    if (s.Name != name) continue;
    contents = Bytes(s.Offset, s.Size);
    return true;
  }
  return false;
}

std::vector<std::string> TElfImage::ExportedSymbols() const {
  std::vector<std::string> result;
  for (const TSection& s : FSections) {
    if (s.Type != SHT_DYNSYM) continue;
    if (s.EntrySize < (FWide ? 24u : 16u) || s.Link >= FSections.size())
      throw EImageError(FFileName + " has a damaged symbol table");
    const std::string_view symbols = Bytes(s.Offset, s.Size);
    const std::string_view strings = Bytes(FSections[s.Link].Offset, FSections[s.Link].Size);
    for (std::size_t at = 0; at + s.EntrySize <= symbols.size(); at += std::size_t(s.EntrySize)) {
      const std::size_t nameAt = std::size_t(Get(symbols, at, 4));
      // Binding and type, visibility, section index: after the name in 64-bit images, after the name,
      // value and size (4 bytes each) in 32-bit ones.
      const std::size_t info = at + (FWide ? 4 : 12);
      const int binding = int(Get(symbols, info, 1) >> 4);
      const int visibility = int(Get(symbols, info + 1, 1) & 3);
      const std::uint16_t section = std::uint16_t(Get(symbols, info + 2, 2));
      if (section == SHN_UNDEF || binding == STB_LOCAL || (visibility != STV_DEFAULT && visibility != STV_PROTECTED))
        continue;
      const std::size_t end = nameAt < strings.size() ? strings.find('\0', nameAt) : std::string_view::npos;
      if (end == std::string_view::npos) throw EImageError(FFileName + " has a damaged symbol name table");
      if (end > nameAt) result.emplace_back(strings.substr(nameAt, end - nameAt));
    }
  }
  return result;
}

}  // namespace Sysutils
