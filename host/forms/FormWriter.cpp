// Writing form files: each component's published properties in declaration order, then the
// components it owns, nested.
#include "host/core/AtomicFile.h"
#include "host/forms/FormFile.h"
#include "host/forms/FormSyntax.h"

namespace Classes {

namespace {

class TFormWriter {
 public:
  std::string Text;
  bool HoldsSecret = false;  // a secret property was written

  void WriteObject(const TComponent& component, int depth) {
    const std::string name = component.Name().str();
    const TClassInfo* info = component.ClassInfo();
    if (!info) throw EWriteError("Cannot write component '" + name + "': its class is not registered");
    if (depth > MaxFormDepth)
      throw EWriteError("Cannot write component '" + name + "': components are nested more than " +
                        std::to_string(MaxFormDepth) + " levels deep");
    if (!name.empty() && !FormSyntax::IsIdentifier(name))
      throw EWriteError("Cannot write component '" + name + "': its name is not an identifier");

    const std::string indent(std::size_t(2 * (depth - 1)), ' ');
    Text += indent + "object " + (name.empty() ? "" : name + ": ") + info->ClassName + "\n";
    for (const TPropInfo& prop : info->Properties) WriteProperty(component, prop, indent + "  ");
    for (int i = 0; i < component.ComponentCount(); ++i) WriteObject(*component.Components(i), depth + 1);
    Text += indent + "end\n";
  }

 private:
  void WriteProperty(const TComponent& component, const TPropInfo& prop, const std::string& indent) {
    std::string value;
    switch (prop.Kind) {
      case TPropKind::Enumeration: {
        if (!prop.GetOrdinal) return;
        const int ordinal = prop.GetOrdinal(component);
        if (!prop.AlwaysStored && ordinal == prop.DefaultOrdinal) return;
        if (ordinal < 0 || ordinal >= int(prop.EnumNames.size()))
          throw EWriteError("Cannot write " + prop.Name + " of '" + component.Name().str() + "': value " +
                            std::to_string(ordinal) + " has no identifier");
        value = prop.EnumNames[std::size_t(ordinal)];
        break;
      }
      case TPropKind::String: {
        if (!prop.GetString) return;
        const System::AnsiString text = prop.GetString(component);
        if (text.IsEmpty()) return;
        value = FormSyntax::StringLiteral(text.str());
        HoldsSecret = HoldsSecret || prop.Secret;
        break;
      }
      case TPropKind::Event: {
        if (!prop.GetEvent) return;
        const TNotifyEvent handler = prop.GetEvent(component);
        // Only a published handler has a name to store; run-time wiring is not part of the form.
        if (!handler.Assigned() || handler.Name().empty()) return;
        if (!FormSyntax::IsIdentifier(handler.Name()))
          throw EWriteError("Cannot write " + prop.Name + " of '" + component.Name().str() + "': handler name '" +
                            handler.Name() + "' is not an identifier");
        value = handler.Name();
        break;
      }
    }
    Text += indent + prop.Name + " = " + value + "\n";
  }
};

}  // namespace

std::string WriteComponentRes(const TComponent& root) {
  TFormWriter writer;
  writer.WriteObject(root, 1);
  return std::move(writer.Text);
}

void WriteComponentResFile(const std::string& fileName, const TComponent& root) {
  TFormWriter writer;
  // The text may hold a private key: overwrite it once written, on every path.
  struct WipeText {
    std::string& Text;
    ~WipeText() {
      volatile char* bytes = Text.data();
      for (std::size_t i = 0; i < Text.size(); ++i) bytes[i] = 0;
    }
  } wipe{writer.Text};
  writer.WriteObject(root, 1);
  // A form holding a secret is never readable by others, not even for a moment.
  const auto access = writer.HoldsSecret ? Sysutils::TFileAccess::OwnerOnly : Sysutils::TFileAccess::Keep;
  try {
    Sysutils::WriteFileAtomic(fileName, writer.Text, access);
  } catch (const Sysutils::EFileWriteError& error) {
    throw EFilerError(error.Message());
  }
}

}  // namespace Classes
