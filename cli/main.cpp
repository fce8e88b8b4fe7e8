// vantrel-cli: the engine on the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_host.h"
#include "cli/session.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  // The arguments come in the process's code page, UTF-8 by the manifest;
  // the console shows the output in the same.
  vt::UseUtf8Console();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(vt::UsageText().c_str(), stderr);
    return vt::EXIT_USAGE;
  }
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(vt::UsageText().c_str(), stdout);
      return vt::EXIT_OK;
    }
    if (a == "--version") {
      std::printf("vantrel-cli %s\n", vt::VersionText());
      return vt::EXIT_OK;
    }
  }
  // --quiet belongs to every command and is taken out here; --json output
  // never shares the terminal with a progress line.
  std::vector<std::string> rest;
  for (const auto& a : args) {
    if (a == "--quiet")
      vt::SetQuietProgress(true);
    else
      rest.push_back(a);
    if (a == "--json") vt::SetQuietProgress(true);
  }
  const std::string command = rest.empty() ? std::string() : rest[0];
  const vt::CommandEntry* entry = vt::FindCommand(command);
  if (!entry) {
    std::fprintf(stderr, "vantrel-cli: unknown command '%s' (see --help)\n", command.c_str());
    return vt::EXIT_USAGE;
  }
  rest.erase(rest.begin());
  vt::InstallInterruptHandler();
  const int rc = entry->run(rest);
  return vt::InterruptRequested() ? vt::InterruptExitCode() : rc;
}
