// The root form class of form files.
#include "host/core/Classes.h"

namespace Classes {

namespace {

TComponent* CreateForm(TComponent* owner) { return new TForm(owner); }

// Registered when the unit is loaded, so form files can create TForm by name.
const bool Registered = (RegisterClass<TForm>(), true);

}  // namespace

TForm::TForm(TComponent* AOwner) : TComponent(AOwner) { (void)Registered; }

const TClassInfo& TForm::StaticClassInfo() {
  static const TClassInfo info{"TForm", &CreateForm, {}};
  return info;
}

}  // namespace Classes
