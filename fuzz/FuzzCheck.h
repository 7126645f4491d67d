// Shared pieces of the fuzz targets: a property check that stops the run with a readable reason, a
// deterministic random source, and an independent reading of radix-64 text to judge the component by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "host/core/Random.h"

namespace Fuzz {

// A broken property: print where and why, then abort so libFuzzer keeps the input as a crash.
[[noreturn]] inline void Broken(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(cond)                                  \
  do {                                                    \
    if (!(cond)) ::Fuzz::Broken(__FILE__, __LINE__, #cond); \
  } while (0)

// Draws from a counter, so every run of an input takes the same path; installed for the target's life.
class CountingRandom : public System::TRandomSource {
 public:
  CountingRandom() { System::SetRandomSource(this); }
  ~CountingRandom() override { System::SetRandomSource(nullptr); }
  std::uint32_t RandInt(std::int32_t range) override {
    FState = FState * 6364136223846793005ull + 1442695040888963407ull;
    const auto value = static_cast<std::uint32_t>(FState >> 32);
    return range > 0 ? value % std::uint32_t(range) : value;
  }
  void Randomize() override { FState = 0x9E3779B97F4A7C15ull; }

 private:
  std::uint64_t FState = 1;
};

// The radix-64 value of a character, or -1 when the character is not in the alphabet.
inline int Radix64Value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0' + 2;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 12;
  if (c >= 'a' && c <= 'z') return c - 'a' + 38;
  if (c == '+') return 0;
  if (c == '-') return 1;
  return -1;
}

// Decodes as one bit stream, 6 bits a character, whole bytes only; nothing for an invalid character.
inline std::optional<std::string> ReferenceDecode(const std::string& text) {
  std::string out;
  std::uint32_t bits = 0;
  int held = 0;
  for (unsigned char c : text) {
    const int v = Radix64Value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | std::uint32_t(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out += static_cast<char>((bits >> held) & 0xff);
    }
  }
  return out;
}

// Encodes as one bit stream, the last group filled with zero bits.
inline std::string ReferenceEncode(const std::string& bytes) {
  static const char alphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string out;
  std::uint32_t bits = 0;
  int held = 0;
  for (unsigned char b : bytes) {
    bits = (bits << 8) | b;
    held += 8;
    while (held >= 6) {
      held -= 6;
      out += alphabet[(bits >> held) & 63];
    }
  }
  if (held > 0) out += alphabet[(bits << (6 - held)) & 63];
  return out;
}

// Reads input bytes front to back; past the end it yields zeros.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  std::uint32_t Word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = (w << 8) | Byte();
    return w;
  }
  std::string Rest() {
    std::string s(reinterpret_cast<const char*>(FData + FPos), FSize - FPos);
    FPos = FSize;
    return s;
  }
  std::size_t Left() const { return FSize - FPos; }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

}  // namespace Fuzz
