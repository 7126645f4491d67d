// Keeps what the tool holds in memory (private keys, passphrases, session keys, decrypted data) inside
// the process.
#pragma once

namespace Qrsa {

// Called first thing in main: no core file on a crash or SIGQUIT (RLIMIT_CORE 0), and the process is
// not dumpable (PR_SET_DUMPABLE 0), so no core either through a core pattern that ignores the limit,
// and no other process of the same user attaches with ptrace or reads its memory. Best effort: a
// system that refuses leaves the tool working as before.
void GuardProcessMemory();

// Keeps libcrypto's memory clean as well, before its first allocation: every block it frees is
// wiped (its PEM and base64 buffers, its copies of key numbers), and its secure heap is set up, which
// holds the private key numbers and the DER bytes of decoded PEM keys apart, locked out of swap.
void GuardLibcryptoMemory();

// Overwrites the stack below the caller, where finished calls left their locals and saved registers
// (a key text moved through vector registers, a session key in a frame), and zeroes the vector
// registers, which the exit handlers might save on the stack: called before main returns.
void WipeStackBelow();

}  // namespace Qrsa
