// Atomic file writes: the routine behind form files and the tool's outputs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "host/core/AtomicFile.h"
#include "host/forms/FormFile.h"
#include "rsa/RSA.h"
#include "support/FixtureKeys.h"
#include "support/ProgramRunner.h"

namespace {

namespace fs = std::filesystem;
using Sysutils::TAtomicFile;
using Sysutils::TFileAccess;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// A form owning one TRSA, with the public key alone or both keys.
std::unique_ptr<Classes::TForm> KeyForm(bool withPrivate) {
  auto form = std::make_unique<Classes::TForm>(nullptr);
  form->SetName("KeyForm");
  auto* rsa = new Rsa::TRSA(form.get());
  rsa->SetName("RSA1");
  rsa->SetKeyBits(Rsa::kb0512);
  rsa->PutPublicKey(Testing::FixturePublicKeyText(512));
  if (withPrivate) rsa->PutPrivateKey(Testing::FixturePrivateKeyText(512));
  return form;
}

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override { FOldMask = ::umask(022); }
  void TearDown() override { ::umask(FOldMask); }
  Testing::ScratchDirectory Dir;
  mode_t FOldMask = 0;
};

// Links planted where the old writer put its fixed temporary name, or at the target itself, must never
// lead the write to another file.
TEST_F(AtomicFile, PlantedLinksAreNeverWrittenThrough) {
  Dir.Write("victim", "precious");
  const std::string victim = Dir.File("victim");
  const std::string target = Dir.File("key.dfm");
  ASSERT_EQ(::symlink(victim.c_str(), (target + ".tmp~").c_str()), 0);
  Classes::WriteComponentResFile(target, *KeyForm(true));
  EXPECT_EQ(Dir.Read("victim"), "precious");
  EXPECT_NE(Slurp(target).find("PrivateKey"), std::string::npos);

  // A link standing at the target is replaced by the new file; the file it named is left alone.
  const std::string linked = Dir.File("linked.dfm");
  ASSERT_EQ(::symlink(victim.c_str(), linked.c_str()), 0);
  Classes::WriteComponentResFile(linked, *KeyForm(true));
  EXPECT_EQ(Dir.Read("victim"), "precious");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(linked)));
  EXPECT_EQ(ModeOf(linked), 0600u);
}

// A private key is never created readable by others, whatever the umask or the file it replaces;
// other forms keep the mode of the file they replace.
TEST_F(AtomicFile, FormModeFollowsWhatItHolds) {
  struct Case {
    const char* name;
    bool withPrivate;
    int existingMode;  // -1: no file before
    mode_t expected;
  };
  const Case cases[] = {
      {"new private", true, -1, 0600},      {"private over 0644", true, 0644, 0600},
      {"private over 0666", true, 0666, 0600}, {"new public", false, -1, 0644},
      {"public over 0640", false, 0640, 0640}, {"public over 0604", false, 0604, 0604},
  };
  for (const Case& c : cases) {
    const std::string path = Dir.File(std::string(c.name) + ".dfm");
    if (c.existingMode >= 0) {
      Dir.Write(std::string(c.name) + ".dfm", "old");
      ASSERT_EQ(::chmod(path.c_str(), mode_t(c.existingMode)), 0);
    }
    Classes::WriteComponentResFile(path, *KeyForm(c.withPrivate));
    EXPECT_EQ(ModeOf(path), c.expected) << c.name;
    EXPECT_EQ(Slurp(path).find("PrivateKey") != std::string::npos, c.withPrivate) << c.name;
  }
}

// A write that fails or is abandoned leaves the target as it was and no temporary behind. A named
// temporary lies beside the target until then; an unnamed one (where the file system has them) is in
// no directory at all.
TEST_F(AtomicFile, FailuresLeaveTheTargetAndNoTemporary) {
  Dir.Write("out", "old content");
  const std::string target = Dir.File("out");
  for (const Sysutils::TTemporary kind : {Sysutils::TTemporary::Named, Sysutils::TTemporary::Unnamed}) {
    {
      TAtomicFile file(target, TFileAccess::Keep, kind);
      file.Write("half of the new");
      if (file.Unnamed()) {
        EXPECT_EQ(file.TempPath(), "");
        EXPECT_EQ(Dir.Entries(), std::vector<std::string>{"out"});
      } else {
        EXPECT_TRUE(fs::exists(file.TempPath()));
        EXPECT_EQ(fs::path(file.TempPath()).parent_path(), fs::path(target).parent_path());
      }
    }  // never committed
    EXPECT_EQ(Dir.Read("out"), "old content");
    EXPECT_EQ(Dir.Entries(), std::vector<std::string>{"out"});
    TAtomicFile named(target, TFileAccess::Keep, kind);
    named.Write("committed");
    named.Commit();
    EXPECT_EQ(Dir.Read("out"), "committed");
    EXPECT_EQ(Dir.Entries(), std::vector<std::string>{"out"});
    Dir.Write("out", "old content");
  }

  Sysutils::WriteFileAtomic(target, std::string("new\0content", 11), TFileAccess::Keep);
  EXPECT_EQ(Dir.Read("out"), std::string("new\0content", 11));
  EXPECT_EQ(Dir.Entries(), std::vector<std::string>{"out"});

  EXPECT_THROW(Sysutils::WriteFileAtomic(Dir.File("no/such/dir"), "x", TFileAccess::Keep), Sysutils::EFileWriteError);
  EXPECT_THROW(Classes::WriteComponentResFile(Dir.File("no/such/dir.dfm"), *KeyForm(false)), Classes::EFilerError);
  // A directory cannot be replaced by a file.
  fs::create_directory(Dir.File("sub"));
  EXPECT_THROW(Sysutils::WriteFileAtomic(Dir.File("sub"), "x", TFileAccess::Keep), Sysutils::EFileWriteError);
  EXPECT_EQ(Dir.Entries(), (std::vector<std::string>{"out", "sub"}));
}

}  // namespace
