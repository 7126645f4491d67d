// Uses the installed envelope library only: seals a text for a fresh key, armoured, and opens it again.
#include <algorithm>
#include <cstdio>
#include <string>

#include "envelope/Envelope.h"

int main() {
  Classes::TComponent form(nullptr);
  auto* key = new Rsa::TRSA(&form);
  key->SetKeyBits(Rsa::kb1024);
  Rsa::BigNum seed1{}, seed2{};
  key->MakeKeyPair(seed1, seed2);

  const std::string text = "sealed downstream";
  std::string envelope, opened;
  Qarvex::Envelope::SealOptions options;
  options.Armor = true;
  Qarvex::Envelope::EnvelopeWriter writer({key}, [&](const void* p, std::size_t n) { envelope.append(static_cast<const char*>(p), n); },
                                          options);
  writer.Write(text);
  writer.Finish();

  std::size_t at = 0;
  Qarvex::Envelope::EnvelopeReader reader(*key, [&](void* p, std::size_t n) {
    const std::size_t take = std::min(n, envelope.size() - at);
    envelope.copy(static_cast<char*>(p), take, at);
    at += take;
    return take;
  });
  char buffer[64];
  for (std::size_t got; (got = reader.Read(buffer, sizeof buffer)) != 0;) opened.append(buffer, got);
  if (opened != text || envelope.rfind(Qarvex::Envelope::ArmorBeginLine, 0) != 0) return 1;
  std::printf("downstream: an envelope for %s opens from the installed tree\n", reader.GetHeader().Recipients[0].c_str());
  return 0;
}
