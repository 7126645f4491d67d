#include "keys/DerScan.h"

#include "keys/Base64.h"

namespace Qarvex::Keys::Internal {

namespace {

// One TLV at data[at]: its tag, content start and length; false when it runs past the end.
bool Element(std::string_view data, std::size_t at, unsigned char& tag, std::size_t& start, std::size_t& length) {
  if (data.size() - at < 2) return false;
  tag = static_cast<unsigned char>(data[at]);
  std::size_t first = static_cast<unsigned char>(data[at + 1]);
  start = at + 2;
  if (first < 0x80) {
    length = first;
  } else {
    const std::size_t count = first & 0x7f;
    if (count == 0 || count > 4 || data.size() - start < count) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(data[start + i]);
    start += count;
  }
  return length <= data.size() - start;
}

// Walks a sequence of elements filling data exactly; false when it does not (then it is no DER, and
// an OCTET or BIT STRING holding it is just bytes). `problem` gets the first bad INTEGER.
bool Walk(std::string_view data, int depth, std::string& problem) {
  if (depth > 8) return false;
  std::size_t at = 0;
  std::string found;
  while (at < data.size()) {
    unsigned char tag = 0;
    std::size_t start = 0, length = 0;
    if (!Element(data, at, tag, start, length)) return false;
    const std::string_view content = data.substr(start, length);
    if (tag == 0x02) {
      if (content.empty()) {
        if (found.empty()) found = "a zero-length INTEGER";
      } else if (static_cast<unsigned char>(content[0]) & 0x80) {
        if (found.empty()) found = "a negative INTEGER";
      }
    } else if (tag & 0x20) {
      if (!Walk(content, depth + 1, found)) return false;
    } else if (tag == 0x04) {
      std::string inner;
      if (Walk(content, depth + 1, inner) && found.empty()) found = inner;
    } else if (tag == 0x03 && !content.empty() && content[0] == 0) {
      std::string inner;
      if (Walk(content.substr(1), depth + 1, inner) && found.empty()) found = inner;
    }
    at = start + length;
  }
  if (problem.empty()) problem = found;
  return true;
}

}  // namespace

std::string BadInteger(std::string_view der) {
  std::string problem;
  Walk(der, 0, problem);
  return problem;
}

std::string PemBody(const std::string& text) {
  const auto begin = text.find("-----BEGIN");
  if (begin == std::string::npos) return "";
  auto at = text.find('\n', begin);
  const auto end = text.find("-----END", begin);
  if (at == std::string::npos || end == std::string::npos || at > end) return "";
  std::string base64;
  for (++at; at < end;) {
    auto next = text.find('\n', at);
    if (next == std::string::npos || next > end) next = end;
    const std::string line = text.substr(at, next - at);
    if (line.find(':') == std::string::npos) base64 += line;
    at = next + 1;
  }
  auto der = Base64Decode(base64, true);
  return der ? *der : "";
}

}  // namespace Qarvex::Keys::Internal
