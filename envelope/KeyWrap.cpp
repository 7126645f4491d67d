#include "envelope/KeyWrap.h"

#include <cstring>

#include "envelope/Envelope.h"
#include "envelope/KeySchedule.h"
#include "rsa/StandardSchemes.h"

namespace Qarvex::Envelope {

namespace {

Rsa::TOaepParameters EnvelopeOaep() {
  Rsa::TOaepParameters parameters;
  parameters.Digest = Hash::THashKind::Sha256;
  parameters.Mgf1Digest = Hash::THashKind::Sha256;
  parameters.Label = std::string(OaepLabel);
  return parameters;
}

}  // namespace

std::string WrapOaep(Rsa::TRSA& recipient, const unsigned char* fileKey) {
  try {
    return Rsa::OaepEncrypt(recipient, EnvelopeOaep(),
                            std::string_view(reinterpret_cast<const char*>(fileKey), FileKeyBytes));
  } catch (const Sysutils::Exception& error) {
    throw EnvelopeError(std::string("cannot wrap the file key for this key: ") + error.Message().c_str());
  }
}

bool UnwrapOaep(Rsa::TRSA& key, std::string_view cipherText, unsigned char* fileKey) {
  try {
    const System::TWipedString plain = Rsa::OaepDecrypt(key, EnvelopeOaep(), cipherText);
    if (plain.size() != FileKeyBytes) return false;  // the length is public once decryption succeeded
    std::memcpy(fileKey, plain.data(), FileKeyBytes);
    return true;
  } catch (const Sysutils::Exception&) {
    return false;
  }
}

bool UnwrapComponent(Rsa::TRSA& key, const std::string& text, unsigned char* fileKey) {
  const Rsa::TSymKeyLength oldLength = key.SymKeyLength();
  key.SetSymKeyLength(Rsa::sk256);
  bool ok = true;
  try {
    key.DecryptKey(text, fileKey);
  } catch (const Sysutils::Exception&) {
    ok = false;
  }
  key.SetSymKeyLength(oldLength);
  return ok;
}

}  // namespace Qarvex::Envelope
