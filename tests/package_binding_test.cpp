// Both package libraries loaded into one process with every symbol made global, the way an
// application linked against both would see them: each library must still run its own code and use
// its own runtime package. Runs in its own process, before anything else has loaded the libraries.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "host/packages/ComponentRegistration.h"
#include "host/packages/PackageUnits.h"

namespace {

const std::string PackageDir = QARVEX_PACKAGE_DIR;

struct TOpened {
  void* Handle;
  const System::TPackageInfoTable* Units;
  std::int32_t RsaCount() const { return *Units->Units[1].InitCount; }
  void Run(const char* entry) const { reinterpret_cast<void (*)()>(dlsym(Handle, entry))(); }
};

TOpened OpenGlobal(const std::string& package) {
  void* handle = dlopen((PackageDir + "/lib" + package + ".so").c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!handle) throw std::runtime_error(dlerror());
  using TGetTable = const System::TPackageInfoTable* (*)();
  return {handle, reinterpret_cast<TGetTable>(dlsym(handle, "GetPackageInfoTable"))()};
}

int gRegistered = 0;
void CountRegistration(const System::AnsiString&, const Classes::TComponentClass*, int high) { gRegistered += high + 1; }

TEST(PackageBinding, GloballyLoadedPackagesStillCallTheirOwnCodeAndRuntime) {
  ASSERT_EQ(dlopen((PackageDir + "/libquorlin_a.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
  const TOpened a = OpenGlobal("quorlin_a");
  const TOpened b = OpenGlobal("quorlin_b");

  // quorlin_b's unit table must name quorlin_b's routines, not the first-loaded library's.
  b.Run("Initialize");
  EXPECT_EQ(b.RsaCount(), -1);
  EXPECT_EQ(a.RsaCount(), 0);
  a.Run("Initialize");
  EXPECT_EQ(a.RsaCount(), -1);
  b.Run("Finalize");
  EXPECT_EQ(b.RsaCount(), 0);
  EXPECT_EQ(a.RsaCount(), -1);
  a.Run("Finalize");

  // quorlin_b registers through vcl40 even though VCL35 came first: only vcl40 is listening.
  void* vcl40 = dlopen((PackageDir + "/libvcl40.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(vcl40, nullptr);
  auto* hook = static_cast<Classes::TRegisterComponentsProc*>(dlsym(vcl40, "RegisterComponentsProc"));
  ASSERT_NE(hook, nullptr);
  *hook = &CountRegistration;
  reinterpret_cast<void (*)()>(dlsym(b.Handle, "_ZN3Rsa8RegisterEv"))();  // Rsa::Register()
  EXPECT_EQ(gRegistered, 1);
  EXPECT_THROW(reinterpret_cast<void (*)()>(dlsym(a.Handle, "_ZN3Rsa8RegisterEv"))(), Classes::EComponentError)
      << "quorlin_a's runtime has no design environment listening";
  *hook = nullptr;
  dlclose(vcl40);
}

}  // namespace
