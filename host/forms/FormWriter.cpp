// Writing form files: each component's published properties in declaration order, then the
// components it owns, nested.
#include "host/core/AtomicFile.h"
#include "host/forms/FormFile.h"
#include "host/forms/FormSyntax.h"

namespace Classes {

namespace {

// Every string the writer builds uses wiped storage: a component's text may hold a private key, and a
// string that grows leaves its old buffer behind on the heap.
class TFormWriter {
 public:
  System::TWipedString Text;
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
  // Overwrites a string property's value, the getter's own copy, when it is no longer needed.
  struct TWipeOnExit {
    System::AnsiString& Value;
    ~TWipeOnExit() { System::WipeBytes(Value.data(), std::size_t(Value.Length())); }
  };

  void BeginProperty(const std::string& indent, const TPropInfo& prop) {
    Text += indent;
    Text += prop.Name;
    Text += " = ";
  }

  void WriteProperty(const TComponent& component, const TPropInfo& prop, const std::string& indent) {
    switch (prop.Kind) {
      case TPropKind::Enumeration: {
        if (!prop.GetOrdinal) return;
        const int ordinal = prop.GetOrdinal(component);
        if (!prop.AlwaysStored && ordinal == prop.DefaultOrdinal) return;
        if (ordinal < 0 || ordinal >= int(prop.EnumNames.size()))
          throw EWriteError("Cannot write " + prop.Name + " of '" + component.Name().str() + "': value " +
                            std::to_string(ordinal) + " has no identifier");
        BeginProperty(indent, prop);
        Text += prop.EnumNames[std::size_t(ordinal)];
        break;
      }
      case TPropKind::String: {
        if (!prop.GetString) return;
        System::AnsiString text = prop.GetString(component);
        const TWipeOnExit wipe{text};
        if (text.IsEmpty()) return;
        BeginProperty(indent, prop);
        FormSyntax::AppendStringLiteral(Text, text.str());
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
        BeginProperty(indent, prop);
        Text += handler.Name();
        break;
      }
    }
    Text += '\n';
  }
};

}  // namespace

std::string WriteComponentRes(const TComponent& root) {
  TFormWriter writer;
  writer.WriteObject(root, 1);
  return std::string(writer.Text.data(), writer.Text.size());
}

void WriteComponentResFile(const std::string& fileName, const TComponent& root) {
  TFormWriter writer;  // its text is wiped when it goes, on every path
  writer.WriteObject(root, 1);
  // A form holding a secret is never readable by others, not even for a moment.
  const auto access = writer.HoldsSecret ? Sysutils::TFileAccess::OwnerOnly : Sysutils::TFileAccess::Keep;
  try {
    Sysutils::WriteFileAtomic(fileName, std::string_view(writer.Text.data(), writer.Text.size()), access);
  } catch (const Sysutils::EFileWriteError& error) {
    throw EFilerError(error.Message());
  }
}

}  // namespace Classes
