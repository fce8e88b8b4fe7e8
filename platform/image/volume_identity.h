// What bytes a host path reaches, whatever name it goes by: an image file
// through any hard link or symbolic link, the loop devices backed by it, a
// partition and its whole disk all name the same bytes. Writers lock on
// that identity, and outputs that would land on a volume are refused by it.
#pragma once

#include <cstdint>
#include <string>

#include "base/winshapes.h"

namespace vt {

struct CBackingIdentity {
  enum EKind { kUnknown, kFile, kDisk };
  EKind m_eKind = kUnknown;
  // A file: its file system's device and its inode (on Windows the volume
  // serial number and file index). A disk: the whole disk's device number.
  uint64_t m_nDevice = 0;
  uint64_t m_nInode = 0;

  bool IsKnown() const { return m_eKind != kUnknown; }
  bool operator==(const CBackingIdentity& other) const {
    return IsKnown() && m_eKind == other.m_eKind && m_nDevice == other.m_nDevice &&
           m_nInode == other.m_nInode;
  }
  // A file name made of the identity, for the lock file.
  std::string Key() const;
};

// The identity of the bytes behind `path`; unknown when it does not exist.
// A loop device (or one of its partitions) answers for its backing file,
// a partition for its whole disk.
CBackingIdentity BackingIdentity(const std::string& path);

// Whether writing to `output` would write into the bytes of `volume`. An
// output that does not exist yet is a new file and never the volume.
bool WritesIntoVolume(const std::string& output, const std::string& volume);

// The lock every writer of a volume takes, whichever path it came by: an
// exclusive lock on a file in the host's lock folder named after the
// identity. The kernel drops it with the process, however that ends. On
// Windows the deny-write share mode of the opened image or volume does the
// same job for every name of it, and this holds nothing.
class CWriterLock {
 public:
  CWriterLock() = default;
  ~CWriterLock();
  CWriterLock(const CWriterLock&) = delete;
  CWriterLock& operator=(const CWriterLock&) = delete;

  // ERROR_SUCCESS; ERROR_SHARING_VIOLATION when another process holds it;
  // ERROR_LOCK_VIOLATION with the reason when no lock could be made.
  DWORD Take(const CBackingIdentity& identity, std::string* message);

 private:
  int m_nFd = -1;
};

// Where the lock files live: /run/lock, else the temporary folder.
std::string WriterLockFolder();

}  // namespace vt
