// qrsa: the command-line face of the TRSA component.
#include <cstdio>
#include <cstring>

#include "rsa/RSA.h"

namespace {

int Demo() {
  Classes::TComponent form(nullptr);
  auto* rsa = new Rsa::TRSA(&form);
  rsa->SetName("RSA1");
  rsa->SetOnStatusUpdate([rsa](System::TObject*) { std::printf("  status: %s\n", rsa->Status().c_str()); });
  std::printf("TRSA version %s\n", rsa->GetVersion().c_str());
  for (Rsa::TKeyBits bits : {Rsa::kb0512, Rsa::kb1024, Rsa::kb2048}) {
    rsa->SetKeyBits(bits);
    std::printf("  precision: %d digits\n", rsa->GetPrecision());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "demo") == 0) return Demo();
  std::fprintf(stderr, "usage: qrsa demo\n");
  return 2;
}
