// Writes a seed corpus for every fuzz target into DIR/<target>/: texts the component writes itself
// (radix-64 texts, key and signature texts at every size, wrapped keys and cipher texts under the
// fixture keys, a form file holding a component with its keys) and one small input per arithmetic
// routine. Usage: make_fuzz_seeds DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "host/forms/FormFile.h"
#include "host/packages/PackageResources.h"
#include "host/packages/ResourceTable.h"
#include "rsa/RSA.h"
#include "rsa/SchemeEncoding.h"
#include "rsa/StandardSchemes.h"
#include "rsa/TextFormats.h"
#ifdef QARVEX_FUZZ_FIXTURE_KEYS
#include "support/FixtureKeys.h"
#endif

namespace {

namespace fs = std::filesystem;

class TSeeds {
 public:
  TSeeds(const fs::path& root, const std::string& target) : FDir(root / target) { fs::create_directories(FDir); }
  void Add(const std::string& bytes) {
    std::ofstream(FDir / ("seed-" + std::to_string(FCount++)), std::ios::binary) << bytes;
  }
  // An input whose first byte selects the mode.
  void Add(std::uint8_t mode, const std::string& text) { Add(std::string(1, char(mode)) + text); }

 private:
  fs::path FDir;
  int FCount = 0;
};

Rsa::BigNum Number(int digits, std::uint32_t salt) {
  Rsa::BigNum x{};
  for (int i = 0; i < digits; ++i) x.Digits[i] = 0x9E3779B9u * std::uint32_t(i + 7) ^ salt;
  x.Digits[digits - 1] |= 0x80000000u;
  return x;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  Fuzz::CountingRandom random;
  Rsa::TRSA rsa(nullptr);

  TSeeds radix(root, "radix64_fuzz");
  for (const char* text : {"", "MK7X", "ME", "MK6", "MK7XN+", "++2++E", "zk", "++++", "yz", "MK7XM", "MK7X!"})
    radix.Add(text);
  std::string bytes;
  for (int i = 0; i < 40; ++i) {
    bytes += char(i * 37 + 11);
    if (i % 7 == 0) radix.Add(rsa.EncodeString(bytes).str());
  }

  TSeeds keys(root, "keytext_fuzz");
  // The sizes the key text target picks from the mode byte's low two bits.
  const Rsa::TKeyBits sizes[] = {Rsa::kb0512, Rsa::kb1024, Rsa::kb2048, Rsa::kb4096};
  for (int s = 0; s < 4; ++s) {
    rsa.SetKeyBits(sizes[s]);
    const int p = rsa.GetPrecision();
    const Rsa::BigNum e = Number(1, 0x10001), n = Number(p, 0x5a5a), d = Number(p, 0x3c3c);
    const std::string pub = (Rsa::KeyFieldText(e) + ":" + Rsa::KeyFieldText(n, p)).str();
    const std::string priv = (Rsa::KeyFieldText(n) + ":" + Rsa::KeyFieldText(d, p)).str();
    const std::string sig = Rsa::SignatureText(d, p).str();
    for (std::uint8_t state : {0x00, 0x10, 0x20, 0x70}) {
      keys.Add(std::uint8_t(s | 0 << 2 | state), pub);
      keys.Add(std::uint8_t(s | 1 << 2 | state), priv);
      keys.Add(std::uint8_t(s | 2 << 2 | state), sig);
    }
    keys.Add(std::uint8_t(s | 0x30), "++11IE:" + pub.substr(pub.find(':') + 1));
    keys.Add(std::uint8_t(s | 0x30), "kp2:" + pub.substr(pub.find(':') + 1));
    keys.Add(std::uint8_t(s | 0x34), priv + ":");
  }

  TSeeds forms(root, "formfile_fuzz");
  rsa.SetName("RSA1");
  forms.Add(Classes::WriteComponentRes(rsa));
  forms.Add("object Form1: TFuzzForm\n  object RSA1: TRSA\n    KeyBits = kb1024\n"
            "    Status = 'Idle'#13#10'next'\n    OnStatusUpdate = RSA1StatusUpdate\n  end\nend\n");

#ifdef QARVEX_FUZZ_FIXTURE_KEYS
  // The sizes the decryption target picks from the mode byte's low two bits.
  const int decryptBits[] = {512, 1024, 2048, 3072};
  for (const int bits : decryptBits) {
    Testing::LoadFixtureKey(rsa, bits);
    rsa.PutPublicKey(Testing::FixturePublicKeyText(bits));
    rsa.PutPrivateKey(Testing::FixturePrivateKeyText(bits));
    rsa.SetName("RSA" + std::to_string(bits));
    forms.Add(Classes::WriteComponentRes(rsa));
  }

  TSeeds decrypt(root, "decrypt_fuzz");
  for (int s = 0; s < 4; ++s) {
    const int bits = decryptBits[s];
    Testing::LoadFixtureKey(rsa, bits);
    unsigned char sessionKey[32];
    for (int i = 0; i < 32; ++i) sessionKey[i] = std::uint8_t(i * 13 + 1);
    for (std::uint8_t length = 0; length < 4; ++length) {
      rsa.SetSymKeyLength(Rsa::TSymKeyLength(length));
      decrypt.Add(std::uint8_t(s | length << 2 | 0x10), rsa.EncryptKey(sessionKey).str());
    }
    for (const std::string& plain : {std::string(), std::string("abc"), std::string(300, '\x7f')}) {
      System::AnsiString cipher;
      rsa.EncryptString(plain, cipher);
      decrypt.Add(std::uint8_t(s), cipher.str());
      decrypt.Add(std::uint8_t(s | 0x20), cipher.str());
    }
  }

  // PKCS #1 v1.5 signatures of the digest of one byte, as they stand and as blocks to raise to d.
  TSeeds pkcs1(root, "pkcs1_verify_fuzz");
  Testing::LoadFixtureKey(rsa, 1024);
  const Hash::THashKind signatureDigests[] = {Hash::THashKind::Sha256, Hash::THashKind::Sha384, Hash::THashKind::Sha512};
  for (std::uint8_t d = 0; d < 3; ++d) {
    const char byte = char('a' + d);
    const Hash::THashKind digest = signatureDigests[d];
    unsigned char md[Hash::MaxDigestSize], em[128];
    Hash::Digest(digest, &byte, 1, md);
    Rsa::Schemes::EncodePkcs1v15(digest, md, em, sizeof em);
    pkcs1.Add(std::uint8_t(d), std::string(1, byte) + Rsa::Pkcs1v15Sign(rsa, digest, std::string_view(&byte, 1)));
    pkcs1.Add(std::uint8_t(d | 0x04), std::string(1, byte) + std::string(reinterpret_cast<char*>(em), sizeof em));
  }
#endif

  // PSS blocks: salts for the target to encode with, and encoded blocks as they stand.
  TSeeds pss(root, "pss_verify_fuzz");
  for (std::uint8_t mode : {0x91, 0xd5, 0xa6, 0xea, 0x59, 0x15}) {
    const Hash::THashKind digest = Hash::THashKind(mode & 3), mgf1 = Hash::THashKind(mode >> 2 & 3);
    const std::size_t k = std::size_t(64) << (mode >> 4 & 3), emBits = mode & 0x40 ? 8 * k - 1 : 8 * k - 8;
    const std::size_t emBytes = (emBits + 7) / 8, hLen = Hash::DigestSize(digest);
    const std::string salt(std::min<std::size_t>(hLen, emBytes - hLen - 2), '\x5c');
    if (mode & 0x80) {
      pss.Add(mode, std::string("\0\0\0", 3) + salt);
      pss.Add(mode, std::string("\x01\0\x07", 3) + salt);
    } else {
      const unsigned char byte = 0x33;
      unsigned char md[Hash::MaxDigestSize], em[Rsa::Schemes::MaxEncodedBytes];
      Hash::Digest(digest, &byte, 1, md);
      Rsa::Schemes::EncodePss(digest, mgf1, md, reinterpret_cast<const unsigned char*>(salt.data()), salt.size(), em,
                              emBytes, emBits);
      pss.Add(mode, std::string(1, char(byte)) + std::string(reinterpret_cast<char*>(em), emBytes));
    }
  }

  // OAEP blocks before masking: 00 || seed || lHash || 00.. || 01 || message, with and without a label.
  TSeeds oaep(root, "oaep_decode_fuzz");
  for (std::uint8_t mode : {0x55, 0x65, 0x40, 0x7f, 0x50, 0x69}) {
    const Hash::THashKind digest = Hash::THashKind(mode & 3);
    const std::size_t k = std::size_t(64) << (mode >> 4 & 3), hLen = Hash::DigestSize(digest);
    if (k < 2 * hLen + 2) continue;
    for (const std::string& label : {std::string(), std::string("qarvex-envelope/2")}) {
      unsigned char lHash[Hash::MaxDigestSize];
      Hash::Digest(digest, label.data(), label.size(), lHash);
      const std::string message = "sixteen key byte";
      std::string block = std::string(1, '\0') + std::string(hLen, '\x17') +
                          std::string(reinterpret_cast<char*>(lHash), hLen);
      block += std::string(k - block.size() - message.size() - 1, '\0') + "\x01" + message;
      oaep.Add(std::string(1, char(mode)) + char(label.size()) + label + block);
    }
  }

  // The tool's readers: key files as the tool writes them and bare key texts; hex texts; PEM keys.
  TSeeds keyFiles(root, "keyfile_fuzz");
  for (const std::string& text : {Classes::WriteComponentRes(rsa), rsa.PublicKey().str() + "\n",
                                  rsa.PrivateKey().str() + "\n", std::string("not a key\n")})
    keyFiles.Add(text);
  TSeeds hex(root, "hex_fuzz");
  for (const char* text : {"\x08" "0011223344556677", "\x10" "00112233445566778899AABBCCDDEEFF",
                           "\x03" "0x1234abcd", "\x01" "000000000fffffffff", "\x05" "12xy"})
    hex.Add(text);
  TSeeds pem(root, "pem_fuzz");
  pem.Add("-----BEGIN PUBLIC KEY-----\n"
          "MFwwDQYJKoZIhvcNAQEBBQADSwAwSAJBALv+n53/D6w+bwbiYax+Sbb9yiBWDKEY\n"
          "STTgJDfKpl/WDKEhpcWoizfTNZl6F7BR1EvOhXqwYlOiKN2w7gSsGEUCAwEAAQ==\n"
          "-----END PUBLIC KEY-----\n");
  pem.Add("-----BEGIN RSA PUBLIC KEY-----\nMAgCAwEAAQIBAw==\n-----END RSA PUBLIC KEY-----\n");
  // The key library's reader of every format: the above, and the OpenSSH and JWK forms.
  TSeeds reader(root, "keyreader_fuzz");
  for (const std::string& text : {Classes::WriteComponentRes(rsa), rsa.PublicKey().str() + "\n"})
    reader.Add(text);
  reader.Add("-----BEGIN PUBLIC KEY-----\n"
             "MFwwDQYJKoZIhvcNAQEBBQADSwAwSAJBALv+n53/D6w+bwbiYax+Sbb9yiBWDKEY\n"
             "STTgJDfKpl/WDKEhpcWoizfTNZl6F7BR1EvOhXqwYlOiKN2w7gSsGEUCAwEAAQ==\n"
             "-----END PUBLIC KEY-----\n");
  reader.Add("ssh-rsa AAAAB3NzaC1yc2EAAAADAQABAAAAQQC7/p+d/w+sPm8G4mGsfkm2/cogVgyhGEk04CQ3yqZf1gyhIaXFqIs3"
             "0zWZehewUdRLzoV6sGJToijdsO4ErBhF comment\n");
  reader.Add("---- BEGIN SSH2 PUBLIC KEY ----\nComment: \"a\"\nAAAAB3NzaC1yc2EAAAADAQABAAAAQQC7/p+d/w+sPm8G4mGsfkm2/cogVgyhGEk04CQ3yqZf1gyhIaXFqIs3"
             "0zWZehewUdRLzoV6sGJToijdsO4ErBhF\n---- END SSH2 PUBLIC KEY ----\n");
  reader.Add("{\"kty\":\"RSA\",\"n\":\"u_6fnf8PrD5vBuJhrH5Jtv3KIFYMoRhJNOAkN8qmX9YMoSGlxaiLN9M1mXoXsFHUS86FerBiU6Io3bDuBKwYRQ\","
             "\"e\":\"AQAB\"}");
  reader.Add("{\"keys\":[{\"kty\":\"RSA\",\"n\":\"AQ\",\"e\":\"AQAB\",\"d\":\"AQ\"}]}");

  TSeeds arithmetic(root, "bignum_fuzz");
  for (int routine = 0; routine < 12; ++routine) {
    std::string seed{char(routine), char(routine * 3)};
    for (int i = 0; i < 48; ++i) seed += char((routine + 1) * (i + 3) * 29);
    arithmetic.Add(seed);
  }

  // Resources as the packages carry them, alone and in a resource image.
  TSeeds resources(root, "package_resources_fuzz");
  const std::string info = Sysutils::EncodePackageInfo({0, {"VCL35"}, {{"quorlin_a", 0}, {"RSA", 0}}});
  const std::string version =
      Sysutils::EncodeVersionInfo({{1, 0, 1, 1}, {1, 0, 1, 1}, {{"InternalName", "Qarvex RSA"}}});
  const std::string description = Sysutils::EncodeUtf16z("Qarvex RSA");
  Sysutils::TResourceTable table;
  table.Add(Sysutils::RT_RCDATA, "PACKAGEINFO", info);
  table.Add(Sysutils::RT_VERSION, "1", version);
  table.Add(Sysutils::RT_RCDATA, "DESCRIPTION", description);
  for (const std::string& seed : {info, version, description, table.Serialize()}) resources.Add(seed);
  return 0;
}
