// The storage under a mounted volume: an image file, an unmounted block
// device, or a buffer in memory. Offsets are 64-bit byte offsets; every call
// answers with a Windows error code (ERROR_SUCCESS on success).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/winshapes.h"
#include "platform/image/volume_identity.h"
#include "platform/volume_ops.h"

namespace vt {

class CBlockDevice {
 public:
  virtual ~CBlockDevice() = default;

  virtual uint64_t Size() const = 0;
  virtual bool IsReadOnly() const = 0;
  // Reads exactly `size` bytes; a range outside the device is
  // ERROR_SECTOR_NOT_FOUND and nothing is read.
  virtual DWORD Read(uint64_t offset, void* buffer, size_t size) = 0;
  // Writes exactly `size` bytes inside the device (it never grows).
  virtual DWORD Write(uint64_t offset, const void* buffer, size_t size) = 0;
  // Pushes written data to stable storage.
  virtual DWORD Flush() = 0;
  // After a flush: lets the next reads of the range come from the storage
  // itself rather than from a cache, so that reading back checks the media
  // (and may start reading it from there, for the reads to come).
  virtual void DropCached(uint64_t offset, size_t size) { (void)offset, (void)size; }
  // After a flush: reads the range from the storage itself, past every
  // cache, into `buffer`. ERROR_NOT_SUPPORTED where the device cannot (or
  // not at this offset, size or buffer address); the caller then reads back
  // after DropCached.
  virtual DWORD ReadStored(uint64_t offset, void* buffer, size_t size) {
    (void)offset, (void)buffer, (void)size;
    return ERROR_NOT_SUPPORTED;
  }
  // The storage under the device: seek penalty and trim (media_query.cpp).
  virtual VOLUME_MEDIA_INFO QueryMedia() const {
    return VOLUME_MEDIA_INFO{SEEK_PENALTY_UNKNOWN, 0};
  }
  // The unit the storage gives space back in; 0 where it cannot.
  virtual uint64_t DiscardUnit() const { return 0; }
  // Gives the storage of a range back (both ends multiples of DiscardUnit):
  // a hole in an image file, a discard on a device. The range reads as
  // zeros afterwards or keeps its bytes; either way it holds nothing.
  virtual DWORD Discard(uint64_t offset, uint64_t size) {
    (void)offset, (void)size;
    return ERROR_NOT_SUPPORTED;
  }
  // The path the device was opened by, for the state kept beside it (the
  // intent records of moves); empty for a device without one.
  virtual std::string StatePath() const { return std::string(); }
  virtual bool IsBlockDevice() const { return false; }

 protected:
  bool InRange(uint64_t offset, size_t size) const {
    return offset <= Size() && size <= Size() - offset;
  }
};

// The refusal of a second writer to the same image or device.
extern const char kInUseByVantrel[];
// The text that refuses a path naming neither an image file nor a device.
std::string NotAVolumeMessage(const std::string& path);

// An image file or a block device node of the host, opened read-only or
// read-write; anything else (a FIFO, a terminal) is refused before it is
// opened. A writer holds the write lock of the bytes behind the path (see
// CWriterLock; a deny-write share mode on Windows) for as long as the
// device is open, and is refused
// a volume the host has mounted (ERROR_BUSY) or another writer holds
// (ERROR_SHARING_VIOLATION), with the message to show.
class CFileBlockDevice : public CBlockDevice {
 public:
  ~CFileBlockDevice() override;
  CFileBlockDevice(const CFileBlockDevice&) = delete;
  CFileBlockDevice& operator=(const CFileBlockDevice&) = delete;

  // ERROR_SUCCESS, or a Windows error code with a one-line reason.
  static DWORD Open(const std::string& path, bool readOnly, std::unique_ptr<CBlockDevice>* device,
                    std::string* message);

  uint64_t Size() const override { return m_nSize; }
  bool IsReadOnly() const override { return m_bReadOnly; }
  DWORD Read(uint64_t offset, void* buffer, size_t size) override;
  DWORD Write(uint64_t offset, const void* buffer, size_t size) override;
  DWORD Flush() override;
  void DropCached(uint64_t offset, size_t size) override;
  DWORD ReadStored(uint64_t offset, void* buffer, size_t size) override;
  VOLUME_MEDIA_INFO QueryMedia() const override;
  uint64_t DiscardUnit() const override;
  DWORD Discard(uint64_t offset, uint64_t size) override;
  std::string StatePath() const override { return m_strPath; }
  bool IsBlockDevice() const override { return m_bBlock; }

 private:
  CFileBlockDevice() = default;
  std::string m_strPath;
  bool m_bBlock = false;
  // Windows builds hold the handle, the others the descriptor.
  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  bool m_bSparse = false;  // marked sparse, so that zeroed ranges are freed
  int m_nFd = -1;
  // The same file opened again to read past the page cache (O_DIRECT): -1
  // until first needed, -2 where the file system refuses it.
  int m_nStoredFd = -1;
  CWriterLock m_lock;  // held by a writer as long as the device is open
  uint64_t m_nSize = 0;
  bool m_bReadOnly = true;
};

// A volume held in memory (tests, fuzzing). Bytes past the stored data and
// up to the logical size read as zeros, so a large volume whose tail is
// empty costs only its head.
class CMemoryBlockDevice : public CBlockDevice {
 public:
  explicit CMemoryBlockDevice(std::vector<uint8_t> data, bool readOnly = false);
  CMemoryBlockDevice(std::vector<uint8_t> data, uint64_t logicalSize, bool readOnly);

  uint64_t Size() const override { return m_nSize; }
  bool IsReadOnly() const override { return m_bReadOnly; }
  DWORD Read(uint64_t offset, void* buffer, size_t size) override;
  DWORD Write(uint64_t offset, const void* buffer, size_t size) override;
  DWORD Flush() override { return ERROR_SUCCESS; }
  const std::vector<uint8_t>& Data() const { return m_data; }

 private:
  std::vector<uint8_t> m_data;
  uint64_t m_nSize;
  bool m_bReadOnly;
};

}  // namespace vt
