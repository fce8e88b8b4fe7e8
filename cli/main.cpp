// vantrel-cli: the engine on the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/session.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char kUsage[] =
    "usage: vantrel-cli COMMAND VOLUME [options]\n"
    "\n"
    "VOLUME is a FAT volume image (or an unmounted block device), or in the\n"
    "Windows build a drive such as C:. An image appears as drive V: unless\n"
    "--letter says otherwise.\n"
    "\n"
    "commands:\n"
    "  analyze VOLUME [--json]                  analyse and print the drive's figures\n"
    "  files VOLUME [--all] [--filter TEXT] [--json]\n"
    "                                           list fragmented files (--all: every file)\n"
    "  defrag-file VOLUME PATH... [--placement best-fit|outer-track]\n"
    "              [--move-anyway|--skip-unfragmented] [--json]\n"
    "                                           defragment the named files as one batch\n"
    "  defrag VOLUME [--filter all|size:BYTES|degree:PERCENT|only:.ext,..|exclude:.ext,..]\n"
    "                                           defragment the drive (filter from the settings\n"
    "                                           when not given)\n"
    "  freespace VOLUME [--mode dont-fragment|maximize]\n"
    "                                           consolidate free space (mode from the settings)\n"
    "  map VOLUME --png FILE [--width PX] [--height PX] [--block-size 1..10]\n"
    "             [--uncompressed] [--first-cluster N]\n"
    "                                           draw the cluster map as a picture\n"
    "  map VOLUME --bytes FILE                  write the map's state bytes, one per cluster\n"
    "  logs [list | show NAME [--raw] | delete [--yes]]\n"
    "                                           the log files of the run reports\n"
    "  settings [get KEY | set KEY VALUE | list | path] [--file INI]\n"
    "                                           read or write the settings file\n"
    "\n"
    "common options:\n"
    "  --letter L                               drive letter of the image (default V)\n"
    "  --cache                                  (analyze, files) reuse and keep the analysis cache\n"
    "  --json                                   machine-readable output\n"
    "  --log                                    (operations) append the report to today's log\n"
    "                                           file when SaveLogFiles is on\n"
    "  --png FILE                               (defrag, freespace) draw the map afterwards, moves\n"
    "                                           marked\n"
    "  --help                                   this text\n"
    "\n"
    "exit status: 0 success, 1 the operation failed, 2 bad usage or an unreadable volume\n";

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The arguments come in the process's code page, UTF-8 by the manifest;
  // the console shows the output in the same.
  ::SetConsoleOutputCP(CP_UTF8);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return vt::EXIT_USAGE;
  }
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return vt::EXIT_OK;
    }
  }
  const std::string command = args[0];
  args.erase(args.begin());
  const vt::CommandEntry* entry = vt::FindCommand(command);
  if (!entry) {
    std::fprintf(stderr, "vantrel-cli: unknown command '%s' (see --help)\n", command.c_str());
    return vt::EXIT_USAGE;
  }
  return entry->run(args);
}
