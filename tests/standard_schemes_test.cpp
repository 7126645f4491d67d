// The standard schemes against OpenSSL both ways (every scheme and digest, key sizes 1024 to 4096, the
// big sizes with a few cases), and the refusals: every byte of an encoded block altered, signatures of
// the wrong length or not below n, DigestInfo encodings that parse to the same digest, wrong labels and
// digests, salt lengths given and any, keys too small for a scheme.
#include <gtest/gtest.h>

#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "rsa/SchemeEncoding.h"
#include "rsa/StandardSchemes.h"
#include "support/FixtureKeys.h"
#include "support/OpenSslRsa.h"
#include "support/ScriptedRandom.h"
#include "support/StatusRecorder.h"

namespace {

using Hash::THashKind;
using Testing::DigestOf;
using Testing::OpenSslRsa;

constexpr THashKind Sha1 = THashKind::Sha1, Sha256 = THashKind::Sha256, Sha384 = THashKind::Sha384,
                    Sha512 = THashKind::Sha512;
constexpr THashKind SignatureDigests[] = {Sha256, Sha384, Sha512};
constexpr THashKind AllDigests[] = {Sha1, Sha256, Sha384, Sha512};

const char Message[] = "The standard schemes: any peer verifies these bytes.";

std::string Name(THashKind d) { return Hash::HashName(d); }

// One fixture key in both libraries.
struct KeyPair {
  explicit KeyPair(int bits, int which = 0) : bits(bits), openssl(bits, which) { Testing::LoadFixtureKey(rsa, bits, which); }
  int bits;
  Rsa::TRSA rsa{nullptr};
  OpenSslRsa openssl;
};

// The digests each size is tried with: all of them up to 2048 bits, one each above.
std::vector<THashKind> DigestsAt(int bits, const THashKind* all, std::size_t count) {
  if (bits <= 2048) return std::vector<THashKind>(all, all + count);
  return {all[(bits / 1024) % count]};
}

std::string Flip(std::string s, std::size_t at, unsigned char bits = 0x01) {
  s[at] = static_cast<char>(s[at] ^ bits);
  return s;
}

// ---- Interoperability ----

class Interop : public ::testing::TestWithParam<int> {};

TEST_P(Interop, Pkcs1v15BothWaysAndByteForByte) {
  KeyPair key(GetParam());
  for (THashKind d : DigestsAt(key.bits, SignatureDigests, 3)) {
    SCOPED_TRACE(Name(d));
    const std::string ours = Rsa::Pkcs1v15Sign(key.rsa, d, Message);
    ASSERT_EQ(ours.size(), std::size_t(key.bits / 8));
    EXPECT_TRUE(key.openssl.Verify(d, RSA_PKCS1_PADDING, DigestOf(d, Message), ours));
    const std::string theirs = key.openssl.Sign(d, RSA_PKCS1_PADDING, DigestOf(d, Message));
    EXPECT_TRUE(Rsa::Pkcs1v15Verify(key.rsa, d, Message, theirs));
    // The scheme is deterministic: both libraries make the same bytes.
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(Rsa::Pkcs1v15SignDigest(key.rsa, d, DigestOf(d, Message)), ours);
    EXPECT_TRUE(Rsa::Pkcs1v15VerifyDigest(key.rsa, d, DigestOf(d, Message), ours));
    EXPECT_FALSE(Rsa::Pkcs1v15Verify(key.rsa, d, "another message", ours));
  }
}

TEST_P(Interop, PssBothWaysWithGivenAndAnySaltLength) {
  KeyPair key(GetParam());
  for (THashKind d : DigestsAt(key.bits, SignatureDigests, 3)) {
    // The same MGF1 digest, then another; the default salt (the digest's length), then none.
    for (const Rsa::TPssParameters& p : {Rsa::TPssParameters{d, {}, Rsa::PssSaltDigestLength},
                                        Rsa::TPssParameters{d, Sha1, 0}}) {
      SCOPED_TRACE(Name(d) + " mgf1 " + Name(p.Mgf1Digest.value_or(d)) + " salt " + std::to_string(p.SaltLength));
      const int salt = p.SaltLength < 0 ? int(Hash::DigestSize(d)) : p.SaltLength;
      if (key.bits / 8 < int(Hash::DigestSize(d)) + salt + 2) continue;  // refused: see KeysTooSmall
      if (key.bits > 2048 && p.SaltLength == 0) continue;                  // few cases at the big sizes
      const std::string digest = DigestOf(d, Message);
      const std::string ours = Rsa::PssSign(key.rsa, p, Message);
      ASSERT_EQ(ours.size(), std::size_t(key.bits / 8));
      EXPECT_TRUE(key.openssl.Verify(d, RSA_PKCS1_PSS_PADDING, digest, ours, salt, p.Mgf1Digest));
      EXPECT_TRUE(key.openssl.Verify(d, RSA_PKCS1_PSS_PADDING, digest, ours, RSA_PSS_SALTLEN_AUTO, p.Mgf1Digest));
      const std::string theirs = key.openssl.Sign(d, RSA_PKCS1_PSS_PADDING, digest, salt, p.Mgf1Digest);
      EXPECT_TRUE(Rsa::PssVerify(key.rsa, p, Message, theirs));
      Rsa::TPssParameters any = p;
      any.SaltLength = Rsa::PssSaltAuto;
      EXPECT_TRUE(Rsa::PssVerify(key.rsa, any, Message, theirs));
      EXPECT_TRUE(Rsa::PssVerifyDigest(key.rsa, p, digest, Rsa::PssSignDigest(key.rsa, p, digest)));
      EXPECT_FALSE(Rsa::PssVerify(key.rsa, p, "another message", theirs));
    }
  }
}

TEST_P(Interop, OaepBothWaysWithLabels) {
  KeyPair key(GetParam());
  for (THashKind d : DigestsAt(key.bits, AllDigests, 4)) {
    if (key.bits / 8 < 2 * int(Hash::DigestSize(d)) + 2) continue;  // refused: see KeysTooSmall
    for (const Rsa::TOaepParameters& p : {Rsa::TOaepParameters{d, {}, ""},
                                         Rsa::TOaepParameters{d, Sha256, std::string("qarvex-envelope/2")},
                                         Rsa::TOaepParameters{d, Sha1, std::string("a \0 label", 9)}}) {
      const THashKind mgf1 = p.Mgf1Digest.value_or(d);
      SCOPED_TRACE(Name(d) + " mgf1 " + Name(mgf1) + " label of " + std::to_string(p.Label.size()));
      const std::size_t max = Rsa::OaepMaxMessage(key.rsa, p);
      ASSERT_EQ(max, std::size_t(key.bits / 8) - 2 * Hash::DigestSize(d) - 2);
      if (key.bits > 2048 && !p.Label.empty()) continue;  // few cases at the big sizes
      for (const std::string& plain : {std::string(), std::string(std::min<std::size_t>(32, max), '\x5a'), std::string(max, '\0')}) {
        if (key.bits > 2048 && plain.size() != 32) continue;
        const std::string ours = Rsa::OaepEncrypt(key.rsa, p, plain);
        ASSERT_EQ(ours.size(), std::size_t(key.bits / 8));
        EXPECT_EQ(key.openssl.OaepDecrypt(d, mgf1, p.Label, ours), plain);
        const std::string theirs = key.openssl.OaepEncrypt(d, mgf1, p.Label, plain);
        const System::TWipedString back = Rsa::OaepDecrypt(key.rsa, p, theirs);
        EXPECT_EQ(std::string(back.begin(), back.end()), plain);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(KeySizes, Interop, ::testing::Values(1024, 2048, 3072, 4096),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });

// A modulus of 8(k-1)+1 bits: PSS's encoded block is then one byte shorter than k, and OAEP and
// PKCS #1 v1.5 still fill k bytes. OpenSSL makes the key (1017 bits: k = 128).
TEST(Interop, ModulusOneBitIntoItsTopByte) {
  const OpenSslRsa openssl = OpenSslRsa::Generate(1017);
  ASSERT_EQ(openssl.Bytes(), 128u);
  Rsa::TRSA rsa(nullptr);
  openssl.LoadInto(rsa);
  const std::string digest = DigestOf(Sha256, Message);
  const Rsa::TPssParameters pss;
  EXPECT_TRUE(openssl.Verify(Sha256, RSA_PKCS1_PSS_PADDING, digest, Rsa::PssSign(rsa, pss, Message), 32));
  EXPECT_TRUE(Rsa::PssVerify(rsa, pss, Message, openssl.Sign(Sha256, RSA_PKCS1_PSS_PADDING, digest, 32)));
  EXPECT_TRUE(openssl.Verify(Sha256, RSA_PKCS1_PADDING, digest, Rsa::Pkcs1v15Sign(rsa, Sha256, Message)));
  const Rsa::TOaepParameters oaep;
  EXPECT_EQ(openssl.OaepDecrypt(Sha256, Sha256, "", Rsa::OaepEncrypt(rsa, oaep, "key")), "key");
  const System::TWipedString back = Rsa::OaepDecrypt(rsa, oaep, openssl.OaepEncrypt(Sha256, Sha256, "", "key"));
  EXPECT_EQ(std::string(back.begin(), back.end()), "key");
}

// ---- Signatures that must not verify ----

struct Forgery {
  const char* what;
  std::string em;  // the encoded block to sign raw
};

// DigestInfo encodings of the right digest that a parser might take: each must fail, since
// verification compares the whole block with the one DER encoding.
std::vector<Forgery> DigestInfoVariants(std::size_t k, THashKind d, const std::string& digest) {
  std::size_t prefixSize = 0;
  const unsigned char* prefix = Rsa::Schemes::DigestInfoPrefix(d, prefixSize);
  const std::string der(reinterpret_cast<const char*>(prefix), prefixSize);
  const std::string oid = der.substr(4, der.size() - 8);  // 06 09 <OID>, between the headers and 05 00 04 hLen
  const char h = char(digest.size());
  const auto block = [k](const std::string& t) {  // 00 01 FF.. 00 T
    return std::string("\x00\x01", 2) + std::string(k - t.size() - 3, '\xff') + std::string(1, '\0') + t;
  };
  const auto seq = [](const std::string& body) { return std::string(1, '\x30') + char(body.size()) + body; };
  const std::string algNull = seq(oid + std::string("\x05\x00", 2));
  const std::string algBare = seq(oid);
  const std::string octets = std::string(1, '\x04') + h + digest;
  std::vector<Forgery> v = {
      {"the DER encoding (control)", block(der + digest)},
      {"parameters missing (no NULL)", block(seq(algBare + octets))},
      {"outer length in long form", block(std::string("\x30\x81", 2) + char(algNull.size() + octets.size()) + algNull + octets)},
      {"outer length with a leading zero", block(std::string("\x30\x82\x00", 3) + char(algNull.size() + octets.size()) + algNull + octets)},
      {"digest length in long form", block(seq(algNull + std::string("\x04\x81", 2) + h + digest))},
      {"NULL with a long-form length", block(seq(seq(oid + std::string("\x05\x81\x00", 3)) + octets))},
      {"trailing garbage after the DigestInfo", block(der + digest + "xx")},
      {"garbage inside the sequence", block(seq(algNull + octets + std::string("\x00\x00", 2)))},
      {"block type 02", [&] { std::string b = block(der + digest); b[1] = '\x02'; return b; }()},
      {"padding bytes not FF", [&] { std::string b = block(der + digest); b[5] = '\xfe'; return b; }()},
      {"no zero after the padding", [&] { std::string b = block(der + digest); b[k - der.size() - digest.size() - 1] = '\xff'; return b; }()},
      {"leading byte not zero", [&] { std::string b = block(der + digest); b[0] = '\x01'; return b; }()},
  };
  return v;
}

TEST(Pkcs1v15Verify, RefusesEveryOtherEncodingOfTheDigest) {
  KeyPair key(1024);
  const std::size_t k = 128;
  for (THashKind d : SignatureDigests) {
    const std::string digest = DigestOf(d, Message);
    bool control = true;
    for (const Forgery& f : DigestInfoVariants(k, d, digest)) {
      SCOPED_TRACE(Name(d) + ": " + f.what);
      ASSERT_EQ(f.em.size(), k);
      const std::string signature = key.openssl.RawPrivate(f.em);
      EXPECT_EQ(Rsa::Pkcs1v15Verify(key.rsa, d, Message, signature), control);
      EXPECT_EQ(key.openssl.Verify(d, RSA_PKCS1_PADDING, digest, signature), control);  // OpenSSL agrees
      control = false;
    }
  }
}

TEST(Pkcs1v15Verify, RefusesEveryByteOfTheBlockAltered) {
  KeyPair key(1024);
  unsigned char em[128];
  Rsa::Schemes::EncodePkcs1v15(Sha256, reinterpret_cast<const unsigned char*>(DigestOf(Sha256, Message).data()), em, 128);
  const std::string block(reinterpret_cast<char*>(em), 128);
  for (std::size_t at = 0; at < block.size(); ++at)
    EXPECT_FALSE(Rsa::Pkcs1v15Verify(key.rsa, Sha256, Message, key.openssl.RawPrivate(Flip(block, at)))) << "byte " << at;
}

// Values of the signature string itself: lengths, values not below n, altered bytes.
TEST(SignatureVerify, RefusesWrongLengthsValuesAtOrAboveNAndAlteredBytes) {
  KeyPair key(1024);
  const std::string n = key.openssl.Modulus();
  const std::string pkcs1 = Rsa::Pkcs1v15Sign(key.rsa, Sha256, Message);
  const Rsa::TPssParameters pss;
  const std::string psss = Rsa::PssSign(key.rsa, pss, Message);
  // n + s, when it still fits in k bytes, is s modulo n: a parser that reduced would accept it.
  const auto plusN = [&n](const std::string& s) {
    std::string r(s.size(), '\0');
    unsigned carry = 0;
    for (std::size_t i = s.size(); i-- > 0;) {
      const unsigned t = unsigned(static_cast<unsigned char>(s[i])) + static_cast<unsigned char>(n[i]) + carry;
      r[i] = char(t & 0xff);
      carry = t >> 8;
    }
    return carry ? std::string() : r;
  };
  for (const auto& [name, signature, verify] :
       std::vector<std::tuple<std::string, std::string, std::function<bool(const std::string&)>>>{
           {"pkcs1", pkcs1, [&](const std::string& s) { return Rsa::Pkcs1v15Verify(key.rsa, Sha256, Message, s); }},
           {"pss", psss, [&](const std::string& s) { return Rsa::PssVerify(key.rsa, pss, Message, s); }}}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(verify(signature));
    for (const std::string& bad : {std::string(), signature.substr(1), signature.substr(0, 127),
                                   std::string(1, '\0') + signature, signature + std::string(1, '\0'), n,
                                   std::string(128, '\xff'), plusN(signature)})
      EXPECT_FALSE(verify(bad)) << bad.size() << " bytes";
    for (std::size_t at = 0; at < signature.size(); at += 7) EXPECT_FALSE(verify(Flip(signature, at))) << "byte " << at;
  }
}

TEST(PssVerify, RefusesEveryByteOfTheBlockAlteredAndTheTopBitSet) {
  KeyPair key(1024);
  const std::string digest = DigestOf(Sha256, Message);
  unsigned char em[128], salt[32] = {1, 2, 3};
  Rsa::Schemes::EncodePss(Sha256, Sha256, reinterpret_cast<const unsigned char*>(digest.data()), salt, 32, em, 128, 1023);
  const std::string block(reinterpret_cast<char*>(em), 128);
  const Rsa::TPssParameters pss;
  ASSERT_TRUE(Rsa::PssVerify(key.rsa, pss, Message, key.openssl.RawPrivate(block)));
  for (std::size_t at = 0; at < block.size(); ++at)
    EXPECT_FALSE(Rsa::PssVerify(key.rsa, pss, Message, key.openssl.RawPrivate(Flip(block, at)))) << "byte " << at;
  // The bit above emBits (1023 bits) must be zero even though the block is still below n.
  EXPECT_FALSE(Rsa::PssVerify(key.rsa, pss, Message, key.openssl.RawPrivate(Flip(block, 0, 0x80))));
}

TEST(PssVerify, SaltLengthGivenOrAnyAndWrongDigests) {
  KeyPair key(2048);
  const std::string digest = DigestOf(Sha256, Message);
  const std::string signature = key.openssl.Sign(Sha256, RSA_PKCS1_PSS_PADDING, digest, 20);
  struct Case {
    Rsa::TPssParameters p;
    bool valid;
  };
  for (const Case& c : {Case{{Sha256, {}, 20}, true}, Case{{Sha256, {}, Rsa::PssSaltAuto}, true},
                        Case{{Sha256, {}, Rsa::PssSaltDigestLength}, false}, Case{{Sha256, {}, 0}, false},
                        Case{{Sha256, {}, 21}, false}, Case{{Sha256, Sha384, 20}, false},
                        Case{{Sha256, Sha1, Rsa::PssSaltAuto}, false}, Case{{Sha384, Sha256, Rsa::PssSaltAuto}, false}})
    EXPECT_EQ(Rsa::PssVerify(key.rsa, c.p, Message, signature), c.valid)
        << Name(c.p.Digest) << " mgf1 " << Name(c.p.Mgf1Digest.value_or(c.p.Digest)) << " salt " << c.p.SaltLength;
  // A salt of the longest length the key allows, and none, verify as given and as any.
  const std::size_t longest = 256 - 32 - 2;
  for (int salt : {int(longest), 0}) {
    const std::string s = key.openssl.Sign(Sha256, RSA_PKCS1_PSS_PADDING, digest, salt);
    EXPECT_TRUE(Rsa::PssVerify(key.rsa, {Sha256, {}, salt}, Message, s)) << salt;
    EXPECT_TRUE(Rsa::PssVerify(key.rsa, {Sha256, {}, Rsa::PssSaltAuto}, Message, s)) << salt;
  }
  EXPECT_FALSE(Rsa::Pkcs1v15Verify(key.rsa, Sha256, Message, signature));
}

TEST(PssSign, SaltsComeFromTheGeneratorAndDiffer) {
  KeyPair key(1024);
  const Rsa::TPssParameters p;
  std::string first;
  {
    Testing::ScriptedRandom random;
    first = Rsa::PssSign(key.rsa, p, Message);
    EXPECT_EQ(random.ByteDraws, 32);
  }
  EXPECT_NE(Rsa::PssSign(key.rsa, p, Message), Rsa::PssSign(key.rsa, p, Message));
  EXPECT_TRUE(Rsa::PssVerify(key.rsa, p, Message, first));
}

// ---- OAEP cipher texts that must not decrypt ----

// Every refusal is the same exception with the same message and status, whatever was wrong.
void ExpectDecryptionError(Rsa::TRSA& rsa, const Rsa::TOaepParameters& p, const std::string& cipher,
                           const std::string& what) {
  SCOPED_TRACE(what);
  Testing::StatusRecorder recorder(rsa);
  Testing::ExpectFailure([&] { Rsa::OaepDecrypt(rsa, p, cipher); }, typeid(Sysutils::EConvertError), "Decryption error");
  EXPECT_EQ(recorder.Seen, std::vector<std::string>{"Decryption error"});
  rsa.SetOnStatusUpdate({});
}

TEST(OaepDecrypt, RefusesEveryByteOfTheBlockAlteredWithOneError) {
  KeyPair key(1024);
  const Rsa::TOaepParameters p;
  const std::string label = DigestOf(Sha256, "");
  unsigned char em[128], seed[32];
  for (int i = 0; i < 32; ++i) seed[i] = static_cast<unsigned char>(i * 11);
  const std::string message = "sixteen key byte";
  Rsa::Schemes::EncodeOaep(Sha256, Sha256, reinterpret_cast<const unsigned char*>(label.data()),
                           reinterpret_cast<const unsigned char*>(message.data()), message.size(), seed, em, 128);
  const std::string block(reinterpret_cast<char*>(em), 128);
  const System::TWipedString back = Rsa::OaepDecrypt(key.rsa, p, key.openssl.RawPublic(block));
  ASSERT_EQ(std::string(back.begin(), back.end()), message);
  for (std::size_t at = 0; at < block.size(); ++at) {
    const std::string cipher = key.openssl.RawPublic(Flip(block, at));
    ExpectDecryptionError(key.rsa, p, cipher, "byte " + std::to_string(at));
    EXPECT_EQ(key.openssl.OaepDecrypt(Sha256, Sha256, "", cipher), std::nullopt);
  }
}

// Encoded blocks whose masks are right but whose data block is not: each check of the decoding alone.
TEST(OaepDecrypt, RefusesEachFaultOfTheDataBlock) {
  KeyPair key(1024);
  const Rsa::TOaepParameters p;
  const std::size_t k = 128, h = 32, dbLen = k - h - 1;
  const std::string lHash = DigestOf(Sha256, "");
  const std::string seed(h, '\x42');
  // EM from a data block: mask it as the encoder does.
  const auto encode = [&](std::string db, char first = '\0') {
    std::string maskedSeed = seed;
    Rsa::Schemes::Mgf1Xor(Sha256, reinterpret_cast<const unsigned char*>(seed.data()), h,
                          reinterpret_cast<unsigned char*>(db.data()), dbLen);
    Rsa::Schemes::Mgf1Xor(Sha256, reinterpret_cast<const unsigned char*>(db.data()), dbLen,
                          reinterpret_cast<unsigned char*>(maskedSeed.data()), h);
    return std::string(1, first) + maskedSeed + db;
  };
  const auto db = [&](const std::string& head, const std::string& tail) {
    return head + std::string(dbLen - head.size() - tail.size(), '\0') + tail;
  };
  const System::TWipedString ok = Rsa::OaepDecrypt(key.rsa, p, key.openssl.RawPublic(encode(db(lHash, "\x01msg"))));
  EXPECT_EQ(std::string(ok.begin(), ok.end()), "msg");
  const System::TWipedString empty = Rsa::OaepDecrypt(key.rsa, p, key.openssl.RawPublic(encode(db(lHash, "\x01"))));
  EXPECT_TRUE(empty.empty());
  const System::TWipedString full =
      Rsa::OaepDecrypt(key.rsa, p, key.openssl.RawPublic(encode(lHash + "\x01" + std::string(dbLen - h - 1, 'f'))));
  EXPECT_EQ(full.size(), dbLen - h - 1);
  for (const auto& [what, em] : std::vector<std::pair<std::string, std::string>>{
           {"first byte not zero", encode(db(lHash, "\x01msg"), '\x01')},
           {"label digest altered", encode(db(Flip(lHash, 31), "\x01msg"))},
           {"no separator", encode(db(lHash, ""))},
           {"separator 02", encode(db(lHash, "\x02msg"))},
           {"padding byte not zero", encode(db(lHash + "\x07", "\x01msg"))},
           {"separator inside the label digest only", encode(db(lHash.substr(0, 31) + "\x01", ""))}})
    ExpectDecryptionError(key.rsa, p, key.openssl.RawPublic(em), what);
}

TEST(OaepDecrypt, RefusesWrongLabelDigestLengthAndRange) {
  KeyPair key(2048);
  const Rsa::TOaepParameters p{Sha256, {}, "label"};
  const std::string cipher = Rsa::OaepEncrypt(key.rsa, p, "secret");
  const std::string n = key.openssl.Modulus();
  const auto refused = [&](const char* what, const Rsa::TOaepParameters& with, const std::string& c) {
    ExpectDecryptionError(key.rsa, with, c, what);
  };
  refused("wrong label", {Sha256, {}, "Label"}, cipher);
  refused("no label", {Sha256, {}, ""}, cipher);
  refused("wrong digest", {Sha384, Sha256, "label"}, cipher);
  refused("wrong MGF1 digest", {Sha256, Sha1, "label"}, cipher);
  refused("one byte short", p, cipher.substr(1));
  refused("one byte long", p, std::string(1, '\0') + cipher);
  refused("empty", p, "");
  refused("n itself", p, n);
  refused("all ones", p, std::string(256, '\xff'));
  const System::TWipedString back = Rsa::OaepDecrypt(key.rsa, p, cipher);
  EXPECT_EQ(std::string(back.begin(), back.end()), "secret");
}

TEST(OaepEncrypt, SeedsComeFromTheGeneratorAndMessagesHaveALimit) {
  KeyPair key(1024);
  const Rsa::TOaepParameters p;
  {
    Testing::ScriptedRandom random;
    Rsa::OaepEncrypt(key.rsa, p, "x");
    EXPECT_EQ(random.ByteDraws, 32);
  }
  EXPECT_NE(Rsa::OaepEncrypt(key.rsa, p, "x"), Rsa::OaepEncrypt(key.rsa, p, "x"));
  Testing::ExpectFailure([&] { Rsa::OaepEncrypt(key.rsa, p, std::string(63, 'x')); }, typeid(Sysutils::ERangeError),
                         "Message too long for RSAES-OAEP with this key (at most 62 bytes)");
  EXPECT_EQ(key.rsa.Status().str(), "Message too long for RSAES-OAEP with this key (at most 62 bytes)");
}

// ---- Refusals of keys and parameters ----

TEST(StandardSchemes, KeysTooSmallForTheSchemeAndDigest) {
  KeyPair key(512);
  struct Case {
    const char* message;
    std::function<void()> op;
  };
  const Case cases[] = {
      {"Key too small for RSAES-OAEP with SHA-512", [&] { Rsa::OaepEncrypt(key.rsa, {Sha512, {}, ""}, "x"); }},
      {"Key too small for RSAES-OAEP with SHA-512", [&] { Rsa::OaepDecrypt(key.rsa, {Sha512, {}, ""}, std::string(64, 'x')); }},
      {"Key too small for RSAES-OAEP with SHA-256", [&] { Rsa::OaepMaxMessage(key.rsa, {Sha256, {}, ""}); }},
      {"Key too small for RSASSA-PKCS1-v1_5 with SHA-384", [&] { Rsa::Pkcs1v15Sign(key.rsa, Sha384, Message); }},
      {"Key too small for RSASSA-PKCS1-v1_5 with SHA-512", [&] { Rsa::Pkcs1v15Verify(key.rsa, Sha512, Message, ""); }},
      {"Key too small for RSASSA-PSS with SHA-256 and a 32-byte salt", [&] { Rsa::PssSign(key.rsa, {}, Message); }},
      {"Key too small for RSASSA-PSS with SHA-512", [&] { Rsa::PssVerify(key.rsa, {Sha512, {}, Rsa::PssSaltAuto}, Message, ""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Testing::ExpectFailure(c.op, typeid(Rsa::EInvalidKey), c.message);
    EXPECT_EQ(key.rsa.Status().str(), c.message);
  }
  // What does fit: OAEP with SHA-1 (64 >= 42), PKCS #1 v1.5 with SHA-256 (64 >= 62), PSS with a short salt.
  const System::TWipedString back = Rsa::OaepDecrypt(key.rsa, {Sha1, {}, ""}, Rsa::OaepEncrypt(key.rsa, {Sha1, {}, ""}, "k"));
  EXPECT_EQ(std::string(back.begin(), back.end()), "k");
  EXPECT_TRUE(Rsa::Pkcs1v15Verify(key.rsa, Sha256, Message, Rsa::Pkcs1v15Sign(key.rsa, Sha256, Message)));
  EXPECT_TRUE(Rsa::PssVerify(key.rsa, {Sha256, {}, 30}, Message, Rsa::PssSign(key.rsa, {Sha256, {}, 30}, Message)));
}

TEST(StandardSchemes, RefusesMissingKeysAndBadParameters) {
  Rsa::TRSA none(nullptr);
  none.SetKeyBits(Rsa::kb1024);
  Testing::ExpectFailure([&] { Rsa::Pkcs1v15Sign(none, Sha256, Message); }, typeid(Rsa::ENoKeyLoaded), "Private key not loaded");
  Testing::ExpectFailure([&] { Rsa::PssVerify(none, {}, Message, ""); }, typeid(Rsa::ENoKeyLoaded), "Public key not loaded");
  Testing::ExpectFailure([&] { Rsa::OaepEncrypt(none, {}, ""); }, typeid(Rsa::ENoKeyLoaded), "Public key not loaded");
  Testing::ExpectFailure([&] { Rsa::OaepDecrypt(none, {}, ""); }, typeid(Rsa::ENoKeyLoaded), "Private key not loaded");

  KeyPair key(1024);
  struct Case {
    const char* message;
    std::function<void()> op;
  };
  const Case cases[] = {
      {"SHA-1 is not accepted for signatures", [&] { Rsa::Pkcs1v15Sign(key.rsa, Sha1, Message); }},
      {"SHA-1 is not accepted for signatures", [&] { Rsa::PssVerify(key.rsa, {Sha1, {}, 20}, Message, ""); }},
      {"Digest has incorrect length", [&] { Rsa::Pkcs1v15SignDigest(key.rsa, Sha256, std::string(31, 'd')); }},
      {"Digest has incorrect length", [&] { Rsa::PssVerifyDigest(key.rsa, {Sha384, {}, 0}, std::string(32, 'd'), ""); }},
      {"Salt length not valid (any length is for verification only)",
       [&] { Rsa::PssSign(key.rsa, {Sha256, {}, Rsa::PssSaltAuto}, Message); }},
      {"Salt length not valid", [&] { Rsa::PssVerify(key.rsa, {Sha256, {}, -3}, Message, ""); }},
      {"Digest not valid", [&] { Rsa::OaepEncrypt(key.rsa, {static_cast<THashKind>(9), {}, ""}, ""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Testing::ExpectFailure(c.op, typeid(Sysutils::ERangeError), c.message);
    EXPECT_EQ(key.rsa.Status().str(), c.message);
  }
  // A salt longer than the key allows is a key too small for it.
  Testing::ExpectFailure([&] { Rsa::PssSign(key.rsa, {Sha256, {}, 95}, Message); }, typeid(Rsa::EInvalidKey),
                         "Key too small for RSASSA-PSS with SHA-256 and a 95-byte salt");
  EXPECT_TRUE(Rsa::PssVerify(key.rsa, {Sha256, {}, 94}, Message, Rsa::PssSign(key.rsa, {Sha256, {}, 94}, Message)));
}

// Success changes nothing in the component: no status, no event, no signature, no reseeding.
TEST(StandardSchemes, SuccessLeavesTheComponentAsItWas) {
  KeyPair key(1024);
  key.rsa.SetStatus("before");
  Testing::StatusRecorder recorder(key.rsa);
  Testing::ScriptedRandom random;
  const std::string s = Rsa::PssSign(key.rsa, {}, Message);
  EXPECT_TRUE(Rsa::PssVerify(key.rsa, {}, Message, s));
  EXPECT_TRUE(Rsa::Pkcs1v15Verify(key.rsa, Sha512, Message, Rsa::Pkcs1v15Sign(key.rsa, Sha512, Message)));
  EXPECT_FALSE(Rsa::Pkcs1v15Verify(key.rsa, Sha512, Message, s));
  Rsa::OaepDecrypt(key.rsa, {}, Rsa::OaepEncrypt(key.rsa, {}, "x"));
  EXPECT_TRUE(recorder.Seen.empty());
  EXPECT_EQ(key.rsa.Status().str(), "before");
  EXPECT_TRUE(key.rsa.Signature().IsEmpty());
  EXPECT_EQ(random.RandomizeCalls, 0);
}

}  // namespace
