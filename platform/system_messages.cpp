// English texts of the system message table for the error codes this program
// meets, for systems that have no message table of their own. They end with
// CR LF as the system's texts do.
#include <cstdio>
#include <string>

#include "base/winshapes.h"

namespace vt {

namespace {
struct MessageEntry {
  DWORD code;
  const char* text;
};

const MessageEntry kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {24, "The program issued a command but the command length is incorrect."},
    {27, "The drive cannot find the sector requested."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of "
     "the file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {267, "The directory name is invalid."},
    {1005,
     "The volume does not contain a recognized file system.\r\nPlease make sure that all "
     "required file system drivers are loaded and that the volume is not corrupted."},
    {1006,
     "The volume for a file has been externally altered so that the opened file is no "
     "longer valid."},
    {1300, "Not all privileges or groups referenced are assigned to the caller."},
    {1313, "A specified privilege does not exist."},
    {1392, "The file or directory is corrupted and unreadable."},
    {1393, "The disk structure is corrupted and unreadable."},
};
}  // namespace

std::string SystemMessageText(DWORD error) {
  for (const auto& m : kMessages)
    if (m.code == error) return std::string(m.text) + "\r\n";
  char buf[64];
  std::snprintf(buf, sizeof(buf), "Unknown error %lu (0x%lX).\r\n",
                static_cast<unsigned long>(error), static_cast<unsigned long>(error));
  return buf;
}

}  // namespace vt
