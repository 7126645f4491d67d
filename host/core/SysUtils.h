// Host exception classes. Every error of the component is an exception carrying an English message.
#pragma once

#include <exception>

#include "host/core/System.h"

namespace Sysutils {

class Exception : public std::exception {
 public:
  explicit Exception(const System::AnsiString& message) : FMessage(message) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const System::AnsiString& Message() const { return FMessage; }

 private:
  System::AnsiString FMessage;
};

// A text that cannot be converted (for the component: radix-64 text that does not decode).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A count or index outside the range its data allows.
class ERangeError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace Sysutils
