#include "envelope/ArmorSink.h"

#include <algorithm>
#include <cstring>

#include "envelope/Base64.h"

namespace Qarvex::Envelope {

ArmorSink::ArmorSink(Writer out) : FOut(std::move(out)) {
  FText.reserve(ChunkBytes + 128);
  FText = std::string(ArmorBeginLine) + "\n";
}

void ArmorSink::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const std::size_t take = std::min(size, sizeof FPending - FHave);
    std::memcpy(FPending + FHave, bytes, take);
    FHave += take;
    bytes += take;
    size -= take;
    if (FHave == sizeof FPending) {
      Base64::EncodeTo(FPending, FHave, FText);
      FText += '\n';
      FHave = 0;
      if (FText.size() >= ChunkBytes) Flush();
    }
  }
}

void ArmorSink::Finish() {
  if (FHave > 0) {
    Base64::EncodeTo(FPending, FHave, FText);
    FText += '\n';
    FHave = 0;
  }
  FText += ArmorEndLine;
  FText += '\n';
  Flush();
}

void ArmorSink::Flush() {
  FOut(FText.data(), FText.size());
  FText.clear();
}

}  // namespace Qarvex::Envelope
