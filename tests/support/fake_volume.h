// A scriptable volume for engine tests: a folder tree whose files carry the
// extents given by the test, a bitmap, and switches that make single
// operations fail the way Windows fails them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/volume_ops.h"

namespace vt {
namespace test {

struct FakeExtent {
  uint64_t nextVcn;
  uint64_t lcn;  // ~0ull: no clusters on disk
};

struct FakeNode {
  std::string name;
  std::string shortName;  // reported as cAlternateFileName when not empty
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  uint64_t size = 0;
  FILETIME lastWrite = {0x12345678, 0x01D00000};
  uint64_t startingVcn = 0;
  std::vector<FakeExtent> extents;
  // Opening by the long name fails with this error (0: opens).
  DWORD longNameOpenError = 0;
  // Opening by any name fails with this error (0: opens).
  DWORD openError = 0;
  // Retrieval pointers fail with this error (0: answered).
  DWORD extentsError = 0;
  // Size answered by GetFileSizeEx.
  uint64_t handleSize = 0;
  std::vector<std::unique_ptr<FakeNode>> children;

  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  FakeNode* AddFile(const std::string& n, uint64_t sz, std::vector<FakeExtent> ext = {});
  FakeNode* AddFolder(const std::string& n);
};

struct OpenCall {
  std::string path;
  DWORD access;
  DWORD share;
  DWORD flags;
  bool succeeded;
};

class CFakeVolume : public IVolumeOps {
 public:
  explicit CFakeVolume(char letter = 'C');

  // Volume shape.
  std::string fsName = "FAT32";
  DWORD fsFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
  DWORD sectorsPerCluster = 8;
  DWORD bytesPerSector = 512;
  uint64_t totalClusters = 1000;
  std::vector<uint8_t> used;  // one entry per cluster, 1 = in use
  bool hasNtfsData = false;
  NTFS_VOLUME_DATA_BUFFER ntfsData = {};
  // Largest number of extents in one retrieval-pointers reply.
  size_t maxExtentsPerReply = 1000000;
  // Largest number of bitmap bytes in one reply (0: as many as fit).
  size_t maxBitmapBytesPerReply = 0;

  // Failures.
  DWORD volumeNameError = 0;
  DWORD volumeOpenError = 0;
  bool notMounted = false;
  DWORD bitmapError = 0;  // error for every bitmap call
  DWORD bitmapErrorAfterFirst = 0;  // error for every bitmap call after the first
  DWORD diskFreeSpaceError = 0;
  DWORD moveError = 0;           // every move fails with this error
  int movesBeforeFailure = -1;   // moves that succeed before moveError applies (-1: none)
  // Moves land somewhere else than asked (an older system's silent failure).
  bool misplaceMoves = false;
  // After a move succeeds, the moved file's extents can no longer be read.
  DWORD extentsErrorAfterMove = 0;
  // The cancel flag is set once this many moves have succeeded (-1: never).
  int cancelAfterMoves = -1;

  struct MoveCall {
    std::string file;
    uint64_t vcn, lcn;
    uint32_t count;
    bool ok;
  };
  std::vector<MoveCall> moves;

  // Raw bytes of the volume (ReadFile on the volume handle) and the file
  // records handed out by number.
  std::vector<uint8_t> raw;
  std::map<uint64_t, std::vector<uint8_t>> records;
  // Record lengths a reply claims beyond the bytes it returns.
  std::map<uint64_t, uint32_t> claimedRecordLength;
  std::vector<uint64_t> recordRequests;

  FakeNode root;
  // The process's current folder, where a relative path would be opened
  // (none: relative paths are not found).
  FakeNode* currentFolder = nullptr;
  std::vector<OpenCall> opens;
  size_t openHandles() const { return m_handles.size(); }
  size_t bitmapCalls = 0;

  void SetUsed(uint64_t first, uint64_t count, bool on = true);

  HANDLE CreateFileA(const char* path, DWORD access, DWORD share, DWORD creation,
                     DWORD flags) override;
  BOOL CloseHandle(HANDLE h) override;
  BOOL DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out,
                       DWORD outSize, DWORD* returned) override;
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) override;
  BOOL SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                        DWORD method) override;
  BOOL GetFileSizeEx(HANDLE h, LARGE_INTEGER* size) override;
  HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override;
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
  BOOL FindClose(HANDLE find) override;
  BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* name,
                                         DWORD nameSize) override;
  BOOL GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                             DWORD* serial, DWORD* maxComponent, DWORD* fsFlags, char* fsName,
                             DWORD fsNameSize) override;
  BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters) override;
  BOOL GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* total,
                           ULARGE_INTEGER* totalFree) override;
  DWORD GetLogicalDrives() override;
  UINT GetDriveTypeA(const char* root) override;
  DWORD GetTempPathA(DWORD size, char* buffer) override;
  DWORD GetFileAttributesA(const char* path) override;
  BOOL DeleteFileA(const char* path) override;
  DWORD GetLastError() override { return m_lastError; }
  void SetLastError(DWORD error) override { m_lastError = error; }

 private:
  struct Handle {
    bool volume = false;
    FakeNode* node = nullptr;
    std::vector<FakeNode*> entries;  // find handles
    size_t next = 0;
    uint64_t position = 0;
  };
  FakeNode* Lookup(const std::string& path, bool* byShortName);
  HANDLE NewHandle(Handle h);
  Handle* Get(HANDLE h);
  BOOL Fail(DWORD error) {
    m_lastError = error;
    return FALSE;
  }
  void Fill(const FakeNode& node, WIN32_FIND_DATAA* data) const;
  BOOL MoveClusters(const MOVE_FILE_DATA& move);
  std::string PathOf(const FakeNode* node) const;

  char m_letter;
  DWORD m_lastError = 0;
  std::map<uintptr_t, Handle> m_handles;
  uintptr_t m_nextHandle = 0x100;
};

}  // namespace test
}  // namespace vt
