// A check of a DER key structure's INTEGERs before libcrypto reads it, since libcrypto reads a
// negative INTEGER of a key as its magnitude and a zero-length one as 0. Internal to the key library.
#pragma once

#include <string>
#include <string_view>

namespace Qarvex::Keys::Internal {

// Empty when every INTEGER in der (also inside OCTET and BIT STRINGs that hold DER, as PKCS#8 and
// SubjectPublicKeyInfo wrap the key) has content and is not negative; otherwise what is wrong.
std::string BadInteger(std::string_view der);

// The DER inside a PEM block (the base64 lines after its header lines); empty when it does not decode.
std::string PemBody(const std::string& text);

}  // namespace Qarvex::Keys::Internal
