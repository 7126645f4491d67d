#include "host/packages/PackageUnits.h"

#include <exception>

namespace System {

namespace {

// Shuts down units [0, count) in reverse order; returns the first failure, if any.
std::exception_ptr FinalizeUnits(const TPackageInfoTable& Table, int count) {
  std::exception_ptr first;
  for (int i = count - 1; i >= 0; --i) {
    if (!Table.Units[i].Finalization) continue;
    try {
      Table.Units[i].Finalization();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  return first;
}

}  // namespace

void PackageLoad(const TPackageInfoTable& Table) {
  for (int i = 0; i < Table.UnitCount; ++i) {
    if (!Table.Units[i].Initialization) continue;
    try {
      Table.Units[i].Initialization();
    } catch (...) {
      // Leave no unit half started: stop the ones before this one, then report the original failure.
      FinalizeUnits(Table, i);
      throw;
    }
  }
}

void PackageUnload(const TPackageInfoTable& Table) {
  if (std::exception_ptr failure = FinalizeUnits(Table, Table.UnitCount)) std::rethrow_exception(failure);
}

}  // namespace System
