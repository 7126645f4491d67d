// Form files: a component, its published properties and the components it owns, as readable text.
//
//   object Form1: TForm1
//     object RSA1: TRSA
//       KeyBits = kb1024
//       PublicKey = '++11IE:...'
//       Status = 'Idle'#13#10'next line'
//       OnStatusUpdate = RSA1StatusUpdate
//     end
//   end
//
// Properties are written in declaration order, as their class information lists them, and applied in
// that order when read, whatever the order of the lines (a key text needs its key size set first).
// Enumerations are written by identifier. Strings are single-quoted with a quote doubled inside; bytes
// outside the printable ASCII range are written as #nn character codes (decimal, #$hh hex also read),
// so any byte survives. A long string may be continued on the next line after a trailing '+'. Empty
// strings, enumerations at their default and unassigned events are not written; an event is written
// by the name its handler was published under, and a handler that was never published (a plain lambda
// attached at run time) is not written. Names, identifiers and keywords are case-sensitive.
#pragma once

#include <string>

#include "host/core/Classes.h"
#include "host/core/SysUtils.h"

namespace Classes {

// A form file cannot be read or written.
class EFilerError : public Sysutils::Exception {
 public:
  using Exception::Exception;
};
// Malformed form text; the message names the line.
class EReadError : public EFilerError {
 public:
  using EFilerError::EFilerError;
};
// The form text names a class that is not registered; the message names the line.
class EClassNotFound : public EReadError {
 public:
  using EReadError::EReadError;
};
// A component cannot be written (its class is not registered, a name is not an identifier, ...).
class EWriteError : public EFilerError {
 public:
  using EFilerError::EFilerError;
};

// Deepest nesting of objects that is written or read (the root counts as level 1).
inline constexpr int MaxFormDepth = 64;

// The form text of root, its published properties and, nested, the components it owns.
std::string WriteComponentRes(const TComponent& root);

// Creates the root object of the form text with the given owner (null: the caller owns it), names
// it, applies its properties through their write accessors in declaration order (of lines naming the
// same property, the last wins), and creates the nested components owned by it. Event names are
// resolved through the root's published handlers, then through its owners'. Malformed text raises
// EReadError (EClassNotFound for an unknown class) naming the line; an exception raised by a
// property's write accessor propagates unchanged. On any failure every component created by the read
// is destroyed.
TComponent* ReadComponentRes(const std::string& text, TComponent* owner);

// As above, and the root must be a T; otherwise it is destroyed and EReadError is raised.
template <class T>
  requires std::is_base_of_v<TComponent, T>
T* ReadComponentRes(const std::string& text, TComponent* owner);

// Reads form text like ReadComponentRes, with errors reported under `source` (a file name, say)
// instead of "Form file".
TComponent* ReadComponentRes(const std::string& text, TComponent* owner, const std::string& source);

// File variants. Writing replaces the file only once the whole text is written, through a fresh
// temporary file beside it (never through a link planted there); a form that stores a secret property
// is created readable by its owner only, any other keeps an existing file's permissions. Read errors
// name the file instead of "Form file".
void WriteComponentResFile(const std::string& fileName, const TComponent& root);
TComponent* ReadComponentResFile(const std::string& fileName, TComponent* owner);
template <class T>
  requires std::is_base_of_v<TComponent, T>
T* ReadComponentResFile(const std::string& fileName, TComponent* owner);

// ---- Implementation details of the typed readers ----
namespace FormFileDetail {
// Reads text whose errors are reported under source ("Form file" or a file name).
TComponent* Read(std::string_view text, const std::string& source, TComponent* owner);
// The whole file, in storage that is wiped when released.
System::TWipedString LoadFile(const std::string& fileName);
// Destroys root and raises EReadError unless it is a T.
template <class T>
T* Expect(TComponent* root, const std::string& source) {
  if (auto* typed = dynamic_cast<T*>(root)) return typed;
  const TClassInfo* info = root ? root->ClassInfo() : nullptr;
  const std::string found = info ? info->ClassName : "an unregistered class";
  delete root;
  std::string expected = "another class";
  if constexpr (requires { T::StaticClassInfo(); }) expected = T::StaticClassInfo().ClassName;
  throw EReadError(source + ": the root object is a " + found + ", expected a " + expected);
}
}  // namespace FormFileDetail

template <class T>
  requires std::is_base_of_v<TComponent, T>
T* ReadComponentRes(const std::string& text, TComponent* owner) {
  return FormFileDetail::Expect<T>(FormFileDetail::Read(text, "Form file", owner), "Form file");
}

template <class T>
  requires std::is_base_of_v<TComponent, T>
T* ReadComponentResFile(const std::string& fileName, TComponent* owner) {
  const System::TWipedString text = FormFileDetail::LoadFile(fileName);
  return FormFileDetail::Expect<T>(FormFileDetail::Read(std::string_view(text.data(), text.size()), fileName, owner),
                                   fileName);
}

}  // namespace Classes
