#include "host/packages/ResourceTable.h"

#include <algorithm>
#include <cstdint>

namespace Sysutils {

namespace {

constexpr std::string_view Magic = "QRES";

void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}

void Pad4(std::string& out) {
  while (out.size() % 4) out += '\0';
}

// Reads the image front to back; every read is checked against the end.
class TReader {
 public:
  explicit TReader(std::string_view image) : FImage(image) {}

  std::uint32_t Get32() {
    const std::string_view b = Take(4);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | std::uint8_t(b[std::size_t(i)]);
    return v;
  }
  std::string_view Take(std::size_t count) {
    if (count > FImage.size() - FPos) throw EResourceError("Resource image is truncated");
    const std::string_view part = FImage.substr(FPos, count);
    FPos += count;
    return part;
  }
  void Align4() {
    const std::size_t pad = (4 - FPos % 4) % 4;
    if (pad > FImage.size() - FPos) FPos = FImage.size();  // trailing padding may be cut off
    else FPos += pad;
  }

 private:
  std::string_view FImage;
  std::size_t FPos = 0;
};

}  // namespace

TResourceTable TResourceTable::Parse(std::string_view image) {
  TReader in(image);
  if (image.size() < Magic.size() || in.Take(Magic.size()) != Magic)
    throw EResourceError("Not a resource image");
  const std::uint32_t count = in.Get32();
  TResourceTable table;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t typeLength = in.Get32();
    const std::uint32_t nameLength = in.Get32();
    const std::uint32_t dataLength = in.Get32();
    TResource r;
    r.Type = in.Take(typeLength);
    r.Name = in.Take(nameLength);
    r.Data = in.Take(dataLength);
    in.Align4();
    table.FItems.push_back(std::move(r));
  }
  return table;
}

void TResourceTable::Add(std::string_view type, std::string_view name, std::string data) {
  const auto same = [&](const TResource& r) { return r.Type == type && r.Name == name; };
  std::erase_if(FItems, same);
  FItems.push_back(TResource{std::string(type), std::string(name), std::move(data)});
}

const TResource* TResourceTable::Find(std::string_view type, std::string_view name) const {
  for (const TResource& r : FItems)
    if (r.Type == type && r.Name == name) return &r;
  return nullptr;
}

std::string TResourceTable::Serialize() const {
  std::string out(Magic);
  Put32(out, std::uint32_t(FItems.size()));
  for (const TResource& r : FItems) {
    Put32(out, std::uint32_t(r.Type.size()));
    Put32(out, std::uint32_t(r.Name.size()));
    Put32(out, std::uint32_t(r.Data.size()));
    out += r.Type;
    out += r.Name;
    out += r.Data;
    Pad4(out);
  }
  return out;
}

}  // namespace Sysutils
