// The component unit's package entries: design-time registration, the unit's start-up and shut-down
// routines, and the class references the package exports.
#pragma once

#include <cstdint>

#include "host/core/MetaClass.h"
#include "rsa/RSA.h"

#pragma GCC visibility push(default)
namespace Rsa {

// Puts TRSA on the palette page "Crypto". Called by the design environment only.
void Register();
// Start-up and shut-down of the unit: they only move the unit's counter (0 -> -1 -> 0).
void initialization();
void Finalization();

// Class references.
extern const Classes::TMetaClass TRSAClass;
extern const Classes::TMetaClass ENoKeyLoadedClass;
extern const Classes::TMetaClass EInvalidKeyClass;

}  // namespace Rsa
#pragma GCC visibility pop

namespace Rsa {
// The unit's start-up counter, reported to the host through the package's unit table.
extern std::int32_t UnitInitCount;
}  // namespace Rsa
