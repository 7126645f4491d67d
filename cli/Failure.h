// The two kinds of failure the tool reports: a usage error (exit status 2, with the command's usage
// line) and an operation that could not be carried out (exit status 3).
#pragma once

#include <stdexcept>
#include <string>

namespace Qrsa {

// The command line does not fit the command: an unknown option, a missing value, a wrong word.
class UsageError : public std::runtime_error {
 public:
  UsageError(const std::string& message, std::string usage)
      : std::runtime_error(message), FUsage(std::move(usage)) {}
  // The short usage line of the command concerned ("qrsa sign -k KEYFILE ...").
  const std::string& Usage() const { return FUsage; }

 private:
  std::string FUsage;
};

// The tool's own failures (unreadable files, inputs that do not fit the key, OpenSSL refusals).
// The component's exceptions are reported the same way.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An output the tool will not send where it would go (binary data onto a terminal): exit status 2, as
// for a usage error, but without the usage line.
class OutputRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Exit statuses.
inline constexpr int ExitOk = 0;
inline constexpr int ExitMismatch = 1;  // verify: the signature does not match
inline constexpr int ExitUsage = 2;
inline constexpr int ExitFailure = 3;

}  // namespace Qrsa
