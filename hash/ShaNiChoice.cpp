// Whether the SHA-instruction block functions exist. This build has none yet.
#include "hash/HashInternal.h"

namespace Hash::Detail {

const TBlockFunctions* ShaNiBlockFunctions() { return nullptr; }

}  // namespace Hash::Detail
