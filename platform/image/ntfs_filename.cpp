#include "platform/image/ntfs_filename.h"

#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

namespace {

using namespace fname;
constexpr size_t kCreation = kCreationTime;
constexpr size_t kWrite = kWriteTime;
constexpr size_t kChange = kChangeTime;
constexpr size_t kAccess = kAccessTime;
constexpr size_t kSiCreation = si::kCreationTime;
constexpr size_t kSiWrite = si::kWriteTime;
constexpr size_t kSiChange = si::kChangeTime;
constexpr size_t kSiAccess = si::kAccessTime;
constexpr size_t kSiAttributes = si::kAttributes;
constexpr size_t kSiMinSize = si::kMinSize;

// The Win32 attribute bits NTFS keeps (directory excepted: NTFS marks
// folders with kFileNameIsDirectory instead).
constexpr uint32_t kWin32Bits = 0x0000FFFF & ~static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY);

FILETIME ReadTime(const uint8_t* p) {
  FILETIME t;
  t.dwLowDateTime = Le32(p);
  t.dwHighDateTime = Le32(p + 4);
  return t;
}

}  // namespace

DWORD Win32AttributesOf(uint32_t ntfsAttributes, bool isDirectory) {
  DWORD attributes = ntfsAttributes & kWin32Bits;
  if (isDirectory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  return attributes;
}

bool CFileName::IsDirectory() const { return (m_nFlags & kFileNameIsDirectory) != 0; }

DWORD CFileName::Win32Attributes() const { return Win32AttributesOf(m_nFlags, IsDirectory()); }

DWORD ParseFileName(const uint8_t* value, size_t size, CFileName* name) {
  if (size < kName) return ERROR_FILE_CORRUPT;
  const size_t length = value[kNameLength];
  if (length == 0 || kName + 2 * length > size) return ERROR_FILE_CORRUPT;
  CFileName n;
  n.m_nParent = Le64(value + kParent);
  n.m_ftCreation = ReadTime(value + kCreation);
  n.m_ftWrite = ReadTime(value + kWrite);
  n.m_ftChange = ReadTime(value + kChange);
  n.m_ftAccess = ReadTime(value + kAccess);
  n.m_nAllocatedSize = Le64(value + kAllocatedSize);
  n.m_nDataSize = Le64(value + kDataSize);
  n.m_nFlags = Le32(value + kFlags);
  n.m_nNamespace = value[kNamespace];
  n.m_name.resize(length);
  for (size_t i = 0; i < length; ++i) {
    n.m_name[i] = static_cast<char16_t>(Le16(value + kName + 2 * i));
  }
  *name = std::move(n);
  return ERROR_SUCCESS;
}

DWORD ParseStandardInformation(const uint8_t* value, size_t size, CStandardInformation* info) {
  if (size < kSiMinSize) return ERROR_FILE_CORRUPT;
  info->m_ftCreation = ReadTime(value + kSiCreation);
  info->m_ftWrite = ReadTime(value + kSiWrite);
  info->m_ftChange = ReadTime(value + kSiChange);
  info->m_ftAccess = ReadTime(value + kSiAccess);
  info->m_nAttributes = Le32(value + kSiAttributes);
  return ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
