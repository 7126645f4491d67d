// A deterministic random source for tests: counts draws and returns a scripted sequence.
#pragma once

#include <cstdint>
#include <vector>

#include "host/core/Random.h"

namespace Testing {

// Installs itself on construction and restores the previous source on destruction.
class ScriptedRandom : public System::TRandomSource {
 public:
  // Values are taken from the script in turn (cycling); an empty script yields a simple counter.
  explicit ScriptedRandom(std::vector<std::uint32_t> script = {});
  ~ScriptedRandom() override;

  std::uint32_t RandInt(std::int32_t range) override;
  void Randomize() override { ++RandomizeCalls; }

  int Draws = 0;           // RandInt calls
  int ByteDraws = 0;       // RandInt(256) calls
  int WordDraws = 0;       // RandInt(-1) calls
  int RandomizeCalls = 0;  // Randomize calls

 private:
  std::vector<std::uint32_t> FScript;
  std::uint32_t FNext = 0;
  System::TRandomSource* FPrevious;
};

}  // namespace Testing
