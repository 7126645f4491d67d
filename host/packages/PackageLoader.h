// The host's package loader and the design-time palette.
//
// A loader stands for one host environment, which provides one runtime package (say VCL35). It loads a
// package by name or path, refuses one built for another runtime before any of its code runs, starts
// the package's units through its Initialize entry and, at design time, calls the Register routine of
// each contained unit and keeps the classes they register on its palette. Unloading stops the units
// through the Finalize entry and takes the package's classes off the palette.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/packages/ComponentRegistration.h"
#include "host/packages/PackageResources.h"
#include "host/packages/PackageUnits.h"
#include "host/packages/ResourceTable.h"

namespace Sysutils {

// A package that cannot be loaded or unloaded; the message says which and why.
class EPackageError : public Exception {
 public:
  using Exception::Exception;
};

enum class TPackageUse { RunTime, DesignTime };

class TPackageLoader;

// A loaded package.
class TPackage {
 public:
  TPackage(const TPackage&) = delete;
  TPackage& operator=(const TPackage&) = delete;

  // The package name: the file name without "lib" and ".so".
  const std::string& Name() const { return FName; }
  const std::string& FileName() const { return FFileName; }
  TPackageUse Use() const { return FUse; }
  const TPackageInfo& Info() const { return FInfo; }
  const TResourceTable& Resources() const { return FResources; }
  // The decoded DESCRIPTION resource; empty when the package has none.
  std::string Description() const;
  // The address of an export, found by the name `nm -DC` shows for it (a demangled C++ name such as
  // "Rsa::Register()", or a plain C name); null when the package exports no such name.
  void* FindExport(std::string_view name) const;
  // Every exported name, demangled.
  std::vector<std::string> ExportNames() const;
  // The package's unit table, when it exports GetPackageInfoTable; else null.
  const System::TPackageInfoTable* UnitTable() const;

 private:
  friend class TPackageLoader;
  TPackage() = default;

  std::string FName;
  std::string FFileName;
  TPackageUse FUse = TPackageUse::RunTime;
  TPackageInfo FInfo;
  TResourceTable FResources;
  std::map<std::string, std::string, std::less<>> FExports;  // demangled name -> symbol name
  void* FHandle = nullptr;
};

// One class on the palette.
struct TPaletteEntry {
  std::string Page;
  Classes::TComponentClass ComponentClass = nullptr;
  const TPackage* Package = nullptr;
  // The palette image: the package's bitmap resource named after the class; empty when it has none.
  std::string Bitmap;
};

class TPackageLoader {
 public:
  // RuntimePackage: the runtime package this host provides. SearchPath: the directories searched, in
  // order, for a package given by name (as lib<name>.so).
  TPackageLoader(std::string RuntimePackage, std::vector<std::string> SearchPath);
  // Unloads the packages still loaded, last loaded first.
  ~TPackageLoader();
  TPackageLoader(const TPackageLoader&) = delete;
  TPackageLoader& operator=(const TPackageLoader&) = delete;

  const std::string& RuntimePackage() const { return FRuntimePackage; }

  // Loads a package given by name (searched for) or by a path containing "/".
  TPackage& LoadPackage(const std::string& NameOrPath, TPackageUse Use);
  void UnloadPackage(TPackage& Package);
  const std::vector<std::unique_ptr<TPackage>>& Packages() const { return FPackages; }

  // Every class registered by the loaded packages, in registration order.
  const std::vector<TPaletteEntry>& Palette() const { return FPalette; }
  // The entries of one palette page.
  std::vector<const TPaletteEntry*> PalettePage(std::string_view Page) const;

 private:
  std::string Locate(const std::string& NameOrPath) const;
  void CheckCompatible(const TPackage& package) const;
  void RegisterUnits(TPackage& package);
  static void ReceiveRegistration(const System::AnsiString& Page, const Classes::TComponentClass* ComponentClasses,
                                  int ClassesHigh);
  void Release(TPackage& package);

  std::string FRuntimePackage;
  std::vector<std::string> FSearchPath;
  std::vector<std::unique_ptr<TPackage>> FPackages;
  std::vector<TPaletteEntry> FPalette;
};

}  // namespace Sysutils
