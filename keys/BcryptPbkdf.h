// bcrypt_pbkdf: the key derivation of OpenSSH's encrypted private keys ("bcrypt" KDF). Each round
// hashes the passphrase's and the salt's SHA-512 through Blowfish's expensive key schedule
// (eksblowfish, 64 expansions), and the rounds' outputs are XORed; the output bytes are spread over
// the key so that every byte depends on every round.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Qarvex::Keys {

// Fills key[0..keyBytes) from the passphrase, the salt and the round count (at least 1; keyBytes at
// most 1024). Not constant time: Blowfish's S-box lookups are indexed by values derived from the
// passphrase, as in every bcrypt implementation; the round count and lengths alone decide the loops.
// Its buffers are wiped before it returns.
void BcryptPbkdf(std::string_view passphrase, std::string_view salt, std::uint32_t rounds, unsigned char* key,
                 std::size_t keyBytes);

}  // namespace Qarvex::Keys
