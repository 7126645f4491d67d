// Components: owner-based lifetime, names, method pointers, published properties and the class
// registry through which components are created by class name (the "virtual constructor").
#pragma once

#include <functional>
#include <map>
#include <type_traits>
#include <typeinfo>
#include <string>
#include <vector>

#include "host/core/System.h"

namespace Classes {

// A method pointer taking the sender: a code part and the object it is bound to. It may be bound to a
// member function of any object or to a free function or lambda. It counts as assigned when its code
// part is set. A handler published by a root component also carries its published name, which is how
// form files store it.
class TNotifyEvent {
 public:
  using Code = std::function<void(System::TObject* Sender)>;

  TNotifyEvent() = default;
  TNotifyEvent(std::nullptr_t) {}  // NOLINT: unassigned
  // A free function or a lambda.
  template <class F>
    requires std::is_invocable_v<F&, System::TObject*> && (!std::is_same_v<std::decay_t<F>, TNotifyEvent>)
  TNotifyEvent(F&& code) : FCode(std::forward<F>(code)) {}  // NOLINT
  // A member function bound to its object.
  template <class T>
  TNotifyEvent(T* object, void (T::*method)(System::TObject*))
      : FCode([object, method](System::TObject* sender) { (object->*method)(sender); }), FObject(object) {}

  bool Assigned() const { return static_cast<bool>(FCode); }
  explicit operator bool() const { return Assigned(); }
  void operator()(System::TObject* sender) const { FCode(sender); }

  // The object the code is bound to (null for free functions and lambdas).
  void* Object() const { return FObject; }
  // The name under which a root component published this handler; empty when it was not published.
  const std::string& Name() const { return FName; }
  TNotifyEvent& SetName(std::string name) {
    FName = std::move(name);
    return *this;
  }

 private:
  Code FCode;
  void* FObject = nullptr;
  std::string FName;
};

class TComponent;

// How a published property is streamed.
enum class TPropKind { Enumeration, String, Event };

// One published property: its name, kind, accessors and stored rule. Accessors take the component as
// its base class; each class's table knows its own type.
struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::String;
  // Enumeration identifiers in ordinal order (Enumeration only).
  std::vector<std::string> EnumNames;
  // True for a property without a default value: always written, whatever its value.
  bool AlwaysStored = false;
  // The default ordinal of an enumeration that is not AlwaysStored; it is not written.
  int DefaultOrdinal = 0;
  // A secret value (a private key): a form file that stores it is created readable by its owner only.
  bool Secret = false;
  std::function<int(const TComponent&)> GetOrdinal;
  std::function<void(TComponent&, int)> SetOrdinal;
  std::function<System::AnsiString(const TComponent&)> GetString;
  std::function<void(TComponent&, const System::AnsiString&)> SetString;
  std::function<TNotifyEvent(const TComponent&)> GetEvent;
  std::function<void(TComponent&, const TNotifyEvent&)> SetEvent;
};

// Class information: the class name, its virtual constructor and its published properties in
// declaration order.
struct TClassInfo {
  std::string ClassName;
  TComponent* (*Create)(TComponent* Owner);
  std::vector<TPropInfo> Properties;
};

// A component: owned by another component (or by nobody), which destroys it; named; can publish
// named event handlers when it is the root of a form.
class TComponent : public System::TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  // Destroys the owned components (last created first), then leaves the owner's list.
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  const System::AnsiString& Name() const { return FName; }
  void SetName(const System::AnsiString& name) { FName = name; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(std::size_t(index)); }
  // The owned component with this name, or null.
  TComponent* FindComponent(const System::AnsiString& name) const;

  // Named handlers published by this component (a form publishes its event handlers this way).
  void PublishMethod(const std::string& name, TNotifyEvent handler);
  // The published handler with this name, carrying the name; unassigned when there is none.
  TNotifyEvent MethodAddress(const std::string& name) const;

  // The registered class information of this object's dynamic class, or null.
  const TClassInfo* ClassInfo() const;

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* FOwner = nullptr;
  System::AnsiString FName;
  std::vector<TComponent*> FComponents;
  std::map<std::string, TNotifyEvent> FMethods;
};

// A form: the root component of a form file. It owns the components read with it and publishes the
// event handlers they refer to by name. An application derives its own form class (TForm1, say),
// publishes its handlers in its constructor and registers it with RegisterFormClass.
class TForm : public TComponent {
 public:
  explicit TForm(TComponent* AOwner);
  // Class name "TForm", no published properties.
  static const TClassInfo& StaticClassInfo();
};

// The class registry. A class is registered once per process under its class name.
void RegisterClass(const TClassInfo& info, const std::type_info& type);
// Removes a registration made with this info (a module that is being unloaded withdraws its classes, so
// the registry never points into unloaded code). A newer registration under the same name is kept.
void UnregisterClass(const TClassInfo& info, const std::type_info& type);
// Registers T, which must provide static const TClassInfo& StaticClassInfo().
template <class T>
void RegisterClass() {
  RegisterClass(T::StaticClassInfo(), typeid(T));
}
// Registers an application's form class T (a TForm descendant, or any component without published
// properties of its own) under className, so that form files can create it by that name.
template <class T>
  requires std::is_base_of_v<TComponent, T>
void RegisterFormClass(const std::string& className) {
  static const TClassInfo info{className, [](TComponent* owner) -> TComponent* { return new T(owner); }, {}};
  RegisterClass(info, typeid(T));
}
// The class registered under this name, or null.
const TClassInfo* FindClass(const std::string& className);
// Creates a component of the named class with the given owner; null when the class is unknown.
TComponent* CreateComponent(const std::string& className, TComponent* owner);

}  // namespace Classes
