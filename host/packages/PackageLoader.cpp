#include "host/packages/PackageLoader.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "host/packages/ElfImage.h"

namespace Sysutils {

namespace {

// The loader and package whose units are registering right now (registration runs on the loading thread).
thread_local TPackageLoader* gRegisteringLoader = nullptr;
thread_local TPackage* gRegisteringPackage = nullptr;
thread_local std::vector<TPaletteEntry>* gRegisteringPalette = nullptr;

std::string Demangle(const std::string& symbol) {
  int status = 0;
  char* text = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
  if (status != 0 || !text) return symbol;  // a plain C name
  std::string result(text);
  std::free(text);
  return result;
}

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

// "libquorlin_a.so" -> "quorlin_a".
std::string PackageNameOf(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  if (name.starts_with("lib")) name.erase(0, 3);
  if (name.ends_with(".so")) name.erase(name.size() - 3);
  return name;
}

// The host names a unit's C++ namespace with a capital first letter and the rest in lower case.
std::string UnitNamespace(const std::string& unit) {
  std::string ns = unit;
  for (char& c : ns) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (!ns.empty()) ns[0] = char(std::toupper(static_cast<unsigned char>(ns[0])));
  return ns;
}

template <class F>
F Entry(void* handle, const char* name) {
  return reinterpret_cast<F>(dlsym(handle, name));
}

}  // namespace

std::string TPackage::Description() const {
  const TResource* r = FResources.Find(RT_RCDATA, DescriptionResource);
  return r ? DecodeUtf16z(r->Data) : std::string();
}

void* TPackage::FindExport(std::string_view name) const {
  const auto it = FExports.find(name);
  return it == FExports.end() ? nullptr : dlsym(FHandle, it->second.c_str());
}

std::vector<std::string> TPackage::ExportNames() const {
  std::vector<std::string> names;
  for (const auto& [name, symbol] : FExports) names.push_back(name);
  return names;
}

const System::TPackageInfoTable* TPackage::UnitTable() const {
  using TGetTable = const System::TPackageInfoTable* (*)();
  const auto get = Entry<TGetTable>(FHandle, "GetPackageInfoTable");
  return get ? get() : nullptr;
}

TPackageLoader::TPackageLoader(std::string RuntimePackage, std::vector<std::string> SearchPath)
    : FRuntimePackage(std::move(RuntimePackage)), FSearchPath(std::move(SearchPath)) {}

TPackageLoader::~TPackageLoader() {
  while (!FPackages.empty()) {
    try {
      UnloadPackage(*FPackages.back());
    } catch (...) {
      // A package failing to stop must not stop the others; it has been released regardless.
    }
  }
}

std::string TPackageLoader::Locate(const std::string& NameOrPath) const {
  if (NameOrPath.find('/') != std::string::npos) {
    if (!std::filesystem::is_regular_file(NameOrPath)) throw EPackageError("Package file " + NameOrPath + " not found");
    return NameOrPath;
  }
  for (const std::string& dir : FSearchPath) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / ("lib" + NameOrPath + ".so");
    if (std::filesystem::is_regular_file(candidate)) return candidate.string();
  }
  throw EPackageError("Package " + NameOrPath + " not found in the package search path");
}

void TPackageLoader::CheckCompatible(const TPackage& p) const {
  if (p.FInfo.Requires.empty())
    throw EPackageError("Package " + p.FName + " names no runtime package; this host provides " + FRuntimePackage);
  for (const std::string& required : p.FInfo.Requires)
    if (required != FRuntimePackage)
      throw EPackageError("Package " + p.FName + " requires runtime package " + required + "; this host provides " +
                          FRuntimePackage);
  if (p.FUse == TPackageUse::RunTime && (p.FInfo.Flags & pfDesignOnly))
    throw EPackageError("Package " + p.FName + " is for design time only");
  if (p.FUse == TPackageUse::DesignTime && (p.FInfo.Flags & pfRunOnly))
    throw EPackageError("Package " + p.FName + " is for run time only");
  for (const auto& other : FPackages) {
    if (other->FName == p.FName) throw EPackageError("Package " + p.FName + " is already loaded");
    for (const TContainedUnit& unit : p.FInfo.Contains) {
      if (unit.Flags & ufImplicitUnit) continue;  // every package has its own copy of the start-up unit
      for (const TContainedUnit& theirs : other->FInfo.Contains)
        if (theirs.Name == unit.Name)
          throw EPackageError("Package " + p.FName + " contains unit " + unit.Name + ", which package " +
                              other->FName + " already contains");
    }
  }
}

TPackage& TPackageLoader::LoadPackage(const std::string& NameOrPath, TPackageUse Use) {
  auto package = std::unique_ptr<TPackage>(new TPackage());
  TPackage& p = *package;
  p.FFileName = Locate(NameOrPath);
  p.FName = PackageNameOf(p.FFileName);
  p.FUse = Use;

  // Inspect the file before any of its code runs.
  {
    const TElfImage image(p.FFileName);
    std::string section;
    if (!image.FindSection(ResourceSectionName, section))
      throw EPackageError(p.FFileName + " is not a package: it carries no resources");
    p.FResources = TResourceTable::Parse(section);
    const TResource* info = p.FResources.Find(RT_RCDATA, PackageInfoResource);
    if (!info) throw EPackageError(p.FFileName + " is not a package: it has no PACKAGEINFO resource");
    p.FInfo = DecodePackageInfo(info->Data);
    for (const std::string& symbol : image.ExportedSymbols()) p.FExports.emplace(Demangle(symbol), symbol);
  }
  CheckCompatible(p);

  p.FHandle = dlopen(p.FFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!p.FHandle) throw EPackageError("Cannot load package " + p.FName + ": " + DlError());
  using TEntry = void (*)();
  const auto initialize = Entry<TEntry>(p.FHandle, "Initialize");
  if (!initialize || !Entry<TEntry>(p.FHandle, "Finalize")) {
    dlclose(p.FHandle);
    throw EPackageError("Package " + p.FName + " lacks its Initialize or Finalize entry");
  }
  try {
    initialize();
  } catch (...) {
    dlclose(p.FHandle);
    throw;
  }
  FPackages.push_back(std::move(package));
  if (Use == TPackageUse::DesignTime) {
    try {
      RegisterUnits(p);
    } catch (...) {
      // A package that fails to register is not kept half installed.
      try {
        UnloadPackage(p);
      } catch (...) {
      }
      throw;
    }
  }
  return p;
}

void TPackageLoader::RegisterUnits(TPackage& p) {
  // The hook lives in the runtime package the loaded package is bound to; it must be the runtime this
  // host provides, whatever the package's descriptor claims.
  auto* hook = Entry<Classes::TRegisterComponentsProc*>(p.FHandle, "RegisterComponentsProc");
  Dl_info where{};
  if (!hook || !dladdr(reinterpret_cast<void*>(hook), &where) || !where.dli_fname ||
      PackageNameOf(where.dli_fname) != FRuntimePackage)
    throw EPackageError("Package " + p.FName + " is not bound to runtime package " + FRuntimePackage);

  std::vector<TPaletteEntry> added;
  const Classes::TRegisterComponentsProc previous = *hook;
  *hook = &ReceiveRegistration;
  gRegisteringLoader = this;
  gRegisteringPackage = &p;
  gRegisteringPalette = &added;
  const auto restore = [&] {
    *hook = previous;
    gRegisteringLoader = nullptr;
    gRegisteringPackage = nullptr;
    gRegisteringPalette = nullptr;
  };
  try {
    for (const TContainedUnit& unit : p.FInfo.Contains) {
      using TRegister = void (*)();
      if (const auto reg = reinterpret_cast<TRegister>(p.FindExport(UnitNamespace(unit.Name) + "::Register()")))
        reg();
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  FPalette.insert(FPalette.end(), added.begin(), added.end());
}

void TPackageLoader::ReceiveRegistration(const System::AnsiString& Page, const Classes::TComponentClass* ComponentClasses,
                                         int ClassesHigh) {
  TPackageLoader* loader = gRegisteringLoader;
  if (!loader) throw Classes::EComponentError("Components can be registered only while a package is loading");
  for (int i = 0; i <= ClassesHigh; ++i) {
    const Classes::TComponentClass c = ComponentClasses[i];
    const std::string name = c->ClassName;
    const auto same = [&](const TPaletteEntry& e) { return name == e.ComponentClass->ClassName; };
    if (std::any_of(loader->FPalette.begin(), loader->FPalette.end(), same) ||
        std::any_of(gRegisteringPalette->begin(), gRegisteringPalette->end(), same))
      throw Classes::EComponentError("A component class named " + name + " is already registered");
    TPaletteEntry entry{std::string(Page.str()), c, gRegisteringPackage, {}};
    if (const TResource* bitmap = gRegisteringPackage->FResources.Find(RT_BITMAP, name)) entry.Bitmap = bitmap->Data;
    gRegisteringPalette->push_back(std::move(entry));
  }
}

std::vector<const TPaletteEntry*> TPackageLoader::PalettePage(std::string_view Page) const {
  std::vector<const TPaletteEntry*> entries;
  for (const TPaletteEntry& e : FPalette)
    if (e.Page == Page) entries.push_back(&e);
  return entries;
}

void TPackageLoader::UnloadPackage(TPackage& Package) {
  const auto it = std::find_if(FPackages.begin(), FPackages.end(), [&](const auto& p) { return p.get() == &Package; });
  if (it == FPackages.end()) throw EPackageError("Package " + Package.FName + " is not loaded by this host");
  std::erase_if(FPalette, [&](const TPaletteEntry& e) { return e.Package == &Package; });
  const std::unique_ptr<TPackage> owned = std::move(*it);
  FPackages.erase(it);
  using TEntry = void (*)();
  const auto finalize = Entry<TEntry>(owned->FHandle, "Finalize");
  try {
    finalize();
  } catch (...) {
    dlclose(owned->FHandle);
    throw;
  }
  dlclose(owned->FHandle);
}

}  // namespace Sysutils
