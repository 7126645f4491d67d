#include "host/packages/ComponentRegistration.h"

namespace Classes {

extern "C" {
TRegisterComponentsProc RegisterComponentsProc = nullptr;
}

void RegisterComponents(const System::AnsiString& Page, const TComponentClass* ComponentClasses, int ClassesHigh) {
  if (!RegisterComponentsProc) throw EComponentError("Components can be registered only at design time");
  if (Page.IsEmpty()) throw EComponentError("A palette page name is required to register components");
  if (ClassesHigh < -1 || (ClassesHigh >= 0 && !ComponentClasses))
    throw EComponentError("Invalid class array for component registration");
  for (int i = 0; i <= ClassesHigh; ++i) {
    const TComponentClass c = ComponentClasses[i];
    if (!c || !c->ClassName) throw EComponentError("A component class to register is missing");
    if (!c->ComponentInfo)
      throw EComponentError(System::AnsiString("Class ") + c->ClassName + " is not a component class");
  }
  RegisterComponentsProc(Page, ComponentClasses, ClassesHigh);
}

}  // namespace Classes
