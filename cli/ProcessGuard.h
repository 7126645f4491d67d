// Keeps what the tool holds in memory (private keys, passphrases, session keys, decrypted data) inside
// the process.
#pragma once

namespace Qrsa {

// Called first thing in main: no core file on a crash or SIGQUIT (RLIMIT_CORE 0), and the process is
// not dumpable (PR_SET_DUMPABLE 0), so no core either through a core pattern that ignores the limit,
// and no other process of the same user attaches with ptrace or reads its memory. Best effort: a
// system that refuses leaves the tool working as before.
void GuardProcessMemory();

}  // namespace Qrsa
