// The standard base64 alphabet (RFC 4648, with '=' padding), for wrapped keys and the armoured form.
// Neither encoding nor decoding runs in constant time: they only ever see public bytes (cipher texts).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Qarvex::Envelope::Base64 {

// The encoding of data, padded to a multiple of 4 characters.
std::string Encode(std::string_view data);
// Appends the encoding of data to text; padded when the size is not a multiple of 3.
void EncodeTo(const unsigned char* data, std::size_t size, std::string& text);

// The bytes of a canonical encoding: a multiple of 4 characters of the alphabet, '=' only as the
// last one or two, and the unused bits of the last group zero. Anything else is empty.
std::optional<std::string> Decode(std::string_view text);

// Decodes a stream of characters group by group, for text that arrives in pieces (the armour's
// lines). Push takes the characters of the alphabet and '='; Finish checks that the text ended on a
// whole group. Both return false on the first character that cannot be part of a canonical encoding.
class StreamDecoder {
 public:
  bool Push(char c, std::string& out);
  bool Push(std::string_view text, std::string& out);
  bool Finish() const { return FHave == 0; }
  bool Ended() const { return FPadded; }  // a padded group came: nothing may follow

 private:
  unsigned char FGroup[4] = {};
  int FHave = 0;
  bool FPadded = false;
};

}  // namespace Qarvex::Envelope::Base64
