// The values that describe a file: a file name (in records and as the key
// of folder index entries) and the standard information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/winshapes.h"

namespace vt {
namespace ntfs {

struct CFileName {
  uint64_t m_nParent = 0;  // file reference of the folder
  FILETIME m_ftCreation = {0, 0};
  FILETIME m_ftWrite = {0, 0};
  FILETIME m_ftChange = {0, 0};  // of the record
  FILETIME m_ftAccess = {0, 0};
  uint64_t m_nAllocatedSize = 0;
  uint64_t m_nDataSize = 0;
  uint32_t m_nFlags = 0;  // file attributes plus kFileNameIsDirectory ...
  uint8_t m_nNamespace = 0;
  std::u16string m_name;

  bool IsDirectory() const;
  // The attributes FindFirstFileA reports for this name.
  DWORD Win32Attributes() const;
};

// Decodes a file-name value. ERROR_FILE_CORRUPT when the value is shorter
// than its fixed part or its name, or the name is empty.
DWORD ParseFileName(const uint8_t* value, size_t size, CFileName* name);

struct CStandardInformation {
  FILETIME m_ftCreation = {0, 0};
  FILETIME m_ftWrite = {0, 0};
  FILETIME m_ftChange = {0, 0};
  FILETIME m_ftAccess = {0, 0};
  uint32_t m_nAttributes = 0;
};

// Decodes a standard-information value; ERROR_FILE_CORRUPT when too short.
DWORD ParseStandardInformation(const uint8_t* value, size_t size, CStandardInformation* info);

// Win32 attributes from NTFS file attributes: the directory flag from
// `isDirectory`, FILE_ATTRIBUTE_NORMAL when nothing else is set.
DWORD Win32AttributesOf(uint32_t ntfsAttributes, bool isDirectory);

}  // namespace ntfs
}  // namespace vt
