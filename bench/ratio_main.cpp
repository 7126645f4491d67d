// Runs every benchmark and ends with two lines per comparison:
//   RATIO <name> <ours/peer>
//   SPREAD <name> <p10> <p90>
// Each comparison is measured in rounds (at least five): one repetition of ours, then one of the peer,
// then ours again, and so on, so that a spell of load from elsewhere on the machine falls on both sides
// of the same round. RATIO is the median of the per-round ratios of CPU time (below 1 means ours is
// faster), SPREAD their 10th and 90th percentiles, so that a reader sees how far one run can be trusted.
// The benchmarks of a comparison are registered without repetitions of their own: this runner makes the
// rounds (one that asks for its own repetitions is taken at its median in each round, at that cost).
// Benchmarks outside every comparison run first, once each, as registered.
//
// Some comparisons need both libraries configured differently, and both read their configuration from
// the environment (OPENSSL_ia32cap, QARVEX_KERNEL) once, when they initialise. For those the runner
// starts itself again with the variables set and a flag under which the child registers and runs those
// comparisons alone, by the same rounds; the child's table is passed through and its lines join the
// others:
// - `private-1024-scalar`, `private-2048-scalar`: what a processor without AVX-512 IFMA sees, OpenSSL
//   with its IFMA path masked and ours on its scalar kernels (ADX/BMI2 where the processor has them);
// - `private-2048-portable`, `modexp-2048-portable`: a processor without ADX and BMI2, OpenSSL with
//   ADX, BMI2, AVX2 and IFMA masked and ours on the portable kernels.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "BenchOperands.h"
#include "bignum/MontgomeryInternal.h"

namespace {

struct Comparison {
  const char* name;
  const char* ours;
  const char* peer;
  int rounds;
};

constexpr int MinRounds = 5;

const std::vector<Comparison> Comparisons = {
    {"modexp-512", "modexp/ours/512", "modexp/openssl/512", 9},
    {"modexp-1024", "modexp/ours/1024", "modexp/openssl/1024", 9},
    {"modexp-2048", "modexp/ours/2048", "modexp/openssl/2048", 9},
    {"modexp-2048-gmp", "modexp/ours/2048", "modexp/gmp/2048", 9},
    {"decryptkey-2048", "private-op/DecryptKey/2048", "private-op/openssl-no-crt/2048", 7},
    {"sign-2048", "private-op/Sign/2048", "private-op/openssl-no-crt/2048", 7},
    {"pair-ifma-512", "pair/ifma/512", "pair/scalar/512", 7},
    {"pair-ifma-1024", "pair/ifma/1024", "pair/scalar/1024", 7},
    {"pair-ifma-1536", "pair/ifma/1536", "pair/scalar/1536", 7},
    {"pair-ifma-2048", "pair/ifma/2048", "pair/scalar/2048", 7},
    {"keygen-1024", "keygen/MakeKeyPair/1024", "keygen/openssl/1024", 21},
    {"keygen-2048", "keygen/MakeKeyPair/2048", "keygen/openssl/2048", 15},
    {"private-1024", "private/ours/1024", "private/openssl/1024", 7},
    {"private-2048", "private/ours/2048", "private/openssl/2048", 7},
    {"private-3072", "private/ours/3072", "private/openssl/3072", 7},
    {"private-4096", "private/ours/4096", "private/openssl/4096", 7},
    {"public-1024", "public/ours/1024", "public/openssl/1024", 7},
    {"public-2048", "public/ours/2048", "public/openssl/2048", 7},
    {"decryptstring-2048", "decryptstring/ours/2048", "decryptstring/openssl/2048", 5},
    {"encryptstring-2048", "encryptstring/ours/2048", "encryptstring/openssl/2048", 5},
    {"keygen-3072", "keygen/MakeKeyPair/3072", "keygen/openssl/3072", 15},
    {"keygen-4096", "keygen/MakeKeyPair/4096", "keygen/openssl/4096", 15},
    {"sha256", "sha256/ours/1024", "sha256/openssl/1024", 5},
    {"sha512", "sha512/ours/256", "sha512/openssl/256", 5},
};

// A configuration that needs its own process: the flag that selects it, the environment it runs under,
// the benchmarks it registers and the comparisons it reports.
struct ChildRun {
  const char* flag;
  std::string (*environment)();
  void (*registerBenchmarks)();
  std::vector<Comparison> comparisons;
};

// Our best scalar kernel family on this processor.
const char* ScalarKernel() {
#if QARVEX_HAVE_ADX_KERNELS
  if (Rsa::MontDetail::ProcessorHasAdx()) return "adx";
#endif
  return "portable";
}

// OpenSSL's capability masks (`:~` clears bits of the second word, cpuid leaf 7 EBX): AVX-512 IFMA is
// bit 21; ADX 19, BMI2 8 and AVX2 5.
std::string ScalarEnvironment() { return std::string("OPENSSL_ia32cap=':~0x200000' QARVEX_KERNEL=") + ScalarKernel(); }
std::string PortableEnvironment() { return "OPENSSL_ia32cap=':~0x280120' QARVEX_KERNEL=portable"; }

void RegisterPortable() {
  Bench::RegisterPortablePrivateBenchmarks();
  Bench::RegisterPortableModExpBenchmarks();
}

const std::vector<ChildRun> Children = {
    {"--qarvex-child=scalar", &ScalarEnvironment, &Bench::RegisterScalarPeerBenchmarks,
     {{"private-1024-scalar", "private-scalar/ours/1024", "private-scalar/openssl/1024", 7},
      {"private-2048-scalar", "private-scalar/ours/2048", "private-scalar/openssl/2048", 7}}},
    {"--qarvex-child=portable", &PortableEnvironment, &RegisterPortable,
     {{"private-2048-portable", "private-portable/ours/2048", "private-portable/openssl/2048", 7},
      {"modexp-2048-portable", "modexp-portable/ours/2048", "modexp-portable/openssl/2048", 7}}},
};

// Passes everything to the console, the context and header once for all the runner's calls, and keeps
// each benchmark's value from the latest call: its CPU time, or its median when it asked for repetitions.
class RoundReporter : public benchmark::ConsoleReporter {
 public:
  bool ReportContext(const Context& context) override {
    if (!FContextShown) {
      FContextShown = true;
      return ConsoleReporter::ReportContext(context);
    }
    name_field_width_ = std::max(name_field_width_, context.name_field_width);
    return true;
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // The name without the run settings (min_time, iterations) that the library appends.
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") FLatest[name] = run.GetAdjustedCPUTime();
      } else if (run.repetitions <= 1) {
        FLatest[name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Forget() { FLatest.clear(); }
  const std::map<std::string, double>& Latest() const { return FLatest; }

 private:
  bool FContextShown = false;
  std::map<std::string, double> FLatest;
};

// A regular expression (POSIX extended, as the library reads filters) that matches text literally.
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::strchr(".[]{}()\\*+?^$|", c) != nullptr) out += '\\';
    out += c;
  }
  return out;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += '\'';
  return out;
}

std::string SelfPath() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  self[length] = 0;
  return self;
}

// The name as the runner's tables give it: the instance name without the settings segments
// ("min_time:0.100", "iterations:1", ...) that the library appends.
std::string BaseName(const std::string& instance) {
  std::string base;
  std::size_t at = 0;
  while (at <= instance.size()) {
    std::size_t end = instance.find('/', at);
    if (end == std::string::npos) end = instance.size();
    const std::string segment = instance.substr(at, end - at);
    if (segment.find(':') == std::string::npos) {
      if (!base.empty()) base += '/';
      base += segment;
    }
    at = end + 1;
  }
  return base;
}

// The full names of the registered benchmarks that the filter selects, as the library lists them (in a
// child process: the listing flag cannot be unset once read). Empty when the listing fails.
std::vector<std::string> ListSelected(const std::string& childFlag, const std::string& filter) {
  const std::string self = SelfPath();
  if (self.empty()) return {};
  std::string command = ShellQuoted(self) + (childFlag.empty() ? "" : " " + childFlag) +
                        " --benchmark_list_tests=true --benchmark_filter=" + ShellQuoted(filter);
  std::fflush(stdout);
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return {};
  std::vector<std::string> names;
  char line[4096];
  while (std::fgets(line, sizeof line, child) != nullptr) {
    std::string name(line);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    if (!name.empty()) names.push_back(name);
  }
  pclose(child);
  return names;
}

// The q-th quantile (0..1) of sorted values, interpolated between neighbours.
double Quantile(const std::vector<double>& sorted, double q) {
  const double at = q * double(sorted.size() - 1);
  const std::size_t low = std::size_t(std::floor(at));
  const std::size_t high = std::min(low + 1, sorted.size() - 1);
  return sorted[low] + (sorted[high] - sorted[low]) * (at - double(low));
}

void PrintRatio(std::vector<std::string>& lines, const char* name, std::vector<double> ratios) {
  char text[256];
  if (ratios.empty()) {
    std::snprintf(text, sizeof text, "RATIO %s n/a", name);
    lines.emplace_back(text);
    std::snprintf(text, sizeof text, "SPREAD %s n/a n/a", name);
    lines.emplace_back(text);
    return;
  }
  std::sort(ratios.begin(), ratios.end());
  std::snprintf(text, sizeof text, "RATIO %s %.3f", name, Quantile(ratios, 0.5));
  lines.emplace_back(text);
  std::snprintf(text, sizeof text, "SPREAD %s %.3f %.3f", name, Quantile(ratios, 0.1), Quantile(ratios, 0.9));
  lines.emplace_back(text);
}

// Runs the selected benchmarks of this process: those outside the comparisons once (in the parent only:
// a child runs its own comparisons alone), then each group of
// comparisons that share a benchmark in rounds, each round running every benchmark of the group once in
// the order of the table. Returns the RATIO and SPREAD lines of the comparisons, in the table's order.
std::vector<std::string> RunAll(const std::string& childFlag, const std::vector<Comparison>& comparisons,
                                const std::string& filter) {
  const std::vector<std::string> listed = ListSelected(childFlag, filter);
  std::set<std::string> selected;
  for (const std::string& name : listed) selected.insert(BaseName(name));
  std::set<std::string> compared;
  // A benchmark whose comparison's other side the filter leaves out runs once, as the others.
  for (const Comparison& c : comparisons)
    if (selected.count(c.ours) != 0 && selected.count(c.peer) != 0) compared.insert(c.ours), compared.insert(c.peer);

  RoundReporter reporter;
  std::string others;
  for (const std::string& name : listed)
    if (compared.count(BaseName(name)) == 0) {
      if (!others.empty()) others += '|';
      others += Literal(name);
    }
  if (!others.empty() && childFlag.empty()) benchmark::RunSpecifiedBenchmarks(&reporter, "^(" + others + ")$");

  // Groups: comparisons joined by a shared benchmark, in the order their first member appears.
  std::vector<int> group(comparisons.size(), -1);
  int groups = 0;
  for (std::size_t i = 0; i < comparisons.size(); ++i) {
    if (group[i] >= 0) continue;
    group[i] = groups;
    std::set<std::string> members = {comparisons[i].ours, comparisons[i].peer};
    for (bool grew = true; grew;) {
      grew = false;
      for (std::size_t j = i + 1; j < comparisons.size(); ++j) {
        if (group[j] >= 0 || (members.count(comparisons[j].ours) == 0 && members.count(comparisons[j].peer) == 0))
          continue;
        group[j] = groups;
        members.insert(comparisons[j].ours), members.insert(comparisons[j].peer);
        grew = true;
      }
    }
    ++groups;
  }

  std::vector<std::vector<double>> ratios(comparisons.size());
  for (int g = 0; g < groups; ++g) {
    std::vector<std::string> order;
    int rounds = MinRounds;
    for (std::size_t i = 0; i < comparisons.size(); ++i) {
      const Comparison& c = comparisons[i];
      if (group[i] != g || selected.count(c.ours) == 0 || selected.count(c.peer) == 0) continue;
      for (const char* name : {c.ours, c.peer})
        if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
      rounds = std::max(rounds, c.rounds);
    }
    for (int round = 0; round < rounds && !order.empty(); ++round) {
      reporter.Forget();
      for (const std::string& name : order) {
        std::string spec = "^";
        spec += Literal(name);
        spec += "(/|$)";
        benchmark::RunSpecifiedBenchmarks(&reporter, spec);
      }
      const auto& latest = reporter.Latest();
      for (std::size_t i = 0; i < comparisons.size(); ++i) {
        if (group[i] != g) continue;
        const auto ours = latest.find(comparisons[i].ours), peer = latest.find(comparisons[i].peer);
        if (ours != latest.end() && peer != latest.end() && peer->second > 0)
          ratios[i].push_back(ours->second / peer->second);
      }
    }
  }

  std::vector<std::string> lines;
  for (std::size_t i = 0; i < comparisons.size(); ++i)
    if (selected.count(comparisons[i].ours) != 0 && selected.count(comparisons[i].peer) != 0)
      PrintRatio(lines, comparisons[i].name, ratios[i]);
  return lines;
}

// True when the benchmark filter (as Google Benchmark reads it: a regular expression searched in the
// name, negated by a leading '-') selects the name.
bool FilterSelects(std::string filter, const std::string& name) {
  if (filter.empty() || filter == "all") return true;
  const bool negated = filter[0] == '-';
  if (negated) filter.erase(0, 1);
  try {
    return std::regex_search(name, std::regex(filter, std::regex::extended)) != negated;
  } catch (const std::regex_error&) {
    return false;
  }
}

// Runs a child configuration when the filter selects any of its comparisons; passes its table through
// and returns its RATIO and SPREAD lines (n/a lines when the child fails).
std::vector<std::string> RunChild(const ChildRun& run, const std::string& filter) {
  std::vector<std::string> unavailable;
  bool wanted = false;
  for (const Comparison& c : run.comparisons) {
    if (!FilterSelects(filter, c.ours) || !FilterSelects(filter, c.peer)) continue;
    wanted = true;
    PrintRatio(unavailable, c.name, {});
  }
  if (!wanted) return {};
  const std::string self = SelfPath();
  if (self.empty()) return unavailable;
  const std::string command =
      run.environment() + " " + ShellQuoted(self) + " " + run.flag + " --benchmark_filter=" + ShellQuoted(filter);
  std::fflush(stdout);
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return unavailable;
  std::vector<std::string> lines;
  char line[4096];
  while (std::fgets(line, sizeof line, child) != nullptr) {
    // The console reporter may end its last line with a colour reset just before the first result line.
    const char* result = std::strstr(line, "RATIO ");
    if (result == nullptr) result = std::strstr(line, "SPREAD ");
    if (result != nullptr) {
      std::fwrite(line, 1, std::size_t(result - line), stdout);
      std::string text(result);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      lines.push_back(text);
    } else {
      std::fputs(line, stdout);
    }
  }
  if (pclose(child) != 0 || lines.empty()) return unavailable;
  return lines;
}

bool HasFlag(int argc, char** argv, const char* prefix) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const ChildRun* child = nullptr;
  std::vector<char*> args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const auto found = std::find_if(Children.begin(), Children.end(),
                                    [&](const ChildRun& run) { return std::strcmp(argv[i], run.flag) == 0; });
    if (found != Children.end())
      child = &*found;
    else
      args.push_back(argv[i]);
  }
  if (child != nullptr) child->registerBenchmarks();
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  // A listing (the runner's own, or asked for) lists and stops.
  if (HasFlag(argc, argv, "--benchmark_list_tests")) {
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  }

  const std::string filter = benchmark::GetBenchmarkFilter();
  std::vector<std::string> lines = RunAll(child ? child->flag : "", child ? child->comparisons : Comparisons, filter);
  // The children's tables come after this process's; their lines follow this process's lines.
  if (child == nullptr)
    for (const ChildRun& run : Children)
      for (std::string& line : RunChild(run, filter)) lines.push_back(std::move(line));
  benchmark::Shutdown();

  std::printf("\n");
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  return 0;
}
