// Fixed RSA keys for tests, so that no test has to generate a key (generation from 2048 bits up is far
// too slow for the suite). Two unrelated keys of each size: 512, 1024, 2048, 3072 and 4096 bits.
#pragma once

#include <string>

#include "rsa/RSA.h"

namespace Testing {

// One key: hexadecimal numbers, most significant digit first. n has exactly `Bits` bits; n and d both
// have the full P = Bits/32 significant 32-bit digits, so their key texts load back at that key size.
struct FixtureKey {
  int Bits;
  const char* E;
  const char* N;
  const char* D;
};

// Every size that has fixture keys, in bits: one for each key size of the component.
inline constexpr int FixtureKeySizes[] = {512, 1024, 2048, 3072, 4096};

// Key `which` (0 or 1) of the given size (512 to 4096). Raises std::invalid_argument otherwise.
const FixtureKey& GetFixtureKey(int bits, int which = 0);

// The KeyBits value for 512, 1024, 2048, 3072 or 4096 bits.
Rsa::TKeyBits KeyBitsFor(int bits);
// A BigNum from hexadecimal digits, most significant first (all 132 digits set, the unused ones zero).
Rsa::BigNum HexToBigNum(const std::string& hex);

// Sets KeyBits for the key's size and loads the key pair's numbers with SetPublicKey and SetPrivateKey
// (no texts: PublicKey and PrivateKey keep whatever they held).
void LoadFixtureKey(Rsa::TRSA& rsa, int bits, int which = 0);
// Loads only (e, n), or only (n, d); KeyBits is left alone.
void LoadFixturePublicKey(Rsa::TRSA& rsa, int bits, int which = 0);
void LoadFixturePrivateKey(Rsa::TRSA& rsa, int bits, int which = 0);

// The key texts of a fixture key as key generation writes them: field(e) ":" field(n), and
// field(n) ":" field(d). Assigning them to PublicKey and PrivateKey at the key's size loads the key.
System::AnsiString FixturePublicKeyText(int bits, int which = 0);
System::AnsiString FixturePrivateKeyText(int bits, int which = 0);

}  // namespace Testing
