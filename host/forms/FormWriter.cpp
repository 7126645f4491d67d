// Writing form files: each component's published properties in declaration order, then the
// components it owns, nested.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/forms/FormFile.h"
#include "host/forms/FormSyntax.h"

namespace Classes {

namespace {

class TFormWriter {
 public:
  std::string Text;

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
  namespace fs = std::filesystem;
  const std::string text = WriteComponentRes(root);
  // Write beside the target and rename over it, so a failed write never destroys an existing file.
  const std::string temp = fileName + ".tmp~";
  std::error_code ec;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw EFilerError("Cannot create form file '" + fileName + "'");
    const fs::file_status existing = fs::status(fileName, ec);
    if (!ec && fs::exists(existing)) fs::permissions(temp, existing.permissions(), ec);
    out.write(text.data(), std::streamsize(text.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      throw EFilerError("Cannot write form file '" + fileName + "'");
    }
  }
  fs::rename(temp, fileName, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw EFilerError("Cannot replace form file '" + fileName + "'");
  }
}

}  // namespace Classes
