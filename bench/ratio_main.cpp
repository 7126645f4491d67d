// Runs every benchmark and ends with one line per comparison, `RATIO <name> <ours/peer>`, from the
// medians of CPU time of the repetitions (below 1 means ours is faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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
};

}  // namespace

int main(int argc, char** argv) {
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
  return 0;
}
