// The envelope's text header: its fields, the text they are written as (the part the mac covers), and
// the reading of it, line by line, in the one order it is written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "envelope/KeySchedule.h"
#include "envelope/Source.h"

namespace Qarvex::Envelope {

struct RecipientPair {
  std::string Recipient;   // the fingerprint
  std::string WrappedKey;  // the field's text: the component's radix-64 (version 1) or base64 (version 2)
};

struct HeaderFields {
  int Version = FormatVersion;
  int KeyBits = 0;
  std::vector<RecipientPair> Pairs;  // version 1: exactly one
  unsigned char Salt[SaltBytes] = {};
  unsigned char Mac[MacBytes] = {};
};

// The header's text up to (not including) the "mac:" line:
//   qarvex-envelope/V, key-bits, then recipient and wrapped-key for each pair, salt, chunk-size.
std::string HeaderBody(const HeaderFields& fields);
// The whole header: the body, the mac line and the empty line.
std::string HeaderText(const HeaderFields& fields);

// The first line of the input, without its line break (and a '\r' before it), at most `limit` bytes:
// EnvelopeError "not an envelope" when it runs longer.
std::string ReadFirstLine(Source& in, std::size_t limit);
// The version named by a first line "qarvex-envelope/V"; EnvelopeError for another format or a version
// other than 1 and 2.
int VersionOf(const std::string& firstLine);
// Reads the rest of the header, up to and including its empty line, of the given version. Nothing
// after the header is consumed. EnvelopeError for a truncated, overlong or damaged header.
HeaderFields ReadHeaderFields(Source& in, int version);

}  // namespace Qarvex::Envelope
