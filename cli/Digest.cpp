#include "cli/Digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/Failure.h"
#include "cli/Io.h"

namespace Qrsa {

namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// The DER prefix of each DigestInfo: SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING (digest) }.
std::string Prefix(DigestKind kind) {
  switch (kind) {
    case DigestKind::Sha256:
      return std::string("\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20", 19);
    case DigestKind::Sha384:
      return std::string("\x30\x41\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02\x05\x00\x04\x30", 19);
    case DigestKind::Sha512:
      return std::string("\x30\x51\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03\x05\x00\x04\x40", 19);
  }
  return {};
}

const EVP_MD* Algorithm(DigestKind kind) {
  switch (kind) {
    case DigestKind::Sha256: return EVP_sha256();
    case DigestKind::Sha384: return EVP_sha384();
    case DigestKind::Sha512: return EVP_sha512();
  }
  return nullptr;
}

}  // namespace

DigestKind ParseDigest(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "sha256") return DigestKind::Sha256;
  if (lower == "sha384") return DigestKind::Sha384;
  if (lower == "sha512") return DigestKind::Sha512;
  throw Failure("the digest must be sha256, sha384 or sha512, not '" + name + "'");
}

std::string DigestInfo(DigestKind kind, const std::string& path) {
  const bool standard = IsStandardStream(path);
  const int fd = standard ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure("cannot open " + path + ": " + std::strerror(errno));
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), Algorithm(kind), nullptr) != 1) {
    if (!standard) ::close(fd);
    throw Failure("the digest is not available");
  }
  std::string buffer(1 << 16, '\0');
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const std::string reason = std::strerror(errno);
      if (!standard) ::close(fd);
      throw Failure("cannot read " + (standard ? std::string("standard input") : path) + ": " + reason);
    }
    EVP_DigestUpdate(ctx.get(), buffer.data(), std::size_t(got));
  }
  if (!standard) ::close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) throw Failure("the digest failed");
  return Prefix(kind) + std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace Qrsa
