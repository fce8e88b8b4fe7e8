// The command table of vantrel-cli and the argument reading they share.
#pragma once

#include <string>
#include <vector>

#include "engine/records.h"

namespace vt {

using CommandFunction = int (*)(const std::vector<std::string>& args);

struct CommandEntry {
  const char* name;
  CommandFunction run;
  const char* operands;  // what follows the command name in the usage text
  const char* help;
};

// One option: the usage text and the parser are both made from the table
// of these, so the two say the same.
struct OptionEntry {
  const char* name;      // without the leading "--"
  const char* value;     // the value's name in the usage text; null for a flag
  const char* commands;  // the commands that take it, blank separated; "*" for all
  const char* help;
};

const CommandEntry* FindCommand(const std::string& name);
// The options `command` takes ("" for the options before any command).
std::vector<const OptionEntry*> CommandOptions(const std::string& command);
// The whole --help text.
std::string UsageText();
// The program's version, the same as in the Windows version resource.
const char* VersionText();

// Splits a command's arguments into positional ones and --options. Options
// listed in withValue take the next argument (or "=value"); flags take none.
struct CParsedArgs {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  std::string error;
  bool Has(const std::string& name) const;
  std::string Get(const std::string& name, const std::string& fallback = std::string()) const;
  std::vector<std::string> GetAll(const std::string& name) const;
};

CParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                      const std::vector<std::string>& withValue);

// ParseArgs with the flags and valued options the option table gives the
// command.
CParsedArgs ParseCommandArgs(const std::string& command, const std::vector<std::string>& args);

// Reads --letter (default V) as an upper-case drive letter.
bool ReadLetterOption(const CParsedArgs& parsed, char* letter, std::string* error);

// The engine's error list as the "errors" array of --json output.
class CJsonWriter;
class CDefrag;
void WriteErrorList(CJsonWriter& json, const CDefrag& engine);
void WriteErrorList(CJsonWriter& json, const std::vector<CFileErrors>& errors);

// Opens the one VOLUME of a command and analyses it (from the cache with
// --cache, keeping a map when asked); prints the failure and returns its code.
class CCliSession;
int OpenAndAnalyze(const CParsedArgs& parsed, CCliSession& session, bool map);

// Prints "vantrel-cli: <text>" on stderr and returns code.
int Fail(int code, const std::string& text);

// The system's message for an error code on one line, and the same after
// "error N: ".
class ISystemOps;
std::string SystemMessageText(ISystemOps& system, DWORD error);
std::string SystemMessageLine(ISystemOps& system, DWORD error);
// Prints every file that could not be processed with its error and the
// system's message on stderr; returns how many there were.
int PrintFailures(const std::vector<CFileErrors>& errors);
// False, with the reason, when writing `output` would overwrite the
// command's VOLUME (by any name: a link, a loop device of it, a partition).
bool CheckOutputPath(const CParsedArgs& parsed, const std::string& output, std::string* error);
// Why an operation that no one stopped ended early: the last move the
// volume refused, with the system's message.
std::string StopReason(const CDefrag& engine, ISystemOps& system);
// The drive letter a Windows path names (upper case), '?' for another
// device form, 0 for a path without one.
char PathDriveLetter(const std::string& path);

int RunAnalyze(const std::vector<std::string>& args);
int RunFiles(const std::vector<std::string>& args);
int RunSettings(const std::vector<std::string>& args);
int RunDefragFile(const std::vector<std::string>& args);
int RunDefrag(const std::vector<std::string>& args);
int RunFreeSpace(const std::vector<std::string>& args);
int RunMap(const std::vector<std::string>& args);
int RunLogs(const std::vector<std::string>& args);
int RunRetrim(const std::vector<std::string>& args);

}  // namespace vt
