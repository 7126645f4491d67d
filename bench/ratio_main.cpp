// Runs every benchmark and ends with one line per comparison, `RATIO <name> <ours/peer>`, from the
// medians of CPU time of the repetitions (below 1 means ours is faster).
//
// Two comparisons need both libraries configured differently: `private-1024-scalar` and
// `private-2048-scalar` show what a processor without AVX-512 IFMA sees, OpenSSL with its IFMA path masked
// and ours on its scalar kernels (ADX/BMI2 where the processor has them, else portable). Both read their
// configuration from the environment (OPENSSL_ia32cap, QARVEX_KERNEL) once, when they initialise, so the
// runner starts itself again with those variables set and a flag under which the child runs these
// comparisons alone; the child's table is passed through and its RATIO lines join the others.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "BenchOperands.h"
#include "bignum/MontgomeryInternal.h"

namespace {

// Passes everything to the console and keeps each benchmark's median (or its only run).
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // The name without the run settings (min_time, repeats) that the library appends.
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") FMedians[name] = run.GetAdjustedCPUTime();
      } else if (run.repetitions <= 1) {
        FMedians[name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const std::map<std::string, double>& Medians() const { return FMedians; }

 private:
  std::map<std::string, double> FMedians;
};

struct Comparison {
  const char* name;
  const char* ours;
  const char* peer;
};

const Comparison Comparisons[] = {
    {"modexp-512", "modexp/ours/512", "modexp/openssl/512"},
    {"modexp-1024", "modexp/ours/1024", "modexp/openssl/1024"},
    {"modexp-2048", "modexp/ours/2048", "modexp/openssl/2048"},
    {"modexp-2048-gmp", "modexp/ours/2048", "modexp/gmp/2048"},
    {"decryptkey-2048", "private-op/DecryptKey/2048", "private-op/openssl-no-crt/2048"},
    {"sign-2048", "private-op/Sign/2048", "private-op/openssl-no-crt/2048"},
    {"pair-ifma-512", "pair/ifma/512", "pair/scalar/512"},
    {"pair-ifma-1024", "pair/ifma/1024", "pair/scalar/1024"},
    {"pair-ifma-1536", "pair/ifma/1536", "pair/scalar/1536"},
    {"pair-ifma-2048", "pair/ifma/2048", "pair/scalar/2048"},
    {"keygen-1024", "keygen/MakeKeyPair/1024", "keygen/openssl/1024"},
    {"keygen-2048", "keygen/MakeKeyPair/2048", "keygen/openssl/2048"},
    {"private-1024", "private/ours/1024", "private/openssl/1024"},
    {"private-2048", "private/ours/2048", "private/openssl/2048"},
    {"private-3072", "private/ours/3072", "private/openssl/3072"},
    {"private-4096", "private/ours/4096", "private/openssl/4096"},
    {"public-1024", "public/ours/1024", "public/openssl/1024"},
    {"public-2048", "public/ours/2048", "public/openssl/2048"},
    {"decryptstring-2048", "decryptstring/ours/2048", "decryptstring/openssl/2048"},
    {"encryptstring-2048", "encryptstring/ours/2048", "encryptstring/openssl/2048"},
    {"keygen-3072", "keygen/MakeKeyPair/3072", "keygen/openssl/3072"},
    {"keygen-4096", "keygen/MakeKeyPair/4096", "keygen/openssl/4096"},
    {"sha256", "sha256/ours/1024", "sha256/openssl/1024"},
    {"sha512", "sha512/ours/256", "sha512/openssl/256"},
};

// OpenSSL's capability mask with the AVX-512 IFMA bit (bit 21 of the second word, cpuid leaf 7 EBX)
// cleared.
constexpr const char* MaskedIfma = ":~0x200000";

// True when the benchmark filter given on the command line (as Google Benchmark reads it: a regular
// expression searched in the name, negated by a leading '-') selects the name.
bool FilterSelects(int argc, char** argv, const std::string& name) {
  std::string filter = ".";
  const std::string prefix = "--benchmark_filter=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) filter = argv[i] + prefix.size();
  if (filter.empty() || filter == "all") return true;
  const bool negated = filter[0] == '-';
  if (negated) filter.erase(0, 1);
  try {
    return std::regex_search(name, std::regex(filter)) != negated;
  } catch (const std::regex_error&) {
    return false;
  }
}

const std::vector<std::string> ScalarPeerUnavailable = {"RATIO private-1024-scalar n/a",
                                                        "RATIO private-2048-scalar n/a"};

// Our best scalar kernel family on this processor.
const char* ScalarKernel() {
#if QARVEX_HAVE_ADX_KERNELS
  if (Rsa::MontDetail::ProcessorHasAdx()) return "adx";
#endif
  return "portable";
}

// Runs this program again as the child described above; passes its output through and returns its
// RATIO lines.
std::vector<std::string> RunScalarPeerChild() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return ScalarPeerUnavailable;
  self[length] = 0;
  const std::string command = std::string("OPENSSL_ia32cap='") + MaskedIfma + "' QARVEX_KERNEL=" + ScalarKernel() +
                              " '" + self + "' " + Bench::ScalarPeerFlag;
  std::fflush(stdout);
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return ScalarPeerUnavailable;
  std::vector<std::string> ratios;
  char line[4096];
  while (std::fgets(line, sizeof line, child) != nullptr) {
    // The console reporter may end its last line with a colour reset just before the RATIO line.
    if (const char* ratio = std::strstr(line, "RATIO ")) {
      std::fwrite(line, 1, std::size_t(ratio - line), stdout);
      std::string text(ratio);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      ratios.push_back(text);
    } else {
      std::fputs(line, stdout);
    }
  }
  if (pclose(child) != 0 || ratios.empty()) return ScalarPeerUnavailable;
  return ratios;
}

// The child: only the masked comparison, by this process's own reporter.
int ScalarPeerMain(char* program) {
  Bench::RegisterScalarPeerBenchmarks();
  std::vector<char*> args = {program};
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string filter = "--benchmark_filter=^private-scalar/";
  args.push_back(interleave.data());
  args.push_back(filter.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& medians = reporter.Medians();
  for (const char* bits : {"1024", "2048"}) {
    const auto ours = medians.find(std::string("private-scalar/ours/") + bits);
    const auto peer = medians.find(std::string("private-scalar/openssl/") + bits);
    if (ours == medians.end() || peer == medians.end() || peer->second <= 0) {
      std::printf("RATIO private-%s-scalar n/a\n", bits);
    } else {
      std::printf("RATIO private-%s-scalar %.3f\n", bits, ours->second / peer->second);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], Bench::ScalarPeerFlag) == 0) return ScalarPeerMain(argv[0]);

  // Interleave repetitions by default: load from other processes then falls on every method alike.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // The child's table comes after this process's; its RATIO line follows this process's lines.
  std::vector<std::string> childRatios;
  if (FilterSelects(argc, argv, "private-scalar/ours/1024") || FilterSelects(argc, argv, "private-scalar/ours/2048"))
    childRatios = RunScalarPeerChild();

  const auto& medians = reporter.Medians();
  std::printf("\n");
  for (const Comparison& c : Comparisons) {
    const auto ours = medians.find(c.ours), peer = medians.find(c.peer);
    if (ours == medians.end() || peer == medians.end() || peer->second <= 0) {
      std::printf("RATIO %s n/a\n", c.name);
      continue;
    }
    std::printf("RATIO %s %.3f\n", c.name, ours->second / peer->second);
  }
  for (const std::string& ratio : childRatios) std::printf("%s\n", ratio.c_str());
  return 0;
}
