// Design-time registration of component classes on the palette.
//
// The runtime does not keep a palette of its own: a design environment that loads packages installs
// RegisterComponentsProc for the duration of each package's registration and collects the classes.
// Outside such a registration, RegisterComponents refuses.
#pragma once

#include "host/core/MetaClass.h"
#include "host/core/SysUtils.h"
#include "host/core/System.h"

namespace Classes {

// A registration attempt that cannot be honoured: no design environment is listening, or a class in
// the array is missing or no component.
class EComponentError : public Sysutils::Exception {
 public:
  using Exception::Exception;
};

// The design environment's receiver of registrations. ClassesHigh is the highest index of the array.
using TRegisterComponentsProc = void (*)(const System::AnsiString& Page, const TComponentClass* ComponentClasses,
                                         int ClassesHigh);

// Installed by the design environment; null at run time. It has a plain (C) symbol name, so that a
// design environment can find the hook inside the runtime package a loaded package is bound to.
extern "C" TRegisterComponentsProc RegisterComponentsProc;

// Puts the classes ComponentClasses[0..ClassesHigh] on the palette page Page.
void RegisterComponents(const System::AnsiString& Page, const TComponentClass* ComponentClasses, int ClassesHigh);

}  // namespace Classes
