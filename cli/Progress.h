// A progress line on standard error for long runs: bytes done, percent, rate and time left.
#pragma once

#include <chrono>
#include <cstdint>

namespace Qrsa {

class Progress {
 public:
  // total: the bytes expected (0 when unknown). Shown only when standard error is a terminal, quiet is
  // not set, and the run has taken longer than a second.
  Progress(std::uint64_t total, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(std::uint64_t done);
  // Clears the line, if one was shown.
  void Finish();

 private:
  std::uint64_t FTotal;
  bool FEnabled;
  bool FShown = false;
  std::chrono::steady_clock::time_point FStart, FLast;
};

}  // namespace Qrsa
