// No copy of a private key text outlives its use on the heap. This program replaces the global
// operator new and delete: while a probe records, freed blocks are held back instead of released, so
// after the operation (and Burn) every block the component freed can be searched for the private
// exponent's text and bytes. Only the live key text may hold them, and Burn wipes that.
//
// Like the prime-search heap test, the replacement makes this program unsuitable for valgrind.
#include <malloc.h>
#include <string.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "host/forms/FormFile.h"
#include "rsa/RSA.h"
#include "support/FixtureKeys.h"
#include "support/ProgramRunner.h"

namespace {

constexpr std::size_t HeldCapacity = 1 << 16;
void* gHeld[HeldCapacity];
std::size_t gHeldCount = 0;
bool gRecording = false;

}  // namespace

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  if (gRecording && gHeldCount < HeldCapacity) {
    gHeld[gHeldCount++] = p;
    return;
  }
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
// The library's temporary buffers (std::stable_sort's, say) come from the non-throwing form: it must
// take the same heap, or a held block would go back to another allocator.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

// Holds back every block freed between Start and Stop (over several windows); destruction frees them.
struct FreedBlocks {
  void Start() { gRecording = true; }
  void Stop() { gRecording = false; }
  // How many held blocks contain `needle` anywhere in their usable size.
  int Containing(const std::string& needle) const {
    int found = 0;
    for (std::size_t i = 0; i < gHeldCount; ++i)
      if (memmem(gHeld[i], malloc_usable_size(gHeld[i]), needle.data(), needle.size())) ++found;
    return found;
  }
  ~FreedBlocks() {
    gRecording = false;
    for (std::size_t i = 0; i < gHeldCount; ++i) std::free(gHeld[i]);
    gHeldCount = 0;
  }
};

// The private exponent's field of a key text n:d, and the first bytes it decodes to (key field
// order: each digit's bytes most significant first).
std::string PrivateField(const System::AnsiString& text) { return text.str().substr(text.str().find(':') + 1); }

std::string LeadingBytesOfD(const Rsa::BigNum& d) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    for (int shift = 24; shift >= 0; shift -= 8) bytes += char(d.Digits[i] >> shift);
  return bytes;
}

}  // namespace

TEST(KeyTextHeap, MakeKeyPairThenBurnLeavesNoCopyOfThePrivateText) {
  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  const Rsa::BigNum seed{};
  FreedBlocks freed;
  freed.Start();
  rsa.MakeKeyPair(seed, seed);
  freed.Stop();
  const std::string field = PrivateField(rsa.PrivateKey());
  ASSERT_EQ(field.size(), 86u);
  freed.Start();
  rsa.Burn();
  freed.Stop();
  EXPECT_EQ(freed.Containing(field.substr(0, 32)), 0);
  EXPECT_EQ(freed.Containing(field.substr(field.size() - 32)), 0);
}

// The text arrives by value: that copy, the decoded field, and a text refused part-way (its second
// field decoded, then a bad character) must all be wiped.
TEST(KeyTextHeap, PutPrivateKeyThenBurnLeavesNoCopyOfTheText) {
  const System::AnsiString text = Testing::FixturePrivateKeyText(512);
  const std::string field = PrivateField(text);
  const std::string dBytes = LeadingBytesOfD(Testing::HexToBigNum(Testing::GetFixtureKey(512).D));
  for (const System::AnsiString& assigned : {text, text + "!"}) {
    SCOPED_TRACE(assigned.str().back() == '!' ? "refused text" : "loaded text");
    Rsa::TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb0512);
    {
      FreedBlocks freed;
      freed.Start();
      try {
        rsa.PutPrivateKey(assigned);
      } catch (const Sysutils::EConvertError&) {
      }
      rsa.Burn();
      freed.Stop();
      EXPECT_EQ(freed.Containing(field.substr(0, 32)), 0);
      EXPECT_EQ(freed.Containing(dBytes), 0);
    }
  }
}

// A form file that stores the private key: writing it and reading it back leave no copy of the key
// text on the heap, neither in the form text as it grows nor in the file's contents as read, apart
// from the loaded component's own, which Burn wipes.
TEST(KeyTextHeap, FormFileWriteAndReadLeaveNoCopyOfThePrivateText) {
  const System::AnsiString text = Testing::FixturePrivateKeyText(512);
  const std::string field = PrivateField(text);
  Testing::ScratchDirectory dir;
  const std::string path = dir.File("key.dfm");
  Rsa::TRSA source(nullptr);
  source.SetKeyBits(Rsa::kb0512);
  source.PutPublicKey(Testing::FixturePublicKeyText(512));
  source.PutPrivateKey(text);

  FreedBlocks freed;
  freed.Start();
  Classes::WriteComponentResFile(path, source);
  std::unique_ptr<Rsa::TRSA> loaded(Classes::ReadComponentResFile<Rsa::TRSA>(path, nullptr));
  ASSERT_EQ(loaded->PrivateKey().str(), text.str());
  loaded->Burn();
  loaded.reset();
  freed.Stop();
  EXPECT_EQ(freed.Containing(field.substr(0, 32)), 0);
  EXPECT_EQ(freed.Containing(field.substr(field.size() - 32)), 0);
}
