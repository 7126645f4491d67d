// Reading form files: components are created by class name, named, and given their properties
// through the write accessors in the order the class declares them, whatever the order of the lines
// (a key text is only valid once the key size before it is set).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "host/forms/FormFile.h"
#include "host/forms/FormSyntax.h"

namespace Classes {

namespace {

// Line numbers count in the width of a size: a text may have more lines than an int counts.
using TLineNumber = std::size_t;

struct TLine {
  TLineNumber Number;
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
  TLineNumber Line;
};

// One property line, parsed and checked, waiting to be applied. A string value may be a private key
// text: it is wiped when the pending property goes, applied or not.
struct TPendingProperty {
  std::size_t Index = 0;  // the property's place in its class's declaration
  const TPropInfo* Prop = nullptr;
  int Ordinal = 0;
  System::AnsiString String;
  TNotifyEvent Event;

  TPendingProperty() = default;
  TPendingProperty(TPendingProperty&&) = default;
  TPendingProperty& operator=(TPendingProperty&&) = default;
  ~TPendingProperty() { System::WipeBytes(String.data(), std::size_t(String.Length())); }
};

class TFormReader {
 public:
  TFormReader(std::string_view text, std::string source) : FSource(std::move(source)) { SplitLines(text); }

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
  void SplitLines(std::string_view text) {
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);  // byte-order mark of an edited file
    TLineNumber number = 1;
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
  [[noreturn]] void Fail(TLineNumber line, const std::string& message) const {
    throw E(FSource + " line " + std::to_string(line) + ": " + message);
  }

  static std::string Describe(const TComponent& component, const TClassInfo& info) {
    return component.Name().IsEmpty() ? "the " + info.ClassName + " object" : "'" + component.Name().str() + "'";
  }

  // "Name: Class" or "Class" after the keyword 'object'.
  THeader ReadHeader(TCursor& cur, TLineNumber line) {
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
        const System::TWipedString value = ReadString(cur, line, name);
        pending.String = System::AnsiString(std::string_view(value.data(), value.size()));
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

  // Quoted runs and #nn codes, joined; a trailing '+' continues the string on the next line. The value
  // grows in wiped storage: it may be a private key text.
  System::TWipedString ReadString(TCursor& cur, const TLine*& line, const std::string& name) {
    System::TWipedString value;
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
        // A value longer than a string property holds is refused here, with its line, rather than
        // when it is handed to the property.
        if (value.size() > System::AnsiString::MaxLength)
          Fail<EReadError>(line->Number, name + " is longer than a string holds");
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

TComponent* Read(std::string_view text, const std::string& source, TComponent* owner) {
  // The standard root class is always available to form files.
  static const bool formRegistered = (RegisterClass<TForm>(), true);
  (void)formRegistered;
  return TFormReader(text, source).Read(owner);
}

// Read straight into wiped storage, without a stream's own buffer: the file may hold a private key.
System::TWipedString LoadFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EFilerError("Cannot open form file '" + fileName + "'");
  const struct TClose {
    int Fd;
    ~TClose() { ::close(Fd); }
  } closeOnExit{fd};
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) throw EFilerError("Cannot read form file '" + fileName + "'");
  const std::size_t expected = S_ISREG(info.st_mode) && info.st_size > 0 ? std::size_t(info.st_size) : 0;
  System::TWipedString text(expected + 1, '\0');  // one byte over, so the end is seen without growing
  std::size_t used = 0;
  while (true) {
    if (used == text.size()) text.resize(text.size() * 2);  // the file grew since fstat
    const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EFilerError("Cannot read form file '" + fileName + "'");
    if (got == 0) break;
    used += std::size_t(got);
  }
  text.resize(used);
  return text;
}

}  // namespace FormFileDetail

TComponent* ReadComponentRes(const std::string& text, TComponent* owner) {
  return FormFileDetail::Read(text, "Form file", owner);
}

TComponent* ReadComponentRes(const std::string& text, TComponent* owner, const std::string& source) {
  return FormFileDetail::Read(text, source, owner);
}

TComponent* ReadComponentResFile(const std::string& fileName, TComponent* owner) {
  const System::TWipedString text = FormFileDetail::LoadFile(fileName);
  return FormFileDetail::Read(std::string_view(text.data(), text.size()), fileName, owner);
}

}  // namespace Classes
