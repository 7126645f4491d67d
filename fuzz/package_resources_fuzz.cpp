// The package reader on arbitrary bytes: as an ELF image (sections, exported symbols, the resource
// section), as a resource image, and as each kind of resource. Every reader either refuses the input
// with its own exception or gives a result; what decodes re-encodes to something that decodes to the
// same value.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "host/packages/ElfImage.h"
#include "host/packages/PackageResources.h"
#include "host/packages/ResourceTable.h"

namespace {

using namespace Sysutils;

// The ELF reader takes a file name: each input is written to one scratch file of this process.
const std::string& ScratchFile() {
  static const std::string name = [] {
    char path[] = "/tmp/package_resources_fuzz.XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(path);
  }();
  return name;
}

void CheckResources(std::string_view data) {
  try {
    const TPackageInfo info = DecodePackageInfo(data);
    FUZZ_CHECK(DecodePackageInfo(EncodePackageInfo(info)) == info);
  } catch (const EResourceError&) {
  }
  try {
    const TVersionInfo info = DecodeVersionInfo(data);
    FUZZ_CHECK(DecodeVersionInfo(EncodeVersionInfo(info)) == info);
  } catch (const EResourceError&) {
  }
  try {
    const std::string text = DecodeUtf16z(data);
    FUZZ_CHECK(DecodeUtf16z(EncodeUtf16z(text)) == text);
  } catch (const EResourceError&) {
  }
  try {
    const TBitmapHeader header = DecodeBitmapHeader(data);
    if (header.BitsPerPixel == 8 && header.Compression == 0) {
      const int rows = header.Height < 0 ? -header.Height : header.Height;
      BitmapPixel8(data, header, 0, 0);
      BitmapPixel8(data, header, header.Width - 1, rows - 1);
    }
  } catch (const EResourceError&) {
  }
}

void CheckImage(std::string_view image) {
  try {
    const TResourceTable table = TResourceTable::Parse(image);
    FUZZ_CHECK(TResourceTable::Parse(table.Serialize()).Items().size() == table.Items().size());
    for (const TResource& r : table.Items()) CheckResources(r.Data);
  } catch (const EResourceError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckResources(bytes);
  CheckImage(bytes);
  {
    std::ofstream out(ScratchFile(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
  }
  try {
    const TElfImage elf(ScratchFile());
    elf.ExportedSymbols();
    std::string section;
    if (elf.FindSection(ResourceSectionName, section)) CheckImage(section);
  } catch (const EImageError&) {
  } catch (const EResourceError&) {
  }
  return 0;
}
