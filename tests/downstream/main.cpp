// Uses the installed headers and libraries only: loads a public key text and wraps a session key with it,
// and reads a component back from a form file.
#include <cstdio>

#include "host/forms/FormFile.h"
#include "rsa/RSA.h"

int main() {
  Classes::TComponent form(nullptr);
  auto* rsa = new Rsa::TRSA(&form);
  rsa->SetKeyBits(Rsa::kb0512);
  Rsa::BigNum seed1{}, seed2{};
  rsa->MakeKeyPair(seed1, seed2);
  Rsa::TSymKey key = {1, 2, 3, 4, 5, 6, 7, 8};
  Rsa::TSymKey back{};
  rsa->DecryptKey(rsa->EncryptKey(key), back);
  for (int i = 0; i < 8; ++i)
    if (back[i] != key[i]) return 1;
  // The component stored as a form file and read back holds the same keys.
  Rsa::TRSA* copy = Classes::ReadComponentRes<Rsa::TRSA>(Classes::WriteComponentRes(*rsa), &form);
  if (copy->PublicKey() != rsa->PublicKey() || copy->PrivateKey() != rsa->PrivateKey()) return 1;
  std::printf("downstream: TRSA %s works from the installed tree\n", rsa->GetVersion().c_str());
  return 0;
}
