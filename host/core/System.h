// Core host types: the byte string AnsiString and the root class TObject.
#pragma once

#include <climits>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace System {

// A length-counted string of 8-bit characters. Any byte value may occur, zero included.
// Character positions are 1-based, as the host's string routines have always counted them.
// Lengths are ints, so a string holds at most MaxLength characters: anything that would make it longer
// (construction, concatenation) raises Sysutils::ERangeError and leaves the string as it was.
class AnsiString {
 public:
  static constexpr std::uint64_t MaxLength = INT_MAX;

  // length as an int when a string can hold that many characters; raises ERangeError otherwise.
  // Every length computed elsewhere (in a type wide enough not to wrap) passes through here.
  static int CheckedLength(std::uint64_t length) {
    if (length > MaxLength) TooLong(length);
    return static_cast<int>(length);
  }

  AnsiString() = default;
  AnsiString(const char* text) : FData(Checked(std::string_view(text ? text : ""))) {}  // NOLINT: implicit, like a literal
  AnsiString(const char* bytes, int length) : FData(bytes, length > 0 ? std::size_t(length) : 0) {}
  AnsiString(const std::string& bytes) : FData(Checked(bytes)) {}  // NOLINT
  AnsiString(std::string&& bytes) : FData(std::move(Checked(bytes))) {}  // NOLINT
  AnsiString(std::string_view bytes) : FData(Checked(bytes)) {}  // NOLINT
  // A one-character string.
  explicit AnsiString(char c) : FData(1, c) {}

  int Length() const { return static_cast<int>(FData.size()); }
  bool IsEmpty() const { return FData.empty(); }
  // Resizes, keeping the leading contents; new characters are zero.
  void SetLength(int length) { FData.resize(length > 0 ? std::size_t(length) : 0); }

  // 1-based position of the first occurrence of sub, 0 when absent (or when sub is empty).
  int Pos(const AnsiString& sub) const;
  // count characters from the 1-based position start; a count of 0 or less gives the empty string.
  // The range is clipped to the string.
  AnsiString SubString(int start, int count) const;

  // 1-based character access; the index must lie in 1..Length().
  char& operator[](int index) { return FData[std::size_t(index - 1)]; }
  const char& operator[](int index) const { return FData[std::size_t(index - 1)]; }

  const char* c_str() const { return FData.c_str(); }
  char* data() { return FData.data(); }
  const char* data() const { return FData.data(); }
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(FData.data()); }
  unsigned char* bytes() { return reinterpret_cast<unsigned char*>(FData.data()); }
  const std::string& str() const { return FData; }
  operator std::string_view() const { return FData; }  // NOLINT

  AnsiString& operator+=(const AnsiString& other) {
    CheckedLength(std::uint64_t(FData.size()) + other.FData.size());
    FData += other.FData;
    return *this;
  }
  AnsiString& operator+=(char c) {
    CheckedLength(std::uint64_t(FData.size()) + 1);
    FData += c;
    return *this;
  }
  // The result is moved out of the left operand, never copied: concatenations building a key text
  // leave no stray copies of it behind.
  friend AnsiString operator+(AnsiString left, const AnsiString& right) {
    left += right;
    return left;
  }
  friend AnsiString operator+(AnsiString left, const char* right) {
    left += AnsiString(right);
    return left;
  }
  friend AnsiString operator+(const char* left, const AnsiString& right) {
    AnsiString result(left);
    result += right;
    return result;
  }

  friend bool operator==(const AnsiString&, const AnsiString&) = default;
  friend std::strong_ordering operator<=>(const AnsiString& a, const AnsiString& b) {
    return a.FData.compare(b.FData) <=> 0;
  }
  friend bool operator==(const AnsiString& a, const char* b) { return a.FData == (b ? b : ""); }

 private:
  template <class Text>
  static const Text& Checked(const Text& text) {
    CheckedLength(text.size());
    return text;
  }
  template <class Text>
  static Text& Checked(Text& text) {
    CheckedLength(text.size());
    return text;
  }
  [[noreturn]] static void TooLong(std::uint64_t length);

  std::string FData;
};

// Root of the host class hierarchy. Objects are created plainly and destroyed with Free.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // Destroys the object; calling it on a null pointer does nothing.
  static void Free(TObject* object) { delete object; }
};

// Overwrites count bytes at area with zeros, even when the area is about to be freed or go out of
// scope: the optimiser cannot remove it.
void WipeBytes(void* area, std::size_t count) noexcept;

// An allocator that wipes every block before it goes back to the heap, so a string built up from a
// secret (a key text in a form) leaves no copy behind when it grows or dies. Strings short enough to
// live inside the string object itself are not covered; key texts are far longer.
template <class T>
struct TWipingAllocator {
  using value_type = T;
  TWipingAllocator() = default;
  template <class U>
  TWipingAllocator(const TWipingAllocator<U>&) noexcept {}  // NOLINT: converting, as allocators are
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    WipeBytes(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  friend bool operator==(const TWipingAllocator&, const TWipingAllocator&) { return true; }
};

// A byte string whose storage is wiped whenever it is released.
using TWipedString = std::basic_string<char, std::char_traits<char>, TWipingAllocator<char>>;

}  // namespace System
