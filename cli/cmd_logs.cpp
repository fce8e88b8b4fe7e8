// logs: the log files of the run reports.
#include <cstdio>

#include "cli/commands.h"
#include "cli/console_host.h"
#include "cli/session.h"
#include "cli/text_out.h"
#include "platform/settings_folder.h"
#include "report/log_files.h"
#include "report/rtf_text.h"

namespace vt {

int RunLogs(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("logs", args);
  if (!parsed.error.empty()) return Fail(EXIT_USAGE, parsed.error);
  const std::vector<std::string>& p = parsed.positional;
  const std::string verb = p.empty() ? "list" : p[0];
  const std::string folder = SettingsFolder();
  if (folder.empty()) return Fail(EXIT_FAILED, "there is no settings folder for log files");
  CLogFiles logs(folder);
  CConsolePrompt prompt(parsed.Has("yes") ? IDYES : IDNO);
  prompt.SetEcho(true);

  if (verb == "list" && p.size() <= 1) {
    for (const auto& name : logs.ListLogs()) std::printf("%s\n", name.c_str());
    return EXIT_OK;
  }
  if (verb == "show" && p.size() == 2) {
    std::string bytes;
    switch (logs.ReadLogForViewing(p[1], prompt, &bytes)) {
      case LogReadResult::Ok:
        break;
      case LogReadResult::Empty:
        return EXIT_OK;
      case LogReadResult::BadName:
        return Fail(EXIT_USAGE, "name a log file of the list (a plain file name)");
      case LogReadResult::Unreadable:
      default:
        return Fail(EXIT_FAILED, "the log file " + p[1] + " cannot be read");
    }
    if (!parsed.Has("raw") && IsRtfData(bytes)) bytes = RtfToText(bytes);
    PrintText(bytes);
    return EXIT_OK;
  }
  if (verb == "delete" && p.size() == 1) {
    switch (logs.DeleteAllLogs(prompt)) {
      case LogDeleteResult::Deleted:
        return EXIT_OK;
      case LogDeleteResult::Cancelled:
        return Fail(EXIT_FAILED, "nothing deleted (confirm with --yes)");
      case LogDeleteResult::Failed:
      default:
        return EXIT_FAILED;
    }
  }
  return Fail(EXIT_USAGE, "logs [list | show NAME [--raw] | delete [--yes]]");
}

}  // namespace vt
