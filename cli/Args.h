// Command-line parsing: one command word, then options (with or without a value) and positional words.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Qrsa {

// What a command accepts.
struct CommandSyntax {
  std::string Usage;                      // the short usage line shown on usage errors
  std::vector<std::string> ValueOptions;  // options that take a value: "-k", "--bits", ...
  std::vector<std::string> Flags;         // options without a value: "--public"
  std::size_t MinPositionals = 0;
  std::size_t MaxPositionals = 0;
  // One more positional word than MaxPositionals is the input file, as if given with -i.
  bool InputPositional = false;
};

// Short spellings of long options, the same for every command that takes the long one.
inline const std::pair<const char*, const char*> OptionAliases[] = {{"-b", "--bits"}};

// The parsed words of one command line. Options may be written "-k FILE", "--bits 512" or
// "--bits=512"; "--" ends the options. An option given twice is a usage error (an alias and its long
// name count as one option). Where the command takes an input positionally, that word is the value of
// -i: giving both, or a second such word, is a usage error.
class ParsedArgs {
 public:
  // Raises UsageError (carrying syntax.Usage) for anything the syntax does not allow.
  ParsedArgs(const std::vector<std::string>& words, const CommandSyntax& syntax);

  std::optional<std::string> Value(const std::string& option) const;
  // The option's value; a UsageError naming the option when it is missing.
  std::string Required(const std::string& option) const;
  bool Flag(const std::string& flag) const;
  const std::vector<std::string>& Positionals() const { return FPositionals; }
  const std::string& Usage() const { return FUsage; }

 private:
  std::string FUsage;
  std::map<std::string, std::string> FValues;
  std::vector<std::string> FFlags;
  std::vector<std::string> FPositionals;
};

// "a, b and c" (last "and"), or "a, b or c" (last "or").
std::string Listed(const std::vector<std::string>& words, const char* last);

// Standard input serves one reader only. `readers` are the options that read it when they name "-"
// (or, for those marked true, when they are left out); a UsageError saying so when two or more would.
void RequireOneStandardInput(const ParsedArgs& args, std::initializer_list<std::pair<const char*, bool>> readers);

}  // namespace Qrsa
