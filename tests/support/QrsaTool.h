// Drives the built qrsa tool from a test: include from tests named cli_*, which the build gives the
// tool's path as QRSA_BINARY.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/ProgramRunner.h"

#ifndef QRSA_BINARY
#error "QRSA_BINARY must name the built qrsa tool"
#endif

namespace Testing {

// The command words that run a program built for this build's target: empty on the build machine; for a
// cross build, QRSA_RUNNER holds the emulator's words separated by spaces (the tests themselves run
// under the same emulator).
inline std::vector<std::string> QrsaRunner() {
  std::vector<std::string> words;
  const char* runner = std::getenv("QRSA_RUNNER");
  for (const char* p = runner ? runner : ""; *p != '\0';) {
    const char* end = std::strchr(p, ' ');
    if (end == nullptr) end = p + std::strlen(p);
    if (end > p) words.emplace_back(p, end);
    p = *end == ' ' ? end + 1 : end;
  }
  return words;
}

inline ProgramResult Qrsa(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), QRSA_BINARY);
  const std::vector<std::string> runner = QrsaRunner();
  args.insert(args.begin(), runner.begin(), runner.end());
  return RunProgram(args, input);
}

inline ProgramResult OpenSsl(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), "openssl");
  return RunProgram(args, input);
}

// Runs a command that must succeed and returns its standard output.
inline std::string Ok(const ProgramResult& result) {
  EXPECT_EQ(result.Status, 0) << result.Err;
  return result.Out;
}

// Key files shared by the tests of one executable: RSA keys made by OpenSSL (fast and independent
// of the component's own key generation), imported once.
struct SharedKeys {
  ScratchDirectory Dir;
  std::string Pem512, Pem1024;      // OpenSSL private keys (PKCS#8)
  std::string Key512, Key1024;      // qrsa key files holding both keys
  std::string Public512, Public1024;  // qrsa key files holding the public key only

  SharedKeys() {
    for (const int bits : {512, 1024}) {
      const std::string tag = std::to_string(bits);
      const std::string pem = Dir.File("openssl" + tag + ".pem");
      const std::string key = Dir.File("key" + tag + ".dfm");
      const std::string pub = Dir.File("public" + tag + ".dfm");
      Ok(OpenSsl({"genrsa", "-out", pem, tag}));
      Ok(Qrsa({"import-pem", "-i", pem, "-o", key}));
      Ok(Qrsa({"pubkey", "-k", key, "-o", pub}));
      (bits == 512 ? Pem512 : Pem1024) = pem;
      (bits == 512 ? Key512 : Key1024) = key;
      (bits == 512 ? Public512 : Public1024) = pub;
    }
  }
};

inline SharedKeys& Keys() {
  static SharedKeys keys;
  return keys;
}

// Every byte value, zero included, then some text: a plaintext no text channel would keep intact.
inline std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes + "and some text after";
}

}  // namespace Testing
