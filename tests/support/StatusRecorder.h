// Test helpers for the component's status reporting: a recorder of what OnStatusUpdate handlers see,
// and a check that an operation fails with a given exception class, message and status.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "rsa/RSA.h"

namespace Testing {

// Attaches an OnStatusUpdate handler that records the Status text at each call and runs `alsoSee`,
// which can record whatever else the test wants to know at that moment (the loaded flags, say).
struct StatusRecorder {
  std::vector<std::string> Seen;
  explicit StatusRecorder(Rsa::TRSA& rsa, std::function<void()> alsoSee = {}) {
    rsa.SetOnStatusUpdate([this, &rsa, alsoSee = std::move(alsoSee)](System::TObject* sender) {
      EXPECT_EQ(sender, &rsa);
      Seen.push_back(rsa.Status().str());
      if (alsoSee) alsoSee();
    });
  }
};

// Runs op and expects it to raise exactly the class `type` (not a subclass) with `message`.
template <class Op>
void ExpectFailure(Op&& op, const std::type_info& type, const std::string& message) {
  try {
    op();
    ADD_FAILURE() << "no exception; expected \"" << message << "\"";
  } catch (const Sysutils::Exception& x) {
    EXPECT_EQ(typeid(x), type) << "raised " << typeid(x).name() << " with \"" << x.Message().str() << "\"";
    EXPECT_EQ(x.Message().str(), message);
  } catch (const std::exception& x) {
    ADD_FAILURE() << "wrong exception class: " << typeid(x).name() << " \"" << x.what() << "\"";
  }
}

// Runs op on rsa and expects it to raise exactly class E with `message`, after setting Status to
// `status` (the message itself when status is null) and firing OnStatusUpdate once with that text.
template <class E, class Op>
void ExpectReportedFailure(Rsa::TRSA& rsa, Op&& op, const std::string& message, const char* status = nullptr) {
  const std::string expectedStatus = status ? status : message;
  StatusRecorder recorder(rsa);
  ExpectFailure(op, typeid(E), message);
  EXPECT_EQ(rsa.Status().str(), expectedStatus);
  EXPECT_EQ(recorder.Seen, std::vector<std::string>{expectedStatus});
  rsa.SetOnStatusUpdate(nullptr);
}

}  // namespace Testing
