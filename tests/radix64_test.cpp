// Radix-64 text: the component's wire encoding of byte strings.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"

using Rsa::Radix64Decode;
using Rsa::Radix64Encode;
using Rsa::TRSA;
using System::AnsiString;

namespace {

const std::string Alphabet = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

AnsiString Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return AnsiString(s);
}

std::string Hex(const AnsiString& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 1; i <= bytes.Length(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

// The same bit grouping from an independent codec: OpenSSL's base64, its alphabet mapped onto ours
// value for value and its padding dropped.
std::string ReferenceText(const AnsiString& bytes) {
  static const std::string standard = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<unsigned char> out(4 * (bytes.Length() / 3 + 1) + 1);
  const int n = EVP_EncodeBlock(out.data(), bytes.bytes(), bytes.Length());
  std::string text;
  for (int i = 0; i < n && out[i] != '='; ++i) text += Alphabet[standard.find(char(out[i]))];
  return text;
}

// Text length for L bytes: the smallest whole number not below 4L/3.
int TextLength(int bytes) { return (4 * bytes + 2) / 3; }

}  // namespace

TEST(Radix64, KnownInputsGiveTheirTextsAndBack) {
  struct Case {
    AnsiString bytes;
    const char* text;
  };
  const Case cases[] = {
      {Bytes({}), ""},
      {Bytes({0x61, 0x62, 0x63}), "MK7X"},
      {Bytes({0x61}), "ME"},
      {Bytes({0x61, 0x62}), "MK6"},
      {Bytes({0x61, 0x62, 0x63, 0x64}), "MK7XN+"},
      {Bytes({0x00, 0x01, 0x00, 0x01}), "++2++E"},
      {Bytes({0xFF}), "zk"},
      {Bytes({0x00, 0x00, 0x00}), "++++"},
      {Bytes({0xFB}), "yk"},
      {Bytes({0x00, 0x00, 0xC3, 0x51}), "++11IE"},
  };
  TRSA rsa(nullptr);
  for (const Case& c : cases) {
    EXPECT_EQ(rsa.EncodeString(c.bytes), c.text) << Hex(c.bytes);
    EXPECT_EQ(Hex(rsa.DecodeString(c.text)), Hex(c.bytes)) << c.text;
  }
}

TEST(Radix64, BitsThatFillNoWholeByteAreDropped) {
  struct Case {
    const char* text;
    AnsiString bytes;
  };
  const Case cases[] = {
      {"MK7XM", Bytes({0x61, 0x62, 0x63})},  // a lone fifth character adds nothing
      {"M", Bytes({})},
      {"yz", Bytes({0xFB})},  // the low four bits of z lie beyond the byte
      {"yk", Bytes({0xFB})},
      {"MK7", Bytes({0x61, 0x62})},  // MK6 as written; the last two bits of 7 are dropped
      {"zzzzz", Bytes({0xFF, 0xFF, 0xFF})},
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(Radix64Decode(c.text)), Hex(c.bytes)) << c.text;
  EXPECT_EQ(Radix64Encode(Radix64Decode("yz")), "yk");
}

// Every short length, and lengths around the 64-character blocks the decoder takes whole.
TEST(Radix64, ShortAndBlockEdgeLengthsRoundTripAndMatchAnIndependentCodec) {
  std::mt19937 random(20240611);
  for (int length : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 46, 47, 48, 49, 95, 96, 97, 256}) {
    for (int trial = 0; trial < 50; ++trial) {
      std::string raw(std::size_t(length), '\0');
      for (char& c : raw) c = static_cast<char>(random() & 0xFF);
      const AnsiString bytes(raw);
      const AnsiString text = Radix64Encode(bytes);
      ASSERT_EQ(text.Length(), TextLength(length)) << Hex(bytes);
      ASSERT_EQ(text.str(), ReferenceText(bytes)) << Hex(bytes);
      ASSERT_EQ(Radix64Decode(text), bytes) << text.str();
    }
  }
}

// Each byte value at each position of a full group and of both kinds of short final group, on a
// background of 00 and of FF bytes.
TEST(Radix64, EveryByteValueSurvivesInEveryGroupPosition) {
  for (int length = 1; length <= 6; ++length) {
    for (int background : {0x00, 0xFF}) {
      for (int position = 0; position < length; ++position) {
        for (int value = 0; value < 256; ++value) {
          std::string raw(std::size_t(length), static_cast<char>(background));
          raw[std::size_t(position)] = static_cast<char>(value);
          const AnsiString bytes(raw);
          const AnsiString text = Radix64Encode(bytes);
          ASSERT_EQ(text.str(), ReferenceText(bytes)) << Hex(bytes);
          ASSERT_EQ(Radix64Decode(text), bytes) << Hex(bytes);
        }
      }
    }
  }
}

TEST(Radix64, DecodeCharAcceptsExactlyTheAlphabet) {
  for (int code = 0; code < 256; ++code) {
    const char c = static_cast<char>(code);
    const std::size_t value = Alphabet.find(c);
    if (value != std::string::npos) {
      EXPECT_EQ(Rsa::DecodeChar(c), value) << "character code " << code;
    } else {
      EXPECT_THROW(Rsa::DecodeChar(c), Sysutils::EConvertError) << "character code " << code;
    }
  }
}

TEST(Radix64, AnInvalidCharacterAnywhereRefusesTheWholeText) {
  const std::string cases[] = {
      " MK7X", "MK 7X", "MK7X ", "MK7X\n", "MK\r\n7X", "MK7X=", "ME==", "MK:7X",
      "MK7X!",  // a lone fifth character is checked although it would add nothing
      std::string("MK7\0", 4), "MK7X\x80", "\xffMK7X", "MK7X/", "MK_7X", "=",
  };
  TRSA rsa(nullptr);
  for (const std::string& text : cases) {
    try {
      rsa.DecodeString(AnsiString(text));
      ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const Sysutils::EConvertError& e) {
      EXPECT_EQ(e.Message(), "Error converting from Base64 - invalid character") << text;
    }
  }
  // A long text, decoded in blocks and a rest: a bad character at any position refuses it.
  const std::string valid = Radix64Encode(AnsiString(std::string(100, 'x'))).str();
  ASSERT_EQ(valid.size(), 134u);
  for (std::size_t position = 0; position < valid.size(); ++position) {
    for (const char bad : {'!', '\0', '='}) {
      std::string text = valid;
      text[position] = bad;
      EXPECT_THROW(Radix64Decode(text), Sysutils::EConvertError) << "position " << position;
    }
  }
}

TEST(Radix64, CodingLeavesTheComponentAlone) {
  TRSA rsa(nullptr);
  int events = 0;
  rsa.SetOnStatusUpdate([&events](System::TObject*) { ++events; });
  rsa.SetStatus("unchanged");
  rsa.EncodeString("abc");
  rsa.DecodeString("MK7X");
  EXPECT_THROW(rsa.DecodeString("MK 7X"), Sysutils::EConvertError);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(rsa.Status(), "unchanged");
}

// The sizes at the lengths where 32-bit arithmetic used to wrap (4 * length past 2^31 from 537 million
// bytes, 3 * length from 716 million characters), and beyond what a string can hold at all.
TEST(Radix64, SizesAreExactAtTheLimits) {
  struct Case {
    std::uint64_t Input, Text;
  };
  const Case encode[] = {
      {0, 0}, {1, 2}, {2, 3}, {3, 4}, {4, 6},
      {std::uint64_t(1) << 29, 715827883},                     // 2^29 bytes: 4 * 2^29 wraps an int
      {1610612733, 2147483644},                                // the most bytes whose text fits an int
      {1610612734, 2147483646},
      {1610612735, 2147483647},                                // text of exactly INT_MAX characters
      {1610612736, 2147483648},                                // one byte more: one character too many
      {INT_MAX, 2863311530},
      {UINT64_MAX - 2, UINT64_MAX},                            // saturates instead of wrapping
  };
  for (const Case& c : encode) EXPECT_EQ(Rsa::Radix64TextLength(c.Input), c.Text) << c.Input;
  EXPECT_NO_THROW(AnsiString::CheckedLength(Rsa::Radix64TextLength(1610612735)));
  EXPECT_THROW(AnsiString::CheckedLength(Rsa::Radix64TextLength(1610612736)), Sysutils::ERangeError);

  const Case decode[] = {
      {0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 3},
      {716000000, 537000000},                                  // 3 * 716 million wraps an int
      {INT_MAX, 1610612735},
      {UINT64_MAX, 13835058055282163711u},
  };
  for (const Case& c : decode) EXPECT_EQ(Rsa::Radix64ByteLength(c.Input), c.Text) << c.Input;
  // Every decodable length of text agrees with the encoder's: decoding what was encoded gives it back.
  for (const std::uint64_t n : {std::uint64_t(0), std::uint64_t(1) << 29, std::uint64_t(INT_MAX) - 1})
    EXPECT_EQ(Rsa::Radix64ByteLength(Rsa::Radix64TextLength(n)), n) << n;
}

TEST(Radix64, LongTextsRoundTrip) {
  std::string raw(1 << 20, '\0');
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<char>(i * 131 + (i >> 9));
  const AnsiString bytes(raw);
  const AnsiString text = Radix64Encode(bytes);
  EXPECT_EQ(text.Length(), TextLength(bytes.Length()));
  EXPECT_EQ(Radix64Decode(text), bytes);
}
