#include "support/ScriptedRandom.h"

namespace Testing {

ScriptedRandom::ScriptedRandom(std::vector<std::uint32_t> script)
    : FScript(std::move(script)), FPrevious(System::SetRandomSource(this)) {}

ScriptedRandom::~ScriptedRandom() { System::SetRandomSource(FPrevious); }

std::uint32_t ScriptedRandom::RandInt(std::int32_t range) {
  ++Draws;
  if (range == 256) ++ByteDraws;
  if (range <= 0) ++WordDraws;
  const std::uint32_t value = FScript.empty() ? FNext : FScript[FNext % FScript.size()];
  ++FNext;
  return range > 0 ? value % std::uint32_t(range) : value;
}

}  // namespace Testing
