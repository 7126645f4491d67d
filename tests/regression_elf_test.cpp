// Regression: the package loader's ELF reader accepted only 64-bit little-endian images, so on a 32-bit
// or big-endian machine every package was refused before loading. It reads all four layouts now; the
// same small image, written in each, gives the same sections and exports.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "host/packages/ElfImage.h"

namespace {

using Sysutils::TElfImage;

struct Layout {
  bool Wide;
  bool BigEndian;
  const char* Name;
};

// Builds a shared-library-like image: null section, section names, symbol names, symbols and one
// data section ".qres". Symbols: an exported function, a local one, an undefined one, a hidden one.
class TImageWriter {
 public:
  explicit TImageWriter(Layout layout) : L(layout) {}

  std::string Build() {
    const std::string shstr = std::string("\0.shstrtab\0.dynstr\0.dynsym\0.qres\0", 33);
    const std::string dynstr = std::string("\0Exported\0Local\0Missing\0Hidden\0", 31);
    std::string dynsym(SymbolSize(), '\0');  // symbol 0 is the null symbol
    AddSymbol(dynsym, 1, 0x12, 0, 4);   // global function, default visibility, defined
    AddSymbol(dynsym, 10, 0x02, 0, 4);  // local
    AddSymbol(dynsym, 16, 0x12, 0, 0);  // undefined
    AddSymbol(dynsym, 24, 0x12, 2, 4);  // hidden
    const std::string qres = "QRES-contents";

    const std::size_t headerSize = L.Wide ? 64 : 52;
    std::string image(headerSize, '\0');
    const std::size_t shstrAt = Append(image, shstr), dynstrAt = Append(image, dynstr);
    const std::size_t dynsymAt = Append(image, dynsym), qresAt = Append(image, qres);
    const std::size_t tableAt = image.size();
    std::string table(5 * SectionSize(), '\0');
    AddSection(table, 1, 1, 3, shstrAt, shstr.size(), 0, 0);
    AddSection(table, 2, 11, 3, dynstrAt, dynstr.size(), 0, 0);
    AddSection(table, 3, 19, 11, dynsymAt, dynsym.size(), 2, SymbolSize());
    AddSection(table, 4, 27, 1, qresAt, qres.size(), 0, 0);
    image += table;

    image.replace(0, 4, "\x7F" "ELF");
    image[4] = L.Wide ? 2 : 1;
    image[5] = L.BigEndian ? 2 : 1;
    image[6] = 1;
    Put(image, 16, 3, 2);  // a shared object
    if (L.Wide) {
      Put(image, 0x28, tableAt, 8);
      Put(image, 0x3A, SectionSize(), 2);
      Put(image, 0x3C, 5, 2);
      Put(image, 0x3E, 1, 2);
    } else {
      Put(image, 0x20, tableAt, 4);
      Put(image, 0x2E, SectionSize(), 2);
      Put(image, 0x30, 5, 2);
      Put(image, 0x32, 1, 2);
    }
    return image;
  }

 private:
  std::size_t SectionSize() const { return L.Wide ? 64 : 40; }
  std::size_t SymbolSize() const { return L.Wide ? 24 : 16; }

  void Put(std::string& s, std::size_t at, std::uint64_t v, int bytes) const {
    for (int i = 0; i < bytes; ++i) {
      const int shift = 8 * (L.BigEndian ? bytes - 1 - i : i);
      s[at + std::size_t(i)] = static_cast<char>(v >> shift);
    }
  }
  static std::size_t Append(std::string& image, const std::string& part) {
    while (image.size() % 8 != 0) image += '\0';
    const std::size_t at = image.size();
    image += part;
    return at;
  }
  void AddSymbol(std::string& table, std::uint32_t name, int info, int visibility, int section) const {
    std::string entry(SymbolSize(), '\0');
    Put(entry, 0, name, 4);
    const std::size_t rest = L.Wide ? 4 : 12;
    entry[rest] = static_cast<char>(info);
    entry[rest + 1] = static_cast<char>(visibility);
    Put(entry, rest + 2, std::uint64_t(section), 2);
    table += entry;
  }
  void AddSection(std::string& table, int index, std::uint32_t name, std::uint32_t type, std::uint64_t offset,
                  std::uint64_t size, std::uint32_t link, std::uint64_t entrySize) const {
    const std::size_t at = std::size_t(index) * SectionSize();
    Put(table, at, name, 4);
    Put(table, at + 4, type, 4);
    if (L.Wide) {
      Put(table, at + 0x18, offset, 8);
      Put(table, at + 0x20, size, 8);
      Put(table, at + 0x28, link, 4);
      Put(table, at + 0x38, entrySize, 8);
    } else {
      Put(table, at + 0x10, offset, 4);
      Put(table, at + 0x14, size, 4);
      Put(table, at + 0x18, link, 4);
      Put(table, at + 0x24, entrySize, 4);
    }
  }

  Layout L;
};

TEST(RegressionElfImage, ReadsEveryWordSizeAndByteOrder) {
  for (const Layout layout : {Layout{true, false, "elf64-lsb"}, Layout{true, true, "elf64-msb"},
                              Layout{false, false, "elf32-lsb"}, Layout{false, true, "elf32-msb"}}) {
    const std::string path = ::testing::TempDir() + "regression_" + layout.Name + ".so";
    std::ofstream(path, std::ios::binary) << TImageWriter(layout).Build();
    const TElfImage image(path);
    std::string contents;
    ASSERT_TRUE(image.FindSection(".qres", contents)) << layout.Name;
    EXPECT_EQ(contents, "QRES-contents") << layout.Name;
    EXPECT_FALSE(image.FindSection(".missing", contents)) << layout.Name;
    EXPECT_EQ(image.ExportedSymbols(), std::vector<std::string>{"Exported"}) << layout.Name;
  }
}

TEST(RegressionElfImage, RefusesAnUnknownWordSizeOrByteOrder) {
  std::string image = TImageWriter({true, false, "elf64-lsb"}).Build();
  for (const auto& [offset, value] : {std::pair{4, 3}, std::pair{5, 0}, std::pair{4, 0}, std::pair{5, 3}}) {
    std::string bad = image;
    bad[std::size_t(offset)] = static_cast<char>(value);
    const std::string path = ::testing::TempDir() + "regression_unknown.so";
    std::ofstream(path, std::ios::binary) << bad;
    EXPECT_THROW(TElfImage{path}, Sysutils::EImageError) << offset << "=" << value;
  }
}

}  // namespace
