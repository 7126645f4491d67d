// The armoured text form on the output side: the begin line, the base64 of the envelope's bytes in
// lines of 64 characters, the end line.
#pragma once

#include <cstddef>
#include <string>

#include "envelope/Envelope.h"

namespace Qarvex::Envelope {

class ArmorSink {
 public:
  // Writes the begin line.
  explicit ArmorSink(Writer out);
  void Write(const void* data, std::size_t size);
  // The last line and the end line.
  void Finish();

 private:
  void Flush();
  Writer FOut;
  unsigned char FPending[48] = {};  // the bytes of one line
  std::size_t FHave = 0;
  std::string FText;  // lines not yet written
};

}  // namespace Qarvex::Envelope
