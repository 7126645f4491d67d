// EME-OAEP decoding, differential against OpenSSL's. The first byte picks the digest, the MGF1 digest,
// the block length k (64 to 512 bytes) and whether the rest is the encoded block itself or a data
// block and seed that the target masks as the encoder does (so the label digest, the padding and the
// separator are the fuzzer's to get right or wrong); the second byte is the label's length, then
// come the label and the bytes. Both decoders must agree on every block: valid or not, and the
// message; ours must also leave the message area zero and the length zero on a failure.
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "rsa/SchemeEncoding.h"

namespace {

using Hash::THashKind;

const EVP_MD* OpenSslDigest(THashKind kind) {
  switch (kind) {
    case THashKind::Sha1: return EVP_sha1();
    case THashKind::Sha256: return EVP_sha256();
    case THashKind::Sha384: return EVP_sha384();
    case THashKind::Sha512: break;
  }
  return EVP_sha512();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const THashKind digest = THashKind(data[0] & 3), mgf1 = THashKind(data[0] >> 2 & 3);
  static const std::size_t lengths[] = {64, 128, 256, 512};
  const std::size_t k = lengths[data[0] >> 4 & 3];
  const bool masked = data[0] & 0x40;
  const std::size_t hLen = Hash::DigestSize(digest);
  if (k < 2 * hLen + 2) return 0;
  const std::size_t labelSize = std::min<std::size_t>(data[1], size - 2);
  const std::string label(reinterpret_cast<const char*>(data + 2), labelSize);
  std::string rest(reinterpret_cast<const char*>(data + 2 + labelSize), size - 2 - labelSize);
  rest.resize(k, '\0');
  unsigned char em[Rsa::Schemes::MaxEncodedBytes];
  std::memcpy(em, rest.data(), k);
  if (masked) {
    // em holds 00 || seed || DB: mask DB with the seed, then the seed with the masked DB.
    Rsa::Schemes::Mgf1Xor(mgf1, em + 1, hLen, em + 1 + hLen, k - hLen - 1);
    Rsa::Schemes::Mgf1Xor(mgf1, em + 1 + hLen, k - hLen - 1, em + 1, hLen);
  }

  unsigned char labelDigest[Hash::MaxDigestSize];
  Hash::Digest(digest, label.data(), label.size(), labelDigest);
  unsigned char ours[Rsa::Schemes::MaxEncodedBytes];
  std::memset(ours, 0xa5, sizeof ours);
  std::size_t oursSize = 12345;
  const std::uint32_t good = Rsa::Schemes::DecodeOaep(digest, mgf1, labelDigest, em, k, ours, oursSize);
  FUZZ_CHECK(good == 0 || good == ~std::uint32_t{0});

  unsigned char theirs[Rsa::Schemes::MaxEncodedBytes];
  const int theirsSize = RSA_padding_check_PKCS1_OAEP_mgf1(
      theirs, int(k), em, int(k), int(k), reinterpret_cast<const unsigned char*>(label.data()), int(label.size()),
      OpenSslDigest(digest), OpenSslDigest(mgf1));
  FUZZ_CHECK((good != 0) == (theirsSize >= 0));
  const std::size_t area = k - 2 * hLen - 2;
  if (good) {
    FUZZ_CHECK(oursSize == std::size_t(theirsSize));
    FUZZ_CHECK(std::memcmp(ours, theirs, oursSize) == 0);
  } else {
    FUZZ_CHECK(oursSize == 0);
    for (std::size_t i = 0; i < area; ++i) FUZZ_CHECK(ours[i] == 0);
  }
  for (std::size_t i = area; i < sizeof ours; ++i) FUZZ_CHECK(ours[i] == 0xa5);  // nothing past the area
  return 0;
}
