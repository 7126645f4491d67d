#include "cli/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace Qrsa {

namespace {

void PrintSize(char* out, std::size_t size, double bytes) {
  if (bytes >= 1024.0 * 1024 * 1024)
    std::snprintf(out, size, "%.1f GiB", bytes / (1024.0 * 1024 * 1024));
  else
    std::snprintf(out, size, "%.1f MiB", bytes / (1024.0 * 1024));
}

}  // namespace

Progress::Progress(std::uint64_t total, bool quiet)
    : FTotal(total), FEnabled(!quiet && ::isatty(STDERR_FILENO)), FStart(std::chrono::steady_clock::now()), FLast(FStart) {}

Progress::~Progress() { Finish(); }

void Progress::Update(std::uint64_t done) {
  if (!FEnabled) return;
  const auto now = std::chrono::steady_clock::now();
  const double elapsed = std::chrono::duration<double>(now - FStart).count();
  if (elapsed < 1.0 || (FShown && now - FLast < std::chrono::milliseconds(200))) return;
  FLast = now;
  FShown = true;
  const double rate = double(done) / elapsed;
  char doneText[32], totalText[32], line[160];
  PrintSize(doneText, sizeof doneText, double(done));
  if (FTotal > 0 && done <= FTotal) {
    PrintSize(totalText, sizeof totalText, double(FTotal));
    const double left = rate > 0 ? double(FTotal - done) / rate : 0;
    std::snprintf(line, sizeof line, "%s of %s  %3.0f%%  %.1f MB/s  %d:%02d left", doneText, totalText,
                  100.0 * double(done) / double(FTotal), rate / 1e6, int(left) / 60, int(left) % 60);
  } else {
    std::snprintf(line, sizeof line, "%s  %.1f MB/s", doneText, rate / 1e6);
  }
  std::fprintf(stderr, "\r%s\033[K", line);
  std::fflush(stderr);
}

void Progress::Finish() {
  if (!FShown) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  FShown = false;
}

}  // namespace Qrsa
