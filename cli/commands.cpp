#include "cli/commands.h"

#include <cctype>
#include <cstdio>

#include "cli/json_writer.h"
#include "cli/session.h"

namespace vt {

namespace {
const CommandEntry kCommands[] = {
    {"analyze", &RunAnalyze},
    {"files", &RunFiles},
    {"settings", &RunSettings},
    {"defrag-file", &RunDefragFile},
    {"defrag", &RunDefrag},
    {"freespace", &RunFreeSpace},
    {"map", &RunMap},
    {"logs", &RunLogs},
};
}  // namespace

const CommandEntry* FindCommand(const std::string& name) {
  for (const auto& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
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
    json.Field("message", e.m_strMessage);
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
  return EXIT_OK;
}

int Fail(int code, const std::string& text) {
  std::fprintf(stderr, "vantrel-cli: %s\n", text.c_str());
  return code;
}

}  // namespace vt
