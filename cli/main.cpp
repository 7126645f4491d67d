// qrsa: the TRSA component on the command line.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/Failure.h"
#include "host/core/SysUtils.h"

namespace {

const char* const kShortUsage = "usage: qrsa COMMAND [OPTIONS]   (qrsa help lists the commands)";

void PrintHelp() {
  std::printf("qrsa: RSA keys, session-key wrapping, signatures and string encryption with the TRSA component\n\n");
  std::printf("Commands:\n");
  for (const Qrsa::Command& command : Qrsa::Commands()) std::printf("  %s\n      %s\n", command.Syntax.Usage.c_str(), command.Summary);
  std::printf(
      "\n"
      "Input is standard input and output standard output unless -i/-o name files; any bytes pass.\n"
      "A KEYFILE is a form file holding one TRSA (as keygen, pubkey and import-pem write it) or a file\n"
      "holding one bare key text, first:second; its key size follows from the second field.\n"
      "Text inputs may end in white space or a line break; texts are printed with one line break.\n"
      "\n"
      "verify compares only the input's bytes with the signed block, so a leading part (a prefix) of\n"
      "the signed data verifies as well. Sign and verify data of a fixed, agreed length; an empty input\n"
      "is refused, since it would match every signature.\n"
      "\n"
      "Exit status: 0 success, 1 verify found the signature invalid, 2 usage error, 3 failure\n"
      "(the reason on standard error as \"qrsa: MESSAGE\").\n");
}

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "qrsa: %s\n", message.c_str());
  return status;
}

int Run(const std::vector<std::string>& words) {
  if (words.empty()) {
    std::fprintf(stderr, "%s\n", kShortUsage);
    return Qrsa::ExitUsage;
  }
  const std::string& name = words[0];
  if (name == "help" || name == "--help" || name == "-h") {
    PrintHelp();
    return Qrsa::ExitOk;
  }
  for (const Qrsa::Command& command : Qrsa::Commands()) {
    if (name != command.Name) continue;
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (rest.size() == 1 && (rest[0] == "--help" || rest[0] == "-h")) {
      std::printf("usage: %s\n", command.Syntax.Usage.c_str());
      return Qrsa::ExitOk;
    }
    return command.Run(Qrsa::ParsedArgs(rest, command.Syntax));
  }
  throw Qrsa::UsageError("unknown command '" + name + "'", "");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Qrsa::UsageError& error) {
    Fail(Qrsa::ExitUsage, error.what());
    std::fprintf(stderr, "%s\n", error.Usage().empty() ? kShortUsage : ("usage: " + error.Usage()).c_str());
    return Qrsa::ExitUsage;
  } catch (const Sysutils::Exception& error) {
    return Fail(Qrsa::ExitFailure, error.Message().str());
  } catch (const Qrsa::Failure& error) {
    return Fail(Qrsa::ExitFailure, error.what());
  } catch (const std::bad_alloc&) {
    return Fail(Qrsa::ExitFailure, "out of memory");
  } catch (const std::exception& error) {
    return Fail(Qrsa::ExitFailure, error.what());
  }
}
