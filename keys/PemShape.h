// What a PEM or DER input holds before it is decoded. Internal to the key library.
#pragma once

#include <string>

namespace Qarvex::Keys::Internal {

struct PemShape {
  std::string Label;       // "RSA PRIVATE KEY", "PUBLIC KEY", ... (PEM only)
  bool Encrypted = false;  // decided by the label, the Proc-Type header or the DER structure
};

// The one PEM block's label and whether it is encrypted; KeyError naming path when the text holds
// more than one block or none.
PemShape InspectPem(const std::string& text, const std::string& path);
// Whether DER bytes are an EncryptedPrivateKeyInfo.
PemShape InspectDer(const std::string& der);

}  // namespace Qarvex::Keys::Internal
