// The one place that decides which block functions this process uses: the processor's SHA instructions
// where it has them, unless QARVEX_HASH=portable forces the portable code (for tests and benchmarks).
#include <cstdlib>
#include <cstring>

#include "hash/HashInternal.h"

namespace Hash::Detail {

namespace {

const TBlockFunctions& Choose() {
  const char* forced = std::getenv("QARVEX_HASH");
  if (forced != nullptr && std::strcmp(forced, "portable") == 0) return PortableBlockFunctions();
  const TBlockFunctions* ni = ShaNiBlockFunctions();
  return ni != nullptr ? *ni : PortableBlockFunctions();
}

}  // namespace

const TBlockFunctions& PortableBlockFunctions() {
  static const TBlockFunctions functions{"portable", Sha1BlocksPortable, Sha256BlocksPortable,
                                         Sha512BlocksPortable};
  return functions;
}

const TBlockFunctions& SelectedBlockFunctions() {
  static const TBlockFunctions& functions = Choose();
  return functions;
}

}  // namespace Hash::Detail
