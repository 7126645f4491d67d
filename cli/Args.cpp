#include "cli/Args.h"

#include <algorithm>

#include "cli/Failure.h"

namespace Qrsa {

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& word) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

}  // namespace

ParsedArgs::ParsedArgs(const std::vector<std::string>& words, const CommandSyntax& syntax)
    : FUsage(syntax.Usage) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      FPositionals.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = word;
    std::optional<std::string> inlineValue;
    if (const auto eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = word.substr(0, eq);
      inlineValue = word.substr(eq + 1);
    }
    for (const auto& [alias, option] : OptionAliases)
      if (name == alias && Contains(syntax.ValueOptions, option)) name = option;
    if (Contains(syntax.Flags, name)) {
      if (inlineValue) throw UsageError("option " + name + " takes no value", FUsage);
      if (Contains(FFlags, name)) throw UsageError("option " + name + " given twice", FUsage);
      FFlags.push_back(name);
    } else if (Contains(syntax.ValueOptions, name)) {
      if (FValues.count(name)) throw UsageError("option " + name + " given twice", FUsage);
      if (inlineValue) {
        FValues[name] = *inlineValue;
      } else if (i + 1 < words.size()) {
        FValues[name] = words[++i];
      } else {
        throw UsageError("option " + name + " needs a value", FUsage);
      }
    } else {
      throw UsageError("unknown option " + name, FUsage);
    }
  }
  if (FPositionals.size() < syntax.MinPositionals) throw UsageError("missing argument", FUsage);
  if (syntax.InputPositional && FPositionals.size() == syntax.MaxPositionals + 1) {
    const std::string input = FPositionals.back();
    if (FValues.count("-i"))
      throw UsageError("the input is given twice: with -i " + FValues["-i"] + " and as '" + input + "'", FUsage);
    FValues["-i"] = input;
    FPositionals.pop_back();
  } else if (FPositionals.size() > syntax.MaxPositionals) {
    const std::size_t extra = syntax.MaxPositionals + (syntax.InputPositional ? 1 : 0);
    throw UsageError("unexpected argument '" + FPositionals[extra] + "'" +
                         (syntax.InputPositional ? " (the input file is already '" + FPositionals[extra - 1] + "')" : ""),
                     FUsage);
  }
}

std::optional<std::string> ParsedArgs::Value(const std::string& option) const {
  const auto it = FValues.find(option);
  if (it == FValues.end()) return std::nullopt;
  return it->second;
}

std::string ParsedArgs::Required(const std::string& option) const {
  const auto value = Value(option);
  if (!value) throw UsageError("option " + option + " is required", FUsage);
  return *value;
}

bool ParsedArgs::Flag(const std::string& flag) const { return Contains(FFlags, flag); }

std::string Listed(const std::vector<std::string>& words, const char* last) {
  std::string list;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0 && i + 1 == words.size()) {
      list += ' ';
      list += last;
      list += ' ';
    } else if (i > 0) {
      list += ", ";
    }
    list += words[i];
  }
  return list;
}

void RequireOneStandardInput(const ParsedArgs& args, std::initializer_list<std::pair<const char*, bool>> readers) {
  std::vector<std::string> users;
  for (const auto& [option, byDefault] : readers) {
    const auto value = args.Value(option);
    if (value ? *value == "-" : byDefault) users.push_back(option);
  }
  if (users.size() < 2) return;
  throw UsageError("standard input can be read only once, but " +
                       (users.size() == 2 ? "both " + Listed(users, "and") + " read it; name a file for one of them"
                                          : Listed(users, "and") + " all read it; name files for all of them but one"),
                   args.Usage());
}

}  // namespace Qrsa
