// The two package libraries as the host loads them: onto the design-time palette, their resources,
// their unit start-up, their separation inside one process and the same results through both.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "host/packages/PackageLoader.h"
#include "host/packages/PackageResources.h"
#include "rsa/RSA.h"
#include "rsa/TextFormats.h"

using namespace Sysutils;
using System::AnsiString;

namespace {

const std::string PackageDir = QARVEX_PACKAGE_DIR;

struct TDeliverable {
  std::string Package, Runtime, Description;
  TVersionInfo Version;
};

const TDeliverable QuorlinA{"quorlin_a", "VCL35", "Qarvex RSA Public Key encryption",
                            {{1, 0, 1, 1},
                             {1, 0, 1, 1},
                             {{"FileDescription", "Qarvex RSA Public Key encryption"}, {"InternalName", "Qarvex RSA"}}}};
const TDeliverable QuorlinB{"quorlin_b", "vcl40", "Qarvex RSA", {{1, 0, 0, 0}, {1, 0, 0, 0}, {}}};

void PrintTo(const TDeliverable& d, std::ostream* out) { *out << d.Package; }

// The library file a code or data address lies in.
std::string LibraryOf(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return "?";
  return std::filesystem::path(info.dli_fname).filename().string();
}

// A TRSA created by a package through its exported class reference and driven only through the
// package's exported methods (a member function is called with the object as its first argument).
class TPackagedRSA {
 public:
  explicit TPackagedRSA(const TPackage& package) : FPackage(package) {
    const auto* ref = static_cast<const Classes::TMetaClass*>(package.FindExport("Rsa::TRSAClass"));
    if (!ref || !ref->ComponentInfo) throw std::runtime_error(package.Name() + " exports no TRSA class reference");
    FObject.reset(ref->ComponentInfo().Create(nullptr));
  }

  Rsa::TRSA* Object() const { return static_cast<Rsa::TRSA*>(FObject.get()); }

  template <class R, class... A>
  R Call(const std::string& method, A... args) const {
    void* code = FPackage.FindExport("Rsa::TRSA::" + method);
    if (!code) throw std::runtime_error(FPackage.Name() + " does not export Rsa::TRSA::" + method);
    return reinterpret_cast<R (*)(Rsa::TRSA*, A...)>(code)(Object(), args...);
  }

 private:
  const TPackage& FPackage;
  std::unique_ptr<Classes::TComponent> FObject;
};

class PackageTest : public ::testing::TestWithParam<TDeliverable> {};

TEST_P(PackageTest, DesignTimeLoadPutsExactlyTRSAOnTheCryptoPageWithItsBitmap) {
  const TDeliverable& d = GetParam();
  TPackageLoader loader(d.Runtime, {PackageDir});
  const TPackage& package = loader.LoadPackage(d.Package, TPackageUse::DesignTime);

  ASSERT_EQ(loader.Palette().size(), 1u);
  const TPaletteEntry& entry = loader.Palette()[0];
  EXPECT_EQ(loader.PalettePage("Crypto").size(), 1u);
  EXPECT_EQ(entry.Page, "Crypto");
  EXPECT_EQ(entry.Package, &package);
  EXPECT_STREQ(entry.ComponentClass->ClassName, "TRSA");
  EXPECT_EQ(entry.ComponentClass, package.FindExport("Rsa::TRSAClass"));
  EXPECT_EQ(entry.ComponentClass->ComponentInfo().ClassName, "TRSA");

  const TBitmapHeader bmp = DecodeBitmapHeader(entry.Bitmap);
  EXPECT_EQ(bmp.Width, 20);
  EXPECT_EQ(bmp.Height, 20);
  EXPECT_EQ(bmp.BitsPerPixel, 8);
  EXPECT_EQ(bmp.ColorCount, 256u);
  EXPECT_EQ(bmp.Compression, 0u);
  std::set<int> inks;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) inks.insert(BitmapPixel8(entry.Bitmap, bmp, x, y));
  EXPECT_GE(inks.size(), 4u) << "the image is drawn, not blank";

  // The palette's class creates a working TRSA inside the package.
  std::unique_ptr<Classes::TComponent> component(entry.ComponentClass->ComponentInfo().Create(nullptr));
  ASSERT_NE(dynamic_cast<Rsa::TRSA*>(component.get()), nullptr);
  EXPECT_EQ(LibraryOf(*reinterpret_cast<void**>(component.get())), "lib" + d.Package + ".so");
  component.reset();

  loader.UnloadPackage(const_cast<TPackage&>(package));
  EXPECT_TRUE(loader.Palette().empty());
}

TEST_P(PackageTest, ResourcesDecodeToTheirDescriptionDescriptorAndVersion) {
  const TDeliverable& d = GetParam();
  TPackageLoader loader(d.Runtime, {PackageDir});
  const TPackage& package = loader.LoadPackage(d.Package, TPackageUse::RunTime);

  EXPECT_EQ(package.Description(), d.Description);
  const TResource* description = package.Resources().Find(RT_RCDATA, "DESCRIPTION");
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(description->Data.size(), 2 * (d.Description.size() + 1)) << "UTF-16 with its terminator";
  EXPECT_EQ(description->Data.substr(description->Data.size() - 2), std::string(2, '\0'));

  const TPackageInfo expected{0, {d.Runtime}, {{d.Package, ufPackageUnit}, {"RSA", 0}, {"SysInit", ufImplicitUnit}}};
  EXPECT_EQ(package.Info(), expected);
  EXPECT_EQ(DecodePackageInfo(package.Resources().Find(RT_RCDATA, "PACKAGEINFO")->Data), expected);

  const TResource* version = package.Resources().Find(RT_VERSION, VersionResource);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(DecodeVersionInfo(version->Data), d.Version);
  EXPECT_EQ(version->Data.substr(6, 32), EncodeUtf16z("VS_VERSION_INFO")) << "a VS_VERSIONINFO block";
}

TEST_P(PackageTest, InitializeThenFinalizeLeavesTheUnitCountersAtZero) {
  const TDeliverable& d = GetParam();
  TPackageLoader loader(d.Runtime, {PackageDir});
  const TPackage& package = loader.LoadPackage(d.Package, TPackageUse::RunTime);
  const System::TPackageInfoTable* table = package.UnitTable();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->UnitCount, 3);
  EXPECT_STREQ(table->Units[0].UnitName, "SysInit");
  EXPECT_STREQ(table->Units[1].UnitName, "RSA");
  EXPECT_STREQ(table->Units[2].UnitName, d.Package.c_str());
  const std::int32_t& rsa = *table->Units[1].InitCount;
  const std::int32_t& own = *table->Units[2].InitCount;
  EXPECT_EQ(rsa, -1) << "the loader ran Initialize";
  EXPECT_EQ(own, -1);

  const auto finalize = reinterpret_cast<void (*)()>(package.FindExport("Finalize"));
  const auto initialize = reinterpret_cast<void (*)()>(package.FindExport("Initialize"));
  ASSERT_TRUE(finalize && initialize);
  finalize();
  EXPECT_EQ(rsa, 0);
  EXPECT_EQ(own, 0);
  initialize();
  EXPECT_EQ(rsa, -1);
  finalize();
  EXPECT_EQ(rsa, 0);
  // The unit's own pair does the same, and nothing else.
  reinterpret_cast<void (*)()>(package.FindExport("Rsa::initialization()"))();
  EXPECT_EQ(rsa, -1);
  EXPECT_EQ(own, 0);
  reinterpret_cast<void (*)()>(package.FindExport("Rsa::Finalization()"))();
  EXPECT_EQ(rsa, 0);
  initialize();  // as the loader left it, for its own unload
}

TEST_P(PackageTest, RunTimeLoadRegistersNothingAndRegisterRefusesOutsideDesignTime) {
  const TDeliverable& d = GetParam();
  TPackageLoader loader(d.Runtime, {PackageDir});
  const TPackage& package = loader.LoadPackage(PackageDir + "/lib" + d.Package + ".so", TPackageUse::RunTime);
  EXPECT_EQ(package.Name(), d.Package);
  EXPECT_TRUE(loader.Palette().empty());
  const auto reg = reinterpret_cast<void (*)()>(package.FindExport("Rsa::Register()"));
  ASSERT_NE(reg, nullptr);
  EXPECT_THROW(reg(), Classes::EComponentError);
}

// The component unit's published exports, written as the platform demangles them (a top-level const
// of a parameter does not mangle). The export check compares the libraries with packages/exports.txt;
// this table is the published list itself, so a change to that file cannot hide a missing name.
const char* const PublishedExports[] = {
    "Rsa::TRSA::TRSA(Classes::TComponent*)",
    "Rsa::TRSA::Burn()",
    "Rsa::TRSA::BurnString(System::AnsiString&)",
    "Rsa::TRSA::GetPrecision()",
    "Rsa::TRSA::GetSymKeyBytes()",
    "Rsa::TRSA::GetVersion()",
    "Rsa::TRSA::SetKeyBits(Rsa::TKeyBits)",
    "Rsa::TRSA::DoStatusUpdate()",
    "Rsa::TRSA::EncodeString(System::AnsiString)",
    "Rsa::TRSA::DecodeString(System::AnsiString)",
    "Rsa::TRSA::PutPublicKey(System::AnsiString)",
    "Rsa::TRSA::PutPrivateKey(System::AnsiString)",
    "Rsa::TRSA::PutSignature(System::AnsiString)",
    "Rsa::TRSA::GetPublicKey(Rsa::BigNum&, Rsa::BigNum&)",
    "Rsa::TRSA::GetPrivateKey(Rsa::BigNum&, Rsa::BigNum&)",
    "Rsa::TRSA::SetPublicKey(Rsa::BigNum const&, Rsa::BigNum const&)",
    "Rsa::TRSA::SetPrivateKey(Rsa::BigNum const&, Rsa::BigNum const&)",
    "Rsa::TRSA::EncryptKey(unsigned char const*)",
    "Rsa::TRSA::DecryptKey(System::AnsiString, unsigned char*)",
    "Rsa::TRSA::Sign(unsigned char const*, int, int)",
    "Rsa::TRSA::Verify(unsigned char const*, int, int)",
    "Rsa::TRSA::EncryptString(System::AnsiString, System::AnsiString&)",
    "Rsa::TRSA::DecryptString(System::AnsiString, System::AnsiString&)",
    "Rsa::TRSA::MakeKeyPair(Rsa::BigNum const&, Rsa::BigNum const&)",
    "Rsa::TRSA::RSAMakeKeyPair(Rsa::BigNum const&, Rsa::BigNum const&, Rsa::BigNum&, Rsa::BigNum&, Rsa::BigNum&)",
    "Rsa::TRSAClass",
    "Rsa::ENoKeyLoadedClass",
    "Rsa::EInvalidKeyClass",
    "typeinfo for Rsa::TRSA",
    "typeinfo for Rsa::ENoKeyLoaded",
    "typeinfo for Rsa::EInvalidKey",
    "typeinfo for Rsa::TKeyBits",
    "typeinfo for Rsa::TSymKeyLength",
    "Rsa::Register()",
    "Rsa::initialization()",
    "Rsa::Finalization()",
    "Initialize",
    "Finalize",
};

TEST_P(PackageTest, ExportsEveryPublishedNameAndNothingOfTheArithmetic) {
  const TDeliverable& d = GetParam();
  TPackageLoader loader(d.Runtime, {PackageDir});
  const TPackage& package = loader.LoadPackage(d.Package, TPackageUse::RunTime);
  for (const char* name : PublishedExports) EXPECT_NE(package.FindExport(name), nullptr) << d.Package << " lacks " << name;
  for (const std::string& name : package.ExportNames()) {
    EXPECT_EQ(name.find("TPrimeFactory"), std::string::npos) << name;
    const std::string bare = name.substr(name.rfind("::") == std::string::npos ? 0 : name.rfind("::") + 2);
    EXPECT_FALSE(bare.rfind("BN", 0) == 0 && bare.size() > 2 && std::isupper(static_cast<unsigned char>(bare[2])))
        << "arithmetic routine exported: " << name;
    EXPECT_FALSE(bare.rfind("Digit", 0) == 0 && bare.size() > 5 && std::isupper(static_cast<unsigned char>(bare[5])))
        << "arithmetic routine exported: " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Deliverables, PackageTest, ::testing::Values(QuorlinA, QuorlinB),
                         [](const auto& info) { return info.param.Package; });

TEST(PackageLoader, RefusesAPackageBuiltForAnotherRuntimeBeforeAnyOfItsCodeRuns) {
  TPackageLoader version3("VCL35", {PackageDir});
  try {
    version3.LoadPackage("quorlin_b", TPackageUse::DesignTime);
    FAIL() << "quorlin_b loaded into a VCL35 host";
  } catch (const EPackageError& e) {
    EXPECT_STREQ(e.what(), "Package quorlin_b requires runtime package vcl40; this host provides VCL35");
  }
  EXPECT_EQ(dlopen((PackageDir + "/libquorlin_b.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_TRUE(version3.Packages().empty());
  EXPECT_TRUE(version3.Palette().empty());

  TPackageLoader version4("vcl40", {PackageDir});
  EXPECT_THROW(version4.LoadPackage("quorlin_a", TPackageUse::RunTime), EPackageError);
}

TEST(PackageLoader, RefusesWhatIsNoPackageAndAPackageLoadedTwice) {
  TPackageLoader loader("VCL35", {PackageDir});
  const auto message = [&](const std::string& name) {
    try {
      loader.LoadPackage(name, TPackageUse::DesignTime);
    } catch (const EPackageError& e) {
      return std::string(e.what());
    }
    return std::string("loaded");
  };
  EXPECT_EQ(message("nosuchpackage"), "Package nosuchpackage not found in the package search path");
  EXPECT_EQ(message(PackageDir + "/libVCL35.so"), PackageDir + "/libVCL35.so is not a package: it carries no resources");
  EXPECT_EQ(message("quorlin_a"), "loaded");
  EXPECT_EQ(message("quorlin_a"), "Package quorlin_a is already loaded");
  EXPECT_EQ(loader.Packages().size(), 1u);
  EXPECT_EQ(loader.Palette().size(), 1u);
}

// Both deliverables at once, each with its own host runtime.
class BothPackages : public ::testing::Test {
 protected:
  TPackageLoader FLoaderA{"VCL35", {PackageDir}};
  TPackageLoader FLoaderB{"vcl40", {PackageDir}};
  const TPackage& A = FLoaderA.LoadPackage("quorlin_a", TPackageUse::DesignTime);
  const TPackage& B = FLoaderB.LoadPackage("quorlin_b", TPackageUse::DesignTime);
};

TEST_F(BothPackages, KeepSeparateStateInOneProcess) {
  // Every export of each library is its own, and each library is bound to its own runtime.
  ASSERT_EQ(A.ExportNames(), B.ExportNames());
  for (const std::string& name : A.ExportNames()) {
    EXPECT_EQ(LibraryOf(A.FindExport(name)), "libquorlin_a.so") << name;
    EXPECT_EQ(LibraryOf(B.FindExport(name)), "libquorlin_b.so") << name;
  }
  EXPECT_EQ(LibraryOf(dlsym(dlopen(A.FileName().c_str(), RTLD_NOW | RTLD_NOLOAD), "RegisterComponentsProc")),
            "libVCL35.so");
  EXPECT_EQ(LibraryOf(dlsym(dlopen(B.FileName().c_str(), RTLD_NOW | RTLD_NOLOAD), "RegisterComponentsProc")),
            "libvcl40.so");

  // Each palette holds its own package's class, with the same image.
  ASSERT_EQ(FLoaderA.Palette().size(), 1u);
  ASSERT_EQ(FLoaderB.Palette().size(), 1u);
  EXPECT_NE(FLoaderA.Palette()[0].ComponentClass, FLoaderB.Palette()[0].ComponentClass);
  EXPECT_EQ(FLoaderA.Palette()[0].Bitmap, FLoaderB.Palette()[0].Bitmap);

  // Stopping one package's units leaves the other's running.
  const std::int32_t& countA = *A.UnitTable()->Units[1].InitCount;
  const std::int32_t& countB = *B.UnitTable()->Units[1].InitCount;
  EXPECT_NE(&countA, &countB);
  reinterpret_cast<void (*)()>(A.FindExport("Finalize"))();
  EXPECT_EQ(countA, 0);
  EXPECT_EQ(countB, -1);
  reinterpret_cast<void (*)()>(A.FindExport("Initialize"))();

  // Components live in their own library and report through their own code.
  const TPackagedRSA rsaA(A), rsaB(B);
  EXPECT_EQ(LibraryOf(*reinterpret_cast<void* const*>(rsaA.Object())), "libquorlin_a.so");
  EXPECT_EQ(LibraryOf(*reinterpret_cast<void* const*>(rsaB.Object())), "libquorlin_b.so");
  rsaA.Call<void>("SetKeyBits(Rsa::TKeyBits)", Rsa::kb2048);
  rsaB.Call<void>("SetKeyBits(Rsa::TKeyBits)", Rsa::kb0512);
  EXPECT_EQ(rsaA.Call<int>("GetPrecision()"), 64);
  EXPECT_EQ(rsaB.Call<int>("GetPrecision()"), 16);
}

TEST_F(BothPackages, GiveTheSameTextsAndResultsAsTheComponentItself) {
  const TPackagedRSA rsaA(A), rsaB(B);
  Rsa::TRSA reference(nullptr);
  int eventsA = 0;
  rsaA.Object()->SetOnStatusUpdate([&](System::TObject* sender) { eventsA += sender == rsaA.Object(); });

  for (Rsa::TKeyBits bits : {Rsa::kb0512, Rsa::kb1024, Rsa::kb2048, Rsa::kb3072, Rsa::kb4096}) {
    reference.SetKeyBits(bits);
    for (const TPackagedRSA* rsa : {&rsaA, &rsaB}) {
      rsa->Call<void>("SetKeyBits(Rsa::TKeyBits)", bits);
      EXPECT_EQ(rsa->Call<int>("GetPrecision()"), reference.GetPrecision());
      EXPECT_EQ(rsa->Object()->Status(), reference.Status());
      EXPECT_EQ(rsa->Call<AnsiString>("GetVersion()"), reference.GetVersion());
    }
  }
  EXPECT_EQ(eventsA, 5);

  // Radix-64 text of every byte value, and back.
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += char(i);
  const AnsiString text = reference.EncodeString(AnsiString(bytes));
  for (const TPackagedRSA* rsa : {&rsaA, &rsaB}) {
    EXPECT_EQ(rsa->Call<AnsiString>("EncodeString(System::AnsiString)", AnsiString(bytes)), text);
    EXPECT_EQ(rsa->Call<AnsiString>("DecodeString(System::AnsiString)", text), AnsiString(bytes));
  }

  // Key texts load into the same numbers, and a bad one fails with the same class and message.
  reference.SetKeyBits(Rsa::kb0512);
  Rsa::BigNum e{}, n{}, d{};
  e[0] = 65537;
  for (int i = 0; i < 16; ++i) {
    n[i] = 0x9E3779B9u * Rsa::Digit(i + 1) | 1u;
    d[i] = 0x7F4A7C15u * Rsa::Digit(i + 3);
  }
  const AnsiString publicKey = Rsa::KeyFieldText(e) + ":" + Rsa::KeyFieldText(n, 16);
  const AnsiString privateKey = Rsa::KeyFieldText(n) + ":" + Rsa::KeyFieldText(d, 16);
  reference.PutPublicKey(publicKey);
  for (const TPackagedRSA* rsa : {&rsaA, &rsaB}) {
    rsa->Call<void>("SetKeyBits(Rsa::TKeyBits)", Rsa::kb0512);
    rsa->Call<void>("PutPublicKey(System::AnsiString)", publicKey);
    rsa->Call<void>("PutPrivateKey(System::AnsiString)", privateKey);
    EXPECT_EQ(rsa->Object()->Status(), "Private key loaded OK");
    Rsa::BigNum e2{}, n2{}, d2{}, n3{};
    rsa->Call<void, Rsa::BigNum&, Rsa::BigNum&>("GetPublicKey(Rsa::BigNum&, Rsa::BigNum&)", e2, n2);
    rsa->Call<void, Rsa::BigNum&, Rsa::BigNum&>("GetPrivateKey(Rsa::BigNum&, Rsa::BigNum&)", n3, d2);
    EXPECT_EQ(0, std::memcmp(&e2, &e, sizeof e));
    EXPECT_EQ(0, std::memcmp(&n2, &n, sizeof n));
    EXPECT_EQ(0, std::memcmp(&n3, &n, sizeof n));
    EXPECT_EQ(0, std::memcmp(&d2, &d, sizeof d));
  }

  // The largest key size, through the same public key: the same cipher text (two-byte pad count).
  Rsa::BigNum n4096{};
  for (int i = 0; i < 128; ++i) n4096[i] = 0x6C8E9CF5u * Rsa::Digit(i + 7) | 1u;
  n4096[127] |= 0x80000000u;
  const AnsiString plain(std::string(600, '\x5A'));
  reference.SetKeyBits(Rsa::kb4096);
  reference.SetPublicKey(e, n4096);
  AnsiString expected;
  reference.EncryptString(plain, expected);
  for (const TPackagedRSA* rsa : {&rsaA, &rsaB}) {
    rsa->Call<void>("SetKeyBits(Rsa::TKeyBits)", Rsa::kb4096);
    rsa->Call<void, const Rsa::BigNum&, const Rsa::BigNum&>("SetPublicKey(Rsa::BigNum const&, Rsa::BigNum const&)",
                                                            e, n4096);
    AnsiString cipher;
    rsa->Call<void, AnsiString, AnsiString&>("EncryptString(System::AnsiString, System::AnsiString&)", plain, cipher);
    EXPECT_EQ(cipher, expected);
  }
  reference.SetKeyBits(Rsa::kb0512);
  reference.PutPublicKey(publicKey);

  std::string referenceMessage;
  try {
    reference.PutPublicKey("AAAA");
  } catch (const Rsa::EInvalidKey& error) {
    referenceMessage = error.what();
  }
  ASSERT_FALSE(referenceMessage.empty());
  for (const TPackagedRSA* rsa : {&rsaA, &rsaB}) {
    try {
      rsa->Call<void>("PutPublicKey(System::AnsiString)", AnsiString("AAAA"));
      ADD_FAILURE() << "a key text without a separator loaded";
    } catch (const Rsa::EInvalidKey& error) {
      EXPECT_EQ(std::string(error.what()), referenceMessage);
      EXPECT_EQ(rsa->Object()->Status(), AnsiString(referenceMessage));
    }
  }
}

}  // namespace

TEST(PackageLoader, UnloadingAPackageWithdrawsItsClassesFromAStillLoadedRuntime) {
  // Keep the runtime loaded on its own, as another package using it would.
  void* runtime = dlopen((PackageDir + "/libVCL35.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(runtime, nullptr) << dlerror();
  using FindClassFn = const Classes::TClassInfo* (*)(const std::string&);
  auto findClass = reinterpret_cast<FindClassFn>(
      dlsym(runtime, "_ZN7Classes9FindClassERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"));
  ASSERT_NE(findClass, nullptr);
  {
    TPackageLoader loader("VCL35", {PackageDir});
    TPackage& package = loader.LoadPackage("quorlin_a", TPackageUse::RunTime);
    EXPECT_NE(findClass("TRSA"), nullptr);
    loader.UnloadPackage(package);
  }
  // A form read now must not find a class whose code is gone.
  EXPECT_EQ(findClass("TRSA"), nullptr);
  dlclose(runtime);
}
