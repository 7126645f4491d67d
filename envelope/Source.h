// The input side of the reader: an envelope's bytes pulled from the caller's Reader through a buffer,
// and the same bytes recovered from the armoured text form.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "envelope/Base64.h"
#include "envelope/Envelope.h"

namespace Qarvex::Envelope {

// Where the envelope parser reads from.
class Source {
 public:
  virtual ~Source() = default;
  // Up to size bytes; 0 only at the end.
  virtual std::size_t Read(void* data, std::size_t size) = 0;
  // Fills data with size bytes unless the input ends first; returns how many.
  std::size_t ReadFull(void* data, std::size_t size);
};

// The caller's Reader behind a buffer of one chunk, so the header's lines are not read byte by byte
// from the caller.
class BufferedSource : public Source {
 public:
  explicit BufferedSource(Reader in) : FIn(std::move(in)), FBuffer(ChunkBytes) {}
  std::size_t Read(void* data, std::size_t size) override;
  // The next byte, or -1 at the end.
  int Get();
  // Appends the bytes up to the next line break to line and takes the break too; false when the input
  // ends first (line then holds what was left). At most `limit` bytes go to line: EnvelopeError with
  // `tooLong` beyond.
  bool GetLine(std::string& line, std::size_t limit, const char* tooLong);

 private:
  bool Fill();
  Reader FIn;
  std::vector<unsigned char> FBuffer;
  std::size_t FAt = 0, FEnd = 0;
  bool FEof = false;
};

// The envelope inside the armoured form, its begin line already read: base64 in lines (of 64
// characters as written; any length is read), then the end line; after it only white space. A
// character outside the alphabet, a group that is not canonical, or an input that ends before the end
// line raise EnvelopeError.
class ArmorSource : public Source {
 public:
  explicit ArmorSource(BufferedSource& text) : FText(text) {}
  std::size_t Read(void* data, std::size_t size) override;

 private:
  // Decodes the next line into FDecoded; false once the end line has been read.
  bool NextLine();
  BufferedSource& FText;
  Base64::StreamDecoder FDecoder;
  std::string FLine, FDecoded;
  std::size_t FAt = 0;
  bool FEnded = false;
};

}  // namespace Qarvex::Envelope
