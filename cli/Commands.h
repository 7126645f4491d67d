// The tool's commands: each takes the words after the command name and returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "cli/Args.h"

namespace Qrsa {

struct Command {
  const char* Name;
  CommandSyntax Syntax;
  int (*Run)(const ParsedArgs& args);
  const char* Summary;  // one line for the help text
  std::string Options;  // every option, one or more lines each, for `qrsa help CMD`
  std::string Example;
};

// Every command, in the order the help lists them.
const std::vector<Command>& Commands();

// The envelope commands (seal and open, in cli/EnvelopeCommands.cpp) followed by `others`.
std::vector<Command> WithEnvelopeCommands(std::vector<Command> others);

// The walk-through of a session-key exchange between a sender and a receiver.
int RunDemo(const ParsedArgs& args);

}  // namespace Qrsa
