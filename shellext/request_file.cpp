#include "shellext/request_file.h"

namespace vt {

std::string RequestFileText(const std::string& pathList) {
  return std::string(kRequestFileHeader) + "\r\n" + pathList;
}

void AppendRequestPath(std::string* pathList, const char* path, size_t length) {
  pathList->append(path, length);
  pathList->append("\r\n");
}

const char* CommandSwitch(uintptr_t offset) {
  switch (offset) {
    case kCommandAnalyze:
      return "/analyze ";
    case kCommandDefrag:
      return "/defrag ";
    default:
      return nullptr;
  }
}

const char* CommandHelpText(uintptr_t offset) {
  switch (offset) {
    case kCommandAnalyze:
      return "Display fragmentation for the selected files or folders";
    case kCommandDefrag:
      return "Defragment the selected files or folders";
    default:
      return nullptr;
  }
}

bool ProgramBeside(const std::string& libraryPath, std::string* program) {
  size_t slash = libraryPath.rfind('\\');
  if (slash == std::string::npos) return false;
  *program = libraryPath.substr(0, slash + 1) + "Vantrel";
  return true;
}

}  // namespace vt
