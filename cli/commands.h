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
};

const CommandEntry* FindCommand(const std::string& name);

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

int RunAnalyze(const std::vector<std::string>& args);
int RunFiles(const std::vector<std::string>& args);
int RunSettings(const std::vector<std::string>& args);
int RunDefragFile(const std::vector<std::string>& args);
int RunDefrag(const std::vector<std::string>& args);
int RunFreeSpace(const std::vector<std::string>& args);
int RunMap(const std::vector<std::string>& args);
int RunLogs(const std::vector<std::string>& args);

}  // namespace vt
