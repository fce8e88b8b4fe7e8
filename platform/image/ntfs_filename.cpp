#include "platform/image/ntfs_filename.h"

#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

namespace {

// File-name value.
constexpr size_t kParent = 0x00;
constexpr size_t kCreation = 0x08;
constexpr size_t kWrite = 0x10;
constexpr size_t kChange = 0x18;
constexpr size_t kAccess = 0x20;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kDataSize = 0x30;
constexpr size_t kFlags = 0x38;
constexpr size_t kNameLength = 0x40;
constexpr size_t kNamespace = 0x41;
constexpr size_t kName = 0x42;

// Standard information (the NTFS 1.x part that every version has).
constexpr size_t kSiCreation = 0x00;
constexpr size_t kSiWrite = 0x08;
constexpr size_t kSiChange = 0x10;
constexpr size_t kSiAccess = 0x18;
constexpr size_t kSiAttributes = 0x20;
constexpr size_t kSiMinSize = 0x30;

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
