// The host's side of packages: running unit tables, the resource image and the standard resources,
// and registration outside a design environment.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/packages/ComponentRegistration.h"
#include "host/packages/ElfImage.h"
#include "host/packages/PackageResources.h"
#include "host/packages/PackageUnits.h"
#include "host/packages/ResourceTable.h"

using namespace Sysutils;

namespace {

// A unit table whose routines log their runs; unit `failing` raises from its start-up or shut-down.
struct TUnitLog {
  static inline std::vector<std::string> Runs;
  static inline std::string FailIn;
  template <int N>
  static void Init() {
    Runs.push_back("init" + std::to_string(N));
    if (FailIn == "init" + std::to_string(N)) throw std::runtime_error("init failed");
  }
  template <int N>
  static void Fini() {
    Runs.push_back("fini" + std::to_string(N));
    if (FailIn == "fini" + std::to_string(N)) throw std::runtime_error("fini failed");
  }
};
const System::TUnitEntry LoggedUnits[] = {{"Zero", nullptr, nullptr, nullptr},
                                          {"One", &TUnitLog::Init<1>, &TUnitLog::Fini<1>, nullptr},
                                          {"Two", &TUnitLog::Init<2>, &TUnitLog::Fini<2>, nullptr},
                                          {"Three", &TUnitLog::Init<3>, &TUnitLog::Fini<3>, nullptr}};
const System::TPackageInfoTable LoggedTable{4, LoggedUnits};

TEST(PackageUnits, StartInOrderStopInReverseAndNeverLeaveAUnitHalfStarted) {
  struct TCase {
    std::string FailIn;
    bool Load;
    std::vector<std::string> Runs;
  };
  const TCase cases[] = {
      {"", true, {"init1", "init2", "init3"}},
      {"", false, {"fini3", "fini2", "fini1"}},
      {"init3", true, {"init1", "init2", "init3", "fini2", "fini1"}},  // the started ones stop again
      {"fini2", false, {"fini3", "fini2", "fini1"}},                   // every unit still stops
  };
  for (const TCase& c : cases) {
    TUnitLog::Runs.clear();
    TUnitLog::FailIn = c.FailIn;
    const auto run = [&] { c.Load ? System::PackageLoad(LoggedTable) : System::PackageUnload(LoggedTable); };
    if (c.FailIn.empty()) {
      run();
    } else {
      EXPECT_THROW(run(), std::runtime_error) << c.FailIn;
    }
    EXPECT_EQ(TUnitLog::Runs, c.Runs) << (c.Load ? "load" : "unload") << " failing in '" << c.FailIn << "'";
  }
  TUnitLog::FailIn.clear();
}

TEST(ResourceImage, RoundTripsAndRefusesEveryTruncation) {
  TResourceTable table;
  table.Add(RT_RCDATA, "DESCRIPTION", EncodeUtf16z("Qarvex"));
  table.Add(RT_RCDATA, "DESCRIPTION", EncodeUtf16z("Qarvex RSA"));  // replaces the first
  table.Add(RT_BITMAP, "TRSA", std::string("\0\1\2x", 4));
  const std::string image = table.Serialize();
  const TResourceTable back = TResourceTable::Parse(image);
  ASSERT_EQ(back.Items().size(), 2u);
  EXPECT_EQ(DecodeUtf16z(back.Find(RT_RCDATA, "DESCRIPTION")->Data), "Qarvex RSA");
  EXPECT_EQ(back.Find(RT_BITMAP, "TRSA")->Data, std::string("\0\1\2x", 4));
  EXPECT_EQ(back.Find(RT_RCDATA, "TRSA"), nullptr);
  // Cut anywhere before the last record's data ends, the image is refused; never read beyond.
  const std::size_t dataEnd = image.find_last_not_of('\0') + 1;  // the last byte of data is 'x'
  for (std::size_t cut = 0; cut < dataEnd; ++cut)
    EXPECT_THROW(TResourceTable::Parse(image.substr(0, cut)), EResourceError) << "cut at " << cut;
  EXPECT_EQ(TResourceTable::Parse(image.substr(0, dataEnd)).Items().size(), 2u) << "trailing padding is optional";
  std::string huge = image;
  huge[8] = '\xFF';  // a type length far past the end
  EXPECT_THROW(TResourceTable::Parse(huge), EResourceError);
}

TEST(StandardResources, DecodersRefuseTruncatedData) {
  const std::string info = EncodePackageInfo({0, {"VCL35"}, {{"quorlin_a", ufPackageUnit}, {"RSA", 0}}});
  const std::string version = EncodeVersionInfo({{1, 0, 1, 1}, {1, 0, 1, 1}, {{"InternalName", "Qarvex RSA"}}});
  std::vector<std::uint8_t> pixels(20 * 20, 7);
  const std::string bitmap = EncodeBitmap8(20, 20, {}, pixels);
  EXPECT_EQ(bitmap.size(), 14u + 40 + 1024 + 400);
  for (std::size_t cut = 0; cut < info.size(); ++cut)
    EXPECT_THROW(DecodePackageInfo(info.substr(0, cut)), EResourceError) << cut;
  for (std::size_t cut = 0; cut < version.size(); ++cut)
    EXPECT_THROW(DecodeVersionInfo(version.substr(0, cut)), EResourceError) << cut;
  for (std::size_t cut = 0; cut < bitmap.size(); ++cut)
    EXPECT_THROW(DecodeBitmapHeader(bitmap.substr(0, cut)), EResourceError) << cut;
  EXPECT_THROW(DecodeUtf16z(std::string("A\0B\0", 4)), EResourceError) << "no terminator";
  EXPECT_THROW(DecodeUtf16z(std::string("\0\xD8\0\0", 4)), EResourceError) << "lone surrogate";
  const std::string text = "Schl\xC3\xBCssel \xF0\x9F\x94\x91";  // a non-ASCII letter and a key emoji
  EXPECT_EQ(DecodeUtf16z(EncodeUtf16z(text)), text);
  EXPECT_EQ(EncodeUtf16z(text).size(), 2u * (10 + 2 + 1));
  EXPECT_EQ(VersionText({1, 0, 1, 1}), "1.0.1.1");
}

// A 64 KB resource of empty nodes, each the only child of the one before: 8191 levels, which the
// recursive reader followed until the stack ran out. It is refused at a fixed depth instead.
TEST(StandardResources, DeeplyNestedVersionInformationIsRefused) {
  constexpr std::size_t Levels = 0xFFFF / 8;
  std::string data;
  for (std::size_t level = 0; level < Levels; ++level) {
    const std::size_t length = (Levels - level) * 8;  // this node and every node inside it
    data += char(length & 0xFF);
    data += char(length >> 8);
    data.append(6, '\0');  // no value, binary type, empty key (its terminator), aligned to 4
  }
  try {
    DecodeVersionInfo(data);
    ADD_FAILURE() << "no exception";
  } catch (const EResourceError& x) {
    EXPECT_STREQ(x.what(), "Version information is nested too deeply");
  }
}

TEST(ComponentRegistration, RefusesOutsideADesignEnvironmentAndNonComponents) {
  const Classes::TMetaClass notAComponent{"EOops", &typeid(Exception), nullptr};
  const Classes::TComponentClass classes[] = {&notAComponent};
  ASSERT_EQ(Classes::RegisterComponentsProc, nullptr);
  EXPECT_THROW(Classes::RegisterComponents("Crypto", classes, 0), Classes::EComponentError);
  Classes::RegisterComponentsProc = [](const System::AnsiString&, const Classes::TComponentClass*, int) {};
  EXPECT_THROW(Classes::RegisterComponents("Crypto", classes, 0), Classes::EComponentError);
  EXPECT_THROW(Classes::RegisterComponents("Crypto", nullptr, 0), Classes::EComponentError);
  Classes::RegisterComponentsProc = nullptr;
}

TEST(ElfImage, RefusesFilesThatAreNoLibraries) {
  const std::string path = ::testing::TempDir() + "not_a_library.so";
  std::ofstream(path) << "just text, no ELF header here, long enough to be read as one if it were";
  EXPECT_THROW(TElfImage{path}, EImageError);
  EXPECT_THROW(TElfImage{path + ".missing"}, EImageError);
}

}  // namespace
