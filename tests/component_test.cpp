// The component frame: defaults, key size, status reporting, the key store as numbers, wiping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <new>
#include <vector>

#include "rsa/RSA.h"
#include "support/StatusRecorder.h"

using Rsa::BigNum;
using Rsa::TRSA;
using System::AnsiString;

namespace {

BigNum Number(std::initializer_list<Rsa::Digit> low, Rsa::Digit top = 0) {
  BigNum x{};
  unsigned i = 0;
  for (Rsa::Digit d : low) x[i++] = d;
  x[Rsa::BigNumDigits - 1] = top;
  return x;
}

bool Same(const BigNum& a, const BigNum& b) { return std::equal(a.Digits, a.Digits + Rsa::BigNumDigits, b.Digits); }

bool IsZero(const BigNum& a) {
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i)
    if (a[i]) return false;
  return true;
}

// The heap block of one string, watched as it is given back: whether its bytes were all zero then.
// Seen through the allocator, so the test never reads storage the string no longer owns.
struct WatchedBlock {
  const void* Address = nullptr;
  std::size_t Bytes = 0;
  bool Freed = false;
  bool WasZero = false;
} gWatched;

}  // namespace

// Every heap block of this program passes through here, so a watched block can be inspected as it is
// freed.
void* operator new(std::size_t bytes) {
  if (void* p = std::malloc(bytes ? bytes : 1)) return p;
  throw std::bad_alloc();
}
static void Release(void* p) {
  if (p && p == gWatched.Address) {
    const auto* b = static_cast<const unsigned char*>(p);
    gWatched.Freed = true;
    gWatched.WasZero = std::all_of(b, b + gWatched.Bytes, [](unsigned char c) { return c == 0; });
    gWatched.Address = nullptr;
  }
  std::free(p);
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }

TEST(Component, FreshComponentDefaults) {
  TRSA rsa(nullptr);
  EXPECT_EQ(rsa.KeyBits(), Rsa::kb0512);
  EXPECT_EQ(rsa.SymKeyLength(), Rsa::sk64);
  EXPECT_EQ(rsa.GetSymKeyBytes(), 8);
  EXPECT_EQ(rsa.GetPrecision(), 0) << "no key size until KeyBits is assigned";
  EXPECT_EQ(rsa.GetVersion(), "1.01");
  for (const AnsiString* text : {&rsa.PublicKey(), &rsa.PrivateKey(), &rsa.Signature(), &rsa.Status()})
    EXPECT_TRUE(text->IsEmpty());
  EXPECT_FALSE(rsa.OnStatusUpdate());
  // The three loaded flags are down: each operation that needs one says which.
  rsa.SetKeyBits(Rsa::kb0512);
  BigNum e, n;
  Testing::ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.GetPublicKey(e, n); }, "Public key not loaded");
  Testing::ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.GetPrivateKey(n, e); }, "Private key not loaded");
  const unsigned char data[4] = {1, 2, 3, 4};
  Testing::ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.Verify(data, 3, 4); }, "Public key not loaded");
}

TEST(Component, KeyBitsSetsPrecisionAndReportsEveryAssignment) {
  TRSA rsa(nullptr);
  Testing::StatusRecorder log(rsa);
  rsa.SetPublicKey(Number({3}), Number({77}));
  rsa.SetKeyBits(Rsa::kb0512);  // same value as the default: still reported
  EXPECT_EQ(rsa.GetPrecision(), 16);
  rsa.SetKeyBits(Rsa::kb2048);
  EXPECT_EQ(rsa.GetPrecision(), 64);
  rsa.SetKeyBits(Rsa::kb1024);
  EXPECT_EQ(rsa.GetPrecision(), 32);
  EXPECT_EQ(log.Seen, (std::vector<std::string>{"TRSA using 512 bit key", "TRSA using 2048 bit key",
                                                 "TRSA using 1024 bit key"}));
  BigNum e, n;
  rsa.GetPublicKey(e, n);  // a loaded key stays loaded across key-size changes
  EXPECT_TRUE(Same(n, Number({77})));

  // Every size, with the ordinal and identifier stored form files know it by.
  const struct {
    Rsa::TKeyBits bits;
    int ordinal, precision;
    const char *name, *status;
  } sizes[] = {{Rsa::kb0512, 0, 16, "kb0512", "TRSA using 512 bit key"},
               {Rsa::kb1024, 1, 32, "kb1024", "TRSA using 1024 bit key"},
               {Rsa::kb2048, 2, 64, "kb2048", "TRSA using 2048 bit key"},
               {Rsa::kb3072, 3, 96, "kb3072", "TRSA using 3072 bit key"},
               {Rsa::kb4096, 4, 128, "kb4096", "TRSA using 4096 bit key"}};
  ASSERT_EQ(std::size(Rsa::KeySizes), std::size(sizes));
  for (const auto& size : sizes) {
    rsa.SetKeyBits(size.bits);
    EXPECT_EQ(int(rsa.KeyBits()), size.ordinal);
    EXPECT_EQ(rsa.GetPrecision(), size.precision);
    EXPECT_EQ(rsa.Status(), size.status);
    EXPECT_STREQ(Rsa::KeySizes[size.ordinal].Name, size.name);
  }
  EXPECT_THROW(rsa.SetKeyBits(Rsa::TKeyBits(5)), Sysutils::ERangeError);
}

TEST(Component, SymKeyLengthAndStatusWritesFireNothing) {
  TRSA rsa(nullptr);
  Testing::StatusRecorder log(rsa);
  rsa.SetSymKeyLength(Rsa::sk256);
  rsa.SetStatus("from outside");
  EXPECT_EQ(rsa.Status(), "from outside");
  EXPECT_TRUE(log.Seen.empty());
}

TEST(Component, GettingAnUnloadedKeyZeroesOutputsReportsAndRaises) {
  TRSA rsa(nullptr);
  Testing::StatusRecorder log(rsa);
  BigNum e = Number({1, 2, 3}, 9), n = Number({4}, 9);
  try {
    rsa.GetPublicKey(e, n);
    FAIL() << "no exception";
  } catch (const Rsa::ENoKeyLoaded& x) {
    EXPECT_EQ(x.Message(), "Public key not loaded");
  }
  EXPECT_TRUE(IsZero(e));
  EXPECT_TRUE(IsZero(n));
  EXPECT_EQ(rsa.Status(), "Public key not loaded");
  BigNum d = Number({5}, 5);
  try {
    rsa.GetPrivateKey(n, d);
    FAIL() << "no exception";
  } catch (const Rsa::ENoKeyLoaded& x) {
    EXPECT_EQ(x.Message(), "Private key not loaded");
  }
  EXPECT_TRUE(IsZero(d));
  EXPECT_EQ(log.Seen, (std::vector<std::string>{"Public key not loaded", "Private key not loaded"}));
}

TEST(Component, KeyStoreSharesTheModulusAndCopiesAllDigits) {
  TRSA rsa(nullptr);
  const BigNum e = Number({65537}, 0xdead), n1 = Number({1, 2}, 0xbeef), n2 = Number({99}), d = Number({7});
  rsa.SetPublicKey(e, n1);
  BigNum e2, n;
  rsa.GetPublicKey(e2, n);
  EXPECT_TRUE(Same(e2, e));  // digits above any precision survive
  EXPECT_TRUE(Same(n, n1));
  EXPECT_TRUE(rsa.PublicKey().IsEmpty());  // setting numbers writes no text
  rsa.SetPrivateKey(n2, d);
  rsa.GetPublicKey(e2, n);
  EXPECT_TRUE(Same(n, n2));  // the private key replaced the shared modulus
  BigNum d2;
  rsa.GetPrivateKey(n, d2);
  EXPECT_TRUE(Same(d2, d));
}

TEST(Component, BurnClearsKeysTextsAndFlagsButNotStatus) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  rsa.SetPublicKey(Number({3}), Number({77}));
  rsa.SetPrivateKey(Number({77}), Number({43}));
  rsa.SetStatus("last words");
  Testing::StatusRecorder log(rsa);
  rsa.Burn();
  EXPECT_TRUE(log.Seen.empty());
  EXPECT_EQ(rsa.Status(), "last words");
  EXPECT_TRUE(rsa.PublicKey().IsEmpty());
  EXPECT_TRUE(rsa.PrivateKey().IsEmpty());
  EXPECT_TRUE(rsa.Signature().IsEmpty());
  BigNum a, b;
  EXPECT_THROW(rsa.GetPublicKey(a, b), Rsa::ENoKeyLoaded);
  EXPECT_THROW(rsa.GetPrivateKey(a, b), Rsa::ENoKeyLoaded);
}

// After Burn every operation that needs a key fails as on a component that never had one: the
// exception class and message, and the same text in Status inside the handler.
TEST(Component, EveryOperationAfterBurnReportsTheMissingKey) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  rsa.SetPublicKey(Number({3}), Number({77}));
  rsa.SetPrivateKey(Number({77}), Number({43}));
  rsa.Burn();
  BigNum a, b;
  Rsa::TSymKey key{};
  const unsigned char data[4] = {1, 2, 3, 4};
  AnsiString out;
  struct Case {
    const char* Operation;
    std::function<void()> Run;
    const char* Message;
  };
  const Case cases[] = {
      {"GetPublicKey", [&] { rsa.GetPublicKey(a, b); }, "Public key not loaded"},
      {"GetPrivateKey", [&] { rsa.GetPrivateKey(a, b); }, "Private key not loaded"},
      {"EncryptKey", [&] { rsa.EncryptKey(key); }, "Public key not loaded"},
      {"DecryptKey", [&] { rsa.DecryptKey("AAAA", key); }, "Private key not loaded"},
      {"Sign", [&] { rsa.Sign(data, 3, 4); }, "Private key not loaded"},
      {"Verify", [&] { rsa.Verify(data, 3, 4); }, "Public key not loaded"},
      {"EncryptString", [&] { rsa.EncryptString("plain", out); }, "Public key not loaded"},
      {"DecryptString", [&] { rsa.DecryptString("AAAA", out); }, "Private key not loaded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Operation);
    Testing::ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, c.Run, c.Message);
  }
}

TEST(Component, BurnStringZeroesInPlaceThenEmpties) {
  TRSA rsa(nullptr);
  {
    AnsiString s(std::string(100, 'k'));
    gWatched = {s.data(), 100};
    rsa.BurnString(s);
    EXPECT_TRUE(s.IsEmpty());
  }
  // Whenever the string gave its block back (when emptied or when destroyed), the old characters had
  // been overwritten where they stood.
  EXPECT_TRUE(gWatched.Freed);
  EXPECT_TRUE(gWatched.WasZero);
  AnsiString empty;
  rsa.BurnString(empty);
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(Component, OwnedByAFormAndCreatedByClassName) {
  Classes::TComponent form(nullptr);
  Classes::TComponent* made = Classes::CreateComponent("TRSA", &form);
  ASSERT_NE(made, nullptr);
  EXPECT_NE(dynamic_cast<TRSA*>(made), nullptr);
  EXPECT_EQ(form.ComponentCount(), 1);
  const Classes::TClassInfo* info = made->ClassInfo();
  ASSERT_NE(info, nullptr);
  std::vector<std::string> names;
  for (const auto& p : info->Properties) names.push_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"KeyBits", "PublicKey", "PrivateKey", "Signature", "Status",
                                             "SymKeyLength", "OnStatusUpdate"}));
  EXPECT_EQ(Classes::CreateComponent("TNoSuchClass", &form), nullptr);
}
