// The form-file reader on any text. A read either yields a component tree or raises one of the host's
// exceptions, and a failed read leaves nothing behind with the owner. A tree that was read writes out
// to a text that reads back and writes out the same again.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "host/forms/FormFile.h"
#include "rsa/RSA.h"

namespace {

Fuzz::CountingRandom gRandom;

// A form with one published handler, so that event references have something to resolve to.
class TFuzzForm : public Classes::TForm {
 public:
  explicit TFuzzForm(Classes::TComponent* owner) : TForm(owner) {
    PublishMethod("RSA1StatusUpdate", Classes::TNotifyEvent(this, &TFuzzForm::StatusUpdate));
  }
  void StatusUpdate(System::TObject*) { ++Updates; }
  int Updates = 0;
};

bool Registered = [] {
  Classes::RegisterClass<Classes::TForm>();
  Classes::RegisterFormClass<TFuzzForm>("TFuzzForm");
  return true;
}();

// Reads text under owner; null when the host refused it with one of its exceptions.
Classes::TComponent* TryRead(const std::string& text, Classes::TComponent* owner) {
  try {
    return Classes::ReadComponentRes(text, owner);
  } catch (const Sysutils::Exception& e) {
    FUZZ_CHECK(e.Message().Length() > 0);
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Classes::TComponent owner(nullptr);
  Classes::TComponent* root = TryRead(text, &owner);
  if (!root) {
    FUZZ_CHECK(owner.ComponentCount() == 0);
    return 0;
  }
  FUZZ_CHECK(owner.ComponentCount() == 1 && owner.Components(0) == root);

  const std::string written = Classes::WriteComponentRes(*root);
  Classes::TComponent other(nullptr);
  Classes::TComponent* copy = TryRead(written, &other);
  FUZZ_CHECK(copy != nullptr);
  FUZZ_CHECK(Classes::WriteComponentRes(*copy) == written);
  return 0;
}
