// Read access to TRSA's private key store, for tests that check the exact state an operation leaves
// behind (slots that no public accessor shows while their key is not loaded).
//
// Access checks do not apply to the template arguments of an explicit instantiation, so instantiating
// KeyStoreProbe with a pointer to a private member defines a friend function that hands that pointer
// out. An explicit instantiation may appear once per program: include this header in one source file
// of a test executable only (never from tests/support/*.cpp, which every test links).
#pragma once

#include "rsa/RSA.h"

namespace Testing {

template <class Tag, typename Tag::Type Member>
struct KeyStoreProbe {
  friend typename Tag::Type MemberOf(Tag) { return Member; }
};

struct PubExpSlot { using Type = Rsa::BigNum Rsa::TRSA::*; friend Type MemberOf(PubExpSlot); };
struct ModulusSlot { using Type = Rsa::BigNum Rsa::TRSA::*; friend Type MemberOf(ModulusSlot); };
struct PrivExpSlot { using Type = Rsa::BigNum Rsa::TRSA::*; friend Type MemberOf(PrivExpSlot); };
struct SigValueSlot { using Type = Rsa::BigNum Rsa::TRSA::*; friend Type MemberOf(SigValueSlot); };
struct PublicLoadedFlag { using Type = bool Rsa::TRSA::*; friend Type MemberOf(PublicLoadedFlag); };
struct PrivateLoadedFlag { using Type = bool Rsa::TRSA::*; friend Type MemberOf(PrivateLoadedFlag); };
struct SignatureLoadedFlag { using Type = bool Rsa::TRSA::*; friend Type MemberOf(SignatureLoadedFlag); };

template struct KeyStoreProbe<PubExpSlot, &Rsa::TRSA::FPubExp>;
template struct KeyStoreProbe<ModulusSlot, &Rsa::TRSA::FModulus>;
template struct KeyStoreProbe<PrivExpSlot, &Rsa::TRSA::FPrivExp>;
template struct KeyStoreProbe<SigValueSlot, &Rsa::TRSA::FSigValue>;
template struct KeyStoreProbe<PublicLoadedFlag, &Rsa::TRSA::FPublicLoaded>;
template struct KeyStoreProbe<PrivateLoadedFlag, &Rsa::TRSA::FPrivateLoaded>;
template struct KeyStoreProbe<SignatureLoadedFlag, &Rsa::TRSA::FSignatureLoaded>;

inline const Rsa::BigNum& PubExpOf(const Rsa::TRSA& rsa) { return rsa.*MemberOf(PubExpSlot{}); }
inline const Rsa::BigNum& ModulusOf(const Rsa::TRSA& rsa) { return rsa.*MemberOf(ModulusSlot{}); }
inline const Rsa::BigNum& PrivExpOf(const Rsa::TRSA& rsa) { return rsa.*MemberOf(PrivExpSlot{}); }
inline const Rsa::BigNum& SigValueOf(const Rsa::TRSA& rsa) { return rsa.*MemberOf(SigValueSlot{}); }
inline bool PublicLoaded(const Rsa::TRSA& rsa) { return rsa.*MemberOf(PublicLoadedFlag{}); }
inline bool PrivateLoaded(const Rsa::TRSA& rsa) { return rsa.*MemberOf(PrivateLoadedFlag{}); }
inline bool SignatureLoaded(const Rsa::TRSA& rsa) { return rsa.*MemberOf(SignatureLoadedFlag{}); }

}  // namespace Testing
