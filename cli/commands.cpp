#include "cli/commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "cli/json_writer.h"
#include "cli/session.h"
#include "cli/text_out.h"
#include "engine/defrag.h"
#include "platform/system_ops.h"
#include "vt_version.h"

namespace vt {

namespace {
const CommandEntry kCommands[] = {
    {"analyze", &RunAnalyze, "VOLUME", "analyse and print the drive's figures"},
    {"files", &RunFiles, "VOLUME", "list fragmented files (--all: every file)"},
    {"defrag-file", &RunDefragFile, "VOLUME PATH...", "defragment the named files as one batch"},
    {"defrag", &RunDefrag, "VOLUME",
     "defragment the drive (filter from the settings when not given)"},
    {"freespace", &RunFreeSpace, "VOLUME",
     "consolidate free space (mode from the settings when not given)"},
    {"map", &RunMap, "VOLUME", "draw the cluster map as a picture, or write its state bytes"},
    {"retrim", &RunRetrim, "VOLUME", "give the free clusters back to the storage (trim)"},
    {"logs", &RunLogs, "[list | show NAME | delete]", "the log files of the run reports"},
    {"settings", &RunSettings, "[get KEY | set KEY VALUE | list | path]",
     "read or write the settings file"},
};

const OptionEntry kOptions[] = {
    {"letter", "L", "analyze files defrag-file defrag freespace map retrim",
     "drive letter of the image (default V)"},
    {"json", nullptr, "analyze files defrag-file defrag freespace retrim",
     "machine-readable output (no progress line)"},
    {"cache", nullptr, "analyze files", "reuse and keep the analysis cache"},
    {"all", nullptr, "files", "every file, not only the fragmented ones"},
    {"filter", "TEXT", "files", "only paths that contain TEXT"},
    {"placement", "best-fit|outer-track", "defrag-file", "where the files go (default best-fit)"},
    {"move-anyway", nullptr, "defrag-file", "move files that are not fragmented too"},
    {"skip-unfragmented", nullptr, "defrag-file", "leave files that are not fragmented"},
    {"filter", "all|size:BYTES|degree:PERCENT|only:.ext,..|exclude:.ext,..", "defrag",
     "which fragmented files the pass takes"},
    {"make-room", "on|off", "defrag",
     "move files out of the way of files no free run holds (default from the settings)"},
    {"mode", "dont-fragment|maximize", "freespace", "how far files may be split"},
    {"log", nullptr, "defrag-file defrag freespace retrim",
     "append the report to today's log file when SaveLogFiles is on"},
    {"png", "FILE", "defrag freespace map",
     "draw the map as a picture (after an operation, its moves marked)"},
    {"bytes", "FILE", "map", "write the map's state bytes, one per cluster"},
    {"width", "PX", "defrag freespace map", "width of the picture"},
    {"height", "PX", "defrag freespace map", "height of the picture"},
    {"block-size", "1..10", "defrag freespace map", "size of a block in pixels"},
    {"uncompressed", nullptr, "defrag freespace map", "one block per cluster, the map scrolls"},
    {"first-cluster", "N", "defrag freespace map", "the first cluster of an uncompressed map"},
    {"raw", nullptr, "logs", "show a log file as it is stored"},
    {"yes", nullptr, "logs", "answer yes to the question before deleting"},
    {"file", "INI", "settings", "another settings file"},
    {"quiet", nullptr, "*", "no progress line"},
    {"version", nullptr, "", "print the version and end"},
    {"help", nullptr, "", "this text"},
};

bool TakesOption(const OptionEntry& option, const std::string& command) {
  const std::string list = option.commands;
  if (list == "*") return true;
  if (command.empty()) return list.empty();
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find(' ', at);
    if (end == std::string::npos) end = list.size();
    if (list.compare(at, end - at, command) == 0) return true;
    at = end + 1;
  }
  return false;
}

std::string OptionText(const OptionEntry& option) {
  std::string text = std::string("--") + option.name;
  if (option.value) text += std::string(" ") + option.value;
  return text;
}

// `text` at column 2, `help` from column 30 on, its words wrapped before
// column 80 (on a line of its own when `text` leaves no room).
void AddRow(std::string* out, const std::string& text, const std::string& help) {
  std::string line = "  " + text;
  if (line.size() > 28) {
    *out += line + "\n";
    line.clear();
  }
  line.resize(30, ' ');
  bool first = true;
  size_t at = 0;
  while (at < help.size()) {
    size_t end = help.find(' ', at);
    if (end == std::string::npos) end = help.size();
    const std::string word = help.substr(at, end - at);
    if (!first && line.size() + 1 + word.size() > 79) {
      *out += line + "\n";
      line.assign(30, ' ');
      first = true;
    }
    line += (first ? "" : " ") + word;
    first = false;
    at = end + 1;
  }
  *out += line + "\n";
}
}  // namespace

const CommandEntry* FindCommand(const std::string& name) {
  for (const auto& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

std::vector<const OptionEntry*> CommandOptions(const std::string& command) {
  std::vector<const OptionEntry*> out;
  for (const auto& o : kOptions)
    if (TakesOption(o, command)) out.push_back(&o);
  return out;
}

CParsedArgs ParseCommandArgs(const std::string& command, const std::vector<std::string>& args) {
  std::vector<std::string> flags, withValue;
  for (const OptionEntry* o : CommandOptions(command))
    (o->value ? withValue : flags).push_back(o->name);
  return ParseArgs(args, flags, withValue);
}

const char* VersionText() { return VT_VERSION_TEXT; }

std::string UsageText() {
  std::string out =
      "usage: vantrel-cli COMMAND VOLUME [options]\n"
      "       vantrel-cli --version | --help\n"
      "\n"
      "VOLUME is a FAT or NTFS volume image (or an unmounted block device), or in\n"
      "the Windows build a drive such as C:. An image appears as drive V: unless\n"
      "--letter says otherwise.\n"
      "\ncommands:\n";
  for (const auto& c : kCommands) {
    AddRow(&out, std::string(c.name) + " " + c.operands, c.help);
    std::string names;
    for (const OptionEntry* o : CommandOptions(c.name))
      if (std::string(o->commands) != "*")
        names += (names.empty() ? "--" : " --") + std::string(o->name);
    if (!names.empty()) AddRow(&out, "", "options: " + names);
  }
  out += "\noptions:\n";
  for (const auto& o : kOptions) {
    std::string where = o.commands;
    if (where == "*")
      where = "every command";
    else if (where.empty())
      where = "alone";
    AddRow(&out, OptionText(o), std::string(o.help) + " (" + where + ")");
  }
  out +=
      "\nCtrl-C stops an operation after the move in progress; a second Ctrl-C ends\n"
      "at once.\n"
      "\nCommands that move clusters refuse a volume that is damaged, mounted by this\n"
      "system or being written by another vantrel-cli, and nothing is written then.\n"
      "\nexit status: 0 success, 1 the operation failed (also when a file could not\n"
      "be moved), 2 bad usage, an unreadable or damaged volume (a command that only\n"
      "reads still prints what it could read), or one refused for writing, 130\n"
      "stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP\n";
  return out;
}

bool CParsedArgs::Has(const std::string& name) const {
  for (const auto& o : options)
    if (o.first == name) return true;
  return false;
}

std::string CParsedArgs::Get(const std::string& name, const std::string& fallback) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it)
    if (it->first == name) return it->second;
  return fallback;
}

std::vector<std::string> CParsedArgs::GetAll(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& o : options)
    if (o.first == name) out.push_back(o.second);
  return out;
}

CParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                      const std::vector<std::string>& withValue) {
  CParsedArgs parsed;
  auto listed = [](const std::vector<std::string>& list, const std::string& name) {
    for (const auto& l : list)
      if (l == name) return true;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2);
      std::string value;
      bool inlineValue = false;
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
      if (listed(flags, name)) {
        if (inlineValue) {
          parsed.error = "option --" + name + " takes no value";
          return parsed;
        }
        parsed.options.push_back({name, std::string()});
      } else if (listed(withValue, name)) {
        if (!inlineValue) {
          if (i + 1 >= args.size()) {
            parsed.error = "option --" + name + " needs a value";
            return parsed;
          }
          value = args[++i];
        }
        parsed.options.push_back({name, value});
      } else {
        parsed.error = "unknown option --" + name;
        return parsed;
      }
    } else {
      parsed.positional.push_back(a);
    }
  }
  return parsed;
}

bool ReadLetterOption(const CParsedArgs& parsed, char* letter, std::string* error) {
  std::string text = parsed.Get("letter", "V");
  if (text.size() == 2 && text[1] == ':') text.resize(1);
  if (text.size() != 1 || !std::isalpha(static_cast<unsigned char>(text[0]))) {
    *error = "--letter takes one drive letter, A to Z";
    return false;
  }
  *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return true;
}

void WriteErrorList(CJsonWriter& json, const CDefrag& engine) {
  std::vector<CFileErrors> errors;
  for (const auto& e : engine.m_errors) errors.push_back(e);
  WriteErrorList(json, errors);
}

void WriteErrorList(CJsonWriter& json, const std::vector<CFileErrors>& errors) {
  json.Key("errors");
  json.BeginArray();
  for (const auto& e : errors) {
    json.BeginObject();
    json.Field("path", e.m_strPath);
    json.Field("size", e.m_nSize);
    json.Field("error", e.m_dwError);
    json.Field("message", e.m_strMessage.empty() && e.m_dwError != 0
                              ? SystemMessageText(HostSystem(), e.m_dwError)
                              : e.m_strMessage);
    json.EndObject();
  }
  json.EndArray();
}

int OpenAndAnalyze(const CParsedArgs& parsed, CCliSession& session, bool map) {
  if (!parsed.error.empty()) return Fail(EXIT_USAGE, parsed.error);
  if (parsed.positional.size() != 1)
    return Fail(EXIT_USAGE, "name exactly one VOLUME (see --help)");
  char letter = 'V';
  std::string error;
  if (!ReadLetterOption(parsed, &letter, &error)) return Fail(EXIT_USAGE, error);
  int rc = session.Open(parsed.positional[0], letter, &error);
  if (rc != EXIT_OK) return Fail(rc, error);
  if (map) session.EnableMap();
  session.UseCache(parsed.Has("cache"));
  rc = session.Analyze(&error);
  if (rc != EXIT_OK) return Fail(rc, error);
  session.NoteDamage();
  return EXIT_OK;
}

int Fail(int code, const std::string& text) {
  std::fprintf(stderr, "vantrel-cli: %s\n", text.c_str());
  return code;
}

std::string SystemMessageText(ISystemOps& system, DWORD error) {
  std::string text = system.FormatSystemMessage(error);
  for (char& c : text)
    if (c == '\n') c = ' ';
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string SystemMessageLine(ISystemOps& system, DWORD error) {
  return "error " + std::to_string(error) + ": " + SystemMessageText(system, error);
}

int PrintFailures(const std::vector<CFileErrors>& errors) {
  int count = 0;
  for (const CFileErrors& e : errors) {
    if (e.m_dwError == 0) continue;
    ++count;
    std::fprintf(stderr, "vantrel-cli: %s: %s\n", AnsiForTerminal(e.m_strPath).c_str(),
                 SystemMessageLine(HostSystem(), e.m_dwError).c_str());
  }
  return count;
}

bool CheckOutputPath(const CParsedArgs& parsed, const std::string& output, std::string* error) {
  if (parsed.positional.empty() || !OutputIsVolume(output, parsed.positional[0])) return true;
  *error = "will not write " + output + ": it is the volume " + parsed.positional[0] +
           " itself; name another file";
  return false;
}

std::string StopReason(const CDefrag& engine, ISystemOps& system) {
  for (size_t i = engine.m_errors.GetSize(); i-- > 0;) {
    const CFileErrors& e = engine.m_errors[i];
    if (e.m_dwError != 0)
      return "the volume refused to move " + e.m_strPath + ": " +
             SystemMessageLine(system, e.m_dwError);
  }
  return "the operation stopped before its end";
}

char PathDriveLetter(const std::string& path) {
  size_t at = 0;
  // \\?\C:\ and \\.\C:\ name the drive as C:\ does.
  if (path.size() >= 4 && (path[0] == '\\' || path[0] == '/') &&
      (path[1] == '\\' || path[1] == '/') && (path[2] == '?' || path[2] == '.') &&
      (path[3] == '\\' || path[3] == '/'))
    at = 4;
  if (path.size() < at + 2 || path[at + 1] != ':' ||
      !std::isalpha(static_cast<unsigned char>(path[at])))
    return at == 4 ? '?' : 0;  // \\?\Volume{...}: no drive of ours
  return static_cast<char>(std::toupper(static_cast<unsigned char>(path[at])));
}

}  // namespace vt
