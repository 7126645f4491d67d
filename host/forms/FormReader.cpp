// Reading form files: components are created by class name, named, and given their properties
// through the write accessors in the order the class declares them, whatever the order of the lines
// (a key text is only valid once the key size before it is set).
#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "host/forms/FormFile.h"
#include "host/forms/FormSyntax.h"

namespace Classes {

namespace {

struct TLine {
  int Number;
  std::string_view Text;
};

// A position within one line of text.
class TCursor {
 public:
  explicit TCursor(std::string_view text) : FText(text) {}

  void SkipSpaces() {
    while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t')) ++FPos;
  }
  bool AtEnd() const { return FPos >= FText.size(); }
  char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
  char Next() { return FText[FPos++]; }
  bool Take(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++FPos;
    return true;
  }
  // The identifier at the cursor (after spaces), or empty when none starts there.
  std::string Identifier() {
    SkipSpaces();
    const std::size_t start = FPos;
    if (!AtEnd() && FormSyntax::IsIdentStart(FText[FPos]))
      while (!AtEnd() && FormSyntax::IsIdentChar(FText[FPos])) ++FPos;
    return std::string(FText.substr(start, FPos - start));
  }
  // True when only spaces remain.
  bool RestIsBlank() {
    SkipSpaces();
    return AtEnd();
  }

 private:
  std::string_view FText;
  std::size_t FPos = 0;
};

struct THeader {
  std::string Name;
  std::string ClassName;
  int Line;
};

// One property line, parsed and checked, waiting to be applied.
struct TPendingProperty {
  std::size_t Index = 0;  // the property's place in its class's declaration
  const TPropInfo* Prop = nullptr;
  int Ordinal = 0;
  System::AnsiString String;
  TNotifyEvent Event;
};

class TFormReader {
 public:
  TFormReader(const std::string& text, std::string source) : FSource(std::move(source)) { SplitLines(text); }

  TComponent* Read(TComponent* owner) {
    const TLine* first = NextLine();
    if (!first) Fail<EReadError>(1, "expected 'object', but the text is empty");
    TCursor cur(first->Text);
    if (cur.Identifier() != "object") Fail<EReadError>(first->Number, "expected 'object'");
    const THeader header = ReadHeader(cur, first->Number);
    // Everything the read creates is owned by the root, so destroying the root on failure
    // destroys it all and takes the root out of the owner's list.
    std::unique_ptr<TComponent> root(Create(header, owner));
    FRoot = root.get();
    ReadBody(*root, header, 1);
    if (const TLine* extra = NextLine()) Fail<EReadError>(extra->Number, "unexpected text after the final 'end'");
    return root.release();
  }

 private:
  void SplitLines(const std::string& text) {
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);  // byte-order mark of an edited file
    int number = 1;
    while (true) {
      const std::size_t eol = rest.find('\n');
      std::string_view line = rest.substr(0, eol);
      if (line.ends_with('\r')) line.remove_suffix(1);
      FLines.push_back({number++, line});
      if (eol == std::string_view::npos) break;
      rest.remove_prefix(eol + 1);
      if (rest.empty()) break;  // a final line end closes the last line rather than starting one
    }
  }

  // The next line holding more than spaces, or null at the end of the text.
  const TLine* NextLine() {
    while (FNext < FLines.size()) {
      const TLine& line = FLines[FNext++];
      if (!TCursor(line.Text).RestIsBlank()) return &line;
    }
    return nullptr;
  }

  template <class E>
  [[noreturn]] void Fail(int line, const std::string& message) const {
    throw E(FSource + " line " + std::to_string(line) + ": " + message);
  }

  static std::string Describe(const TComponent& component, const TClassInfo& info) {
    return component.Name().IsEmpty() ? "the " + info.ClassName + " object" : "'" + component.Name().str() + "'";
  }

  // "Name: Class" or "Class" after the keyword 'object'.
  THeader ReadHeader(TCursor& cur, int line) {
    THeader header{"", cur.Identifier(), line};
    if (header.ClassName.empty()) Fail<EReadError>(line, "expected a name and a class after 'object'");
    cur.SkipSpaces();
    if (cur.Take(':')) {
      header.Name = std::move(header.ClassName);
      header.ClassName = cur.Identifier();
      if (header.ClassName.empty()) Fail<EReadError>(line, "expected a class name after ':'");
    }
    if (!cur.RestIsBlank()) Fail<EReadError>(line, "unexpected text after the class name");
    return header;
  }

  TComponent* Create(const THeader& header, TComponent* owner) {
    const TClassInfo* info = FindClass(header.ClassName);
    if (!info) Fail<EClassNotFound>(header.Line, "class " + header.ClassName + " is not registered");
    if (owner && owner->FindComponent(header.Name))
      Fail<EReadError>(header.Line, "a component named '" + header.Name + "' already exists");
    TComponent* component = info->Create(owner);
    component->SetName(header.Name);
    FInfo[component] = info;
    return component;
  }

  // Properties are collected until the body's first nested object or its end, then applied in
  // declaration order (lines naming the same property keep their order, so the last one wins).
  void ReadBody(TComponent& component, const THeader& header, int depth) {
    std::vector<TPendingProperty> pending;
    auto apply = [&] {
      std::stable_sort(pending.begin(), pending.end(),
                       [](const TPendingProperty& a, const TPendingProperty& b) { return a.Index < b.Index; });
      for (const TPendingProperty& p : pending) {
        switch (p.Prop->Kind) {
          case TPropKind::Enumeration: p.Prop->SetOrdinal(component, p.Ordinal); break;
          case TPropKind::String: p.Prop->SetString(component, p.String); break;
          case TPropKind::Event: p.Prop->SetEvent(component, p.Event); break;
        }
      }
      pending.clear();
    };
    while (true) {
      const TLine* line = NextLine();
      if (!line)
        Fail<EReadError>(FLines.back().Number, "object " + (header.Name.empty() ? header.ClassName : header.Name) + " begun on line " +
                                                   std::to_string(header.Line) + " has no 'end'");
      TCursor cur(line->Text);
      const std::string word = cur.Identifier();
      cur.SkipSpaces();
      if (!word.empty() && cur.Take('=')) {
        pending.push_back(ReadProperty(component, word, cur, line));
      } else if (word == "end" && cur.AtEnd()) {
        apply();
        return;
      } else if (word == "object") {
        apply();
        const THeader child = ReadHeader(cur, line->Number);
        if (depth >= MaxFormDepth)
          Fail<EReadError>(line->Number, "objects are nested more than " + std::to_string(MaxFormDepth) +
                                             " levels deep");
        ReadBody(*Create(child, &component), child, depth + 1);
      } else {
        Fail<EReadError>(line->Number, "expected a property, 'object' or 'end'");
      }
    }
  }

  // Parses one property line and checks that the property can be assigned; applies nothing.
  TPendingProperty ReadProperty(TComponent& component, const std::string& name, TCursor& cur, const TLine*& line) {
    const TClassInfo& info = *FInfo.at(&component);
    const TPropInfo* prop = nullptr;
    std::size_t index = 0;
    for (std::size_t i = 0; i < info.Properties.size(); ++i)
      if (info.Properties[i].Name == name) prop = &info.Properties[i], index = i;
    if (!prop) Fail<EReadError>(line->Number, info.ClassName + " has no property '" + name + "'");

    TPendingProperty pending;
    pending.Index = index;
    pending.Prop = prop;
    switch (prop->Kind) {
      case TPropKind::Enumeration: {
        const std::string value = cur.Identifier();
        int ordinal = -1;
        for (std::size_t i = 0; i < prop->EnumNames.size(); ++i)
          if (prop->EnumNames[i] == value) ordinal = int(i);
        if (ordinal < 0) {
          std::string allowed;
          for (const std::string& n : prop->EnumNames) allowed += (allowed.empty() ? "" : ", ") + n;
          if (value.empty()) Fail<EReadError>(line->Number, name + " expects one of " + allowed);
          Fail<EReadError>(line->Number, "'" + value + "' is not a value of " + name + " (" + allowed + ")");
        }
        ExpectLineEnd(cur, *line, name);
        Assign(prop->SetOrdinal, *line, name);
        pending.Ordinal = ordinal;
        break;
      }
      case TPropKind::String: {
        Assign(prop->SetString, *line, name);
        pending.String = System::AnsiString(ReadString(cur, line, name));
        break;
      }
      case TPropKind::Event: {
        const std::string value = cur.Identifier();
        if (value.empty()) Fail<EReadError>(line->Number, name + " expects the name of a handler");
        ExpectLineEnd(cur, *line, name);
        Assign(prop->SetEvent, *line, name);
        pending.Event = ResolveHandler(value, *line);
        break;
      }
    }
    return pending;
  }

  template <class F>
  const F& Assign(const F& setter, const TLine& line, const std::string& name) const {
    if (!setter) Fail<EReadError>(line.Number, "property '" + name + "' cannot be assigned");
    return setter;
  }

  void ExpectLineEnd(TCursor& cur, const TLine& line, const std::string& name) const {
    if (!cur.RestIsBlank()) Fail<EReadError>(line.Number, "unexpected text after the value of " + name);
  }

  // Quoted runs and #nn codes, joined; a trailing '+' continues the string on the next line.
  std::string ReadString(TCursor& cur, const TLine*& line, const std::string& name) {
    std::string value;
    TCursor here = cur;
    while (true) {
      here.SkipSpaces();
      bool any = false;
      while (true) {
        if (here.Take('\'')) {
          while (true) {
            if (here.AtEnd()) Fail<EReadError>(line->Number, "unterminated string");
            const char c = here.Next();
            if (c == '\'' && !here.Take('\'')) break;
            value += c;
          }
        } else if (here.Take('#')) {
          value += char(ReadCharCode(here, *line));
        } else {
          break;
        }
        any = true;
      }
      if (!any) Fail<EReadError>(line->Number, name + " expects a string");
      here.SkipSpaces();
      if (!here.Take('+')) break;
      if (!here.RestIsBlank()) Fail<EReadError>(line->Number, "unexpected text after '+'");
      const TLine* next = NextLine();
      if (!next) Fail<EReadError>(line->Number, "the string continues past the end of the text");
      line = next;
      here = TCursor(line->Text);
    }
    ExpectLineEnd(here, *line, name);
    return value;
  }

  // The code after '#': decimal digits, or '$' and hexadecimal digits; 0 to 255.
  int ReadCharCode(TCursor& cur, const TLine& line) const {
    const bool hex = cur.Take('$');
    const int base = hex ? 16 : 10;
    int code = 0, digits = 0;
    while (true) {
      const char c = cur.Peek();
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) break;
      cur.Next();
      ++digits;
      code = std::min(code * base + d, 256);  // saturate: anything above 255 is refused below
    }
    if (digits == 0) Fail<EReadError>(line.Number, "'#' must be followed by a character code");
    if (code > 255) Fail<EReadError>(line.Number, "character code out of range (0 to 255)");
    return code;
  }

  // A handler published by the root, or failing that by one of its owners.
  TNotifyEvent ResolveHandler(const std::string& name, const TLine& line) const {
    for (const TComponent* c = FRoot; c; c = c->Owner()) {
      TNotifyEvent handler = c->MethodAddress(name);
      if (handler.Assigned()) return handler;
    }
    Fail<EReadError>(line.Number, "handler '" + name + "' is not published by " + Describe(*FRoot, *FInfo.at(FRoot)));
  }

  std::string FSource;
  std::vector<TLine> FLines;
  std::size_t FNext = 0;
  TComponent* FRoot = nullptr;
  std::map<const TComponent*, const TClassInfo*> FInfo;
};

}  // namespace

namespace FormFileDetail {

TComponent* Read(const std::string& text, const std::string& source, TComponent* owner) {
  // The standard root class is always available to form files.
  static const bool formRegistered = (RegisterClass<TForm>(), true);
  (void)formRegistered;
  return TFormReader(text, source).Read(owner);
}

std::string LoadFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EFilerError("Cannot open form file '" + fileName + "'");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw EFilerError("Cannot read form file '" + fileName + "'");
  return std::move(text).str();
}

}  // namespace FormFileDetail

TComponent* ReadComponentRes(const std::string& text, TComponent* owner) {
  return FormFileDetail::Read(text, "Form file", owner);
}

TComponent* ReadComponentRes(const std::string& text, TComponent* owner, const std::string& source) {
  return FormFileDetail::Read(text, source, owner);
}

TComponent* ReadComponentResFile(const std::string& fileName, TComponent* owner) {
  return FormFileDetail::Read(FormFileDetail::LoadFile(fileName), fileName, owner);
}

}  // namespace Classes
