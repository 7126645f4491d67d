// Unit start-up and shut-down of a package: the package's table of unit routines, run by the host.
#pragma once

#include <cstdint>

namespace System {

// One unit of a package: its name, its start-up and shut-down routines (either may be null), and the
// unit's start-up counter, which the host reads to report the unit's state (may be null).
struct TUnitEntry {
  const char* UnitName;
  void (*Initialization)();
  void (*Finalization)();
  const std::int32_t* InitCount;
};

// The units of a package in dependency order: every unit after the units it uses.
struct TPackageInfoTable {
  int UnitCount;
  const TUnitEntry* Units;
};

// Runs the units' start-up routines in table order. When one fails, the units already started are shut
// down again (in reverse order) and the failure passes on unchanged.
void PackageLoad(const TPackageInfoTable& Table);
// Runs the units' shut-down routines in reverse table order, so each unit stops before the units it
// uses. Every routine runs even when an earlier one fails; the first failure then passes on.
void PackageUnload(const TPackageInfoTable& Table);

}  // namespace System
