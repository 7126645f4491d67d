// qrsa: the TRSA component on the command line.
#include <openssl/crypto.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/Failure.h"
#include "cli/Io.h"
#include "cli/ProcessGuard.h"
#include "host/core/SysUtils.h"
#include "rsa/RSA.h"

#ifndef QRSA_VERSION
#define QRSA_VERSION "unknown"
#endif

namespace {

const char* const kShortUsage = "usage: qrsa COMMAND [OPTIONS]   (qrsa help lists the commands, qrsa help COMMAND explains one)";

void PrintHelp() {
  std::printf("qrsa: RSA keys, sealed files, signatures and session-key wrapping with the TRSA component\n\n");
  std::printf("Commands:\n");
  for (const Qrsa::Command& command : Qrsa::Commands()) std::printf("  %s\n      %s\n", command.Syntax.Usage.c_str(), command.Summary);
  std::printf(
      "\n"
      "Which command for which job: seal/open for files; wrap/unwrap for session keys (OAEP by\n"
      "default); sign/verify for documents (PKCS#1 v1.5 with SHA-256 by default, as openssl dgst);\n"
      "encrypt/decrypt only for the component's own cipher texts (deterministic raw RSA without\n"
      "integrity).\n"
      "\n"
      "Input is standard input and output standard output unless -i/-o name files; any bytes pass.\n"
      "Where -i is taken, the input file may be given as a word of its own. Every command takes\n"
      "--quiet (no progress, stage lines or warnings); -b is --bits, -V is --version.\n"
      "A KEYFILE is a form file holding one TRSA (as keygen, pubkey and import-pem write it), a file\n"
      "holding one bare key text, first:second (its key size follows from the second field), or a key\n"
      "in PEM, DER, OpenSSH or JWK form; encrypted keys take --passphrase-file or --passphrase-env.\n"
      "Text inputs may end in white space or a line break; texts are printed with one line break.\n"
      "An output file that holds a private key is replaced only with --force.\n"
      "\n"
      "The component's own schemes (--scheme component) are kept for the texts made before the\n"
      "standard ones: its signatures without --digest compare only the input's bytes with the signed\n"
      "block, so a leading part (a prefix) of the signed data verifies as well, and its unwrap answers\n"
      "any text with the raw private operation.\n"
      "\n"
      "Exit status: 0 success, 1 verify found the signature invalid, 2 usage error, 3 failure\n"
      "(the reason on standard error as \"qrsa: MESSAGE\").\n"
      "\n"
      "qrsa help COMMAND (or qrsa COMMAND --help) describes a command's options, with an example.\n");
}

void PrintCommandHelp(const Qrsa::Command& command) {
  std::printf("usage: %s\n\n%s\n\n%s\nExample:\n  %s\n", command.Syntax.Usage.c_str(), command.Summary,
              command.Options.c_str(), command.Example.c_str());
}

const Qrsa::Command* FindCommand(const std::string& name) {
  for (const Qrsa::Command& command : Qrsa::Commands())
    if (name == command.Name) return &command;
  return nullptr;
}

// A component message as the tool reports it: as it stands, with what to do where the tool knows.
std::string ToolMessage(const Sysutils::Exception& error) {
  std::string message = error.Message().str();
  if (dynamic_cast<const Rsa::EInvalidKey*>(&error) != nullptr && message == "Public exponent not valid")
    message += ": the component's own schemes take an odd public exponent from 50001 (as qrsa keygen makes) "
               "below the modulus; the standard schemes (--scheme pkcs1, pss or oaep) take any odd one from 3";
  return message;
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
  if (name == "--version" || name == "-V" || name == "version") {
    Rsa::TRSA probe(nullptr);
    std::printf("qrsa %s (TRSA %s, %s)\n", QRSA_VERSION, probe.GetVersion().c_str(), OpenSSL_version(OPENSSL_VERSION));
    return Qrsa::ExitOk;
  }
  if (name == "help" || name == "--help" || name == "-h") {
    if (words.size() == 1) {
      PrintHelp();
      return Qrsa::ExitOk;
    }
    const Qrsa::Command* command = FindCommand(words[1]);
    if (!command || words.size() > 2)
      throw Qrsa::UsageError(command ? "help takes one command name" : "unknown command '" + words[1] + "'", "qrsa help [COMMAND]");
    PrintCommandHelp(*command);
    return Qrsa::ExitOk;
  }
  const Qrsa::Command* command = FindCommand(name);
  if (!command) throw Qrsa::UsageError("unknown command '" + name + "'", "");
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  for (const std::string& word : rest) {
    if (word == "--") break;
    if (word == "--help" || word == "-h") {
      PrintCommandHelp(*command);
      return Qrsa::ExitOk;
    }
  }
  const Qrsa::ParsedArgs args(rest, command->Syntax);
  // An output never replaces a file the command still reads (-i x -o x is fine: the input is read
  // before the output replaces it).
  Qrsa::RequireOutputApart(args.Value("-o"), {{"-k", args.Value("-k")}, {"-s", args.Value("-s")}}, args.Usage());
  return command->Run(args);
}

// Not inlined: its frame lies below main's, where WipeStackBelow reaches.
__attribute__((noinline)) int RunTool(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Qrsa::UsageError& error) {
    Fail(Qrsa::ExitUsage, error.what());
    std::fprintf(stderr, "%s\n", error.Usage().empty() ? kShortUsage : ("usage: " + error.Usage()).c_str());
    return Qrsa::ExitUsage;
  } catch (const Qrsa::OutputRefused& error) {
    return Fail(Qrsa::ExitUsage, error.what());
  } catch (const Sysutils::Exception& error) {
    return Fail(Qrsa::ExitFailure, ToolMessage(error));
  } catch (const Qrsa::Failure& error) {
    return Fail(Qrsa::ExitFailure, error.what());
  } catch (const std::bad_alloc&) {
    return Fail(Qrsa::ExitFailure, "out of memory");
  } catch (const std::exception& error) {
    return Fail(Qrsa::ExitFailure, error.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // libcrypto's allocators can be set only before its first allocation.
  Qrsa::GuardLibcryptoMemory();
  Qrsa::GuardProcessMemory();
  Qrsa::InstallSignalCleanup();
  const int status = RunTool(argc, argv);
  Qrsa::WipeStackBelow();
  return status;
}
