#include "envelope/Source.h"

#include <algorithm>
#include <cstring>

namespace Qarvex::Envelope {

namespace {

// Longest armoured line read; written lines have 64 characters.
constexpr std::size_t MaxArmorLine = 4096;

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::size_t Source::ReadFull(void* data, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  std::size_t got = 0;
  while (got < size) {
    const std::size_t n = Read(bytes + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

bool BufferedSource::Fill() {
  if (FEof) return false;
  FAt = 0;
  FEnd = FIn(FBuffer.data(), FBuffer.size());
  if (FEnd == 0) FEof = true;
  return FEnd != 0;
}

int BufferedSource::Get() {
  if (FAt == FEnd && !Fill()) return -1;
  return FBuffer[FAt++];
}

bool BufferedSource::GetLine(std::string& line, std::size_t limit, const char* tooLong) {
  for (;;) {
    if (FAt == FEnd && !Fill()) return false;
    const auto* start = FBuffer.data() + FAt;
    const auto* end = static_cast<const unsigned char*>(std::memchr(start, '\n', FEnd - FAt));
    const std::size_t take = std::size_t((end ? end : FBuffer.data() + FEnd) - start);
    if (line.size() + take > limit) throw EnvelopeError(tooLong);
    line.append(reinterpret_cast<const char*>(start), take);
    FAt += take;
    if (end) {
      ++FAt;
      return true;
    }
  }
}

std::size_t BufferedSource::Read(void* data, std::size_t size) {
  if (size == 0) return 0;
  if (FAt == FEnd) {
    // Large reads go straight to the caller's reader.
    if (size >= FBuffer.size()) {
      const std::size_t n = FEof ? 0 : FIn(data, size);
      if (n == 0) FEof = true;
      return n;
    }
    if (!Fill()) return 0;
  }
  const std::size_t n = std::min(size, FEnd - FAt);
  std::memcpy(data, FBuffer.data() + FAt, n);
  FAt += n;
  return n;
}

bool ArmorSource::NextLine() {
  FLine.clear();
  const bool broken = FText.GetLine(FLine, MaxArmorLine, "the armoured envelope is damaged: a line is too long");
  if (!FLine.empty() && FLine.back() == '\r') FLine.pop_back();
  // The end line may end the input without a line break; any other line must have one.
  if (!broken && FLine != ArmorEndLine) throw EnvelopeError("the armoured envelope is truncated: its end line is missing");
  if (FLine == ArmorEndLine) {
    if (!FDecoder.Finish()) throw EnvelopeError("the armoured envelope is damaged: its base64 ends inside a group");
    for (int c = FText.Get(); c >= 0; c = FText.Get())
      if (!IsSpace(c)) throw EnvelopeError("the armoured envelope is damaged: text follows its end line");
    return false;
  }
  FDecoded.clear();
  FAt = 0;
  if (!FDecoder.Push(FLine, FDecoded)) throw EnvelopeError("the armoured envelope is damaged: it is not valid base64");
  return true;
}

std::size_t ArmorSource::Read(void* data, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    if (FAt == FDecoded.size()) {
      if (FEnded || !NextLine()) {
        FEnded = true;
        break;
      }
      continue;
    }
    const std::size_t n = std::min(size - done, FDecoded.size() - FAt);
    std::memcpy(bytes + done, FDecoded.data() + FAt, n);
    FAt += n;
    done += n;
  }
  return done;
}

}  // namespace Qarvex::Envelope
