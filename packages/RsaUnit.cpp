#include "packages/RsaUnit.h"

#include <typeinfo>

#include "host/packages/ComponentRegistration.h"

namespace Rsa {

std::int32_t UnitInitCount = 0;

void initialization() { --UnitInitCount; }
void Finalization() { ++UnitInitCount; }

const Classes::TMetaClass TRSAClass{"TRSA", &typeid(TRSA), &TRSA::StaticClassInfo};
const Classes::TMetaClass ENoKeyLoadedClass{"ENoKeyLoaded", &typeid(ENoKeyLoaded), nullptr};
const Classes::TMetaClass EInvalidKeyClass{"EInvalidKey", &typeid(EInvalidKey), nullptr};

void Register() {
  const Classes::TComponentClass classes[] = {&TRSAClass};
  Classes::RegisterComponents("Crypto", classes, 0);
}

namespace {

// The type descriptors of the unit's enumerations are emitted here so that the package can export them.
[[gnu::used]] const std::type_info* const EnumTypeDescriptors[] = {&typeid(TKeyBits), &typeid(TSymKeyLength)};

}  // namespace

}  // namespace Rsa
