// The host's start-up unit, linked into every package: the entries through which the host's package
// loader starts and stops the package's units.
#include "host/packages/PackageUnits.h"

namespace SysInit {
extern const System::TPackageInfoTable PackageInfoTable;
}

#define QARVEX_EXPORT extern "C" [[gnu::visibility("default")]]

// The package's unit table, for a host that reports the state of the package's units.
QARVEX_EXPORT const System::TPackageInfoTable* GetPackageInfoTable() { return &SysInit::PackageInfoTable; }
QARVEX_EXPORT void Initialize() { System::PackageLoad(SysInit::PackageInfoTable); }
QARVEX_EXPORT void Finalize() { System::PackageUnload(SysInit::PackageInfoTable); }
