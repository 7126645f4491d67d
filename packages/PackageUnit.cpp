// The package unit (named by QARVEX_PACKAGE_UNIT) and the package's unit table.
#include <cstdint>

#include "host/packages/PackageUnits.h"
#include "packages/RsaUnit.h"

namespace PackageUnit {

std::int32_t UnitInitCount = 0;

void initialization() { --UnitInitCount; }
void Finalization() { ++UnitInitCount; }

}  // namespace PackageUnit

namespace SysInit {

// The units in dependency order: the start-up unit, the component unit, then the package unit that
// contains it. The host units RSA uses live in the runtime package, which is loaded first.
const System::TUnitEntry Units[] = {
    {"SysInit", nullptr, nullptr, nullptr},
    {"RSA", &Rsa::initialization, &Rsa::Finalization, &Rsa::UnitInitCount},
    {QARVEX_PACKAGE_UNIT, &PackageUnit::initialization, &PackageUnit::Finalization, &PackageUnit::UnitInitCount},
};
extern const System::TPackageInfoTable PackageInfoTable{int(sizeof Units / sizeof Units[0]), Units};

}  // namespace SysInit
