// Class references: the run-time identity of a class, as the palette and a package's exports name it.
#pragma once

#include <typeinfo>

#include "host/core/Classes.h"

namespace Classes {

// A class reference. Components also carry their class information, through which the palette and
// the form reader create them; other classes (exceptions, for instance) have none.
struct TMetaClass {
  const char* ClassName;
  const std::type_info* TypeInfo;
  // The component's class information, or null for a class that is not a component.
  const TClassInfo& (*ComponentInfo)();
};

// A reference to a component class, as RegisterComponents takes it.
using TComponentClass = const TMetaClass*;

}  // namespace Classes
