#include <algorithm>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "host/core/Classes.h"

namespace Classes {

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Each owned component removes itself from our list as it is destroyed.
  while (!FComponents.empty()) delete FComponents.back();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* component) {
  component->FOwner = this;
  FComponents.push_back(component);
}

void TComponent::RemoveComponent(TComponent* component) {
  std::erase(FComponents, component);
  component->FOwner = nullptr;
}

TComponent* TComponent::FindComponent(const System::AnsiString& name) const {
  if (name.IsEmpty()) return nullptr;
  for (TComponent* c : FComponents)
    if (c->FName == name) return c;
  return nullptr;
}

void TComponent::PublishMethod(const std::string& name, TNotifyEvent handler) {
  handler.SetName(name);
  FMethods[name] = std::move(handler);
}

TNotifyEvent TComponent::MethodAddress(const std::string& name) const {
  const auto it = FMethods.find(name);
  return it == FMethods.end() ? TNotifyEvent() : it->second;
}

namespace {

struct Registry {
  std::mutex Lock;
  std::unordered_map<std::string, const TClassInfo*> ByName;
  std::unordered_map<std::type_index, const TClassInfo*> ByType;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterClass(const TClassInfo& info, const std::type_info& type) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  r.ByName[info.ClassName] = &info;
  r.ByType[std::type_index(type)] = &info;
}

void UnregisterClass(const TClassInfo& info, const std::type_info& type) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  if (auto it = r.ByName.find(info.ClassName); it != r.ByName.end() && it->second == &info) r.ByName.erase(it);
  if (auto it = r.ByType.find(std::type_index(type)); it != r.ByType.end() && it->second == &info) r.ByType.erase(it);
}

const TClassInfo* FindClass(const std::string& className) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  const auto it = r.ByName.find(className);
  return it == r.ByName.end() ? nullptr : it->second;
}

const TClassInfo* TComponent::ClassInfo() const {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  const auto it = r.ByType.find(std::type_index(typeid(*this)));
  return it == r.ByType.end() ? nullptr : it->second;
}

TComponent* CreateComponent(const std::string& className, TComponent* owner) {
  const TClassInfo* info = FindClass(className);
  return info ? info->Create(owner) : nullptr;
}

}  // namespace Classes
